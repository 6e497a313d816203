// Archive bytes as a snapshot file delivers them (after Base64): restore, and when they restore,
// archive again and check that the round trip is exact; feed the options to the colour-mode
// reader and the summary, which must never fail.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <nlohmann/json.hpp>

#include "printing/settings/print_settings.h"
#include "printing/settings/print_summary.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vardelle::printing;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto settings = PrintSettings::restore(bytes);
  if (!settings) return 0;
  auto again = PrintSettings::restore(settings->archive());
  if (!again || !(*again == *settings) || again->archive() != settings->archive()) std::abort();
  (void)knownColorMode(settings->optionDictionary());
  (void)printSummary(*settings, {595, 842}, std::nullopt);
  (void)settings->orientation();
  (void)settings->copies();
  return 0;
}
