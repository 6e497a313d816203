#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace vardelle::artwork {

/// Compresses what is written to it into one zlib stream, a band at a time on worker threads
/// while the caller goes on producing: on a page of 16-bit samples zlib is otherwise most of the
/// time, and one thread can use only one core.
///
/// Each band is raw deflate primed with the last 32 KiB of the band before it and ended on a
/// byte boundary, so the bands join into a single stream that any inflater reads, and the bytes
/// depend only on the input and the band size, never on the threads' timing. Compressed bands
/// reach `out` in order, on the calling thread, from write() and finish().
class BandDeflate {
 public:
  using Output = std::function<void(std::string_view)>;

  /// `level` is zlib's (1 fastest … 9 smallest). `workers` is the most worker threads (0: one per
  /// core); never more than the four bands held in flight, one started for each band in flight,
  /// so a stream of a band or two starts as many. Where no thread can be had, bands are compressed
  /// on the calling thread. With `runLength`, zlib looks only
  /// for repeats of the byte before (its Z_RLE strategy): fastest, and as good as a search for
  /// rows that are already differences.
  BandDeflate(int level, Output out, std::size_t bandBytes = std::size_t(1) << 20,
              unsigned workers = 0, bool runLength = false);
  ~BandDeflate();
  BandDeflate(const BandDeflate&) = delete;
  BandDeflate& operator=(const BandDeflate&) = delete;

  void write(const unsigned char* data, std::size_t size);
  /// Ends the stream; write() may not be called after it. Throws std::bad_alloc or
  /// std::runtime_error when zlib fails, as write() may.
  void finish();
  /// The CRC-32 of everything handed to `out` (zlib header and trailer included), taken band by
  /// band on the worker threads; valid after finish().
  std::uint32_t outputCrc32() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vardelle::artwork
