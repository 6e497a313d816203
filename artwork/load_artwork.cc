// The one place that turns a file into artwork of either format; a module that reads only PNG
// artwork calls Artwork::loadPng instead and so links no PDF code.
#include "artwork/artwork.h"
#include "base/artwork_format.h"
#include "base/print_failure.h"

namespace vardelle::artwork {

Artwork Artwork::load(const std::string& path, std::optional<double> pngDpi) {
  requireReadableArtwork(path);
  switch (artworkFormatOf(path)) {
    case ArtworkFormat::pdf:
      return loadPdf(path);
    case ArtworkFormat::png:
      return loadPng(path, pngDpi);
    case ArtworkFormat::unsupported:
      break;
  }
  throw PrintFailure("Only PDF and PNG artwork is supported.");
}

}  // namespace vardelle::artwork
