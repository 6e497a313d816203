// The inspection module (vardelle-inspection.so): `inspect` without qpdf or OpenSSL. Loading
// those two (with the GnuTLS qpdf brings) takes longer than inspecting a 100-megapixel picture,
// which reads only its chunk headers, or a thousand-page PDF read plainly. A PDF the plain reader
// declines goes to the documents module.
#include <stdexcept>

#include "app/commands/inspect_command.h"
#include "app/engine.h"
#include "app/routing.h"
#include "base/artwork_format.h"

namespace vardelle::app {

namespace {

// Only this module's own code throws it, and only this module catches it.
struct NeedsQpdf {};

artwork::Artwork loadWithoutQpdf(const std::string& path, std::optional<double> pngDpi) {
  if (artworkFormatOf(path) == ArtworkFormat::png) return artwork::Artwork::loadPng(path, pngDpi);
  std::optional<artwork::Artwork> pdf = artwork::Artwork::loadPlainPdf(path);
  if (!pdf) throw NeedsQpdf{};
  return std::move(*pdf);
}

std::optional<HelperResult> inspectWithoutQpdf(const PrintRequest& request) {
  checkRouting("inspect", request);
  try {
    return inspectCommand(request, &loadWithoutQpdf);
  } catch (const NeedsQpdf&) {
    return std::nullopt;
  }
}

HelperResult notServed(const std::string& mode, const PrintRequest&) {
  throw std::logic_error("The inspection module does not serve " + mode + ".");
}
HelperResult noProfiles() { throw std::logic_error("The inspection module serves no profiles."); }
HelperResult noProfile(const ProfileRequest&) { return noProfiles(); }

}  // namespace

}  // namespace vardelle::app

extern "C" __attribute__((visibility("default"))) const vardelle::app::Engine* vardelle_engine() {
  static const vardelle::app::Engine engine{
      &vardelle::app::notServed,
      &vardelle::app::noProfiles,
      &vardelle::app::noProfile,
      &vardelle::app::inspectWithoutQpdf,
  };
  return &engine;
}
