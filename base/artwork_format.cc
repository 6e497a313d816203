#include "base/artwork_format.h"

#include "base/text.h"

namespace vardelle {

ArtworkFormat artworkFormatOf(const std::string& path) {
  const std::string name = path.substr(path.find_last_of('/') + 1);
  const size_t dot = name.find_last_of('.');
  // A name that only starts with a dot has no extension.
  if (dot == std::string::npos || dot == 0) return ArtworkFormat::unsupported;
  const std::string extension = asciiLowercase(name.substr(dot + 1));
  if (extension == "pdf") return ArtworkFormat::pdf;
  if (extension == "png") return ArtworkFormat::png;
  return ArtworkFormat::unsupported;
}

}  // namespace vardelle
