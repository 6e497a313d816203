#include "testing/faulty_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace vardelle::testing {
namespace {

constexpr int kSendDocument = 0x0006;

std::string operationName(int op) {
  switch (op) {
    case 0x0002:
      return "Print-Job";
    case 0x0005:
      return "Create-Job";
    case kSendDocument:
      return "Send-Document";
    case 0x0008:
      return "Cancel-Job";
    case 0x0009:
      return "Get-Job-Attributes";
    case 0x000b:
      return "Get-Printer-Attributes";
    default: {
      char text[8];
      std::snprintf(text, sizeof text, "0x%04x", op);
      return text;
    }
  }
}

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::send(fd, data, size, MSG_NOSIGNAL);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= size_t(written);
  }
  return true;
}

int connectTo(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(uint16_t(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// The answer a printer gives when it cannot take a document: server-error-internal-error with
// the request's id, as an HTTP response that keeps the connection open.
std::string refusal(const unsigned char* ippHead) {
  std::string ipp = {2, 0, 5, 0};
  ipp.append(reinterpret_cast<const char*>(ippHead) + 4, 4);
  auto attribute = [&](char tag, const std::string& name, const std::string& value) {
    ipp += tag;
    ipp += char(name.size() >> 8);
    ipp += char(name.size() & 0xff);
    ipp += name;
    ipp += char(value.size() >> 8);
    ipp += char(value.size() & 0xff);
    ipp += value;
  };
  ipp += char(1);
  attribute(0x47, "attributes-charset", "utf-8");
  attribute(0x48, "attributes-natural-language", "en");
  ipp += char(3);
  return "HTTP/1.1 200 OK\r\nContent-Type: application/ipp\r\nContent-Length: " +
         std::to_string(ipp.size()) + "\r\n\r\n" + ipp;
}

// Follows the client's HTTP requests byte by byte: where each body begins and ends, chunked or
// of declared length, and the IPP operation in its first eight bytes.
struct RequestReader {
  enum class State { head, lengthBody, chunkSize, chunkData, chunkEnd, trailer };
  State state = State::head;
  std::string line;  // the header block, or the current chunk-size or trailer line
  size_t remaining = 0;
  size_t body = 0;  // body bytes of this request so far
  unsigned char ippHead[8] = {};
  bool expectContinue = false;
  int op = -1;  // -1 until eight body bytes were seen
};

bool endsWith(const std::string& text, const char* tail) {
  const size_t n = std::strlen(tail);
  return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

std::string lowered(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

struct FaultyProxy::Link {
  int client = -1;
  int server = -1;
  Fault fault = Fault::none;
  size_t afterBytes = 0;
  bool plain = true;
  bool toSecond = false;
  bool closeWhenIdle = false;
};

FaultyProxy::FaultyProxy(int port, int secondPort) : upstream_(port), secondUpstream_(secondPort) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) ||
      ::listen(listener_, 64) ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length)) {
    if (listener_ >= 0) ::close(listener_);
    throw std::runtime_error("the faulty proxy could not listen on a loopback port");
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { acceptLoop(); });
}

FaultyProxy::~FaultyProxy() {
  stopping_ = true;
  acceptor_.join();
  {
    std::lock_guard lock(mutex_);
    for (int fd : sockets_) {
      if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
    }
  }
  for (std::thread& thread : threads_) thread.join();
  for (int fd : sockets_) {
    if (fd >= 0) ::close(fd);
  }
  ::close(listener_);
}

void FaultyProxy::setFault(Fault fault, size_t afterBytes, int afterConnections, bool plain) {
  std::lock_guard lock(mutex_);
  fault_ = fault;
  afterBytes_ = afterBytes;
  afterConnections_ = afterConnections;
  plain_ = plain;
  struck_ = false;
  faultFrom_ = accepted_.load();
}

std::vector<std::string> FaultyProxy::operations() const {
  std::lock_guard lock(mutex_);
  return operations_;
}

void FaultyProxy::acceptLoop() {
  while (!stopping_) {
    pollfd ready{listener_, POLLIN, 0};
    if (::poll(&ready, 1, 100) <= 0) continue;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    std::lock_guard lock(mutex_);
    const int number = ++accepted_ - faultFrom_;
    const bool switching = fault_ == Fault::switchPrinter || fault_ == Fault::closeIdleThenSwitch;
    const bool switched = switching && number > afterConnections_;
    if (switched) struck_ = true;
    const int server = connectTo(switched ? secondUpstream_ : upstream_);
    if (server < 0) {
      ::close(client);
      continue;
    }
    sockets_.push_back(client);
    sockets_.push_back(server);
    auto link = std::make_shared<Link>(
        Link{client, server, fault_, afterBytes_, plain_, switched,
             fault_ == Fault::closeIdleThenSwitch && number == afterConnections_});
    threads_.emplace_back([this, link] { serve(*link); });
  }
}

void FaultyProxy::serve(Link& link) {
  RequestReader reader;
  std::string held;  // a request's bytes until its operation is known
  bool swallowing = false;
  bool stalled = false;
  std::vector<char> buffer(64 * 1024);
  bool answered = false;
  auto lastAnswer = std::chrono::steady_clock::now();

  auto reset = [&] {
    // SO_LINGER of zero: close sends RST rather than FIN, as a printer that loses power or a
    // router that drops the connection would be seen.
    linger abort{1, 0};
    std::lock_guard lock(mutex_);
    for (int* fd : {&link.client, &link.server}) {
      ::setsockopt(*fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
      for (int& registered : sockets_) {
        if (registered == *fd) registered = -1;
      }
      ::close(*fd);
      *fd = -1;
    }
  };

  while (!stopping_ && link.client >= 0) {
    if (stalled) {
      // Both sockets stay open and unread until the proxy is destroyed.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    pollfd fds[2] = {{link.client, POLLIN, 0}, {link.server, POLLIN, 0}};
    if (::poll(fds, 2, 100) <= 0) {
      if (link.closeWhenIdle && answered &&
          std::chrono::steady_clock::now() - lastAnswer > std::chrono::milliseconds(300)) {
        struck_ = true;
        ::shutdown(link.client, SHUT_RDWR);
        ::shutdown(link.server, SHUT_RDWR);
        return;
      }
      continue;
    }
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t got = ::recv(link.server, buffer.data(), buffer.size(), 0);
      if (got <= 0 || !writeAll(link.client, buffer.data(), size_t(got))) {
        ::shutdown(link.client, SHUT_RDWR);
        return;
      }
      answered = true;
      lastAnswer = std::chrono::steady_clock::now();
    }
    if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    const ssize_t got = ::recv(link.client, buffer.data(), buffer.size(), 0);
    if (got <= 0) {
      ::shutdown(link.server, SHUT_WR);
      continue;
    }
    if (link.toSecond) toSecond_ += size_t(got);
    if (!link.plain) {
      if (!writeAll(link.server, buffer.data(), size_t(got))) return;
      continue;
    }

    std::string out;
    enum class Strike { none, reset, stall } strike = Strike::none;
    auto pass = [&](char c) {
      if (reader.op < 0) {
        held += c;
      } else if (!swallowing) {
        out += c;
      }
    };
    auto bodyByte = [&](char c) {
      if (reader.body < 8) reader.ippHead[reader.body] = static_cast<unsigned char>(c);
      ++reader.body;
      pass(c);
      if (reader.body == 8) {
        reader.op = (reader.ippHead[2] << 8) | reader.ippHead[3];
        {
          std::lock_guard lock(mutex_);
          operations_.push_back(operationName(reader.op));
        }
        if (link.fault == Fault::refuseDocument && reader.op == kSendDocument) {
          swallowing = true;
          struck_ = true;
          if (reader.expectContinue) out += "HTTP/1.1 100 Continue\r\n\r\n";
          // The 100 Continue goes to the client, not the printer.
          writeAll(link.client, out.data(), out.size());
          out.clear();
        } else {
          out += held;
        }
        held.clear();
      }
      if (reader.op == kSendDocument && reader.body >= link.afterBytes && strike == Strike::none) {
        if (link.fault == Fault::resetDocument) strike = Strike::reset;
        if (link.fault == Fault::stallDocument) strike = Strike::stall;
      }
    };
    auto endRequest = [&] {
      if (reader.op < 0) {
        out += held;
        held.clear();
      }
      if (swallowing) {
        const std::string answer = refusal(reader.ippHead);
        writeAll(link.client, answer.data(), answer.size());
        swallowing = false;
      } else if (reader.op == kSendDocument) {
        lastDocument_ = reader.body;
      }
      reader = RequestReader{};
    };

    for (ssize_t i = 0; i < got && strike == Strike::none; ++i) {
      const char c = buffer[size_t(i)];
      switch (reader.state) {
        case RequestReader::State::head: {
          reader.line += c;
          held += c;
          if (!endsWith(reader.line, "\r\n\r\n")) break;
          const std::string head = lowered(reader.line);
          reader.line.clear();
          reader.expectContinue = head.find("expect: 100-continue") != std::string::npos;
          const auto length = head.find("content-length:");
          if (head.find("transfer-encoding: chunked") != std::string::npos) {
            reader.state = RequestReader::State::chunkSize;
          } else if (length != std::string::npos &&
                     (reader.remaining = std::strtoul(head.c_str() + length + 15, nullptr, 10))) {
            reader.state = RequestReader::State::lengthBody;
          } else {
            endRequest();
          }
          // The header block is part of the request held until the operation is known.
          break;
        }
        case RequestReader::State::lengthBody:
          bodyByte(c);
          if (--reader.remaining == 0) endRequest();
          break;
        case RequestReader::State::chunkSize:
          pass(c);
          reader.line += c;
          if (c != '\n') break;
          reader.remaining = std::strtoul(reader.line.c_str(), nullptr, 16);
          reader.line.clear();
          reader.state =
              reader.remaining ? RequestReader::State::chunkData : RequestReader::State::trailer;
          break;
        case RequestReader::State::chunkData:
          bodyByte(c);
          if (--reader.remaining == 0) {
            reader.state = RequestReader::State::chunkEnd;
            reader.remaining = 2;
          }
          break;
        case RequestReader::State::chunkEnd:
          pass(c);
          if (--reader.remaining == 0) reader.state = RequestReader::State::chunkSize;
          break;
        case RequestReader::State::trailer:
          pass(c);
          reader.line += c;
          if (c != '\n') break;
          if (reader.line == "\r\n" || reader.line == "\n") {
            reader.line.clear();
            endRequest();
          }
          reader.line.clear();
          break;
      }
    }
    if (!out.empty() && !writeAll(link.server, out.data(), out.size())) return;
    if (strike == Strike::reset) {
      struck_ = true;
      reset();
      return;
    }
    if (strike == Strike::stall) {
      struck_ = true;
      stalled = true;
    }
  }
}

}  // namespace vardelle::testing
