#include "printing/cups/dnssd_printers.h"

#include <cups/cups.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>

namespace vardelle::printing {
namespace {

TEST(DnssdPrinters, ALinkLocalAddressKeepsTheInterfaceItWasHeardOn) {
  const int lo = int(if_nametoindex("lo"));
  ASSERT_GT(lo, 0);
  EXPECT_EQ(scopedAddress("fe80::1c2:33ff:fe44:5566", lo), "fe80::1c2:33ff:fe44:5566%lo");
  EXPECT_EQ(scopedAddress("FE80::1", lo), "FE80::1%lo");
  EXPECT_EQ(scopedAddress("febf::1", lo), "febf::1%lo");
  // Other addresses are the same on every interface.
  EXPECT_EQ(scopedAddress("192.168.1.20", lo), "192.168.1.20");
  EXPECT_EQ(scopedAddress("fd00::1", lo), "fd00::1");
  EXPECT_EQ(scopedAddress("fec0::1", lo), "fec0::1");
  EXPECT_EQ(scopedAddress("fe80::1%lo", lo), "fe80::1%lo");
  EXPECT_EQ(scopedAddress("fe80::1", 0), "fe80::1");

  // libcups, which makes the connection, takes the interface into the socket address: without
  // it the kernel refuses to send to a link-local address (EINVAL), and the printer was
  // "unreachable".
  http_addrlist_t* list = httpAddrGetList(scopedAddress("fe80::1", lo).c_str(), AF_UNSPEC, "631");
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->addr.addr.sa_family, AF_INET6);
  EXPECT_EQ(list->addr.ipv6.sin6_scope_id, unsigned(lo));
  httpAddrFreeList(list);
}

}  // namespace
}  // namespace vardelle::printing
