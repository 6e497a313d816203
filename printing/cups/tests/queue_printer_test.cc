#include "printing/cups/queue_printer.h"

#include <gtest/gtest.h>

#include "base/print_failure.h"
#include "testing/failure.h"

namespace vardelle::printing {
namespace {

AnnouncedPrinter announced(const std::string& name, const std::string& type,
                           const std::string& uuid) {
  AnnouncedPrinter printer;
  printer.name = name;
  printer.type = type;
  printer.domain = "local";
  printer.hostName = "studio.local";
  printer.address = "192.168.1.20";
  printer.port = 631;
  printer.txt = {{"rp", "ipp/print"}, {"ty", "Vardelle Firmware Printer"}, {"UUID", uuid}};
  return printer;
}

TEST(QueuePrinter, DeviceUrisNameTheirServiceThroughDnssd) {
  auto dnssd = serviceInDeviceUri(
      "dnssd://Studio%20Photo%20v2.5._ipp._tcp.local/?uuid=0a606bfb-82f9-30b7-563b-667e372b9bb1");
  ASSERT_TRUE(dnssd);
  EXPECT_EQ(dnssd->name, "Studio Photo v2.5");  // dots of its own stay in the instance name
  EXPECT_EQ(dnssd->type, "_ipp._tcp");
  EXPECT_EQ(dnssd->domain, "local");
  EXPECT_EQ(dnssd->uuid, "0a606bfb-82f9-30b7-563b-667e372b9bb1");

  auto discovered = serviceInDeviceUri("ipps://Studio%20Photo._ipps._tcp.local./");
  ASSERT_TRUE(discovered);
  EXPECT_EQ(discovered->name, "Studio Photo");
  EXPECT_EQ(discovered->type, "_ipps._tcp");
  EXPECT_EQ(discovered->domain, "local");
  EXPECT_FALSE(discovered->uuid);

  for (const char* other :
       {"ipp://192.168.1.20/ipp/print", "ipp://studio.local:631/ipp/print",
        "implicitclass://Studio_Photo/", "usb://EPSON/SC-P800", "socket://Studio._ipp._tcp.local/",
        "dnssd://._ipp._tcp.local/", "ipp://Studio._ipp._tcp./", ""}) {
    EXPECT_FALSE(serviceInDeviceUri(other)) << other;
  }
  EXPECT_TRUE(isCupsBrowsedDevice("implicitclass://Studio_Photo/"));
  EXPECT_FALSE(isCupsBrowsedDevice("implicitclass://"));
}

TEST(QueuePrinter, QueueNamesAreMadeFromServiceNamesAsCupsBrowsedAndCupsMakeThem) {
  EXPECT_EQ(cupsBrowsedQueueName("Studio Photo"), "Studio_Photo");
  EXPECT_EQ(cupsBrowsedQueueName("Studio-Photo"), "Studio_Photo");
  EXPECT_EQ(cupsBrowsedQueueName("  EPSON SC-P900 (Studio) "), "EPSON_SC_P900_Studio");
  EXPECT_EQ(cupsBrowsedQueueName("Büro Drucker"), "B_ro_Drucker");  // bytes, not letters
  EXPECT_EQ(cupsBrowsedQueueName("---"), "");

  EXPECT_EQ(cupsQueueName("Studio Photo"), "Studio_Photo");
  // CUPS keeps a leading separator that cups-browsed cuts off.
  EXPECT_EQ(cupsQueueName(" Studio Photo "), "_Studio_Photo");
  EXPECT_EQ(cupsQueueName(std::string(200, 'a')).size(), 127u);
}

TEST(QueuePrinter, ACupsBrowsedQueueStandsForExactlyOnePrinter) {
  const QueueFacts queue{"Studio_Photo", "implicitclass://Studio_Photo/", "", "", ""};
  const std::string uuid = "0a606bfb-82f9-30b7-563b-667e372b9bb1";
  // One printer announced twice, over IPP and over TLS: it is taken over TLS.
  const std::vector<AnnouncedPrinter> one = {announced("Studio Photo", "_ipp._tcp", uuid),
                                             announced("Studio Photo", "_ipps._tcp", uuid),
                                             announced("Office", "_ipp._tcp", "11")};
  const AnnouncedPrinter chosen = choosePrinter(queue, one);
  EXPECT_EQ(chosen.type, "_ipps._tcp");
  EXPECT_EQ(chosen.uri(), "ipps://studio.local:631/ipp/print");

  const std::vector<AnnouncedPrinter> two = {announced("Studio Photo", "_ipp._tcp", uuid),
                                             announced("Studio-Photo", "_ipp._tcp", "22")};
  EXPECT_EQ(testing::failureOf([&] { choosePrinter(queue, two); }),
            "Several printers on the network answer to \"Studio_Photo\" (\"Studio Photo\", "
            "\"Studio-Photo\"), so it is not certain which one would print. Add the printer you "
            "mean in the Printers settings by its ipp:// address and print to that queue.");

  EXPECT_EQ(
      testing::failureOf([&] { choosePrinter(queue, {announced("Office", "_ipp._tcp", "11")}); }),
      "The printer behind \"Studio_Photo\" could not be found on the network, so the "
      "artwork could not be sent at exact size. Make sure the printer is switched on and "
      "connected, then try again; if it stays hidden, add it in the Printers settings by "
      "its ipp:// address and print to that queue.");
}

TEST(QueuePrinter, AServiceUriFindsItsServiceAndRefusesAnotherPrintersAnswer) {
  const std::string uuid = "0a606bfb-82f9-30b7-563b-667e372b9bb1";
  const std::vector<AnnouncedPrinter> found = {announced("Studio Photo", "_ipps._tcp", uuid),
                                               announced("Studio Photo", "_ipp._tcp", uuid)};
  QueueFacts queue{"Studio", "dnssd://Studio%20Photo._ipp._tcp.local/?uuid=" + uuid, "", "", ""};
  EXPECT_EQ(choosePrinter(queue, found).type, "_ipp._tcp");  // the type the queue names

  queue.deviceUri = "dnssd://Studio%20Photo._ipp._tcp.local/?uuid=11111111-2222-3333-4444-5555";
  EXPECT_NE(testing::failureOf([&] { choosePrinter(queue, found); })
                .find("is not the one the queue was made for: DNS-SD announces it with another "
                      "identity"),
            std::string::npos);

  queue.deviceUri = "ipp://Other._ipp._tcp.local./";
  EXPECT_NE(testing::failureOf([&] { choosePrinter(queue, found); }).find("could not be found"),
            std::string::npos);
}

TEST(QueuePrinter, ThePrinterThatAnswersMustBeTheOneTheQueueWasMadeFor) {
  const std::string uuid = "0a606bfb-82f9-30b7-563b-667e372b9bb1";
  const AnnouncedPrinter service = announced("Studio Photo", "_ipp._tcp", uuid);
  // cups-browsed keeps the make and model whole; CUPS splits it and may keep only its last word.
  const QueueFacts browsed{"Studio_Photo", "implicitclass://Studio_Photo/", "Vardelle",
                           "Vardelle Firmware Printer", ""};
  const QueueFacts cups{"Studio_Photo", "ipp://Studio%20Photo._ipp._tcp.local./", "Vardelle",
                        "Printer", ""};
  const PrinterIdentity itself{"Vardelle  Firmware Printer ", "urn:uuid:" + uuid};
  EXPECT_NO_THROW(confirmPrinter(browsed, service, itself));
  EXPECT_NO_THROW(confirmPrinter(cups, service, itself));
  const QueueFacts hp{"Studio_Photo", "implicitclass://Studio_Photo/", "HP", "DesignJet T650", ""};
  EXPECT_NO_THROW(confirmPrinter(hp, service, {"Hewlett-Packard DesignJet T650", std::nullopt}));

  EXPECT_EQ(testing::failureOf([&] {
              confirmPrinter(cups, service, {"Other Firmware Printer", {}});
            }),
            "The printer found on the network for \"Studio_Photo\" (\"Studio Photo\") is not the "
            "one the queue was made for: it is a \"Other Firmware Printer\", the queue is for a "
            "\"Vardelle Printer\". Nothing was sent. Add the printer in the Printers settings by "
            "its ipp:// address and print to that queue.");
  // "Vardellex" is not made by "Vardelle".
  EXPECT_FALSE(testing::failureOf([&] {
                 confirmPrinter(cups, service, {"Vardellex Printer", {}});
               }).empty());
  EXPECT_NE(testing::failureOf([&] {
              confirmPrinter(cups, service, {std::nullopt, {}});
            }).find("it does not say its make and model"),
            std::string::npos);
  EXPECT_NE(testing::failureOf([&] {
              confirmPrinter(cups, service, {"Vardelle Firmware Printer", "urn:uuid:1234"});
            }).find("it answers with another identity (urn:uuid:1234)"),
            std::string::npos);

  // A queue without a PPD compares its own printer-make-and-model.
  const QueueFacts raw{"Raw", "dnssd://Studio%20Photo._ipp._tcp.local/", "", "",
                       "Vardelle Firmware Printer"};
  EXPECT_NO_THROW(confirmPrinter(raw, service, itself));
}

}  // namespace
}  // namespace vardelle::printing
