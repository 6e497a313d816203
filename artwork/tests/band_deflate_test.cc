#include "artwork/band_deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

namespace vardelle::artwork {
namespace {

// Whole-stream inflate, checking the zlib header and the adler32 trailer as every reader does.
std::string inflated(const std::string& stream) {
  std::string out(1 << 16, '\0');
  z_stream zs{};
  EXPECT_EQ(inflateInit(&zs), Z_OK);
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
  zs.avail_in = uInt(stream.size());
  std::string result;
  int status = Z_OK;
  while (status == Z_OK) {
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = uInt(out.size());
    status = inflate(&zs, Z_NO_FLUSH);
    result.append(out.data(), out.size() - zs.avail_out);
  }
  EXPECT_EQ(status, Z_STREAM_END) << "the stream does not end, or ends damaged";
  EXPECT_EQ(zs.avail_in, 0u) << "bytes after the end of the stream";
  inflateEnd(&zs);
  return result;
}

std::string compressed(const std::string& input, std::size_t bandBytes, unsigned workers,
                       std::size_t pieceBytes, bool runLength = false) {
  std::string out;
  BandDeflate deflate(
      1, [&](std::string_view bytes) { out.append(bytes); }, bandBytes, workers, runLength);
  for (std::size_t at = 0; at < input.size(); at += pieceBytes) {
    const std::size_t n = std::min(pieceBytes, input.size() - at);
    deflate.write(reinterpret_cast<const unsigned char*>(input.data()) + at, n);
  }
  deflate.finish();
  return out;
}

// Samples with the kind of structure a photograph has, so that the compressor finds matches
// across band boundaries, with noise so that it cannot find them everywhere.
std::string photographLike(std::size_t size) {
  std::mt19937 noise(7);
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>((i / 6) % 251 + (noise() % 4));
  }
  return bytes;
}

TEST(BandDeflate, BandsJoinIntoOneStreamThatInflatesToTheInput) {
  const std::string input = photographLike(3 * 100'000 + 17);
  struct Case {
    std::size_t bandBytes;
    unsigned workers;
    std::size_t pieceBytes;
  };
  for (const Case& c :
       {Case{1 << 20, 2, 4096},                           // one band, shorter than its size
        Case{100'000, 2, 4096},                           // bands ending inside a piece
        Case{100'000, 1, 300'017}, Case{10'000, 3, 999},  // bands smaller than deflate's window
        Case{7, 2, 5}}) {
    SCOPED_TRACE(testing::Message() << "band " << c.bandBytes << ", workers " << c.workers);
    const std::string part = input.substr(0, c.bandBytes < 1000 ? 5000 : input.size());
    const std::string stream = compressed(part, c.bandBytes, c.workers, c.pieceBytes);
    EXPECT_EQ(inflated(stream), part);
  }
  // Nothing written is still a stream.
  EXPECT_EQ(inflated(compressed("", 1000, 2, 1)), "");
}

TEST(BandDeflate, TheBytesDependOnTheBandsAloneNotOnTheThreads) {
  const std::string input = photographLike(2'000'000);
  const std::string reference = compressed(input, 256 * 1024, 1, 65536);
  for (unsigned workers : {2u, 4u}) {
    EXPECT_EQ(compressed(input, 256 * 1024, workers, 1000), reference);
  }
  // So with runs only, and the bands still join into one stream.
  const std::string runs = compressed(input, 256 * 1024, 1, 65536, true);
  EXPECT_EQ(compressed(input, 256 * 1024, 3, 999, true), runs);
  EXPECT_EQ(inflated(runs), input);
  // The checksum taken band by band on the workers is that of the whole output.
  std::string out;
  BandDeflate deflate(
      1, [&](std::string_view bytes) { out.append(bytes); }, 256 * 1024, 2);
  deflate.write(reinterpret_cast<const unsigned char*>(input.data()), input.size());
  deflate.finish();
  EXPECT_EQ(deflate.outputCrc32(),
            crc32(0, reinterpret_cast<const Bytef*>(out.data()), uInt(out.size())));

  // Each band is primed with the one before it: cutting costs next to nothing.
  const std::string whole = compressed(input, 4'000'000, 1, 65536);
  EXPECT_LT(reference.size(), whole.size() * 101 / 100);
}

}  // namespace
}  // namespace vardelle::artwork
