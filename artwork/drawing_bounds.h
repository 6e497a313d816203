#pragma once

#include <cstdint>

#include "artwork/artwork.h"

namespace vardelle::artwork {

/// The most samples one image of a page may claim before a renderer is asked to draw it.
/// Renderers read every row of an image however small it is drawn, and neither can be stopped
/// inside one: an image claiming more would outlast the drawing deadline whatever its data.
inline constexpr std::uint64_t kMostImagePixels = std::uint64_t(1) << 28;
/// The most values the sample table of one sampled function (type 0) may hold: renderers read
/// and keep the whole table before drawing anything with it.
inline constexpr std::uint64_t kMostFunctionSamples = std::uint64_t(1) << 24;

/// Before a renderer draws `page`: looks through what its resources reach (images, forms,
/// patterns, shadings, colour spaces, graphics states, fonts) and throws
/// PrintFailure(kTooLongToDrawSentence) when an image or a sampled function claims more than
/// the bounds above. What cannot be read is left to the renderer. Throws std::bad_alloc.
void requireBoundedDecoding(const PdfPage& page);

}  // namespace vardelle::artwork
