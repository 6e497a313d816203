#include "artwork/plain_pdf_filters.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "artwork/plain_pdf_limits.h"
#include "artwork/plain_pdf_values.h"

namespace vardelle::artwork::plain_pdf {

namespace {

void limitDecoded(const std::string& out) {
  if (out.size() >= kLargestDecoded) hostile(Limit::streamDecoded);
}

}  // namespace

std::string fromHex(const std::string& in) {
  std::string out;
  int high = -1;
  for (char c : in) {
    if (c == '>') break;
    if (isWhite(c)) continue;
    const int v = std::isxdigit(static_cast<unsigned char>(c))
                      ? (isDigit(c) ? c - '0' : (std::tolower(c) - 'a' + 10))
                      : -1;
    if (v < 0) notPlain(Rule::badAsciiHex);
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

std::string fromAscii85(const std::string& in) {
  std::string out;
  uint64_t group = 0;
  int count = 0;
  auto put = [&](int bytes) {
    if (group > 0xffffffffu) notPlain(Rule::badAscii85);
    for (int k = 0; k < bytes; ++k) out += char((group >> (24 - 8 * k)) & 0xff);
  };
  for (char c : in) {
    if (isWhite(c)) continue;
    if (c == '~') break;
    if (c == 'z' && count == 0) {
      out.append(4, '\0');
    } else {
      if (c < '!' || c > 'u') notPlain(Rule::badAscii85);
      group = group * 85 + uint64_t(c - '!');
      if (++count == 5) {
        put(4);
        group = 0;
        count = 0;
      }
    }
    limitDecoded(out);
  }
  if (count == 1) notPlain(Rule::badAscii85);
  if (count > 1) {
    for (int k = count; k < 5; ++k) group = group * 85 + 84;
    put(count - 1);
  }
  return out;
}

std::string fromRunLength(const std::string& in) {
  std::string out;
  for (size_t i = 0; i < in.size();) {
    const unsigned length = static_cast<unsigned char>(in[i++]);
    if (length == 128) break;
    if (length < 128) {
      if (i + length + 1 > in.size()) notPlain(Rule::badRunLength);
      out.append(in, i, length + 1);
      i += length + 1;
    } else {
      if (i >= in.size()) notPlain(Rule::badRunLength);
      out.append(257 - length, in[i++]);
    }
    limitDecoded(out);
  }
  return out;
}

std::string fromLzw(const std::string& in) {
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
        notPlain(Rule::badLzw);
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

std::string inflated(const std::string& raw) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) notPlain(Rule::badFlate);
  std::unique_ptr<z_stream, int (*)(z_stream*)> closer(&z, &inflateEnd);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
  z.avail_in = uInt(raw.size());
  std::string out;
  while (true) {
    if (out.size() >= kLargestDecoded) hostile(Limit::streamDecoded);
    const size_t before = out.size();
    out.resize(before + std::max<size_t>(raw.size() * 4, 65536));
    z.next_out = reinterpret_cast<Bytef*>(out.data() + before);
    z.avail_out = uInt(out.size() - before);
    const int status = inflate(&z, Z_NO_FLUSH);
    out.resize(out.size() - z.avail_out);
    if (status == Z_STREAM_END) return out;
    if (status != Z_OK) notPlain(Rule::badFlate);
    if (z.avail_in == 0 && z.avail_out != 0) notPlain(Rule::badFlate);  // the data ended early
  }
}

std::string unpredicted(const std::string& data, size_t width) {
  const size_t row = width + 1;
  if (data.size() % row != 0) notPlain(Rule::badPredictedData);
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
          notPlain(Rule::badPredictedData);
      }
      current[i] = char((x + predicted) & 0xff);
    }
    out += current;
    std::swap(previous, current);
  }
  return out;
}

}  // namespace vardelle::artwork::plain_pdf
