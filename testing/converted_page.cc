#include "testing/converted_page.h"

#include <algorithm>
#include <cstring>

namespace vardelle::testing {
namespace {

class RowsOf : public artwork::RowSource {
 public:
  RowsOf(std::shared_ptr<const artwork::Pixels> pixels, std::uint32_t rowsMade)
      : pixels_(std::move(pixels)), rowsMade_(rowsMade) {}
  void forEachRow(
      const std::function<void(uint32_t y, const unsigned char* row)>& onRow) const override {
    for (std::uint32_t y = 0; y < rowsMade_; ++y) {
      onRow(y, pixels_->bytes.data() + pixels_->rowBytes() * y);
    }
  }

 private:
  std::shared_ptr<const artwork::Pixels> pixels_;
  std::uint32_t rowsMade_;
};

}  // namespace

std::shared_ptr<artwork::Pixels> rgb16Pixels(
    std::uint32_t width, std::uint32_t height,
    const std::function<std::array<std::uint16_t, 3>(std::uint32_t x, std::uint32_t y)>& sample) {
  auto pixels = std::make_shared<artwork::Pixels>();
  pixels->width = width;
  pixels->height = height;
  pixels->bitDepth = 16;
  pixels->channels = 3;
  pixels->bytes.resize(std::size_t(width) * height * 6);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::array<std::uint16_t, 3> s = sample(x, y);
      std::memcpy(pixels->bytes.data() + (std::size_t(y) * width + x) * 6, s.data(), 6);
    }
  }
  return pixels;
}

artwork::ArtworkPage convertedPage(std::shared_ptr<artwork::Pixels> pixels, double dpi,
                                   bool streamed, std::uint32_t rowsMade) {
  artwork::PngPage png;
  png.header.width = pixels->width;
  png.header.height = pixels->height;
  png.header.bitDepth = 16;
  png.header.colorType = artwork::PngColorType::rgb;
  png.dpiX = png.dpiY = dpi;
  const artwork::Size size{pixels->width * 72.0 / dpi, pixels->height * 72.0 / dpi};
  if (streamed) {
    png.rows = std::make_shared<RowsOf>(pixels, std::min(rowsMade, pixels->height));
  } else {
    png.pixels = std::move(pixels);
  }
  return artwork::ArtworkPage{std::move(png), size};
}

}  // namespace vardelle::testing
