// Carries bytes between TCP connections and the simulated network: one
// listening port per card and one control port, all on 127.0.0.1, served by
// one thread. Replies wait out their wire time and injected delays here.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "net.h"
#include "protocol.h"
#include "simulator.h"

namespace vrt::sim {

struct ServerOptions {
  // A frame begun but not finished after this long without a byte is
  // dropped, so the next byte starts a new frame (a serial station finds a
  // frame's start again after a quiet line the same way).
  std::int64_t quietLineMs = 500;
  std::size_t maxConnectionsPerCard = 8;
  std::size_t maxControlConnections = 8;
  // A peer that stops reading is cut off before its backlog grows past this.
  std::size_t maxOutputBacklog = 1u << 20;
  // Longest wait in one turn of the loop, which bounds how long Stop() takes.
  int maxWaitMs = 50;
};

class Server {
 public:
  explicit Server(Simulator& simulator, ServerOptions options = {});
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Opens the listening sockets. The cards and the simulator learn the
  // ports actually bound (the network file may ask for any free port).
  bool Open(std::string* error);

  // Serves until Stop() or the control command "shutdown".
  void Run();
  // May be called from any thread.
  void Stop() { stop_.store(true); }

 private:
  struct Connection {
    int id = 0;
    net::SocketHandle socket = net::kNoSocket;
    int card = -1;  // -1: a control connection
    FrameAssembler assembler;
    std::int64_t lastByteMs = 0;
    std::string line;
    bool lineTooLong = false;
    std::string output;
    bool closeWhenFlushed = false;
    bool closed = false;
  };
  struct Listener {
    net::SocketHandle socket = net::kNoSocket;
    int card = -1;  // -1: the control port
  };
  struct PendingReply {
    std::int64_t dueMs = 0;
    std::uint64_t order = 0;
    int connectionId = 0;
    int card = 0;
    std::vector<std::uint8_t> bytes;
  };

  void AcceptAll(const Listener& listener);
  void ReadFrom(Connection& connection, std::int64_t now);
  void HandleFrames(Connection& connection, std::vector<std::vector<std::uint8_t>>& frames, std::int64_t now);
  void HandleControlBytes(Connection& connection, const std::uint8_t* bytes, std::size_t size);
  void SendDueReplies(std::int64_t now);
  void DropQuietPartialFrames(std::int64_t now);
  void Queue(Connection& connection, const std::uint8_t* bytes, std::size_t size);
  void Flush(Connection& connection);
  void Close(Connection& connection, const char* why);
  Connection* FindConnection(int id);
  std::size_t ConnectionCount(int card) const;
  int WaitTime(std::int64_t now) const;

  Simulator& simulator_;
  ServerOptions options_;
  std::vector<Listener> listeners_;
  std::vector<Connection> connections_;
  std::vector<PendingReply> pending_;
  // When each card's line is free again, so that replies leave in order.
  std::vector<std::int64_t> lineFreeMs_;
  std::atomic<bool> stop_{false};
  int nextConnectionId_ = 1;
  std::uint64_t nextOrder_ = 0;
};

}  // namespace vrt::sim
