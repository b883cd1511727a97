// BSD sockets for the native build.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "net.h"

namespace vrt::sim::net {

namespace {

std::string LastError(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

sockaddr_in LoopbackAddress(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

bool MakeNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL, 0);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// Frames are small and answered one at a time; Nagle's delay would only
// add latency.
void NoDelay(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

}  // namespace

bool StartNetworking(std::string*) { return true; }

SocketHandle ListenOnLoopback(std::uint16_t port, std::string* error) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error) *error = LastError("socket");
    return kNoSocket;
  }
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address = LoopbackAddress(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 8) != 0 ||
      !MakeNonBlocking(fd)) {
    if (error) *error = LastError(("cannot listen on 127.0.0.1:" + std::to_string(port)).c_str());
    close(fd);
    return kNoSocket;
  }
  return fd;
}

std::uint16_t BoundPort(SocketHandle socket) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

SocketHandle AcceptConnection(SocketHandle listener) {
  const int fd = accept(static_cast<int>(listener), nullptr, nullptr);
  if (fd < 0) return kNoSocket;
  if (!MakeNonBlocking(fd)) {
    close(fd);
    return kNoSocket;
  }
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  NoDelay(fd);
  return fd;
}

SocketHandle ConnectToLoopback(std::uint16_t port, std::string* error) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error) *error = LastError("socket");
    return kNoSocket;
  }
  sockaddr_in address = LoopbackAddress(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (error) *error = LastError(("cannot connect to 127.0.0.1:" + std::to_string(port)).c_str());
    close(fd);
    return kNoSocket;
  }
  NoDelay(fd);
  return fd;
}

long ReceiveSome(SocketHandle socket, std::uint8_t* buffer, std::size_t size) {
  for (;;) {
    const ssize_t result = recv(static_cast<int>(socket), buffer, size, 0);
    if (result >= 0) return static_cast<long>(result);
    if (errno == EINTR) continue;
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? kWouldBlock : kFailed;
  }
}

long SendSome(SocketHandle socket, const std::uint8_t* bytes, std::size_t size) {
  for (;;) {
    const ssize_t result = send(static_cast<int>(socket), bytes, size, MSG_NOSIGNAL);
    if (result >= 0) return static_cast<long>(result);
    if (errno == EINTR) continue;
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? kWouldBlock : kFailed;
  }
}

void CloseSocket(SocketHandle socket) {
  if (socket != kNoSocket) close(static_cast<int>(socket));
}

int PollSockets(std::span<PollItem> items, int timeoutMs) {
  std::vector<pollfd> fds(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    fds[i].fd = static_cast<int>(items[i].socket);
    fds[i].events = static_cast<short>(POLLIN | (items[i].wantWrite ? POLLOUT : 0));
  }
  int result;
  do {
    result = poll(fds.data(), fds.size(), timeoutMs);
  } while (result < 0 && errno == EINTR);
  if (result < 0) return -1;
  for (std::size_t i = 0; i < items.size(); ++i) {
    items[i].readable = (fds[i].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
    items[i].writable = (fds[i].revents & POLLOUT) != 0;
  }
  return result;
}

}  // namespace vrt::sim::net
