// SPDX-License-Identifier: Apache-2.0
// The one thread that makes every driver call: a bounded first-in first-out queue of jobs, and
// an idle task run when nothing has come for a while.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace fpd {

class Worker {
 public:
  using Job = std::function<void()>;
  // idle runs on the worker thread when the queue has been empty for idleEvery, and right
  // after a job that leaves the queue empty when afterJob is set by that job (RunIdleSoon).
  Worker(size_t limit, Job idle, std::chrono::milliseconds idleEvery);
  ~Worker();  // Stop()
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Queues a job; false (and the job dropped) when limit jobs already wait or when stopped.
  bool TrySubmit(Job job);
  // Runs the remaining jobs, then ends the thread.
  void Stop();
  size_t Queued() const;
  bool Busy() const;
  size_t Limit() const { return limit_; }
  // Jobs (and idle runs) that let a failure escape; the worker goes on with the next one.
  size_t Escaped() const { return escaped_; }

 private:
  void Run();
  void RunGuarded(const Job& job);

  const size_t limit_;
  Job idle_;
  std::chrono::milliseconds idleEvery_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Job> jobs_;
  bool busy_ = false;
  bool stopping_ = false;
  std::atomic<size_t> escaped_{0};
  std::thread thread_;
};

}  // namespace fpd
