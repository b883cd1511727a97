// The simulator over real TCP on the loopback interface: frames in and
// replies out on the card ports, commands on the control port, faults that
// drop connections, delayed replies and partial frames on a quiet line.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "clock.h"
#include "net.h"
#include "network_file.h"
#include "server.h"
#include "simulator.h"

namespace vrt::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kPatienceMs = 3000;

// A blocking client that never waits longer than its patience.
class Client {
 public:
  explicit Client(int port) {
    std::string error;
    socket_ = net::ConnectToLoopback(static_cast<std::uint16_t>(port), &error);
    EXPECT_NE(socket_, net::kNoSocket) << error;
  }
  ~Client() { net::CloseSocket(socket_); }

  void Send(const Bytes& bytes) { SendText(std::string(bytes.begin(), bytes.end())); }
  void SendText(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
      const long sent = net::SendSome(socket_, reinterpret_cast<const std::uint8_t*>(text.data()) + done, text.size() - done);
      ASSERT_GT(sent, 0);
      done += static_cast<std::size_t>(sent);
    }
  }

  // Waits up to `timeoutMs` for one byte; -1 on timeout, -2 when closed.
  int ReadByte(int timeoutMs = kPatienceMs) {
    net::PollItem item{socket_, false};
    if (net::PollSockets(std::span<net::PollItem>(&item, 1), timeoutMs) <= 0 || !item.readable) return -1;
    std::uint8_t byte = 0;
    const long received = net::ReceiveSome(socket_, &byte, 1);
    return received == 1 ? byte : -2;
  }

  Bytes Read(std::size_t count) {
    Bytes bytes;
    while (bytes.size() < count) {
      const int byte = ReadByte();
      if (byte < 0) break;
      bytes.push_back(static_cast<std::uint8_t>(byte));
    }
    return bytes;
  }

  // A reply frame: station, count, then count + 1 more bytes.
  Bytes ReadFrame() {
    Bytes frame = Read(2);
    if (frame.size() < 2) return frame;
    const Bytes rest = Read(static_cast<std::size_t>(frame[1]) + 1);
    frame.insert(frame.end(), rest.begin(), rest.end());
    return frame;
  }

  // The answer to a control command, through its "OK" or "ERR" line.
  std::string Command(const std::string& line) {
    SendText(line + "\n");
    std::string answer;
    std::string current;
    for (;;) {
      const int byte = ReadByte();
      if (byte < 0) return answer + current + "<no answer>";
      current.push_back(static_cast<char>(byte));
      if (byte == '\n') {
        answer += current;
        if (current.rfind("OK", 0) == 0 || current.rfind("ERR", 0) == 0) return answer;
        current.clear();
      }
    }
  }

 private:
  net::SocketHandle socket_ = net::kNoSocket;
};

class LoopbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(net::StartNetworking(&error)) << error;
    ASSERT_TRUE(ParseNetwork(R"({"control_port": 0, "cards": [
        {"card": 0, "port": 0, "stations": [{"station": 1, "type": "ZOLT", "registers": {"0": [10, 20]}},
                                            {"station": 7, "type": "EVR420"}]},
        {"card": 1, "port": 0, "stations": [{"station": 1, "type": "SELMARO", "registers": {"0": 4660}}]}]})",
                             &network_, &error))
        << error;
    simulator_ = std::make_unique<Simulator>(network_, clock_);
    ServerOptions options;
    options.quietLineMs = 40;
    server_ = std::make_unique<Server>(*simulator_, options);
    ASSERT_TRUE(server_->Open(&error)) << error;
    card0Port_ = simulator_->FindCard(0)->port;
    card1Port_ = simulator_->FindCard(1)->port;
    controlPort_ = simulator_->ControlPort();
    ASSERT_NE(card0Port_, 0);
    ASSERT_NE(controlPort_, 0);
    thread_ = std::thread([this] { server_->Run(); });
  }

  void TearDown() override {
    if (server_) server_->Stop();
    if (thread_.joinable()) thread_.join();
  }

  NetworkSpec network_;
  SystemClock clock_;
  std::unique_ptr<Simulator> simulator_;
  std::unique_ptr<Server> server_;
  std::thread thread_;
  int card0Port_ = 0;
  int card1Port_ = 0;
  int controlPort_ = 0;
};

TEST_F(LoopbackTest, FramesInRepliesOutOnEachCardsPort) {
  Client card0(card0Port_);
  Client card1(card1Port_);
  card0.Send({1, 3, 0x64, 0, 0, 2});
  EXPECT_EQ(card0.ReadFrame(), (Bytes{1, 7, 0x65, 0, 0, 2, 0, 10, 0, 20}));
  card1.Send({1, 3, 0x64, 0, 0, 1});
  EXPECT_EQ(card1.ReadFrame(), (Bytes{1, 5, 0x65, 0, 0, 1, 0x12, 0x34}));
}

TEST_F(LoopbackTest, FramesSplitOrRunTogetherAreAnsweredOneByOne) {
  Client card(card0Port_);
  card.Send({1, 3, 0x64});
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  card.Send({0, 1, 1, 7, 2, 0x0F, 0x11, 0, 1, 5, 0x66, 0, 0, 1, 0xAB});
  card.Send({0xCD});
  EXPECT_EQ(card.ReadFrame(), (Bytes{1, 5, 0x65, 0, 1, 1, 0, 20}));
  const Bytes event = card.ReadFrame();
  ASSERT_EQ(event.size(), 15u);
  EXPECT_EQ(event[2], 0x0F);
  EXPECT_EQ(event[14], 0);
  EXPECT_EQ(card.ReadFrame(), (Bytes{1, 3, 0x67, 0, 0, 1}));
}

TEST_F(LoopbackTest, ControlCommandsReachTheStations) {
  Client control(controlPort_);
  Client card(card0Port_);
  EXPECT_EQ(control.Command("set 0 1 5 0x1234"), "OK\n");
  card.Send({1, 3, 0x64, 0, 5, 1});
  EXPECT_EQ(card.ReadFrame(), (Bytes{1, 5, 0x65, 0, 5, 1, 0x12, 0x34}));
  card.Send({1, 5, 0x66, 0, 6, 1, 0xFF, 0x00});
  EXPECT_EQ(card.ReadFrame(), (Bytes{1, 3, 0x67, 0, 6, 1}));
  EXPECT_EQ(control.Command("get 0 1 5 2"), "4660 65280\nOK\n");

  EXPECT_EQ(control.Command("event 0 7 33 0 2024-05-01 07:59:58.250"), "queued 1\nOK\n");
  card.Send({7, 2, 0x0F, 0x11, 0});
  EXPECT_EQ(card.ReadFrame(), (Bytes{7, 12, 0x0F, 0x11, 0, 24, 5, 1, 7, 59, 58, 0, 250, 0x80, 33}));

  EXPECT_EQ(control.Command("fault 0 1 nak 35"), "OK\n");
  card.Send({1, 3, 0x64, 0, 0, 1});
  EXPECT_EQ(card.ReadFrame(), (Bytes{1, 1, 35, 0x64}));

  const std::string counters = control.Command("counters 0");
  EXPECT_EQ(counters.rfind("card 0 connections 1 requests 4 replies 4 ", 0), 0u) << counters;
  EXPECT_NE(control.Command("log 30").find("card 0 tx 01 01 23 64"), std::string::npos);
  EXPECT_EQ(control.Command("nonsense"), "ERR unknown command \"nonsense\" (try help)\n");
}

TEST_F(LoopbackTest, NoReplyForAnUnknownStationOrAnUnheardRequest) {
  Client control(controlPort_);
  Client card(card0Port_);
  card.Send({9, 3, 0x64, 0, 0, 1});
  EXPECT_EQ(control.Command("fault 0 1 noreply"), "OK\n");
  card.Send({1, 3, 0x64, 0, 0, 1});
  EXPECT_EQ(card.ReadByte(100), -1);
  card.Send({1, 3, 0x64, 0, 0, 1});
  EXPECT_EQ(card.ReadFrame(), (Bytes{1, 5, 0x65, 0, 0, 1, 0, 10}));
}

TEST_F(LoopbackTest, ADropFaultClosesTheConnectionAndANewOneIsServed) {
  Client control(controlPort_);
  EXPECT_EQ(control.Command("fault 0 * drop"), "OK\n");
  {
    Client card(card0Port_);
    card.Send({1, 3, 0x64, 0, 0, 1});
    EXPECT_EQ(card.ReadByte(), -2);  // closed by the simulator
  }
  Client again(card0Port_);
  again.Send({1, 3, 0x64, 0, 0, 1});
  EXPECT_EQ(again.ReadFrame(), (Bytes{1, 5, 0x65, 0, 0, 1, 0, 10}));
  EXPECT_NE(control.Command("counters 0").find("connections 2 "), std::string::npos);
}

TEST_F(LoopbackTest, ADelayedReplyWaitsItsTime) {
  Client control(controlPort_);
  Client card(card0Port_);
  EXPECT_EQ(control.Command("fault 0 1 delay 120"), "OK\n");
  const auto start = std::chrono::steady_clock::now();
  card.Send({1, 3, 0x64, 0, 0, 1});
  EXPECT_EQ(card.ReadFrame(), (Bytes{1, 5, 0x65, 0, 0, 1, 0, 10}));
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  EXPECT_GE(waited.count(), 115);
}

TEST_F(LoopbackTest, APartialFrameIsDroppedWhenTheLineGoesQuiet) {
  Client control(controlPort_);
  Client card(card0Port_);
  card.Send({1, 3, 0x64});  // and then nothing
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  card.Send({1, 3, 0x64, 0, 0, 1});
  EXPECT_EQ(card.ReadFrame(), (Bytes{1, 5, 0x65, 0, 0, 1, 0, 10}));
  EXPECT_NE(control.Command("counters 0").find(" incomplete 1 "), std::string::npos);
}

TEST_F(LoopbackTest, QuitClosesTheControlConnectionAndShutdownStopsTheServer) {
  {
    Client control(controlPort_);
    EXPECT_EQ(control.Command("quit"), "OK\n");
    EXPECT_EQ(control.ReadByte(), -2);
  }
  Client control(controlPort_);
  EXPECT_EQ(control.Command("shutdown"), "OK\n");
  thread_.join();  // Run() has returned
}

TEST_F(LoopbackTest, AnOverlongControlLineIsRefusedAndTheNextLineServed) {
  Client control(controlPort_);
  EXPECT_EQ(control.Command(std::string(10000, 'a')), "ERR the line is longer than 4096 characters\n");
  EXPECT_EQ(control.Command("get 0 1 0"), "10\nOK\n");
}

TEST(LoopbackPorts, APortInUseIsReportedWithTheCard) {
  std::string error;
  ASSERT_TRUE(net::StartNetworking(&error));
  const net::SocketHandle taken = net::ListenOnLoopback(0, &error);
  ASSERT_NE(taken, net::kNoSocket) << error;
  NetworkSpec network;
  CardSpec card;
  card.card = 2;
  card.port = net::BoundPort(taken);
  network.cards = {card};
  network.controlPort = 0;
  SystemClock clock;
  Simulator simulator(network, clock);
  Server server(simulator);
  EXPECT_FALSE(server.Open(&error));
  EXPECT_EQ(error.rfind("card 2: cannot listen on 127.0.0.1:" + std::to_string(card.port), 0), 0u) << error;
  net::CloseSocket(taken);
}

}  // namespace
}  // namespace vrt::sim
