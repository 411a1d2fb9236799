#pragma once
// A thread that repeats a run step until a stop request, and the synchronous call by which
// such a thread has a function run on the window's (main) thread.
//
// The main thread runs queued calls whenever it calls RunQueuedCalls(): the application
// wires that into its event loop through SetWakeHook (the hook is called from the queuing
// thread and must only post a wake-up); tests call RunQueuedCalls themselves.
#include <atomic>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

// The thread could not be created: "Erreur de création de thread : %s" with the system's text.
class EThread : public std::runtime_error {
 public:
  explicit EThread(const std::string& message) : std::runtime_error(message) {}
};

namespace mainthread {
// Marks the calling thread as the main thread (the first thread to call it, or the thread
// that constructs the first TLoopThread, if nobody called it before).
void Register();
bool IsCurrent();
// Called (from the queuing thread) after a call has been queued. Empty by default.
void SetWakeHook(std::function<void()> hook);
// Runs every queued call on the calling (main) thread; returns how many ran. Called from
// any other thread it runs nothing and returns 0.
int RunQueuedCalls();
// Blocks until a call is queued or `timeoutMs` passes (negative: no limit), then runs the
// queued calls. Returns how many ran.
int WaitAndRunQueuedCalls(int timeoutMs);
}  // namespace mainthread

class TLoopThread {
 public:
  TLoopThread();
  // Requests a stop and waits (running queued calls) when still running. A derived class must
  // do the same in its own destructor: once it is gone, RunStep may no longer be called.
  virtual ~TLoopThread();
  TLoopThread(const TLoopThread&) = delete;
  TLoopThread& operator=(const TLoopThread&) = delete;

  // Starts the thread. A derived class calls it at the end of its constructor, so the first
  // run step sees a fully built object. Raises EThread when the system gives no thread.
  void Start();
  // The stop request: marks the thread stopped, interrupts nothing.
  void Terminate() { terminated_.store(true); }
  bool Terminated() const { return terminated_.load(); }
  // True once the loop has ended (a stop request or a run step that raised).
  bool Finished() const { return finished_.load(); }
  // From the main thread: returns once the thread has ended, running queued synchronous
  // calls meanwhile, then joins it. From another thread it only joins.
  void WaitFor();
  // The error that ended the loop, if a run step raised; dropped otherwise (for tests).
  std::exception_ptr EndingError() const;

 protected:
  // Repeated, with nothing in between, until a stop request; raising ends the loop.
  virtual void RunStep() = 0;
  // Runs `call` on the main thread and blocks until it has run there; an exception it
  // raises is raised again here. Called on the main thread itself, it just runs `call`.
  void Synchronize(const std::function<void()>& call);

 private:
  void Loop();
  std::thread thread_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::exception_ptr endingError_;  // written by the thread before finished_ is set
};
