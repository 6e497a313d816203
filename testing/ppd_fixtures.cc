#include "testing/ppd_fixtures.h"

#include <stdexcept>

#include "testing/run_process.h"

namespace vardelle::testing {

std::string driverPpd(const std::string& shrinkChoices, const std::string& landscape) {
  return "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*LanguageVersion: English\n"
         "*LanguageEncoding: ISOLatin1\n*ModelName: \"Test\"\n*NickName: \"Test\"\n" +
         landscape +
         "*OpenUI *PageSize/Media Size: PickOne\n*DefaultPageSize: A4\n"
         "*PageSize A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n"
         "*PageSize w288h432/4x6: \"<</PageSize[288 432]>>setpagedevice\"\n"
         "*PageSize w288h432J/KG: \"<</PageSize[288 432]>>setpagedevice\"\n"
         "*CloseUI: *PageSize\n"
         "*ImageableArea A4/A4: \"12 18 583 830\"\n"
         "*ImageableArea w288h432/4x6: \"0 0 288 432\"\n"
         "*ImageableArea w288h432J/KG: \"0 0 288 432\"\n"
         "*PaperDimension A4/A4: \"595 842\"\n"
         "*PaperDimension w288h432/4x6: \"288 432\"\n"
         "*PaperDimension w288h432J/KG: \"288 432\"\n"
         "*OpenUI *StpiShrinkOutput/Shrink Page If Necessary to Fit Borders: PickOne\n"
         "*DefaultStpiShrinkOutput: Shrink\n" +
         shrinkChoices + "*CloseUI: *StpiShrinkOutput\n";
}

const std::string kShrinkAndCrop =
    "*StpiShrinkOutput Shrink/Shrink: \"\"\n*StpiShrinkOutput Crop/Crop: \"\"\n";

printing::QueuePpd gutenprintPpd(TempDir& dir, const std::string& driver) {
  const ProcessOutput made = runProcess(
      {"/usr/lib/cups/driver/gutenprint.5.3", "cat", "gutenprint.5.3://" + driver + "/expert"});
  if (made.exitStatus != 0) throw std::runtime_error("Gutenprint made no PPD for " + driver);
  auto ppd = printing::QueuePpd::fromFile(dir.write(driver + ".ppd", made.out));
  if (!ppd) throw std::runtime_error("the Gutenprint PPD for " + driver + " did not parse");
  return std::move(*ppd);
}

printing::QueuePpd openPpd(TempDir& dir, const std::string& text) {
  auto ppd = printing::QueuePpd::fromFile(dir.write("test.ppd", text));
  if (!ppd) throw std::runtime_error("the test PPD did not parse");
  return std::move(*ppd);
}

}  // namespace vardelle::testing
