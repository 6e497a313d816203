#include "base/worker_threads.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <new>
#include <stdexcept>
#include <thread>

namespace vardelle {
namespace {

std::size_t stackOfThisThread() {
  pthread_attr_t attributes;
  std::size_t size = 0;
  if (::pthread_getattr_np(::pthread_self(), &attributes) == 0) {
    ::pthread_attr_getstacksize(&attributes, &size);
    ::pthread_attr_destroy(&attributes);
  }
  return size;
}

TEST(WorkerThread, WhatTheWorkThrowsReachesTheThreadThatJoins) {
  WorkerThread ran = WorkerThread::start([] {});
  ASSERT_TRUE(ran.started());
  EXPECT_NO_THROW(ran.join());
  EXPECT_FALSE(ran.started());

  // Out of memory on a worker is the run's memory failure, not std::terminate.
  WorkerThread starved = WorkerThread::start([] { throw std::bad_alloc(); });
  ASSERT_TRUE(starved.started());
  EXPECT_THROW(starved.join(), std::bad_alloc);
  WorkerThread failed = WorkerThread::start([] { throw std::runtime_error("zlib"); });
  EXPECT_THROW(failed.join(), std::runtime_error);

  // Destroyed without join: waited for, what it threw dropped.
  std::atomic<bool> finished{false};
  {
    WorkerThread slow = WorkerThread::start([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      finished = true;
      throw std::bad_alloc();
    });
  }
  EXPECT_TRUE(finished);
}

TEST(WorkerThread, RunsOnASmallStackOfItsOwn) {
  std::size_t stack = 0;
  WorkerThread worker = WorkerThread::start([&] { stack = stackOfThisThread(); });
  worker.join();
  EXPECT_EQ(stack, kWorkerStackBytes);
  std::atomic<std::size_t> detached{0};
  ASSERT_TRUE(startDetachedThread([&] { detached = stackOfThisThread(); }));
  for (int i = 0; i < 200 && detached == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(detached, kWorkerStackBytes);
}

TEST(WorkerThread, LibrariesThreadsGetTheSmallDefaultStack) {
  useSmallThreadStacks();
  std::size_t stack = 0;
  std::thread([&] { stack = stackOfThisThread(); }).join();
  EXPECT_EQ(stack, kLibraryThreadStackBytes);
}

TEST(WorkerCount, FollowsTheWorkUpToTheCoresAndTheCap) {
  const unsigned most = std::min(processorCount(), kMostWorkers);
  EXPECT_GE(processorCount(), 1u);
  EXPECT_EQ(workerCount(0, 100), 1u);
  EXPECT_EQ(workerCount(99, 100), 1u);
  EXPECT_EQ(workerCount(200, 100), std::min(2u, most));
  EXPECT_EQ(workerCount(1'000'000, 1), most);
  EXPECT_EQ(workerCount(1'000'000, 0), most);
}

}  // namespace
}  // namespace vardelle
