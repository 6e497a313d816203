#include "testing/raster_probe.h"

#include <png.h>

#include <cctype>
#include <csetjmp>
#include <cstring>

#include "testing/run_process.h"
#include "testing/temp_dir.h"

namespace vardelle::testing {

namespace {

struct Source {
  const std::string* bytes;
  size_t offset = 0;
};

void readBytes(png_structp png, png_bytep out, png_size_t length) {
  auto* source = static_cast<Source*>(png_get_io_ptr(png));
  if (source->offset + length > source->bytes->size()) png_error(png, "truncated");
  std::memcpy(out, source->bytes->data() + source->offset, length);
  source->offset += length;
}

bool decodeInto(png_structp png, png_infop info, Source* source, DecodedImage* image) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_read_fn(png, source, readBytes);
  png_read_info(png, info);
  image->width = static_cast<int>(png_get_image_width(png, info));
  image->height = static_cast<int>(png_get_image_height(png, info));
  image->bitDepth = png_get_bit_depth(png, info);
  image->colorType = png_get_color_type(png, info);
  png_uint_32 resX = 0, resY = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &resX, &resY, &unit) && unit == PNG_RESOLUTION_METER) {
    image->pixelsPerMetreX = resX;
    image->pixelsPerMetreY = resY;
  }
  int intent = 0;
  image->hasSrgbChunk = png_get_sRGB(png, info, &intent) != 0;
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
  png_read_update_info(png, info);
  const size_t rowBytes = static_cast<size_t>(image->width) * 4;
  image->rgba.resize(rowBytes * image->height);
  std::vector<png_bytep> rows(image->height);
  for (int y = 0; y < image->height; ++y) rows[y] = image->rgba.data() + rowBytes * y;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  return true;
}

}  // namespace

std::optional<DecodedImage> decodePng(const std::string& bytes) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return std::nullopt;
  png_infop info = png_create_info_struct(png);
  Source source{&bytes};
  DecodedImage image;
  bool ok = info && decodeInto(png, info, &source, &image);
  png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  if (!ok) return std::nullopt;
  return image;
}

std::optional<DecodedImage> decodePpm(const std::string& bytes) {
  size_t pos = 0;
  auto token = [&]() -> std::string {
    while (pos < bytes.size()) {
      if (bytes[pos] == '#') {
        while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
      } else if (std::isspace(static_cast<unsigned char>(bytes[pos]))) {
        ++pos;
      } else {
        break;
      }
    }
    size_t start = pos;
    while (pos < bytes.size() && !std::isspace(static_cast<unsigned char>(bytes[pos]))) ++pos;
    return bytes.substr(start, pos - start);
  };
  if (token() != "P6") return std::nullopt;
  DecodedImage image;
  image.width = std::stoi(token());
  image.height = std::stoi(token());
  if (token() != "255") return std::nullopt;
  ++pos;  // the single whitespace before the samples
  const size_t count = static_cast<size_t>(image.width) * image.height;
  if (bytes.size() < pos + count * 3) return std::nullopt;
  image.rgba.resize(count * 4);
  for (size_t i = 0; i < count; ++i) {
    std::memcpy(&image.rgba[i * 4], &bytes[pos + i * 3], 3);
    image.rgba[i * 4 + 3] = 255;
  }
  return image;
}

std::optional<DecodedImage> renderWithPoppler(const std::string& path, int page, int dpi) {
  TempDir dir;
  const std::string prefix = dir.file("page");
  ProcessOutput out = runProcess({"/usr/bin/pdftoppm", "-r", std::to_string(dpi), "-f",
                                  std::to_string(page), "-l", std::to_string(page), "-aa", "no",
                                  "-aaVector", "no", "-singlefile", path, prefix});
  if (out.exitStatus != 0) return std::nullopt;
  return decodePpm(readFile(prefix + ".ppm"));
}

}  // namespace vardelle::testing
