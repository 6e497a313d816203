#include "artwork/printed_content.h"

#include <gtest/gtest.h>
#include <qpdf/Buffer.hh>

#include <sstream>
#include <string>

#include "base/artwork_format.h"
#include "base/print_failure.h"

namespace vardelle::artwork {
namespace {

// A document with a layer that prints (/On) and one that does not (/Off), and page resources
// naming them; content is resolved as a page's.
class Resolve : public ::testing::Test {
 protected:
  void SetUp() override {
    silenceQpdf(pdf);
    pdf.emptyPDF();
    on = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /OCG /Name (On) >>"));
    off = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /OCG /Name (Off) >>"));
    pdf.getRoot().replaceKey(
        "/OCProperties",
        QPDFObjectHandle::parse(&pdf, "<< /OCGs [" + ref(on) + " " + ref(off) + "] /D << /OFF [" +
                                          ref(off) + "] >> >>"));
    resources = QPDFObjectHandle::parse(
        &pdf, "<< /Properties << /On " + ref(on) + " /Off " + ref(off) + " >> /XObject << >> >>");
    printed = PrintedContent::of(pdf);
    ASSERT_TRUE(printed);
  }

  static std::string ref(QPDFObjectHandle o) { return o.getObjGen().unparse(' ') + " R"; }

  QPDFObjectHandle stream(const std::string& data, const std::string& dictionary = "<< >>") {
    QPDFObjectHandle s = QPDFObjectHandle::newStream(&pdf, data);
    for (const auto& [key, value] : QPDFObjectHandle::parse(&pdf, dictionary).ditems()) {
      s.getDict().replaceKey(key, value);
    }
    return s;
  }
  void addXObject(const std::string& name, QPDFObjectHandle xobject) {
    resources.getKey("/XObject").replaceKey(name, xobject);
  }

  static std::string data(QPDFObjectHandle stream) {
    std::shared_ptr<Buffer> b = stream.getStreamData(qpdf_dl_generalized);
    return {reinterpret_cast<const char*>(b->getBuffer()), b->getSize()};
  }
  // Runs of white space made one space, so that expectations read as content.
  static std::string words(const std::string& text) {
    std::istringstream in(text);
    std::string word, out;
    while (in >> word) out += (out.empty() ? "" : " ") + word;
    return out;
  }

  // The content as the page prints, in words.
  std::string resolved(const std::string& content) {
    last = printed->page(stream(content), resources);
    return words(data(last.contents));
  }

  QPDF pdf;
  QPDFObjectHandle on, off, resources;
  std::unique_ptr<PrintedContent> printed;
  PrintedContent::Drawing last;
};

TEST(PrintedContentOf, ADocumentWithoutLayersIsLeftAsItIs) {
  QPDF pdf;
  pdf.emptyPDF();
  EXPECT_FALSE(PrintedContent::of(pdf));
}

TEST_F(Resolve, ContentWithoutOptionalContentIsTheSameObjects) {
  QPDFObjectHandle contents = stream("q 0 g 0 0 10 10 re f Q /Span << /MCID 0 >> BDC EMC");
  PrintedContent::Drawing drawing = printed->page(contents, resources);
  EXPECT_EQ(drawing.contents.getObjGen(), contents.getObjGen());
  EXPECT_EQ(drawing.resources.unparse(), resources.unparse());
  QPDFObjectHandle parts = QPDFObjectHandle::newArray({contents, stream("1 g")});
  EXPECT_EQ(printed->page(parts, resources).contents.unparse(), parts.unparse());
}

TEST_F(Resolve, WhatPrintsLosesOnlyItsMarkers) {
  EXPECT_EQ(resolved("q /OC /On BDC 0 g 0 0 10 10 re f EMC Q /Span << /MCID 0 >> BDC BT ET EMC"),
            "q 0 g 0 0 10 10 re f Q /Span << /MCID 0 >> BDC BT ET EMC");
  // Nothing written names the group any more.
  EXPECT_FALSE(last.resources.getKey("/Properties").hasKey("/On"));
  // An unbalanced EMC and operators this does not know stay as they were.
  EXPECT_EQ(resolved("/OC /On BDC EMC EMC BX 1 2 unknown EX"), "EMC BX 1 2 unknown EX");
}

TEST_F(Resolve, AHiddenSpanLosesWhatPaintsAndKeepsWhatSetsTheState) {
  addXObject("/Im", stream("\1",
                           "<< /Subtype /Image /Width 1 /Height 1 /BitsPerComponent 8 "
                           "/ColorSpace /DeviceGray >>"));
  EXPECT_EQ(resolved("q /OC /Off BDC 1 0 0 rg 2 w [3] 0 d 0 0 10 10 re f 5 5 m 6 6 l 7 7 8 8 9 9 c "
                     "S 1 0 0 1 5 5 cm /Im Do /Sh sh q 0 g Q EMC 0 0 5 5 re f Q"),
            "q 1 0 0 rg 2 w [3] 0 d 1 0 0 1 5 5 cm q 0 g Q 0 0 5 5 re f Q");
  // The image is no longer drawn, nor written.
  EXPECT_FALSE(last.resources.getKey("/XObject").hasKey("/Im"));
  // Spans nested either way inside a hidden one hide too, and balance as before.
  EXPECT_EQ(resolved("/OC /Off BDC /OC /On BDC 0 0 1 1 re f EMC /P BMC 0 0 1 1 re f EMC EMC "
                     "/OC /On BDC /OC /Off BDC 0 0 2 2 re f EMC 0 0 3 3 re f EMC"),
            "/P BMC EMC 0 0 3 3 re f");
}

TEST_F(Resolve, AClipSetInAHiddenSpanStillClips) {
  EXPECT_EQ(resolved("q /OC /Off BDC 0 0 5 5 re W n 1 1 2 2 re W* f 3 3 4 4 re B EMC 0 g 0 0 9 9 "
                     "re f Q"),
            "q 0 0 5 5 re W n 1 1 2 2 re W* n 0 g 0 0 9 9 re f Q");
}

TEST_F(Resolve, HiddenInlineImagesGoAndVisibleOnesStayByteForByte) {
  const std::string image = "BI /W 2 /H 1 /CS /G /BPC 8 ID " + std::string("E\0", 2) + " EI";
  const std::string hidden = "/OC /Off BDC q " + image + " Q EMC 1 g";
  EXPECT_EQ(resolved(hidden), "q Q 1 g");
  // Image data that spells an operator is data.
  const std::string visible = "/OC /On BDC BI /W 3 /H 1 /CS /G /BPC 8 ID EMC EI EMC 1 g";
  last = printed->page(stream(visible), resources);
  EXPECT_EQ(data(last.contents), " BI /W 3 /H 1 /CS /G /BPC 8 ID EMC EI 1 g");
}

TEST_F(Resolve, HiddenTextGoesUnlessVisibleTextInItsObjectIsPlacedAfterIt) {
  // Nothing after it in its text object depends on where it ended.
  EXPECT_EQ(resolved("BT /F1 12 Tf 1 0 0 1 5 5 Tm /OC /Off BDC (a) Tj [(b) 5 (c)] TJ EMC ET"),
            "BT /F1 12 Tf 1 0 0 1 5 5 Tm ET");
  EXPECT_EQ(resolved("BT /OC /Off BDC (a) Tj EMC 5 0 Td (b) Tj ET"), "BT 5 0 Td (b) Tj ET");
  // ' and " still move to the next line, and " still sets the spacing.
  EXPECT_EQ(resolved("BT /OC /Off BDC (a) ' 1 2 (b) \" EMC 0 -14 Td (c) Tj ET"),
            "BT T* 1 Tw 2 Tc T* 0 -14 Td (c) Tj ET");
  // Visible text placed after it: the hidden text stays, painted with a pattern that paints
  // nothing, and the fill comes back.
  EXPECT_EQ(resolved("BT /OC /Off BDC (a) Tj EMC (b) Tj /OC /Off BDC (c) Tj EMC (d) Tj ET"),
            "BT /Pattern cs /NotPrinted scn (a) Tj 0 g (b) Tj /Pattern cs /NotPrinted scn (c) Tj "
            "0 g (d) Tj ET");
  QPDFObjectHandle empty = last.resources.getKey("/Pattern").getKey("/NotPrinted");
  ASSERT_TRUE(empty.isStream());
  EXPECT_EQ(data(empty), "");
  EXPECT_EQ(empty.getDict().getKey("/PaintType").getIntValue(), 1);
  // Stroked text is filled instead, clipping text still clips, invisible text stays as it is;
  // the mode and the colour the content set come back.
  EXPECT_EQ(resolved("q 2 Tr 1 0 0 rg BT /OC /Off BDC (a) Tj 1 Tr (b) Tj EMC (c) Tj ET Q BT (d) "
                     "Tj ET"),
            "q 2 Tr 1 0 0 rg BT 0 Tr /Pattern cs /NotPrinted scn (a) Tj 1 Tr 0 Tr (b) Tj 1 Tr 1 "
            "0 0 rg (c) Tj ET Q BT (d) Tj ET");
  EXPECT_EQ(resolved("BT 5 Tr /OC /Off BDC (a) Tj EMC (b) Tj 7 Tr /OC /Off BDC (c) Tj EMC (d) Tj "
                     "ET"),
            "BT 5 Tr 4 Tr /Pattern cs /NotPrinted scn (a) Tj 5 Tr 0 g (b) Tj 7 Tr (c) Tj (d) Tj ET");
  // Hidden text with no visible text after it in its object goes, wherever it is.
  EXPECT_EQ(resolved("BT /OC /Off BDC (a) Tj EMC (b) Tj /OC /Off BDC (c) Tj EMC ET BT (d) Tj ET"),
            "BT /Pattern cs /NotPrinted scn (a) Tj 0 g (b) Tj ET BT (d) Tj ET");
  // A Type 3 font may paint in colours of its own: its hidden text goes.
  resources.replaceKey("/Font", QPDFObjectHandle::parse("<< /T3 << /Subtype /Type3 >> >>"));
  EXPECT_EQ(resolved("BT /T3 9 Tf /OC /Off BDC (a) Tj EMC (b) Tj ET"), "BT /T3 9 Tf (b) Tj ET");
}

TEST_F(Resolve, HiddenTextInAFormComesBackToTheColourItWasDrawnWith) {
  const std::string text = "BT /OC /Off BDC (a) Tj EMC (b) Tj ET";
  addXObject("/Fm", stream(text, "<< /Subtype /Form /BBox [0 0 1 1] /Resources << /Properties << "
                                 "/Off " + ref(off) + " >> >> >>"));
  resolved("1 0 0 rg /Fm Do");
  EXPECT_EQ(words(data(last.resources.getKey("/XObject").getKey("/Fm"))),
            "BT /Pattern cs /NotPrinted scn (a) Tj 1 0 0 rg (b) Tj ET");
  // Drawn in a colour of a named colour space, which the form's resources need not have, the
  // colour could not come back: the hidden text goes.
  resolved("/Spot cs 1 scn /Fm Do");
  EXPECT_EQ(words(data(last.resources.getKey("/XObject").getKey("/Fm"))), "BT (b) Tj ET");
}

TEST_F(Resolve, XObjectsAreDrawnAsTheirOwnOptionalContentSays) {
  QPDFObjectHandle hiddenImage =
      stream("\1",
             "<< /Subtype /Image /Width 1 /Height 1 /BitsPerComponent 8 /ColorSpace /DeviceGray "
             "/OC " +
                 ref(off) + " >>");
  QPDFObjectHandle shownImage =
      stream("\1",
             "<< /Subtype /Image /Width 1 /Height 1 /BitsPerComponent 8 /ColorSpace /DeviceGray "
             "/OC " +
                 ref(on) + " >>");
  QPDFObjectHandle plainForm =
      stream("0 g 0 0 1 1 re f", "<< /Subtype /Form /BBox [0 0 1 1] /Resources << >> >>");
  QPDFObjectHandle layeredForm =
      stream("/OC /Off BDC 0 0 1 1 re f EMC 1 g",
             "<< /Subtype /Form /BBox [0 0 1 1] /Resources << /Properties << /Off " + ref(off) +
                 " >> >> >>");
  addXObject("/Hidden", hiddenImage);
  addXObject("/Shown", shownImage);
  addXObject("/Plain", plainForm);
  addXObject("/Layered", layeredForm);
  addXObject("/Unused", plainForm);
  EXPECT_EQ(resolved("/Hidden Do /Shown Do /Plain Do /Layered Do"),
            "/Shown Do /Plain Do /Layered Do");
  QPDFObjectHandle xobjects = last.resources.getKey("/XObject");
  EXPECT_EQ(xobjects.getKeys(), (std::set<std::string>{"/Shown", "/Plain", "/Layered"}));
  // The image that prints is drawn from a copy without its /OC; the plain form is itself; the
  // layered form is a new form without the hidden square, its group no longer named.
  EXPECT_NE(xobjects.getKey("/Shown").getObjGen(), shownImage.getObjGen());
  EXPECT_FALSE(xobjects.getKey("/Shown").getDict().hasKey("/OC"));
  EXPECT_EQ(data(xobjects.getKey("/Shown")), "\1");
  EXPECT_EQ(xobjects.getKey("/Plain").getObjGen(), plainForm.getObjGen());
  QPDFObjectHandle form = xobjects.getKey("/Layered");
  EXPECT_NE(form.getObjGen(), layeredForm.getObjGen());
  EXPECT_EQ(words(data(form)), "1 g");
  EXPECT_EQ(form.getDict().getKey("/BBox").unparse(), "[ 0 0 1 1 ]");
  EXPECT_FALSE(form.getDict().getKey("/Resources").getKey("/Properties").hasKey("/Off"));
  // The source objects are untouched.
  EXPECT_TRUE(shownImage.getDict().hasKey("/OC"));
  EXPECT_EQ(words(data(layeredForm)), "/OC /Off BDC 0 0 1 1 re f EMC 1 g");
  // A form drawn again, from another page, is the same new form.
  resolved("q /Layered Do Q");
  EXPECT_EQ(last.resources.getKey("/XObject").getKey("/Layered").getObjGen(), form.getObjGen());
  // A form without resources of its own draws with these: only what prints nowhere goes.
  addXObject("/Inheriting", stream("/Unused Do", "<< /Subtype /Form /BBox [0 0 1 1] >>"));
  resolved("/Hidden Do /Inheriting Do");
  EXPECT_EQ(last.resources.getKey("/XObject").getKeys(),
            (std::set<std::string>{"/Shown", "/Plain", "/Layered", "/Unused", "/Inheriting"}));
}

TEST_F(Resolve, PatternsAndSoftMasksAreResolvedWhereverTheyAreUsed) {
  const std::string properties = "<< /Properties << /Off " + ref(off) + " >> >>";
  QPDFObjectHandle pattern = stream("/OC /Off BDC 0 0 2 2 re f EMC",
                                    "<< /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 2 2] "
                                    "/XStep 2 /YStep 2 /Resources " +
                                        properties + " >>");
  QPDFObjectHandle group = stream("/OC /Off BDC 0 0 2 2 re f EMC",
                                  "<< /Subtype /Form /BBox [0 0 2 2] /Group << /S /Transparency "
                                  ">> /Resources " +
                                      properties + " >>");
  resources.replaceKey("/Pattern", QPDFObjectHandle::newDictionary({{"/P", pattern}}));
  resources.replaceKey("/ExtGState",
                       QPDFObjectHandle::parse(&pdf, "<< /Masked << /SMask << /S /Luminosity /G " +
                                                         ref(group) + " >> /CA 0.5 >> >>"));
  // Used inside a hidden span, the state they set still holds afterwards.
  EXPECT_EQ(resolved("/OC /Off BDC /Pattern cs /P scn /Masked gs EMC 0 0 5 5 re f"),
            "/Pattern cs /P scn /Masked gs 0 0 5 5 re f");
  QPDFObjectHandle newPattern = last.resources.getKey("/Pattern").getKey("/P");
  EXPECT_NE(newPattern.getObjGen(), pattern.getObjGen());
  EXPECT_EQ(words(data(newPattern)), "");
  EXPECT_EQ(newPattern.getDict().getKey("/XStep").getIntValue(), 2);
  QPDFObjectHandle state = last.resources.getKey("/ExtGState").getKey("/Masked");
  EXPECT_EQ(state.getKey("/CA").getNumericValue(), 0.5);
  EXPECT_EQ(words(data(state.getKey("/SMask").getKey("/G"))), "");
  EXPECT_TRUE(state.getKey("/SMask").getKey("/G").getDict().hasKey("/Group"));
}

TEST_F(Resolve, TheStreamsOfAnArrayAreOneContent) {
  QPDFObjectHandle parts = QPDFObjectHandle::newArray(
      {stream("q /OC /Off"), stream(" BDC 0 0 1 1 re"), stream("f EMC Q")});
  PrintedContent::Drawing drawing = printed->page(parts, resources);
  ASSERT_TRUE(drawing.contents.isStream());
  EXPECT_EQ(words(data(drawing.contents)), "q Q");
}

TEST_F(Resolve, FormsThatDrawThemselvesOrNestPastTheLimitAreRefused) {
  auto refusal = [&](const std::string& content) {
    try {
      printed->page(stream(content), resources);
    } catch (const PrintFailure& failure) {
      return std::string(failure.what());
    }
    return std::string("no failure");
  };
  QPDFObjectHandle loop = stream("/Loop Do", "<< /Subtype /Form /BBox [0 0 1 1] >>");
  loop.getDict().replaceKey(
      "/Resources", QPDFObjectHandle::newDictionary(
                        {{"/XObject", QPDFObjectHandle::newDictionary({{"/Loop", loop}})}}));
  addXObject("/Loop", loop);
  EXPECT_EQ(refusal("/OC /On BDC /Loop Do EMC"), kUnreadablePdfSentence);

  // A chain of forms, each drawing the next.
  auto chain = [&](int length) {
    QPDFObjectHandle next = stream("/OC /Off BDC 0 0 1 1 re f EMC",
                                   "<< /Subtype /Form /BBox [0 0 1 1] /Resources << /Properties "
                                   "<< /Off " +
                                       ref(off) + " >> >> >>");
    for (int i = 0; i < length; ++i) {
      QPDFObjectHandle form = stream("/N Do", "<< /Subtype /Form /BBox [0 0 1 1] >>");
      form.getDict().replaceKey(
          "/Resources", QPDFObjectHandle::newDictionary(
                            {{"/XObject", QPDFObjectHandle::newDictionary({{"/N", next}})}}));
      next = form;
    }
    return next;
  };
  addXObject("/Deep", chain(PrintedContent::kDeepestForm + 5));
  EXPECT_EQ(refusal("/Deep Do"), kUnreadablePdfSentence);
  addXObject("/Fine", chain(PrintedContent::kDeepestForm - 1));
  EXPECT_EQ(refusal("/Fine Do"), "no failure");
}

TEST_F(Resolve, ContentPastTheDecodingLimitIsRefused) {
  const std::string large(PrintedContent::kLargestStream + 1, ' ');
  try {
    printed->page(stream("/OC /Off BDC" + large + "EMC"), resources);
    FAIL() << "no failure";
  } catch (const PrintFailure& failure) {
    EXPECT_STREQ(failure.what(), kUnreadablePdfSentence);
  }
}

}  // namespace
}  // namespace vardelle::artwork
