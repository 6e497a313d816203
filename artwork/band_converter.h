#pragma once

// Converting rows to a printer profile a band at a time, shared by PNG and PDF pages.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "artwork/color_managed.h"
#include "artwork/png_image.h"
#include "base/print_failure.h"
#include "base/worker_threads.h"
#include "color/managed_conversion.h"

namespace vardelle::artwork {

inline constexpr const char* kRasterFailed =
    "Could not allocate the 16-bit color-conversion image.";
inline constexpr const char* kImageFailed = "Could not create the converted printer-profile image.";

// Rows handed to the engine at a time: large enough to keep every core busy, small enough that
// the staging buffer stays a few megabytes beside the page.
inline constexpr std::size_t kBandBytes = 8u << 20;

inline std::uint32_t bandRows(std::uint32_t width, int components) {
  const std::size_t rowBytes = std::size_t(width) * components * 2;
  return static_cast<std::uint32_t>(
      std::max<std::size_t>(1, kBandBytes / std::max<std::size_t>(rowBytes, 1)));
}

/// The converted page's samples: width × height packed 16-bit RGB (every sample is written).
inline std::shared_ptr<Pixels> convertedBuffer(RasterSize size) {
  auto pixels = std::make_shared<Pixels>();
  pixels->width = size.width;
  pixels->height = size.height;
  pixels->bitDepth = 16;
  pixels->channels = 3;
  pixels->hasAlpha = false;
  try {
    pixels->bytes.resize(std::size_t(size.width) * size.height * 6);
  } catch (const std::bad_alloc&) {
    throw PrintFailure(kImageFailed);
  }
  return pixels;
}

/// Feeds source rows to the transform a band at a time, writing converted rows into `out`, or,
/// without one, handing each converted row to `emit` from a band-sized buffer. A full band is
/// converted on threads of its own while the caller stages the next one and the band before is
/// handed on, so that decoding, converting and what is done with the rows overlap.
class BandConverter {
 public:
  using Emit = std::function<void(std::uint32_t y, const unsigned char* row)>;

  BandConverter(const color::PageTransform& transform, Pixels& out)
      : BandConverter(transform, out.width, &out, {}) {}
  BandConverter(const color::PageTransform& transform, std::uint32_t width, Emit emit)
      : BandConverter(transform, width, nullptr, std::move(emit)) {}
  // The worker, declared last, is joined first.
  ~BandConverter() = default;
  BandConverter(const BandConverter&) = delete;
  BandConverter& operator=(const BandConverter&) = delete;

  /// The staging row for source row `y` (rows must come in order from the top).
  std::uint16_t* row(std::uint32_t y) {
    if (y - first_ >= rows_) next();
    filled_ = y - first_ + 1;
    return staged_.data() + std::size_t(y - first_) * width_ * components_;
  }

  /// Converts what is staged and hands on every row converted so far.
  void flush() {
    next();
    next();
  }

 private:
  BandConverter(const color::PageTransform& transform, std::uint32_t width, Pixels* out, Emit emit)
      : transform_(transform),
        out_(out),
        emit_(std::move(emit)),
        width_(width),
        components_(transform.sourceComponents()),
        rows_(bandRows(width, components_)) {
    try {
      staged_.assign(std::size_t(rows_) * width * components_, 65535);
      converting_.assign(staged_.size(), 65535);
      if (!out_) {
        for (auto& buffer : converted_) buffer.assign(std::size_t(rows_) * width * 3, 65535);
      }
    } catch (const std::bad_alloc&) {
      throw PrintFailure(kRasterFailed);
    }
  }

  struct Band {
    std::uint32_t first = 0;
    std::uint32_t rows = 0;
    int buffer = 0;
  };

  // Throws what the conversion threw (std::bad_alloc).
  void wait() { worker_.join(); }

  // Waits for the band being converted, starts converting the staged one, then hands on the
  // rows of the one that finished.
  void next() {
    wait();
    const Band finished = convertingBand_;
    convertingBand_ = {};
    if (filled_ > 0) {
      std::swap(staged_, converting_);
      convertingBand_ = {first_, filled_, 1 - finished.buffer};
      first_ += filled_;
      filled_ = 0;
      std::uint16_t* destination = out_ ? reinterpret_cast<std::uint16_t*>(out_->bytes.data()) +
                                              std::size_t(convertingBand_.first) * width_ * 3
                                        : converted_[convertingBand_.buffer].data();
      auto convert = [this, destination, rows = convertingBand_.rows] {
        transform_.convert(converting_.data(), std::size_t(width_) * components_, destination,
                           std::size_t(width_) * 3, width_, rows);
      };
      worker_ = WorkerThread::start(convert);
      if (!worker_.started()) convert();
    }
    if (out_) return;
    const std::uint16_t* rows = converted_[finished.buffer].data();
    for (std::uint32_t r = 0; r < finished.rows; ++r) {
      emit_(finished.first + r,
            reinterpret_cast<const unsigned char*>(rows + std::size_t(r) * width_ * 3));
    }
  }

  const color::PageTransform& transform_;
  Pixels* out_;
  Emit emit_;
  std::uint32_t width_;
  int components_;
  std::uint32_t rows_;
  std::uint32_t first_ = 0;
  std::uint32_t filled_ = 0;
  std::vector<std::uint16_t> staged_;
  std::vector<std::uint16_t> converting_;
  std::vector<std::uint16_t> converted_[2];
  Band convertingBand_;
  WorkerThread worker_;
};

}  // namespace vardelle::artwork
