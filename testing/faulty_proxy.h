#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vardelle::testing {

/// A TCP proxy on a loopback port between a client and a printer (an ippeveprinter of the rig)
/// that breaks the way printers and networks break. It reads the IPP requests it carries
/// (HTTP/1.1, chunked or of declared length) unless it carries TLS, and answers itself where its
/// fault says so. Its threads are its own; the destructor closes every socket it opened and joins
/// them. Throws std::runtime_error when no loopback port could be had.
class FaultyProxy {
 public:
  enum class Fault {
    none,
    /// Resets (TCP RST, both sides) the connection carrying Send-Document once `afterBytes` of
    /// its body have passed.
    resetDocument,
    /// Stops forwarding anything in either direction on the connection carrying Send-Document
    /// once `afterBytes` of its body have passed, keeping both sockets open: the printer seems
    /// to hang.
    stallDocument,
    /// Lets Create-Job through, then answers Send-Document itself, after reading the whole
    /// document, with server-error-internal-error; the printer never sees that request.
    refuseDocument,
    /// Sends every connection after the first `afterConnections` to the second printer (for
    /// ipps: another certificate under the same name). Carries bytes only.
    switchPrinter,
    /// As switchPrinter, and the last connection to the first printer is closed (FIN, both
    /// sides) once it has been idle for 300 ms after the printer last answered, as a printer or
    /// router drops a keep-alive connection: the client's next request needs a new one.
    closeIdleThenSwitch,
  };

  /// A proxy for the printer listening on 127.0.0.1:`port`; `secondPort` is the printer of
  /// Fault::switchPrinter.
  explicit FaultyProxy(int port, int secondPort = 0);
  ~FaultyProxy();
  FaultyProxy(const FaultyProxy&) = delete;
  FaultyProxy& operator=(const FaultyProxy&) = delete;

  /// The fault applied to connections accepted from now on; `plain` false for TLS (nothing is
  /// read, only carried).
  void setFault(Fault fault, size_t afterBytes = 0, int afterConnections = 1, bool plain = true);

  /// The proxy's loopback port.
  int port() const { return port_; }
  /// Connections accepted so far.
  int connections() const { return accepted_.load(); }
  /// Whether the fault has struck.
  bool struck() const { return struck_.load(); }
  /// The body length of the last Send-Document carried whole (the document as sent, chunked
  /// framing removed: about its file size plus the request's attributes).
  size_t lastDocumentBytes() const { return lastDocument_.load(); }
  /// Bytes carried from the client to the second printer.
  size_t bytesToSecond() const { return toSecond_.load(); }
  /// The IPP operations carried or answered so far, in order ("Create-Job", "Send-Document",
  /// "0x000b", …).
  std::vector<std::string> operations() const;

 private:
  struct Link;
  void acceptLoop();
  void serve(Link& link);

  int listener_ = -1;
  int port_ = 0;
  int upstream_ = 0;
  int secondUpstream_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> accepted_{0};
  std::atomic<bool> struck_{false};
  std::atomic<size_t> lastDocument_{0};
  std::atomic<size_t> toSecond_{0};
  int faultFrom_ = 0;  // connections accepted before the fault was set

  mutable std::mutex mutex_;
  Fault fault_ = Fault::none;
  size_t afterBytes_ = 0;
  int afterConnections_ = 1;
  bool plain_ = true;
  std::vector<std::string> operations_;
  std::vector<int> sockets_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

}  // namespace vardelle::testing
