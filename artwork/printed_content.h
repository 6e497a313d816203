#pragma once

// Page content as it prints: what optional content hides is left out of the content the helper
// writes, so that every reader of the sheet (Ghostscript, poppler, a printer's own interpreter,
// a viewer that ignores layers) draws the same page, whatever it makes of layers.

#include "artwork/optional_content.h"
#include "artwork/plain_pdf_limits.h"

#include <cstddef>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>

namespace vardelle::artwork {

/// Resolves the optional content of one document's pages. Not thread-safe, like the QPDF it reads
/// and adds to.
class PrintedContent {
 public:
  /// One content stream is decoded up to this size, and all of a document's up to kMostDecoded:
  /// the bounds the plain reader puts on one stream and on a whole file.
  static constexpr size_t kLargestStream = plain_pdf::kLargestDecoded;
  static constexpr size_t kMostDecoded = plain_pdf::kMostDecoded;
  /// Forms (and patterns and soft masks) nested deeper than this are refused.
  static constexpr int kDeepestForm = 64;

  /// The resolver for `pdf`, which must outlive it; none when the document has no optional
  /// content properties, since its pages then print as they are.
  static std::unique_ptr<PrintedContent> of(QPDF& pdf);

  /// Content with its resources.
  struct Drawing {
    QPDFObjectHandle contents;  ///< a page's /Contents: a stream or an array of streams
    QPDFObjectHandle resources;
  };

  /// A page's `contents` drawn with `resources` as the page prints. The same objects when nothing
  /// in them is optional content that does not print; otherwise one new content stream and, where
  /// a form, tiling pattern or soft mask it uses changed or an XObject it no longer draws went,
  /// new resources, all new objects of the document (nothing it had is changed).
  ///
  /// Within a marked-content span that does not print, what paints (paths, text, images, inline
  /// images, shadings, XObjects) is left out and what sets the graphics state for the content
  /// after the span (colours, q/Q, transforms, clipping paths, text state) stays, so that the
  /// content stays valid, balanced and drawn as before. Hidden text that visible text in its text
  /// object is placed after stays, painted with a pattern that paints nothing (the mode and fill
  /// the content set are put back before the visible text), where the mode and fill it inherits
  /// are known and its font is not Type 3; elsewhere it goes. XObjects whose
  /// /OC does not print are not drawn, nor written. Forms, tiling patterns and soft-mask groups
  /// are resolved the same way wherever they are nested. What is decided is no longer marked:
  /// the optional-content spans' BDC and EMC, the XObjects' /OC and the property lists they name
  /// are not written, so no reader can decide again.
  ///
  /// Throws PrintFailure(kUnreadablePdfSentence) when a stream decodes to more than
  /// kLargestStream, all of them to more than kMostDecoded, or forms nest deeper than
  /// kDeepestForm or draw themselves; std::runtime_error when a stream cannot be decoded.
  Drawing page(QPDFObjectHandle contents, QPDFObjectHandle resources);

  /// The document's print state of its layers.
  OptionalContent& layers() { return layers_; }

  class Filter;

 private:
  PrintedContent(QPDF& pdf, OptionalContent layers) : pdf_(pdf), layers_(std::move(layers)) {}

  friend class Filter;
  /// What content starts with, as far as hidden text needs it: the text render mode and the
  /// operators that set the fill colour, where known.
  struct Start {
    bool modeKnown = false;
    int mode = 0;
    bool fillKnown = false;
    std::string fill;
    std::string key() const;
  };
  /// The stream's data, decoded within the limits.
  std::string decoded(QPDFObjectHandle stream);
  /// A form XObject, tiling pattern or soft-mask group as it prints, drawn with its own resources
  /// or else `inherited`, from `start`: itself when nothing in it changes.
  QPDFObjectHandle resolvedForm(QPDFObjectHandle form, QPDFObjectHandle inherited,
                                const Start& start, int depth);
  /// A coloured tiling pattern that paints nothing, one for the document.
  QPDFObjectHandle emptyPattern();
  /// An image XObject that prints, without its /OC.
  QPDFObjectHandle unmarked(QPDFObjectHandle xobject);

  QPDF& pdf_;
  OptionalContent layers_;
  size_t decodedBytes_ = 0;
  std::map<std::string, QPDFObjectHandle> forms_;
  std::set<QPDFObjGen> open_;
  std::map<std::string, Drawing> pages_;
  QPDFObjectHandle emptyPattern_ = QPDFObjectHandle::newNull();
};

}  // namespace vardelle::artwork
