#include "printing/job/route.h"

#include <gtest/gtest.h>

#include <map>

#include "printing/job/ipp_job.h"
#include "printing/job/job_options.h"
#include "printing/job/job_plan.h"
#include "printing/job/submission.h"

namespace vardelle::printing {
namespace {

TEST(PrintRoute, OnlyCupsFromTwoFourEightForwardsPrintScaling) {
  for (const char* old : {"2.4.2", "2.4.7", "2.3.3op2", "2.2", "1.7.5", "", "2", "x.4.8", "2.-4"}) {
    EXPECT_FALSE(cupsForwardsPrintScaling(old)) << old;
  }
  for (const char* fixed : {"2.4.8", "2.4.10", "2.5b1", "2.5.0", "3.0"}) {
    EXPECT_TRUE(cupsForwardsPrintScaling(fixed)) << fixed;
  }
}

TEST(PrintRoute, OnlyAPdfPrinterThatScalesBehindAnOldCupsGetsTheJobDirectly) {
  RouteFacts firmware;
  firmware.deviceUri = "ipp://192.168.1.20/ipp/print";
  firmware.cupsVersion = "2.4.2";
  firmware.printerAsked = true;
  firmware.printScalingSupported = {"auto", "fit", "none"};
  firmware.documentFormats = {"image/pwg-raster", "application/pdf"};
  EXPECT_EQ(chooseRoute(firmware), PrintRoute::printerDevice);

  RouteFacts secure = firmware;
  secure.deviceUri = "ipps://printer.local:631/ipp/print";
  EXPECT_EQ(chooseRoute(secure), PrintRoute::printerDevice);

  RouteFacts fixedCups = firmware;
  fixedCups.cupsVersion = "2.4.8";
  EXPECT_FALSE(needsPrinterFacts(fixedCups));
  EXPECT_EQ(chooseRoute(fixedCups), PrintRoute::localQueue);

  RouteFacts rasterOnly = firmware;
  rasterOnly.documentFormats = {"image/pwg-raster", "image/urf"};
  EXPECT_EQ(chooseRoute(rasterOnly), PrintRoute::localQueue);

  RouteFacts neverScales = firmware;
  neverScales.printScalingSupported.clear();
  EXPECT_EQ(chooseRoute(neverScales), PrintRoute::localQueue);

  for (const char* uri : {"usb://EPSON/SC-P800", "file:///dev/null", "ipp://", "socket://10.0.0.2",
                          "implicitclass://", "dnssd://Studio%20Photo.local/"}) {
    RouteFacts driver = firmware;
    driver.deviceUri = uri;
    EXPECT_EQ(chooseRoute(driver), PrintRoute::localQueue) << uri;
  }
  // The queues a desktop makes by itself reach the same printers once they are found.
  for (const char* uri : {"dnssd://Studio%20Photo._ipp._tcp.local/?uuid=0a60",
                          "ipp://Studio%20Photo._ipp._tcp.local./", "implicitclass://Studio_Photo/",
                          "ipps://Studio%20Photo._ipps._tcp.local/"}) {
    RouteFacts desktop = firmware;
    desktop.deviceUri = uri;
    EXPECT_TRUE(isDnssdDevice(uri)) << uri;
    EXPECT_FALSE(isIppDevice(uri)) << uri;
    EXPECT_EQ(chooseRoute(desktop), PrintRoute::printerDevice) << uri;
  }
}

TEST(PrintRoute, DeviceJobsNameTheSheetByMediaColAndLeaveFilterOptionsBehind) {
  const std::vector<PrintOption> local = {
      {"ColorModel", "Gray"},
      {"cupsPrintQuality", "High"},
      {"media-type", "photographic"},
      {"InputSlot", "Manual"},
      {"media", "iso_a4_210x297mm"},
      {"print-scaling", "none"},
      {"fit-to-page", "false"},
      {"number-up", "1"},
      {"page-border", "none"},
      {"job-sheets", "none,none"},
      {"mirror", "false"},
      {"page-set", "all"},
      {"outputorder", "normal"},
      {"sides", "one-sided"},
      {"copies", "3"},
      {"cm-calibration", "true"},
  };
  std::map<std::string, std::string> sent;
  for (const PrintOption& option : deviceJobOptions(local, {21000, 29700, 300, 500, 400, 600})) {
    EXPECT_TRUE(sent.emplace(option.name, option.value).second) << "twice: " << option.name;
  }
  const std::map<std::string, std::string> expected = {
      {"print-scaling", "none"},
      {"number-up", "1"},
      {"sides", "one-sided"},
      {"copies", "3"},
      {"print-color-mode", "monochrome"},
      {"print-quality", "5"},
      {"media-col",
       "{media-size={x-dimension=21000 y-dimension=29700} media-bottom-margin=500 "
       "media-left-margin=300 media-right-margin=400 media-top-margin=600 "
       "media-type=photographic}"},
  };
  EXPECT_EQ(sent, expected);

  // An IPP colour choice already made is not overridden by the PPD's words.
  auto withMode = deviceJobOptions({{"ColorModel", "Gray"}, {"print-color-mode", "color"}},
                                   {21000, 29700, 0, 0, 0, 0});
  EXPECT_EQ(withMode.front(), (PrintOption{"print-color-mode", "color"}));
  EXPECT_EQ(withMode.size(), 2u);

  EXPECT_EQ(sheetRotation(Orientation::portrait), 0);
  EXPECT_EQ(sheetRotation(Orientation::landscape), 90);
  EXPECT_EQ(sheetRotation(Orientation::reversePortrait), 180);
  EXPECT_EQ(sheetRotation(Orientation::reverseLandscape), 270);
}

TEST(PrintRoute, OnlySubstitutionsThatChangeTheOutputCount) {
  IppMessage response(ippNew());
  ippAddString(response.get(), IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", nullptr,
               "utf-8");
  // job-name changed, an unknown vendor attribute ignored: harmless.
  ippAddString(response.get(), IPP_TAG_UNSUPPORTED_GROUP, IPP_TAG_NAME, "job-name", nullptr, "x");
  ippAddString(response.get(), IPP_TAG_UNSUPPORTED_GROUP, IPP_TAG_KEYWORD, "vendor-finish", nullptr,
               "gloss");
  EXPECT_TRUE(substitutedAttributes(response.get()).empty());
  // A job-template attribute of that name outside the unsupported group is what was accepted.
  ippAddString(response.get(), IPP_TAG_JOB, IPP_TAG_KEYWORD, "print-scaling", nullptr, "none");
  EXPECT_TRUE(substitutedAttributes(response.get()).empty());

  ippAddString(response.get(), IPP_TAG_UNSUPPORTED_GROUP, IPP_TAG_KEYWORD, "print-scaling", nullptr,
               "none");
  ippAddInteger(response.get(), IPP_TAG_UNSUPPORTED_GROUP, IPP_TAG_INTEGER, "copies", 3);
  IppMessage margins(ippNew());
  ippAddInteger(margins.get(), IPP_TAG_ZERO, IPP_TAG_INTEGER, "media-top-margin", 0);
  ippAddCollection(response.get(), IPP_TAG_UNSUPPORTED_GROUP, "media-col", margins.get());
  ippAddString(response.get(), IPP_TAG_UNSUPPORTED_GROUP, IPP_TAG_KEYWORD, "print-color-mode",
               nullptr, "monochrome");
  EXPECT_EQ(substitutedAttributes(response.get()),
            (std::vector<std::string>{"print-scaling", "copies", "media-col", "print-color-mode"}));
}

}  // namespace
}  // namespace vardelle::printing
