// The loop thread and the main thread's queue of synchronous calls.
//
// One process-wide queue: a worker thread puts a pending call on it, calls the wake hook so
// that the main thread's event loop comes round, and blocks until the main thread has run the
// call. The main thread runs queued calls in RunQueuedCalls (from its event loop), in
// WaitAndRunQueuedCalls (loops that have no event loop of their own) and in WaitFor.
#include "platform/thread/loop_thread.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>

namespace {

struct PendingCall {
  const std::function<void()>* call = nullptr;
  bool done = false;
  std::exception_ptr error;
};

struct MainQueue {
  std::mutex mutex;                 // guards everything below
  std::condition_variable mainCv;   // main thread: a call was queued, or a thread ended
  std::condition_variable doneCv;   // queuing threads: a call has run
  std::deque<PendingCall*> calls;
  std::function<void()> wakeHook;
  bool registered = false;
  std::thread::id mainId;
};

// Never destroyed: a thread object that ends during the program's exit still finds it.
MainQueue& Queue() {
  static MainQueue* const queue = new MainQueue;
  return *queue;
}

// Waits on the main thread until a call is queued or `ready()` holds (checked under the
// queue's lock), at most `timeoutMs` (negative: no limit).
template <class Ready>
void WaitForCallsOr(int timeoutMs, Ready ready) {
  auto& q = Queue();
  std::unique_lock<std::mutex> lock(q.mutex);
  auto wake = [&] { return !q.calls.empty() || ready(); };
  if (timeoutMs < 0) {
    q.mainCv.wait(lock, wake);
  } else {
    q.mainCv.wait_for(lock, std::chrono::milliseconds(timeoutMs), wake);
  }
}

}  // namespace

namespace mainthread {

void Register() {
  auto& q = Queue();
  std::lock_guard<std::mutex> lock(q.mutex);
  if (!q.registered) {
    q.registered = true;
    q.mainId = std::this_thread::get_id();
  }
}

bool IsCurrent() {
  auto& q = Queue();
  std::lock_guard<std::mutex> lock(q.mutex);
  return q.registered && q.mainId == std::this_thread::get_id();
}

void SetWakeHook(std::function<void()> hook) {
  auto& q = Queue();
  std::lock_guard<std::mutex> lock(q.mutex);
  q.wakeHook = std::move(hook);
}

int RunQueuedCalls() {
  Register();  // the first caller becomes the main thread if nobody claimed it yet
  if (!IsCurrent()) return 0;
  auto& q = Queue();
  int ran = 0;
  for (;;) {
    PendingCall* pending = nullptr;
    {
      std::lock_guard<std::mutex> lock(q.mutex);
      if (q.calls.empty()) break;
      pending = q.calls.front();
      q.calls.pop_front();
    }
    // Outside the lock: the call may itself run queued calls (a modal loop) or queue nothing.
    std::exception_ptr error;
    try {
      (*pending->call)();
    } catch (...) {
      error = std::current_exception();
    }
    {
      // Moved, not copied: once the caller is released this thread holds no reference to
      // the exception any more, so the caller alone frees it.
      std::lock_guard<std::mutex> lock(q.mutex);
      pending->error = std::move(error);
      pending->done = true;
    }
    q.doneCv.notify_all();
    ++ran;
  }
  return ran;
}

int WaitAndRunQueuedCalls(int timeoutMs) {
  WaitForCallsOr(timeoutMs, [] { return false; });
  return RunQueuedCalls();
}

}  // namespace mainthread

TLoopThread::TLoopThread() { mainthread::Register(); }

TLoopThread::~TLoopThread() {
  if (thread_.joinable()) {
    Terminate();
    WaitFor();
  }
}

void TLoopThread::Start() {
  try {
    thread_ = std::thread([this] { Loop(); });
  } catch (const std::system_error& e) {
    throw EThread("Erreur de création de thread : " + e.code().message());
  }
}

void TLoopThread::Loop() {
  try {
    while (!terminated_.load()) RunStep();
  } catch (...) {
    endingError_ = std::current_exception();  // dropped: nobody is told
  }
  {
    // Under the queue's lock, so a main thread inside WaitFor cannot miss the change.
    std::lock_guard<std::mutex> lock(Queue().mutex);
    finished_.store(true);
  }
  Queue().mainCv.notify_all();
}

void TLoopThread::WaitFor() {
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id()) return;  // never join oneself
  if (mainthread::IsCurrent()) {
    while (!finished_.load()) {
      WaitForCallsOr(-1, [this] { return finished_.load(); });
      mainthread::RunQueuedCalls();
    }
  }
  thread_.join();
}

std::exception_ptr TLoopThread::EndingError() const {
  return finished_.load() ? endingError_ : nullptr;
}

void TLoopThread::Synchronize(const std::function<void()>& call) {
  if (mainthread::IsCurrent()) {
    call();
    return;
  }
  auto& q = Queue();
  PendingCall pending;
  pending.call = &call;
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    q.calls.push_back(&pending);
    hook = q.wakeHook;
  }
  q.mainCv.notify_all();
  if (hook) hook();
  std::unique_lock<std::mutex> lock(q.mutex);
  q.doneCv.wait(lock, [&] { return pending.done; });
  if (pending.error) std::rethrow_exception(pending.error);
}
