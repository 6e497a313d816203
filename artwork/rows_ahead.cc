#include "artwork/rows_ahead.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <vector>

#include "base/worker_threads.h"

namespace vardelle::artwork {

namespace {

constexpr std::size_t kBatchBytes = std::size_t(1) << 20;
constexpr std::size_t kBatches = 4;

struct Batch {
  std::uint32_t firstRow = 0;
  std::size_t rows = 0;
  std::vector<unsigned char> bytes;
};

// Thrown on the producing thread to unwind `produce` once the consumer has stopped.
struct Stopped {};

struct Handover {
  std::mutex lock;
  std::condition_variable changed;
  std::deque<std::unique_ptr<Batch>> full;  // in row order
  std::vector<std::unique_ptr<Batch>> empty;
  bool produced = false;  // the producer has handed over its last batch or failed
  bool stopped = false;   // the consumer wants no more rows
  std::exception_ptr error;

  std::unique_ptr<Batch> takeEmpty() {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [&] { return stopped || !empty.empty(); });
    if (stopped) throw Stopped{};
    std::unique_ptr<Batch> batch = std::move(empty.back());
    empty.pop_back();
    return batch;
  }

  void handOver(std::unique_ptr<Batch> batch) {
    {
      std::lock_guard<std::mutex> guard(lock);
      full.push_back(std::move(batch));
    }
    changed.notify_all();
  }
};

}  // namespace

void forEachRowAhead(std::size_t rowBytes, const std::function<void(const RowCallback&)>& produce,
                     const RowCallback& onRow) {
  Handover handover;
  const std::size_t batchRows =
      std::max<std::size_t>(1, kBatchBytes / std::max<std::size_t>(rowBytes, 1));
  for (std::size_t i = 0; i < kBatches; ++i) {
    auto batch = std::make_unique<Batch>();
    batch->bytes.resize(batchRows * rowBytes);
    handover.empty.push_back(std::move(batch));
  }

  auto producer = [&] {
    std::unique_ptr<Batch> batch;
    std::exception_ptr error;
    try {
      produce([&](std::uint32_t y, const unsigned char* row) {
        // A batch holds consecutive rows.
        if (batch && y != batch->firstRow + batch->rows) handover.handOver(std::move(batch));
        if (!batch) {
          batch = handover.takeEmpty();
          batch->firstRow = y;
          batch->rows = 0;
        }
        std::copy(row, row + rowBytes, batch->bytes.data() + batch->rows * rowBytes);
        if (++batch->rows == batchRows) handover.handOver(std::move(batch));
      });
      if (batch) handover.handOver(std::move(batch));
    } catch (const Stopped&) {
    } catch (...) {
      error = std::current_exception();
    }
    if (error && batch) {
      // The rows made before the failure still arrive, as they would without the thread, when
      // there is the memory to hand them over.
      try {
        handover.handOver(std::move(batch));
      } catch (const std::bad_alloc&) {
      }
    }
    {
      // Whatever failed, the consumer hears that nothing more comes.
      std::lock_guard<std::mutex> guard(handover.lock);
      if (error) handover.error = error;
      handover.produced = true;
    }
    handover.changed.notify_all();
  };

  WorkerThread thread = WorkerThread::start(producer);
  if (!thread.started()) {
    produce(onRow);
    return;
  }
  // The producer is stopped and joined however this ends; it keeps its own failures.
  struct Join {
    Handover& handover;
    WorkerThread& thread;
    ~Join() {
      {
        std::lock_guard<std::mutex> guard(handover.lock);
        handover.stopped = true;
      }
      handover.changed.notify_all();
      thread = WorkerThread();
    }
  } join{handover, thread};

  for (;;) {
    std::unique_ptr<Batch> batch;
    {
      std::unique_lock<std::mutex> guard(handover.lock);
      handover.changed.wait(guard, [&] { return handover.produced || !handover.full.empty(); });
      if (handover.full.empty()) break;
      batch = std::move(handover.full.front());
      handover.full.pop_front();
    }
    for (std::size_t r = 0; r < batch->rows; ++r) {
      onRow(batch->firstRow + std::uint32_t(r), batch->bytes.data() + r * rowBytes);
    }
    {
      std::lock_guard<std::mutex> guard(handover.lock);
      handover.empty.push_back(std::move(batch));
    }
    handover.changed.notify_all();
  }
  if (handover.error) std::rethrow_exception(handover.error);
}

}  // namespace vardelle::artwork
