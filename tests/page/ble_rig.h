#pragma once
// BlueZ for one test: a private system bus, python3-dbusmock's bluez5 template with the GATT
// objects of ble_mouse_gatt.py, and the simulated mouse behind them. A WriteValue on 0xFEE3
// reaches SimMouse::BleWrite (the mock calls org.brevak.MouseRig.Write, served here on a
// thread of the rig, and answers only after the mouse has taken the frame); whatever the mouse
// sends over Bluetooth comes back as a value change of 0xFEE4 that notifies.
//
// The scenario calls run on the test's thread with a bus connection of its own.

#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <array>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/loop.h"
#include "sim/sim_mouse.h"
#include "tests/common/private_system_bus.h"

namespace brevak::test {

inline constexpr char kMouseModalias[] = "usb:v045Ep0059d0001";

class BleRig {
 public:
  explicit BleRig(sim::SimMouse& mouse) : mouse_(mouse) {
    if (!bus_.ok()) return;
    stop_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    listener_ = std::make_shared<Listener>(*this);
    mouse_.AddListener(listener_);
    thread_ = std::thread([this] { Serve(); });
    if (!PrivateSystemBus::WaitForName("org.brevak.MouseRig")) return;
    if (sd_bus_open_system(&control_) < 0) return;
    ready_ = StartBluez();
  }
  ~BleRig() {
    StopBluez();
    if (control_) sd_bus_flush_close_unref(control_);
    if (listener_) mouse_.RemoveListener(listener_.get());
    if (thread_.joinable()) {
      Wake();
      {
        std::lock_guard lock(mu_);
        stop_ = true;
      }
      Wake();
      thread_.join();
    }
    if (stop_fd_ >= 0) close(stop_fd_);
  }
  BleRig(const BleRig&) = delete;
  BleRig& operator=(const BleRig&) = delete;

  bool ready() const { return ready_; }
  const std::string& adapter() const { return adapter_; }

  // BlueZ comes (with adapter hci0) and goes.
  bool StartBluez() {
    mock_pid_ = PrivateSystemBus::SpawnMock("bluez5", "org.bluez");
    if (mock_pid_ <= 0) return false;
    sd_bus_message* reply = nullptr;
    const char* adapter = nullptr;
    bool ok = Call("/", "org.freedesktop.DBus.Mock", "AddTemplate", nullptr, "sa{sv}", BREVAK_BLE_RIG_TEMPLATE, 0) &&
              sd_bus_call_method(control_, "org.bluez", "/", "org.bluez.Mock", "AddAdapter", nullptr, &reply, "ss",
                                 "hci0", "brevak-test") >= 0 &&
              sd_bus_message_read(reply, "s", &adapter) >= 0;
    if (ok) adapter_ = adapter;
    sd_bus_message_unref(reply);
    return ok;
  }
  void StopBluez() {
    PrivateSystemBus::EndProcess(mock_pid_);
    mock_pid_ = 0;
  }
  // The system bus itself goes away.
  void KillBus() { bus_.Kill(); }

  // A Device1 with its properties; returns its path ("" on failure).
  std::string AddDevice(const char* address, const char* modalias, bool paired, bool connected) {
    if (connected) mouse_.Plug(sim::Connection::kBle);
    sd_bus_message* reply = nullptr;
    const char* path = nullptr;
    std::string out;
    if (sd_bus_call_method(control_, "org.bluez", "/", "org.brevak.MouseRig", "RigAddDevice", nullptr, &reply,
                           "sssbb", adapter_.c_str(), address, modalias, int(paired), int(connected)) >= 0 &&
        sd_bus_message_read(reply, "o", &path) >= 0)
      out = path;
    sd_bus_message_unref(reply);
    return out;
  }
  // `count` other paired, connected devices with the same service, listed before the mouse.
  bool AddStrangers(uint32_t count) {
    return Call("/", "org.brevak.MouseRig", "RigAddStrangers", nullptr, "su", adapter_.c_str(), count);
  }
  // GATT service at `service` (0xFEE3 at service/char0011, 0xFEE4 at service/char0014).
  bool AddGatt(const std::string& device, const std::string& service) {
    return Call("/", "org.brevak.MouseRig", "RigAddGatt", nullptr, "oo", device.c_str(), service.c_str());
  }
  // The mouse, paired, with its service under it. Connecting it plugs the simulated mouse's
  // Bluetooth link too.
  std::string AddMouse(bool connected, const char* address = "C0:FF:EE:00:00:01") {
    const std::string device = AddDevice(address, kMouseModalias, true, connected);
    if (device.empty() || !AddGatt(device, MouseService(device))) return "";
    return device;
  }
  static std::string MouseService(const std::string& device) { return device + "/service0010"; }
  static std::string WriteChar(const std::string& service) { return service + "/char0011"; }
  static std::string NotifyChar(const std::string& service) { return service + "/char0014"; }

  bool SetConnected(const std::string& device, bool connected) {
    if (connected) mouse_.Plug(sim::Connection::kBle);
    const bool ok = Call("/", "org.brevak.MouseRig", "RigSetConnected", nullptr, "ob", device.c_str(), int(connected));
    if (!connected) mouse_.Unplug(sim::Connection::kBle);
    return ok;
  }
  // Unpaired (or paired again) while the link stays up.
  bool SetPaired(const std::string& device, bool paired) {
    return Call(device.c_str(), "org.freedesktop.DBus.Mock", "UpdateProperties", nullptr, "sa{sv}",
                "org.bluez.Device1", 1, "Paired", "b", int(paired));
  }
  bool Remove(const std::string& path) { return Call("/", "org.brevak.MouseRig", "RigRemove", nullptr, "o", path.c_str()); }

  // A value on 0xFEE4 straight from the test, any length.
  bool Notify(const std::vector<uint8_t>& value) {
    sd_bus_message* m = nullptr;
    bool ok = sd_bus_message_new_method_call(control_, &m, "org.bluez", "/", "org.brevak.MouseRig", "RigNotify") >= 0 &&
              sd_bus_message_append_array(m, 'y', value.data(), value.size()) >= 0 &&
              sd_bus_call(control_, m, 5'000'000, nullptr, nullptr) >= 0;
    sd_bus_message_unref(m);
    return ok;
  }

  uint32_t WriteCount(const std::string& characteristic) {
    sd_bus_message* reply = nullptr;
    uint32_t n = 0;
    if (sd_bus_call_method(control_, "org.bluez", "/", "org.brevak.MouseRig", "RigWriteCount", nullptr, &reply, "o",
                           characteristic.c_str()) < 0 ||
        sd_bus_message_read(reply, "u", &n) < 0)
      n = 0xFFFFFFFF;
    sd_bus_message_unref(reply);
    return n;
  }
  std::optional<bool> Notifying(const std::string& characteristic) {
    sd_bus_message* reply = nullptr;
    int on = 0;
    std::optional<bool> out;
    if (sd_bus_call_method(control_, "org.bluez", characteristic.c_str(), "org.freedesktop.DBus.Properties", "Get",
                           nullptr, &reply, "ss", "org.bluez.GattCharacteristic1", "Notifying") >= 0 &&
        sd_bus_message_read(reply, "v", "b", &on) >= 0)
      out = on != 0;
    sd_bus_message_unref(reply);
    return out;
  }

  // Objects BlueZ would never send, for the client to survive: a Device1 whose properties
  // have the wrong types, a service without UUID under it, a characteristic with the write
  // UUID but Flags and Service of the wrong types, and a PropertiesChanged with a Value that
  // is not bytes.
  bool AddOddObjects(const std::string& device_path) {
    const std::string service = device_path + "/service0099";
    return AddObject(device_path, "org.bluez.Device1", [](sd_bus_message* m) {
             return sd_bus_message_append(m, "{sv}{sv}{sv}", "Modalias", "u", 0x045E0059u, "Paired", "s", "yes",
                                          "Connected", "b", 1) >= 0;
           }) &&
           AddObject(service, "org.bluez.GattService1", [](sd_bus_message* m) {
             return sd_bus_message_append(m, "{sv}", "Primary", "b", 1) >= 0;
           }) &&
           AddObject(service + "/char0001", "org.bluez.GattCharacteristic1", [](sd_bus_message* m) {
             return sd_bus_message_append(m, "{sv}{sv}{sv}", "UUID", "s", "0000fee3-0000-1000-8000-00805f9b34fb",
                                          "Flags", "s", "write", "Service", "i", 7) >= 0;
           });
  }

 private:
  class Listener : public sim::SimMouseListener {
   public:
    explicit Listener(BleRig& rig) : rig_(rig) {}
    void OnEvent(const sim::SimEvent& e) override {
      if (e.kind != sim::SimEvent::Kind::kStatus || e.connection != sim::Connection::kBle) return;
      {
        std::lock_guard lock(rig_.mu_);
        rig_.pending_.push_back(e.status);
      }
      rig_.Wake();
    }

   private:
    BleRig& rig_;
  };

  template <class Append>
  bool AddObject(const std::string& path, const char* interface, Append append) {
    sd_bus_message* m = nullptr;
    bool ok = sd_bus_message_new_method_call(control_, &m, "org.bluez", "/", "org.freedesktop.DBus.Mock",
                                             "AddObject") >= 0 &&
              sd_bus_message_append(m, "ss", path.c_str(), interface) >= 0 &&
              sd_bus_message_open_container(m, 'a', "{sv}") >= 0 && append(m) &&
              sd_bus_message_close_container(m) >= 0 && sd_bus_message_append(m, "a(ssss)", 0) >= 0 &&
              sd_bus_call(control_, m, 5'000'000, nullptr, nullptr) >= 0;
    sd_bus_message_unref(m);
    // Announced with the same odd properties.
    sd_bus_message* s = nullptr;
    ok = ok &&
         sd_bus_message_new_method_call(control_, &s, "org.bluez", "/", "org.freedesktop.DBus.Mock", "EmitSignal") >= 0 &&
         sd_bus_message_append(s, "sss", "org.freedesktop.DBus.ObjectManager", "InterfacesAdded", "oa{sa{sv}}") >= 0 &&
         sd_bus_message_open_container(s, 'a', "v") >= 0 && sd_bus_message_append(s, "v", "o", path.c_str()) >= 0 &&
         sd_bus_message_open_container(s, 'v', "a{sa{sv}}") >= 0 && sd_bus_message_open_container(s, 'a', "{sa{sv}}") >= 0 &&
         sd_bus_message_open_container(s, 'e', "sa{sv}") >= 0 && sd_bus_message_append(s, "s", interface) >= 0 &&
         sd_bus_message_open_container(s, 'a', "{sv}") >= 0 && append(s) && sd_bus_message_close_container(s) >= 0 &&
         sd_bus_message_close_container(s) >= 0 && sd_bus_message_close_container(s) >= 0 &&
         sd_bus_message_close_container(s) >= 0 && sd_bus_message_close_container(s) >= 0 &&
         sd_bus_call(control_, s, 5'000'000, nullptr, nullptr) >= 0;
    sd_bus_message_unref(s);
    return ok;
  }

  template <class... Args>
  bool Call(const char* path, const char* interface, const char* member, sd_bus_message** reply, const char* types,
            Args... args) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int r = sd_bus_call_method(control_, "org.bluez", path, interface, member, &error, reply, types, args...);
    sd_bus_error_free(&error);
    return r >= 0;
  }

  void Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(stop_fd_, &one, sizeof one);
  }

  static int OnWrite(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    const void* data = nullptr;
    size_t size = 0;
    if (sd_bus_message_read_array(m, 'y', &data, &size) < 0) return -EINVAL;
    auto* rig = static_cast<BleRig*>(userdata);
    if (!rig->mouse_.BleWrite(static_cast<const uint8_t*>(data), size))
      return sd_bus_error_set(error, "org.brevak.MouseRig.Refused", "the mouse did not take the value");
    return sd_bus_reply_method_return(m, "");
  }

  // The rig's own bus thread: serves Write and sends the mouse's notifications, never waiting
  // for the mock (which may be waiting for a Write here).
  void Serve() {
    ExternalWaitScope outside;
    static const sd_bus_vtable vtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("Write", "ay", "", OnWrite, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END,
    };
    sd_bus* bus = nullptr;
    sd_bus_slot* slot = nullptr;
    if (sd_bus_open_system(&bus) < 0) return;
    if (sd_bus_add_object_vtable(bus, &slot, "/mouse", "org.brevak.MouseRig", vtable, this) < 0 ||
        sd_bus_request_name(bus, "org.brevak.MouseRig", 0) < 0) {
      sd_bus_flush_close_unref(bus);
      return;
    }
    for (;;) {
      int r;
      while ((r = sd_bus_process(bus, nullptr)) > 0) {
      }
      std::deque<sim::StatusBytes> out;
      {
        std::lock_guard lock(mu_);
        if (stop_) break;
        out.swap(pending_);
      }
      for (const auto& status : out) {
        sd_bus_message* m = nullptr;
        if (sd_bus_message_new_method_call(bus, &m, "org.bluez", "/", "org.brevak.MouseRig", "RigNotify") >= 0 &&
            sd_bus_message_append_array(m, 'y', status.data(), status.size()) >= 0)
          sd_bus_call_async(bus, nullptr, m, nullptr, nullptr, 0);
        sd_bus_message_unref(m);
      }
      if (r < 0) break;  // the bus went away
      if (!out.empty()) continue;
      pollfd fds[2] = {{sd_bus_get_fd(bus), short(sd_bus_get_events(bus)), 0}, {stop_fd_, POLLIN, 0}};
      poll(fds, 2, 1000);
      uint64_t n;
      while (read(stop_fd_, &n, sizeof n) > 0) {
      }
    }
    sd_bus_slot_unref(slot);
    sd_bus_flush_close_unref(bus);
  }

  sim::SimMouse& mouse_;
  PrivateSystemBus bus_;
  sd_bus* control_ = nullptr;
  pid_t mock_pid_ = 0;
  std::string adapter_;
  bool ready_ = false;

  std::shared_ptr<Listener> listener_;
  std::thread thread_;
  int stop_fd_ = -1;
  std::mutex mu_;
  bool stop_ = false;
  std::deque<sim::StatusBytes> pending_;
};

}  // namespace brevak::test
