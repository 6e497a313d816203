#include "artwork/png_image.h"

#include <gtest/gtest.h>

#include "base/print_failure.h"
#include "testing/png_fixtures.h"
#include "testing/temp_dir.h"

namespace vardelle::artwork {
namespace {

using testing::insertBeforeEnd;
using testing::insertBeforeImageData;
using testing::makePng;
using testing::pngChunk;
using testing::PngOptions;
using testing::TempDir;

TEST(PngChunkScan, ColourChunksCountOnlyBeforeTheImageData) {
  TempDir dir;
  const std::string plain = makePng({});
  EXPECT_FALSE(scanPngChunks(dir.write("p.png", plain)).colorMetadataSeen);
  for (const char* name : {"gAMA", "cHRM", "sRGB", "iCCP"}) {
    // The scan looks at names only; the chunk's content is libpng's concern.
    const std::string chunk = pngChunk(name, std::string(4, '\0'));
    EXPECT_TRUE(
        scanPngChunks(dir.write("b.png", insertBeforeImageData(plain, chunk))).colorMetadataSeen)
        << name;
    EXPECT_FALSE(scanPngChunks(dir.write("a.png", insertBeforeEnd(plain, chunk))).colorMetadataSeen)
        << name;
  }
}

TEST(PngChunkScan, LengthLimitIs128MiBBeforeTheImageData) {
  TempDir dir;
  const std::string plain = makePng({});
  auto header = [](uint32_t length) {
    return std::string{char(length >> 24), char(length >> 16), char(length >> 8), char(length)} +
           "tEXt";
  };
  // Exactly 128 MiB is allowed: the scan seeks past it to the end of the file.
  PngChunkScan atLimit =
      scanPngChunks(dir.write("l.png", insertBeforeImageData(plain, header(134217728))));
  EXPECT_FALSE(atLimit.oversizedChunk);
  EXPECT_TRUE(scanPngChunks(dir.write("o.png", insertBeforeImageData(plain, header(134217729))))
                  .oversizedChunk);
  EXPECT_TRUE(scanPngChunks(dir.write("h.png", insertBeforeImageData(plain, header(0xFFFFFFFF))))
                  .oversizedChunk);
}

TEST(PngChunkScan, ColourScanStopsAfterTenThousandChunks) {
  TempDir dir;
  std::string filler;
  for (int i = 0; i < 10000; ++i) filler += pngChunk("tEXt", "");
  const std::string png =
      insertBeforeImageData(makePng({}), filler + pngChunk("gAMA", std::string(4, '\0')));
  EXPECT_FALSE(scanPngChunks(dir.write("f.png", png)).colorMetadataSeen);
}

TEST(PngChunkScan, MissingFileIsAFileSystemError) {
  TempDir dir;
  EXPECT_THROW(scanPngChunks(dir.file("gone.png")), PlatformError);
}

TEST(PngChunkScan, FindsTheOrientationAfterManyImageDataChunks) {
  TempDir dir;
  const std::string exif = pngChunk("eXIf", testing::exifWithOrientation(8));
  for (size_t chunkSize : {3, 5, 11}) {
    PngOptions s;
    s.width = 97;
    s.height = 61;
    s.colorType = 0;
    const std::string png = testing::splitImageData(makePng(s), chunkSize);
    size_t chunks = 0;
    for (size_t at = png.find("IDAT"); at != std::string::npos; at = png.find("IDAT", at + 1)) {
      ++chunks;
    }
    ASSERT_GT(chunks, 3u) << chunkSize;
    EXPECT_EQ(scanPngChunks(dir.write("x.png", insertBeforeEnd(png, exif))).orientation, 8)
        << chunks << " IDAT chunks";
    EXPECT_EQ(scanPngChunks(dir.write("n.png", png)).orientation, std::nullopt);
    // The re-cut file is still a valid PNG.
    EXPECT_NO_THROW(decodePngPixels(dir.file("n.png"), readPngMetadata(dir.file("n.png")).header));
  }
}

TEST(PngDecoding, RowByRowGivesTheSameSamplesAsTheWholeImage) {
  TempDir dir;
  for (bool interlaced : {false, true}) {
    PngOptions o;
    o.width = 9;
    o.height = 7;
    o.colorType = 6;
    o.bitDepth = 16;
    o.interlaced = interlaced;
    const std::string path = dir.write("r.png", makePng(o));
    const PngHeader header = readPngMetadata(path).header;
    const Pixels whole = decodePngPixels(path, header);
    std::string rows;
    uint32_t next = 0;
    decodePngRows(path, header, [&](uint32_t y, const unsigned char* row) {
      EXPECT_EQ(y, next++);
      rows.append(reinterpret_cast<const char*>(row), whole.rowBytes());
    });
    EXPECT_EQ(next, 7u);
    EXPECT_EQ(rows, std::string(whole.bytes.begin(), whole.bytes.end())) << interlaced;
  }
}

TEST(ExifOrientation, ReadsBothByteOrdersAndIgnoresNonsense) {
  const std::string big = testing::exifWithOrientation(6);
  auto read = [](const std::string& s) {
    return exifOrientation(reinterpret_cast<const unsigned char*>(s.data()), s.size());
  };
  EXPECT_EQ(read(big), 6);
  EXPECT_EQ(read(std::string("Exif\0\0", 6) + big), 6);
  const std::string little("II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x03\0\0\0\0\0\0\0", 26);
  EXPECT_EQ(read(little), 3);
  EXPECT_EQ(read(""), std::nullopt);
  EXPECT_EQ(read("MM\0*"), std::nullopt);
  EXPECT_EQ(read(big.substr(0, big.size() - 8)), std::nullopt);  // entry cut short
  std::string farIfd = big;
  farIfd[4] = '\x7F';  // IFD0 offset beyond the data
  EXPECT_EQ(read(farIfd), std::nullopt);
}

TEST(PngMetadata, ReadsColourChunksAcceptedByLibpng) {
  TempDir dir;
  PngOptions s;
  s.gamma = 1 / 2.2;
  s.chrm = true;
  PngMetadata m = readPngMetadata(dir.write("g.png", makePng(s)));
  ASSERT_TRUE(m.color.gamma);
  EXPECT_NEAR(*m.color.gamma, 0.45455, 1e-5);
  ASSERT_TRUE(m.color.chromaticities);
  EXPECT_NEAR(m.color.chromaticities->redX, 0.64, 1e-5);
  EXPECT_TRUE(m.scan.colorMetadataSeen);
  EXPECT_FALSE(m.dpiX);

  PngOptions phys;
  phys.pixelsPerMeterX = 11811;
  phys.pixelsPerMeterY = 5906;
  m = readPngMetadata(dir.write("p.png", makePng(phys)));
  EXPECT_EQ(m.dpiX, 11811 * 0.0254);
  EXPECT_EQ(m.dpiY, 5906 * 0.0254);
}

}  // namespace
}  // namespace vardelle::artwork
