#include "artwork/plain_pdf_values.h"

#include <cctype>
#include <charconv>
#include <climits>
#include <system_error>
#include <utility>

#include "artwork/plain_pdf_limits.h"

namespace vardelle::artwork::plain_pdf {

namespace {

// The entries the reader looks at (of /Encrypt only whether it is there); all others are checked
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
                                               "OCProperties",
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

}  // namespace

const Value kNull{};

const Value* Value::find(std::string_view key) const {
  for (const Entry& e : entries) {
    if (e.key == key) return &e.value;
  }
  return nullptr;
}

void Parser::ranOut() const {
  if (complete_) notPlain(Rule::endOfData);
  throw WindowTooShort{};
}

long long Parser::digits() {
  const size_t start = p_;
  long long v = 0;
  while (isDigit(peekAt(p_))) {
    v = v * 10 + (s_[p_++] - '0');
    if (p_ - start > 18) notPlain(Rule::longNumber);
  }
  if (p_ == start) notPlain(Rule::notANumber);
  return v;
}

void Parser::skipSpace() {
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
      notPlain(Rule::nulBetweenTokens);
    } else {
      return;
    }
  }
}

std::string_view Parser::token() {
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

long long Parser::nonNegativeInteger() {
  skipSpace();
  const std::string_view t = token();
  if (t.empty() || t.size() > 18) notPlain(Rule::longNumber);
  long long v = 0;
  for (char c : t) {
    if (!isDigit(c)) notPlain(Rule::notANumber);
    v = v * 10 + (c - '0');
  }
  return v;
}

Value Parser::value() { return parse<true>(0); }

void Parser::references(std::vector<uint64_t>& out) {
  references_ = &out;
  parse<false>(0);
  references_ = nullptr;
}

// A value; with `Keep` false only its syntax is checked, and an empty value is returned.
template <bool Keep>
Value Parser::parse(int depth) {
  if (depth > kDeepestValue) notPlain(Rule::deepValue);
  if (Keep || references_) values_.spend(1);
  skipSpace();
  const char c = s_[p_];
  Value v;
  if (c == '/') {
    ++p_;
    const std::string_view t = token();
    // qpdf decodes "#xx"; a name this reader keeps must be read without doing so. A name it
    // only skips (a font named /Times#20Roman among the resources) ends where qpdf's does.
    if (t.empty()) notPlain(Rule::emptyName);
    if (Keep && t.find('#') != std::string_view::npos) notPlain(Rule::escapedName);
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
      if (key.kind != Value::Kind::name) notPlain(Rule::keyNotName);
      if (!Keep) {
        std::vector<uint64_t>* const collecting = references_;
        if (p_ == keyAt + 7 && s_.compare(keyAt, 7, "/Parent") == 0) references_ = nullptr;
        parse<false>(depth + 1);
        references_ = collecting;
        continue;
      }
      // Which of two entries of one key counts is a reader's choice.
      if (v.find(key.name)) notPlain(Rule::repeatedKey);
      if (!isKept(key.name)) {
        parse<false>(depth + 1);
        continue;
      }
      if (v.entries.empty()) v.entries.reserve(4);
      Value value;
      // Only whether they are there counts; qpdf reads them.
      if (key.name == "Encrypt" || key.name == "OCProperties") {
        parse<false>(depth + 1);
        value.kind = Value::Kind::unread;
      } else {
        value = parse<true>(depth + 1);
      }
      v.entries.push_back({std::move(key.name), std::move(value)});
    }
    if (peekAt(p_ + 1) != '>') notPlain(Rule::unclosedDictionary);
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
      notPlain(Rule::unknownWord);  // "R" too: a reference is read whole, from its first number
    }
  } else {
    notPlain(Rule::unexpectedDelimiter);
  }
  return v;
}

// After the integer `v` inside an array or dictionary: "g R" makes it a reference, as qpdf joins
// the two integers before an R. (An object's own value is never one.)
void Parser::referenceAfter(Value& v) {
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
  if (g.size() > 10 || v.integer <= 0 || v.integer > INT_MAX) notPlain(Rule::referenceOutOfRange);
  long long generation = 0;
  for (char ch : g) generation = generation * 10 + (ch - '0');
  if (generation > INT_MAX) notPlain(Rule::referenceOutOfRange);
  v.kind = Value::Kind::reference;
  v.generation = generation;
}

Value Parser::number(std::string_view t) {
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
    if (!isDigit(t[i])) notPlain(Rule::notANumber);
    ++digits;
  }
  if (digits == 0) notPlain(Rule::notANumber);
  if (dot == std::string_view::npos) {
    if (t.size() > 18) notPlain(Rule::longNumber);
    long long n = 0;
    for (char c : t) n = n * 10 + (c - '0');
    v.kind = Value::Kind::integer;
    v.integer = negative ? -n : n;
    return v;
  }
  double d = 0;
  const auto [end, error] =
      std::from_chars(t.data(), t.data() + t.size(), d, std::chars_format::fixed);
  if (error != std::errc() || end != t.data() + t.size()) notPlain(Rule::notANumber);
  v.kind = Value::Kind::real;
  v.real = negative ? -d : d;
  return v;
}

void Parser::skipHexString() {
  while (true) {
    const char c = peekAt(p_++);
    if (c == '>') return;
    if (!isWhite(c) && !std::isxdigit(static_cast<unsigned char>(c))) {
      notPlain(Rule::badHexString);
    }
  }
}

void Parser::skipLiteralString() {
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

}  // namespace vardelle::artwork::plain_pdf
