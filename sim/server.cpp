#include "server.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "control.h"

namespace vrt::sim {

Server::Server(Simulator& simulator, ServerOptions options) : simulator_(simulator), options_(options) {}

Server::~Server() {
  for (Connection& connection : connections_) net::CloseSocket(connection.socket);
  for (Listener& listener : listeners_) net::CloseSocket(listener.socket);
}

bool Server::Open(std::string* error) {
  for (CardState& card : simulator_.Cards()) {
    std::string message;
    const net::SocketHandle socket = net::ListenOnLoopback(static_cast<std::uint16_t>(card.port), &message);
    if (socket == net::kNoSocket) {
      if (error) *error = "card " + std::to_string(card.card) + ": " + message;
      return false;
    }
    listeners_.push_back({socket, card.card});
    card.port = net::BoundPort(socket);
  }
  std::string message;
  const net::SocketHandle control = net::ListenOnLoopback(static_cast<std::uint16_t>(simulator_.ControlPort()), &message);
  if (control == net::kNoSocket) {
    if (error) *error = "control port: " + message;
    return false;
  }
  listeners_.push_back({control, -1});
  simulator_.SetControlPort(net::BoundPort(control));
  int highestCard = 0;
  for (const CardState& card : simulator_.Cards()) highestCard = std::max(highestCard, card.card);
  lineFreeMs_.assign(static_cast<std::size_t>(highestCard) + 1, 0);
  return true;
}

std::size_t Server::ConnectionCount(int card) const {
  return static_cast<std::size_t>(std::count_if(connections_.begin(), connections_.end(), [card](const Connection& c) {
    return c.card == card && !c.closed;
  }));
}

Server::Connection* Server::FindConnection(int id) {
  for (Connection& connection : connections_) {
    if (connection.id == id && !connection.closed) return &connection;
  }
  return nullptr;
}

void Server::AcceptAll(const Listener& listener) {
  for (;;) {
    const net::SocketHandle socket = net::AcceptConnection(listener.socket);
    if (socket == net::kNoSocket) return;
    const std::size_t limit = listener.card < 0 ? options_.maxControlConnections : options_.maxConnectionsPerCard;
    if (ConnectionCount(listener.card) >= limit) {
      net::CloseSocket(socket);
      if (listener.card >= 0) simulator_.Note(listener.card, "connection refused: too many connections");
      continue;
    }
    Connection connection;
    connection.id = nextConnectionId_++;
    connection.socket = socket;
    connection.card = listener.card;
    connections_.push_back(std::move(connection));
    if (listener.card >= 0) simulator_.ConnectionOpened(listener.card);
  }
}

void Server::Close(Connection& connection, const char* why) {
  if (connection.closed) return;
  net::CloseSocket(connection.socket);
  connection.socket = net::kNoSocket;
  connection.closed = true;
  if (connection.card >= 0) simulator_.Note(connection.card, std::string("connection closed: ") + why);
}

void Server::Queue(Connection& connection, const std::uint8_t* bytes, std::size_t size) {
  if (connection.closed) return;
  if (connection.output.size() + size > options_.maxOutputBacklog) {
    Close(connection, "the peer does not read");
    return;
  }
  connection.output.append(reinterpret_cast<const char*>(bytes), size);
  Flush(connection);
}

void Server::Flush(Connection& connection) {
  while (!connection.closed && !connection.output.empty()) {
    const long sent = net::SendSome(connection.socket, reinterpret_cast<const std::uint8_t*>(connection.output.data()),
                                    connection.output.size());
    if (sent == net::kWouldBlock) return;
    if (sent <= 0) {
      Close(connection, "send failed");
      return;
    }
    connection.output.erase(0, static_cast<std::size_t>(sent));
  }
  if (!connection.closed && connection.output.empty() && connection.closeWhenFlushed) Close(connection, "by request");
}

void Server::HandleFrames(Connection& connection, std::vector<std::vector<std::uint8_t>>& frames, std::int64_t now) {
  for (const std::vector<std::uint8_t>& frame : frames) {
    if (connection.closed) return;
    RequestOutcome outcome = simulator_.HandleRequest(connection.card, frame);
    if (outcome.action == RequestAction::kDrop) {
      Close(connection, "dropped by a fault");
      return;
    }
    if (outcome.action != RequestAction::kReply) continue;
    std::int64_t& lineFree = lineFreeMs_[static_cast<std::size_t>(connection.card)];
    const std::int64_t due = std::max(now + outcome.delayMs, lineFree);
    lineFree = due;
    pending_.push_back({due, nextOrder_++, connection.id, connection.card, std::move(outcome.reply)});
  }
}

void Server::HandleControlBytes(Connection& connection, const std::uint8_t* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size && !connection.closed; ++i) {
    const char c = static_cast<char>(bytes[i]);
    if (c != '\n') {
      if (connection.line.size() < kMaxControlLine) {
        connection.line.push_back(c);
      } else {
        connection.lineTooLong = true;
      }
      continue;
    }
    std::string answer;
    ControlResult result;
    if (connection.lineTooLong) {
      answer = "ERR the line is longer than " + std::to_string(kMaxControlLine) + " characters\n";
    } else {
      result = RunControlCommand(simulator_, connection.line);
      answer = std::move(result.text);
    }
    connection.line.clear();
    connection.lineTooLong = false;
    Queue(connection, reinterpret_cast<const std::uint8_t*>(answer.data()), answer.size());
    if (result.close) {
      connection.closeWhenFlushed = true;
      Flush(connection);
      return;
    }
    if (result.shutdown) {
      Flush(connection);
      Stop();
      return;
    }
  }
}

void Server::ReadFrom(Connection& connection, std::int64_t now) {
  std::uint8_t buffer[4096];
  for (;;) {
    const long received = net::ReceiveSome(connection.socket, buffer, sizeof buffer);
    if (received == net::kWouldBlock) return;
    if (received == 0) {
      Close(connection, "by the peer");
      return;
    }
    if (received < 0) {
      Close(connection, "receive failed");
      return;
    }
    if (connection.card < 0) {
      HandleControlBytes(connection, buffer, static_cast<std::size_t>(received));
    } else {
      std::vector<std::vector<std::uint8_t>> frames;
      connection.assembler.Add(std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(received)), &frames);
      connection.lastByteMs = now;
      HandleFrames(connection, frames, now);
    }
    if (connection.closed) return;
  }
}

void Server::SendDueReplies(std::int64_t now) {
  std::sort(pending_.begin(), pending_.end(), [](const PendingReply& a, const PendingReply& b) {
    return a.dueMs != b.dueMs ? a.dueMs < b.dueMs : a.order < b.order;
  });
  std::size_t sent = 0;
  for (; sent < pending_.size() && pending_[sent].dueMs <= now; ++sent) {
    PendingReply& reply = pending_[sent];
    Connection* connection = FindConnection(reply.connectionId);
    if (connection == nullptr) {
      simulator_.Note(reply.card, "reply discarded: its connection is closed");
      continue;
    }
    simulator_.ReplySent(reply.card, reply.bytes);
    Queue(*connection, reply.bytes.data(), reply.bytes.size());
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(sent));
}

void Server::DropQuietPartialFrames(std::int64_t now) {
  for (Connection& connection : connections_) {
    if (connection.closed || connection.card < 0 || connection.assembler.PendingSize() == 0) continue;
    if (now - connection.lastByteMs >= options_.quietLineMs) {
      simulator_.IncompleteFrameDropped(connection.card, connection.assembler.PendingSize());
      connection.assembler.Discard();
    }
  }
}

int Server::WaitTime(std::int64_t now) const {
  std::int64_t wait = options_.maxWaitMs;
  for (const PendingReply& reply : pending_) wait = std::min(wait, reply.dueMs - now);
  for (const Connection& connection : connections_) {
    if (!connection.closed && connection.card >= 0 && connection.assembler.PendingSize() > 0) {
      wait = std::min(wait, connection.lastByteMs + options_.quietLineMs - now);
    }
  }
  return static_cast<int>(std::max<std::int64_t>(wait, 0));
}

void Server::Run() {
  Clock& clock = simulator_.GetClock();
  std::vector<net::PollItem> items;
  while (!stop_.load()) {
    std::int64_t now = clock.MonotonicMs();
    SendDueReplies(now);
    DropQuietPartialFrames(now);
    connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                      [](const Connection& c) { return c.closed; }),
                       connections_.end());

    items.clear();
    for (const Listener& listener : listeners_) items.push_back({listener.socket, false});
    for (const Connection& connection : connections_) items.push_back({connection.socket, !connection.output.empty()});
    if (net::PollSockets(items, WaitTime(now)) < 0) {
      // Should never happen with live sockets; don't spin if it does.
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }

    now = clock.MonotonicMs();
    for (std::size_t i = 0; i < listeners_.size(); ++i) {
      if (items[i].readable) AcceptAll(listeners_[i]);
    }
    // Accepting may have added connections beyond the polled items; those
    // are looked at in the next turn.
    for (std::size_t i = 0; i + listeners_.size() < items.size() && !stop_.load(); ++i) {
      Connection& connection = connections_[i];
      const net::PollItem& item = items[i + listeners_.size()];
      if (item.writable) Flush(connection);
      if (item.readable && !connection.closed) ReadFrom(connection, now);
    }
  }
  // Let the last answers (such as the OK of "shutdown") go out.
  for (Connection& connection : connections_) Flush(connection);
}

}  // namespace vrt::sim
