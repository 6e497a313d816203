#include "artwork/plain_pdf_limits.h"

#include <algorithm>

namespace vardelle::artwork::plain_pdf {

namespace {

// The budgets tell a file built to exhaust a reader from a real one by how many values it holds
// for each byte of the file: "[]" takes 2 bytes, and Flate turns 59 KB into 30 million of them
// (500 a byte), while real writers put at most 0.43 values reached from the pages in a byte, and
// 0.1 values read for the page tree, among the 4,613 PDFs of Debian's documentation packages and
// the same files written again by qpdf with object streams at the highest compression
// (bench/pdf_values.sh). Bytes once decoded tell them apart less well (0.5 a byte for the bomb,
// 0.31 for the densest real object streams). Above the density, a floor lets any small file
// through that no 10,000-page document reaches.
//
// The values this reader builds for the page tree cost about 120 bytes each, more while a vector
// grows. Cross-reference entries and object-stream offsets count too: a few kilobytes of Flate
// declare millions of objects.
constexpr size_t kLeastValueBudget = 1000000;
constexpr size_t kFileBytesPerValue = 8;
// What the pages reach is not built here, only counted for qpdf, which builds it to copy the
// pages into a sheet at about 230 bytes a value: the floor keeps qpdf under 512 MB. A larger real
// file may still need more memory than that, and then ends with the sentence that says so.
constexpr size_t kLeastCopyBudget = 2000000;
constexpr size_t kCopiedValuesPerFileByte = 4;

std::string withSeparators(size_t n) {
  const std::string digits = std::to_string(n);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

}  // namespace

void notPlain(Rule rule) { throw NotPlain{rule}; }

void hostile(Limit limit, size_t budget) { throw Hostile{limit, budget}; }

size_t valueBudget(long long fileBytes) {
  return std::max(kLeastValueBudget, size_t(std::max(0LL, fileBytes)) / kFileBytesPerValue);
}

size_t copyBudget(long long fileBytes) {
  return std::max(kLeastCopyBudget, size_t(std::max(0LL, fileBytes)) * kCopiedValuesPerFileByte);
}

std::string_view describe(Rule rule) {
  switch (rule) {
    case Rule::longNumber:
      return "a number of more than 18 digits";
    case Rule::notANumber:
      return "a number that is not one";
    case Rule::nulBetweenTokens:
      return "NUL or vertical tab between tokens";
    case Rule::emptyName:
      return "an empty name";
    case Rule::escapedName:
      return "a name written with #-escapes where it is read";
    case Rule::deepValue:
      return "arrays or dictionaries nested more than 64 deep";
    case Rule::keyNotName:
      return "a dictionary key that is not a name";
    case Rule::repeatedKey:
      return "a key repeated in a dictionary";
    case Rule::unclosedDictionary:
      return "a dictionary without its closing >>";
    case Rule::badHexString:
      return "a hexadecimal string with other characters";
    case Rule::unknownWord:
      return "a word that is no keyword";
    case Rule::unexpectedDelimiter:
      return "a delimiter where a value starts";
    case Rule::referenceOutOfRange:
      return "a reference to an object number or generation out of range";
    case Rule::endOfData:
      return "the data ends inside a value";
    case Rule::outsideFile:
      return "an offset outside the file";
    case Rule::fileChanged:
      return "the file changed while it was read";
    case Rule::objectTooLong:
      return "an object longer than 16 MB";
    case Rule::noHeader:
      return "no %PDF-n.n header at the start";
    case Rule::noStartxref:
      return "no startxref offset in the last 1054 bytes";
    case Rule::sectionLoop:
      return "a cross-reference section outside the file or read twice";
    case Rule::badTableSubsection:
      return "a cross-reference subsection header out of form";
    case Rule::badTableEntry:
      return "a cross-reference table entry out of form";
    case Rule::noTrailer:
      return "no trailer dictionary";
    case Rule::badTrailer:
      return "a trailer that is not a dictionary alone";
    case Rule::noSize:
      return "a trailer without an integer /Size";
    case Rule::hybridFile:
      return "a hybrid file (/XRefStm)";
    case Rule::badPrevious:
      return "a /Prev that is not a positive offset";
    case Rule::badXrefStream:
      return "a cross-reference stream whose /Type, /W, /Size or /Index is out of form";
    case Rule::largeXrefStream:
      return "a cross-reference stream of more than 64 million entries";
    case Rule::xrefStreamSize:
      return "cross-reference stream data of another size than its entries";
    case Rule::badXrefStreamEntry:
      return "a cross-reference stream entry out of range";
    case Rule::xrefStreamMisplaced:
      return "a cross-reference stream that is not the object its table names there";
    case Rule::xrefStreamNeedsReferences:
      return "a cross-reference stream that needs references to be read";
    case Rule::wrongObjectAtOffset:
      return "another object, or none, where the table says an object is";
    case Rule::badStreamKeyword:
      return "\"stream\" not followed by an end of line";
    case Rule::noEndobj:
      return "an object without endobj";
    case Rule::externalStreamData:
      return "stream data in another file (/F)";
    case Rule::badStreamLength:
      return "a stream /Length that is not a length within the file";
    case Rule::noEndstream:
      return "no endstream and endobj where the stream's /Length ends";
    case Rule::selfReference:
      return "a value made of itself";
    case Rule::missingObject:
      return "a reference to an object the table does not have";
    case Rule::manyObjects:
      return "more than a million objects resolved";
    case Rule::badObjectStream:
      return "an object stream out of form";
    case Rule::objectNotInStream:
      return "an object that is not in the object stream the table names";
    case Rule::unsupportedFilter:
      return "a filter other than Flate";
    case Rule::badDecodeParms:
      return "/DecodeParms that do not match the filters";
    case Rule::unsupportedPredictor:
      return "a predictor other than PNG on one byte a sample";
    case Rule::badFlate:
      return "Flate data that does not inflate to its end";
    case Rule::badPredictedData:
      return "predicted data of a length or row filter out of form";
    case Rule::badAsciiHex:
      return "ASCIIHex data out of form";
    case Rule::badAscii85:
      return "ASCII85 data out of form";
    case Rule::badRunLength:
      return "RunLength data out of form";
    case Rule::badLzw:
      return "LZW data out of form";
    case Rule::encrypted:
      return "an encrypted file";
    case Rule::noCatalog:
      return "no document catalog";
    case Rule::badPagesEntry:
      return "a catalog whose /Pages is no reference";
    case Rule::badPageTreeRoot:
      return "a page tree root with a /Parent or without /Kids";
    case Rule::pageTreeLoop:
      return "a page tree node reached twice";
    case Rule::badKids:
      return "/Kids that are not an array of dictionaries";
    case Rule::pageNotObject:
      return "a page written inside its node";
    case Rule::repeatedPage:
      return "a page reached twice";
  }
  return "an unnamed rule";
}

std::string describe(const Hostile& refused) {
  switch (refused.limit) {
    case Limit::referenceDepth:
      return "references followed more than " + std::to_string(kDeepestReference) + " deep";
    case Limit::pageTreeDepth:
      return "a page tree more than " + std::to_string(kDeepestTree) + " deep";
    case Limit::copyDepth:
      return "references followed from a page more than " + withSeparators(kDeepestCopy) + " deep";
    case Limit::streamDecoded:
      return "a stream that decodes to more than " + std::to_string(kLargestDecoded >> 20) + " MB";
    case Limit::allDecoded:
      return "streams that decode to more than " + std::to_string(kMostDecoded >> 20) +
             " MB in all";
    case Limit::values:
      return "more than " + withSeparators(refused.budget) + " values to read the pages";
    case Limit::copiedValues:
      return "more than " + withSeparators(refused.budget) + " values reached from the pages";
  }
  return "an unnamed limit";
}

}  // namespace vardelle::artwork::plain_pdf
