#pragma once

// PDFs built as an attacker would build them: small files whose structure makes a reader recurse
// or allocate without end. Used by the Hostile tests and by the fuzz_hostile_pdf target, which
// feeds the recipe from the fuzzer's bytes. Needs only zlib, so the fuzzing build can compile it.
#include <cstddef>
#include <cstdint>
#include <string>

namespace vardelle::testing {

/// What the file is built to exhaust.
enum class HostileShape : uint8_t {
  /// Object streams whose `/Length` is an object stored in the next object stream, `count` links;
  /// the first page's /MediaBox lies in the first stream.
  lengthChain,
  /// A page key resolving to one object, stored Flate-compressed in an object stream, that is an
  /// array of `count` empty arrays.
  emptyArrayBomb,
  /// A page key whose value nests `count` arrays (or dictionaries) inside each other.
  deepNesting,
  /// A page tree `count` /Pages nodes deep, each the only kid of the one above.
  deepPageTree,
  /// A page whose /Parent chain runs through `count` intermediate nodes that are not in the tree.
  longParentChain,
  /// A cross-reference stream listing `count` objects (all at one offset), Flate-compressed.
  xrefBomb,
  /// An object stream of `count` small objects (integers), each reached from the page's
  /// /Resources array.
  manySmallObjects,
  // Valid pages that make a renderer work without end (the structure is plain):
  /// A content stream of `count` small filled rectangles, Flate-compressed twice (100 million
  /// are 1.3 GB of drawing in a few kilobytes).
  contentBomb,
  /// Forms `count` deep, each drawing the next twice: 2^count rectangles.
  formTree,
  /// An image XObject claiming `count` × `count` grey pixels, with a few kilobytes of data.
  hugeImage,
  /// An axial shading whose sampled function claims a table of `count` × 3 values.
  hugeFunction,
  /// A content stream whose one operand nests `count` arrays ([[[…]]] 0 d).
  deepOperands,
};

inline constexpr int kHostileShapeCount = 12;

/// The shapes' names, as make_hostile_pdf takes them, in the order of HostileShape.
inline constexpr const char* kHostileShapeNames[kHostileShapeCount] = {
    "lengthChain",     "emptyArrayBomb", "deepNesting",      "deepPageTree",
    "longParentChain", "xrefBomb",       "manySmallObjects", "contentBomb",
    "formTree",        "hugeImage",      "hugeFunction",     "deepOperands"};


/// The filters besides Flate that qpdf decodes in object streams.
enum class HostileWrapping : uint8_t { none, asciiHex, ascii85, runLength, lzw };

/// How the file is built.
struct HostileRecipe {
  HostileShape shape = HostileShape::lengthChain;
  uint64_t count = 1000;
  /// The page key that reaches the hostile value: "MediaBox" (read by every mode) or "Resources"
  /// (copied only by the modes that draw the page).
  std::string key = "MediaBox";
  bool dictionaries = false;  ///< deepNesting: << /A << /A … >> >> instead of [[…]]
  bool compress = true;       ///< Flate-compress object streams (lengthChain, manySmallObjects)
  bool xrefStream = true;     ///< a cross-reference stream (else a table where the shape allows)
  /// A second filter over the object streams' data, one the plain reader leaves to qpdf and the
  /// check before qpdf decodes (lengthChain, emptyArrayBomb, manySmallObjects).
  HostileWrapping wrapping = HostileWrapping::none;
  /// Object streams' /Type spelled with a #-escape (/Typ#65): qpdf reads it as /Type, the plain
  /// reader declines any escaped name it has to read, so the file reaches qpdf unmeasured.
  bool escapedNames = false;
};

/// The bytes of the PDF `recipe` describes.
std::string hostilePdf(const HostileRecipe& recipe);

/// A recipe read from arbitrary bytes (a fuzzer's input): the shape, a count bounded a little past
/// the readers' limits (files of at most a few hundred kilobytes, data of at most 6 MB
/// decompressed), and the options.
HostileRecipe hostileRecipeFromBytes(const uint8_t* data, size_t size);

/// `pdf` with the damage `data` names from byte `first` on: each group of four bytes puts its
/// fourth byte at the offset its first three give, taken from the end of the file when the first
/// byte's high bit is set (where the cross-reference section and the trailer lie).
std::string damagedPdf(std::string pdf, const uint8_t* data, size_t size, size_t first);

/// A recipe for a page to draw, read from arbitrary bytes: one of the shapes that make a renderer
/// work, its count either small enough to draw in a second or past the bounds checked before a
/// renderer is asked (an image's pixels, a function's table), so that every input is quick.
HostileRecipe drawingRecipeFromBytes(const uint8_t* data, size_t size);

}  // namespace vardelle::testing
