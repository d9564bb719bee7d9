// SPDX-License-Identifier: Apache-2.0
#include "worker.h"

#include <string>

#include "log.h"

namespace fpd {

Worker::Worker(size_t limit, Job idle, std::chrono::milliseconds idleEvery)
    : limit_(limit), idle_(std::move(idle)), idleEvery_(idleEvery), thread_([this] { Run(); }) {}

Worker::~Worker() {
  Stop();
}

bool Worker::TrySubmit(Job job) {
  {
    std::lock_guard lock(mu_);
    if (stopping_ || jobs_.size() >= limit_) return false;
    jobs_.push_back(std::move(job));
  }
  cv_.notify_one();
  return true;
}

void Worker::Stop() {
  {
    std::lock_guard lock(mu_);
    if (stopping_ && !thread_.joinable()) return;
    stopping_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

size_t Worker::Queued() const {
  std::lock_guard lock(mu_);
  return jobs_.size();
}

bool Worker::Busy() const {
  std::lock_guard lock(mu_);
  return busy_;
}

void Worker::RunGuarded(const Job& job) {
  // A job answers its own failures; one that escapes it must not end the thread that every
  // later request waits for.
  try {
    job();
  } catch (const std::exception& e) {
    ++escaped_;
    Log(LogLevel::Error, std::string("a job of the worker failed: ") + e.what());
  } catch (...) {
    ++escaped_;
    Log(LogLevel::Error, "a job of the worker failed");
  }
}

void Worker::Run() {
  std::unique_lock lock(mu_);
  bool idleDue = true;  // a first status query right at start
  for (;;) {
    if (jobs_.empty() && !stopping_ && !idleDue) {
      idleDue = !cv_.wait_for(lock, idleEvery_, [this] { return !jobs_.empty() || stopping_; });
    }
    if (!jobs_.empty()) {
      Job job = std::move(jobs_.front());
      jobs_.pop_front();
      busy_ = true;
      lock.unlock();
      RunGuarded(job);
      lock.lock();
      busy_ = false;
      // Once the queue drains, the state the last job left is looked at again.
      idleDue = jobs_.empty();
      continue;
    }
    if (stopping_) return;
    if (idleDue && idle_) {
      busy_ = true;
      lock.unlock();
      RunGuarded(idle_);
      lock.lock();
      busy_ = false;
    }
    idleDue = false;
  }
}

}  // namespace fpd
