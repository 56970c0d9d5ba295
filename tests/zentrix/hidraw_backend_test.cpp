#include "zentrix/hidraw_backend.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>
#include <tuple>

#include "tests/platform/hang_guard.h"
#include "zentrix/hid_interfaces.h"
#include "zentrix/udev_monitor.h"
#include "recorded.h"

namespace zentrix {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A sysfs tree holding report descriptors, and a /dev folder where no node exists.
class FakeSysfs {
 public:
  FakeSysfs() : root_(mkdtemp(std::string("/tmp/zentrix-sysfs-XXXXXX").data())) {
    std::filesystem::create_directories(root_ + "/dev");
  }
  ~FakeSysfs() { std::filesystem::remove_all(root_); }
  void AddNode(const std::string& name, const std::vector<uint8_t>& descriptor) {
    const std::string folder = root_ + "/class/hidraw/" + name;
    std::filesystem::create_directories(folder + "/device");
    std::ofstream(folder + "/device/report_descriptor", std::ios::binary)
        .write(reinterpret_cast<const char*>(descriptor.data()),
               std::streamsize(descriptor.size()));
    std::ofstream(folder + "/dev") << "243:" << name.substr(6) << "\n";
  }
  const std::string& root() const { return root_; }
  std::string Dev(const std::string& name) const { return root_ + "/dev/" + name; }

 private:
  std::string root_;
};

TEST(HidrawInterfaces, OneInterfacePerTopLevelCollectionOfEachNode) {
  FakeSysfs sysfs;
  sysfs.AddNode("hidraw0", Recorded("receiver_4k.hex"));
  sysfs.AddNode("hidraw2", {0xA1, 0x01});  // damaged
  // hidapi lists a node once per collection, the nested one of the 4K node included.
  const HidrawNode receiver{"/dev/hidraw0", kVendorId, kReceiverHsProductId, kReceiver4kVersion};
  const HidrawNode unreadable{"/dev/hidraw1"}, damaged{"/dev/hidraw2"};
  const std::vector<HidInterfaceInfo> found = InterfacesOfNodes(
      {receiver, receiver, receiver, receiver, unreadable, damaged}, sysfs.root());
  ASSERT_EQ(found.size(), 3u);
  const Usage usages[] = {k4kOsd, k4kFeature, k4kReport};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(found[i].path, "/dev/hidraw0#" + std::to_string(i));
    EXPECT_EQ(std::tie(found[i].usage_page, found[i].usage),
              std::tie(usages[i].page, usages[i].usage));
    EXPECT_EQ(std::tie(found[i].vendor_id, found[i].product_id, found[i].version_number),
              std::tie(receiver.vendor_id, receiver.product_id, receiver.version_number));
  }
  EXPECT_EQ(found[0].input_report_length, kStatusInputLength);
  EXPECT_EQ(found[1].feature_report_length, kFeatureReportLength);
  EXPECT_EQ(found[2].output_report_length, kEnvelopeReportLength);

  std::string devnode;
  size_t index = 0;
  ASSERT_TRUE(SplitInterfacePath(found[2].path, &devnode, &index));
  EXPECT_EQ(devnode, "/dev/hidraw0");
  EXPECT_EQ(index, 2u);
  for (const char* bad : {"", "/dev/hidraw0", "/dev/hidraw0#", "/dev/hidraw0#x", "/dev/hidraw0#-1",
                          "/dev/sda#0", "/dev/hidraw#0", "/dev/hidraw0#99999999999"})
    EXPECT_FALSE(SplitInterfacePath(bad, &devnode, &index)) << bad;
}

TEST(HidrawBackend, OpenGivesNullForVanishedForeignAndUnknownInterfaces) {
  FakeSysfs sysfs;
  sysfs.AddNode("hidraw0", Recorded("receiver_4k.hex"));
  sysfs.AddNode("hidraw1", Recorded("receiver_4k.hex"));
  sysfs.AddNode("hidraw2", Recorded("receiver_4k.hex"));
  std::ofstream(sysfs.Dev("hidraw1")) << "not a device";
  std::filesystem::create_symlink("/dev/null", sysfs.Dev("hidraw2"));
  std::unique_ptr<HidBackend> backend = MakeHidrawBackend(sysfs.root());
  EXPECT_FALSE(backend->Open(sysfs.Dev("hidraw0") + "#0"));  // listed, then unplugged
  // hidapi 0.13 crashes on a path that opens but is not a hidraw node; neither may reach it.
  EXPECT_FALSE(backend->Open(sysfs.Dev("hidraw1") + "#0"));
  EXPECT_FALSE(backend->Open(sysfs.Dev("hidraw2") + "#0"));
  EXPECT_FALSE(backend->Open(sysfs.Dev("hidraw0") + "#3"));  // the node has three collections
  EXPECT_FALSE(backend->Open(sysfs.Dev("hidraw5") + "#0"));  // no descriptor
  EXPECT_FALSE(backend->Open("garbage"));
}

// hidapi's side of one node: reports as hidraw hands them out, removal, and what was sent.
// With `watched`, the node also offers a ready descriptor, as hidapi's handle with a
// descriptor of our own on the node does; `reads` and `waiting_reads` count hidapi's reads.
struct NodeState {
  std::mutex mu;
  std::condition_variable cv;
  std::deque<std::vector<uint8_t>> reports;
  bool removed = false;
  std::vector<std::vector<uint8_t>> writes, features;
  bool watched = false;
  const int ready = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  int reads = 0, waiting_reads = 0;
  ~NodeState() { close(ready); }
  void Change(const std::function<void()>& change) {
    std::lock_guard<std::mutex> lock(mu);
    change();
    cv.notify_all();
    const uint64_t one = 1;
    if (watched) {
      EXPECT_EQ(write(ready, &one, sizeof one), ssize_t(sizeof one));
    }
  }
};

class FakeNode final : public HidrawIo {
 public:
  explicit FakeNode(std::shared_ptr<NodeState> state) : s_(std::move(state)) {}
  int Read(uint8_t* data, size_t length, int timeout_ms) override {
    std::unique_lock<std::mutex> lock(s_->mu);
    ++s_->reads;
    if (timeout_ms != 0) ++s_->waiting_reads;
    s_->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                    [&] { return s_->removed || !s_->reports.empty(); });
    if (s_->removed || s_->reports.empty()) return s_->removed ? -1 : 0;
    const std::vector<uint8_t> report = std::move(s_->reports.front());
    s_->reports.pop_front();
    std::copy_n(report.begin(), std::min(length, report.size()), data);
    return int(std::min(length, report.size()));
  }
  int Write(const uint8_t* data, size_t length) override { return Sent(s_->writes, data, length); }
  int SendFeature(const uint8_t* data, size_t length) override {
    return Sent(s_->features, data, length);
  }
  int GetFeature(uint8_t* data, size_t length) override {
    std::fill(data + 1, data + length, 0xAB);
    return int(length);
  }
  int ReadyFd() override { return s_->watched ? s_->ready : -1; }
  void DrainReady() override {
    uint64_t count;
    while (read(s_->ready, &count, sizeof count) > 0) {
    }
  }

 private:
  int Sent(std::vector<std::vector<uint8_t>>& to, const uint8_t* data, size_t length) {
    std::lock_guard<std::mutex> lock(s_->mu);
    if (s_->removed) return -1;
    to.emplace_back(data, data + length);
    return int(length);
  }
  std::shared_ptr<NodeState> s_;
};

class HidrawDeviceTest : public ::testing::Test {
 protected:
  std::unique_ptr<HidDevice> OpenOn(const std::string& recorded, size_t index) {
    sysfs_.AddNode("hidraw0", Recorded(recorded));
    const std::vector<HidInterfaceInfo> found =
        InterfacesOfNodes({{"/dev/hidraw0"}}, sysfs_.root());
    std::optional<ReportDescriptor> parsed = ParseReportDescriptor(Recorded(recorded));
    if (!parsed || index >= found.size()) return nullptr;
    return MakeHidrawDevice(found[index], parsed->collections[index], parsed->numbered,
                            std::make_unique<FakeNode>(node_), std::make_unique<FakeNode>(node_));
  }
  void Deliver(std::vector<uint8_t> report) {
    node_->Change([&] { node_->reports.push_back(std::move(report)); });
  }
  FakeSysfs sysfs_;
  std::shared_ptr<NodeState> node_ = std::make_shared<NodeState>();
  brevak::HangGuard guard_;
};

TEST_F(HidrawDeviceTest, ReadsOnlyItsCollectionsReportsAsWindowsHandsThemOut) {
  std::unique_ptr<HidDevice> osd = OpenOn("receiver_4k.hex", 0);
  ASSERT_TRUE(osd);
  Deliver(std::vector<uint8_t>(65, 0x06));  // the REPORT collection's, same node
  Deliver({0x04, 0x59, 0x10, 0x02, 0x00});
  Deliver({0x03, 0x59, 0x40, 0x64});
  uint8_t buffer[200];
  std::memset(buffer, 0xEE, sizeof buffer);
  ASSERT_EQ(osd->Read(buffer, sizeof buffer, 1000), kStatusInputLength);  // padded
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 6),
            (std::vector<uint8_t>{4, 0x59, 0x10, 2, 0, 0}));
  EXPECT_EQ(buffer[kStatusInputLength - 1], 0);
  EXPECT_EQ(buffer[kStatusInputLength], 0xEE);
  EXPECT_EQ(osd->Read(buffer, 4, 1000), 4);  // a smaller buffer takes the report's head
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 4), (std::vector<uint8_t>{3, 0x59, 0x40, 0x64}));
  EXPECT_EQ(osd->Read(buffer, sizeof buffer, 0), 0);

  // Without report ids hidraw leaves the id byte out; Windows puts a 0 there.
  std::unique_ptr<HidDevice> mouse = OpenOn("boot_mouse.hex", 0);
  Deliver({0x01, 0x05, 0xFB, 0x00});
  ASSERT_EQ(mouse->Read(buffer, sizeof buffer, 1000), 5);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 5), (std::vector<uint8_t>{0, 1, 5, 0xFB, 0}));
}

TEST_F(HidrawDeviceTest, ReadEndsOnTimeoutCancelAndRemoval) {
  std::unique_ptr<HidDevice> osd = OpenOn("receiver_4k.hex", 0);
  ASSERT_TRUE(osd);
  uint8_t buffer[64];

  // Another collection's reports keep arriving; they must not stretch the time-out.
  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    while (flooding) {
      Deliver({0x06, 0x00});
      std::this_thread::sleep_for(2ms);
    }
  });
  Clock::time_point start = Clock::now();
  EXPECT_EQ(osd->Read(buffer, sizeof buffer, 80), 0);
  Clock::duration took = Clock::now() - start;
  flooding = false;
  flood.join();
  EXPECT_GE(took, 80ms);
  EXPECT_LT(took, 600ms);

  int result = 0;
  std::thread reader([&] { result = osd->Read(buffer, sizeof buffer, -1); });
  std::this_thread::sleep_for(50ms);
  start = Clock::now();
  osd->Cancel();
  reader.join();
  EXPECT_EQ(result, -1);
  EXPECT_LT(Clock::now() - start, 500ms);
  Deliver({0x04, 0x59});
  EXPECT_EQ(osd->Read(buffer, sizeof buffer, 1000), -1);  // cancelled for good

  std::unique_ptr<HidDevice> report = OpenOn("receiver_4k.hex", 2);
  reader = std::thread([&] { result = report->Read(buffer, sizeof buffer, -1); });
  std::this_thread::sleep_for(30ms);
  node_->Change([&] { node_->removed = true; });
  reader.join();
  EXPECT_EQ(result, -1);
  const uint8_t envelope[65] = {0x06};
  EXPECT_EQ(report->Write(envelope, sizeof envelope), -1);
}

// With a ready descriptor a blocked Read waits on it and on Cancel together: hidapi is only
// asked when something is there, never waited in, nothing arriving is missed, and a Cancel or
// a removal ends the wait.
TEST_F(HidrawDeviceTest, AWatchedNodeIsReadWhenReadyWithoutSlices) {
  node_->watched = true;
  std::unique_ptr<HidDevice> osd = OpenOn("receiver_4k.hex", 0);
  ASSERT_TRUE(osd);
  std::mutex mu;
  std::vector<uint8_t> seen;  // byte 2 of each report read
  int result = 0;
  std::thread reader([&] {
    uint8_t buffer[64];
    int got;
    while ((got = osd->Read(buffer, sizeof buffer, -1)) > 0) {
      std::lock_guard<std::mutex> lock(mu);
      seen.push_back(buffer[2]);
    }
    result = got;
  });
  std::this_thread::sleep_for(60ms);  // three slices' worth of nothing
  {
    std::lock_guard<std::mutex> lock(node_->mu);
    EXPECT_LE(node_->reads, 2) << "a read with nothing there looks twice, then waits";
  }
  for (uint8_t kind : {0x10, 0x40, 0x50}) {
    Deliver(std::vector<uint8_t>(65, 0x06));  // the REPORT collection's
    Deliver({0x04, 0x59, kind, 0x01});
  }
  for (int i = 0; i < 500; ++i) {
    {
      std::lock_guard<std::mutex> lock(mu);
      if (seen.size() >= 3) break;
    }
    std::this_thread::sleep_for(2ms);
  }
  osd->Cancel();
  reader.join();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(seen, (std::vector<uint8_t>{0x10, 0x40, 0x50}));
  {
    std::lock_guard<std::mutex> lock(node_->mu);
    EXPECT_EQ(node_->waiting_reads, 0);
  }

  // A removal wakes a blocked read too.
  std::unique_ptr<HidDevice> report = OpenOn("receiver_4k.hex", 2);
  ASSERT_TRUE(report);
  reader = std::thread([&] {
    uint8_t buffer[80];
    result = report->Read(buffer, sizeof buffer, -1);
  });
  std::this_thread::sleep_for(30ms);
  node_->Change([&] { node_->removed = true; });
  reader.join();
  EXPECT_EQ(result, -1);
}

TEST_F(HidrawDeviceTest, WritesAndFeatureReportsStayInTheirCollection) {
  std::unique_ptr<HidDevice> report = OpenOn("receiver_4k.hex", 2);
  std::unique_ptr<HidDevice> feature = OpenOn("receiver_4k.hex", 1);
  std::unique_ptr<HidDevice> osd = OpenOn("receiver_4k.hex", 0);
  ASSERT_TRUE(report && feature && osd);

  uint8_t out[66] = {0x06, 0x04, 0x38, 0x01};
  EXPECT_EQ(report->Write(out, 4), kEnvelopeReportLength);  // zero-padded to the report
  out[0] = 0x05;
  EXPECT_EQ(report->Write(out, 65), -1);  // the FEATURE collection's id
  out[0] = 0x06;
  EXPECT_EQ(report->Write(out, 66), -1);  // longer than the report
  EXPECT_EQ(osd->Write(out, 65), -1);     // no output reports there

  const uint8_t frame[] = {0x05, 0x0C, 0x0A, 0x01};
  EXPECT_TRUE(feature->SetFeature(frame, sizeof frame));
  EXPECT_FALSE(report->SetFeature(frame, sizeof frame));
  EXPECT_FALSE(feature->SetFeature(out, 4));  // id 6 is not a feature report
  uint8_t answer[64] = {0x05};
  EXPECT_EQ(feature->GetFeature(answer, sizeof answer), 64);
  EXPECT_EQ(answer[0], 0x05);
  EXPECT_EQ(answer[63], 0xAB);
  EXPECT_EQ(osd->GetFeature(answer, sizeof answer), -1);

  std::vector<uint8_t> envelope(kEnvelopeReportLength, 0), frame_report(kFeatureReportLength, 0);
  std::copy_n(out, 4, envelope.begin());
  std::copy_n(frame, 4, frame_report.begin());
  EXPECT_EQ(node_->writes, std::vector<std::vector<uint8_t>>{envelope});
  EXPECT_EQ(node_->features, std::vector<std::vector<uint8_t>>{frame_report});
}

// ---- hotplug ---------------------------------------------------------------------------------

HidrawUevent Added(const std::string& devnode, std::optional<std::vector<uint8_t>> descriptor) {
  return {"add", devnode, "/sys/devices/virtual/hidraw/" + devnode.substr(5),
          std::move(descriptor)};
}
HidrawUevent Removed(const std::string& devnode) { return {"remove", devnode, ""}; }

using Paths = std::vector<std::string>;

Paths Lines(const std::vector<HotplugEvent>& events) {
  std::vector<std::string> lines;
  for (const HotplugEvent& e : events)
    lines.push_back((e.kind == HotplugEvent::kArrival ? "+" : "-") + e.path);
  return lines;
}

TEST(HidrawHotplugTracker, ArrivalsAndRemovalsFollowTheNodesCollections) {
  const std::vector<uint8_t> receiver = Recorded("receiver_4k.hex");
  HidrawHotplugTracker tracker;
  EXPECT_EQ(Lines(tracker.Handle(Added("/dev/hidraw4", receiver))),
            (Paths{"+/dev/hidraw4#0", "+/dev/hidraw4#1", "+/dev/hidraw4#2"}));
  EXPECT_TRUE(tracker.Handle(Added("/dev/hidraw4", receiver)).empty());  // duplicate
  EXPECT_TRUE(tracker.Handle({"change", "/dev/hidraw4", ""}).empty());
  // On removal the descriptor is gone; the paths come from the arrival.
  EXPECT_EQ(Lines(tracker.Handle(Removed("/dev/hidraw4"))),
            (Paths{"-/dev/hidraw4#0", "-/dev/hidraw4#1", "-/dev/hidraw4#2"}));
  EXPECT_TRUE(tracker.Handle(Removed("/dev/hidraw4")).empty());
  EXPECT_TRUE(tracker.Handle(Removed("/dev/hidraw9")).empty());

  EXPECT_TRUE(tracker.Handle(Added("/dev/hidraw1", std::nullopt)).empty());
  EXPECT_TRUE(tracker.Handle(Removed("/dev/hidraw1")).empty());
  EXPECT_TRUE(tracker.Handle(Added("/dev/hidraw2", std::vector<uint8_t>{0xC0})).empty());
}

TEST(HidrawHotplugTracker, SeededReplacedAndLostNodes) {
  const std::vector<uint8_t> receiver = Recorded("receiver_8k.hex");
  HidrawHotplugTracker tracker;
  tracker.Seed({Added("/dev/hidraw0", receiver), Added("/dev/hidraw3", std::nullopt)});
  EXPECT_TRUE(tracker.Handle(Added("/dev/hidraw0", receiver)).empty());
  // The same name with another descriptor: a removal was missed, the device is new.
  EXPECT_EQ(Lines(tracker.Handle(Added("/dev/hidraw0", Recorded("boot_mouse.hex")))),
            (Paths{"-/dev/hidraw0#0", "-/dev/hidraw0#1", "-/dev/hidraw0#2", "+/dev/hidraw0#0"}));
  EXPECT_EQ(tracker.Handle(Added("/dev/hidraw6", receiver)).size(), 3u);
  EXPECT_EQ(
      Lines(tracker.Resync({Added("/dev/hidraw6", receiver), Added("/dev/hidraw7", receiver)})),
      (Paths{"-/dev/hidraw0#0", "+/dev/hidraw7#0", "+/dev/hidraw7#1", "+/dev/hidraw7#2"}));
}

// Recorded events behind a pipe, which wakes the monitor as udev's socket would.
struct Feed {
  Feed() { EXPECT_EQ(pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0); }
  ~Feed() {
    close(fds[0]);
    close(fds[1]);
  }
  void Push(HidrawUevent event) {
    std::lock_guard<std::mutex> lock(mu);
    events.push_back(std::move(event));
    EXPECT_EQ(write(fds[1], "e", 1), 1);
  }
  std::mutex mu;
  std::deque<HidrawUevent> events;
  std::vector<HidrawUevent> present;
  int fds[2] = {-1, -1};
};

class FeedSource final : public HidrawUeventSource {
 public:
  explicit FeedSource(std::shared_ptr<Feed> feed) : feed_(std::move(feed)) {}
  int fd() const override { return feed_->fds[0]; }
  std::optional<HidrawUevent> Receive(bool*) override {
    char byte;
    std::lock_guard<std::mutex> lock(feed_->mu);
    if (read(feed_->fds[0], &byte, 1) != 1) return std::nullopt;
    HidrawUevent event = std::move(feed_->events.front());
    feed_->events.pop_front();
    return event;
  }
  std::vector<HidrawUevent> Present() override { return feed_->present; }

 private:
  std::shared_ptr<Feed> feed_;
};

struct Sink {
  std::function<void(const HotplugEvent&)> Function() {
    return [this](const HotplugEvent& e) {
      if (on_event) on_event();
      std::lock_guard<std::mutex> lock(mu);
      events.push_back(e);
      cv.notify_all();
    };
  }
  Paths WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(mu);
    cv.wait_for(lock, 10s, [&] { return events.size() >= count; });
    return Lines(events);
  }
  size_t Count() { return WaitFor(0).size(); }
  std::function<void()> on_event;  // set before the monitor starts
  std::mutex mu;
  std::condition_variable cv;
  std::vector<HotplugEvent> events;
};

TEST(HidrawHotplugMonitor, DeliversInOrderAndNeverAfterStop) {
  brevak::HangGuard guard;
  auto feed = std::make_shared<Feed>();
  feed->present = {Added("/dev/hidraw0", Recorded("receiver_4k.hex"))};
  Sink sink;
  std::atomic<int> calls{0};
  std::promise<void> entered;
  sink.on_event = [&] {
    if (++calls == 5) {  // the first of three arrivals below: Stop comes while it runs
      entered.set_value();
      std::this_thread::sleep_for(100ms);
    }
  };
  HidrawHotplugMonitor monitor;
  ASSERT_TRUE(monitor.Start(std::make_unique<FeedSource>(feed), sink.Function()));
  EXPECT_FALSE(monitor.Start(std::make_unique<FeedSource>(feed), sink.Function()));
  feed->Push(Added("/dev/hidraw1", Recorded("boot_mouse.hex")));
  feed->Push(Removed("/dev/hidraw0"));  // seeded: known without an arrival
  EXPECT_EQ(sink.WaitFor(4),
            (Paths{"+/dev/hidraw1#0", "-/dev/hidraw0#0", "-/dev/hidraw0#1", "-/dev/hidraw0#2"}));

  feed->Push(Added("/dev/hidraw2", Recorded("receiver_8k.hex")));
  entered.get_future().wait();
  monitor.Stop();
  EXPECT_EQ(sink.Count(), 5u);
  feed->Push(Added("/dev/hidraw3", Recorded("boot_mouse.hex")));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(sink.Count(), 5u);
  monitor.Stop();
}

TEST(HidrawHotplugMonitor, StopFromInsideTheSinkThenStartAgain) {
  brevak::HangGuard guard;
  auto feed = std::make_shared<Feed>();
  Sink sink;
  HidrawHotplugMonitor monitor;
  std::atomic<bool> stop_inside{true};
  sink.on_event = [&] {
    if (stop_inside) monitor.Stop();
  };
  ASSERT_TRUE(monitor.Start(std::make_unique<FeedSource>(feed), sink.Function()));
  feed->Push(Added("/dev/hidraw1", Recorded("receiver_4k.hex")));
  EXPECT_EQ(sink.WaitFor(1).size(), 1u);
  stop_inside = false;
  ASSERT_TRUE(monitor.Start(std::make_unique<FeedSource>(feed), sink.Function()));
  feed->Push(Removed("/dev/hidraw1"));  // the new session never saw it arrive
  feed->Push(Added("/dev/hidraw2", Recorded("boot_mouse.hex")));
  EXPECT_EQ(sink.WaitFor(2).back(), "+/dev/hidraw2#0");
  EXPECT_EQ(sink.Count(), 2u);
}

TEST(HidrawBackend, UdevMonitoringStartsAndStopsWithoutPrivileges) {
  brevak::HangGuard guard;
  std::unique_ptr<HidBackend> backend = MakeHidrawBackend();
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(backend->StartHotplug([](const HotplugEvent&) {}));
    EXPECT_FALSE(backend->StartHotplug([](const HotplugEvent&) {}));
    backend->StopHotplug();
  }
  backend->StopHotplug();
}

}  // namespace
}  // namespace zentrix
