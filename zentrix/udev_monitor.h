#pragma once
// Arrival and removal of hidraw nodes, turned into arrivals and removals of the interfaces
// (top-level collections) on them. udev tells us about nodes; what a node's events mean for
// its interfaces is decided by HidrawHotplugTracker, which knows nothing of udev.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "zentrix/hid_backend.h"

namespace zentrix {

// One udev event of the hidraw subsystem, as recorded.
struct HidrawUevent {
  std::string action;   // "add", "remove"; anything else is ignored
  std::string devnode;  // "/dev/hidraw3"
  std::string syspath;
  std::optional<std::vector<uint8_t>> descriptor{};  // read on "add"; nullopt when unreadable
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
};

class HidrawHotplugTracker {
 public:
  // Nodes present when monitoring starts. Enumerate already lists them, so they give no
  // arrival, but their removal is reported later.
  void Seed(const std::vector<HidrawUevent>& present);

  // "add": one arrival per top-level collection; nothing for a node already known with the
  // same descriptor; a known node with another descriptor was replaced unseen, so its old
  // interfaces are removed first. "remove": one removal per interface reported for the node.
  std::vector<HotplugEvent> Handle(const HidrawUevent& event);

  // After events were lost: removes the known nodes missing from `present` and handles every
  // present one as an "add".
  std::vector<HotplugEvent> Resync(const std::vector<HidrawUevent>& present);

 private:
  struct Node {
    std::vector<uint8_t> descriptor;
    std::vector<std::string> paths;
  };
  std::vector<HotplugEvent> Forget(const std::string& devnode);
  std::vector<std::pair<std::string, Node>> nodes_;  // by devnode, in arrival order
};

// Where the monitor thread gets its events: udev in the product, recorded events in tests.
class HidrawUeventSource {
 public:
  virtual ~HidrawUeventSource() = default;
  // Readable while an event waits.
  virtual int fd() const = 0;
  // The next waiting event, nullopt when none is left. Sets *lost when events were dropped
  // (the socket overflowed).
  virtual std::optional<HidrawUevent> Receive(bool* lost) = 0;
  // Every node present now, as "add" events.
  virtual std::vector<HidrawUevent> Present() = 0;
};

// A libudev monitor on subsystem "hidraw" (events after udev's rules ran, so permissions are
// set), reading descriptors below `sysfs_root`. Null when udev cannot be reached.
std::unique_ptr<HidrawUeventSource> MakeUdevSource(std::string sysfs_root);

// Runs a tracker over a source on a thread of its own and hands the results to a sink.
class HidrawHotplugMonitor {
 public:
  HidrawHotplugMonitor() = default;
  ~HidrawHotplugMonitor();
  HidrawHotplugMonitor(const HidrawHotplugMonitor&) = delete;
  HidrawHotplugMonitor& operator=(const HidrawHotplugMonitor&) = delete;

  // False while running, or for a null source or empty sink, or when the thread cannot start.
  bool Start(std::unique_ptr<HidrawUeventSource> source,
             std::function<void(const HotplugEvent&)> sink);
  // After it returns the sink is never called again. From inside the sink it only tells the
  // thread to end; the thread is joined by the next Start or the destructor.
  void Stop();

 private:
  struct Session;
  static void Run(Session* session);
  void Join();  // the ended or ending thread, unless called on it

  std::mutex mu_;
  std::shared_ptr<Session> session_;
  std::thread thread_;
};

}  // namespace zentrix
