// Winsock for the Windows build.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <vector>

#include "net.h"

namespace vrt::sim::net {

namespace {

std::string LastError(const std::string& what) {
  const int code = WSAGetLastError();
  char text[256] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(code), 0,
                 text, sizeof text, nullptr);
  std::string message = what + ": error " + std::to_string(code);
  std::string description(text);
  while (!description.empty() && (description.back() == '\n' || description.back() == '\r' || description.back() == ' ')) {
    description.pop_back();
  }
  if (!description.empty()) message += " (" + description + ")";
  return message;
}

sockaddr_in LoopbackAddress(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

SOCKET AsSocket(SocketHandle handle) { return static_cast<SOCKET>(handle); }
SocketHandle AsHandle(SOCKET socket) {
  return socket == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(socket);
}

bool MakeNonBlocking(SOCKET socket) {
  u_long on = 1;
  return ioctlsocket(socket, FIONBIO, &on) == 0;
}

void NoDelay(SOCKET socket) {
  BOOL one = TRUE;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

}  // namespace

bool StartNetworking(std::string* error) {
  WSADATA data;
  const int result = WSAStartup(MAKEWORD(2, 2), &data);
  if (result != 0) {
    if (error) *error = "WSAStartup failed: error " + std::to_string(result);
    return false;
  }
  return true;
}

SocketHandle ListenOnLoopback(std::uint16_t port, std::string* error) {
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    if (error) *error = LastError("socket");
    return kNoSocket;
  }
  // Without this a second program could bind the same port beside ours.
  BOOL exclusive = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
  sockaddr_in address = LoopbackAddress(port);
  if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(s, 8) != 0 ||
      !MakeNonBlocking(s)) {
    if (error) *error = LastError("cannot listen on 127.0.0.1:" + std::to_string(port));
    closesocket(s);
    return kNoSocket;
  }
  return AsHandle(s);
}

std::uint16_t BoundPort(SocketHandle socket) {
  sockaddr_in address{};
  int length = sizeof address;
  if (getsockname(AsSocket(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

SocketHandle AcceptConnection(SocketHandle listener) {
  const SOCKET s = accept(AsSocket(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return kNoSocket;
  if (!MakeNonBlocking(s)) {
    closesocket(s);
    return kNoSocket;
  }
  NoDelay(s);
  return AsHandle(s);
}

SocketHandle ConnectToLoopback(std::uint16_t port, std::string* error) {
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    if (error) *error = LastError("socket");
    return kNoSocket;
  }
  sockaddr_in address = LoopbackAddress(port);
  if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (error) *error = LastError("cannot connect to 127.0.0.1:" + std::to_string(port));
    closesocket(s);
    return kNoSocket;
  }
  NoDelay(s);
  return AsHandle(s);
}

long ReceiveSome(SocketHandle socket, std::uint8_t* buffer, std::size_t size) {
  const int chunk = size > 65536 ? 65536 : static_cast<int>(size);
  const int result = recv(AsSocket(socket), reinterpret_cast<char*>(buffer), chunk, 0);
  if (result >= 0) return result;
  return WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : kFailed;
}

long SendSome(SocketHandle socket, const std::uint8_t* bytes, std::size_t size) {
  const int chunk = size > 65536 ? 65536 : static_cast<int>(size);
  const int result = send(AsSocket(socket), reinterpret_cast<const char*>(bytes), chunk, 0);
  if (result >= 0) return result;
  return WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : kFailed;
}

void CloseSocket(SocketHandle socket) {
  if (socket != kNoSocket) closesocket(AsSocket(socket));
}

int PollSockets(std::span<PollItem> items, int timeoutMs) {
  if (items.empty()) {
    Sleep(static_cast<DWORD>(timeoutMs));
    return 0;
  }
  std::vector<WSAPOLLFD> fds(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    fds[i].fd = AsSocket(items[i].socket);
    fds[i].events = static_cast<SHORT>(POLLRDNORM | (items[i].wantWrite ? POLLWRNORM : 0));
  }
  const int result = WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs);
  if (result == SOCKET_ERROR) return -1;
  for (std::size_t i = 0; i < items.size(); ++i) {
    items[i].readable = (fds[i].revents & (POLLRDNORM | POLLHUP | POLLERR | POLLNVAL)) != 0;
    items[i].writable = (fds[i].revents & POLLWRNORM) != 0;
  }
  return result;
}

}  // namespace vrt::sim::net
