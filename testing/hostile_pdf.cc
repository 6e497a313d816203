#include "testing/hostile_pdf.h"

#include <zlib.h>

#include <algorithm>
#include <map>
#include <stdexcept>
#include <vector>

namespace vardelle::testing {

namespace {

std::string ref(uint64_t number) { return std::to_string(number) + " 0 R"; }

// Flate of `repeat` copies of `unit` after `head` and before `tail`, without holding the whole
// data: a bomb of 60 MB is made in 60 KB.
std::string deflated(const std::string& head, const std::string& unit, uint64_t repeat,
                     const std::string& tail) {
  z_stream z{};
  if (deflateInit(&z, Z_BEST_COMPRESSION) != Z_OK) throw std::runtime_error("deflateInit");
  std::string out;
  char buffer[65536];
  auto feed = [&](const std::string& bytes, int flush) {
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = uInt(bytes.size());
    do {
      z.next_out = reinterpret_cast<Bytef*>(buffer);
      z.avail_out = sizeof buffer;
      deflate(&z, flush);
      out.append(buffer, sizeof buffer - z.avail_out);
    } while (z.avail_out == 0 || (flush == Z_FINISH && z.avail_in > 0));
  };
  feed(head, Z_NO_FLUSH);
  std::string chunk;
  const uint64_t perChunk = std::max<uint64_t>(1, 65536 / std::max<size_t>(1, unit.size()));
  for (uint64_t done = 0; done < repeat;) {
    const uint64_t n = std::min(perChunk, repeat - done);
    chunk.clear();
    for (uint64_t i = 0; i < n; ++i) chunk += unit;
    feed(chunk, Z_NO_FLUSH);
    done += n;
  }
  feed(tail, Z_FINISH);
  deflateEnd(&z);
  return out;
}

std::string deflated(const std::string& data) { return deflated(data, "", 0, ""); }

// Objects written in order, each where the cross-reference section says.
class Writer {
 public:
  Writer() : out_("%PDF-1.7\n%\xE2\xE3\xCF\xD3\n") {}

  void object(uint64_t number, const std::string& body) {
    at(number) = {1, out_.size(), 0};
    out_ += std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
  }

  // `dictionary` without its closing ">>"; `length` is written as the /Length value.
  void stream(uint64_t number, const std::string& dictionary, const std::string& data,
              const std::string& length) {
    object(number, dictionary + "/Length " + length + ">>\nstream\n" + data + "\nendstream");
  }

  // Object `number` is the `index`th of object stream `container`.
  void compressed(uint64_t number, uint64_t container, uint64_t index) {
    at(number) = {2, container, index};
  }

  // An object stream's header and data for `members` (number, value), Flate-compressed or not.
  static std::string objectStreamData(const std::vector<std::pair<uint64_t, std::string>>& members,
                                      size_t& first) {
    std::string header, body;
    for (const auto& [number, value] : members) {
      header += std::to_string(number) + " " + std::to_string(body.size()) + " ";
      body += value + "\n";
    }
    first = header.size();
    return header + body;
  }

  // Finishes with a table when every object is at an offset and `table` is asked for, else with
  // a cross-reference stream.
  std::string finish(uint64_t root, bool table) {
    const bool anyCompressed =
        std::any_of(xref_.begin(), xref_.end(), [](const Entry& e) { return e.type == 2; });
    const size_t start = out_.size();
    if (table && !anyCompressed) {
      out_ += "xref\n0 " + std::to_string(xref_.size()) + "\n";
      char line[32];
      for (size_t i = 0; i < xref_.size(); ++i) {
        if (xref_[i].type == 1) {
          std::snprintf(line, sizeof line, "%010llu 00000 n \n",
                        (unsigned long long)xref_[i].field1);
        } else {
          std::snprintf(line, sizeof line, "%010d 65535 f \n", 0);
        }
        out_ += line;
      }
      out_ += "trailer\n<</Size " + std::to_string(xref_.size()) + "/Root " + ref(root) +
              ">>\nstartxref\n" + std::to_string(start) + "\n%%EOF\n";
      return std::move(out_);
    }
    const uint64_t self = xref_.size();
    at(self) = {1, start, 0};
    const std::string packed = deflated(packedEntries());
    stream(self,
           "<</Type/XRef/W[1 4 2]/Filter/FlateDecode/Size " + std::to_string(xref_.size()) +
               "/Root " + ref(root),
           packed, std::to_string(packed.size()));
    out_ += "startxref\n" + std::to_string(start) + "\n%%EOF\n";
    return std::move(out_);
  }

  // A cross-reference stream of `count` free entries after the real ones, compressed as one
  // run: a table a few kilobytes long that declares millions of objects.
  std::string finishWithFreeEntries(uint64_t root, uint64_t count) {
    const size_t start = out_.size();
    const uint64_t self = xref_.size();
    at(self) = {1, start, 0};
    const std::string packed = deflated(packedEntries(), std::string(7, '\0'), count, "");
    stream(self,
           "<</Type/XRef/W[1 4 2]/Filter/FlateDecode/Size " + std::to_string(xref_.size() + count) +
               "/Root " + ref(root),
           packed, std::to_string(packed.size()));
    out_ += "startxref\n" + std::to_string(start) + "\n%%EOF\n";
    return std::move(out_);
  }

 private:
  struct Entry {
    int type = 0;
    uint64_t field1 = 0;
    uint64_t field2 = 0;
  };
  // The entries as a cross-reference stream holds them, /W[1 4 2].
  std::string packedEntries() const {
    std::string packed;
    for (const Entry& e : xref_) {
      packed += char(e.type);
      for (int shift = 24; shift >= 0; shift -= 8) packed += char((e.field1 >> shift) & 0xff);
      packed += char((e.field2 >> 8) & 0xff);
      packed += char(e.field2 & 0xff);
    }
    return packed;
  }
  Entry& at(uint64_t number) {
    if (number >= xref_.size()) xref_.resize(number + 1);
    return xref_[number];
  }

  std::string out_;
  std::vector<Entry> xref_;
};

constexpr const char* kMediaBox = "[0 0 612 792]";

std::string objectStreamType(const HostileRecipe& r) {
  return r.escapedNames ? "<</Typ#65/ObjStm" : "<</Type/ObjStm";
}

std::string hex(const std::string& data) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(data.size() * 2 + 1);
  for (unsigned char c : data) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out + ">";
}

std::string ascii85(const std::string& data) {
  std::string out;
  for (size_t at = 0; at < data.size(); at += 4) {
    const size_t n = std::min<size_t>(4, data.size() - at);
    uint32_t group = 0;
    for (size_t k = 0; k < 4; ++k) {
      group = (group << 8) | (k < n ? static_cast<unsigned char>(data[at + k]) : 0);
    }
    if (group == 0 && n == 4) {
      out += 'z';
      continue;
    }
    char digits[5];
    for (int k = 4; k >= 0; --k) {
      digits[k] = char('!' + group % 85);
      group /= 85;
    }
    out.append(digits, n + 1);
  }
  return out + "~>";
}

// Runs of one byte as repeats, the rest as literals of up to 128 bytes.
std::string runLength(const std::string& data) {
  std::string out;
  for (size_t at = 0; at < data.size();) {
    size_t run = 1;
    while (at + run < data.size() && run < 128 && data[at + run] == data[at]) ++run;
    if (run > 1) {
      out += char(257 - run);
      out += data[at];
      at += run;
      continue;
    }
    size_t literal = 1;
    while (at + literal < data.size() && literal < 128 &&
           !(at + literal + 1 < data.size() && data[at + literal] == data[at + literal + 1])) {
      ++literal;
    }
    out += char(literal - 1);
    out.append(data, at, literal);
    at += literal;
  }
  return out + char(128);
}

// LZW with early change, clearing the table when it is full.
std::string lzw(const std::string& data) {
  std::string out;
  uint32_t buffer = 0;
  unsigned bits = 0;
  unsigned width = 9;
  auto put = [&](uint32_t code) {
    buffer = (buffer << width) | code;
    bits += width;
    while (bits >= 8) {
      out += char((buffer >> (bits - 8)) & 0xff);
      bits -= 8;
    }
  };
  std::map<std::string, uint32_t> table;
  uint32_t next = 258;
  put(256);
  std::string current;
  for (char c : data) {
    std::string extended = current + c;
    if (extended.size() == 1 || table.count(extended)) {
      current = std::move(extended);
      continue;
    }
    put(current.size() == 1 ? static_cast<unsigned char>(current[0]) : table[current]);
    table[extended] = next++;
    if (next + 1 > (1u << width) && width < 12) ++width;
    if (next >= 4094) {
      put(256);
      table.clear();
      next = 258;
      width = 9;
    }
    current = std::string(1, c);
  }
  if (!current.empty()) {
    put(current.size() == 1 ? static_cast<unsigned char>(current[0]) : table[current]);
    // The reader adds an entry for this last code too, and may widen before the end code.
    if (next + 1 >= (1u << width) && width < 12) ++width;
  }
  put(257);
  if (bits > 0) out += char((buffer << (8 - bits)) & 0xff);
  return out;
}

// `data` (already deflated when `deflatedAlready`) encoded as the recipe asks, and the /Filter
// entry that undoes it.
std::pair<std::string, std::string> encoded(const HostileRecipe& r, std::string data,
                                            bool deflatedAlready = false) {
  const bool flate = deflatedAlready || r.compress;
  if (flate && !deflatedAlready) data = deflated(data);
  std::string outer;
  switch (r.wrapping) {
    case HostileWrapping::none:
      return {data, flate ? "/Filter/FlateDecode" : ""};
    case HostileWrapping::asciiHex:
      data = hex(data);
      outer = "/ASCIIHexDecode";
      break;
    case HostileWrapping::ascii85:
      data = ascii85(data);
      outer = "/ASCII85Decode";
      break;
    case HostileWrapping::runLength:
      data = runLength(data);
      outer = "/RunLengthDecode";
      break;
    case HostileWrapping::lzw:
      data = lzw(data);
      outer = "/LZWDecode";
      break;
  }
  return {data, "/Filter[" + outer + (flate ? "/FlateDecode]" : "]")};
}

// Catalog 1, pages 2, page 3 whose `key` is `value`; MediaBox direct unless it is the key.
void pageTree(Writer& w, const std::string& key, const std::string& value) {
  w.object(1, "<</Type/Catalog/Pages 2 0 R>>");
  w.object(2, "<</Type/Pages/Kids[3 0 R]/Count 1>>");
  std::string page = "<</Type/Page/Parent 2 0 R";
  if (key != "MediaBox") page += "/MediaBox" + std::string(kMediaBox);
  page += "/" + key + " " + value + ">>";
  w.object(3, page);
}

// What the hostile value stands in for, when it is finally reached.
std::string harmless(const std::string& key) { return key == "MediaBox" ? kMediaBox : "<<>>"; }

std::string lengthChain(const HostileRecipe& r) {
  // Stream i (object 10 + 2i) holds the length of stream i - 1 as object 11 + 2(i - 1); stream 1
  // holds object 4, the page's value. Only the last stream's length is written in place.
  Writer w;
  pageTree(w, r.key, ref(4));
  const uint64_t links = std::max<uint64_t>(1, r.count);
  std::string previousLength;
  for (uint64_t i = 1; i <= links; ++i) {
    const uint64_t number = 10 + 2 * i;
    std::vector<std::pair<uint64_t, std::string>> members;
    if (i == 1) {
      members.push_back({4, harmless(r.key)});
      w.compressed(4, number, 0);
    } else {
      members.push_back({11 + 2 * (i - 1), previousLength});
      w.compressed(11 + 2 * (i - 1), number, 0);
    }
    size_t first = 0;
    auto [data, filter] = encoded(r, Writer::objectStreamData(members, first));
    const std::string dictionary =
        objectStreamType(r) + "/N 1/First " + std::to_string(first) + filter;
    previousLength = std::to_string(data.size());
    w.stream(number, dictionary, data, i == links ? previousLength : ref(11 + 2 * i));
  }
  return w.finish(1, false);
}

std::string emptyArrayBomb(const HostileRecipe& r) {
  Writer w;
  pageTree(w, r.key, ref(4));
  const std::string header = "4 0 ";
  const auto [packed, filter] = encoded(r, deflated(header + "[", "[]", r.count, "]\n"), true);
  w.stream(5, objectStreamType(r) + "/N 1/First " + std::to_string(header.size()) + filter, packed,
           std::to_string(packed.size()));
  w.compressed(4, 5, 0);
  return w.finish(1, false);
}

std::string deepNesting(const HostileRecipe& r) {
  Writer w;
  pageTree(w, r.key, ref(4));
  std::string value;
  value.reserve(r.count * 7 + 16);
  for (uint64_t i = 0; i < r.count; ++i) value += r.dictionaries ? "<</A " : "[";
  value += "0";
  for (uint64_t i = 0; i < r.count; ++i) value += r.dictionaries ? ">>" : "]";
  w.object(4, value);
  return w.finish(1, !r.xrefStream);
}

std::string deepPageTree(const HostileRecipe& r) {
  // Nodes 2 … count + 1, each the only kid of the one before; the page is the last kid.
  Writer w;
  const uint64_t depth = std::max<uint64_t>(1, r.count);
  const uint64_t page = depth + 2;
  w.object(1, "<</Type/Catalog/Pages 2 0 R>>");
  for (uint64_t node = 2; node < page; ++node) {
    std::string body = "<</Type/Pages/Count 1/Kids[" + ref(node + 1) + "]";
    if (node > 2) body += "/Parent " + ref(node - 1);
    w.object(node, body + ">>");
  }
  w.object(page, "<</Type/Page/Parent " + ref(page - 1) + "/MediaBox" + kMediaBox + ">>");
  return w.finish(1, !r.xrefStream);
}

std::string longParentChain(const HostileRecipe& r) {
  // The page inherits its media box from the far end of a chain of nodes outside the tree.
  Writer w;
  const uint64_t length = std::max<uint64_t>(1, r.count);
  w.object(1, "<</Type/Catalog/Pages 2 0 R>>");
  w.object(2, "<</Type/Pages/Kids[3 0 R]/Count 1>>");
  w.object(3, "<</Type/Page/Parent 4 0 R>>");
  for (uint64_t i = 0; i < length; ++i) {
    const uint64_t node = 4 + i;
    w.object(node, i + 1 < length ? "<</Type/Pages/Parent " + ref(node + 1) + ">>"
                                  : "<</Type/Pages/MediaBox" + std::string(kMediaBox) + ">>");
  }
  return w.finish(1, !r.xrefStream);
}

std::string xrefBomb(const HostileRecipe& r) {
  Writer w;
  pageTree(w, "MediaBox", kMediaBox);
  return w.finishWithFreeEntries(1, r.count);
}

std::string manySmallObjects(const HostileRecipe& r) {
  // A linked list: object 100 + i is [next 0 R], the last one the harmless value, all in one
  // object stream; the page's key points at its head.
  Writer w;
  const uint64_t count = std::max<uint64_t>(1, r.count);
  pageTree(w, r.key, ref(100));
  std::vector<std::pair<uint64_t, std::string>> members;
  members.reserve(count);
  for (uint64_t i = 0; i < count; ++i) {
    members.push_back({100 + i, i + 1 < count ? "[" + ref(101 + i) + "]" : harmless(r.key)});
    w.compressed(100 + i, 5, i);
  }
  size_t first = 0;
  const auto [data, filter] = encoded(r, Writer::objectStreamData(members, first));
  const std::string dictionary = objectStreamType(r) + "/N " + std::to_string(count) + "/First " +
                                 std::to_string(first) + filter;
  w.stream(5, dictionary, data, std::to_string(data.size()));
  return w.finish(1, false);
}

// Catalog 1, pages 2, page 3 drawing `content` (Flate-compressed `layers` times) with `resources`.
void drawnPage(Writer& w, const std::string& resources, const std::string& content,
               int layers = 1) {
  pageTree(w, "Contents", ref(5) + "/Resources " + resources);
  std::string data = content;
  std::string filter;
  for (int i = 0; i < layers; ++i) {
    data = deflated(data);
    filter += "/FlateDecode";
  }
  w.stream(5, "<</Filter[" + filter + "]", data, std::to_string(data.size()));
}

std::string contentBomb(const HostileRecipe& r) {
  Writer w;
  pageTree(w, "Contents", ref(5) + "/Resources<<>>");
  // The first layer is made without holding the whole content, the second from it.
  const std::string once = deflated("0 g\n", "1 1 2 2 re f\n", r.count, "");
  const std::string twice = deflated(once);
  w.stream(5, "<</Filter[/FlateDecode/FlateDecode]", twice, std::to_string(twice.size()));
  return w.finish(1, !r.xrefStream);
}

std::string formTree(const HostileRecipe& r) {
  // Form 10 + i draws form 11 + i twice; the last draws one rectangle.
  Writer w;
  const uint64_t depth = std::max<uint64_t>(1, r.count);
  drawnPage(w, "<</XObject<</F " + ref(10) + ">>>>", "/F Do\n");
  for (uint64_t i = 0; i < depth; ++i) {
    const bool last = i + 1 == depth;
    const std::string content = last ? "0 0 1 1 re f" : "/F Do /F Do";
    const std::string resources = last ? "<<>>" : "<</XObject<</F " + ref(11 + i) + ">>>>";
    w.stream(10 + i, "<</Type/XObject/Subtype/Form/BBox[0 0 612 792]/Resources " + resources,
             content, std::to_string(content.size()));
  }
  return w.finish(1, !r.xrefStream);
}

std::string hugeImage(const HostileRecipe& r) {
  Writer w;
  const uint64_t side = std::max<uint64_t>(1, r.count);
  drawnPage(w, "<</XObject<</I " + ref(10) + ">>>>", "q 612 0 0 792 0 0 cm /I Do Q\n");
  // A few rows of data: readers that meet the end of the data early go on reading nothing.
  const std::string data =
      deflated("", std::string(1, '\x80'), std::min<uint64_t>(side * 64, 1 << 20), "");
  w.stream(10,
           "<</Type/XObject/Subtype/Image/Width " + std::to_string(side) + "/Height " +
               std::to_string(side) +
               "/ColorSpace/DeviceGray/BitsPerComponent 8/Filter/FlateDecode",
           data, std::to_string(data.size()));
  return w.finish(1, !r.xrefStream);
}

std::string hugeFunction(const HostileRecipe& r) {
  Writer w;
  const uint64_t size = std::max<uint64_t>(2, r.count);
  drawnPage(w, "<</Shading<</S " + ref(10) + ">>>>", "/S sh\n");
  w.object(10, "<</ShadingType 2/ColorSpace/DeviceRGB/Coords[0 0 612 0]/Function " + ref(11) +
                   "/Extend[true true]>>");
  const std::string data =
      deflated("", std::string(3, '\x40'), std::min<uint64_t>(size, 1 << 16), "");
  w.stream(11,
           "<</FunctionType 0/Domain[0 1]/Range[0 1 0 1 0 1]/BitsPerSample 8/Size[" +
               std::to_string(size) + "]/Filter/FlateDecode",
           data, std::to_string(data.size()));
  return w.finish(1, !r.xrefStream);
}

std::string deepOperands(const HostileRecipe& r) {
  Writer w;
  std::string content;
  content.reserve(r.count * 2 + 16);
  content.append(r.count, '[');
  content += "3";
  content.append(r.count, ']');
  content += " 0 d 0 0 1 1 re f\n";
  drawnPage(w, "<<>>", content);
  return w.finish(1, !r.xrefStream);
}

}  // namespace

std::string hostilePdf(const HostileRecipe& recipe) {
  switch (recipe.shape) {
    case HostileShape::lengthChain:
      return lengthChain(recipe);
    case HostileShape::emptyArrayBomb:
      return emptyArrayBomb(recipe);
    case HostileShape::deepNesting:
      return deepNesting(recipe);
    case HostileShape::deepPageTree:
      return deepPageTree(recipe);
    case HostileShape::longParentChain:
      return longParentChain(recipe);
    case HostileShape::xrefBomb:
      return xrefBomb(recipe);
    case HostileShape::manySmallObjects:
      return manySmallObjects(recipe);
    case HostileShape::contentBomb:
      return contentBomb(recipe);
    case HostileShape::formTree:
      return formTree(recipe);
    case HostileShape::hugeImage:
      return hugeImage(recipe);
    case HostileShape::hugeFunction:
      return hugeFunction(recipe);
    case HostileShape::deepOperands:
      return deepOperands(recipe);
  }
  return {};
}

HostileRecipe hostileRecipeFromBytes(const uint8_t* data, size_t size) {
  auto byte = [&](size_t i) -> uint64_t { return i < size ? data[i] : 0; };
  HostileRecipe r;
  r.shape = HostileShape(byte(0) % kHostileShapeCount);
  // Up to 2^24 before scaling: small counts are as likely as the largest, so the fuzzer tries the
  // edges around every limit, not only the bombs.
  const uint64_t raw = (byte(1) << 16) | (byte(2) << 8) | byte(3);
  const unsigned scale = unsigned(byte(4) % 8);
  uint64_t count = raw >> (21 - 3 * scale);
  // Largest counts: a little past each limit the readers set (32 references deep, 256 tree
  // levels, a million values, 1,000 copied levels), so that the fuzzer runs many inputs a second
  // around them; the Hostile tests try the sizes an attacker would send.
  static constexpr uint64_t kMost[kHostileShapeCount] = {
      3000, 3000000, 100000, 3000, 3000, 3000000, 5000,
      // The drawing shapes, which this target only reads (fuzz_render_pdf draws them).
      100000, 20, 100000, 100000, 100000};
  count = std::min<uint64_t>(count, kMost[size_t(r.shape)]);
  r.count = count;
  const uint64_t flags = byte(5);
  r.key = (flags & 1) ? "Resources" : "MediaBox";
  r.dictionaries = flags & 2;
  r.compress = !(flags & 4);
  r.xrefStream = !(flags & 8);
  // Bit 4 wraps the object streams in another filter, bits 6 and 7 choose which.
  if (flags & 16) r.wrapping = HostileWrapping(1 + ((flags >> 6) & 3));
  r.escapedNames = flags & 32;
  return r;
}

std::string damagedPdf(std::string pdf, const uint8_t* data, size_t size, size_t first) {
  for (size_t i = first; i + 4 <= size && !pdf.empty(); i += 4) {
    const size_t offset =
        ((size_t(data[i] & 0x7f) << 16) | (size_t(data[i + 1]) << 8) | data[i + 2]) % pdf.size();
    pdf[(data[i] & 0x80) ? pdf.size() - 1 - offset : offset] = char(data[i + 3]);
  }
  return pdf;
}

HostileRecipe drawingRecipeFromBytes(const uint8_t* data, size_t size) {
  auto byte = [&](size_t i) -> uint64_t { return i < size ? data[i] : 0; };
  HostileRecipe r;
  constexpr int kDrawing = kHostileShapeCount - int(HostileShape::contentBomb);
  r.shape = HostileShape(int(HostileShape::contentBomb) + int(byte(0) % kDrawing));
  const uint64_t raw = (byte(1) << 8) | byte(2);
  // Small counts draw in well under a second; the bounded claims are refused before drawing.
  switch (r.shape) {
    case HostileShape::contentBomb:
      r.count = raw * 4;  // at most 262,140 rectangles
      break;
    case HostileShape::formTree:
      r.count = 1 + raw % 14;  // at most 8,192 rectangles
      break;
    case HostileShape::hugeImage:
      // Up to 2,048 on a side, or past the bound (16,385 and more).
      r.count = (byte(3) & 1) ? 16385 + raw * 64 : 1 + raw % 2048;
      break;
    case HostileShape::hugeFunction:
      r.count = (byte(3) & 1) ? (uint64_t(1) << 23) + raw * 256 : 2 + raw % 4096;
      break;
    default:
      r.count = raw * 4;  // nested at most 262,140 deep
      break;
  }
  r.xrefStream = !(byte(3) & 2);
  return r;
}

}  // namespace vardelle::testing
