// A worker thread's start decides once between the thread and its owner.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "ports/worker_start_gate.h"

namespace halvorn::streaming {
namespace {

void Count(void* runs) { static_cast<std::atomic<int>*>(runs)->fetch_add(1); }

TEST(WorkerStartGateTest, WhicheverComesFirstDecides) {
  std::atomic<int> runs{0};
  auto cancelled_first = std::make_shared<WorkerStartGate>(&Count, &runs);
  EXPECT_TRUE(cancelled_first->CancelIfNotStarted());
  EXPECT_FALSE(WorkerStartGate::Enter(cancelled_first));
  EXPECT_EQ(runs.load(), 0);

  auto entered_first = std::make_shared<WorkerStartGate>(&Count, &runs);
  EXPECT_TRUE(WorkerStartGate::Enter(entered_first));
  EXPECT_EQ(runs.load(), 1);
  EXPECT_FALSE(entered_first->CancelIfNotStarted());
}

TEST(WorkerStartGateTest, EitherTheThreadRunsOnceOrItsOwnerCancelsNeverBoth) {
  for (int attempt = 0; attempt < 2000; ++attempt) {
    std::atomic<int> runs{0};
    auto gate = std::make_shared<WorkerStartGate>(&Count, &runs);
    std::atomic<bool> entered{false};
    std::thread thread([held = gate, &entered]() mutable { entered = WorkerStartGate::Enter(std::move(held)); });
    // Cancelling after varying delays lets the thread win some of the races.
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(attempt % 200);
    while (std::chrono::steady_clock::now() < until) {
    }
    const bool cancelled = gate->CancelIfNotStarted();
    thread.join();
    ASSERT_NE(cancelled, entered.load()) << "attempt " << attempt;
    ASSERT_EQ(runs.load(), entered ? 1 : 0) << "attempt " << attempt;
    // Decided for good: a late cancel never takes back a run.
    ASSERT_FALSE(gate->CancelIfNotStarted());
  }
}

}  // namespace
}  // namespace halvorn::streaming
