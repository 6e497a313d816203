#include "artwork/plain_pdf_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <set>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "base/block_file.h"
#include "base/diagnostics.h"
#include "base/print_failure.h"

namespace vardelle::artwork {

namespace {

// Wherever the file departs from the plain structure, reading stops and qpdf takes the file. Each
// rule below is stricter than qpdf's, never looser, so what is read here is what qpdf reads.
// `line` says which rule declined the file, for the developer's notes.
struct NotPlain {
  int line;
};
[[noreturn]] void notPlain(int line) { throw NotPlain{line}; }

// The file is built so that following it would exhaust the stack or the memory of any reader:
// declining is no answer, since qpdf would follow it the same way, without a limit. The file is
// refused as damaged instead. `line` says which limit it reached.
struct Hostile {
  int line;
};
[[noreturn]] void hostile(int line) { throw Hostile{line}; }

// A window of the file ended inside what was being read: read again with a wider one.
struct WindowTooShort {};

constexpr size_t kFirstWindow = 4096;
constexpr size_t kLargestWindow = size_t(16) << 20;
// Only object streams and cross-reference streams are decoded here, and qpdf decodes and parses
// the same ones whole: more than this is a bomb for either reader, refused rather than declined.
constexpr size_t kLargestDecoded = size_t(64) << 20;
// All decoded streams together: a file of many small bombs is refused as one large one is.
constexpr size_t kMostDecoded = size_t(256) << 20;
constexpr int kDeepestValue = 64;
// No writer nests page-tree nodes this deep (balanced trees of a million pages are 10 deep), and
// qpdf walks the tree recursively, a frame per level: a deeper tree is refused, not declined.
constexpr int kDeepestTree = 256;
// References followed while another is being resolved: an object in an object stream whose
// /Length is an object in another object stream, and so on. Writers store the lengths of object
// streams in place, so a plain file needs 4 or 5; each link costs a few hundred bytes of stack
// here and about 2.7 KB in qpdf, so thousands of them end both readers with SIGSEGV.
constexpr int kDeepestReference = 32;
// Each value built costs about 120 bytes (more while a vector grows), whatever it costs in the
// file: "[]" takes 2 bytes, and Flate turns 60 KB into 30 million of them. A file's own bytes
// bound what a writer can put in it, so the budget grows with the file (a value takes more than 8
// bytes in any file a writer makes, compressed or not) above a floor that no 10,000-page document
// reaches (about 16 values a page). Cross-reference entries and object-stream offsets count too:
// a few kilobytes of Flate declare millions of objects.
constexpr size_t kLeastValueBudget = 1000000;
constexpr size_t kFileBytesPerValue = 8;
// What the pages reach, counted for qpdf (which copies it into a sheet): not built here, so the
// floor only keeps qpdf near 300 MB.
constexpr size_t kLeastCopyBudget = 2000000;
// References followed from a page to what it draws: resources, forms, fonts, annotations. A
// real page is a few dozen deep at most; qpdf's copy takes one or two KB of stack per level.
constexpr int kDeepestCopy = 1000;

// ---------------------------------------------------------------------------------------------
// Values

struct Entry;

struct Value {
  // `unread`: an entry whose value this reader never looks at, kept only as being there.
  enum class Kind : uint8_t {
    null,
    boolean,
    integer,
    real,
    name,
    string,
    array,
    dictionary,
    reference,
    stream,
    unread
  };
  Kind kind = Kind::null;
  long long integer = 0;     // integer; the object number of a reference; a stream's length
  long long generation = 0;  // reference
  double real = 0;
  std::string name;            // without the slash
  std::vector<Value> items;    // array
  std::vector<Entry> entries;  // dictionary, and a stream's dictionary
  long long dataOffset = 0;    // stream: where its data starts in the file

  bool isDictionary() const { return kind == Kind::dictionary; }
  bool isNumber() const { return kind == Kind::integer || kind == Kind::real; }
  double number() const { return kind == Kind::integer ? double(integer) : real; }
  // The entry for `key` as written (it may be a reference); null when there is none.
  const Value* find(std::string_view key) const;
};

struct Entry {
  std::string key;
  Value value;
};

const Value* Value::find(std::string_view key) const {
  for (const Entry& e : entries) {
    if (e.key == key) return &e.value;
  }
  return nullptr;
}

const Value kNull{};

// The entries this reader looks at (of /Encrypt only whether it is there); all others are checked
// for syntax and dropped.
bool isKept(std::string_view key) {
  static constexpr std::string_view kKept[] = {"BitsPerComponent",
                                               "Colors",
                                               "Columns",
                                               "CropBox",
                                               "DecodeParms",
                                               "Encrypt",
                                               "F",
                                               "Filter",
                                               "First",
                                               "Index",
                                               "Kids",
                                               "Length",
                                               "MediaBox",
                                               "N",
                                               "Pages",
                                               "Parent",
                                               "Predictor",
                                               "Prev",
                                               "Root",
                                               "Rotate",
                                               "Size",
                                               "Type",
                                               "UserUnit",
                                               "W",
                                               "XRefStm"};
  for (std::string_view k : kKept) {
    if (k == key) return true;
  }
  return false;
}

uint64_t objectKey(long long number, long long generation) {
  return (uint64_t(number) << 32) | uint64_t(generation);
}

// ---------------------------------------------------------------------------------------------
// Lexing and parsing of one value from bytes in memory

bool isWhite(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f'; }
bool isDelimiter(char c) {
  return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' ||
         c == '}' || c == '/' || c == '%';
}
// NUL and vertical tab end a token but are not read past: readers disagree on them.
bool isRegular(char c) { return !isWhite(c) && !isDelimiter(c) && c != '\0' && c != '\v'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

void spend(size_t& left, size_t n, int line) {
  if (n > left) hostile(line);
  left -= n;
}

class Parser {
 public:
  // `complete`: the bytes run to the end of what can be read, so running out is final. Each
  // value kept is taken from `valuesLeft`.
  Parser(std::string_view bytes, bool complete, size_t& valuesLeft)
      : s_(bytes), complete_(complete), valuesLeft_(valuesLeft) {}

  size_t position() const { return p_; }
  void seek(size_t p) { p_ = p; }
  std::string_view bytes() const { return s_; }
  // Fails unless `n` more bytes can be read from here.
  void need(size_t n) const {
    if (p_ + n > s_.size()) ranOut();
  }

  // White space only: where a comment would be read as something else by another reader.
  void skipWhite() {
    while (isWhite(peekAt(p_))) ++p_;
  }

  // A run of decimal digits right here (at most 18).
  long long digits() {
    const size_t start = p_;
    long long v = 0;
    while (isDigit(peekAt(p_))) {
      v = v * 10 + (s_[p_++] - '0');
      if (p_ - start > 18) notPlain(__LINE__);
    }
    if (p_ == start) notPlain(__LINE__);
    return v;
  }

  void skipSpace() {
    while (true) {
      if (p_ >= s_.size()) ranOut();
      const char c = s_[p_];
      if (isWhite(c)) {
        ++p_;
      } else if (c == '%') {
        while (true) {
          if (p_ >= s_.size()) ranOut();
          if (s_[p_] == '\r' || s_[p_] == '\n') break;
          ++p_;
        }
      } else if (c == '\0' || c == '\v') {
        notPlain(__LINE__);
      } else {
        return;
      }
    }
  }

  // The run of regular characters from here (empty at a delimiter).
  std::string_view token() {
    const size_t start = p_;
    while (true) {
      if (p_ >= s_.size()) {
        if (!complete_) throw WindowTooShort{};
        break;
      }
      if (!isRegular(s_[p_])) break;
      ++p_;
    }
    return s_.substr(start, p_ - start);
  }

  // The next token after white space, which must be a whole word.
  std::string_view word() {
    skipSpace();
    return token();
  }

  long long nonNegativeInteger() {
    skipSpace();
    const std::string_view t = token();
    if (t.empty() || t.size() > 18) notPlain(__LINE__);
    long long v = 0;
    for (char c : t) {
      if (!isDigit(c)) notPlain(__LINE__);
      v = v * 10 + (c - '0');
    }
    return v;
  }

  // The value starting here, with the values of dictionary entries this reader never looks at
  // checked for syntax but not kept.
  Value value(int depth = 0) { return parse<true>(depth); }

  // The references in the value starting here, in the order written, nothing of it kept; each
  // value in it is taken from the budget all the same, since qpdf builds it. A /Parent entry's
  // reference is left out: it leads up the page tree, which qpdf does not copy.
  void references(std::vector<uint64_t>& out) {
    references_ = &out;
    parse<false>(0);
    references_ = nullptr;
  }

 private:
  [[noreturn]] void ranOut() const {
    if (complete_) notPlain(__LINE__);
    throw WindowTooShort{};
  }
  char peekAt(size_t at) const {
    if (at >= s_.size()) ranOut();
    return s_[at];
  }

  // A value; with `Keep` false only its syntax is checked, and an empty value is returned.
  template <bool Keep>
  Value parse(int depth) {
    if (depth > kDeepestValue) notPlain(__LINE__);
    if (Keep || references_) spend(valuesLeft_, 1, __LINE__);
    skipSpace();
    const char c = s_[p_];
    Value v;
    if (c == '/') {
      ++p_;
      const std::string_view t = token();
      // qpdf decodes "#xx"; a name this reader keeps must be read without doing so. A name it
      // only skips (a font named /Times#20Roman among the resources) ends where qpdf's does.
      if (t.empty() || (Keep && t.find('#') != std::string_view::npos)) notPlain(__LINE__);
      v.kind = Value::Kind::name;
      if (Keep) v.name = t;
    } else if (c == '[') {
      ++p_;
      v.kind = Value::Kind::array;
      while (true) {
        skipSpace();
        if (s_[p_] == ']') break;
        Value item = parse<Keep>(depth + 1);
        if (!Keep) continue;
        if (v.items.empty()) v.items.reserve(4);
        v.items.push_back(std::move(item));
      }
      ++p_;
    } else if (c == '<' && peekAt(p_ + 1) == '<') {
      p_ += 2;
      v.kind = Value::Kind::dictionary;
      while (true) {
        skipSpace();
        if (s_[p_] == '>') break;
        const size_t keyAt = p_;
        Value key = parse<Keep>(depth + 1);
        if (key.kind != Value::Kind::name) notPlain(__LINE__);
        if (!Keep) {
          std::vector<uint64_t>* const collecting = references_;
          if (p_ == keyAt + 7 && s_.compare(keyAt, 7, "/Parent") == 0) references_ = nullptr;
          parse<false>(depth + 1);
          references_ = collecting;
          continue;
        }
        // Which of two entries of one key counts is a reader's choice.
        if (v.find(key.name)) notPlain(__LINE__);
        if (!isKept(key.name)) {
          parse<false>(depth + 1);
          continue;
        }
        if (v.entries.empty()) v.entries.reserve(4);
        Value value;
        if (key.name == "Encrypt") {
          parse<false>(depth + 1);
          value.kind = Value::Kind::unread;
        } else {
          value = parse<true>(depth + 1);
        }
        v.entries.push_back({std::move(key.name), std::move(value)});
      }
      if (peekAt(p_ + 1) != '>') notPlain(__LINE__);
      p_ += 2;
    } else if (c == '<') {
      ++p_;
      skipHexString();
      v.kind = Value::Kind::string;
    } else if (c == '(') {
      ++p_;
      skipLiteralString();
      v.kind = Value::Kind::string;
    } else if (isDigit(c) || c == '+' || c == '-' || c == '.') {
      v = number(token());
      if (v.kind == Value::Kind::integer && depth > 0) referenceAfter(v);
      if (!Keep && references_ && v.kind == Value::Kind::reference) {
        references_->push_back(objectKey(v.integer, v.generation));
      }
    } else if (isRegular(c)) {
      const std::string_view t = token();
      if (t == "true" || t == "false") {
        v.kind = Value::Kind::boolean;
      } else if (t != "null") {
        notPlain(__LINE__);  // "R" too: a reference is read whole, from its first number
      }
    } else {
      notPlain(__LINE__);
    }
    return v;
  }

  // After the integer `v` inside an array or dictionary: "g R" makes it a reference, as qpdf joins
  // the two integers before an R. (An object's own value is never one.)
  void referenceAfter(Value& v) {
    const size_t start = p_;
    skipSpace();
    if (!isDigit(s_[p_])) {
      p_ = start;
      return;
    }
    const std::string_view g = token();
    for (char ch : g) {
      if (!isDigit(ch)) {
        p_ = start;
        return;
      }
    }
    skipSpace();
    if (s_[p_] != 'R' || isRegular(peekAt(p_ + 1))) {
      p_ = start;
      return;
    }
    ++p_;
    if (g.size() > 10 || v.integer <= 0 || v.integer > INT_MAX) notPlain(__LINE__);
    long long generation = 0;
    for (char ch : g) generation = generation * 10 + (ch - '0');
    if (generation > INT_MAX) notPlain(__LINE__);
    v.kind = Value::Kind::reference;
    v.generation = generation;
  }

  static Value number(std::string_view t) {
    Value v;
    bool negative = false;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
      negative = t[0] == '-';
      t.remove_prefix(1);
    }
    const size_t dot = t.find('.');
    size_t digits = 0;
    for (size_t i = 0; i < t.size(); ++i) {
      if (i == dot) continue;
      if (!isDigit(t[i])) notPlain(__LINE__);
      ++digits;
    }
    if (digits == 0) notPlain(__LINE__);
    if (dot == std::string_view::npos) {
      if (t.size() > 18) notPlain(__LINE__);
      long long n = 0;
      for (char c : t) n = n * 10 + (c - '0');
      v.kind = Value::Kind::integer;
      v.integer = negative ? -n : n;
      return v;
    }
    double d = 0;
    const auto [end, error] =
        std::from_chars(t.data(), t.data() + t.size(), d, std::chars_format::fixed);
    if (error != std::errc() || end != t.data() + t.size()) notPlain(__LINE__);
    v.kind = Value::Kind::real;
    v.real = negative ? -d : d;
    return v;
  }

  void skipHexString() {
    while (true) {
      const char c = peekAt(p_++);
      if (c == '>') return;
      if (!isWhite(c) && !std::isxdigit(static_cast<unsigned char>(c))) notPlain(__LINE__);
    }
  }

  void skipLiteralString() {
    int open = 1;
    while (true) {
      const char c = peekAt(p_++);
      if (c == '\\') {
        peekAt(p_++);
      } else if (c == '(') {
        ++open;
      } else if (c == ')' && --open == 0) {
        return;
      }
    }
  }

  std::string_view s_;
  size_t p_ = 0;
  bool complete_;
  size_t& valuesLeft_;
  std::vector<uint64_t>* references_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// The file, read in blocks

class FileBytes {
 public:
  explicit FileBytes(const std::string& path) : file_(path) {}

  long long size() const { return file_.size(); }

  // Up to `length` bytes from `offset`, fewer at the end of the file.
  std::string read(long long offset, size_t length) {
    std::string out(clamp(offset, length), '\0');
    if (file_.read(offset, out.data(), out.size()) != out.size()) notPlain(__LINE__);  // shrank
    return out;
  }

  // Bytes from `offset`: up to `length` of them, or fewer where they would cross into the next
  // block (then `complete` is false unless the file ends there). The view lasts until the next
  // read; `scratch` holds it when it must be put together.
  std::string_view view(long long offset, size_t length, std::string& scratch, bool& complete) {
    length = clamp(offset, length);
    std::string_view bytes = file_.from(offset);
    if (bytes.empty() && length > 0) notPlain(__LINE__);  // the file shrank
    if (bytes.size() < length && length > kFirstWindow) {
      scratch = read(offset, length);
      bytes = scratch;
    }
    bytes = bytes.substr(0, length);
    complete = offset + (long long)bytes.size() >= size();
    return bytes;
  }

 private:
  size_t clamp(long long offset, size_t length) const {
    if (offset < 0 || offset > size()) notPlain(__LINE__);
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
  // `lenient`: also decode the filters other than Flate, for checkPdfBeforeQpdf only.
  PlainPdf(const std::string& path, bool lenient)
      : lenient_(lenient),
        file_(path),
        valuesLeft_(std::max(kLeastValueBudget, size_t(file_.size()) / kFileBytesPerValue)),
        copiesLeft_(std::max(kLeastCopyBudget, size_t(file_.size()) / kFileBytesPerValue)) {}

  std::vector<PdfPageEntries> pages() {
    readCrossReferences();
    // Encryption needs qpdf's passwords and permissions, whatever the entry's value.
    if (trailer_.find("Encrypt")) notPlain(__LINE__);
    const Value& root = resolve(get(trailer_, "Root"));
    if (!root.isDictionary()) notPlain(__LINE__);
    const Value* pagesRef = root.find("Pages");
    if (!pagesRef || pagesRef->kind != Value::Kind::reference) notPlain(__LINE__);
    const Value& pagesRoot = resolve(*pagesRef);
    // qpdf repairs a /Pages entry that points into the tree, and counts none without /Kids.
    if (!pagesRoot.isDictionary() || present(pagesRoot, "Parent") || !present(pagesRoot, "Kids")) {
      notPlain(__LINE__);
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
  // spends about 150 bytes on each. qpdf copies recursively, a frame per reference followed, so a
  // chain of references (a linked list of a hundred thousand one-element arrays in 1 MB) is
  // measured too; a depth-first walk in the order written finds such a chain, and the crash
  // guard around the whole run catches one that only qpdf's own order would find.
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
      if (next.depth > kDeepestCopy) hostile(__LINE__);
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
      notPlain(__LINE__);
    }
    Parser p(std::string_view(tail).substr(at + 9), true, valuesLeft_);
    const size_t before = p.position();
    const long long offset = p.nonNegativeInteger();
    if (p.position() == before) notPlain(__LINE__);
    return offset;
  }

  void readCrossReferences() {
    const std::string head = file_.read(0, 16);
    // qpdf measures offsets from a header found later in the file; only the plain case here.
    if (head.size() < 8 || head.compare(0, 5, "%PDF-") != 0 || !isDigit(head[5]) ||
        head[6] != '.' || !isDigit(head[7])) {
      notPlain(__LINE__);
    }
    std::unordered_set<long long> visited;
    long long offset = startxref();
    while (offset != 0) {
      if (offset < 0 || offset >= file_.size() || !visited.insert(offset).second)
        notPlain(__LINE__);
      const std::string start = file_.read(offset, 5);
      if (start.size() == 5 && start.compare(0, 4, "xref") == 0 && isWhite(start[4])) {
        offset = withWindow(offset, [&](Parser& p) { return readTable(p); });
      } else {
        offset = readStream(offset);
      }
    }
    if (!trailerRead_) notPlain(__LINE__);
    // qpdf keeps each cross-reference stream as the object its header names: that object must be
    // the stream, where the table puts it.
    for (const auto& [key, offset] : xrefStreams_) {
      const auto entry = xref_.find(key);
      if (entry == xref_.end() || entry->second.type != 1 || entry->second.field1 != offset) {
        notPlain(__LINE__);
      }
    }
  }

  // Calls `read` on a parser over the file from `offset`, widening the window until it fits.
  template <typename Read>
  std::invoke_result_t<Read, Parser&> withWindow(long long offset, Read read) {
    return withWindow(offset, read, valuesLeft_);
  }
  template <typename Read>
  std::invoke_result_t<Read, Parser&> withWindow(long long offset, Read read, size_t& budget) {
    std::string scratch;
    const size_t before = budget;
    for (size_t length = kFirstWindow;; length *= 4) {
      bool complete = false;
      Parser p(file_.view(offset, length, scratch, complete), complete, budget);
      try {
        return read(p);
      } catch (const WindowTooShort&) {
        if (length >= kLargestWindow) notPlain(__LINE__);
        budget = before;  // the wider window reads the same values again
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
      if (!isWhite(p.bytes()[p.position()])) notPlain(__LINE__);
      p.skipWhite();
      const long long count = p.digits();
      if (first + count > INT_MAX) notPlain(__LINE__);
      p.need(1);
      if (!isWhite(p.bytes()[p.position()])) notPlain(__LINE__);
      p.skipWhite();
      for (long long i = 0; i < count; ++i) {
        spend(valuesLeft_, 1, __LINE__);
        p.need(20);
        const size_t at = p.position();
        const std::string_view e = p.bytes().substr(at, 20);
        for (int k : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15}) {
          if (!isDigit(e[size_t(k)])) notPlain(__LINE__);
        }
        const bool eol =
            (e[18] == ' ' && (e[19] == '\n' || e[19] == '\r')) || (e[18] == '\r' && e[19] == '\n');
        if (e[10] != ' ' || e[16] != ' ' || (e[17] != 'n' && e[17] != 'f') || !eol)
          notPlain(__LINE__);
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
    if (p.token() != "trailer") notPlain(__LINE__);
    Value trailer = p.value();
    // qpdf would read a dictionary followed by "stream" as a stream, and then find no trailer.
    if (!trailer.isDictionary() || p.word() == "stream") notPlain(__LINE__);
    // Entries go in as qpdf enters them: those in use at once, the free ones after the section.
    for (const Pending& e : inUse) insert(e.number, 1, e.offset, e.generation);
    for (const auto& [number, generation] : freed) insert(number, 0, 0, generation);
    if (!trailerRead_) {
      const Value* size = trailer.find("Size");
      if (!size || size->kind != Value::Kind::integer) notPlain(__LINE__);
    }
    // A hybrid file's second table is read differently by different readers.
    if (trailer.find("XRefStm")) notPlain(__LINE__);
    const long long previous = previousSection(trailer);
    keepTrailer(std::move(trailer));
    return previous;
  }

  long long readStream(long long offset) {
    uint64_t key = 0;
    Value stream = objectAt(offset, 0, 0, &key);
    xrefStreams_.push_back({key, offset});
    if (stream.kind != Value::Kind::stream) notPlain(__LINE__);
    const Value* type = stream.find("Type");
    if (!type || type->kind != Value::Kind::name || type->name != "XRef") notPlain(__LINE__);
    const Value* w = stream.find("W");
    const Value* size = stream.find("Size");
    const Value* index = stream.find("Index");
    if (!w || w->kind != Value::Kind::array || w->items.size() != 3) notPlain(__LINE__);
    if (!size || size->kind != Value::Kind::integer || size->integer < 0) notPlain(__LINE__);
    int widths[3];
    size_t entrySize = 0;
    for (int i = 0; i < 3; ++i) {
      const Value& item = w->items[size_t(i)];
      if (item.kind != Value::Kind::integer || item.integer < 0 || item.integer > 8)
        notPlain(__LINE__);
      widths[i] = int(item.integer);
      entrySize += size_t(widths[i]);
    }
    if (entrySize == 0) notPlain(__LINE__);
    std::vector<std::pair<long long, long long>> ranges;
    if (!index) {
      if (size->integer == 0) notPlain(__LINE__);
      ranges.push_back({0, size->integer});
    } else {
      if (index->kind != Value::Kind::array || index->items.empty() || index->items.size() % 2) {
        notPlain(__LINE__);
      }
      for (size_t i = 0; i < index->items.size(); i += 2) {
        const Value& a = index->items[i];
        const Value& b = index->items[i + 1];
        // qpdf numbers the entry after an empty range as that range's first object.
        if (a.kind != Value::Kind::integer || b.kind != Value::Kind::integer || a.integer < 0 ||
            b.integer <= 0 || a.integer + b.integer > INT_MAX) {
          notPlain(__LINE__);
        }
        ranges.push_back({a.integer, b.integer});
      }
    }
    size_t entries = 0;
    for (const auto& range : ranges) {
      entries += size_t(range.second);
      if (entries > kLargestDecoded) notPlain(__LINE__);
    }
    spend(valuesLeft_, entries, __LINE__);
    const std::string data = streamData(stream);
    if (data.size() != entries * entrySize) notPlain(__LINE__);
    const unsigned char* at = reinterpret_cast<const unsigned char*>(data.data());
    for (const auto& [first, count] : ranges) {
      for (long long i = 0; i < count; ++i) {
        unsigned long long fields[3] = {widths[0] == 0 ? 1ull : 0ull, 0, 0};
        for (int f = 0; f < 3; ++f) {
          for (int k = 0; k < widths[f]; ++k) fields[f] = (fields[f] << 8) | *at++;
        }
        if (fields[0] > 2 || fields[1] > (unsigned long long)LLONG_MAX) notPlain(__LINE__);
        if (fields[0] == 0) fields[2] = 0;
        if (fields[0] == 2 && fields[1] > (unsigned long long)INT_MAX) notPlain(__LINE__);
        if (fields[2] > (unsigned long long)INT_MAX) notPlain(__LINE__);
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
    if (previous->kind != Value::Kind::integer || previous->integer <= 0) notPlain(__LINE__);
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
    if (offset <= 0) notPlain(__LINE__);
    Value v = withWindow(offset, [&](Parser& p) {
      const long long n = p.nonNegativeInteger();
      const long long g = p.nonNegativeInteger();
      if (p.word() != "obj" || n == 0) notPlain(__LINE__);
      if (number != 0 && (n != number || g != generation)) notPlain(__LINE__);
      if (g > INT_MAX) notPlain(__LINE__);
      if (found) *found = objectKey(n, g);
      Value v = p.value();
      std::string_view next = p.word();
      if (next == "stream" && v.isDictionary()) {
        const std::string_view b = p.bytes();
        size_t at = p.position();
        if (at < b.size() && b[at] == '\r') ++at;
        if (at >= b.size()) throw WindowTooShort{};
        if (b[at] != '\n') notPlain(__LINE__);
        v.kind = Value::Kind::stream;
        v.dataOffset = offset + (long long)at + 1;
        return v;
      }
      if (next != "endobj") notPlain(__LINE__);
      return v;
    });
    if (v.kind == Value::Kind::stream) {
      // A cross-reference stream is read before the table its references would need: what
      // reading it takes must be written in it.
      if (number == 0) {
        for (const char* key :
             {"Length", "Filter", "DecodeParms", "Type", "W", "Index", "Size", "Prev"}) {
          const Value* entry = v.find(key);
          if (entry && entry->kind == Value::Kind::reference) notPlain(__LINE__);
        }
      }
      // Data kept in another file is not this reader's business.
      if (v.find("F")) notPlain(__LINE__);
      const Value& length = resolve(get(v, "Length"));
      if (length.kind != Value::Kind::integer || length.integer < 0 ||
          length.integer > file_.size() - v.dataOffset ||
          length.integer > (long long)kLargestDecoded) {
        notPlain(__LINE__);
      }
      v.integer = length.integer;
      // The data must end where the dictionary says: "endstream" and "endobj" right after it.
      withWindow(v.dataOffset + length.integer, [&](Parser& p) {
        if (p.word() != "endstream" || p.word() != "endobj") notPlain(__LINE__);
        return 0;
      });
    }
    return v;
  }

  // The data of `stream` after its filter: none, or Flate with or without a PNG predictor.
  std::string streamData(const Value& stream) {
    const size_t length = size_t(stream.integer);
    std::string raw = file_.read(stream.dataOffset, length);
    if (lenient_) {
      if (std::optional<std::string> data = decodedLeniently(stream, raw)) return std::move(*data);
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
        if (parms.items.size() != 1) notPlain(__LINE__);
        decodeParms = &resolve(parms.items[0]);
      } else if (parms.kind != Value::Kind::null) {
        notPlain(__LINE__);
      }
    } else if (filter.kind != Value::Kind::null) {
      notPlain(__LINE__);
    }
    if (!flate) {
      if (parms.kind != Value::Kind::null) notPlain(__LINE__);
      return raw;
    }
    if (flate->kind != Value::Kind::name || flate->name != "FlateDecode") notPlain(__LINE__);
    std::string data = inflated(raw);
    decoded_ += data.size();
    if (decoded_ > kMostDecoded) hostile(__LINE__);
    if (decodeParms->kind == Value::Kind::null) return data;
    if (!decodeParms->isDictionary()) notPlain(__LINE__);
    const Value& predictor = resolve(get(*decodeParms, "Predictor"));
    if (predictor.kind == Value::Kind::null ||
        (predictor.kind == Value::Kind::integer && predictor.integer == 1)) {
      return data;
    }
    if (predictor.kind != Value::Kind::integer || predictor.integer < 10 ||
        predictor.integer > 15) {
      notPlain(__LINE__);
    }
    const Value& colors = resolve(get(*decodeParms, "Colors"));
    const Value& bits = resolve(get(*decodeParms, "BitsPerComponent"));
    const Value& columns = resolve(get(*decodeParms, "Columns"));
    if ((colors.kind != Value::Kind::null &&
         !(colors.kind == Value::Kind::integer && colors.integer == 1)) ||
        (bits.kind != Value::Kind::null &&
         !(bits.kind == Value::Kind::integer && bits.integer == 8))) {
      notPlain(__LINE__);
    }
    long long width = 1;
    if (columns.kind != Value::Kind::null) {
      if (columns.kind != Value::Kind::integer || columns.integer < 1 ||
          columns.integer > 1 << 20) {
        notPlain(__LINE__);
      }
      width = columns.integer;
    }
    return unpredicted(data, size_t(width));
  }

  // The data of `stream` through the other filters qpdf decodes in object and cross-reference
  // streams (ASCIIHex, ASCII85, RunLength, LZW without parameters, and Flate among them); none
  // when Flate alone or no filter is asked for, which streamData reads itself. Only the check
  // before qpdf reads these: it answers nothing from them, and a filter chosen to slip a chain or
  // a bomb past it would otherwise take the file to qpdf unmeasured.
  std::optional<std::string> decodedLeniently(const Value& stream, const std::string& raw) {
    const Value& filter = resolve(get(stream, "Filter"));
    std::vector<std::string> names;
    if (filter.kind == Value::Kind::name) {
      names.push_back(filter.name);
    } else if (filter.kind == Value::Kind::array) {
      for (const Value& item : filter.items) {
        const Value& name = resolve(item);
        if (name.kind != Value::Kind::name) notPlain(__LINE__);
        names.push_back(name.name);
      }
    }
    if (names.empty() || (names.size() == 1 && names[0] == "FlateDecode")) return std::nullopt;
    const Value& parms = resolve(get(stream, "DecodeParms"));
    if (parms.kind == Value::Kind::array) {
      for (const Value& item : parms.items) {
        if (resolve(item).kind != Value::Kind::null) notPlain(__LINE__);
      }
    } else if (parms.kind != Value::Kind::null) {
      notPlain(__LINE__);
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
        notPlain(__LINE__);
      }
      decoded_ += data.size();
      if (decoded_ > kMostDecoded) hostile(__LINE__);
    }
    return data;
  }

  static void limitDecoded(const std::string& out) {
    if (out.size() >= kLargestDecoded) hostile(__LINE__);
  }

  static std::string fromHex(const std::string& in) {
    std::string out;
    int high = -1;
    for (char c : in) {
      if (c == '>') break;
      if (isWhite(c)) continue;
      const int v = std::isxdigit(static_cast<unsigned char>(c))
                        ? (isDigit(c) ? c - '0' : (std::tolower(c) - 'a' + 10))
                        : -1;
      if (v < 0) notPlain(__LINE__);
      if (high < 0) {
        high = v;
      } else {
        out += char(high * 16 + v);
        high = -1;
      }
    }
    if (high >= 0) out += char(high * 16);
    return out;
  }

  static std::string fromAscii85(const std::string& in) {
    std::string out;
    uint64_t group = 0;
    int count = 0;
    auto put = [&](int bytes) {
      if (group > 0xffffffffu) notPlain(__LINE__);
      for (int k = 0; k < bytes; ++k) out += char((group >> (24 - 8 * k)) & 0xff);
    };
    for (char c : in) {
      if (isWhite(c)) continue;
      if (c == '~') break;
      if (c == 'z' && count == 0) {
        out.append(4, '\0');
      } else {
        if (c < '!' || c > 'u') notPlain(__LINE__);
        group = group * 85 + uint64_t(c - '!');
        if (++count == 5) {
          put(4);
          group = 0;
          count = 0;
        }
      }
      limitDecoded(out);
    }
    if (count == 1) notPlain(__LINE__);
    if (count > 1) {
      for (int k = count; k < 5; ++k) group = group * 85 + 84;
      put(count - 1);
    }
    return out;
  }

  static std::string fromRunLength(const std::string& in) {
    std::string out;
    for (size_t i = 0; i < in.size();) {
      const unsigned length = static_cast<unsigned char>(in[i++]);
      if (length == 128) break;
      if (length < 128) {
        if (i + length + 1 > in.size()) notPlain(__LINE__);
        out.append(in, i, length + 1);
        i += length + 1;
      } else {
        if (i >= in.size()) notPlain(__LINE__);
        out.append(257 - length, in[i++]);
      }
      limitDecoded(out);
    }
    return out;
  }

  // LZW with the default early change, as qpdf's Pl_LZWDecoder reads it.
  static std::string fromLzw(const std::string& in) {
    std::vector<std::string> table;
    auto reset = [&] {
      table.assign(258, std::string());
      for (int c = 0; c < 256; ++c) table[size_t(c)] = std::string(1, char(c));
    };
    reset();
    std::string out;
    std::string previous;
    bool havePrevious = false;
    unsigned width = 9;
    uint32_t buffer = 0;
    unsigned bits = 0;
    for (char byte : in) {
      buffer = (buffer << 8) | static_cast<unsigned char>(byte);
      bits += 8;
      while (bits >= width) {
        const uint32_t code = (buffer >> (bits - width)) & ((1u << width) - 1);
        bits -= width;
        if (code == 256) {
          reset();
          width = 9;
          havePrevious = false;
          continue;
        }
        if (code == 257) return out;
        std::string entry;
        if (code < 256 || (code > 257 && code < table.size())) {
          entry = table[code];
        } else if (code == table.size() && havePrevious) {
          entry = previous + previous[0];
        } else {
          notPlain(__LINE__);
        }
        out += entry;
        limitDecoded(out);
        if (havePrevious && table.size() < 4096) table.push_back(previous + entry[0]);
        previous = std::move(entry);
        havePrevious = true;
        if (table.size() + 1 >= (size_t(1) << width) && width < 12) ++width;
      }
    }
    return out;
  }

  static std::string inflated(const std::string& raw) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) notPlain(__LINE__);
    std::unique_ptr<z_stream, int (*)(z_stream*)> closer(&z, &inflateEnd);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
    z.avail_in = uInt(raw.size());
    std::string out;
    while (true) {
      if (out.size() >= kLargestDecoded) hostile(__LINE__);
      const size_t before = out.size();
      out.resize(before + std::max<size_t>(raw.size() * 4, 65536));
      z.next_out = reinterpret_cast<Bytef*>(out.data() + before);
      z.avail_out = uInt(out.size() - before);
      const int status = inflate(&z, Z_NO_FLUSH);
      out.resize(out.size() - z.avail_out);
      if (status == Z_STREAM_END) return out;
      if (status != Z_OK) notPlain(__LINE__);
      if (z.avail_in == 0 && z.avail_out != 0) notPlain(__LINE__);  // the data ended early
    }
  }

  // Undoes PNG prediction of one byte per sample: each row is a filter byte and `width` bytes.
  static std::string unpredicted(const std::string& data, size_t width) {
    const size_t row = width + 1;
    if (data.size() % row != 0) notPlain(__LINE__);
    std::string out;
    out.reserve(data.size() / row * width);
    std::string previous(width, '\0');
    std::string current(width, '\0');
    for (size_t at = 0; at < data.size(); at += row) {
      const int filter = static_cast<unsigned char>(data[at]);
      for (size_t i = 0; i < width; ++i) {
        const int x = static_cast<unsigned char>(data[at + 1 + i]);
        const int a = i ? static_cast<unsigned char>(current[i - 1]) : 0;
        const int b = static_cast<unsigned char>(previous[i]);
        const int c = i ? static_cast<unsigned char>(previous[i - 1]) : 0;
        int predicted = 0;
        switch (filter) {
          case 0:
            break;
          case 1:
            predicted = a;
            break;
          case 2:
            predicted = b;
            break;
          case 3:
            predicted = (a + b) / 2;
            break;
          case 4: {
            const int p = a + b - c;
            const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
            predicted = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
            break;
          }
          default:
            notPlain(__LINE__);
        }
        current[i] = char((x + predicted) & 0xff);
      }
      out += current;
      std::swap(previous, current);
    }
    return out;
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
    if (!resolving_.insert(key).second) notPlain(__LINE__);  // a value made of itself
    if (resolving_.size() > size_t(kDeepestReference)) hostile(__LINE__);
    const auto entry = xref_.find(key);
    if (entry == xref_.end()) notPlain(__LINE__);
    Value object;
    if (entry->second.type == 1) {
      object = objectAt(entry->second.field1, v.integer, v.generation);
    } else {
      object = fromObjectStream(entry->second.field1, v.integer);
    }
    if (objects_.size() > 1000000) notPlain(__LINE__);
    resolving_.erase(key);
    return objects_.emplace(key, std::move(object)).first->second;
  }

  Value fromObjectStream(long long streamNumber, long long number) {
    const ObjectStream& objects = objectStream(streamNumber);
    const auto at = objects.offsets.find(number);
    if (at == objects.offsets.end()) notPlain(__LINE__);
    Parser p(std::string_view(objects.data).substr(at->second), true, valuesLeft_);
    return p.value();
  }

  // Object stream `streamNumber`, read and indexed on first use.
  const ObjectStream& objectStream(long long streamNumber) {
    auto it = objectStreams_.find(streamNumber);
    if (it == objectStreams_.end()) {
      const auto entry = xref_.find(objectKey(streamNumber, 0));
      if (entry == xref_.end() || entry->second.type != 1) notPlain(__LINE__);
      Value reference;
      reference.kind = Value::Kind::reference;
      reference.integer = streamNumber;
      const Value& stream = resolve(reference);
      if (stream.kind != Value::Kind::stream) notPlain(__LINE__);
      const Value* type = stream.find("Type");
      const Value* n = stream.find("N");
      const Value* first = stream.find("First");
      if (!type || type->kind != Value::Kind::name || type->name != "ObjStm" || !n ||
          n->kind != Value::Kind::integer || !first || first->kind != Value::Kind::integer ||
          n->integer < 0 || first->integer < 0) {
        notPlain(__LINE__);
      }
      ObjectStream objects;
      objects.data = streamData(stream);
      if (first->integer > (long long)objects.data.size()) notPlain(__LINE__);
      Parser header(std::string_view(objects.data).substr(0, size_t(first->integer)), true,
                    valuesLeft_);
      for (long long i = 0; i < n->integer; ++i) {
        spend(valuesLeft_, 1, __LINE__);
        const long long objectNumber = header.nonNegativeInteger();
        const long long offset = header.nonNegativeInteger();
        if (offset + first->integer >= (long long)objects.data.size() ||
            !objects.offsets.emplace(objectNumber, size_t(offset + first->integer)).second) {
          notPlain(__LINE__);
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
            if (p.word() != "obj") notPlain(__LINE__);
            p.references(out);
            return 0;
          },
          copiesLeft_);
      return;
    }
    const ObjectStream& objects = objectStream(entry->second.field1);
    if (countedStreams_.insert(entry->second.field1).second) {
      for (const auto& [number, offset] : objects.offsets) {
        Parser p(std::string_view(objects.data).substr(offset), true, copiesLeft_);
        p.references(out);
      }
    }
    out.clear();
    const auto at = objects.offsets.find(static_cast<long long>(key >> 32));
    if (at == objects.offsets.end()) notPlain(__LINE__);
    Parser p(std::string_view(objects.data).substr(at->second), true, copiesLeft_);
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
    if (depth > kDeepestTree) hostile(__LINE__);
    if (!nodes.insert(objectKey(nodeRef.integer, nodeRef.generation)).second) notPlain(__LINE__);
    const Value& node = resolve(nodeRef);
    // qpdf reads every node's and page's /Type; reading it here fails where qpdf would repair.
    resolve(get(node, "Type"));
    const Value& kids = resolve(get(node, "Kids"));
    if (kids.kind != Value::Kind::array) notPlain(__LINE__);
    for (const Value& kid : kids.items) {
      // qpdf makes direct and repeated pages into objects of their own.
      if (kid.kind != Value::Kind::reference) notPlain(__LINE__);
      const Value& object = resolve(kid);
      if (!object.isDictionary()) notPlain(__LINE__);
      if (present(object, "Kids")) {
        walk(kid, pages, nodes, seen, depth + 1);
      } else {
        if (!seen.insert(objectKey(kid.integer, kid.generation)).second) notPlain(__LINE__);
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

  const bool lenient_;
  FileBytes file_;
  Value trailer_;
  bool trailerRead_ = false;
  std::unordered_map<uint64_t, XrefEntry> xref_;
  std::vector<std::pair<uint64_t, long long>> xrefStreams_;  // object, offset
  size_t decoded_ = 0;
  size_t valuesLeft_;
  size_t copiesLeft_;
  std::vector<uint64_t> pageKeys_;
  std::unordered_set<long long> countedStreams_;
  std::unordered_set<long long> freed_;
  std::unordered_map<uint64_t, Value> objects_;
  std::unordered_set<uint64_t> resolving_;
  std::unordered_map<long long, ObjectStream> objectStreams_;
};

}  // namespace

bool checkPdfBeforeQpdf(const std::string& path, bool copying) {
  try {
    PlainPdf pdf(path, true);
    pdf.pages();
    if (copying) pdf.checkCopies();
    return true;
  } catch (const std::system_error& e) {
    debugNote(std::string("plain PDF check: ") + e.what());
  } catch (const NotPlain& declined) {
    debugNote("plain PDF check: declined by the rule at plain_pdf_reader.cc:" +
              std::to_string(declined.line));
  } catch (const Hostile& refused) {
    debugNote("plain PDF check: refused by the limit at plain_pdf_reader.cc:" +
              std::to_string(refused.line));
    throw PrintFailure(kUnreadablePdfSentence);
  }
  return false;
}

std::optional<std::vector<PdfPageEntries>> readPlainPdfPages(const std::string& path) {
  try {
    PlainPdf pdf(path, false);
    return pdf.pages();
  } catch (const std::system_error& e) {
    debugNote(std::string("plain PDF reader: ") + e.what());
    return std::nullopt;
  } catch (const NotPlain& declined) {
    debugNote("plain PDF reader: declined by the rule at plain_pdf_reader.cc:" +
              std::to_string(declined.line));
    return std::nullopt;
  } catch (const Hostile& refused) {
    debugNote("plain PDF reader: refused by the limit at plain_pdf_reader.cc:" +
              std::to_string(refused.line));
    throw PrintFailure(kUnreadablePdfSentence);
  }
}

}  // namespace vardelle::artwork
