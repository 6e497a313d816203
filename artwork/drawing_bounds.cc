#include "artwork/drawing_bounds.h"

#include <new>
#include <set>
#include <vector>

#include "artwork/pdf_document.h"
#include "base/diagnostics.h"
#include "base/drawing_deadline.h"
#include "base/print_failure.h"
// pdf_document.h has set up qpdf's headers.
#include <qpdf/QPDFPageObjectHelper.hh>

namespace vardelle::artwork {

namespace {

// Values looked at, at most: the check before copying has bounded what a page reaches already;
// this only keeps the look itself short.
constexpr std::size_t kMostValues = 1'000'000;

std::uint64_t integerOf(QPDFObjectHandle value) {
  if (value.isInteger()) {
    const long long n = value.getIntValue();
    return n > 0 ? std::uint64_t(n) : 0;
  }
  if (value.isReal()) {
    const double n = value.getNumericValue();
    return n >= 1 && n < 1e19 ? std::uint64_t(n) : 0;
  }
  return 0;
}

// a × b, saturating.
std::uint64_t times(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product = 0;
  return __builtin_mul_overflow(a, b, &product) ? UINT64_MAX : product;
}

// Whether `dictionary` (of a stream) claims more than a renderer can decode in time.
bool claimsTooMuch(QPDFObjectHandle dictionary) {
  if (dictionary.getKey("/Subtype").isNameAndEquals("/Image")) {
    const std::uint64_t pixels =
        times(integerOf(dictionary.getKey("/Width")), integerOf(dictionary.getKey("/Height")));
    if (pixels > kMostImagePixels) {
      debugNote("an image of the page claims " + std::to_string(pixels) + " pixels");
      return true;
    }
  }
  QPDFObjectHandle type = dictionary.getKey("/FunctionType");
  if (type.isInteger() && type.getIntValue() == 0) {
    QPDFObjectHandle size = dictionary.getKey("/Size");
    QPDFObjectHandle range = dictionary.getKey("/Range");
    std::uint64_t samples = range.isArray() ? std::uint64_t(range.getArrayNItems()) / 2 : 1;
    if (size.isArray()) {
      for (int i = 0, n = size.getArrayNItems(); i < n; ++i) {
        samples = times(samples, integerOf(size.getArrayItem(i)));
      }
    }
    if (samples > kMostFunctionSamples) {
      debugNote("a sampled function of the page claims " + std::to_string(samples) + " values");
      return true;
    }
  }
  return false;
}

}  // namespace

void requireBoundedDecoding(const PdfPage& page) {
  if (!page.document) return;
  bool tooMuch = false;
  try {
    QPDFObjectHandle resources = QPDFPageObjectHelper(page.document->pageObject(page.index))
                                     .getAttribute("/Resources", false);
    std::vector<QPDFObjectHandle> pending{resources};
    std::set<QPDFObjGen> seen;
    for (std::size_t looked = 0; !pending.empty() && looked < kMostValues && !tooMuch; ++looked) {
      QPDFObjectHandle value = pending.back();
      pending.pop_back();
      if (value.isIndirect() && !seen.insert(value.getObjGen()).second) continue;
      if (value.isStream()) value = value.getDict();
      if (value.isArray()) {
        for (int i = 0, n = value.getArrayNItems(); i < n; ++i) {
          pending.push_back(value.getArrayItem(i));
        }
      } else if (value.isDictionary()) {
        tooMuch = claimsTooMuch(value);
        for (const std::string& key : value.getKeys()) {
          // Up the page tree lies every other page.
          if (key != "/Parent") pending.push_back(value.getKey(key));
        }
      }
    }
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    // A damaged object is the renderer's to meet, as it would be without this look.
    debugNote(std::string("qpdf, looking through the page's resources: ") + e.what());
  }
  if (tooMuch) throw PrintFailure(kTooLongToDrawSentence);
}

}  // namespace vardelle::artwork
