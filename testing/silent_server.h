#pragma once

#include <string>

namespace vardelle::testing {

/// A print system that accepts connections on a loopback port and never answers: a run that
/// submits to it waits until it is ended. Closed when destroyed.
class SilentServer {
 public:
  SilentServer();
  ~SilentServer();
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;

  /// False when no loopback port could be had.
  bool listening() const { return port_ != 0; }
  /// "127.0.0.1:<port>", for CUPS_SERVER.
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace vardelle::testing
