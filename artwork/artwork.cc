#include "artwork/artwork.h"

#include <unistd.h>

#include "base/print_failure.h"

namespace vardelle::artwork {

void requireReadableArtwork(const std::string& path) {
  requireAbsolutePath(path, "Artwork");
  if (::access(path.c_str(), R_OK) != 0) {
    throw PrintFailure(
        "The artwork could not be read. Check that the file is downloaded and still exists.");
  }
}

}  // namespace vardelle::artwork
