#pragma once

// Where the plain PDF reader stops, in one place: the rules whose breach sends a file to qpdf
// (the file is not plain), and the limits whose breach refuses it (the file is built to exhaust
// a reader). Each is a named reason, so that the developer's note says which one stopped a file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vardelle::artwork::plain_pdf {

/// A departure from the plain structure: reading stops and qpdf takes the file. Each rule is
/// stricter than qpdf's, never looser, so what the plain reader reads is what qpdf reads.
enum class Rule : uint8_t {
  // Values
  longNumber,
  notANumber,
  nulBetweenTokens,
  emptyName,
  escapedName,
  deepValue,
  keyNotName,
  repeatedKey,
  unclosedDictionary,
  badHexString,
  unknownWord,
  unexpectedDelimiter,
  referenceOutOfRange,
  endOfData,
  // The file
  outsideFile,
  fileChanged,
  objectTooLong,
  // Cross-references
  noHeader,
  noStartxref,
  sectionLoop,
  badTableSubsection,
  badTableEntry,
  noTrailer,
  badTrailer,
  noSize,
  hybridFile,
  badPrevious,
  badXrefStream,
  largeXrefStream,
  xrefStreamSize,
  badXrefStreamEntry,
  xrefStreamMisplaced,
  xrefStreamNeedsReferences,
  // Objects
  wrongObjectAtOffset,
  badStreamKeyword,
  noEndobj,
  externalStreamData,
  badStreamLength,
  noEndstream,
  selfReference,
  missingObject,
  manyObjects,
  badObjectStream,
  objectNotInStream,
  // Filters
  unsupportedFilter,
  badDecodeParms,
  unsupportedPredictor,
  badFlate,
  badPredictedData,
  badAsciiHex,
  badAscii85,
  badRunLength,
  badLzw,
  // Documents
  encrypted,
  noCatalog,
  badPagesEntry,
  badPageTreeRoot,
  pageTreeLoop,
  badKids,
  pageNotObject,
  repeatedPage,
};

/// What a file reached that only a file built to exhaust a reader reaches: declining is no
/// answer, since qpdf would follow it the same way without a limit, so the file is refused.
enum class Limit : uint8_t {
  referenceDepth,
  pageTreeDepth,
  copyDepth,
  streamDecoded,
  allDecoded,
  values,
  copiedValues,
};

/// Thrown where a rule declines the file.
struct NotPlain {
  Rule rule;
};

/// Thrown where a limit refuses the file; `budget` is the file's own, for a limit of values.
struct Hostile {
  Limit limit;
  size_t budget = 0;
};

[[noreturn]] void notPlain(Rule rule);
[[noreturn]] void hostile(Limit limit, size_t budget = 0);

/// The rule in words, for the developer's note: "a key repeated in a dictionary".
std::string_view describe(Rule rule);
/// The limit in words with its figure, for the developer's note.
std::string describe(const Hostile& refused);

/// A count of values with its limit: `spend` refuses the file by `limit` once more than `most`
/// have been spent.
struct Budget {
  Limit limit;
  size_t most;
  size_t spent = 0;

  void spend(size_t n) {
    if (n > most - spent) hostile(limit, most);
    spent += n;
  }
};

// Only object streams and cross-reference streams are decoded, and qpdf decodes and parses the
// same ones whole: more than this is a bomb for either reader, refused rather than declined.
inline constexpr size_t kLargestDecoded = size_t(64) << 20;
// All decoded streams together: a file of many small bombs is refused as one large one is.
inline constexpr size_t kMostDecoded = size_t(256) << 20;
// Arrays and dictionaries nested deeper than this are left to qpdf (which reads them, on the
// helper's large stack); no writer nests values this deep.
inline constexpr int kDeepestValue = 64;
// No writer nests page-tree nodes this deep (balanced trees of a million pages are 10 deep), and
// qpdf walks the tree recursively, a frame per level: a deeper tree is refused, not declined.
inline constexpr int kDeepestTree = 256;
// References followed while another is being resolved: an object in an object stream whose
// /Length is an object in another object stream, and so on. Writers store the lengths of object
// streams in place, so a plain file needs 4 or 5; each link costs a few hundred bytes of stack
// here and about 2.7 KB in qpdf, so thousands of them end both readers with SIGSEGV.
inline constexpr int kDeepestReference = 32;
// References followed from a page to what it draws: resources, forms, fonts, annotations. A
// real page is a few dozen deep at most; qpdf's copy takes one or two KB of stack per level.
inline constexpr int kDeepestCopy = 1000;

/// The values this reader may build for a file of `fileBytes` bytes (with the cross-reference
/// entries and object-stream offsets it keeps).
size_t valueBudget(long long fileBytes);
/// The values qpdf may build for a file of `fileBytes` bytes from what its pages reach, counted
/// here without being built.
size_t copyBudget(long long fileBytes);

}  // namespace vardelle::artwork::plain_pdf
