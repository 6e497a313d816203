#include "artwork/optional_content.h"

#include <algorithm>

namespace vardelle::artwork {

namespace {

/// The names of a name-or-array entry (/Intent, /Category); `fallback` when absent.
std::set<std::string> names(QPDFObjectHandle value, const char* fallback) {
  std::set<std::string> out;
  if (value.isName()) {
    out.insert(value.getName());
  } else if (value.isArray()) {
    for (QPDFObjectHandle item : value.aitems()) {
      if (item.isName()) out.insert(item.getName());
    }
  } else if (fallback) {
    out.insert(fallback);
  }
  return out;
}

/// The items of an entry that holds one object or an array of them (/OCGs of a membership
/// dictionary and of a usage application).
std::vector<QPDFObjectHandle> items(QPDFObjectHandle value) {
  if (value.isArray()) return value.getArrayAsVector();
  if (value.isNull()) return {};
  return {value};
}

bool isGroup(QPDFObjectHandle object) {
  return object.isDictionary() && object.getKey("/Type").isNameAndEquals("/OCG");
}

bool isMembership(QPDFObjectHandle object) {
  if (!object.isDictionary()) return false;
  QPDFObjectHandle type = object.getKey("/Type");
  if (type.isNameAndEquals("/OCMD")) return true;
  // Without a type, a dictionary holding the entries only a membership dictionary has is one.
  return !type.isName() && (object.hasKey("/OCGs") || object.hasKey("/VE") || object.hasKey("/P"));
}

}  // namespace

std::optional<OptionalContent> OptionalContent::of(QPDF& pdf) {
  QPDFObjectHandle properties = pdf.getRoot().getKey("/OCProperties");
  if (!properties.isDictionary()) return std::nullopt;
  OptionalContent content;
  QPDFObjectHandle config = properties.getKey("/D");
  if (!config.isDictionary()) config = QPDFObjectHandle::newDictionary();

  // The default configuration's intent is View; /All takes every group into account.
  const std::set<std::string> intent = names(config.getKey("/Intent"), "/View");
  const bool allIntents = intent.count("/All") > 0;
  // Groups whose intent is not the configuration's are ignored, which leaves their content on.
  std::set<QPDFObjGen> ignored;

  const bool baseOff = config.getKey("/BaseState").isNameAndEquals("/OFF");
  QPDFObjectHandle listed = properties.getKey("/OCGs");
  if (listed.isArray()) {
    for (QPDFObjectHandle group : listed.aitems()) {
      if (!group.isIndirect() || !group.isDictionary()) continue;
      const QPDFObjGen id = group.getObjGen();
      if (content.groups_.count(id)) continue;
      content.groups_[id] = !baseOff;
      QPDFObjectHandle name = group.getKey("/Name");
      content.listed_.emplace_back(id, name.isString() ? name.getUTF8Value() : std::string());
      if (!allIntents) {
        const std::set<std::string> own = names(group.getKey("/Intent"), "/View");
        if (std::none_of(own.begin(), own.end(),
                         [&](const std::string& n) { return intent.count(n) > 0; })) {
          ignored.insert(id);
        }
      }
    }
  }
  auto set = [&](QPDFObjectHandle group, bool on) {
    if (!group.isIndirect()) return;
    auto found = content.groups_.find(group.getObjGen());
    if (found != content.groups_.end()) found->second = on;
  };
  for (const char* key : {"/ON", "/OFF"}) {
    QPDFObjectHandle list = config.getKey(key);
    if (!list.isArray()) continue;
    for (QPDFObjectHandle group : list.aitems()) set(group, std::string(key) == "/ON");
  }

  // What a printed page shows: each group the Print event names takes its print state.
  QPDFObjectHandle usage = config.getKey("/AS");
  if (usage.isArray()) {
    for (QPDFObjectHandle application : usage.aitems()) {
      if (!application.isDictionary() || !application.getKey("/Event").isNameAndEquals("/Print") ||
          names(application.getKey("/Category"), nullptr).count("/Print") == 0) {
        continue;
      }
      for (QPDFObjectHandle group : items(application.getKey("/OCGs"))) {
        if (!group.isDictionary()) continue;
        QPDFObjectHandle state = group.getKey("/Usage").getKey("/Print").getKey("/PrintState");
        if (state.isNameAndEquals("/ON")) set(group, true);
        if (state.isNameAndEquals("/OFF")) set(group, false);
      }
    }
  }
  for (const QPDFObjGen& id : ignored) content.groups_[id] = true;
  return content;
}

bool OptionalContent::groupPrints(QPDFObjectHandle group) const {
  if (!group.isIndirect()) return true;
  auto found = groups_.find(group.getObjGen());
  return found == groups_.end() || found->second;
}

bool OptionalContent::prints(QPDFObjectHandle oc) {
  if (isGroup(oc)) return groupPrints(oc);
  if (isMembership(oc)) return membershipPrints(oc);
  // A group without its /Type is still one when the document lists it.
  if (oc.isIndirect() && groups_.count(oc.getObjGen())) return groupPrints(oc);
  return true;
}

bool OptionalContent::membershipPrints(QPDFObjectHandle membership) {
  const bool remembered = membership.isIndirect();
  if (remembered) {
    auto found = memberships_.find(membership.getObjGen());
    if (found != memberships_.end()) return found->second;
  }
  std::optional<bool> result;
  QPDFObjectHandle ve = membership.getKey("/VE");
  if (ve.isArray()) {
    int budget = kLargestExpression;
    std::set<QPDFObjGen> open;
    result = expression(ve, 0, budget, open);
  }
  if (!result) {
    // Missing or null groups are left out; with none left the dictionary decides nothing.
    size_t on = 0, off = 0;
    for (QPDFObjectHandle group : items(membership.getKey("/OCGs"))) {
      if (!group.isDictionary()) continue;
      ++(groupPrints(group) ? on : off);
    }
    QPDFObjectHandle policy = membership.getKey("/P");
    if (on + off == 0) {
      result = true;
    } else if (policy.isNameAndEquals("/AllOn")) {
      result = off == 0;
    } else if (policy.isNameAndEquals("/AnyOff")) {
      result = off > 0;
    } else if (policy.isNameAndEquals("/AllOff")) {
      result = on == 0;
    } else {
      result = on > 0;  // /AnyOn, the default, and any policy PDF does not define
    }
  }
  if (remembered) memberships_[membership.getObjGen()] = *result;
  return *result;
}

std::optional<bool> OptionalContent::expression(QPDFObjectHandle term, int depth, int& budget,
                                                std::set<QPDFObjGen>& open) const {
  if (--budget < 0 || depth > kDeepestExpression) return std::nullopt;
  // A reference to a missing object, like a missing group, counts as on.
  if (term.isNull()) return true;
  if (term.isDictionary()) return groupPrints(term);
  if (!term.isArray()) return std::nullopt;
  // An expression that contains itself has no value.
  const bool indirect = term.isIndirect();
  if (indirect && !open.insert(term.getObjGen()).second) return std::nullopt;
  std::optional<bool> result;
  const int count = term.getArrayNItems();
  QPDFObjectHandle op = count > 0 ? term.getArrayItem(0) : QPDFObjectHandle::newNull();
  const bool isNot = op.isNameAndEquals("/Not");
  const bool isAnd = op.isNameAndEquals("/And");
  if ((isNot && count == 2) || ((isAnd || op.isNameAndEquals("/Or")) && count >= 2)) {
    // Every operand is evaluated, so that a malformed one anywhere voids the whole expression.
    bool all = true, any = false, valid = true;
    for (int i = 1; i < count && valid; ++i) {
      std::optional<bool> value = expression(term.getArrayItem(i), depth + 1, budget, open);
      if (!value) {
        valid = false;
      } else {
        all = all && *value;
        any = any || *value;
      }
    }
    if (valid) result = isNot ? !all : isAnd ? all : any;
  }
  if (indirect) open.erase(term.getObjGen());
  return result;
}

namespace {

/// `name` as the warning shows it: control characters as spaces, at most kLongestName characters.
std::string shownName(const std::string& name) {
  constexpr size_t kLongestName = 60;
  std::string shown;
  size_t characters = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(name[i]);
    const bool continuation = (byte & 0xC0) == 0x80;
    if (!continuation && ++characters > kLongestName) {
      shown += "\xE2\x80\xA6";
      break;
    }
    shown += byte < 0x20 || byte == 0x7F ? ' ' : char(byte);
  }
  return shown;
}

}  // namespace

std::optional<std::string> layersNotPrintedWarning(QPDF& pdf) {
  constexpr size_t kNamesShown = 8;
  std::optional<OptionalContent> layers = OptionalContent::of(pdf);
  if (!layers) return std::nullopt;
  std::vector<std::string> names;
  size_t unnamed = 0;
  for (const std::string& name : layers->groupsNotPrinted()) {
    if (name.find_first_not_of(" \t\r\n") == std::string::npos) {
      ++unnamed;
    } else if (std::find(names.begin(), names.end(), name) == names.end()) {
      names.push_back(name);
    }
  }
  if (names.empty() && unnamed == 0) return std::nullopt;
  std::string listed;
  const size_t shown = std::min(names.size(), kNamesShown);
  for (size_t i = 0; i < shown; ++i) {
    if (i > 0) listed += ", ";
    listed += "\"" + shownName(names[i]) + "\"";
  }
  const size_t more = names.size() - shown + unnamed;
  if (more > 0) {
    if (!listed.empty()) listed += " and ";
    if (shown > 0) {
      listed += std::to_string(more) + " more";
    } else {
      listed += more == 1 ? "an unnamed layer" : std::to_string(more) + " unnamed layers";
    }
  }
  const bool one = names.size() + unnamed == 1;
  return std::string("This PDF has ") + (one ? "a layer" : "layers") +
         " set not to print: " + listed + ". " + (one ? "It is" : "They are") +
         " left out of the preview, the thumbnail and the print.";
}

std::vector<std::string> OptionalContent::groupsNotPrinted() const {
  std::vector<std::string> out;
  for (const auto& [id, name] : listed_) {
    if (!groups_.at(id)) out.push_back(name);
  }
  return out;
}

}  // namespace vardelle::artwork
