#pragma once

// The values of a plain PDF and the parser that reads them from bytes in memory, for the plain
// reader (plain_pdf_reader.h). Only the entries the reader looks at are kept; everything else is
// checked for syntax as qpdf would read it, and dropped.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "artwork/plain_pdf_limits.h"

namespace vardelle::artwork::plain_pdf {

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
  /// The entry for `key` as written (it may be a reference); null when there is none.
  const Value* find(std::string_view key) const;
};

struct Entry {
  std::string key;
  Value value;
};

/// The null value, for an entry that is not there.
extern const Value kNull;

/// The key under which an object is known: its number and generation.
inline uint64_t objectKey(long long number, long long generation) {
  return (uint64_t(number) << 32) | uint64_t(generation);
}

inline bool isWhite(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f'; }
inline bool isDelimiter(char c) {
  return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' ||
         c == '}' || c == '/' || c == '%';
}
/// NUL and vertical tab end a token but are not read past: readers disagree on them.
inline bool isRegular(char c) { return !isWhite(c) && !isDelimiter(c) && c != '\0' && c != '\v'; }
inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

/// Thrown when a window of the file ended inside what was being read: read again with a wider
/// one.
struct WindowTooShort {};

/// Reads values from bytes in memory. Where the bytes depart from the plain syntax it throws
/// NotPlain; where they end too soon, NotPlain when they are `complete` (they run to the end of
/// what can be read), WindowTooShort otherwise. Each value that counts is taken from the budget
/// it is given, which refuses the file (Hostile) when it runs out.
class Parser {
 public:
  Parser(std::string_view bytes, bool complete, Budget& values)
      : s_(bytes), complete_(complete), values_(values) {}

  size_t position() const { return p_; }
  void seek(size_t p) { p_ = p; }
  std::string_view bytes() const { return s_; }
  /// Fails unless `n` more bytes can be read from here.
  void need(size_t n) const {
    if (p_ + n > s_.size()) ranOut();
  }

  /// White space only: where a comment would be read as something else by another reader.
  void skipWhite() {
    while (isWhite(peekAt(p_))) ++p_;
  }
  /// White space and comments.
  void skipSpace();

  /// A run of decimal digits right here (at most 18).
  long long digits();
  /// The run of regular characters from here (empty at a delimiter).
  std::string_view token();
  /// The next token after white space, which must be a whole word.
  std::string_view word() {
    skipSpace();
    return token();
  }
  /// The next token after white space, which must be a non-negative integer of at most 18 digits.
  long long nonNegativeInteger();

  /// The value starting here, with the values of dictionary entries this reader never looks at
  /// checked for syntax but not kept. Each value kept counts.
  Value value();

  /// The references in the value starting here, in the order written, into `out`; nothing of it
  /// is kept, but each value in it counts all the same, since qpdf builds it. A /Parent entry's
  /// reference is left out: it leads up the page tree, which qpdf does not copy.
  void references(std::vector<uint64_t>& out);

 private:
  [[noreturn]] void ranOut() const;
  char peekAt(size_t at) const {
    if (at >= s_.size()) ranOut();
    return s_[at];
  }

  template <bool Keep>
  Value parse(int depth);
  void referenceAfter(Value& v);
  static Value number(std::string_view t);
  void skipHexString();
  void skipLiteralString();

  std::string_view s_;
  size_t p_ = 0;
  bool complete_;
  Budget& values_;
  std::vector<uint64_t>* references_ = nullptr;
};

}  // namespace vardelle::artwork::plain_pdf
