#include "artwork/png_image.h"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <system_error>

#include "artwork/artwork.h"
#include "artwork/rows_ahead.h"
#include "base/file_descriptor.h"
#include "base/print_failure.h"

namespace vardelle::artwork {

namespace {

constexpr uint32_t kMaxColorChunkLength = 128u * 1024u * 1024u;
constexpr int kColorScanChunkLimit = 10000;
// Enough for files with very many small IDAT chunks; a hostile file costs at most this many
// 8-byte reads.
constexpr int kOrientationScanChunkLimit = 1000000;
constexpr uint32_t kMaxExifLength = 16u * 1024u * 1024u;

[[noreturn]] void throwSystemError(const std::string& path) {
  throw PlatformError("Could not read \xE2\x80\x9C" + path +
                      "\xE2\x80\x9D: " + std::strerror(errno) + ".");
}

// Reads up to `size` bytes at `offset`; fewer only at the end of the file.
size_t readAt(int fd, void* buffer, size_t size, uint64_t offset, const std::string& path) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd, static_cast<char*>(buffer) + done, size - done, off_t(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throwSystemError(path);
    }
    if (n == 0) break;
    done += size_t(n);
  }
  return done;
}

uint32_t bigEndian32(const unsigned char* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

bool named(const unsigned char* header, const char* name) {
  return std::memcmp(header + 4, name, 4) == 0;
}

struct FileCloser {
  void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// libpng reports errors through a callback that must not return; it jumps back to the setjmp in
// the calls below, which hold no C++ objects, so nothing is skipped on the way.
void onPngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void onPngWarning(png_structp, png_const_charp) {}

class PngReader {
 public:
  explicit PngReader(std::FILE* file) {
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, onPngError, onPngWarning);
    // libpng allocates an eXIf chunk at the length the file claims before reading a byte of it,
    // past any chunk limit (a 5 × 2 picture claiming 2 GB took 2 GB). The orientation is read
    // from the chunk by this file's own scan, so libpng skips it.
    static constexpr png_byte kExif[] = {'e', 'X', 'I', 'f', '\0'};
    if (png_) png_set_keep_unknown_chunks(png_, PNG_HANDLE_CHUNK_NEVER, kExif, 1);
    if (png_) info_ = png_create_info_struct(png_);
    if (png_) png_init_io(png_, file);
  }
  ~PngReader() { png_destroy_read_struct(&png_, info_ ? &info_ : nullptr, nullptr); }
  PngReader(const PngReader&) = delete;
  PngReader& operator=(const PngReader&) = delete;

  bool ok() const { return png_ && info_; }
  png_structp png() const { return png_; }
  png_infop info() const { return info_; }

 private:
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

bool readInfo(png_structp png, png_infop info) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  return true;
}

bool readRows(png_structp png, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  return true;
}

bool setUpTransforms(png_structp png, png_infop info) {
  if (setjmp(png_jmpbuf(png))) return false;
  const int colorType = png_get_color_type(png, info);
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if ((colorType & PNG_COLOR_MASK_COLOR) == 0 && png_get_bit_depth(png, info) < 8) {
    png_set_expand_gray_1_2_4_to_8(png);
  }
  if (png_get_bit_depth(png, info) == 16 && std::endian::native == std::endian::little) {
    png_set_swap(png);
  }
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  return true;
}

PngHeader headerOf(png_structp png, png_infop info) {
  PngHeader h;
  h.width = png_get_image_width(png, info);
  h.height = png_get_image_height(png, info);
  h.bitDepth = png_get_bit_depth(png, info);
  h.colorType = PngColorType(png_get_color_type(png, info));
  h.hasAlpha = (h.colorType == PngColorType::grayAlpha || h.colorType == PngColorType::rgbAlpha ||
                png_get_valid(png, info, PNG_INFO_tRNS) != 0);
  h.interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
  return h;
}

bool sameLayout(const PngHeader& a, const PngHeader& b) {
  return a.width == b.width && a.height == b.height && a.bitDepth == b.bitDepth &&
         a.colorType == b.colorType && a.hasAlpha == b.hasAlpha;
}

File openForPng(const std::string& path) {
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) throw PrintFailure(kPngUnreadable);
  return file;
}

// Writers cut the image data into IDAT chunks of one size (libpng: 8 KiB), so a 100-megapixel
// image has some ten thousand of them, and reading every header cost more than everything else
// `inspect` does. From the IDAT at `offset`, this gallops over the following chunks that have the
// same header, probing one header per jump, and returns how many such chunks follow. IDAT chunks
// must be consecutive, so nothing that matters can stand between them; a probe can only be fooled
// by image data that happens to repeat the 8-byte header exactly at a chunk stride.
uint64_t uniformImageDataRun(int fd, uint64_t offset, uint32_t length, const std::string& path) {
  const uint64_t stride = 12 + uint64_t(length);
  auto sameHeaderAt = [&](uint64_t index) {
    unsigned char probe[8];
    return readAt(fd, probe, 8, offset + index * stride, path) == 8 &&
           bigEndian32(probe) == length && named(probe, "IDAT");
  };
  uint64_t confirmed = 0;
  uint64_t step = 1;
  while (true) {
    if (sameHeaderAt(confirmed + step)) {
      confirmed += step;
      step *= 2;
    } else if (step == 1) {
      return confirmed;
    } else {
      step = 1;
    }
  }
}

}  // namespace

std::optional<int> exifOrientation(const unsigned char* data, size_t size) {
  // Some writers keep the "Exif\0\0" prefix of the JPEG segment inside eXIf.
  if (size >= 6 && std::memcmp(data, "Exif\0\0", 6) == 0) {
    data += 6;
    size -= 6;
  }
  if (size < 8) return std::nullopt;
  bool little;
  if (std::memcmp(data, "II*\0", 4) == 0) {
    little = true;
  } else if (std::memcmp(data, "MM\0*", 4) == 0) {
    little = false;
  } else {
    return std::nullopt;
  }
  auto u16 = [&](size_t at) -> uint32_t {
    return little ? uint32_t(data[at]) | uint32_t(data[at + 1]) << 8
                  : uint32_t(data[at]) << 8 | uint32_t(data[at + 1]);
  };
  auto u32 = [&](size_t at) -> uint32_t {
    return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
  };
  const uint64_t ifd = u32(4);
  if (ifd + 2 > size) return std::nullopt;
  const uint32_t entries = u16(size_t(ifd));
  for (uint32_t i = 0; i < entries; ++i) {
    const uint64_t entry = ifd + 2 + uint64_t(i) * 12;
    if (entry + 12 > size) return std::nullopt;
    if (u16(size_t(entry)) != 0x0112) continue;
    const uint32_t type = u16(size_t(entry + 2));
    const uint32_t count = u32(size_t(entry + 4));
    if (count < 1) return std::nullopt;
    if (type == 3) return int(u16(size_t(entry + 8)));                                  // SHORT
    if (type == 4) return int(std::min<uint32_t>(u32(size_t(entry + 8)), 0x7fffffff));  // LONG
    return std::nullopt;
  }
  return std::nullopt;
}

PngChunkScan scanPngChunks(const std::string& path) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throwSystemError(path);
  PngChunkScan scan;
  bool beforeImageData = true;
  uint64_t offset = 8;  // past the signature, which libpng checks
  for (int count = 1; count <= kOrientationScanChunkLimit; ++count) {
    unsigned char header[8];
    if (readAt(fd.get(), header, 8, offset, path) < 8) break;
    const uint32_t length = bigEndian32(header);
    if (named(header, "IEND")) break;
    if (named(header, "IDAT")) beforeImageData = false;
    if (beforeImageData && count <= kColorScanChunkLimit) {
      if (named(header, "iCCP") || named(header, "sRGB") || named(header, "gAMA") ||
          named(header, "cHRM")) {
        scan.colorMetadataSeen = true;
      }
      if (length > kMaxColorChunkLength) {
        scan.oversizedChunk = true;
        break;
      }
    }
    if (length > 0x7fffffffu) break;  // not a chunk: the rest of the file is not PNG structure
    if (!scan.orientation && named(header, "eXIf") && length <= kMaxExifLength) {
      std::vector<unsigned char> data(length);
      if (readAt(fd.get(), data.data(), length, offset + 8, path) == length) {
        scan.orientation = exifOrientation(data.data(), data.size());
        // An eXIf without an orientation tag still counts as the one eXIf of the file.
        if (!scan.orientation) scan.orientation = 1;
      }
    }
    if (!beforeImageData && named(header, "IDAT")) {
      const uint64_t skipped = uniformImageDataRun(fd.get(), offset, length, path);
      offset += skipped * (12 + uint64_t(length));
      count += int(std::min<uint64_t>(skipped, kOrientationScanChunkLimit));
    }
    offset += 8 + uint64_t(length) + 4;
  }
  return scan;
}

bool pngDataPassesThrough(const PngHeader& header) {
  return !header.interlaced && !header.hasAlpha &&
         (header.colorType == PngColorType::gray || header.colorType == PngColorType::rgb) &&
         (header.bitDepth == 8 || header.bitDepth == 16);
}

std::string readPngImageData(const std::string& path, const PngHeader& expected) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throwSystemError(path);
  unsigned char signature[8];
  if (readAt(fd.get(), signature, 8, 0, path) != 8 || png_sig_cmp(signature, 0, 8) != 0) {
    throw PrintFailure(kPngUnreadable);
  }
  std::string data;
  std::vector<unsigned char> chunk;
  uint64_t offset = 8;
  bool headerSeen = false;
  while (true) {
    unsigned char header[8];
    if (readAt(fd.get(), header, 8, offset, path) != 8) throw PrintFailure(kPngUnreadable);
    const uint32_t length = bigEndian32(header);
    if (length > 0x7fffffffu) throw PrintFailure(kPngUnreadable);
    // Type, data and CRC; the CRC covers type and data.
    chunk.resize(size_t(length) + 8);
    if (readAt(fd.get(), chunk.data(), chunk.size(), offset + 4, path) != chunk.size() ||
        crc32_z(0, chunk.data(), size_t(length) + 4) != bigEndian32(chunk.data() + length + 4)) {
      throw PrintFailure(kPngUnreadable);
    }
    const unsigned char* body = chunk.data() + 4;
    if (named(header, "IHDR")) {
      // The file may have been replaced since it was measured; never draw it at another size.
      if (length != 13 || bigEndian32(body) != expected.width ||
          bigEndian32(body + 4) != expected.height || body[8] != expected.bitDepth ||
          body[9] != int(expected.colorType) || body[12] != 0) {
        throw PrintFailure(kPngUnreadable);
      }
      headerSeen = true;
    } else if (!headerSeen || named(header, "tRNS")) {
      throw PrintFailure(kPngUnreadable);
    } else if (named(header, "IDAT")) {
      data.append(reinterpret_cast<const char*>(body), length);
    } else if (named(header, "IEND")) {
      break;
    }
    offset += 12 + uint64_t(length);
  }
  if (data.empty()) throw PrintFailure(kPngUnreadable);
  return data;
}

PngMetadata readPngMetadata(const std::string& path) {
  PngMetadata meta;
  File file = openForPng(path);
  unsigned char signature[8];
  if (std::fread(signature, 1, 8, file.get()) != 8 || png_sig_cmp(signature, 0, 8) != 0) {
    throw PrintFailure(kPngUnreadable);
  }
  meta.scan = scanPngChunks(path);
  PngReader reader(file.get());
  if (!reader.ok()) throw std::bad_alloc();
  png_structp png = reader.png();
  png_infop info = reader.info();
  png_set_sig_bytes(png, 8);
  if (!readInfo(png, info)) {
    // A chunk claiming more than 128 MiB before the image data also defeats libpng; the colour
    // scan's sentence names the actual fault.
    if (meta.scan.oversizedChunk) throw PrintFailure("The PNG contains invalid color metadata.");
    throw PrintFailure(kPngUnreadable);
  }
  meta.header = headerOf(png, info);

  png_uint_32 resX = 0, resY = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &resX, &resY, &unit) && unit == PNG_RESOLUTION_METER) {
    meta.dpiX = double(resX) * 0.0254;
    meta.dpiY = double(resY) * 0.0254;
  }
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 profileLength = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &profileLength) && profile) {
    meta.color.iccProfile.assign(profile, profile + profileLength);
  }
  int intent = 0;
  if (png_get_sRGB(png, info, &intent)) meta.color.srgbIntent = intent;
  double gamma = 0;
  if (png_get_valid(png, info, PNG_INFO_gAMA) && png_get_gAMA(png, info, &gamma)) {
    meta.color.gamma = gamma;
  }
  PngColorChunks::Chromaticities c{};
  if (png_get_valid(png, info, PNG_INFO_cHRM) &&
      png_get_cHRM(png, info, &c.whiteX, &c.whiteY, &c.redX, &c.redY, &c.greenX, &c.greenY,
                   &c.blueX, &c.blueY)) {
    meta.color.chromaticities = c;
  }
  return meta;
}

Pixels pixelLayout(const PngHeader& header) {
  Pixels pixels;
  pixels.width = header.width;
  pixels.height = header.height;
  pixels.bitDepth = header.bitDepth == 16 ? 16 : 8;
  pixels.hasAlpha = header.hasAlpha;
  const bool color = header.colorType == PngColorType::rgb ||
                     header.colorType == PngColorType::rgbAlpha ||
                     header.colorType == PngColorType::palette;
  pixels.channels = (color ? 3 : 1) + (header.hasAlpha ? 1 : 0);
  return pixels;
}

namespace {

// Opens the file again for decoding and checks that it is still the image that was measured.
struct Decoder {
  File file;
  PngReader reader;
  Pixels layout;

  Decoder(const std::string& path, const PngHeader& expected)
      : file(openForPng(path)), reader(file.get()), layout(pixelLayout(expected)) {
    // The whole file is read: in large reads rather than stdio's 4 KiB ones.
    std::setvbuf(file.get(), nullptr, _IOFBF, 256 * 1024);
    if (!reader.ok()) throw std::bad_alloc();
    png_structp png = reader.png();
    png_infop info = reader.info();
    // Every chunk's CRC is still checked; zlib's own Adler-32 of the decoded samples, a second
    // pass over all of them on the thread every reader waits for, is not.
    png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
    if (!readInfo(png, info)) throw PrintFailure(kPngUnreadable);
    // The file may have been replaced since it was measured; never draw it at another size.
    if (!sameLayout(headerOf(png, info), expected)) throw PrintFailure(kPngUnreadable);
    if (!setUpTransforms(png, info)) throw PrintFailure(kPngUnreadable);
    // The row length libpng will write must be the one the buffers are made for.
    if (png_get_rowbytes(png, info) != layout.rowBytes() ||
        png_get_channels(png, info) != layout.channels) {
      throw PrintFailure(kPngUnreadable);
    }
  }
};

bool readOneRow(png_structp png, png_bytep row) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_row(png, row, nullptr);
  return true;
}

}  // namespace

Pixels decodePngPixels(const std::string& path, const PngHeader& expected) {
  Decoder decoder(path, expected);
  Pixels pixels = decoder.layout;
  const size_t rowBytes = pixels.rowBytes();
  if (pixels.height != 0 && rowBytes > SIZE_MAX / pixels.height) throw std::bad_alloc();
  pixels.bytes.resize(rowBytes * pixels.height);
  std::vector<png_bytep> rows(pixels.height);
  for (uint32_t y = 0; y < pixels.height; ++y) rows[y] = pixels.bytes.data() + rowBytes * y;
  if (!readRows(decoder.reader.png(), rows.data())) throw PrintFailure(kPngUnreadable);
  return pixels;
}

void decodePngRows(const std::string& path, const PngHeader& expected,
                   const std::function<void(uint32_t y, const unsigned char* row)>& onRow) {
  if (expected.interlaced) {
    // Interlaced rows are only complete after the last pass.
    const Pixels pixels = decodePngPixels(path, expected);
    for (uint32_t y = 0; y < pixels.height; ++y)
      onRow(y, pixels.bytes.data() + pixels.rowBytes() * y);
    return;
  }
  Decoder decoder(path, expected);
  const size_t rowBytes = decoder.layout.rowBytes();
  forEachRowAhead(
      rowBytes,
      [&](const RowCallback& decoded) {
        std::vector<unsigned char> row(rowBytes);
        for (uint32_t y = 0; y < decoder.layout.height; ++y) {
          if (!readOneRow(decoder.reader.png(), row.data())) throw PrintFailure(kPngUnreadable);
          decoded(y, row.data());
        }
      },
      onRow);
}

}  // namespace vardelle::artwork
