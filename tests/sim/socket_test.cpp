// The simulated mouse served on a socket and reached through zentrix's socket backend, in real
// time: round trips, pushed reports and hotplug, several clients, a server that goes away and
// comes back, and clients that send garbage. Runs under ThreadSanitizer (label "threads").
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "sim/sim_mouse.h"
#include "zentrix/sim_wire.h"
#include "sim/socket_server.h"
#include "tests/sim/frames_by_hand.h"
#include "zentrix/sim_socket_backend.h"

namespace brevak::sim {
namespace {

namespace wire = brevak::simwire;
using test::Bytes;
using zentrix::HidDevice;
using zentrix::HotplugEvent;
using namespace std::chrono_literals;

class TempSocket {
 public:
  TempSocket() {
    char dir[] = "/tmp/brevak-sim-XXXXXX";
    dir_ = ::mkdtemp(dir);
    path_ = dir_ + "/mouse.sock";
  }
  ~TempSocket() { std::filesystem::remove_all(dir_); }
  const std::string& path() const { return path_; }

 private:
  std::string dir_, path_;
};

// Collects hotplug events from the backend's dispatch thread.
class HotplugLog {
 public:
  std::function<void(const HotplugEvent&)> Sink() {
    return [this](const HotplugEvent& e) {
      std::lock_guard<std::mutex> lock(mu_);
      events_.push_back({e.kind, e.path});
      cv_.notify_all();
    };
  }
  // Waits for `n` events in all; returns what arrived by then.
  std::vector<std::pair<HotplugEvent::Kind, std::string>> WaitFor(size_t n) {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait_for(lock, 5s, [&] { return events_.size() >= n; });
    return events_;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mu_);
    events_.clear();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::pair<HotplugEvent::Kind, std::string>> events_;
};

// A client written against the wire header alone, for what the backend never sends.
class RawClient {
 public:
  explicit RawClient(const std::string& path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~RawClient() { ::close(fd_); }
  bool connected() const { return connected_; }
  bool Send(const Bytes& b) { return wire::SendAll(fd_, b); }
  bool Hello() {
    Send(wire::Writer(wire::kHello).U32(wire::kMagic).U16(wire::kVersion).Finish());
    std::optional<Bytes> reply = Next();
    return reply && (*reply)[0] == wire::kHelloReply;
  }
  // The next message body, or nothing when the server closed or stayed silent for 3 s.
  std::optional<Bytes> Next() {
    for (;;) {
      if (std::optional<Bytes> body = stream_.Next()) return body;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 3000) <= 0) return std::nullopt;
      uint8_t buf[4096];
      const ssize_t k = ::recv(fd_, buf, sizeof buf, 0);
      if (k <= 0) return std::nullopt;
      stream_.Feed(buf, size_t(k));
    }
  }
  // An Error message followed by the server hanging up.
  std::string ExpectErrorAndClose() {
    std::optional<Bytes> body = Next();
    std::string why;
    if (!body) return "no message";
    wire::Reader r(*body);
    uint8_t type = 0;
    if (!r.U8(type) || type != wire::kError || !r.Str(why)) return "not an error";
    if (Next()) return "still open after: " + why;
    return why;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
  wire::Stream stream_;
};

class SocketTest : public ::testing::Test {
 protected:
  void Serve(SimMouse& mouse, int power_interval_ms = 0) {
    server_ = std::make_unique<SocketServer>(mouse, SocketServer::Options{sock_.path(), power_interval_ms});
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
  }

  TempSocket sock_;
  SimMouse mouse_;
  std::unique_ptr<SocketServer> server_;
};

Bytes ReadReport(HidDevice& d, int timeout_ms = 3000) {
  uint8_t buf[128];
  const int n = d.Read(buf, sizeof buf, timeout_ms);
  return n > 0 ? Bytes(buf, buf + n) : Bytes{};
}

TEST_F(SocketTest, EnumerateOpenSetFeatureAndReadTheAcknowledgement) {
  mouse_.Plug(Connection::kCable);
  Serve(mouse_);
  std::unique_ptr<zentrix::HidBackend> backend = zentrix::MakeSimSocketBackend(sock_.path());
  const auto list = backend->Enumerate();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[1].path, "sim:cable/feature");
  EXPECT_EQ(list[1].product_id, 0x2029);
  EXPECT_EQ(list[1].feature_report_length, 64);

  std::unique_ptr<HidDevice> osd = backend->Open("sim:cable/osd");
  std::unique_ptr<HidDevice> feature = backend->Open("sim:cable/feature");
  ASSERT_TRUE(osd && feature);
  EXPECT_EQ(osd->info().usage_page, 0x000A);
  const Bytes lighting = test::ResetLighting();
  EXPECT_TRUE(feature->SetFeature(lighting.data(), lighting.size()));
  const Bytes ack = ReadReport(*osd);
  ASSERT_EQ(ack.size(), 64u);
  EXPECT_EQ(Bytes(ack.begin(), ack.begin() + 5), (Bytes{0x04, 0x59, 0x50, 0x00, 0x00}));
  EXPECT_EQ(mouse_.State().light_effect, 5);

  uint8_t report[64] = {0x04};
  EXPECT_EQ(feature->GetFeature(report, sizeof report), 64);
  EXPECT_EQ(Bytes(report, report + 5), (Bytes{0x04, 0x59, 0x40, 1, 100}));
  EXPECT_EQ(feature->Write(lighting.data(), lighting.size()), -1);  // no output report there
  EXPECT_EQ(backend->Open("sim:4k/osd"), nullptr);
  EXPECT_EQ(ReadReport(*osd, 50), Bytes{});  // time-out
}

TEST_F(SocketTest, HotplugAndUnplugReachTheClient) {
  Serve(mouse_);
  std::unique_ptr<zentrix::HidBackend> backend = zentrix::MakeSimSocketBackend(sock_.path());
  HotplugLog log;
  ASSERT_TRUE(backend->StartHotplug(log.Sink()));
  mouse_.Plug(Connection::k4k);
  using P = std::pair<HotplugEvent::Kind, std::string>;
  EXPECT_EQ(log.WaitFor(3), (std::vector<P>{{HotplugEvent::kArrival, "sim:4k/osd"},
                                            {HotplugEvent::kArrival, "sim:4k/feature"},
                                            {HotplugEvent::kArrival, "sim:4k/report"}}));
  std::unique_ptr<HidDevice> osd = backend->Open("sim:4k/osd");
  std::unique_ptr<HidDevice> report = backend->Open("sim:4k/report");
  ASSERT_TRUE(osd && report);
  const Bytes env = test::PollingEnvelope();
  EXPECT_EQ(report->Write(env.data(), env.size()), 65);
  EXPECT_EQ(ReadReport(*osd).at(2), 0x50);

  log.Clear();
  int blocked_result = 0;
  std::thread reader([&] {
    uint8_t buf[64];
    blocked_result = osd->Read(buf, sizeof buf, -1);
  });
  std::this_thread::sleep_for(20ms);
  mouse_.Unplug(Connection::k4k);
  reader.join();
  EXPECT_EQ(blocked_result, -1);
  EXPECT_EQ(log.WaitFor(3).size(), 3u);
  EXPECT_EQ(report->Write(env.data(), env.size()), -1);
  backend->StopHotplug();
}

// A device's connection is read by whichever of its threads is waiting: a call made while
// another thread is blocked reading the same device gets its reply, and a Cancel still ends
// that read, whether it was receiving or waiting for the caller to.
TEST_F(SocketTest, CallsWhileAReadIsBlockedOnTheSameDeviceGetTheirReplies) {
  mouse_.Plug(Connection::kCable);
  Serve(mouse_);
  std::unique_ptr<zentrix::HidBackend> backend = zentrix::MakeSimSocketBackend(sock_.path());
  std::unique_ptr<HidDevice> feature = backend->Open("sim:cable/feature");
  ASSERT_TRUE(feature);
  for (int round = 0; round < 20; ++round) {
    int blocked_result = 0;
    std::thread reader([&] {
      uint8_t buf[64];
      blocked_result = feature->Read(buf, sizeof buf, -1);
    });
    for (int call = 0; call < 3; ++call) {
      uint8_t report[64] = {0x04};
      ASSERT_EQ(feature->GetFeature(report, sizeof report), 64) << "round " << round;
      EXPECT_EQ(Bytes(report, report + 3), (Bytes{0x04, 0x59, 0x40}));
    }
    feature->Cancel();
    reader.join();
    EXPECT_EQ(blocked_result, -1);
  }
  uint8_t report[64] = {0x04};
  EXPECT_EQ(feature->GetFeature(report, sizeof report), 64) << "calls go on after a Cancel";
}

TEST_F(SocketTest, EveryClientHearsTheMouse) {
  mouse_.Plug(Connection::k1k);
  Serve(mouse_, 40);  // power status on the receiver every 40 ms
  std::unique_ptr<zentrix::HidBackend> a = zentrix::MakeSimSocketBackend(sock_.path());
  std::unique_ptr<zentrix::HidBackend> b = zentrix::MakeSimSocketBackend(sock_.path());
  std::unique_ptr<HidDevice> osd_a = a->Open("sim:1k/osd");
  std::unique_ptr<HidDevice> osd_b = b->Open("sim:1k/osd");
  ASSERT_TRUE(osd_a && osd_b);
  for (HidDevice* d : {osd_a.get(), osd_b.get()}) {
    const Bytes power = ReadReport(*d);
    ASSERT_GE(power.size(), 5u);
    EXPECT_EQ(Bytes(power.begin(), power.begin() + 5), (Bytes{0x04, 0x59, 0x40, 1, 100}));
  }
}

TEST_F(SocketTest, AMouseThatGoesAwayEndsItsDevicesAndIsFoundAgain) {
  mouse_.Plug(Connection::kCable);
  Serve(mouse_);
  std::unique_ptr<zentrix::HidBackend> backend = zentrix::MakeSimSocketBackend(sock_.path());
  ASSERT_EQ(backend->Enumerate().size(), 3u);
  HotplugLog log;
  backend->StartHotplug(log.Sink());
  std::unique_ptr<HidDevice> osd = backend->Open("sim:cable/osd");
  ASSERT_TRUE(osd);
  int blocked_result = 0;
  std::thread reader([&] {
    uint8_t buf[64];
    blocked_result = osd->Read(buf, sizeof buf, -1);
  });
  std::this_thread::sleep_for(20ms);
  server_.reset();
  reader.join();
  EXPECT_EQ(blocked_result, -1);
  EXPECT_EQ(log.WaitFor(3).size(), 3u);
  EXPECT_TRUE(backend->Enumerate().empty());
  log.Clear();

  SimMouse second;
  second.Plug(Connection::k8k);
  Serve(second);
  const auto back = log.WaitFor(3);
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[0], std::make_pair(HotplugEvent::kArrival, std::string("sim:8k/osd")));
  EXPECT_NE(backend->Open("sim:8k/report"), nullptr);
  backend->StopHotplug();
  server_.reset();  // before `second`, which it serves
}

TEST_F(SocketTest, GarbageGetsAnErrorAndOnlyThatClientIsClosed) {
  mouse_.Plug(Connection::kCable);
  Serve(mouse_);
  std::unique_ptr<zentrix::HidBackend> backend = zentrix::MakeSimSocketBackend(sock_.path());

  RawClient http(sock_.path());
  ASSERT_TRUE(http.connected());
  http.Send({'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P', '/', '1', '.', '0', '\r', '\n', '\r', '\n'});
  EXPECT_EQ(http.ExpectErrorAndClose(), "expected Hello first");

  RawClient old(sock_.path());
  old.Send(wire::Writer(wire::kHello).U32(wire::kMagic).U16(7).Finish());
  EXPECT_NE(old.ExpectErrorAndClose().find("protocol version 7"), std::string::npos);

  RawClient zero(sock_.path());
  ASSERT_TRUE(zero.Hello());
  zero.Send({0, 0, 0, 0});
  EXPECT_EQ(zero.ExpectErrorAndClose(), "bad message length");

  RawClient unknown(sock_.path());
  ASSERT_TRUE(unknown.Hello());
  unknown.Send(wire::Writer(wire::Type(0x55)).U32(1).Finish());
  EXPECT_EQ(unknown.ExpectErrorAndClose(), "unknown message type 85");

  RawClient truncated(sock_.path());
  ASSERT_TRUE(truncated.Hello());
  truncated.Send(wire::Writer(wire::kWrite).U32(1).U32(1).U32(500).Finish());  // 500 bytes promised, none sent
  EXPECT_EQ(truncated.ExpectErrorAndClose(), "malformed message of type 5");

  RawClient bad_handle(sock_.path());
  ASSERT_TRUE(bad_handle.Hello());
  const Bytes lighting = test::ResetLighting();
  bad_handle.Send(wire::Writer(wire::kSetFeature).U32(9).U32(12345).Bytes(lighting).Finish());
  std::optional<Bytes> reply = bad_handle.Next();
  ASSERT_TRUE(reply);
  wire::Reader r(*reply);
  uint8_t type = 0;
  uint32_t id = 0;
  int32_t result = 7;
  EXPECT_TRUE(r.U8(type) && r.U32(id) && r.I32(result));
  EXPECT_EQ(type, wire::kReply);
  EXPECT_EQ(id, 9u);
  EXPECT_EQ(result, 0);

  EXPECT_EQ(backend->Enumerate().size(), 3u);  // the well-behaved client is still served
}

TEST_F(SocketTest, ControlCommandsAndBluetoothWritesOverTheSocket) {
  Serve(mouse_);
  RawClient ctl(sock_.path());
  ASSERT_TRUE(ctl.Hello());
  auto control = [&](const std::string& command) {
    ctl.Send(wire::Writer(wire::kControl).U32(2).Str(command).Finish());
    for (std::optional<Bytes> body; (body = ctl.Next());) {
      wire::Reader r(*body);
      uint8_t type = 0;
      uint32_t id = 0;
      int32_t result = 0;
      Bytes text;
      if (r.U8(type) && type == wire::kReply && r.U32(id) && r.I32(result) && r.Rest(text))
        return std::make_pair(result, std::string(text.begin(), text.end()));
    }
    return std::make_pair(-2, std::string("no reply"));
  };
  EXPECT_EQ(control("plug ble"), std::make_pair(0, std::string("ok")));
  EXPECT_EQ(control("battery 140").first, -1);
  EXPECT_EQ(control("battery 40"), std::make_pair(0, std::string("ok")));
  EXPECT_EQ(mouse_.State().battery, 40);

  const Bytes buttons = test::ButtonsFrame();
  ctl.Send(wire::Writer(wire::kBleWrite).U32(3).Bytes(buttons).Finish());
  bool acked = false;
  for (std::optional<Bytes> body; !acked && (body = ctl.Next());) {
    wire::Reader r(*body);
    uint8_t type = 0;
    Bytes value;
    if (r.U8(type) && type == wire::kBleNotify && r.Bytes(value)) acked = value == Bytes{0x59, 0x50, 0, 0};
  }
  EXPECT_TRUE(acked);
  EXPECT_EQ(mouse_.State().buttons[17][0], 18);
  EXPECT_NE(control("dump").second.find("\"ble\": {\"plugged\": true, \"linked\": true, \"accepted\": 1"), std::string::npos);
}

TEST_F(SocketTest, ASecondServerOnALiveSocketIsRefusedAndAStaleFileIsReplaced) {
  Serve(mouse_);
  SimMouse other;
  SocketServer second(other, SocketServer::Options{sock_.path(), 0});
  std::string error;
  EXPECT_FALSE(second.Start(&error));
  EXPECT_NE(error.find("already serves"), std::string::npos) << error;
  EXPECT_TRUE(RawClient(sock_.path()).Hello());  // the first one still serves

  // A socket file nobody listens on any more is taken over.
  server_.reset();
  const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, sock_.path().c_str(), sock_.path().size() + 1);
  ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ::close(stale);
  SocketServer third(other, SocketServer::Options{sock_.path(), 0});
  EXPECT_TRUE(third.Start(&error)) << error;
}

}  // namespace
}  // namespace brevak::sim
