#include "zentrix/udev_monitor.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <set>
#include <system_error>

#include "platform/log.h"
#include "platform/loop.h"
#include "zentrix/hidraw_backend.h"
#include "zentrix/report_descriptor.h"

namespace zentrix {
namespace {

using brevak::LogNote;

void Append(std::vector<HotplugEvent>& to, std::vector<HotplugEvent> more) {
  to.insert(to.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
}

class UdevSource final : public HidrawUeventSource {
 public:
  UdevSource(std::string sysfs_root, udev* context, udev_monitor* monitor)
      : sysfs_root_(std::move(sysfs_root)), udev_(context), monitor_(monitor) {}
  ~UdevSource() override {
    udev_monitor_unref(monitor_);
    udev_unref(udev_);
  }
  UdevSource(const UdevSource&) = delete;
  UdevSource& operator=(const UdevSource&) = delete;

  int fd() const override { return udev_monitor_get_fd(monitor_); }

  std::optional<HidrawUevent> Receive(bool* lost) override {
    errno = 0;
    udev_device* device = udev_monitor_receive_device(monitor_);
    if (!device) {
      if (errno == ENOBUFS) *lost = true;
      return std::nullopt;
    }
    const char* action = udev_device_get_action(device);
    HidrawUevent event = Describe(device, action ? action : "");
    udev_device_unref(device);
    return event;
  }

  std::vector<HidrawUevent> Present() override {
    std::vector<HidrawUevent> present;
    udev_enumerate* scan = udev_enumerate_new(udev_);
    if (!scan) return present;
    if (udev_enumerate_add_match_subsystem(scan, "hidraw") >= 0 &&
        udev_enumerate_scan_devices(scan) >= 0) {
      for (udev_list_entry* entry = udev_enumerate_get_list_entry(scan); entry;
           entry = udev_list_entry_get_next(entry)) {
        udev_device* device = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry));
        if (!device) continue;  // gone since the scan
        present.push_back(Describe(device, "add"));
        udev_device_unref(device);
      }
    }
    udev_enumerate_unref(scan);
    return present;
  }

 private:
  HidrawUevent Describe(udev_device* device, std::string action) {
    HidrawUevent event;
    event.action = std::move(action);
    if (const char* node = udev_device_get_devnode(device)) event.devnode = node;
    if (const char* path = udev_device_get_syspath(device)) event.syspath = path;
    if (event.action != "add") return event;  // on removal the descriptor is already gone
    event.descriptor = ReadNodeDescriptor(sysfs_root_, event.devnode);
    // The parent HID device names bus, vendor and product: "0003:00001D57:0000FA65".
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(device, "hid", nullptr);
    const char* id = hid ? udev_device_get_property_value(hid, "HID_ID") : nullptr;
    unsigned bus = 0, vendor = 0, product = 0;
    if (id && std::sscanf(id, "%x:%x:%x", &bus, &vendor, &product) == 3) {
      event.vendor_id = uint16_t(vendor);
      event.product_id = uint16_t(product);
    }
    return event;
  }

  const std::string sysfs_root_;
  udev* const udev_;
  udev_monitor* const monitor_;
};

}  // namespace

// ---- tracker ---------------------------------------------------------------------------------

void HidrawHotplugTracker::Seed(const std::vector<HidrawUevent>& present) {
  for (const HidrawUevent& event : present) Handle(event);
}

std::vector<HotplugEvent> HidrawHotplugTracker::Forget(const std::string& devnode) {
  std::vector<HotplugEvent> removals;
  auto known =
      std::find_if(nodes_.begin(), nodes_.end(), [&](const auto& n) { return n.first == devnode; });
  if (known == nodes_.end()) return removals;
  for (std::string& path : known->second.paths)
    removals.push_back(HotplugEvent{HotplugEvent::kRemoval, std::move(path)});
  nodes_.erase(known);
  return removals;
}

std::vector<HotplugEvent> HidrawHotplugTracker::Handle(const HidrawUevent& event) {
  std::vector<HotplugEvent> out;
  if (event.devnode.empty()) return out;
  if (event.action == "remove") return Forget(event.devnode);
  if (event.action != "add") return out;

  std::string error = "report descriptor unreadable";
  std::optional<ReportDescriptor> parsed;
  if (event.descriptor) parsed = ParseReportDescriptor(*event.descriptor, &error);
  auto known = std::find_if(nodes_.begin(), nodes_.end(),
                            [&](const auto& n) { return n.first == event.devnode; });
  if (known != nodes_.end() && parsed && known->second.descriptor == *event.descriptor)
    return out;  // already reported
  // A known node with another descriptor is a new device under a reused name.
  out = Forget(event.devnode);
  if (!parsed) {
    LogNote("zentrix", "%s arrived unusable: %s", event.devnode.c_str(), error.c_str());
    return out;
  }
  Node node{*event.descriptor, {}};
  for (size_t i = 0; i < parsed->collections.size(); ++i) {
    node.paths.push_back(InterfacePath(event.devnode, i));
    out.push_back(HotplugEvent{HotplugEvent::kArrival, node.paths.back()});
  }
  LogNote("zentrix", "%s arrived %04x:%04x, %zu interfaces", event.devnode.c_str(), event.vendor_id,
          event.product_id, node.paths.size());
  nodes_.emplace_back(event.devnode, std::move(node));
  return out;
}

std::vector<HotplugEvent> HidrawHotplugTracker::Resync(const std::vector<HidrawUevent>& present) {
  std::vector<HotplugEvent> out;
  std::set<std::string> here;
  for (const HidrawUevent& event : present) here.insert(event.devnode);
  std::vector<std::string> gone;
  for (const auto& [devnode, node] : nodes_) {
    if (!here.count(devnode)) gone.push_back(devnode);
  }
  for (const std::string& devnode : gone) Append(out, Forget(devnode));
  for (HidrawUevent event : present) {
    event.action = "add";
    Append(out, Handle(event));
  }
  return out;
}

// ---- udev ------------------------------------------------------------------------------------

std::unique_ptr<HidrawUeventSource> MakeUdevSource(std::string sysfs_root) {
  udev* context = udev_new();
  if (!context) return nullptr;
  // "udev" rather than "kernel": the event comes after the rules gave the user the node.
  udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
  if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor) < 0) {
    LogNote("zentrix", "no udev monitor, arrivals and removals go unseen");
    if (monitor) udev_monitor_unref(monitor);
    udev_unref(context);
    return nullptr;
  }
  return std::make_unique<UdevSource>(std::move(sysfs_root), context, monitor);
}

// ---- monitor thread --------------------------------------------------------------------------

struct HidrawHotplugMonitor::Session {
  ~Session() {
    if (stop_fd >= 0) close(stop_fd);
  }
  std::unique_ptr<HidrawUeventSource> source;
  std::function<void(const HotplugEvent&)> sink;
  HidrawHotplugTracker tracker;
  int stop_fd = -1;
  std::atomic<bool> stopping{false};
};

HidrawHotplugMonitor::~HidrawHotplugMonitor() {
  Stop();
  Join();
  // Destroyed from its own sink: the thread ends by itself and holds what it still uses.
  if (thread_.joinable()) thread_.detach();
}

void HidrawHotplugMonitor::Join() {
  std::thread ended;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) return;  // from its own sink
    ended = std::move(thread_);
  }
  brevak::ExternalWaitScope waiting;
  ended.join();
}

bool HidrawHotplugMonitor::Start(std::unique_ptr<HidrawUeventSource> source,
                                 std::function<void(const HotplugEvent&)> sink) {
  if (!source || !sink) return false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (session_ || (thread_.joinable() && thread_.get_id() == std::this_thread::get_id()))
      return false;
  }
  Join();  // a thread told to stop from inside its sink

  auto session = std::make_shared<Session>();
  session->stop_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (session->stop_fd < 0) return false;
  // Only after the source listens: a node that arrives meanwhile is both seeded and announced,
  // and the tracker drops the second.
  session->tracker.Seed(source->Present());
  session->source = std::move(source);
  session->sink = std::move(sink);

  std::lock_guard<std::mutex> lock(mu_);
  if (session_ || thread_.joinable()) return false;  // another Start won
  try {
    thread_ = std::thread([session] { Run(session.get()); });
  } catch (const std::system_error&) {
    return false;
  }
  session_ = std::move(session);
  return true;
}

void HidrawHotplugMonitor::Stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!session_) return;
    session_->stopping.store(true);
    const uint64_t one = 1;
    if (write(session_->stop_fd, &one, sizeof one) < 0) LogNote("zentrix", "hotplug stop not signalled");
    session_.reset();
  }
  Join();
}

void HidrawHotplugMonitor::Run(Session* session) {
  auto deliver = [session](const std::vector<HotplugEvent>& events) {
    for (const HotplugEvent& event : events) {
      if (session->stopping.load()) return;
      session->sink(event);
    }
  };
  pollfd fds[2] = {{session->source->fd(), POLLIN, 0}, {session->stop_fd, POLLIN, 0}};
  while (!session->stopping.load()) {
    int ready;
    {
      brevak::ExternalWaitScope waiting;
      ready = poll(fds, 2, -1);
    }
    if (ready < 0) {
      if (errno == EINTR) continue;
      LogNote("zentrix", "hotplug wait failed, monitoring ends");
      return;
    }
    if (session->stopping.load()) return;
    if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
      LogNote("zentrix", "hotplug source failed, monitoring ends");
      return;
    }
    if (!(fds[0].revents & POLLIN)) continue;
    bool lost = false;
    while (std::optional<HidrawUevent> event = session->source->Receive(&lost))
      deliver(session->tracker.Handle(*event));
    if (lost) {
      LogNote("zentrix", "hotplug events lost, rescanning");
      deliver(session->tracker.Resync(session->source->Present()));
    }
  }
}

}  // namespace zentrix
