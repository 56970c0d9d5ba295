#include "protocol/ble_transport.h"

#include <poll.h>

#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <set>
#include <vector>

#include "platform/log.h"
#include "platform/loop.h"
#include "protocol/ble_bus_thread.h"
#include "protocol/bluez_mirror.h"

namespace brevak {

// ---- value packing ----------------------------------------------------------------------

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

// ---- the GATT face on the bus thread ------------------------------------------------------

namespace {

constexpr char kBluez[] = "org.bluez";
constexpr char kObjectManagerIface[] = "org.freedesktop.DBus.ObjectManager";
constexpr uint64_t kCallTimeoutUs = 5'000'000;
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

// The properties the mirror follows, each of the type BlueZ gives it.
BluezProperties Followed(const Props& props) {
  BluezProperties out;
  out.modalias = Prop<std::string>(props, "Modalias");
  out.paired = Prop<bool>(props, "Paired");
  out.connected = Prop<bool>(props, "Connected");
  out.uuid = Prop<std::string>(props, "UUID");
  if (auto service = Prop<sdbus::ObjectPath>(props, "Service")) out.service = std::string(*service);
  out.flags = Prop<std::vector<std::string>>(props, "Flags");
  return out;
}

BluezInterfaces Followed(const Interfaces& interfaces) {
  BluezInterfaces out;
  for (const auto& [name, props] : interfaces) out.emplace(name, Followed(props));
  return out;
}

}  // namespace

class BleTransport::Impl {
 public:
  Impl(HWND window, UINT device_msg, UINT value_msg)
      : window_(window), device_msg_(device_msg), value_msg_(value_msg) {}
  ~Impl() { Stop(); }

  bool Start() { return bus_.Start([this] { Run(); }); }
  void Stop() { bus_.Stop(); }
  int Call(std::function<int()> work, int fallback) { return bus_.Call(std::move(work), fallback); }

  // Work done on the bus thread.
  int Write(const std::vector<uint8_t>& frame) {
    if (frame.empty() || frame.size() > kBleMaxValue) return 0;
    for (const GattCharacteristic& c : MouseCharacteristics(kBleWriteUuid)) {
      const bool request = c.Has("write");
      if (!request && !c.Has("write-without-response")) continue;
      if (WriteValue(c.path, frame, request)) return 1;
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
        auto call = proxy->createMethodCall(kBluezCharacteristic, "StopNotify");
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
    for (const GattCharacteristic& c : MouseCharacteristics(kBleNotifyUuid)) {
      if (!c.Has("notify") && !c.Has("indicate")) continue;
      if (registered_.count(c.path) || !conn_) continue;
      try {
        auto proxy = sdbus::createProxy(*conn_, kBluez, c.path);
        auto call = proxy->createMethodCall(kBluezCharacteristic, "StartNotify");
        proxy->callMethod(call, kCallTimeoutUs);
        registered_.insert(c.path);
        LogTrace("Setting Notification for %s\n", c.path.c_str());
      } catch (const std::exception& e) {
        LogNote("ble", "StartNotify %s failed: %s", c.path.c_str(), e.what());
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
  bool reachable() const { return reachable_; }
  size_t listed() const { return listed_; }

 private:
  void Run() {
    ExternalWaitScope outside;  // waits on the bus in real time, never on the process clock
    int delay = kReconnectMs;
    while (!bus_.Stopping()) {
      bool connected = false;
      try {
        conn_ = sdbus::createSystemBusConnection();
        connected = true;
        Session();
      } catch (const std::exception& e) {
        LogNote("ble", "system bus unavailable or lost: %s", e.what());
        reachable_ = false;
      }
      Forget();
      slots_.clear();
      conn_.reset();
      delay = connected ? kReconnectMs : std::min(delay * 2, kReconnectMaxMs);
      if (!bus_.Stopping()) bus_.Idle(delay);
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
      if (bus_.Stopping()) return;
      if (bus_.RunJobs()) continue;  // their calls may have queued signals
      const auto poll_data = conn_->getEventLoopPollData();
      pollfd fds[2] = {{poll_data.fd, poll_data.events, 0}, {bus_.wake_fd(), POLLIN, 0}};
      if (poll(fds, 2, poll_data.getPollTimeout()) < 0 && errno != EINTR) return;
      if (fds[1].revents) bus_.DrainWake();
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
      reachable_ = false;
      return;
    }
    reachable_ = true;
    std::map<std::string, BluezInterfaces> followed;
    for (const auto& [path, interfaces] : objects) followed.emplace(path, Followed(interfaces));
    Tell(mirror_.Add(followed));
  }

  // BlueZ or the bus went away: nothing of it is known any more.
  void Forget() {
    registered_.clear();
    held_ = false;
    Tell(mirror_.Forget());
  }

  void OnObjectManager(sdbus::Message& m) {
    sdbus::ObjectPath path;
    if (m.getMemberName() == "InterfacesAdded") {
      Interfaces interfaces;
      m >> path >> interfaces;
      if (path.empty()) return;
      Tell(mirror_.Add({{path, Followed(interfaces)}}));
    } else if (m.getMemberName() == "InterfacesRemoved") {
      std::vector<std::string> names;
      m >> path >> names;
      if (path.empty()) return;
      const MouseNews news = mirror_.Remove(path, names);
      if (std::find(names.begin(), names.end(), kBluezCharacteristic) != names.end()) {
        registered_.erase(path);
        held_ = !registered_.empty();
      }
      Tell(news);
    }
  }

  void OnPropertiesChanged(sdbus::Message& m) {
    std::string interface;
    Props changed;
    std::vector<std::string> invalidated;
    m >> interface >> changed >> invalidated;
    const std::string path = m.getPath();
    if (interface == kBluezDevice) {
      Tell(mirror_.Change(path, interface, Followed(changed), invalidated));
    } else if (interface == kBluezCharacteristic) {
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
      reachable_ = false;
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

  // The mouse's arrival or removal goes to the window.
  void Tell(MouseNews news) {
    if (news == MouseNews::kArrived) Post(device_msg_, 1, 0);
    else if (news == MouseNews::kGone) Post(device_msg_, 0, 0);
  }

  void RefreshDeviceList() {
    device_list_ = mirror_.ConnectedDevices(kBleDeviceListMax);
    listed_ = device_list_.size();
    LogTrace("m_iBleNum = %d\r\n", int(device_list_.size()));
  }

  // None while the link has no identity; otherwise those of the mouse's services under the
  // device list.
  std::vector<GattCharacteristic> MouseCharacteristics(std::string_view uuid) const {
    if (!identity_) return {};
    return mirror_.MouseCharacteristics(device_list_, uuid);
  }

  bool WriteValue(const std::string& path, const std::vector<uint8_t>& frame, bool request) {
    if (!conn_) return false;
    LogTrace("%s\r\n", path.c_str());
    try {
      auto proxy = sdbus::createProxy(*conn_, kBluez, path);
      auto call = proxy->createMethodCall(kBluezCharacteristic, "WriteValue");
      call << frame << Props{{"type", sdbus::Variant(std::string(request ? "request" : "command"))}};
      LogTrace("Value Add: %p\r\n", static_cast<const void*>(frame.data()));
      proxy->callMethod(call, kCallTimeoutUs);
      LogTrace("Write Success!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!\r\n");
      return true;
    } catch (const std::exception& e) {
      LogTrace("Write fail!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!\r\n");
      LogNote("ble", "WriteValue: %s", e.what());
      return false;
    }
  }

  void Post(UINT msg, WPARAM w, LPARAM l) { PostMessageW(window_, msg, w, l); }

  const HWND window_;
  const UINT device_msg_, value_msg_;

  // Shared with the callers.
  std::atomic<bool> held_{false};
  // Until the first try has answered, BlueZ counts as reachable: no claim is made early.
  std::atomic<bool> reachable_{true};
  std::atomic<size_t> listed_{0};

  // The bus thread's own.
  std::unique_ptr<sdbus::IConnection> conn_;
  std::vector<sdbus::Slot> slots_;
  BluezMirror mirror_;
  bool identity_ = false;             // the link's patterns: set while connected
  std::vector<std::string> device_list_;
  std::set<std::string> registered_;  // characteristics with a notify session

  BleBusThread bus_;  // last: stopped first, before the state its loop uses goes
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
bool BleTransport::bluez_reachable() const { return impl_->reachable(); }
size_t BleTransport::device_count() const { return impl_->listed(); }

}  // namespace brevak
