// TLoopThread and the main thread's queue of synchronous calls.
#include "platform/thread/loop_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/main_pump.h"

namespace {

using namespace std::chrono_literals;
using testnet::PumpUntil;

// A loop thread whose run step is a function; it stops and waits in its own destructor, as
// every class derived from TLoopThread must.
class StepThread final : public TLoopThread {
 public:
  explicit StepThread(std::function<void(StepThread&)> step) : step_(std::move(step)) { Start(); }
  ~StepThread() override {
    Terminate();
    WaitFor();
  }
  void Sync(const std::function<void()>& call) { Synchronize(call); }

 private:
  void RunStep() override { step_(*this); }
  std::function<void(StepThread&)> step_;
};

struct Boom : std::runtime_error {
  explicit Boom(const std::string& m) : std::runtime_error(m) {}
};

// Spins (bounded) until `flag` holds, without running queued calls.
bool SpinUntil(const std::atomic<bool>& flag) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!flag.load()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

class LoopThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mainthread::Register();
    mainId = std::this_thread::get_id();
    ASSERT_TRUE(mainthread::IsCurrent());
  }
  void TearDown() override {
    mainthread::SetWakeHook(nullptr);
    EXPECT_EQ(mainthread::RunQueuedCalls(), 0) << "a test left a call queued";
  }
  std::thread::id mainId;
};

TEST_F(LoopThreadTest, SynchronousCallRunsOnTheMainThreadAndBlocksTheCaller) {
  std::atomic<bool> queued{false};
  std::thread::id hookThread, workerThread;
  mainthread::SetWakeHook([&] {
    hookThread = std::this_thread::get_id();
    queued = true;
  });
  std::thread::id ranOn;
  std::atomic<int> returned{0};
  StepThread t([&](StepThread& self) {
    workerThread = std::this_thread::get_id();
    self.Sync([&] { ranOn = std::this_thread::get_id(); });
    ++returned;
    self.Terminate();
  });

  ASSERT_TRUE(SpinUntil(queued));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(returned, 0) << "the caller went on before its call had run";
  EXPECT_EQ(mainthread::RunQueuedCalls(), 1);
  t.WaitFor();
  EXPECT_EQ(returned, 1);
  EXPECT_EQ(ranOn, mainId);
  EXPECT_EQ(hookThread, workerThread);  // the hook is called by the queuing thread
  EXPECT_EQ(t.EndingError(), nullptr);
}

TEST_F(LoopThreadTest, AnErrorOfTheCallIsRaisedAgainInTheCallingThread) {
  std::string caught;
  StepThread t([&](StepThread& self) {
    try {
      self.Sync([] { throw Boom("boom"); });
    } catch (const Boom& e) {
      caught = e.what();
    }
    // Uncaught this time: it ends the loop.
    self.Sync([] { throw Boom("second"); });
  });
  t.WaitFor();
  EXPECT_EQ(caught, "boom");
  ASSERT_NE(t.EndingError(), nullptr);
  try {
    std::rethrow_exception(t.EndingError());
  } catch (const Boom& e) {
    EXPECT_STREQ(e.what(), "second");
  }
}

TEST_F(LoopThreadTest, WaitForRunsQueuedCallsUntilTheThreadEnds) {
  std::vector<int> order;  // touched on the main thread only
  StepThread t([&](StepThread& self) {
    for (int i = 0; i < 5; ++i) self.Sync([&, i] { order.push_back(i); });
    self.Terminate();
  });
  t.WaitFor();  // nobody else runs the calls
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_TRUE(t.Finished());
}

TEST_F(LoopThreadTest, StopRequestIsSeenBetweenRunStepsOnly) {
  std::atomic<int> steps{0};
  std::atomic<bool> inStep{false}, release{false};
  std::atomic<bool> sawStopInside{false};
  StepThread t([&](StepThread& self) {
    ++steps;
    inStep = true;
    SpinUntil(release);
    sawStopInside = self.Terminated();
  });
  ASSERT_TRUE(SpinUntil(inStep));
  t.Terminate();
  EXPECT_FALSE(t.Finished());  // the step in progress is not interrupted
  release = true;
  t.WaitFor();
  EXPECT_TRUE(sawStopInside);
  EXPECT_EQ(steps, 1);
  EXPECT_EQ(t.EndingError(), nullptr);
}

TEST_F(LoopThreadTest, RunStepsRepeatUntilOneRaises) {
  std::atomic<int> steps{0};
  StepThread t([&](StepThread&) {
    if (++steps == 3) throw Boom("third step");
  });
  t.WaitFor();
  EXPECT_EQ(steps, 3);
  EXPECT_TRUE(t.Finished());
  ASSERT_NE(t.EndingError(), nullptr);
  EXPECT_THROW(std::rethrow_exception(t.EndingError()), Boom);
}

TEST_F(LoopThreadTest, SynchronousCallFromTheMainThreadRunsAtOnce) {
  std::atomic<bool> stop{false};
  StepThread t([&](StepThread& self) {
    if (stop) self.Terminate();
    std::this_thread::sleep_for(1ms);
  });
  int ran = 0;
  t.Sync([&] { ++ran; });  // called here, on the main thread
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(mainthread::RunQueuedCalls(), 0);
  stop = true;
  t.WaitFor();
}

TEST_F(LoopThreadTest, OnlyTheMainThreadRunsQueuedCalls) {
  std::atomic<bool> queued{false};
  mainthread::SetWakeHook([&] { queued = true; });
  std::atomic<bool> ran{false};
  StepThread t([&](StepThread& self) {
    self.Sync([&] { ran = true; });
    self.Terminate();
  });
  ASSERT_TRUE(SpinUntil(queued));
  int ranElsewhere = -1;
  std::thread other([&] { ranElsewhere = mainthread::RunQueuedCalls(); });
  other.join();
  EXPECT_EQ(ranElsewhere, 0);
  EXPECT_FALSE(ran);
  EXPECT_TRUE(mainthread::IsCurrent());
  EXPECT_TRUE(PumpUntil([&] { return ran.load(); }));
  t.WaitFor();
}

TEST_F(LoopThreadTest, WaitAndRunQueuedCallsTimesOutWhenNothingComes) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(mainthread::WaitAndRunQueuedCalls(50), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 40ms);
}

TEST_F(LoopThreadTest, WaitAndRunQueuedCallsWakesForACall) {
  std::atomic<bool> ran{false};
  StepThread t([&](StepThread& self) {
    std::this_thread::sleep_for(20ms);
    self.Sync([&] { ran = true; });
    self.Terminate();
  });
  int total = 0;
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (total == 0 && std::chrono::steady_clock::now() < deadline) {
    total += mainthread::WaitAndRunQueuedCalls(-1 /* no limit: the call is sure to come */);
  }
  EXPECT_EQ(total, 1);
  EXPECT_TRUE(ran);
  t.WaitFor();
}

TEST_F(LoopThreadTest, ManyThreadsCallingAtOnceAllGetTheirTurn) {
  constexpr int kThreads = 4, kCalls = 50;
  int counter = 0;  // main thread only: a race here is reported by ThreadSanitizer
  std::vector<std::unique_ptr<StepThread>> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.push_back(std::make_unique<StepThread>([&](StepThread& self) {
      for (int c = 0; c < kCalls; ++c) self.Sync([&] { ++counter; });
      self.Terminate();
    }));
  }
  for (auto& t : threads) t->WaitFor();
  EXPECT_EQ(counter, kThreads * kCalls);
}

TEST_F(LoopThreadTest, ACallMayRunQueuedCallsItself) {
  // A call that runs a modal loop (a message box, say): other threads' calls run inside it.
  std::atomic<bool> innerRan{false};
  StepThread outer([&](StepThread& self) {
    self.Sync([&] { EXPECT_TRUE(PumpUntil([&] { return innerRan.load(); })); });
    self.Terminate();
  });
  StepThread inner([&](StepThread& self) {
    std::this_thread::sleep_for(20ms);
    self.Sync([&] { innerRan = true; });
    self.Terminate();
  });
  outer.WaitFor();
  inner.WaitFor();
  EXPECT_TRUE(innerRan);
}

TEST_F(LoopThreadTest, DestroyingARunningThreadStopsItAndRunsItsPendingCall) {
  int delivered = 0;
  {
    StepThread t([&](StepThread& self) { self.Sync([&] { ++delivered; }); });
    EXPECT_TRUE(PumpUntil([&] { return delivered >= 2; }));
  }  // its destructor: stop request, then a wait that runs the call it is blocked in
  EXPECT_GE(delivered, 2);
}

}  // namespace
