#include "artwork/optional_content.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vardelle::artwork {
namespace {

// A document in memory with groups 1…n (objects "G1 0 R"…) and whatever else a test adds,
// its catalog's /OCProperties written as text with those references.
class Layers {
 public:
  explicit Layers(int groups, const std::vector<std::string>& usage = {}) {
    silenceQpdf(pdf);
    pdf.emptyPDF();
    for (int i = 0; i < groups; ++i) {
      std::string text = "<< /Type /OCG /Name (Layer " + std::to_string(i + 1) + ")";
      if (i < int(usage.size())) text += " " + usage[i];
      ids.push_back(pdf.makeIndirectObject(QPDFObjectHandle::parse(text + " >>")));
    }
  }
  // `text` with each "G<n>" replaced by group n's reference.
  std::string refs(std::string text) const {
    for (size_t i = ids.size(); i >= 1; --i) {
      const std::string name = "G" + std::to_string(i);
      const std::string ref = ids[i - 1].getObjGen().unparse(' ') + " R";
      for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at)) {
        text.replace(at, name.size(), ref);
      }
    }
    return text;
  }
  QPDFObjectHandle object(const std::string& text) {
    return pdf.makeIndirectObject(QPDFObjectHandle::parse(&pdf, refs(text)));
  }
  // Every group listed, `config` the default configuration.
  std::optional<OptionalContent> rule(const std::string& config) {
    std::string all;
    for (size_t i = 1; i <= ids.size(); ++i) all += "G" + std::to_string(i) + " ";
    pdf.getRoot().replaceKey(
        "/OCProperties",
        QPDFObjectHandle::parse(&pdf, refs("<< /OCGs [" + all + "] /D " + config + " >>")));
    return OptionalContent::of(pdf);
  }
  QPDFObjectHandle group(int n) const { return ids.at(size_t(n - 1)); }

  QPDF pdf;
  std::vector<QPDFObjectHandle> ids;
};

TEST(OptionalContent, ADocumentWithoutPropertiesHasNoneAndItsContentAllPrints) {
  Layers layers(1);
  EXPECT_FALSE(OptionalContent::of(layers.pdf));
  layers.pdf.getRoot().replaceKey("/OCProperties", QPDFObjectHandle::newInteger(3));
  EXPECT_FALSE(OptionalContent::of(layers.pdf));
}

TEST(OptionalContent, TheDefaultConfigurationSetsTheBaseStateThenOnThenOff) {
  Layers layers(4);
  auto rule = layers.rule("<< /OFF [G2 G3] /ON [G3] >>");
  ASSERT_TRUE(rule);
  EXPECT_TRUE(rule->prints(layers.group(1)));
  EXPECT_FALSE(rule->prints(layers.group(2)));
  EXPECT_FALSE(rule->prints(layers.group(3))) << "a group both on and off ends off";
  EXPECT_EQ(rule->groupsNotPrinted(), (std::vector<std::string>{"Layer 2", "Layer 3"}));

  rule = layers.rule("<< /BaseState /OFF /ON [G4] >>");
  EXPECT_FALSE(rule->prints(layers.group(1)));
  EXPECT_TRUE(rule->prints(layers.group(4)));
  // /Unchanged, like a missing configuration, leaves every group on.
  EXPECT_TRUE(layers.rule("<< /BaseState /Unchanged >>")->prints(layers.group(1)));
  EXPECT_TRUE(layers.rule("7")->prints(layers.group(2)));
}

TEST(OptionalContent, ThePrintEventAppliesEachGroupsPrintStateAndNothingOfTheView) {
  const std::string screenOnly =
      "/Usage << /View << /ViewState /ON >> /Print << /PrintState /OFF >> >>";
  const std::string printOnly =
      "/Usage << /View << /ViewState /OFF >> /Print << /PrintState /ON >> >>";
  Layers layers(4, {screenOnly, printOnly, screenOnly, printOnly});
  // Groups 3 and 4 carry the same usage, but only the View event names them.
  auto rule = layers.rule(
      "<< /OFF [G2 G4] /AS [<< /Event /Print /OCGs [G1 G2] /Category [/Print] >> << /Event /View "
      "/OCGs [G1 G2 G3 G4] /Category [/View] >>] >>");
  EXPECT_FALSE(rule->prints(layers.group(1)));
  EXPECT_TRUE(rule->prints(layers.group(2)));
  EXPECT_TRUE(rule->prints(layers.group(3)));
  EXPECT_FALSE(rule->prints(layers.group(4)));

  // A Print event that does not consult the Print category, or names a single group directly.
  rule = layers.rule("<< /AS [<< /Event /Print /OCGs [G1] /Category [/Zoom] >>] >>");
  EXPECT_TRUE(rule->prints(layers.group(1)));
  rule = layers.rule("<< /AS [<< /Event /Print /OCGs G1 /Category /Print >>] >>");
  EXPECT_FALSE(rule->prints(layers.group(1)));
}

TEST(OptionalContent, GroupsOfAnotherIntentAreIgnoredAndSoPrint) {
  Layers layers(2, {"/Intent /Design", "/Intent [/Design /View]"});
  auto rule = layers.rule("<< /OFF [G1 G2] >>");
  EXPECT_TRUE(rule->prints(layers.group(1)));
  EXPECT_FALSE(rule->prints(layers.group(2)));
  rule = layers.rule("<< /OFF [G1 G2] /Intent /All >>");
  EXPECT_FALSE(rule->prints(layers.group(1)));
}

TEST(OptionalContent, MissingUnlistedAndMistypedGroupsPrint) {
  Layers layers(2);
  auto rule = layers.rule("<< /BaseState /OFF >>");
  QPDFObjectHandle unlisted = layers.object("<< /Type /OCG /Name (Elsewhere) >>");
  EXPECT_TRUE(rule->prints(unlisted));
  EXPECT_TRUE(rule->prints(QPDFObjectHandle::newNull()));
  EXPECT_TRUE(rule->prints(QPDFObjectHandle::newInteger(1)));
  EXPECT_TRUE(rule->prints(QPDFObjectHandle::parse("<< /Type /OCG >>")));
  EXPECT_FALSE(rule->prints(layers.group(1)));
  // Listed without its /Type, still a group.
  QPDFObjectHandle untyped = layers.group(2);
  untyped.removeKey("/Type");
  EXPECT_FALSE(rule->prints(untyped));
}

TEST(OptionalContent, MembershipPoliciesDecideOverTheirValidGroups) {
  Layers layers(2);
  auto rule = layers.rule("<< /OFF [G2] >>");
  struct Case {
    const char* membership;
    bool prints;
  };
  const Case cases[] = {
      {"/OCGs [G1 G2] /P /AllOn", false},
      {"/OCGs [G1 G2] /P /AnyOn", true},
      {"/OCGs [G1 G2]", true},
      {"/OCGs [G1 G2] /P /AnyOff", true},
      {"/OCGs [G1 G2] /P /AllOff", false},
      {"/OCGs G2 /P /AllOff", true},
      {"/OCGs [G2] /P /Sometimes", false},            // an unknown policy reads as AnyOn
      {"/OCGs [G2 99 0 R null 5] /P /AllOff", true},  // the missing and the wrong are left out
      {"/OCGs [99 0 R] /P /AllOn", true},             // nothing valid decides nothing
      {"/P /AllOff", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.membership);
    EXPECT_EQ(rule->prints(layers.object(std::string("<< /Type /OCMD ") + c.membership + " >>")),
              c.prints);
  }
  // Without its /Type, a dictionary with membership entries is one.
  EXPECT_FALSE(rule->prints(layers.object("<< /OCGs [G1 G2] /P /AllOn >>")));
}

TEST(OptionalContent, VisibilityExpressionsOverrideThePolicy) {
  Layers layers(3);
  auto rule = layers.rule("<< /OFF [G2] >>");
  struct Case {
    const char* expression;
    bool prints;
  };
  const Case cases[] = {
      {"[/And G1 G3]", true},        {"[/And G1 G2]", false},
      {"[/Or G2 G1]", true},         {"[/Not G2]", true},
      {"[/Not [/Or G1 G2]]", false}, {"[/And G1 [/Or G2 [/Not G2]] [/Not [/And G2 G3]]]", true},
      {"[/And G1 99 0 R]", true},  // a missing group counts as on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    // The policy says the opposite.
    const std::string policy = c.prints ? "/OCGs [G2] /P /AllOn" : "/OCGs [G1] /P /AnyOn";
    EXPECT_EQ(
        rule->prints(layers.object("<< /Type /OCMD " + policy + " /VE " + c.expression + " >>")),
        c.prints);
  }
}

TEST(OptionalContent, AnExpressionThatCannotBeEvaluatedLeavesThePolicyToDecide) {
  Layers layers(2);
  auto rule = layers.rule("<< /OFF [G2] >>");
  const char* malformed[] = {
      "[/Not G1 G2]", "[/Xor G1 G2]", "[/And]", "[/And G1 5]", "[G1]", "[/Or G1 (text)]",
  };
  for (const char* expression : malformed) {
    SCOPED_TRACE(expression);
    // By the policy: printed, since group 2 is off.
    EXPECT_TRUE(rule->prints(layers.object(
        std::string("<< /Type /OCMD /OCGs [G2] /P /AnyOff /VE ") + expression + " >>")));
  }
  // An expression that contains itself: were the loop taken as on, the expression would print.
  QPDFObjectHandle loop = layers.object("[/And G1 null]");
  loop.setArrayItem(2, loop);
  QPDFObjectHandle membership = layers.object("<< /Type /OCMD /OCGs [G1] /P /AllOff >>");
  membership.replaceKey("/VE", loop);
  EXPECT_FALSE(rule->prints(membership));
}

TEST(OptionalContent, HostileExpressionsEndInThePolicy) {
  Layers layers(2);
  auto rule = layers.rule("<< /OFF [G2] >>");
  // 2,001 levels of /Not, each its own object: evaluated, it would hide.
  QPDFObjectHandle deep = layers.group(1);
  for (int i = 0; i < 2001; ++i) {
    deep = layers.pdf.makeIndirectObject(
        QPDFObjectHandle::newArray({QPDFObjectHandle::newName("/Not"), deep}));
  }
  QPDFObjectHandle deepMembership = layers.object("<< /Type /OCMD /OCGs [G1] >>");
  deepMembership.replaceKey("/VE", deep);
  EXPECT_TRUE(rule->prints(deepMembership));
  // Each of 60 levels names the one below twice: 2^60 terms, were each evaluated; it would hide.
  QPDFObjectHandle shared = layers.object("[/Not G1]");
  for (int i = 0; i < 60; ++i) {
    QPDFObjectHandle next = layers.object("[/And null null]");
    next.setArrayItem(1, shared);
    next.setArrayItem(2, shared);
    shared = next;
  }
  QPDFObjectHandle wide = layers.object("<< /Type /OCMD /OCGs [G1] >>");
  wide.replaceKey("/VE", shared);
  EXPECT_TRUE(rule->prints(wide));
  // Nesting within the limit is evaluated.
  std::string fine = "G1";
  for (int i = 0; i < OptionalContent::kDeepestExpression; ++i) fine = "[/Not " + fine + "]";
  EXPECT_TRUE(
      rule->prints(layers.object("<< /Type /OCMD /OCGs [G2] /P /AllOn /VE " + fine + " >>")));
}

// The warning names what will not print without letting a file make it long or break its line.
TEST(OptionalContent, TheWarningNamesTheLayersThatWillNotPrintWithinBounds) {
  Layers layers(3);
  layers.rule("<< >>");
  EXPECT_FALSE(layersNotPrintedWarning(layers.pdf)) << "every layer prints";
  layers.rule("<< /OFF [G2] >>");
  EXPECT_EQ(layersNotPrintedWarning(layers.pdf),
            "This PDF has a layer set not to print: \"Layer 2\". It is left out of the preview, "
            "the thumbnail and the print.");

  Layers named(12);
  named.group(1).replaceKey("/Name", QPDFObjectHandle::newUnicodeString(
                                         "Die\nline " + std::string(80, 'x') + "\xC3\xA9"));
  named.group(2).replaceKey("/Name", QPDFObjectHandle::newUnicodeString("Layer 4"));
  named.group(3).removeKey("/Name");
  std::string off;
  for (int i = 1; i <= 12; ++i) off += "G" + std::to_string(i) + " ";
  named.rule("<< /OFF [" + off + "] >>");
  const std::string longName = "Die line " + std::string(51, 'x') + "\xE2\x80\xA6";
  EXPECT_EQ(layersNotPrintedWarning(named.pdf),
            "This PDF has layers set not to print: \"" + longName +
                "\", \"Layer 4\", \"Layer 5\", \"Layer 6\", \"Layer 7\", \"Layer 8\", \"Layer 9\", "
                "\"Layer 10\" and 3 more. They are left out of the preview, the thumbnail and the "
                "print.")
      << "a name shortened to 60 characters, a repeated name once, an unnamed layer counted";

  Layers unnamed(2);
  unnamed.group(1).removeKey("/Name");
  unnamed.group(2).replaceKey("/Name", QPDFObjectHandle::newString(" "));
  unnamed.rule("<< /BaseState /OFF >>");
  EXPECT_EQ(layersNotPrintedWarning(unnamed.pdf),
            "This PDF has layers set not to print: 2 unnamed layers. They are left out of the "
            "preview, the thumbnail and the print.");
  unnamed.rule("<< /OFF [G1] >>");
  EXPECT_EQ(layersNotPrintedWarning(unnamed.pdf),
            "This PDF has a layer set not to print: an unnamed layer. It is left out of the "
            "preview, the thumbnail and the print.");
}

}  // namespace
}  // namespace vardelle::artwork
