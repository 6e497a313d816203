// The pictures module (vardelle-pictures.so): `inspect` of a PNG, the one command that needs
// neither qpdf nor OpenSSL. Loading those two (with the GnuTLS qpdf brings) takes longer than
// the whole inspection of a 100-megapixel picture, which reads only its chunk headers.
#include <stdexcept>

#include "app/commands/inspect_command.h"
#include "app/engine.h"
#include "app/routing.h"

namespace vardelle::app {

namespace {

HelperResult performPictureCommand(const std::string& mode, const PrintRequest& request) {
  checkRouting(mode, request);
  if (mode == "inspect") return inspectCommand(request, &artwork::Artwork::loadPng);
  throw std::logic_error("The pictures module does not serve " + mode + ".");
}

HelperResult notServed() { throw std::logic_error("The pictures module serves no profiles."); }
HelperResult notServedFor(const ProfileRequest&) { return notServed(); }

}  // namespace

}  // namespace vardelle::app

extern "C" __attribute__((visibility("default"))) const vardelle::app::Engine* vardelle_engine() {
  static const vardelle::app::Engine engine{
      &vardelle::app::performPictureCommand,
      &vardelle::app::notServed,
      &vardelle::app::notServedFor,
  };
  return &engine;
}
