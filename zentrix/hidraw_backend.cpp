#include "zentrix/hidraw_backend.h"

#include <fcntl.h>
#include <hidapi.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bitset>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <set>

#include "platform/log.h"
#include "platform/loop.h"
#include "platform/system.h"
#include "zentrix/udev_monitor.h"

namespace zentrix {
namespace {

// sysfs serves descriptors of at most 4 KiB; far more is not a file we want.
constexpr size_t kMaxSysfsFileBytes = 64 * 1024;
// hidraw's largest report (HID_MAX_BUFFER_SIZE), plus room for the id byte we prepend.
constexpr size_t kMaxReportBytes = 16384 + 1;

bool IsHidrawName(const std::string& name) {
  constexpr size_t kPrefix = 6;  // "hidraw"
  if (name.size() <= kPrefix || name.size() > kPrefix + 9 || name.compare(0, kPrefix, "hidraw"))
    return false;
  return std::all_of(name.begin() + kPrefix, name.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

std::string NodeName(const std::string& devnode) {
  return devnode.substr(devnode.rfind('/') + 1);  // npos + 1 == 0: no folder part
}

std::optional<std::vector<uint8_t>> ReadSysfsFile(const std::string& file) {
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  uint8_t chunk[4096];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 || bytes.size() + size_t(got) > kMaxSysfsFileBytes) {
      close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  close(fd);
  return bytes;
}

// hidapi 0.13's hid_open_path frees its device and then writes an error message into it when
// the path opens but is not a hidraw node, so nothing else may reach it: the devnode must be
// the character device that sysfs lists for this hidraw entry ("major:minor" in its dev file).
// A node unplugged in the microseconds between hidapi's open and its check still gets there.
bool IsHidrawDevnode(const std::string& sysfs_root, const std::string& devnode) {
  struct stat node;
  if (stat(devnode.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) return false;
  std::optional<std::vector<uint8_t>> dev =
      ReadSysfsFile(sysfs_root + "/class/hidraw/" + NodeName(devnode) + "/dev");
  if (!dev) return false;
  unsigned major_number = 0, minor_number = 0;
  const std::string text(dev->begin(), dev->end());
  return std::sscanf(text.c_str(), "%u:%u", &major_number, &minor_number) == 2 &&
         major_number == major(node.st_rdev) && minor_number == minor(node.st_rdev);
}

// hidapi keeps one error string per process and replaces it without a lock in hid_enumerate,
// hid_open_path and hid_init. Every zentrix build loaded into the process shares that one
// libhidapi, so they share one lock, found through the process object table.
constexpr char kHidapiLockName[] = "zentrix.hidapi_lock";

std::mutex& HidapiLock() {
  static std::mutex* const lock = [] {
    auto* shared = static_cast<std::mutex*>(brevak::GetProcessObject(kHidapiLockName));
    if (!shared) {
      shared = new std::mutex;  // never freed: a build unloaded first must not take it along
      brevak::SetProcessObject(kHidapiLockName, shared);
    }
    return shared;
  }();
  return *lock;
}
// Made while the library loads: the loader runs one library's initialisers at a time, so two
// builds never both find the table empty.
[[maybe_unused]] const bool g_hidapi_lock_made = (HidapiLock(), true);

class HidapiIo final : public HidrawIo {
 public:
  // With a `watch_node`, a descriptor of our own on the same node tells when to read: hidraw
  // queues every report to each open file of the node and wakes them together, and hidapi has
  // no descriptor to hand out. It is only waited on and drained; hidapi reads the reports.
  explicit HidapiIo(hid_device* device, const std::string& watch_node = {})
      : device_(device),
        watch_(watch_node.empty() ? -1 : open(watch_node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {}
  ~HidapiIo() override {
    if (watch_ >= 0) close(watch_);
    hid_close(device_);
  }
  HidapiIo(const HidapiIo&) = delete;
  HidapiIo& operator=(const HidapiIo&) = delete;

  int Read(uint8_t* data, size_t length, int timeout_ms) override {
    return hid_read_timeout(device_, data, length, timeout_ms);
  }
  int Write(const uint8_t* data, size_t length) override {
    return hid_write(device_, data, length);
  }
  int SendFeature(const uint8_t* data, size_t length) override {
    return hid_send_feature_report(device_, data, length);
  }
  int GetFeature(uint8_t* data, size_t length) override {
    return hid_get_feature_report(device_, data, length);
  }
  int ReadyFd() override { return watch_; }
  void DrainReady() override {
    uint8_t discard[64];  // hidraw drops what does not fit: one read takes one whole report
    while (read(watch_, discard, sizeof discard) > 0) {
    }
  }

 private:
  hid_device* device_;
  const int watch_;
};

std::bitset<256> IdSet(const std::vector<uint8_t>& ids) {
  std::bitset<256> set;
  for (uint8_t id : ids) set.set(id);
  return set;
}

class HidrawDevice final : public HidDevice {
 public:
  HidrawDevice(HidInterfaceInfo info, const HidCollection& collection, bool numbered,
               std::unique_ptr<HidrawIo> reader, std::unique_ptr<HidrawIo> writer)
      : info_(std::move(info)),
        numbered_(numbered),
        input_ids_(IdSet(collection.input_report_ids)),
        output_ids_(IdSet(collection.output_report_ids)),
        feature_ids_(IdSet(collection.feature_report_ids)),
        reader_(std::move(reader)),
        writer_(std::move(writer)),
        report_(kMaxReportBytes) {}

  const HidInterfaceInfo& info() const override { return info_; }

  // Like WriteFile on a Windows collection: an output report of this collection, zero-padded
  // to the collection's output report length, never longer.
  int Write(const uint8_t* data, size_t length) override {
    const size_t full = info_.output_report_length;
    if (!data || length == 0 || length > full || !output_ids_.test(data[0])) return -1;
    std::vector<uint8_t> report(data, data + length);
    report.resize(full, 0);
    std::lock_guard<std::mutex> lock(writer_mu_);
    return writer_->Write(report.data(), report.size());
  }

  ~HidrawDevice() override {
    if (cancel_fd_ >= 0) close(cancel_fd_);
  }

  int Read(uint8_t* data, size_t capacity, int timeout_ms) override {
    if (cancelled_.load() || !data || capacity == 0 || info_.input_report_length == 0) return -1;
    using Clock = std::chrono::steady_clock;
    const bool bounded = timeout_ms >= 0;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(bounded ? timeout_ms : 0);
    // hidraw gives unnumbered reports without the id byte; Windows puts a 0 in front.
    uint8_t* into = numbered_ ? report_.data() : report_.data() + 1;
    const size_t room = numbered_ ? report_.size() : report_.size() - 1;
    brevak::ExternalWaitScope waiting;
    for (;;) {
      if (cancelled_.load()) return -1;
      int left = kReadSliceMs;
      if (bounded) {
        const auto rest = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        left = int(std::clamp<int64_t>(rest, 0, INT32_MAX));
      }
      int got;
      if (Watched()) {
        got = reader_->Read(into, room, 0);
        if (got == 0) {
          reader_->DrainReady();
          got = reader_->Read(into, room, 0);
        }
        if (got == 0) {
          if (bounded && left == 0) return 0;
          pollfd p[2] = {{reader_->ReadyFd(), POLLIN, 0}, {cancel_fd_, POLLIN, 0}};
          if (poll(p, 2, bounded ? left : -1) > 0 && (p[0].revents & (POLLERR | POLLHUP | POLLNVAL))) {
            watch_failed_ = true;  // a removed node: the next read says so; never spin on it
          }
          continue;
        }
      } else {
        got = reader_->Read(into, room, std::min(left, kReadSliceMs));
      }
      if (got < 0) return -1;  // the node is gone
      if (got > 0) {
        size_t length = size_t(got);
        if (!numbered_) {
          report_[0] = 0;
          ++length;
        }
        // Other collections of the node report here too; they are theirs to read.
        if (input_ids_.test(report_[0])) return Deliver(data, capacity, length);
        if (bounded && Clock::now() > deadline) return 0;
      } else if (bounded && Clock::now() >= deadline) {
        return 0;
      }
    }
  }

  void Cancel() override {
    cancelled_.store(true);
    if (cancel_fd_ >= 0) {
      const uint64_t one = 1;
      [[maybe_unused]] const ssize_t k = write(cancel_fd_, &one, sizeof one);
    }
  }

  bool SetFeature(const uint8_t* data, size_t length) override {
    const size_t full = info_.feature_report_length;
    if (!data || length == 0 || length > full || !feature_ids_.test(data[0])) return false;
    std::vector<uint8_t> report(data, data + length);
    report.resize(full, 0);
    std::lock_guard<std::mutex> lock(writer_mu_);
    return writer_->SendFeature(report.data(), report.size()) >= 0;
  }

  int GetFeature(uint8_t* data, size_t length) override {
    if (!data || length == 0 || info_.feature_report_length == 0 || !feature_ids_.test(data[0]))
      return -1;
    std::lock_guard<std::mutex> lock(writer_mu_);
    const int got = writer_->GetFeature(data, length);
    return got < 0 ? -1 : got;
  }

 private:
  // Windows hands out every input report at the collection's input report length, zero-padded.
  int Deliver(uint8_t* data, size_t capacity, size_t length) {
    const size_t out = std::min(capacity, std::max(length, size_t{info_.input_report_length}));
    const size_t copied = std::min(out, length);
    std::memcpy(data, report_.data(), copied);
    std::memset(data + copied, 0, out - copied);
    return int(out);
  }

  const HidInterfaceInfo info_;
  const bool numbered_;
  const std::bitset<256> input_ids_, output_ids_, feature_ids_;
  const std::unique_ptr<HidrawIo> reader_;
  std::mutex writer_mu_;
  const std::unique_ptr<HidrawIo> writer_;
  // Read waits on the handle's ReadyFd and this together, without slices, while both exist.
  bool Watched() const { return !watch_failed_ && cancel_fd_ >= 0 && reader_->ReadyFd() >= 0; }

  std::atomic<bool> cancelled_{false};
  const int cancel_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  std::vector<uint8_t> report_;  // the reading thread's
  bool watch_failed_ = false;    // the reading thread's
};

HidInterfaceInfo MakeInfo(const std::string& path, const HidrawNode& node, const HidCollection& c) {
  HidInterfaceInfo info;
  info.path = path;
  info.usage_page = c.usage_page;
  info.usage = c.usage;
  info.vendor_id = node.vendor_id;
  info.product_id = node.product_id;
  info.version_number = node.version_number;
  info.input_report_length = c.input_report_length;
  info.output_report_length = c.output_report_length;
  info.feature_report_length = c.feature_report_length;
  return info;
}

std::optional<ReportDescriptor> ReadAndParse(const std::string& sysfs_root,
                                             const std::string& devnode) {
  std::optional<std::vector<uint8_t>> bytes = ReadNodeDescriptor(sysfs_root, devnode);
  if (!bytes) {
    brevak::LogNote("zentrix", "%s: report descriptor unreadable", devnode.c_str());
    return std::nullopt;
  }
  std::string error;
  std::optional<ReportDescriptor> parsed = ParseReportDescriptor(*bytes, &error);
  if (!parsed) brevak::LogNote("zentrix", "%s: report descriptor malformed: %s", devnode.c_str(), error.c_str());
  return parsed;
}

class HidrawBackend final : public HidBackend {
 public:
  explicit HidrawBackend(std::string sysfs_root) : sysfs_root_(std::move(sysfs_root)) {}
  ~HidrawBackend() override { monitor_.Stop(); }

  std::vector<HidInterfaceInfo> Enumerate() override {
    std::vector<HidrawNode> nodes;
    {
      std::lock_guard<std::mutex> lock(HidapiLock());
      hid_init();
      hid_device_info* list = hid_enumerate(0, 0);
      for (const hid_device_info* d = list; d; d = d->next) {
        if (d->path) nodes.push_back({d->path, d->vendor_id, d->product_id, d->release_number});
      }
      hid_free_enumeration(list);
    }
    return InterfacesOfNodes(nodes, sysfs_root_);
  }

  std::unique_ptr<HidDevice> Open(const std::string& path) override {
    std::string devnode;
    size_t index = 0;
    if (!SplitInterfacePath(path, &devnode, &index)) return nullptr;
    std::optional<ReportDescriptor> parsed = ReadAndParse(sysfs_root_, devnode);
    if (!parsed || index >= parsed->collections.size()) return nullptr;

    if (!IsHidrawDevnode(sysfs_root_, devnode)) return nullptr;  // gone since it was listed

    std::unique_ptr<HidrawIo> reader, writer;
    HidrawNode node{devnode};
    {
      std::lock_guard<std::mutex> lock(HidapiLock());
      hid_init();
      // Two handles: hidapi's calls on one handle are not safe from two threads.
      hid_device* read_handle = hid_open_path(devnode.c_str());
      if (!read_handle) return nullptr;  // gone by now, or no permission
      reader = std::make_unique<HidapiIo>(read_handle, devnode);
      hid_device* write_handle = hid_open_path(devnode.c_str());
      if (!write_handle) return nullptr;
      writer = std::make_unique<HidapiIo>(write_handle);
      const hid_device_info* attributes = hid_get_device_info(write_handle);
      if (!attributes) return nullptr;
      node.vendor_id = attributes->vendor_id;
      node.product_id = attributes->product_id;
      node.version_number = attributes->release_number;
    }
    const HidCollection& collection = parsed->collections[index];
    return MakeHidrawDevice(MakeInfo(path, node, collection), collection, parsed->numbered,
                            std::move(reader), std::move(writer));
  }

  bool StartHotplug(std::function<void(const HotplugEvent&)> sink) override {
    std::unique_ptr<HidrawUeventSource> source = MakeUdevSource(sysfs_root_);
    if (!source) return false;
    return monitor_.Start(std::move(source), std::move(sink));
  }

  void StopHotplug() override { monitor_.Stop(); }

 private:
  const std::string sysfs_root_;
  HidrawHotplugMonitor monitor_;
};

}  // namespace

std::string InterfacePath(const std::string& devnode, size_t collection) {
  return devnode + "#" + std::to_string(collection);
}

bool SplitInterfacePath(const std::string& path, std::string* devnode, size_t* collection) {
  const size_t hash = path.rfind('#');
  if (hash == std::string::npos) return false;
  const std::string node = path.substr(0, hash), digits = path.substr(hash + 1);
  if (!IsHidrawName(NodeName(node)) || digits.empty() || digits.size() > 9) return false;
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  *devnode = node;
  *collection = std::stoul(digits);
  return true;
}

std::optional<std::vector<uint8_t>> ReadNodeDescriptor(const std::string& sysfs_root,
                                                       const std::string& devnode) {
  const std::string name = NodeName(devnode);
  if (!IsHidrawName(name)) return std::nullopt;
  return ReadSysfsFile(sysfs_root + "/class/hidraw/" + name + "/device/report_descriptor");
}

std::vector<HidInterfaceInfo> InterfacesOfNodes(const std::vector<HidrawNode>& nodes,
                                                const std::string& sysfs_root) {
  std::vector<HidInterfaceInfo> interfaces;
  std::set<std::string> seen;
  for (const HidrawNode& node : nodes) {
    if (!seen.insert(node.devnode).second) continue;
    std::optional<ReportDescriptor> parsed = ReadAndParse(sysfs_root, node.devnode);
    if (!parsed) continue;
    for (size_t i = 0; i < parsed->collections.size(); ++i)
      interfaces.push_back(MakeInfo(InterfacePath(node.devnode, i), node, parsed->collections[i]));
  }
  return interfaces;
}

std::unique_ptr<HidDevice> MakeHidrawDevice(HidInterfaceInfo info, const HidCollection& collection,
                                            bool numbered, std::unique_ptr<HidrawIo> reader,
                                            std::unique_ptr<HidrawIo> writer) {
  if (!reader || !writer) return nullptr;
  return std::make_unique<HidrawDevice>(std::move(info), collection, numbered, std::move(reader),
                                        std::move(writer));
}

std::unique_ptr<HidBackend> MakeHidrawBackend() { return MakeHidrawBackend("/sys"); }

std::unique_ptr<HidBackend> MakeHidrawBackend(std::string sysfs_root) {
  return std::make_unique<HidrawBackend>(std::move(sysfs_root));
}

}  // namespace zentrix
