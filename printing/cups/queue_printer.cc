#include "printing/cups/queue_printer.h"

#include <cups/cups.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "base/print_failure.h"

namespace vardelle::printing {
namespace {

bool sameText(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

bool asciiAlnum(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// The text with its blanks trimmed and every run of blanks inside one space.
std::string words(std::string_view text) {
  std::string out;
  for (char c : text) {
    const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
    if (blank) {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// Whole words only: "Vardelle" begins "Vardelle Firmware Printer", not "Vardellex Printer".
bool startsWithWord(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && sameText(text.substr(0, prefix.size()), prefix) &&
         (text.size() == prefix.size() || text[prefix.size()] == ' ');
}

bool endsWithWord(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         sameText(text.substr(text.size() - suffix.size()), suffix) &&
         (text.size() == suffix.size() || text[text.size() - suffix.size() - 1] == ' ');
}

std::string withoutTrailingDot(std::string_view domain) {
  if (domain.ends_with('.')) domain.remove_suffix(1);
  return std::string(domain);
}

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

[[noreturn]] void notFound(const std::string& queue) {
  throw PrintFailure("The printer behind " + quoted(queue) +
                     " could not be found on the network, so the artwork could not be sent at "
                     "exact size. Make sure the printer is switched on and connected, then try "
                     "again; if it stays hidden, add it in the Printers settings by its ipp:// "
                     "address and print to that queue.");
}

[[noreturn]] void notTheQueuesPrinter(const std::string& queue, const std::string& service,
                                      const std::string& why) {
  throw PrintFailure("The printer found on the network for " + quoted(queue) + " (" +
                     quoted(service) + ") is not the one the queue was made for: " + why +
                     ". Nothing was sent. Add the printer in the Printers settings by its ipp:// "
                     "address and print to that queue.");
}

}  // namespace

std::string uuidValue(std::string_view uuid) {
  if (uuid.size() >= 9 && sameText(uuid.substr(0, 9), "urn:uuid:")) uuid.remove_prefix(9);
  std::string value(uuid);
  for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return value;
}

std::optional<NamedService> serviceInDeviceUri(std::string_view deviceUri) {
  char scheme[32], user[256], host[1024], resource[1024];
  int port = 0;
  const std::string uri(deviceUri);
  if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, user, sizeof user,
                      host, sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK) {
    return std::nullopt;
  }
  const std::string_view s(scheme);
  if (s != "dnssd" && s != "ipp" && s != "ipps") return std::nullopt;
  // The instance name may itself contain dots: the type is the last "._ipp(s)._tcp." in it.
  const std::string_view h(host);
  for (std::string_view type : {"._ipps._tcp.", "._ipp._tcp."}) {
    const auto at = h.rfind(type);
    if (at == std::string_view::npos || at == 0) continue;
    NamedService named;
    named.name = std::string(h.substr(0, at));
    named.type = std::string(type.substr(1, type.size() - 2));
    named.domain = withoutTrailingDot(h.substr(at + type.size()));
    if (named.domain.empty()) return std::nullopt;
    const std::string_view r(resource);
    if (const auto query = r.find("uuid="); s == "dnssd" && query != std::string_view::npos) {
      std::string_view uuid = r.substr(query + 5);
      uuid = uuid.substr(0, uuid.find('&'));
      if (!uuid.empty()) named.uuid = std::string(uuid);
    }
    return named;
  }
  return std::nullopt;
}

bool isCupsBrowsedDevice(std::string_view deviceUri) {
  return deviceUri.starts_with("implicitclass://") && deviceUri.size() > 16;
}

std::string cupsBrowsedQueueName(std::string_view service) {
  std::string name;
  bool separated = false;
  for (char c : service) {
    if (asciiAlnum(c)) {
      name += c;
      separated = false;
    } else if (!separated) {
      name += '_';
      separated = true;
    }
  }
  while (!name.empty() && name.back() == '_') name.pop_back();
  const auto first = name.find_first_not_of('_');
  return first == std::string::npos ? std::string() : name.substr(first);
}

std::string cupsQueueName(std::string_view service) {
  std::string name;
  for (char c : service) {
    if (name.size() >= 127) break;
    if (asciiAlnum(c)) {
      name += c;
    } else if (name.empty() || name.back() != '_') {
      name += '_';
    }
  }
  if (name.size() > 1 && name.back() == '_') name.pop_back();
  return name;
}

AnnouncedPrinter choosePrinter(const QueueFacts& queue,
                               const std::vector<AnnouncedPrinter>& found) {
  auto isIpp = [](const AnnouncedPrinter& p) {
    return p.type == "_ipp._tcp" || p.type == "_ipps._tcp";
  };
  if (std::optional<NamedService> named = serviceInDeviceUri(queue.deviceUri)) {
    const AnnouncedPrinter* chosen = nullptr;
    for (const AnnouncedPrinter& p : found) {
      if (!isIpp(p) || p.name != named->name ||
          !sameText(withoutTrailingDot(p.domain), named->domain)) {
        continue;
      }
      if (!chosen || (p.type == named->type && chosen->type != named->type)) chosen = &p;
    }
    if (!chosen) notFound(queue.name);
    if (named->uuid) {
      const std::optional<std::string> announced = chosen->txtValue("UUID");
      if (announced && uuidValue(*announced) != uuidValue(*named->uuid)) {
        notTheQueuesPrinter(queue.name, chosen->name,
                            "DNS-SD announces it with another identity (UUID " + *announced +
                                " instead of " + *named->uuid + ")");
      }
    }
    return *chosen;
  }

  // cups-browsed keeps the printer of its queue to itself: the queue's name is what is left of
  // it, made from the service name.
  const AnnouncedPrinter* chosen = onePrinterNamed(queue.name, found, cupsBrowsedQueueName);
  if (!chosen) notFound(queue.name);
  return *chosen;
}

const AnnouncedPrinter* onePrinterNamed(const std::string& name,
                                        const std::vector<AnnouncedPrinter>& found,
                                        std::string (*nameOf)(std::string_view)) {
  std::vector<const AnnouncedPrinter*> candidates;
  for (const AnnouncedPrinter& p : found) {
    if ((p.type == "_ipp._tcp" || p.type == "_ipps._tcp") && sameText(nameOf(p.name), name)) {
      candidates.push_back(&p);
    }
  }
  if (candidates.empty()) return nullptr;
  // The same printer announced as _ipp._tcp and _ipps._tcp is one printer (one UUID), reached
  // over TLS as cups-browsed and CUPS then reach it.
  auto identity = [](const AnnouncedPrinter& p) {
    const std::optional<std::string> uuid = p.txtValue("UUID");
    return uuid && !uuid->empty() ? "uuid:" + uuidValue(*uuid) : "name:" + p.name;
  };
  std::set<std::string> printers;
  std::set<std::string> names;
  for (const AnnouncedPrinter* p : candidates) {
    printers.insert(identity(*p));
    names.insert(p->name);
  }
  if (printers.size() > 1) {
    std::string list;
    for (const std::string& service : names) list += (list.empty() ? "" : ", ") + quoted(service);
    throw PrintFailure("Several printers on the network answer to " + quoted(name) + " (" + list +
                       "), so it is not certain which one would print. Add the printer you mean "
                       "in the Printers settings by its ipp:// address and print to that queue.");
  }
  const AnnouncedPrinter* chosen = candidates.front();
  for (const AnnouncedPrinter* p : candidates) {
    if (p->secure() && !chosen->secure()) chosen = p;
  }
  return chosen;
}

void confirmPrinter(const QueueFacts& queue, const AnnouncedPrinter& service,
                    const PrinterIdentity& printer) {
  const std::string said = printer.makeAndModel ? words(*printer.makeAndModel) : "";
  if (said.empty()) {
    notTheQueuesPrinter(queue.name, service.name, "it does not say its make and model");
  }
  const std::string make = words(queue.manufacturer);
  const std::string model = words(queue.modelName);
  bool same = false;
  std::string expected;
  if (!model.empty()) {
    const bool madeBy = make.empty() || startsWithWord(said, make) ||
                        (sameText(make, "HP") && (startsWithWord(said, "Hewlett-Packard") ||
                                                  startsWithWord(said, "Hewlett Packard")));
    same = madeBy && endsWithWord(said, model);
    expected = make.empty() || startsWithWord(model, make) ? model : make + " " + model;
  } else {
    expected = words(queue.makeAndModel);
    same = sameText(said, expected);
  }
  if (!same) {
    notTheQueuesPrinter(queue.name, service.name,
                        "it is a " + quoted(said) + ", the queue is for a " + quoted(expected));
  }
  std::optional<std::string> announced = service.txtValue("UUID");
  if (announced && announced->empty()) announced.reset();
  if (!announced) {
    if (std::optional<NamedService> named = serviceInDeviceUri(queue.deviceUri)) {
      announced = named->uuid;
    }
  }
  if (announced && printer.uuid && uuidValue(*printer.uuid) != uuidValue(*announced)) {
    notTheQueuesPrinter(queue.name, service.name,
                        "it answers with another identity (" + *printer.uuid + ")");
  }
}

std::string dnssdUnavailable(const std::string& queue) {
  return "The printer behind " + quoted(queue) +
         " is found by its network name, but this computer's DNS-SD service (Avahi) is not "
         "running, so the artwork could not be sent at exact size. Start the avahi-daemon "
         "service, or add the printer in the Printers settings by its ipp:// address, then try "
         "again.";
}

}  // namespace vardelle::printing
