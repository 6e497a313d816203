#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "base/print_failure.h"
#include "base/protocol_json.h"
#include "testing/failure.h"

namespace vardelle {
namespace {

std::string failureOf(const PrintRequest& r) {
  return testing::failureOf([&] { r.validate(); });
}

PrintRequest validRequest() {
  PrintRequest r;
  r.printerName = "Studio";
  r.snapshotPath = "/tmp/preset.json";
  r.scalePercent = 100;
  return r;
}

TEST(RequestValidation, ScaleBoundsAreInclusive) {
  PrintRequest r = validRequest();
  for (double ok : {10.0, 200.0}) {
    r.scalePercent = ok;
    EXPECT_EQ(failureOf(r), "");
  }
  for (double bad : {9.99, 200.01, std::nan(""), std::numeric_limits<double>::infinity()}) {
    r.scalePercent = bad;
    EXPECT_EQ(failureOf(r), "Scale must be between 10% and 200%.");
  }
}

TEST(RequestValidation, OffsetsDpiAndCopies) {
  PrintRequest r = validRequest();
  r.offsetXmm = -50;
  r.offsetYmm = 50;
  EXPECT_EQ(failureOf(r), "");
  r.offsetYmm = 50.0001;
  EXPECT_EQ(failureOf(r), "Printer offsets must be between -50 and 50 mm.");
  r.offsetYmm.reset();
  for (double bad : {0.0, -300.0, std::nan("")}) {
    r.pngDpi = bad;
    EXPECT_EQ(failureOf(r), "PNG resolution must be a positive DPI value.");
  }
  r.pngDpi.reset();
  for (int64_t ok : {1, 99}) {
    r.copies = ok;
    EXPECT_EQ(failureOf(r), "");
  }
  for (int64_t bad : {0, 100}) {
    r.copies = bad;
    EXPECT_EQ(failureOf(r), "Copies must be a whole number between 1 and 99.");
  }
}

TEST(RequestValidation, PrinterNameAndSnapshotPath) {
  PrintRequest r = validRequest();
  r.printerName = " \t\n\r\xC2\xA0\xE2\x80\x83";  // spaces, tab, line breaks, NBSP, em space
  EXPECT_EQ(failureOf(r), "Choose a printer before continuing.");
  r.printerName = "Studio";
  r.snapshotPath = "presets/a.json";
  EXPECT_EQ(failureOf(r), "Settings needs an absolute file path.");
  r.snapshotPath = "/tmp/../tmp/./a.json";
  EXPECT_EQ(failureOf(r), "");
  r.snapshotPath = std::string("/tmp/a\0b", 8);
  EXPECT_EQ(failureOf(r), "Settings needs an absolute file path.");
}

TEST(RequestValidation, ColourRulesInOrder) {
  PrintRequest r = validRequest();
  ColorManagement cm = ColorManagement::printer();
  cm.mode = "Printer";
  r.colorManagement = cm;
  EXPECT_EQ(failureOf(r), "Unknown color handling mode.");
  cm.mode = "printer";
  cm.renderingIntent = "relative";
  r.colorManagement = cm;
  EXPECT_EQ(failureOf(r), "Choose a supported rendering intent.");
  cm.renderingIntent = "absoluteColorimetric";
  r.colorManagement = cm;
  EXPECT_EQ(failureOf(r), "");
  cm.mode = "application";
  cm.profilePath = "/p.icc";
  cm.profileId = "";
  r.colorManagement = cm;
  EXPECT_EQ(failureOf(r), "Choose a usable RGB ICC profile for application-managed color.");
  cm.profileId = "icc-00";
  cm.profilePath = "p.icc";
  r.colorManagement = cm;
  EXPECT_EQ(failureOf(r), "ICC profile needs an absolute file path.");
}

TEST(RequestValidation, SoftProofColourIsCheckedAfterTheColourSettings) {
  PrintRequest r = validRequest();
  r.softProof = SoftProof{};
  EXPECT_EQ(failureOf(r), "");
  const char* bad = "Choose a gamut warning color written as #RRGGBB, for example #808080.";
  for (const char* colour : {"#aBcDeF", "#000000", "#FFFFFF"}) {
    r.softProof->gamutWarningColor = colour;
    EXPECT_EQ(failureOf(r), "") << colour;
  }
  EXPECT_EQ(r.softProof->warningRgb(), (std::array<std::uint8_t, 3>{255, 255, 255}));
  r.softProof->gamutWarningColor = "#0a8Fc0";
  EXPECT_EQ(r.softProof->warningRgb(), (std::array<std::uint8_t, 3>{10, 143, 192}));
  for (const char* colour : {"", "#", "0a8Fc0", "#0a8Fc", "#0a8Fc0 ", "#0a8Fg0", "red"}) {
    r.softProof->gamutWarningColor = colour;
    EXPECT_EQ(failureOf(r), bad) << colour;
  }
  // After the colour settings, before the printer name.
  r.colorManagement = ColorManagement::printer();
  r.colorManagement->mode = "Printer";
  EXPECT_EQ(failureOf(r), "Unknown color handling mode.");
  r.colorManagement.reset();
  r.printerName = " ";
  EXPECT_EQ(failureOf(r), bad);
}

TEST(RequestValidation, FirstFailingCheckWins) {
  PrintRequest r = validRequest();
  r.scalePercent = 5;
  r.printerName = "";
  r.snapshotPath = "relative";
  EXPECT_EQ(failureOf(r), "Scale must be between 10% and 200%.");
}

std::string decodeError(const std::string& json) {
  try {
    decodePrintRequest(json, "the request file");
  } catch (const PlatformError& e) {
    return e.what();
  }
  return "";
}

TEST(RequestDecoding, NullMeansAbsentAndUnknownKeysAreIgnored) {
  PrintRequest r = decodePrintRequest(
      R"({"printerName":"P","snapshotPath":"/s","scalePercent":100,"offsetXmm":null,
          "copies":2.0,"futureKey":{"x":[1]},"colorManagement":null})",
      "r");
  EXPECT_FALSE(r.offsetXmm);
  EXPECT_EQ(r.copies, 2);
  EXPECT_FALSE(r.colorManagement);
}

TEST(RequestDecoding, SoftProofKeysDefaultOneByOne) {
  const std::string head = R"({"printerName":"P","snapshotPath":"/s","scalePercent":100,)";
  EXPECT_FALSE(decodePrintRequest(head + R"("softProof":null})", "r").softProof);
  const SoftProof empty = *decodePrintRequest(head + R"("softProof":{}})", "r").softProof;
  EXPECT_TRUE(empty.paperWhite);
  EXPECT_FALSE(empty.gamutWarning);
  EXPECT_EQ(empty.gamutWarningColor, "#808080");
  const SoftProof some =
      *decodePrintRequest(
           head +
               R"("softProof":{"paperWhite":false,"gamutWarning":null,"gamutWarningColor":"#112233"}})",
           "r")
           .softProof;
  EXPECT_FALSE(some.paperWhite);
  EXPECT_FALSE(some.gamutWarning);
  EXPECT_EQ(some.gamutWarningColor, "#112233");
  EXPECT_NE(decodeError(head + R"("softProof":{"gamutWarning":"true"}})")
                .find(R"("gamutWarning" in "softProof")"),
            std::string::npos);
  EXPECT_NE(decodeError(head + R"("softProof":"on"})").find(R"("softProof")"), std::string::npos);
}

TEST(RequestDecoding, ErrorsNameTheKey) {
  EXPECT_NE(decodeError(R"({"snapshotPath":"/s","scalePercent":1})").find("\"printerName\""),
            std::string::npos);
  EXPECT_NE(decodeError(R"({"printerName":"P","snapshotPath":"/s","scalePercent":"100"})")
                .find("\"scalePercent\""),
            std::string::npos);
  EXPECT_NE(decodeError(R"({"printerName":"P","snapshotPath":"/s","scalePercent":1,"copies":2.5})")
                .find("\"copies\""),
            std::string::npos);
  EXPECT_NE(decodeError(R"({"printerName":"P","snapshotPath":"/s","scalePercent":1,)"
                        R"("colorManagement":{"mode":"printer"}})")
                .find("\"renderingIntent\""),
            std::string::npos);
  EXPECT_NE(decodeError(R"({"printerName":"P","snapshotPath":"/s","scalePercent":1,)"
                        R"("acceptMarginClipping":1})")
                .find("\"acceptMarginClipping\""),
            std::string::npos);
  EXPECT_NE(decodeError("[1,2]"), "");
  EXPECT_NE(decodeError("{\"printerName\":"), "");
  EXPECT_NE(decodeError("").find("not valid JSON"), std::string::npos);
  EXPECT_NE(decodeError(R"({"printerName":"P","snapshotPath":"/s","scalePercent":1e9999})")
                .find("out of range"),
            std::string::npos);
}

TEST(ResultEncoding, FailureHasExactlyTwoKeys) {
  EXPECT_EQ(*encodeResultLine(HelperResult::failure("No.")), R"({"error":"No.","ok":false})");
}

TEST(ResultEncoding, NestedKeysSortedSlashesEscapedOptionalsOmitted) {
  HelperResult r;
  r.ok = true;
  r.outputPath = "/tmp/a b/out.pdf";
  DocumentInfo d;
  d.format = "PDF";
  d.pageCount = 1;
  d.pages.push_back({210, 297, 105, 148.5});
  d.requiresClipping = false;
  r.document = d;
  PrintSummary s;
  s.paperName = "A4";
  s.paperWidthMm = 210;
  s.paperHeightMm = 297;
  s.orientation = "portrait";
  s.copies = 1;
  s.printerName = "P/Q";
  r.summary = s;
  EXPECT_EQ(
      *encodeResultLine(r),
      R"({"document":{"format":"PDF","pageCount":1,"pages":[{"heightMm":297.0,)"
      R"("scaledHeightMm":148.5,"scaledWidthMm":105.0,"widthMm":210.0}],)"
      R"("requiresClipping":false,"warnings":[]},"ok":true,"outputPath":"\/tmp\/a b\/out.pdf",)"
      R"("summary":{"copies":1,"orientation":"portrait","paperHeightMm":297.0,"paperName":"A4",)"
      R"("paperWidthMm":210.0,"printerName":"P\/Q"}})");
}

TEST(ResultEncoding, OutOfGamutShareSortsAmongTheDocumentsKeys) {
  HelperResult r;
  r.ok = true;
  DocumentInfo d;
  d.format = "PNG";
  d.outOfGamutPercent = 12.3;
  d.colorManagement = "Application-managed";
  r.document = d;
  EXPECT_EQ(*encodeResultLine(r),
            R"({"document":{"colorManagement":"Application-managed","format":"PNG",)"
            R"("outOfGamutPercent":12.3,"pageCount":0,"pages":[],"requiresClipping":false,)"
            R"("warnings":[]},"ok":true})");
}

TEST(ResultEncoding, EmptyListsAreKept) {
  HelperResult r;
  r.ok = true;
  r.profilePaths = std::vector<std::string>{};
  EXPECT_EQ(*encodeResultLine(r), R"({"ok":true,"profilePaths":[]})");
}

TEST(ResultEncoding, NonFiniteNumberAnywhereCannotBeEncoded) {
  HelperResult r;
  r.ok = true;
  DocumentInfo d;
  d.pages.push_back({std::numeric_limits<double>::infinity(), 1, 1, 1});
  r.document = d;
  EXPECT_FALSE(encodeResultLine(r));
  r.document->pages[0].widthMm = 1;
  r.document->dpiX = std::nan("");
  EXPECT_FALSE(encodeResultLine(r));
  EXPECT_EQ(kFallbackResultLine.size(), 61u);
}

TEST(ResultEncoding, NumbersReadBackToTheSameValue) {
  HelperResult r;
  r.ok = true;
  DocumentInfo d;
  const double w = 595.0 * 25.4 / 72;
  d.pages.push_back({w, 0.1, 1e-300, 1.7976931348623157e308});
  r.document = d;
  auto j = nlohmann::json::parse(*encodeResultLine(r));
  EXPECT_EQ(j["document"]["pages"][0]["widthMm"].get<double>(), w);
  EXPECT_EQ(j["document"]["pages"][0]["heightMm"].get<double>(), 0.1);
  EXPECT_EQ(j["document"]["pages"][0]["scaledWidthMm"].get<double>(), 1e-300);
  EXPECT_EQ(j["document"]["pages"][0]["scaledHeightMm"].get<double>(), 1.7976931348623157e308);
}

}  // namespace
}  // namespace vardelle
