#include "artwork/band_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <stdexcept>
#include <vector>

#include "base/worker_threads.h"

namespace vardelle::artwork {

namespace {

// Deflate looks back at most this far, so a band primed with it compresses as if it had not
// been cut.
constexpr std::size_t kWindow = 32 * 1024;
// Bands submitted and not yet handed on, on any machine: the memory they hold (an input and an
// output buffer each) is the same whatever the cores, and a raster reaches its file while it is
// still being made. Two workers keep busy with four bands, and more than four have nothing to do.
constexpr std::size_t kBandsInFlight = 4;

struct Band {
  std::vector<unsigned char> input;
  std::vector<unsigned char> dictionary;
  bool last = false;

  std::size_t inputLength = 0;
  std::vector<unsigned char> output;  // its first `outputLength` bytes are the band's
  std::size_t outputLength = 0;
  uLong adler = 0;
  uLong crc = 0;  // of the output
  bool done = false;
  std::exception_ptr error;
};

class Deflater {
 public:
  Deflater(int level, int strategy) {
    // Raw deflate (negative window bits): the one zlib header and trailer are written around
    // all the bands.
    const int result = deflateInit2(&stream_, level, Z_DEFLATED, -15, 8, strategy);
    if (result == Z_MEM_ERROR) throw std::bad_alloc();
    if (result != Z_OK) throw std::runtime_error("zlib refused the compression settings");
  }
  ~Deflater() { deflateEnd(&stream_); }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;
  z_stream* get() { return &stream_; }

 private:
  z_stream stream_{};
};

void compress(Band& band, int level, int strategy) {
  Deflater deflater(level, strategy);
  z_stream* zs = deflater.get();
  if (!band.dictionary.empty() &&
      deflateSetDictionary(zs, band.dictionary.data(), uInt(band.dictionary.size())) != Z_OK) {
    throw std::runtime_error("zlib refused the preceding band as a dictionary");
  }
  // A sync flush ends the band on a byte boundary with an empty stored block; the last band
  // ends the stream instead. The output buffer is one used before when there is one: it only
  // grows, so it is not cleared again.
  const std::size_t bound = deflateBound(zs, uLong(band.input.size())) + 64;
  if (band.output.size() < bound) band.output.resize(bound);
  zs->next_in = band.input.data();
  zs->avail_in = uInt(band.input.size());
  zs->next_out = band.output.data();
  zs->avail_out = uInt(band.output.size());
  const int flush = band.last ? Z_FINISH : Z_SYNC_FLUSH;
  for (;;) {
    if (zs->avail_out == 0) {
      const std::size_t used = band.output.size();
      band.output.resize(used * 2);
      zs->next_out = band.output.data() + used;
      zs->avail_out = uInt(band.output.size() - used);
    }
    const int result = deflate(zs, flush);
    if (result == Z_STREAM_ERROR) throw std::runtime_error("zlib failed to compress a band");
    if (band.last ? result == Z_STREAM_END : zs->avail_in == 0 && zs->avail_out != 0) break;
  }
  band.outputLength = band.output.size() - zs->avail_out;
  band.adler = adler32(adler32(0, nullptr, 0), band.input.data(), uInt(band.input.size()));
  band.crc = crc32(crc32(0, nullptr, 0), band.output.data(), uInt(band.outputLength));
  std::vector<unsigned char>().swap(band.dictionary);
}

}  // namespace

struct BandDeflate::Impl {
  int level;
  int strategy = Z_DEFAULT_STRATEGY;
  Output out;
  std::size_t bandBytes;

  std::mutex lock;
  std::condition_variable work;
  std::condition_variable ready;
  std::deque<std::shared_ptr<Band>> waiting;  // for a worker, guarded by lock
  bool stopping = false;                      // guarded by lock
  // Buffers of finished bands, used again: a fresh megabyte for every band cost a page fault
  // for every 4 KiB of it.
  std::vector<std::vector<unsigned char>> spareInputs;   // guarded by lock
  std::vector<std::vector<unsigned char>> spareOutputs;  // guarded by lock
  unsigned mostWorkers = 1;
  std::vector<WorkerThread> threads;

  // The calling thread's side.
  std::deque<std::shared_ptr<Band>> inOrder;  // submitted, not yet handed to `out`
  std::vector<unsigned char> current;
  std::vector<unsigned char> tail;  // the last kWindow bytes submitted
  uLong adler = 1;
  uLong crc = crc32(0, nullptr, 0);  // of everything handed to `out`
  bool started = false;
  bool finished = false;

  void workerLoop() {
    for (;;) {
      std::shared_ptr<Band> band;
      {
        std::unique_lock<std::mutex> guard(lock);
        work.wait(guard, [&] { return stopping || !waiting.empty(); });
        if (stopping) return;
        band = std::move(waiting.front());
        waiting.pop_front();
      }
      std::exception_ptr error;
      try {
        compress(*band, level, strategy);
      } catch (...) {
        error = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> guard(lock);
        band->error = error;
        band->done = true;
        // The next band kept the tail of this one's input as a copy. Without the memory to keep
        // the buffer it is simply dropped.
        band->input.clear();
        try {
          spareInputs.push_back(std::move(band->input));
        } catch (const std::bad_alloc&) {
        }
      }
      ready.notify_all();
    }
  }

  void submit(bool last) {
    auto band = std::make_shared<Band>();
    band->last = last;
    band->dictionary = tail;
    const std::size_t keep = std::min(kWindow, current.size());
    if (keep == kWindow) {
      tail.assign(current.end() - std::ptrdiff_t(keep), current.end());
    } else {
      // Bands smaller than the window: the window spans several of them.
      tail.insert(tail.end(), current.begin(), current.end());
      if (tail.size() > kWindow) tail.erase(tail.begin(), tail.end() - std::ptrdiff_t(kWindow));
    }
    band->inputLength = current.size();
    band->input = std::move(current);
    current = {};
    {
      std::lock_guard<std::mutex> guard(lock);
      if (!last && !spareInputs.empty()) {
        current = std::move(spareInputs.back());
        spareInputs.pop_back();
      }
      if (!spareOutputs.empty()) {
        band->output = std::move(spareOutputs.back());
        spareOutputs.pop_back();
      }
    }
    if (!last) current.reserve(bandBytes);
    inOrder.push_back(band);
    // A worker for each band in flight, up to the most: a small raster starts few.
    if (threads.size() < mostWorkers && threads.size() < inOrder.size()) {
      WorkerThread worker = WorkerThread::start([this] { workerLoop(); });
      if (worker.started()) {
        threads.push_back(std::move(worker));
      } else {
        mostWorkers = unsigned(threads.size());  // no more to be had
      }
    }
    if (threads.empty()) {
      compress(*band, level, strategy);
      band->done = true;
      band->input.clear();
      spareInputs.push_back(std::move(band->input));
    } else {
      {
        std::lock_guard<std::mutex> guard(lock);
        waiting.push_back(std::move(band));
      }
      work.notify_one();
    }
  }

  void emit(const unsigned char* bytes, std::size_t size) {
    out({reinterpret_cast<const char*>(bytes), size});
    crc = crc32(crc, bytes, uInt(size));
  }

  // Hands finished bands to `out` in order; with `all`, waits for every band, otherwise only
  // until no more than kBandsInFlight are, which bounds the memory held.
  void drain(bool all) {
    const std::size_t limit = all ? 0 : kBandsInFlight;
    while (!inOrder.empty()) {
      std::shared_ptr<Band> head = inOrder.front();
      {
        std::unique_lock<std::mutex> guard(lock);
        if (!head->done) {
          if (inOrder.size() <= limit) return;
          ready.wait(guard, [&] { return head->done; });
        }
      }
      inOrder.pop_front();
      if (head->error) std::rethrow_exception(head->error);
      if (!started) {
        // CMF: deflate with a 32 KiB window; FLG: the level's class, and the check bits that
        // make the pair a multiple of 31.
        const unsigned cmf = 0x78;
        const unsigned flevel = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
        unsigned flg = flevel << 6;
        flg += 31 - (cmf * 256 + flg) % 31;
        const unsigned char header[2] = {static_cast<unsigned char>(cmf),
                                         static_cast<unsigned char>(flg)};
        emit(header, 2);
        started = true;
      }
      out({reinterpret_cast<const char*>(head->output.data()), head->outputLength});
      crc = crc32_combine(crc, head->crc, z_off_t(head->outputLength));
      {
        std::lock_guard<std::mutex> guard(lock);
        spareOutputs.push_back(std::move(head->output));
      }
      // Combined in stream order: the trailer is the checksum of everything written.
      adler = adler32_combine(adler, head->adler, z_off_t(head->inputLength));
    }
  }
};

BandDeflate::BandDeflate(int level, Output out, std::size_t bandBytes, unsigned workers,
                         bool runLength)
    : impl_(std::make_unique<Impl>()) {
  impl_->level = level;
  impl_->strategy = runLength ? Z_RLE : Z_DEFAULT_STRATEGY;
  impl_->out = std::move(out);
  impl_->bandBytes = std::max<std::size_t>(bandBytes, 1);
  impl_->current.reserve(impl_->bandBytes);
  impl_->mostWorkers = unsigned(std::min<std::size_t>(
      workers == 0 ? workerCount(kBandsInFlight, 1) : workers, kBandsInFlight));
  // Room for every worker now: a worker that started could not be kept and then never stop.
  impl_->threads.reserve(impl_->mostWorkers);
}

BandDeflate::~BandDeflate() {
  {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->stopping = true;
  }
  impl_->work.notify_all();
  // A worker's loop keeps its failures with its band, so nothing is left for join to throw.
  impl_->threads.clear();
}

void BandDeflate::write(const unsigned char* data, std::size_t size) {
  if (impl_->finished) throw std::logic_error("the compressed stream has been finished");
  while (size > 0) {
    const std::size_t take = std::min(size, impl_->bandBytes - impl_->current.size());
    impl_->current.insert(impl_->current.end(), data, data + take);
    data += take;
    size -= take;
    if (impl_->current.size() == impl_->bandBytes) {
      impl_->submit(false);
      impl_->drain(false);
    }
  }
}

void BandDeflate::finish() {
  if (impl_->finished) return;
  impl_->finished = true;
  impl_->submit(true);
  impl_->drain(true);
  const uLong a = impl_->adler;
  const unsigned char trailer[4] = {
      static_cast<unsigned char>(a >> 24), static_cast<unsigned char>(a >> 16),
      static_cast<unsigned char>(a >> 8), static_cast<unsigned char>(a)};
  impl_->emit(trailer, 4);
}

std::uint32_t BandDeflate::outputCrc32() const { return std::uint32_t(impl_->crc); }

}  // namespace vardelle::artwork
