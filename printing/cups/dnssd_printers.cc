#include "printing/cups/dnssd_printers.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/malloc.h>
#include <avahi-common/simple-watch.h>
#include <cups/cups.h>
#include <net/if.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <memory>
#include <set>
#include <tuple>

namespace vardelle::printing {
namespace {

struct SimplePollFree {
  void operator()(AvahiSimplePoll* poll) const noexcept { avahi_simple_poll_free(poll); }
};
using SimplePoll = std::unique_ptr<AvahiSimplePoll, SimplePollFree>;

// Freeing the client frees the browsers and resolvers still open on it.
struct ClientFree {
  void operator()(AvahiClient* client) const noexcept { avahi_client_free(client); }
};
using Client = std::unique_ptr<AvahiClient, ClientFree>;

// What the callbacks record; they run inside avahi_simple_poll_iterate, on this thread, and never
// throw.
struct Look {
  AvahiClient* client = nullptr;
  std::set<AvahiServiceBrowser*> browsing;  ///< browsers that have not said "all for now" yet
  int resolving = 0;
  std::vector<AnnouncedPrinter> found;
};

bool sameText(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

void resolved(AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiProtocol,
              AvahiResolverEvent event, const char* name, const char* type, const char* domain,
              const char* hostName, const AvahiAddress* address, uint16_t port,
              AvahiStringList* txt, AvahiLookupResultFlags, void* data) noexcept {
  auto& look = *static_cast<Look*>(data);
  if (event == AVAHI_RESOLVER_FOUND && name && type && domain && hostName && address) {
    try {
      AnnouncedPrinter printer;
      printer.name = name;
      printer.type = type;
      printer.domain = domain;
      printer.hostName = hostName;
      char text[AVAHI_ADDRESS_STR_MAX];
      avahi_address_snprint(text, sizeof text, address);
      printer.address = scopedAddress(text, interface);
      printer.port = port;
      char interfaceName[IF_NAMESIZE] = {};
      printer.onLoopback = if_indextoname(static_cast<unsigned>(interface), interfaceName) &&
                           std::string_view(interfaceName) == "lo";
      for (AvahiStringList* entry = txt; entry; entry = avahi_string_list_get_next(entry)) {
        char* key = nullptr;
        char* value = nullptr;
        size_t size = 0;
        if (avahi_string_list_get_pair(entry, &key, &value, &size) == 0 && key) {
          printer.txt[key] = value ? std::string(value, size) : std::string();
        }
        avahi_free(key);
        avahi_free(value);
      }
      look.found.push_back(std::move(printer));
    } catch (...) {
      // Out of memory while copying: the service is left out, as one that did not resolve.
    }
  }
  avahi_service_resolver_free(resolver);
  --look.resolving;
}

void browsed(AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
             AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
             AvahiLookupResultFlags, void* data) noexcept {
  auto& look = *static_cast<Look*>(data);
  switch (event) {
    case AVAHI_BROWSER_NEW:
      if (avahi_service_resolver_new(look.client, interface, protocol, name, type, domain,
                                     AVAHI_PROTO_UNSPEC, static_cast<AvahiLookupFlags>(0), resolved,
                                     &look)) {
        ++look.resolving;
      }
      break;
    case AVAHI_BROWSER_ALL_FOR_NOW:
    case AVAHI_BROWSER_FAILURE:
      look.browsing.erase(browser);
      break;
    case AVAHI_BROWSER_REMOVE:
    case AVAHI_BROWSER_CACHE_EXHAUSTED:
      break;
  }
}

void clientState(AvahiClient*, AvahiClientState, void*) noexcept {}

// One entry per service: a service resolved on several interfaces or families is the same
// printer. The loopback interface first (CUPS names it "localhost"), then IPv4.
std::vector<AnnouncedPrinter> oncePerService(std::vector<AnnouncedPrinter> found) {
  auto rank = [](const AnnouncedPrinter& p) {
    return std::make_tuple(!p.onLoopback, p.address.find(':') != std::string::npos);
  };
  std::stable_sort(found.begin(), found.end(), [&](const auto& a, const auto& b) {
    return std::tie(a.name, a.type, a.domain) < std::tie(b.name, b.type, b.domain) ||
           (std::tie(a.name, a.type, a.domain) == std::tie(b.name, b.type, b.domain) &&
            rank(a) < rank(b));
  });
  found.erase(std::unique(found.begin(), found.end(),
                          [](const auto& a, const auto& b) {
                            return a.name == b.name && a.type == b.type && a.domain == b.domain;
                          }),
              found.end());
  return found;
}

}  // namespace

std::string scopedAddress(const std::string& address, int interfaceIndex) {
  // fe80::/10 is only meaningful on one link: without its interface the kernel cannot route it.
  unsigned first = 0;
  const auto [end, error] =
      std::from_chars(address.data(), address.data() + address.size(), first, 16);
  const bool linkLocal = error == std::errc() && end != address.data() + address.size() &&
                         *end == ':' && (first & 0xffc0) == 0xfe80;
  char name[IF_NAMESIZE] = {};
  if (!linkLocal || address.find('%') != std::string::npos || interfaceIndex <= 0 ||
      !if_indextoname(unsigned(interfaceIndex), name)) {
    return address;
  }
  return address + "%" + name;
}

std::optional<std::string> AnnouncedPrinter::txtValue(std::string_view key) const {
  for (const auto& [k, v] : txt) {
    if (sameText(k, key)) return v;
  }
  return std::nullopt;
}

std::string AnnouncedPrinter::uri() const {
  std::string resource = txtValue("rp").value_or("");
  if (!resource.starts_with("/")) resource.insert(0, "/");
  char uri[HTTP_MAX_URI];
  httpAssembleURI(HTTP_URI_CODING_ALL, uri, sizeof uri, secure() ? "ipps" : "ipp", nullptr,
                  onLoopback ? "localhost" : hostName.c_str(), port, resource.c_str());
  return uri;
}

DnssdLook browseIppPrinters(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  DnssdLook result;
  SimplePoll poll(avahi_simple_poll_new());
  if (!poll) return result;
  Look look;
  int error = 0;
  Client client(avahi_client_new(avahi_simple_poll_get(poll.get()),
                                 static_cast<AvahiClientFlags>(0), clientState, &look, &error));
  if (!client) return result;
  result.available = true;
  look.client = client.get();
  for (const char* type : {"_ipp._tcp", "_ipps._tcp"}) {
    if (AvahiServiceBrowser* browser =
            avahi_service_browser_new(client.get(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, type,
                                      nullptr, static_cast<AvahiLookupFlags>(0), browsed, &look)) {
      look.browsing.insert(browser);
    }
  }
  while (!look.browsing.empty() || look.resolving > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    if (avahi_simple_poll_iterate(poll.get(), static_cast<int>(left.count())) != 0) break;
  }
  result.printers = oncePerService(std::move(look.found));
  return result;
}

}  // namespace vardelle::printing
