#include "artwork/printed_content.h"

#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDFTokenizer.hh>

#include <cstdlib>
#include <new>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "base/artwork_format.h"
#include "base/print_failure.h"

namespace vardelle::artwork {

namespace {

using Token = QPDFTokenizer::Token;

[[noreturn]] void refuse() { throw PrintFailure(kUnreadablePdfSentence); }

/// Collects a stream's decoded data and stops qpdf's decoding once it passes `limit`.
class BoundedSink : public Pipeline {
 public:
  BoundedSink(std::string& out, size_t limit)
      : Pipeline("decoded content", nullptr), out_(out), limit_(limit) {}
  void write(unsigned char const* data, size_t length) override {
    if (length > limit_ - out_.size()) {
      exceeded = true;
      throw std::length_error("content stream past its limit");
    }
    try {
      out_.append(reinterpret_cast<const char*>(data), length);
    } catch (const std::bad_alloc&) {
      outOfMemory = true;
      throw;
    }
  }
  void finish() override {}
  bool exceeded = false;
  bool outOfMemory = false;  ///< which qpdf reports as a stream it could not decode

 private:
  std::string& out_;
  size_t limit_;
};

bool isOneOf(const std::string& op, std::initializer_list<const char*> ops) {
  for (const char* o : ops) {
    if (op == o) return true;
  }
  return false;
}

/// What an operator does, as far as deciding what prints needs to know.
enum Does : unsigned {
  kBuildsPath = 1u << 0,
  kClips = 1u << 1,
  kPaintsPath = 1u << 2,
  kShowsText = 1u << 3,
  kStartsLine = 1u << 4,  ///< places text from the line start: Td TD Tm T* ' "
  kSetsFill = 1u << 5,
  kUsesPattern = 1u << 6,
  kSaves = 1u << 7,
  kRestores = 1u << 8,
  kSetsMode = 1u << 9,
  kSetsFont = 1u << 10,
  kBeginsText = 1u << 11,
  kEndsText = 1u << 12,
  kDraws = 1u << 13,
  kShades = 1u << 14,
  kSetsState = 1u << 15,
  kBeginsImage = 1u << 16,
  kBeginsMark = 1u << 17,
  kEndsMark = 1u << 18,
};

unsigned whatItDoes(const std::string& op) {
  // One look-up per operator: content streams are mostly operators.
  static const std::unordered_map<std::string, unsigned> operators{
      {"m", kBuildsPath},
      {"l", kBuildsPath},
      {"c", kBuildsPath},
      {"v", kBuildsPath},
      {"y", kBuildsPath},
      {"h", kBuildsPath},
      {"re", kBuildsPath},
      {"W", kClips},
      {"W*", kClips},
      {"S", kPaintsPath},
      {"s", kPaintsPath},
      {"f", kPaintsPath},
      {"F", kPaintsPath},
      {"f*", kPaintsPath},
      {"B", kPaintsPath},
      {"B*", kPaintsPath},
      {"b", kPaintsPath},
      {"b*", kPaintsPath},
      {"n", kPaintsPath},
      {"Tj", kShowsText},
      {"TJ", kShowsText},
      {"'", kShowsText | kStartsLine},
      {"\"", kShowsText | kStartsLine},
      {"Td", kStartsLine},
      {"TD", kStartsLine},
      {"Tm", kStartsLine},
      {"T*", kStartsLine},
      {"cs", kSetsFill},
      {"sc", kSetsFill},
      {"scn", kSetsFill | kUsesPattern},
      {"SCN", kUsesPattern},
      {"g", kSetsFill},
      {"rg", kSetsFill},
      {"k", kSetsFill},
      {"q", kSaves},
      {"Q", kRestores},
      {"Tr", kSetsMode},
      {"Tf", kSetsFont},
      {"BT", kBeginsText},
      {"ET", kEndsText},
      {"Do", kDraws},
      {"sh", kShades},
      {"gs", kSetsState},
      {"BI", kBeginsImage},
      {"BMC", kBeginsMark},
      {"BDC", kBeginsMark},
      {"EMC", kEndsMark},
  };
  auto found = operators.find(op);
  return found == operators.end() ? 0 : found->second;
}

/// Entries of a resource dictionary that filtered content uses in another form, by category
/// and name; a null handle means the entry goes.
using Replacements = std::map<std::string, std::map<std::string, QPDFObjectHandle>>;

QPDFObjectHandle resourceEntry(QPDFObjectHandle resources, const char* category,
                               const std::string& name) {
  if (!resources.isDictionary()) return QPDFObjectHandle::newNull();
  QPDFObjectHandle entries = resources.getKey(category);
  if (!entries.isDictionary()) return QPDFObjectHandle::newNull();
  return entries.getKey(name);
}

QPDFObjectHandle replaced(QPDFObjectHandle resources, const Replacements& replacements) {
  QPDFObjectHandle out =
      resources.isDictionary() ? resources.shallowCopy() : QPDFObjectHandle::newDictionary();
  for (const auto& [category, entries] : replacements) {
    QPDFObjectHandle sub = out.getKey(category);
    sub = sub.isDictionary() ? sub.shallowCopy() : QPDFObjectHandle::newDictionary();
    for (auto [name, object] : entries) {
      if (object.isNull()) {
        sub.removeKey(name);
      } else {
        sub.replaceKey(name, object);
      }
    }
    out.replaceKey(category, sub);
  }
  return out;
}

bool isOptionalContent(QPDFObjectHandle object) {
  if (!object.isDictionary()) return false;
  QPDFObjectHandle type = object.getKey("/Type");
  return type.isNameAndEquals("/OCG") || type.isNameAndEquals("/OCMD");
}

/// An identity for memoising: the object's number, or its text for a small direct object.
std::string identity(QPDFObjectHandle object) {
  if (object.isIndirect()) return object.getObjGen().unparse(' ');
  if (object.isNull()) return "-";
  if (object.isStream()) return {};
  std::string text = object.unparse();
  return text.size() > 4096 ? std::string() : text;
}

}  // namespace

/// Filters one content stream: decides each operator as it comes, writing what prints to `out`.
class PrintedContent::Filter {
 public:
  Filter(PrintedContent& owner, QPDFObjectHandle resources, const Start& start, int depth)
      : owner_(owner), resources_(resources), depth_(depth) {
    graphics_.modeKnown = start.modeKnown;
    graphics_.mode = start.mode;
    graphics_.fillKnown = start.fillKnown;
    graphics_.fillColour = start.fill;
  }

  /// Filters `data`.
  void run(std::string data) {
    Buffer buffer(reinterpret_cast<unsigned char*>(data.data()), data.size());
    auto input = std::make_shared<BufferInputSource>("content stream", &buffer, false);
    QPDFTokenizer tokenizer;
    tokenizer.allowEOF();
    tokenizer.includeIgnorable();
    for (;;) {
      Token token = tokenizer.readToken(input, "content stream", true);
      if (token.getType() == QPDFTokenizer::tt_eof) break;
      take(token);
      if (token.getType() == QPDFTokenizer::tt_word && token.getValue() == "ID") {
        // The one white-space character after ID belongs to it; the image data follows.
        char ch = 0;
        if (input->read(&ch, 1) == 1) take(Token(QPDFTokenizer::tt_space, std::string(1, ch)));
        tokenizer.expectInlineImage(input);
      }
    }
    finish();
  }

  std::string out;
  bool changed = false;
  Replacements replacements;

 private:
  /// The part of the graphics state that hidden text needs, as the content set it, and what was
  /// written over it for hidden text.
  struct Graphics {
    bool modeKnown = false;  ///< the text render mode, unless inherited from an unknown place
    int mode = 0;
    bool fillKnown = false;  ///< the operators that set the fill colour again
    std::string fillSpace;
    std::string fillColour;
    bool fillPortable = true;  ///< they name no resource
    std::string font;          ///< the resource name of the font, when set here
    int writtenMode = -1;      ///< a render mode written for hidden text, or -1
    bool emptyFill = false;    ///< the empty pattern written as the fill for hidden text
  };
  /// A piece of text-object content held back until it is known whether hidden text in it must
  /// keep its place for the visible text after it.
  struct Held {
    std::string text;
    bool setsMode = false;
    bool setsFill = false;
    bool hiddenShow = false;  ///< hidden text-showing operators, with their operands
    std::string instead;      ///< what hidden shows leave when they go: their lines and spacing
    bool keepable = false;    ///< hidden shows that can keep their place unpainted
    int mode = 0;             ///< the render mode the content drew them in
  };
  /// Holds `piece` back, run together with the piece before it where they replay alike, so that
  /// a long text object costs about its own size.
  void hold(Held piece) {
    if (!held_.empty()) {
      Held& last = held_.back();
      if (!piece.hiddenShow && !last.hiddenShow) {
        last.text += piece.text;
        last.setsMode = last.setsMode || piece.setsMode;
        last.setsFill = last.setsFill || piece.setsFill;
        return;
      }
      if (piece.hiddenShow && last.hiddenShow && piece.keepable == last.keepable &&
          piece.mode == last.mode) {
        last.text += piece.text;
        last.instead += piece.instead;
        return;
      }
    }
    held_.push_back(std::move(piece));
  }

  void take(const Token& token) {
    const auto type = token.getType();
    if (inlineImage_) {
      inline_ += token.getRawValue();
      if (type == QPDFTokenizer::tt_word && token.getValue() == "EI") {
        inlineImage_ = false;
        if (hidden()) {
          changed = true;
        } else {
          emit(inline_);
        }
        inline_.clear();
      }
      return;
    }
    if (type == QPDFTokenizer::tt_word) {
      operate(token.getValue(), token.getRawValue());
      operands_.clear();
      significant_.clear();
      return;
    }
    operands_ += token.getRawValue();
    if (type != QPDFTokenizer::tt_space && type != QPDFTokenizer::tt_comment) {
      // The first two and the last operand are all any operator here needs, so that a run of
      // operands without an operator costs no memory per operand.
      if (significant_.size() < 3) significant_.emplace_back();
      Operand& kept = significant_.back();
      kept.type = type;
      kept.value = token.getValue();
    }
  }

  /// An operand: its type and value (for a number, as written).
  struct Operand {
    QPDFTokenizer::token_type_e type = QPDFTokenizer::tt_bad;
    std::string value;
    bool isName() const { return type == QPDFTokenizer::tt_name; }
  };
  const Operand* operand(size_t i) const {
    return i < significant_.size() ? &significant_[i] : nullptr;
  }
  const Operand* lastOperand() const {
    return significant_.empty() ? nullptr : &significant_.back();
  }
  std::string lastName() const {
    const Operand* o = lastOperand();
    return o && o->isName() ? o->value : std::string();
  }

  bool hidden() const { return !marks_.empty() && marks_.back().hides; }

  void emit(const std::string& text, const std::string& more = std::string(), bool setsMode = false,
            bool setsFill = false) {
    if (holding_) {
      Held piece;
      piece.text = text + more;
      piece.setsMode = setsMode;
      piece.setsFill = setsFill;
      hold(std::move(piece));
    } else {
      out += text;
      out += more;
    }
  }

  /// Whether the span marked with the property list `name` prints, looked up once per name.
  bool prints(const std::string& name) {
    auto found = decided_.find(name);
    if (found != decided_.end()) return found->second;
    QPDFObjectHandle oc = resourceEntry(resources_, "/Properties", name);
    const bool printed = owner_.layers_.prints(oc);
    if (!oc.isNull()) decided_.emplace(name, printed);
    return printed;
  }

  /// The operator with its operands, as written.
  std::string whole(const std::string& raw) const { return operands_ + raw; }

  void operate(const std::string& op, const std::string& raw) {
    const unsigned does = whatItDoes(op);
    // A path ends with the operator that paints it; anything else after it is out of order, and
    // keeps its place after the path.
    if (!path_.empty() && !(does & (kBuildsPath | kClips | kPaintsPath))) flushPath();
    if (does & kBeginsImage) {
      inlineImage_ = true;
      inline_ = whole(raw);
      return;
    }
    if (does & kBeginsMark) {
      Mark mark{hidden(), false};
      const Operand* tag = operand(0);
      if (op == "BDC" && tag && tag->isName() && tag->value == "/OC") {
        // Decided here, the span is no longer marked: a reader of what is written then has
        // nothing to decide again (Ghostscript evaluates a membership dictionary even without
        // the document's optional content properties, with every group on).
        mark.optional = true;
        const Operand* properties = operand(1);
        if (properties && properties->isName() && !mark.hides) {
          mark.hides = !prints(properties->value);
        }
        changed = true;
      } else {
        emit(operands_, raw);
      }
      marks_.push_back(mark);
      return;
    }
    if (does & kEndsMark) {
      if (marks_.empty() || !marks_.back().optional) emit(operands_, raw);
      if (!marks_.empty()) marks_.pop_back();
      return;
    }
    if (hidden()) {
      if (does & (kBuildsPath | kClips)) {
        if (does & kClips) clips_ = true;
        path_ += operands_;
        path_ += raw;
        return;
      }
      if (does & kPaintsPath) {
        // A clipping path still clips what follows: it stays, unpainted.
        if (clips_) emit(path_ + operands_, " n");
        path_.clear();
        clips_ = false;
        changed = true;
        return;
      }
      if (does & (kShades | kDraws)) {
        changed = true;
        return;
      }
      if (does & kShowsText) {
        hideText(op, whole(raw));
        return;
      }
    }
    if (does & kSaves) {
      if (saved_.size() < kDeepestSaved) {
        saved_.push_back(graphics_);
      } else {
        ++unsaved_;
      }
    } else if (does & kRestores) {
      endHolding(true);
      if (unsaved_ > 0) {
        --unsaved_;
        graphics_ = Graphics();
      } else if (!saved_.empty()) {
        graphics_ = saved_.back();
        saved_.pop_back();
      }
    } else if (does & kSetsMode) {
      const Operand* value = lastOperand();
      graphics_.modeKnown = value && value->type == QPDFTokenizer::tt_integer;
      graphics_.mode = graphics_.modeKnown ? std::atoi(value->value.c_str()) : 0;
      graphics_.writtenMode = -1;
    } else if (does & kSetsFont) {
      const Operand* font = operand(0);
      graphics_.font = font && font->isName() ? font->value : "";
    } else if (does & (kBeginsText | kEndsText)) {
      endHolding(false);
      inText_ = does & kBeginsText;
    } else if (does & kStartsLine) {
      // These start from the line, not from where the last text ended: hidden text before
      // them places nothing.
      endHolding(false);
    } else if (does & kShowsText) {
      endHolding(true);
    } else if (does & kDraws) {
      drawXObject(lastName(), raw);
      return;
    }
    if (does & kSetsFill) setFill(op, whole(raw));
    if (does & kUsesPattern) usePattern(lastName());
    if (does & kSetsState) useGraphicsState(lastName());
    if (does & kShowsText) restore();
    emit(operands_, raw, does & kSetsMode, does & kSetsFill);
  }

  void setFill(const std::string& op, const std::string& whole) {
    const Operand* first = operand(0);
    if (op == "cs") {
      graphics_.fillSpace = whole;
      graphics_.fillColour.clear();
      graphics_.fillPortable = first && first->isName() &&
                               isOneOf(first->value, {"/DeviceGray", "/DeviceRGB", "/DeviceCMYK"});
    } else if (op == "sc" || op == "scn") {
      graphics_.fillColour = whole;
      if (!lastName().empty()) graphics_.fillPortable = false;
    } else {
      graphics_.fillSpace.clear();
      graphics_.fillColour = whole;
      graphics_.fillPortable = true;
    }
    // Written again after each run of hidden text kept in place, so only while short.
    graphics_.fillKnown = graphics_.fillSpace.size() + graphics_.fillColour.size() <= 256;
    graphics_.emptyFill = false;
  }

  /// Before visible text, after hidden text kept invisible: the mode and fill the content set.
  void restore() {
    if (graphics_.writtenMode >= 0) {
      out += "\n" + std::to_string(graphics_.mode) + " Tr\n";
      graphics_.writtenMode = -1;
    }
    if (graphics_.emptyFill) {
      out += "\n" + graphics_.fillSpace + "\n" + graphics_.fillColour + "\n";
      graphics_.emptyFill = false;
    }
  }

  void flushPath() {
    if (path_.empty()) return;
    emit(path_);
    path_.clear();
    clips_ = false;
  }

  void drawXObject(const std::string& name, const std::string& raw) {
    QPDFObjectHandle xobject = resourceEntry(resources_, "/XObject", name);
    if (xobject.isStream()) {
      QPDFObjectHandle dict = xobject.getDict();
      QPDFObjectHandle oc = dict.getKey("/OC");
      if (!oc.isNull() && !owner_.layers_.prints(oc)) {
        // It prints nowhere, so it is not written either.
        changed = true;
        replacements["/XObject"][name] = QPDFObjectHandle::newNull();
        return;
      }
      if (dict.getKey("/Subtype").isNameAndEquals("/Form")) {
        replace("/XObject", name, xobject, resolved(xobject, drawnFrom()));
      } else if (!oc.isNull()) {
        replace("/XObject", name, xobject, owner_.unmarked(xobject));
      }
      drawn_.insert(name);
    }
    emit(operands_, raw);
  }

  /// What a form drawn from here starts with.
  Start drawnFrom() const {
    Start start;
    start.modeKnown = graphics_.modeKnown;
    start.mode = graphics_.mode;
    start.fillKnown = graphics_.fillKnown && graphics_.fillPortable;
    if (start.fillKnown) start.fill = graphics_.fillSpace + graphics_.fillColour;
    return start;
  }

  void usePattern(const std::string& name) {
    if (name.empty()) return;
    QPDFObjectHandle pattern = resourceEntry(resources_, "/Pattern", name);
    if (!pattern.isStream()) return;
    QPDFObjectHandle type = pattern.getDict().getKey("/PatternType");
    if (type.isInteger() && type.getIntValue() == 1) {
      replace("/Pattern", name, pattern, resolved(pattern, Start()));
    }
  }

  /// A form, pattern or soft mask drawn from here, as it prints.
  QPDFObjectHandle resolved(QPDFObjectHandle form, const Start& start) {
    if (!form.getDict().getKey("/Resources").isDictionary()) inherits_ = true;
    return owner_.resolvedForm(form, resources_, start, depth_ + 1);
  }

  void useGraphicsState(const std::string& name) {
    if (name.empty()) return;
    QPDFObjectHandle state = resourceEntry(resources_, "/ExtGState", name);
    if (!state.isDictionary()) return;
    QPDFObjectHandle mask = state.getKey("/SMask");
    if (!mask.isDictionary()) return;
    QPDFObjectHandle group = mask.getKey("/G");
    if (!group.isStream()) return;
    QPDFObjectHandle now = resolved(group, Start());
    if (now.getObjGen() == group.getObjGen()) return;
    QPDFObjectHandle newMask = mask.shallowCopy();
    newMask.replaceKey("/G", now);
    QPDFObjectHandle newState = state.shallowCopy();
    newState.replaceKey("/SMask", newMask);
    replacements["/ExtGState"][name] = newState;
    changed = true;
  }

  void replace(const char* category, const std::string& name, QPDFObjectHandle was,
               QPDFObjectHandle now) {
    if (now.getObjGen() == was.getObjGen()) return;
    replacements[category][name] = now;
    changed = true;
  }

  /// Hidden text: held back while its text object may still show visible text placed after it.
  void hideText(const std::string& op, const std::string& whole) {
    changed = true;
    if (!inText_) return;  // outside a text object it shows nothing and moves nothing
    holding_ = true;
    Held held;
    held.text = whole;
    held.hiddenShow = true;
    held.keepable = keepsInPlace(graphics_);
    held.mode = graphics_.mode;
    // ' and " move to the next line first, and " sets the word and character spacing.
    const Operand* word = operand(0);
    const Operand* character = operand(1);
    if (op == "\"" && word && character) {
      held.instead = "\n" + word->value + " Tw " + character->value + " Tc T*\n";
    } else if (op == "'" || op == "\"") {
      held.instead = "\nT*\n";
    }
    hold(std::move(held));
  }

  /// Whether hidden text drawn in `state` can be kept in place without painting: painted with an
  /// empty pattern, in the mode the content had (or its fill-only counterpart), both put back
  /// afterwards. Text rendered invisible (mode 3) would do, but Ghostscript 10.0 does not move on
  /// by text it does not paint, which would put the visible text after it out of place. A Type 3
  /// font may paint in its own colours, so its text goes.
  bool keepsInPlace(const Graphics& state) const {
    if (!state.modeKnown || !state.fillKnown) return false;
    QPDFObjectHandle font = resourceEntry(resources_, "/Font", state.font);
    return !font.isDictionary() || !font.getKey("/Subtype").isNameAndEquals("/Type3");
  }

  /// Ends holding text back: hidden text keeps its place for visible text placed after it when
  /// `keep`, else it goes, leaving the line and spacing it sets.
  void endHolding(bool keep) {
    if (!holding_) return;
    holding_ = false;
    int writtenMode = graphics_.writtenMode;
    bool emptyFill = graphics_.emptyFill;
    for (Held& piece : held_) {
      if (!piece.hiddenShow) {
        if (piece.setsMode) writtenMode = -1;
        if (piece.setsFill) emptyFill = false;
        out += piece.text;
        continue;
      }
      if (!keep || !piece.keepable) {
        out += piece.instead;
        continue;
      }
      const int mode = piece.mode;
      if (mode != 3 && mode != 7) {
        // Painting only the fill keeps any clipping the text does.
        const int fillOnly = mode >= 4 ? 4 : 0;
        if ((writtenMode >= 0 ? writtenMode : mode) != fillOnly) {
          out += "\n" + std::to_string(fillOnly) + " Tr\n";
          writtenMode = fillOnly;
        }
        if (!emptyFill) {
          out += "\n/Pattern cs " + emptyPattern() + " scn\n";
          emptyFill = true;
        }
      }
      out += piece.text;
    }
    if (keep) {
      graphics_.writtenMode = writtenMode;
      graphics_.emptyFill = emptyFill;
    }
    held_.clear();
  }

  /// The name of a coloured tiling pattern that paints nothing, free in these resources.
  std::string emptyPattern() {
    if (emptyPattern_.empty()) {
      QPDFObjectHandle patterns =
          resources_.isDictionary() ? resources_.getKey("/Pattern") : QPDFObjectHandle();
      std::string name = "/NotPrinted";
      for (int i = 1; patterns.isDictionary() && patterns.hasKey(name); ++i) {
        name = "/NotPrinted" + std::to_string(i);
      }
      emptyPattern_ = name;
      replacements["/Pattern"][name] = owner_.emptyPattern();
    }
    return emptyPattern_;
  }

  void finish() {
    endHolding(false);
    flushPath();
    if (inlineImage_) emit(inline_);
    emit(operands_);
    if (!changed || !resources_.isDictionary()) return;
    // Nothing written refers to groups any more, nor could content drawn with these resources.
    QPDFObjectHandle properties = resources_.getKey("/Properties");
    if (properties.isDictionary()) {
      for (const auto& [name, object] : properties.ditems()) {
        if (decided_.count(name) || isOptionalContent(object)) {
          replacements["/Properties"][name] = QPDFObjectHandle::newNull();
        }
      }
    }
    // XObjects that the content no longer draws are not written either (a hidden photograph
    // would otherwise travel with the job), unless a form draws with these resources.
    if (!inherits_) {
      QPDFObjectHandle xobjects = resources_.getKey("/XObject");
      if (xobjects.isDictionary()) {
        for (const auto& [name, object] : xobjects.ditems()) {
          if (!drawn_.count(name)) replacements["/XObject"][name] = QPDFObjectHandle::newNull();
        }
      }
    }
  }

  static constexpr size_t kDeepestSaved = size_t(1) << 16;

  PrintedContent& owner_;
  QPDFObjectHandle resources_;
  int depth_;
  std::string operands_;
  std::vector<Operand> significant_;
  /// An open marked-content span.
  struct Mark {
    bool hides = false;     ///< it, or a span around it, does not print
    bool optional = false;  ///< an optional-content span, whose markers are not written
  };
  std::vector<Mark> marks_;
  /// The property lists of optional-content spans, and whether each prints.
  std::unordered_map<std::string, bool> decided_;
  std::string path_;  ///< a hidden path under construction
  bool clips_ = false;
  bool inlineImage_ = false;
  std::string inline_;
  bool inText_ = false;
  Graphics graphics_;
  std::vector<Graphics> saved_;
  size_t unsaved_ = 0;
  bool holding_ = false;
  std::vector<Held> held_;
  std::string emptyPattern_;
  std::set<std::string> drawn_;  ///< XObjects the content still draws
  bool inherits_ = false;        ///< something it draws has no resources of its own
};

std::unique_ptr<PrintedContent> PrintedContent::of(QPDF& pdf) {
  std::optional<OptionalContent> layers = OptionalContent::of(pdf);
  if (!layers) return nullptr;
  return std::unique_ptr<PrintedContent>(new PrintedContent(pdf, std::move(*layers)));
}

std::string PrintedContent::decoded(QPDFObjectHandle stream) {
  std::string data;
  BoundedSink sink(data, std::min(kLargestStream, kMostDecoded - decodedBytes_));
  bool attempted = false;
  bool done = false;
  try {
    done = stream.pipeStreamData(&sink, &attempted, 0, qpdf_dl_generalized, true, false);
  } catch (const std::exception&) {
    // qpdf passes on what the sink throws for data it holds in memory.
    if (!sink.exceeded) throw;
  }
  if (sink.exceeded) refuse();
  if (sink.outOfMemory) throw std::bad_alloc();
  if (!done || !attempted) {
    throw std::runtime_error("content stream " + stream.getObjGen().unparse(' ') +
                             " cannot be decoded");
  }
  decodedBytes_ += data.size();
  return data;
}

QPDFObjectHandle PrintedContent::emptyPattern() {
  if (emptyPattern_.isNull()) {
    emptyPattern_ = QPDFObjectHandle::newStream(&pdf_, std::string());
    emptyPattern_.replaceDict(QPDFObjectHandle::parse(
        "<< /Type /Pattern /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 1 1] /XStep 1 "
        "/YStep 1 /Resources << >> >>"));
  }
  return emptyPattern_;
}

std::string PrintedContent::Start::key() const {
  return (modeKnown ? std::to_string(mode) : "?") + "|" + (fillKnown ? fill : "?");
}

QPDFObjectHandle PrintedContent::resolvedForm(QPDFObjectHandle form, QPDFObjectHandle inherited,
                                              const Start& start, int depth) {
  QPDFObjectHandle dict = form.getDict();
  QPDFObjectHandle own = dict.getKey("/Resources");
  const QPDFObjectHandle resources = own.isDictionary() ? own : inherited;
  const std::string inheritedIdentity = own.isDictionary() ? std::string() : identity(inherited);
  const bool remembered = own.isDictionary() || !inheritedIdentity.empty();
  const std::string key =
      form.getObjGen().unparse(' ') + "|" + inheritedIdentity + "|" + start.key();
  if (remembered) {
    auto found = forms_.find(key);
    if (found != forms_.end()) return found->second;
  }
  // A form that draws itself never ends; forms nested this deep are built to exhaust a reader.
  if (depth > kDeepestForm || !open_.insert(form.getObjGen()).second) refuse();
  struct Close {
    std::set<QPDFObjGen>& open;
    QPDFObjGen id;
    ~Close() { open.erase(id); }
  } close{open_, form.getObjGen()};
  Filter filter(*this, resources, start, depth);
  filter.run(decoded(form));

  QPDFObjectHandle result = form;
  // Its /OC was decided where it is drawn, and goes with the other markers.
  if (filter.changed || dict.hasKey("/OC")) {
    result = QPDFObjectHandle::newStream(&pdf_);
    QPDFObjectHandle copy = QPDFObjectHandle::newDictionary();
    for (const auto& [name, value] : dict.ditems()) {
      if (name != "/Length" && name != "/Filter" && name != "/DecodeParms" && name != "/DL" &&
          name != "/OC") {
        copy.replaceKey(name, value);
      }
    }
    if (!filter.replacements.empty()) {
      copy.replaceKey("/Resources", replaced(resources, filter.replacements));
    }
    result.replaceDict(copy);
    result.replaceStreamData(filter.out, QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
  }
  if (remembered) forms_[key] = result;
  return result;
}

QPDFObjectHandle PrintedContent::unmarked(QPDFObjectHandle xobject) {
  const std::string key = xobject.getObjGen().unparse(' ');
  auto found = forms_.find(key);
  if (found != forms_.end()) return found->second;
  QPDFObjectHandle copy = xobject.copyStream();
  copy.getDict().removeKey("/OC");
  forms_[key] = copy;
  return copy;
}

PrintedContent::Drawing PrintedContent::page(QPDFObjectHandle contents,
                                             QPDFObjectHandle resources) {
  const std::string c = identity(contents), r = identity(resources);
  const bool remembered = !c.empty() && !r.empty();
  const std::string key = c + "|" + r;
  if (remembered) {
    auto found = pages_.find(key);
    if (found != pages_.end()) return found->second;
  }
  // The streams of an array are one content, split anywhere between tokens.
  std::string data;
  if (contents.isStream()) {
    data = decoded(contents);
  } else if (contents.isArray()) {
    for (QPDFObjectHandle part : contents.aitems()) {
      if (!part.isStream()) continue;
      if (!data.empty()) data += '\n';
      data += decoded(part);
    }
  }
  // A page starts from the initial graphics state: fill mode, black.
  Start start;
  start.modeKnown = start.fillKnown = true;
  start.fill = "0 g";
  Filter filter(*this, resources, start, 0);
  filter.run(std::move(data));
  Drawing drawing{contents, resources};
  if (filter.changed) {
    drawing.contents = QPDFObjectHandle::newStream(&pdf_, filter.out);
    if (!filter.replacements.empty()) {
      drawing.resources = replaced(resources, filter.replacements);
    }
  }
  if (remembered) pages_[key] = drawing;
  return drawing;
}

}  // namespace vardelle::artwork
