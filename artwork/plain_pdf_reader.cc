#include "artwork/plain_pdf_reader.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <limits>
#include <set>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "artwork/plain_pdf_filters.h"
#include "artwork/plain_pdf_limits.h"
#include "artwork/plain_pdf_values.h"
#include "base/block_file.h"
#include "base/diagnostics.h"
#include "base/print_failure.h"

namespace vardelle::artwork {

namespace {

using namespace plain_pdf;

constexpr size_t kFirstWindow = 4096;
constexpr size_t kLargestWindow = size_t(16) << 20;
// A budget that only counts.
constexpr size_t kUncounted = std::numeric_limits<size_t>::max();

// ---------------------------------------------------------------------------------------------
// The file, read in blocks

class FileBytes {
 public:
  explicit FileBytes(const std::string& path) : file_(path) {}

  long long size() const { return file_.size(); }

  // Up to `length` bytes from `offset`, fewer at the end of the file.
  std::string read(long long offset, size_t length) {
    std::string out(clamp(offset, length), '\0');
    if (file_.read(offset, out.data(), out.size()) != out.size()) {
      notPlain(Rule::fileChanged);  // the file shrank
    }
    return out;
  }

  // Bytes from `offset`: up to `length` of them, or fewer where they would cross into the next
  // block (then `complete` is false unless the file ends there). The view lasts until the next
  // read; `scratch` holds it when it must be put together.
  std::string_view view(long long offset, size_t length, std::string& scratch, bool& complete) {
    // A wider window than the first is asked for because the block ended too soon: it is put
    // together even where the file's end makes it no longer than the first.
    const bool widened = length > kFirstWindow;
    length = clamp(offset, length);
    std::string_view bytes = file_.from(offset);
    if (bytes.empty() && length > 0) notPlain(Rule::fileChanged);  // the file shrank
    if (bytes.size() < length && widened) {
      scratch = read(offset, length);
      bytes = scratch;
    }
    bytes = bytes.substr(0, length);
    complete = offset + (long long)bytes.size() >= size();
    return bytes;
  }

 private:
  size_t clamp(long long offset, size_t length) const {
    if (offset < 0 || offset > size()) notPlain(Rule::outsideFile);
    return size_t(std::min<long long>(size() - offset, (long long)length));
  }

  BlockFile file_;
};

// ---------------------------------------------------------------------------------------------
// The document

struct XrefEntry {
  int type = 0;          // 1: at an offset; 2: in an object stream
  long long field1 = 0;  // offset, or the object stream's number
};

struct ObjectStream {
  std::string data;
  std::unordered_map<long long, size_t> offsets;  // object number → where its value starts
};

class PlainPdf {
 public:
  // `bounded`: with the file's budgets of values (otherwise they are only counted).
  PlainPdf(const std::string& path, bool bounded)
      : file_(path),
        values_{Limit::values, bounded ? valueBudget(file_.size()) : kUncounted},
        copies_{Limit::copiedValues, bounded ? copyBudget(file_.size()) : kUncounted} {}

  long long fileBytes() const { return file_.size(); }
  size_t valuesSpent() const { return values_.spent; }
  size_t copiesSpent() const { return copies_.spent; }
  size_t decodedBytes() const { return decoded_; }
  // A stream was read through a filter other than Flate: what was read from it is measured, but
  // qpdf's decoding of such filters is not matched here closely enough to answer from it.
  bool usedOtherFilters() const { return usedOtherFilters_; }
  // The catalog has optional content properties: which layers print is qpdf's to read.
  bool layered() const { return layered_; }

  std::vector<PdfPageEntries> pages() {
    readCrossReferences();
    // Encryption needs qpdf's passwords and permissions, whatever the entry's value.
    if (trailer_.find("Encrypt")) notPlain(Rule::encrypted);
    const Value& root = resolve(get(trailer_, "Root"));
    if (!root.isDictionary()) notPlain(Rule::noCatalog);
    layered_ = root.find("OCProperties") != nullptr;
    const Value* pagesRef = root.find("Pages");
    if (!pagesRef || pagesRef->kind != Value::Kind::reference) notPlain(Rule::badPagesEntry);
    const Value& pagesRoot = resolve(*pagesRef);
    // qpdf repairs a /Pages entry that points into the tree, and counts none without /Kids.
    if (!pagesRoot.isDictionary() || present(pagesRoot, "Parent") || !present(pagesRoot, "Kids")) {
      notPlain(Rule::badPageTreeRoot);
    }
    std::vector<const Value*> pageObjects;
    std::set<uint64_t> nodes;
    std::set<uint64_t> seen;
    walk(*pagesRef, pageObjects, nodes, seen, 0);

    std::vector<PdfPageEntries> result;
    result.reserve(pageObjects.size());
    for (const Value* page : pageObjects) result.push_back(entriesOf(*page));
    return result;
  }

  // What qpdf builds and follows when it copies the pages into a sheet: every object they reach
  // (not up the page tree), with every object of each object stream it touches, since qpdf parses
  // an object stream whole. The values are only counted, against a budget of their own: qpdf
  // spends about 150 bytes on each, once however often the object is reached. qpdf copies
  // recursively, a frame per reference followed, so a chain of references (a linked list of a
  // hundred thousand one-element arrays in 1 MB) is measured too; a depth-first walk in the order
  // written finds such a chain, and the crash guard around the whole run catches one that only
  // qpdf's own order would find.
  void checkCopies() {
    struct Pending {
      uint64_t key;
      int depth;
    };
    std::vector<Pending> stack;
    for (auto page = pageKeys_.rbegin(); page != pageKeys_.rend(); ++page) {
      stack.push_back({*page, 1});
    }
    std::unordered_set<uint64_t> visited;
    std::vector<uint64_t> references;
    while (!stack.empty()) {
      const Pending next = stack.back();
      stack.pop_back();
      if (!visited.insert(next.key).second) continue;
      if (next.depth > kDeepestCopy) hostile(Limit::copyDepth);
      referencesOf(next.key, references);
      for (auto r = references.rbegin(); r != references.rend(); ++r) {
        if (!visited.count(*r)) stack.push_back({*r, next.depth + 1});
      }
    }
  }

 private:
  // --- cross references -----------------------------------------------------------------------

  long long startxref() {
    // The last "startxref" in the last 1054 bytes, as qpdf looks for it; any doubt about it is
    // left to qpdf's own search.
    const long long start = std::max<long long>(0, file_.size() - 1054);
    const std::string tail = file_.read(start, size_t(file_.size() - start));
    const size_t at = tail.rfind("startxref");
    // The keyword must be a whole token: "startxref355" is a word to qpdf.
    if (at == std::string::npos || at + 9 >= tail.size() || isRegular(tail[at + 9])) {
      notPlain(Rule::noStartxref);
    }
    Parser p(std::string_view(tail).substr(at + 9), true, values_);
    const size_t before = p.position();
    const long long offset = p.nonNegativeInteger();
    if (p.position() == before) notPlain(Rule::noStartxref);
    return offset;
  }

  void readCrossReferences() {
    const std::string head = file_.read(0, 16);
    // qpdf measures offsets from a header found later in the file; only the plain case here.
    if (head.size() < 8 || head.compare(0, 5, "%PDF-") != 0 || !isDigit(head[5]) ||
        head[6] != '.' || !isDigit(head[7])) {
      notPlain(Rule::noHeader);
    }
    std::unordered_set<long long> visited;
    long long offset = startxref();
    while (offset != 0) {
      if (offset < 0 || offset >= file_.size() || !visited.insert(offset).second)
        notPlain(Rule::sectionLoop);
      const std::string start = file_.read(offset, 5);
      if (start.size() == 5 && start.compare(0, 4, "xref") == 0 && isWhite(start[4])) {
        offset = withWindow(offset, [&](Parser& p) { return readTable(p); });
      } else {
        offset = readStream(offset);
      }
    }
    if (!trailerRead_) notPlain(Rule::noTrailer);
    // qpdf keeps each cross-reference stream as the object its header names: that object must be
    // the stream, where the table puts it.
    for (const auto& [key, offset] : xrefStreams_) {
      const auto entry = xref_.find(key);
      if (entry == xref_.end() || entry->second.type != 1 || entry->second.field1 != offset) {
        notPlain(Rule::xrefStreamMisplaced);
      }
    }
  }

  // Calls `read` on a parser over the file from `offset`, widening the window until it fits.
  template <typename Read>
  std::invoke_result_t<Read, Parser&> withWindow(long long offset, Read read) {
    return withWindow(offset, read, values_);
  }
  template <typename Read>
  std::invoke_result_t<Read, Parser&> withWindow(long long offset, Read read, Budget& budget) {
    std::string scratch;
    const size_t before = budget.spent;
    for (size_t length = kFirstWindow;; length *= 4) {
      bool complete = false;
      Parser p(file_.view(offset, length, scratch, complete), complete, budget);
      try {
        return read(p);
      } catch (const WindowTooShort&) {
        if (length >= kLargestWindow) notPlain(Rule::objectTooLong);
        budget.spent = before;  // the wider window reads the same values again
      }
    }
  }

  // An xref table and its trailer; the offset of the previous section, 0 for none.
  long long readTable(Parser& p) {
    p.token();  // "xref"
    struct Pending {
      int number;
      long long offset;
      long long generation;
    };
    std::vector<Pending> inUse;
    std::vector<std::pair<int, long long>> freed;
    // Subsections: "first count", then 20-byte entries. Only white space between them, as
    // qpdf reads them line by line.
    while (true) {
      p.skipWhite();
      if (!isDigit(p.bytes()[p.position()])) break;
      const long long first = p.digits();
      p.need(1);
      if (!isWhite(p.bytes()[p.position()])) notPlain(Rule::badTableSubsection);
      p.skipWhite();
      const long long count = p.digits();
      if (first + count > INT_MAX) notPlain(Rule::badTableSubsection);
      p.need(1);
      if (!isWhite(p.bytes()[p.position()])) notPlain(Rule::badTableSubsection);
      p.skipWhite();
      for (long long i = 0; i < count; ++i) {
        values_.spend(1);
        p.need(20);
        const size_t at = p.position();
        const std::string_view e = p.bytes().substr(at, 20);
        for (int k : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15}) {
          if (!isDigit(e[size_t(k)])) notPlain(Rule::badTableEntry);
        }
        const bool eol =
            (e[18] == ' ' && (e[19] == '\n' || e[19] == '\r')) || (e[18] == '\r' && e[19] == '\n');
        if (e[10] != ' ' || e[16] != ' ' || (e[17] != 'n' && e[17] != 'f') || !eol)
          notPlain(Rule::badTableEntry);
        long long field1 = 0;
        long long generation = 0;
        for (int k = 0; k < 10; ++k) field1 = field1 * 10 + (e[size_t(k)] - '0');
        for (int k = 11; k < 16; ++k) generation = generation * 10 + (e[size_t(k)] - '0');
        if (e[17] == 'n') {
          inUse.push_back({int(first + i), field1, generation});
        } else {
          freed.push_back({int(first + i), generation});
        }
        p.seek(at + 20);
      }
    }
    if (p.token() != "trailer") notPlain(Rule::noTrailer);
    Value trailer = p.value();
    // qpdf would read a dictionary followed by "stream" as a stream, and then find no trailer.
    if (!trailer.isDictionary() || p.word() == "stream") notPlain(Rule::badTrailer);
    // Entries go in as qpdf enters them: those in use at once, the free ones after the section.
    for (const Pending& e : inUse) insert(e.number, 1, e.offset, e.generation);
    for (const auto& [number, generation] : freed) insert(number, 0, 0, generation);
    if (!trailerRead_) {
      const Value* size = trailer.find("Size");
      if (!size || size->kind != Value::Kind::integer) notPlain(Rule::noSize);
    }
    // A hybrid file's second table is read differently by different readers.
    if (trailer.find("XRefStm")) notPlain(Rule::hybridFile);
    const long long previous = previousSection(trailer);
    keepTrailer(std::move(trailer));
    return previous;
  }

  long long readStream(long long offset) {
    uint64_t key = 0;
    Value stream = objectAt(offset, 0, 0, &key);
    xrefStreams_.push_back({key, offset});
    if (stream.kind != Value::Kind::stream) notPlain(Rule::badXrefStream);
    const Value* type = stream.find("Type");
    if (!type || type->kind != Value::Kind::name || type->name != "XRef")
      notPlain(Rule::badXrefStream);
    const Value* w = stream.find("W");
    const Value* size = stream.find("Size");
    const Value* index = stream.find("Index");
    if (!w || w->kind != Value::Kind::array || w->items.size() != 3) notPlain(Rule::badXrefStream);
    if (!size || size->kind != Value::Kind::integer || size->integer < 0)
      notPlain(Rule::badXrefStream);
    int widths[3];
    size_t entrySize = 0;
    for (int i = 0; i < 3; ++i) {
      const Value& item = w->items[size_t(i)];
      if (item.kind != Value::Kind::integer || item.integer < 0 || item.integer > 8)
        notPlain(Rule::badXrefStream);
      widths[i] = int(item.integer);
      entrySize += size_t(widths[i]);
    }
    if (entrySize == 0) notPlain(Rule::badXrefStream);
    std::vector<std::pair<long long, long long>> ranges;
    if (!index) {
      if (size->integer == 0) notPlain(Rule::badXrefStream);
      ranges.push_back({0, size->integer});
    } else {
      if (index->kind != Value::Kind::array || index->items.empty() || index->items.size() % 2) {
        notPlain(Rule::badXrefStream);
      }
      for (size_t i = 0; i < index->items.size(); i += 2) {
        const Value& a = index->items[i];
        const Value& b = index->items[i + 1];
        // qpdf numbers the entry after an empty range as that range's first object.
        if (a.kind != Value::Kind::integer || b.kind != Value::Kind::integer || a.integer < 0 ||
            b.integer <= 0 || a.integer + b.integer > INT_MAX) {
          notPlain(Rule::badXrefStream);
        }
        ranges.push_back({a.integer, b.integer});
      }
    }
    size_t entries = 0;
    for (const auto& range : ranges) {
      entries += size_t(range.second);
      if (entries > kLargestDecoded) notPlain(Rule::largeXrefStream);
    }
    values_.spend(entries);
    const std::string data = streamData(stream);
    if (data.size() != entries * entrySize) notPlain(Rule::xrefStreamSize);
    const unsigned char* at = reinterpret_cast<const unsigned char*>(data.data());
    for (const auto& [first, count] : ranges) {
      for (long long i = 0; i < count; ++i) {
        unsigned long long fields[3] = {widths[0] == 0 ? 1ull : 0ull, 0, 0};
        for (int f = 0; f < 3; ++f) {
          for (int k = 0; k < widths[f]; ++k) fields[f] = (fields[f] << 8) | *at++;
        }
        if (fields[0] > 2 || fields[1] > (unsigned long long)LLONG_MAX)
          notPlain(Rule::badXrefStreamEntry);
        if (fields[0] == 0) fields[2] = 0;
        if (fields[0] == 2 && fields[1] > (unsigned long long)INT_MAX)
          notPlain(Rule::badXrefStreamEntry);
        if (fields[2] > (unsigned long long)INT_MAX) notPlain(Rule::badXrefStreamEntry);
        insert(int(first + i), int(fields[0]), (long long)fields[1], (long long)fields[2]);
      }
    }
    const long long previous = previousSection(stream);
    stream.kind = Value::Kind::dictionary;
    keepTrailer(std::move(stream));
    return previous;
  }

  static long long previousSection(const Value& dictionary) {
    const Value* previous = dictionary.find("Prev");
    if (!previous || previous->kind == Value::Kind::null) return 0;
    if (previous->kind != Value::Kind::integer || previous->integer <= 0)
      notPlain(Rule::badPrevious);
    return previous->integer;
  }

  // The newest section's dictionary is the document's trailer.
  void keepTrailer(Value&& dictionary) {
    if (trailerRead_) return;
    trailer_ = std::move(dictionary);
    trailerRead_ = true;
  }

  // The first entry seen for an object, from the newest section, is the one that counts; an
  // object freed in a newer section stays freed.
  void insert(int number, int type, long long field1, long long generation) {
    const long long gen = type == 2 ? 0 : generation;
    if (xref_.count(objectKey(number, gen)) || freed_.count(number)) return;
    if (type == 0) {
      freed_.insert(number);
    } else {
      xref_[objectKey(number, gen)] = {type, field1};
    }
  }

  // --- objects --------------------------------------------------------------------------------

  // The object at `offset`, which must be numbered `number` `generation` (0 0: any number, for a
  // cross-reference stream). A stream's value is its dictionary, its data left in the file; its
  // length is checked here, where qpdf checks it, because qpdf repairs a wrong one.
  Value objectAt(long long offset, long long number, long long generation,
                 uint64_t* found = nullptr) {
    if (offset <= 0) notPlain(Rule::wrongObjectAtOffset);
    Value v = withWindow(offset, [&](Parser& p) {
      const long long n = p.nonNegativeInteger();
      const long long g = p.nonNegativeInteger();
      if (p.word() != "obj" || n == 0) notPlain(Rule::wrongObjectAtOffset);
      if (number != 0 && (n != number || g != generation)) notPlain(Rule::wrongObjectAtOffset);
      if (g > INT_MAX) notPlain(Rule::wrongObjectAtOffset);
      if (found) *found = objectKey(n, g);
      Value v = p.value();
      std::string_view next = p.word();
      if (next == "stream" && v.isDictionary()) {
        const std::string_view b = p.bytes();
        size_t at = p.position();
        if (at < b.size() && b[at] == '\r') ++at;
        if (at >= b.size()) throw WindowTooShort{};
        if (b[at] != '\n') notPlain(Rule::badStreamKeyword);
        v.kind = Value::Kind::stream;
        v.dataOffset = offset + (long long)at + 1;
        return v;
      }
      if (next != "endobj") notPlain(Rule::noEndobj);
      return v;
    });
    if (v.kind == Value::Kind::stream) {
      // A cross-reference stream is read before the table its references would need: what
      // reading it takes must be written in it.
      if (number == 0) {
        for (const char* key :
             {"Length", "Filter", "DecodeParms", "Type", "W", "Index", "Size", "Prev"}) {
          const Value* entry = v.find(key);
          if (entry && entry->kind == Value::Kind::reference)
            notPlain(Rule::xrefStreamNeedsReferences);
        }
      }
      // Data kept in another file is not this reader's business.
      if (v.find("F")) notPlain(Rule::externalStreamData);
      const Value& length = resolve(get(v, "Length"));
      if (length.kind != Value::Kind::integer || length.integer < 0 ||
          length.integer > file_.size() - v.dataOffset ||
          length.integer > (long long)kLargestDecoded) {
        notPlain(Rule::badStreamLength);
      }
      v.integer = length.integer;
      // The data must end where the dictionary says: "endstream" and "endobj" right after it.
      withWindow(v.dataOffset + length.integer, [&](Parser& p) {
        if (p.word() != "endstream" || p.word() != "endobj") notPlain(Rule::noEndstream);
        return 0;
      });
    }
    return v;
  }

  // The data of `stream` after its filter: none, or Flate with or without a PNG predictor, or
  // the other filters that decodedOtherwise reads.
  std::string streamData(const Value& stream) {
    const size_t length = size_t(stream.integer);
    std::string raw = file_.read(stream.dataOffset, length);
    if (std::optional<std::string> data = decodedOtherwise(stream, raw)) {
      usedOtherFilters_ = true;
      return std::move(*data);
    }

    const Value& filter = resolve(get(stream, "Filter"));
    const Value& parms = resolve(get(stream, "DecodeParms"));
    const Value* flate = nullptr;
    const Value* decodeParms = &parms;
    if (filter.kind == Value::Kind::name) {
      flate = &filter;
    } else if (filter.kind == Value::Kind::array && filter.items.size() == 1) {
      flate = &resolve(filter.items[0]);
      // One filter in an array takes its parameters from an array too.
      if (parms.kind == Value::Kind::array) {
        if (parms.items.size() != 1) notPlain(Rule::badDecodeParms);
        decodeParms = &resolve(parms.items[0]);
      } else if (parms.kind != Value::Kind::null) {
        notPlain(Rule::badDecodeParms);
      }
    } else if (filter.kind != Value::Kind::null) {
      notPlain(Rule::unsupportedFilter);
    }
    if (!flate) {
      if (parms.kind != Value::Kind::null) notPlain(Rule::badDecodeParms);
      return raw;
    }
    if (flate->kind != Value::Kind::name || flate->name != "FlateDecode") {
      notPlain(Rule::unsupportedFilter);
    }
    std::string data = inflated(raw);
    decoded_ += data.size();
    if (decoded_ > kMostDecoded) hostile(Limit::allDecoded);
    if (decodeParms->kind == Value::Kind::null) return data;
    if (!decodeParms->isDictionary()) notPlain(Rule::badDecodeParms);
    const Value& predictor = resolve(get(*decodeParms, "Predictor"));
    if (predictor.kind == Value::Kind::null ||
        (predictor.kind == Value::Kind::integer && predictor.integer == 1)) {
      return data;
    }
    if (predictor.kind != Value::Kind::integer || predictor.integer < 10 ||
        predictor.integer > 15) {
      notPlain(Rule::unsupportedPredictor);
    }
    const Value& colors = resolve(get(*decodeParms, "Colors"));
    const Value& bits = resolve(get(*decodeParms, "BitsPerComponent"));
    const Value& columns = resolve(get(*decodeParms, "Columns"));
    if ((colors.kind != Value::Kind::null &&
         !(colors.kind == Value::Kind::integer && colors.integer == 1)) ||
        (bits.kind != Value::Kind::null &&
         !(bits.kind == Value::Kind::integer && bits.integer == 8))) {
      notPlain(Rule::unsupportedPredictor);
    }
    long long width = 1;
    if (columns.kind != Value::Kind::null) {
      if (columns.kind != Value::Kind::integer || columns.integer < 1 ||
          columns.integer > 1 << 20) {
        notPlain(Rule::unsupportedPredictor);
      }
      width = columns.integer;
    }
    return unpredicted(data, size_t(width));
  }

  // The data of `stream` through the other filters qpdf decodes in object and cross-reference
  // streams (ASCIIHex, ASCII85, RunLength, LZW without parameters, and Flate among them); none
  // when Flate alone or no filter is asked for, which streamData reads itself. What is read
  // through them is measured, never answered from: a filter chosen to slip a chain or a bomb past
  // the limits would otherwise take the file to qpdf unmeasured.
  std::optional<std::string> decodedOtherwise(const Value& stream, const std::string& raw) {
    const Value& filter = resolve(get(stream, "Filter"));
    std::vector<std::string> names;
    if (filter.kind == Value::Kind::name) {
      names.push_back(filter.name);
    } else if (filter.kind == Value::Kind::array) {
      for (const Value& item : filter.items) {
        const Value& name = resolve(item);
        if (name.kind != Value::Kind::name) notPlain(Rule::unsupportedFilter);
        names.push_back(name.name);
      }
    }
    if (names.empty() || (names.size() == 1 && names[0] == "FlateDecode")) return std::nullopt;
    const Value& parms = resolve(get(stream, "DecodeParms"));
    if (parms.kind == Value::Kind::array) {
      for (const Value& item : parms.items) {
        if (resolve(item).kind != Value::Kind::null) notPlain(Rule::badDecodeParms);
      }
    } else if (parms.kind != Value::Kind::null) {
      notPlain(Rule::badDecodeParms);
    }
    std::string data = raw;
    for (const std::string& name : names) {
      if (name == "FlateDecode" || name == "Fl") {
        data = inflated(data);
      } else if (name == "ASCIIHexDecode" || name == "AHx") {
        data = fromHex(data);
      } else if (name == "ASCII85Decode" || name == "A85") {
        data = fromAscii85(data);
      } else if (name == "RunLengthDecode" || name == "RL") {
        data = fromRunLength(data);
      } else if (name == "LZWDecode" || name == "LZW") {
        data = fromLzw(data);
      } else {
        notPlain(Rule::unsupportedFilter);
      }
      decoded_ += data.size();
      if (decoded_ > kMostDecoded) hostile(Limit::allDecoded);
    }
    return data;
  }

  static const Value& get(const Value& dictionary, std::string_view key) {
    const Value* v = dictionary.find(key);
    return v ? *v : kNull;
  }

  // The value behind a reference (the value itself when it is not one). A reference to no
  // object is left to qpdf.
  const Value& resolve(const Value& v) {
    if (v.kind != Value::Kind::reference) return v;
    const uint64_t key = objectKey(v.integer, v.generation);
    if (auto it = objects_.find(key); it != objects_.end()) return it->second;
    if (!resolving_.insert(key).second) notPlain(Rule::selfReference);  // a value made of itself
    if (resolving_.size() > size_t(kDeepestReference)) hostile(Limit::referenceDepth);
    const auto entry = xref_.find(key);
    if (entry == xref_.end()) notPlain(Rule::missingObject);
    Value object;
    if (entry->second.type == 1) {
      object = objectAt(entry->second.field1, v.integer, v.generation);
    } else {
      object = fromObjectStream(entry->second.field1, v.integer);
    }
    if (objects_.size() > 1000000) notPlain(Rule::manyObjects);
    resolving_.erase(key);
    return objects_.emplace(key, std::move(object)).first->second;
  }

  Value fromObjectStream(long long streamNumber, long long number) {
    const ObjectStream& objects = objectStream(streamNumber);
    const auto at = objects.offsets.find(number);
    if (at == objects.offsets.end()) notPlain(Rule::objectNotInStream);
    Parser p(std::string_view(objects.data).substr(at->second), true, values_);
    return p.value();
  }

  // Object stream `streamNumber`, read and indexed on first use.
  const ObjectStream& objectStream(long long streamNumber) {
    auto it = objectStreams_.find(streamNumber);
    if (it == objectStreams_.end()) {
      const auto entry = xref_.find(objectKey(streamNumber, 0));
      if (entry == xref_.end() || entry->second.type != 1) notPlain(Rule::badObjectStream);
      Value reference;
      reference.kind = Value::Kind::reference;
      reference.integer = streamNumber;
      const Value& stream = resolve(reference);
      if (stream.kind != Value::Kind::stream) notPlain(Rule::badObjectStream);
      const Value* type = stream.find("Type");
      const Value* n = stream.find("N");
      const Value* first = stream.find("First");
      if (!type || type->kind != Value::Kind::name || type->name != "ObjStm" || !n ||
          n->kind != Value::Kind::integer || !first || first->kind != Value::Kind::integer ||
          n->integer < 0 || first->integer < 0) {
        notPlain(Rule::badObjectStream);
      }
      ObjectStream objects;
      objects.data = streamData(stream);
      if (first->integer > (long long)objects.data.size()) notPlain(Rule::badObjectStream);
      Parser header(std::string_view(objects.data).substr(0, size_t(first->integer)), true,
                    values_);
      for (long long i = 0; i < n->integer; ++i) {
        values_.spend(1);
        const long long objectNumber = header.nonNegativeInteger();
        const long long offset = header.nonNegativeInteger();
        if (offset + first->integer >= (long long)objects.data.size() ||
            !objects.offsets.emplace(objectNumber, size_t(offset + first->integer)).second) {
          notPlain(Rule::badObjectStream);
        }
      }
      it = objectStreams_.emplace(streamNumber, std::move(objects)).first;
    }
    return it->second;
  }

  // The references in object `key`'s value (a stream's dictionary), into `out`. qpdf reads an
  // object that is not there as null.
  void referencesOf(uint64_t key, std::vector<uint64_t>& out) {
    const auto entry = xref_.find(key);
    if (entry == xref_.end()) return;
    if (entry->second.type == 1) {
      withWindow(
          entry->second.field1,
          [&](Parser& p) {
            out.clear();
            p.nonNegativeInteger();
            p.nonNegativeInteger();
            if (p.word() != "obj") notPlain(Rule::wrongObjectAtOffset);
            p.references(out);
            return 0;
          },
          copies_);
      return;
    }
    const ObjectStream& objects = objectStream(entry->second.field1);
    if (countedStreams_.insert(entry->second.field1).second) {
      for (const auto& [number, offset] : objects.offsets) {
        Parser p(std::string_view(objects.data).substr(offset), true, copies_);
        p.references(out);
      }
    }
    out.clear();
    const auto at = objects.offsets.find(static_cast<long long>(key >> 32));
    if (at == objects.offsets.end()) notPlain(Rule::objectNotInStream);
    // Counted with its whole stream above.
    Budget counted{Limit::copiedValues, kUncounted};
    Parser p(std::string_view(objects.data).substr(at->second), true, counted);
    p.references(out);
  }

  // --- the page tree --------------------------------------------------------------------------

  // Present with a value other than null, as qpdf's hasKey counts it.
  bool present(const Value& dictionary, std::string_view key) {
    const Value* v = dictionary.find(key);
    return v && resolve(*v).kind != Value::Kind::null;
  }

  void walk(const Value& nodeRef, std::vector<const Value*>& pages, std::set<uint64_t>& nodes,
            std::set<uint64_t>& seen, int depth) {
    if (depth > kDeepestTree) hostile(Limit::pageTreeDepth);
    if (!nodes.insert(objectKey(nodeRef.integer, nodeRef.generation)).second)
      notPlain(Rule::pageTreeLoop);
    const Value& node = resolve(nodeRef);
    // qpdf reads every node's and page's /Type; reading it here fails where qpdf would repair.
    resolve(get(node, "Type"));
    const Value& kids = resolve(get(node, "Kids"));
    if (kids.kind != Value::Kind::array) notPlain(Rule::badKids);
    for (const Value& kid : kids.items) {
      // qpdf makes direct and repeated pages into objects of their own.
      if (kid.kind != Value::Kind::reference) notPlain(Rule::pageNotObject);
      const Value& object = resolve(kid);
      if (!object.isDictionary()) notPlain(Rule::badKids);
      if (present(object, "Kids")) {
        walk(kid, pages, nodes, seen, depth + 1);
      } else {
        if (!seen.insert(objectKey(kid.integer, kid.generation)).second)
          notPlain(Rule::repeatedPage);
        resolve(get(object, "Type"));
        pages.push_back(&object);
        pageKeys_.push_back(objectKey(kid.integer, kid.generation));
      }
    }
  }

  // The nearest non-null entry up the page's /Parent chain; null when there is none.
  const Value& inherited(const Value& page, std::string_view key) {
    const Value* node = &page;
    for (int depth = 0; depth < 256 && node->isDictionary(); ++depth) {
      const Value& value = resolve(get(*node, key));
      if (value.kind != Value::Kind::null) return value;
      node = &resolve(get(*node, "Parent"));
    }
    return kNull;
  }

  std::optional<Rect> rectangle(const Value& box) {
    if (box.kind != Value::Kind::array || box.items.size() != 4) return std::nullopt;
    double corners[4];
    for (size_t i = 0; i < 4; ++i) {
      const Value& item = resolve(box.items[i]);
      if (!item.isNumber()) return std::nullopt;
      corners[i] = item.number();
    }
    return pdfRectangle(corners);
  }

  PdfPageEntries entriesOf(const Value& page) {
    PdfPageEntries entries;
    entries.mediaBox = rectangle(inherited(page, "MediaBox"));
    entries.cropBox = rectangle(inherited(page, "CropBox"));
    const Value& rotate = inherited(page, "Rotate");
    if (rotate.kind == Value::Kind::integer) {
      entries.rotate = {PdfRotateEntry::Kind::integer, rotate.integer, 0};
    } else if (rotate.kind == Value::Kind::real) {
      entries.rotate = {PdfRotateEntry::Kind::real, 0, rotate.real};
    }
    const Value& unit = resolve(get(page, "UserUnit"));
    if (unit.isNumber()) entries.userUnit = unit.number();
    return entries;
  }

  FileBytes file_;
  Value trailer_;
  bool trailerRead_ = false;
  std::unordered_map<uint64_t, XrefEntry> xref_;
  std::vector<std::pair<uint64_t, long long>> xrefStreams_;  // object, offset
  size_t decoded_ = 0;
  bool usedOtherFilters_ = false;
  bool layered_ = false;
  Budget values_;
  Budget copies_;
  std::vector<uint64_t> pageKeys_;
  std::unordered_set<long long> countedStreams_;
  std::unordered_set<long long> freed_;
  std::unordered_map<uint64_t, Value> objects_;
  std::unordered_set<uint64_t> resolving_;
  std::unordered_map<long long, ObjectStream> objectStreams_;
};

// The one rule that decides whether a PDF can be read, whichever mode reads it: its pages and
// everything they reach, within the limits. Nothing when the file is not plain (or cannot be
// read: qpdf then says why); refuses a file past a limit.
struct Reading {
  std::vector<PdfPageEntries> pages;
  bool answerable;  // read without the filters whose decoding is only measured
  bool layered;     // its catalog has optional content properties
  PdfCheck measured;
};

std::optional<Reading> readWithinLimits(const std::string& path, std::string_view who) {
  try {
    PlainPdf pdf(path, true);
    Reading reading{pdf.pages(), false, pdf.layered(), {}};
    pdf.checkCopies();
    reading.answerable = !pdf.usedOtherFilters();
    reading.measured = {pdf.fileBytes(), pdf.copiesSpent()};
    return reading;
  } catch (const std::system_error& e) {
    debugNote(std::string(who) + ": " + e.what());
  } catch (const NotPlain& declined) {
    debugNote(std::string(who) + ": declined: " + std::string(describe(declined.rule)));
  } catch (const Hostile& refused) {
    debugNote(std::string(who) + ": refused: " + describe(refused));
    throw PrintFailure(kUnreadablePdfSentence);
  }
  return std::nullopt;
}

}  // namespace

std::optional<PdfCheck> checkPdfBeforeQpdf(const std::string& path) {
  std::optional<Reading> reading = readWithinLimits(path, "plain PDF check");
  if (!reading) return std::nullopt;
  return reading->measured;
}

std::optional<PlainPdfPages> readPlainPdfPages(const std::string& path) {
  std::optional<Reading> reading = readWithinLimits(path, "plain PDF reader");
  if (!reading) return std::nullopt;
  if (!reading->answerable) {
    debugNote("plain PDF reader: declined: a filter other than Flate, measured but left to qpdf");
    return std::nullopt;
  }
  return PlainPdfPages{std::move(reading->pages), reading->layered};
}

PdfStructureCount countPdfStructure(const std::string& path) {
  PdfStructureCount count;
  std::optional<PlainPdf> pdf;
  try {
    pdf.emplace(path, false);
    pdf->pages();
    pdf->checkCopies();
    if (pdf->usedOtherFilters()) count.stoppedBy = "read through a filter other than Flate";
  } catch (const std::system_error& e) {
    count.stoppedBy = std::string("unreadable: ") + e.what();
  } catch (const NotPlain& declined) {
    count.stoppedBy = "declined: " + std::string(describe(declined.rule));
  } catch (const Hostile& refused) {
    count.stoppedBy = "refused: " + describe(refused);
  }
  if (pdf) {
    count.fileBytes = pdf->fileBytes();
    count.decodedBytes = pdf->decodedBytes();
    count.values = pdf->valuesSpent();
    count.copiedValues = pdf->copiesSpent();
  }
  return count;
}

}  // namespace vardelle::artwork
