#include "protocol/ble_transport.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/log.h"
#include "platform/loop.h"

namespace brevak {

// ---- identity and value packing ----------------------------------------------------------

namespace {

std::optional<uint16_t> Hex4(std::string_view s) {
  if (s.size() != 4) return std::nullopt;
  uint16_t v = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return std::nullopt;
    v = uint16_t(v << 4 | d);
  }
  return v;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

}  // namespace

std::optional<Modalias> ParseModalias(std::string_view text) {
  // <source>:v<VVVV>p<PPPP>d<DDDD>
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0) return std::nullopt;
  const std::string_view ids = text.substr(colon + 1);
  if (ids.size() != 15 || (ids[0] != 'v' && ids[0] != 'V') || (ids[5] != 'p' && ids[5] != 'P') ||
      (ids[10] != 'd' && ids[10] != 'D'))
    return std::nullopt;
  const auto vendor = Hex4(ids.substr(1, 4)), product = Hex4(ids.substr(6, 4)), version = Hex4(ids.substr(11, 4));
  if (!vendor || !product || !version) return std::nullopt;
  return Modalias{std::string(text.substr(0, colon)), *vendor, *product, *version};
}

bool IsMouseModalias(std::string_view text) {
  const auto m = ParseModalias(text);
  // The mouse's id is a USB one (vendor id source 2), as its Windows device path says.
  return m && EqualsNoCase(m->source, "usb") && m->vendor == kBleVendorId && m->product == kBleProductId;
}

void PackBleValue(std::span<const uint8_t> value, WPARAM& wParam, LPARAM& lParam) {
  const size_t n = std::min<size_t>(value.size(), 4);
  uint32_t packed = 0;
  for (size_t i = 0; i < n; ++i) packed |= uint32_t(value[i]) << (8 * i);
  wParam = n;
  lParam = LPARAM(packed);
}

std::span<const uint8_t> UnpackBleValue(WPARAM wParam, LPARAM lParam, uint8_t (&bytes)[4]) {
  if (wParam == 0 || wParam > 4) return {};
  const uint32_t packed = uint32_t(lParam);
  for (size_t i = 0; i < 4; ++i) bytes[i] = uint8_t(packed >> (8 * i));
  return {bytes, size_t(wParam)};
}

// ---- the bus thread ----------------------------------------------------------------------

namespace {

constexpr char kBluez[] = "org.bluez";
constexpr char kDeviceIface[] = "org.bluez.Device1";
constexpr char kServiceIface[] = "org.bluez.GattService1";
constexpr char kCharIface[] = "org.bluez.GattCharacteristic1";
constexpr char kObjectManagerIface[] = "org.freedesktop.DBus.ObjectManager";
constexpr uint64_t kCallTimeoutUs = 5'000'000;
// A caller gives up on the bus thread only well after every call it could be making timed out.
constexpr auto kCallerWait = std::chrono::seconds(30);
constexpr int kReconnectMs = 1000;
// Without a system bus (no BlueZ on the machine) the retries slow down to this, so an idle
// program does not wake every second for nothing.
constexpr int kReconnectMaxMs = 30000;

using Props = std::map<std::string, sdbus::Variant>;
using Interfaces = std::map<std::string, Props>;

// A property of the expected type, or nothing (missing, another type, a broken variant).
template <class T>
std::optional<T> Prop(const Props& props, const char* name) {
  const auto it = props.find(name);
  if (it == props.end()) return std::nullopt;
  try {
    if (!it->second.containsValueOfType<T>()) return std::nullopt;
    return it->second.get<T>();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::string ParentPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool Under(const std::string& path, const std::string& parent) {
  return path.size() > parent.size() + 1 && path.compare(0, parent.size(), parent) == 0 && path[parent.size()] == '/';
}

struct Device {
  std::string modalias;
  bool paired = false;
  bool connected = false;
  bool IsMouse() const { return IsMouseModalias(modalias); }
};

struct Service {
  std::string uuid;
};

struct Characteristic {
  std::string service;  // its Service property, else the parent path
  std::string uuid;
  std::vector<std::string> flags;
  bool Has(std::string_view flag) const { return std::find(flags.begin(), flags.end(), flag) != flags.end(); }
};

struct Job {
  std::function<int()> work;
  int result = 0;
  bool done = false;
};

}  // namespace

class BleTransport::Impl {
 public:
  Impl(HWND window, UINT device_msg, UINT value_msg)
      : window_(window), device_msg_(device_msg), value_msg_(value_msg) {}
  ~Impl() { Stop(); }

  bool Start() {
    std::lock_guard lock(mu_);
    if (thread_.joinable()) return true;
    wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd_ < 0) return false;
    stop_ = false;
    running_ = true;
    thread_ = std::thread([this] { Run(); });
    return true;
  }

  void Stop() {
    {
      std::lock_guard lock(mu_);
      if (!thread_.joinable()) return;
      stop_ = true;
      Wake();
    }
    thread_.join();
    std::lock_guard lock(mu_);
    running_ = false;
    FailJobsLocked();
    close(wake_fd_);
    wake_fd_ = -1;
  }

  // Runs `work` on the bus thread and returns its result; `fallback` when the thread is not
  // running or does not answer.
  int Call(std::function<int()> work, int fallback) {
    auto job = std::make_shared<Job>();
    job->work = std::move(work);
    job->result = fallback;
    {
      std::lock_guard lock(mu_);
      if (!running_ || stop_) return fallback;
      jobs_.push_back(job);
      Wake();
    }
    std::unique_lock lock(mu_);
    if (!done_cv_.wait_for(lock, kCallerWait, [&] { return job->done; })) return fallback;
    return job->result;
  }

  // Work done on the bus thread.
  int Write(const std::vector<uint8_t>& frame) {
    if (frame.empty() || frame.size() > kBleMaxValue) return 0;
    for (const std::string& service : MouseServices()) {
      for (const auto& [path, c] : chars_) {
        if (c.service != service || !EqualsNoCase(c.uuid, kBleWriteUuid)) continue;
        const bool request = c.Has("write");
        if (!request && !c.Has("write-without-response")) continue;
        if (WriteValue(path, frame, request)) return 1;
      }
    }
    return 0;
  }

  int Connected() {
    identity_ = true;
    RefreshDeviceList();
    return 1;
  }

  int Disconnected() {
    for (const std::string& path : registered_) {
      if (!conn_) break;
      try {
        auto proxy = sdbus::createProxy(*conn_, kBluez, path);
        auto call = proxy->createMethodCall(kCharIface, "StopNotify");
        proxy->callMethod(call, kCallTimeoutUs);
        LogNote("ble", "StopNotify %s", path.c_str());
      } catch (const std::exception& e) {
        LogNote("ble", "StopNotify %s failed: %s", path.c_str(), e.what());  // the mouse may be gone already
      }
    }
    registered_.clear();
    held_ = false;
    identity_ = false;
    device_list_.clear();
    listed_ = 0;
    return 1;
  }

  int Register() {
    RefreshDeviceList();
    for (const std::string& service : MouseServices()) {
      for (const auto& [path, c] : chars_) {
        if (c.service != service || !EqualsNoCase(c.uuid, kBleNotifyUuid)) continue;
        if (!c.Has("notify") && !c.Has("indicate")) continue;
        if (registered_.count(path) || !conn_) continue;
        try {
          auto proxy = sdbus::createProxy(*conn_, kBluez, path);
          auto call = proxy->createMethodCall(kCharIface, "StartNotify");
          proxy->callMethod(call, kCallTimeoutUs);
          registered_.insert(path);
          LogTrace("Setting Notification for %s\n", path.c_str());
        } catch (const std::exception& e) {
          LogNote("ble", "StartNotify %s failed: %s", path.c_str(), e.what());
        }
      }
    }
    held_ = !registered_.empty();
    return held_ ? 1 : 0;
  }

  // A round trip to the bus daemon: it delivers in order, so every signal sent to this
  // connection before the reply is queued by then, and is handled here.
  int Settle() {
    if (!conn_) return 0;
    auto proxy = sdbus::createProxy(*conn_, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    auto call = proxy->createMethodCall("org.freedesktop.DBus", "GetId");
    proxy->callMethod(call, kCallTimeoutUs);
    while (conn_->processPendingRequest()) {
    }
    return 1;
  }

  bool held() const { return held_; }
  size_t listed() const { return listed_; }

 private:
  // Called with mu_ held (or by Stop before the join), so the descriptor is not closed under it.
  void Wake() {
    const uint64_t one = 1;
    if (wake_fd_ >= 0) {
      [[maybe_unused]] ssize_t n = write(wake_fd_, &one, sizeof one);
    }
  }
  bool Stopping() {
    std::lock_guard lock(mu_);
    return stop_;
  }
  void FailJobsLocked() {
    for (auto& job : jobs_) job->done = true;  // result stays the fallback
    jobs_.clear();
    done_cv_.notify_all();
  }
  // Runs the queued calls; false when there were none.
  bool RunJobs() {
    bool ran = false;
    for (;;) {
      std::shared_ptr<Job> job;
      {
        std::lock_guard lock(mu_);
        if (jobs_.empty() || stop_) return ran;
        job = jobs_.front();
        jobs_.pop_front();
      }
      int result = job->result;
      try {
        result = job->work();
      } catch (const std::exception& e) {
        LogNote("ble", "call failed: %s", e.what());
      }
      ran = true;
      std::lock_guard lock(mu_);
      job->result = result;
      job->done = true;
      done_cv_.notify_all();
    }
  }
  // Waits for a call, a stop or the timeout, serving calls meanwhile (they find no bus).
  void Idle(int timeout_ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!Stopping()) {
      RunJobs();
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return;
      pollfd fd{wake_fd_, POLLIN, 0};
      if (poll(&fd, 1, int(left.count())) > 0) DrainWake();
    }
  }
  void DrainWake() {
    uint64_t n;
    while (read(wake_fd_, &n, sizeof n) > 0) {
    }
  }

  void Run() {
    ExternalWaitScope outside;  // waits on the bus in real time, never on the process clock
    int delay = kReconnectMs;
    while (!Stopping()) {
      bool connected = false;
      try {
        conn_ = sdbus::createSystemBusConnection();
        connected = true;
        Session();
      } catch (const std::exception& e) {
        LogNote("ble", "system bus unavailable or lost: %s", e.what());
      }
      Forget();
      slots_.clear();
      conn_.reset();
      delay = connected ? kReconnectMs : std::min(delay * 2, kReconnectMaxMs);
      if (!Stopping()) Idle(delay);
    }
  }

  // One connection to the bus, until it breaks or the transport stops.
  void Session() {
    slots_.push_back(conn_->addMatch(
        "type='signal',sender='org.bluez',interface='org.freedesktop.DBus.ObjectManager'",
        [this](sdbus::Message& m) { Guard([&] { OnObjectManager(m); }); }));
    slots_.push_back(conn_->addMatch(
        "type='signal',sender='org.bluez',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged'",
        [this](sdbus::Message& m) { Guard([&] { OnPropertiesChanged(m); }); }));
    slots_.push_back(conn_->addMatch(
        "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged',"
        "arg0='org.bluez'",
        [this](sdbus::Message& m) { Guard([&] { OnOwnerChanged(m); }); }));
    Scan();
    for (;;) {
      while (conn_->processPendingRequest()) {
      }
      if (Stopping()) return;
      if (RunJobs()) continue;  // their calls may have queued signals
      const auto poll_data = conn_->getEventLoopPollData();
      pollfd fds[2] = {{poll_data.fd, poll_data.events, 0}, {wake_fd_, POLLIN, 0}};
      if (poll(fds, 2, poll_data.getPollTimeout()) < 0 && errno != EINTR) return;
      if (fds[1].revents) DrainWake();
      if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !conn_->processPendingRequest()) return;
    }
  }

  // A handler never lets an exception reach the bus library: an odd message is ignored.
  template <class F>
  void Guard(F f) {
    try {
      f();
    } catch (const std::exception& e) {
      LogNote("ble", "message ignored: %s", e.what());
    }
  }

  // Everything BlueZ has, at start and whenever it comes back.
  void Scan() {
    Forget();
    std::map<sdbus::ObjectPath, Interfaces> objects;
    try {
      auto proxy = sdbus::createProxy(*conn_, kBluez, "/");
      auto call = proxy->createMethodCall(kObjectManagerIface, "GetManagedObjects");
      auto reply = proxy->callMethod(call, kCallTimeoutUs);
      reply >> objects;
    } catch (const std::exception& e) {
      LogNote("ble", "BlueZ not reachable: %s", e.what());
      return;
    }
    for (const auto& [path, interfaces] : objects) Add(path, interfaces);
    Reconcile(false);
  }

  // BlueZ or the bus went away: nothing of it is known any more.
  void Forget() {
    devices_.clear();
    services_.clear();
    chars_.clear();
    registered_.clear();
    held_ = false;
    if (!mice_.empty()) {
      mice_.clear();
      Post(device_msg_, 0, 0);
    }
  }

  void Add(const std::string& path, const Interfaces& interfaces) {
    for (const auto& [name, props] : interfaces) {
      if (name == kDeviceIface) {
        Device& d = devices_[path];
        UpdateDevice(d, props);
      } else if (name == kServiceIface) {
        services_[path].uuid = Prop<std::string>(props, "UUID").value_or("");
      } else if (name == kCharIface) {
        Characteristic& c = chars_[path];
        c.uuid = Prop<std::string>(props, "UUID").value_or("");
        const auto service = Prop<sdbus::ObjectPath>(props, "Service");
        c.service = service ? std::string(*service) : ParentPath(path);
        c.flags = Prop<std::vector<std::string>>(props, "Flags").value_or(std::vector<std::string>{});
      }
    }
  }

  static void UpdateDevice(Device& d, const Props& props) {
    if (auto v = Prop<std::string>(props, "Modalias")) d.modalias = *v;
    if (auto v = Prop<bool>(props, "Paired")) d.paired = *v;
    if (auto v = Prop<bool>(props, "Connected")) d.connected = *v;
  }

  void OnObjectManager(sdbus::Message& m) {
    sdbus::ObjectPath path;
    if (m.getMemberName() == "InterfacesAdded") {
      Interfaces interfaces;
      m >> path >> interfaces;
      if (path.empty()) return;
      Add(path, interfaces);
      Reconcile(false);
    } else if (m.getMemberName() == "InterfacesRemoved") {
      std::vector<std::string> names;
      m >> path >> names;
      if (path.empty()) return;
      bool mouse_removed = false;
      for (const std::string& name : names) {
        if (name == kDeviceIface) {
          const auto it = devices_.find(path);
          if (it != devices_.end()) {
            mouse_removed = it->second.IsMouse();
            devices_.erase(it);
          }
        } else if (name == kServiceIface) {
          services_.erase(path);
        } else if (name == kCharIface) {
          chars_.erase(path);
          registered_.erase(path);
          held_ = !registered_.empty();
        }
      }
      Reconcile(mouse_removed);
    }
  }

  void OnPropertiesChanged(sdbus::Message& m) {
    std::string interface;
    Props changed;
    std::vector<std::string> invalidated;
    m >> interface >> changed >> invalidated;
    const std::string path = m.getPath();
    if (interface == kDeviceIface) {
      const auto it = devices_.find(path);
      if (it == devices_.end()) return;  // a Device1 never announced is not followed
      UpdateDevice(it->second, changed);
      for (const std::string& name : invalidated) {
        if (name == "Modalias") it->second.modalias.clear();
        if (name == "Connected") it->second.connected = false;
      }
      Reconcile(false);
    } else if (interface == kCharIface) {
      if (!registered_.count(path)) return;
      if (auto notifying = Prop<bool>(changed, "Notifying"); notifying && !*notifying) {
        registered_.erase(path);  // BlueZ ended the session: the next timer tick registers again
        held_ = !registered_.empty();
      }
      if (changed.count("Value")) Notification(Prop<std::vector<uint8_t>>(changed, "Value").value_or(std::vector<uint8_t>{}));
    }
  }

  void OnOwnerChanged(sdbus::Message& m) {
    std::string name, old_owner, new_owner;
    m >> name >> old_owner >> new_owner;
    if (name != kBluez) return;
    if (new_owner.empty()) {
      LogNote("ble", "BlueZ left the bus");
      Forget();
    } else {
      Scan();
    }
  }

  // The notification callback: the value goes to the window thread, whose status handling
  // decodes it.
  void Notification(const std::vector<uint8_t>& value) {
    if (value.empty()) {
      LogTrace("datasize 0\n");
      return;
    }
    LogTrace("HR ");
    WPARAM w;
    LPARAM l;
    PackBleValue(value, w, l);
    Post(value_msg_, w, l);
  }

  // Announces the mouse when a paired, connected device with its identity appears, and its
  // removal when none is left after one went away.
  void Reconcile(bool mouse_removed) {
    std::set<std::string> now;
    for (const auto& [path, d] : devices_)
      if (d.IsMouse() && d.paired && d.connected) now.insert(path);
    const bool arrived = std::any_of(now.begin(), now.end(), [&](const auto& p) { return !mice_.count(p); });
    const bool left = std::any_of(mice_.begin(), mice_.end(), [&](const auto& p) { return !now.count(p); });
    mice_ = std::move(now);
    if (arrived) Post(device_msg_, 1, 0);
    else if ((left || mouse_removed) && mice_.empty()) Post(device_msg_, 0, 0);
  }

  // Paired, connected devices, the mouse first: when more are connected than the list holds,
  // the ones left out are never the mouse.
  void RefreshDeviceList() {
    device_list_.clear();
    for (const bool mouse : {true, false}) {
      for (const auto& [path, d] : devices_) {
        if (!d.paired || !d.connected || d.IsMouse() != mouse) continue;
        if (device_list_.size() == kBleDeviceListMax) break;
        device_list_.push_back(path);
      }
    }
    listed_ = device_list_.size();
    LogTrace("m_iBleNum = %d\r\n", int(device_list_.size()));
  }

  // The mouse's GATT services: none while the link has no identity; otherwise each service
  // that lies under a listed device that is the mouse.
  std::vector<std::string> MouseServices() const {
    std::vector<std::string> out;
    if (!identity_) return out;
    for (const auto& [path, s] : services_) {
      for (const std::string& key : device_list_) {
        const auto d = devices_.find(key);
        if (Under(path, key) && d != devices_.end() && d->second.IsMouse()) {
          out.push_back(path);
          break;
        }
      }
    }
    return out;
  }

  bool WriteValue(const std::string& path, const std::vector<uint8_t>& frame, bool request) {
    if (!conn_) return false;
    try {
      auto proxy = sdbus::createProxy(*conn_, kBluez, path);
      auto call = proxy->createMethodCall(kCharIface, "WriteValue");
      call << frame << Props{{"type", sdbus::Variant(std::string(request ? "request" : "command"))}};
      proxy->callMethod(call, kCallTimeoutUs);
      LogTrace("Write Success\r\n");
      return true;
    } catch (const std::exception& e) {
      LogTrace("Write fail: %s\r\n", e.what());
      return false;
    }
  }

  void Post(UINT msg, WPARAM w, LPARAM l) { PostMessageW(window_, msg, w, l); }

  const HWND window_;
  const UINT device_msg_, value_msg_;

  // Shared with the callers.
  std::mutex mu_;
  std::condition_variable done_cv_;
  std::deque<std::shared_ptr<Job>> jobs_;
  bool running_ = false;
  bool stop_ = false;
  int wake_fd_ = -1;
  std::thread thread_;
  std::atomic<bool> held_{false};
  std::atomic<size_t> listed_{0};

  // The bus thread's own.
  std::unique_ptr<sdbus::IConnection> conn_;
  std::vector<sdbus::Slot> slots_;
  std::map<std::string, Device> devices_;
  std::map<std::string, Service> services_;
  std::map<std::string, Characteristic> chars_;
  std::set<std::string> mice_;        // paired, connected devices with the mouse's identity
  bool identity_ = false;             // the link's patterns: set while connected
  std::vector<std::string> device_list_;
  std::set<std::string> registered_;  // characteristics with a notify session
};

// ---- the public face -------------------------------------------------------------------

BleTransport::BleTransport(HWND window, UINT device_msg, UINT value_msg)
    : impl_(std::make_shared<Impl>(window, device_msg, value_msg)) {}

BleTransport::~BleTransport() { Stop(); }

bool BleTransport::Start() { return impl_->Start(); }
void BleTransport::Stop() { impl_->Stop(); }

int BleTransport::WriteFrame(std::span<const uint8_t> frame) {
  std::vector<uint8_t> bytes(frame.begin(), frame.end());
  Impl* impl = impl_.get();
  return impl_->Call([impl, bytes = std::move(bytes)] { return impl->Write(bytes); }, 0);
}

void BleTransport::OnConnected() {
  Impl* impl = impl_.get();
  impl_->Call([impl] { return impl->Connected(); }, 0);
}

void BleTransport::OnDisconnected() {
  Impl* impl = impl_.get();
  impl_->Call([impl] { return impl->Disconnected(); }, 0);
}

bool BleTransport::RegisterNotifications() {
  Impl* impl = impl_.get();
  return impl_->Call([impl] { return impl->Register(); }, 0) != 0;
}

bool BleTransport::Settle() {
  Impl* impl = impl_.get();
  return impl_->Call([impl] { return impl->Settle(); }, 0) != 0;
}

bool BleTransport::registration_held() const { return impl_->held(); }
size_t BleTransport::device_count() const { return impl_->listed(); }

}  // namespace brevak
