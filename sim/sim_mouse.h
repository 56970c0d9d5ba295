#pragma once
// The simulated mouse: its settings, its five connections and its status reports.
//
// One mouse, one set of settings, whichever connection a frame arrives on. The HID side is
// modelled per interface (the table of zentrix/hid_interfaces.h), so the in-process backend
// and the socket server are thin: they map a path to (connection, interface) and pass the
// host's bytes here. Reports the mouse sends and plug changes go to listeners.
//
// Thread-safe: one internal lock. Listeners are called after it is released, on the thread
// whose call caused the event, so a listener may call back into the mouse.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/frame_decoder.h"
#include "zentrix/hid_backend.h"
#include "zentrix/hid_interfaces.h"

namespace brevak::sim {

enum class Connection : uint8_t { kCable, k1k, k4k, k8k, kBle };
inline constexpr size_t kConnectionCount = 5;
inline constexpr Connection kAllConnections[] = {Connection::kCable, Connection::k1k, Connection::k4k,
                                                 Connection::k8k, Connection::kBle};

// "cable", "1k", "4k", "8k", "ble".
const char* ConnectionName(Connection c);
std::optional<Connection> ParseConnection(std::string_view name);
const char* InterfaceName(zentrix::InterfaceKind kind);  // "osd", "feature", "report"
bool IsReceiver(Connection c);

// The version the cable and 1K interfaces report: their builds never set a version to match,
// so the low byte must be 0.
inline constexpr uint16_t kCableVersion = 0x0100;

// Paths look like "sim:4k/osd". Bluetooth LE shows one HID interface, "sim:ble/hid", for the
// presence check by vendor and product id.
std::string InterfacePath(Connection c, zentrix::InterfaceKind kind);
struct ParsedPath {
  Connection connection;
  std::optional<zentrix::InterfaceKind> kind;  // none for "sim:ble/hid"
};
std::optional<ParsedPath> ParseInterfacePath(std::string_view path);
// The interfaces a connection presents while plugged.
std::vector<zentrix::HidInterfaceInfo> ConnectionInterfaces(Connection c);

// Status report bytes after the report id: [0x59][type][value][value2].
inline constexpr uint8_t kStatusMarker = 0x59;
inline constexpr uint8_t kStatusDpiStage = 0x10;
inline constexpr uint8_t kStatusPower = 0x40;
inline constexpr uint8_t kStatusAck = 0x50;
inline constexpr uint8_t kPowerOnBattery = 1;
inline constexpr uint8_t kPowerChargeComplete = 2;
inline constexpr uint8_t kPowerCharging = 3;
using StatusBytes = std::array<uint8_t, 4>;

// An input report for a status on a HID connection's OSD interface: report id 0x04, then the
// four status bytes, zero-padded to the interface's input length.
std::vector<uint8_t> StatusInputReport(Connection c, const StatusBytes& status);

struct SimEvent {
  enum class Kind { kStatus, kPlugged, kUnplugged };
  Kind kind = Kind::kStatus;
  Connection connection = Connection::kCable;
  StatusBytes status{};  // kStatus
  int delay_ms = 0;      // kStatus: deliver this much later
};

class SimMouseListener {
 public:
  virtual ~SimMouseListener() = default;
  virtual void OnEvent(const SimEvent& event) = 0;
};

struct StoredMacro {
  int slot = 0;  // of its first frame
  uint8_t repeat_mode = 0;
  std::array<uint8_t, 3> reserved{};
  uint8_t loop_count = 0;
  std::vector<MacroItem> items;
  int frames = 0;
  bool complete = true;  // false while a continuation frame is missing
};

struct ConnectionState {
  bool plugged = false;
  bool linked = true;  // a receiver can be present while the mouse is not linked to it
  int accepted = 0;
  int rejected = 0;
  int lost = 0;  // written to a receiver the mouse is not linked to
};

struct MouseState {
  std::array<ConnectionState, kConnectionCount> connections{};

  // Attribute frame.
  uint8_t lift_off = 0, ripple = 0, stage_mask = 0, angle_snap = 0, motion_sync = 0;
  std::array<uint32_t, kDpiStages> dpi_value{};  // as the host holds it (units of 50 DPI): code + 1
  std::array<Rgb, kDpiStages> dpi_colors{};
  int stage_index = 0;

  // Lighting frame. Brightness keeps its last value while an effect without one is set.
  uint8_t light_effect = 0;
  int effect_speed = 0;  // 9 − the speed code
  uint8_t sleep_timer = 0;
  uint8_t brightness = 0;
  Rgb light_color;
  uint8_t light_off_timer = 0;
  uint8_t key_debounce = 0;

  uint8_t polling = 0;  // the polling frame's value byte
  std::array<std::array<uint8_t, 3>, kButtonSlots> buttons{};
  std::map<int, MacroFrame> macro_frames;  // by slot number as written
  std::map<std::string, int> frame_counts;  // accepted frames by FrameName
  int full_writes = 0;

  int battery = 100;
  bool charging = false;
  std::string last_rejection;

  // Macros put together from their frames: one per first frame, following continuations.
  std::vector<StoredMacro> Macros() const;
  uint8_t PowerValue() const;
};

class SimMouse {
 public:
  SimMouse();
  SimMouse(const SimMouse&) = delete;
  SimMouse& operator=(const SimMouse&) = delete;

  void AddListener(std::shared_ptr<SimMouseListener> listener);
  void RemoveListener(const SimMouseListener* listener);

  // ---- Connections (scripted) ----
  void Plug(Connection c);
  void Unplug(Connection c);
  bool IsPlugged(Connection c) const;
  // Links or unlinks the mouse from a connection; nothing reaches the mouse through an
  // unlinked one and it sends nothing there.
  void SetLinked(Connection c, bool linked);
  bool IsLinked(Connection c) const;
  std::vector<zentrix::HidInterfaceInfo> PresentInterfaces() const;

  // ---- What the host's HID calls do ----
  // Output report on a REPORT interface: bytes written, or -1 (unplugged, no output report,
  // wrong size). Shorter reports are zero-padded to the output length.
  int Write(Connection c, zentrix::InterfaceKind kind, const uint8_t* data, size_t length);
  // Feature report on a FEATURE interface, zero-padded to 64 bytes.
  bool SetFeature(Connection c, zentrix::InterfaceKind kind, const uint8_t* data, size_t length);
  // Answers with the power status: [report id][0x59][0x40][value][battery], zero-padded.
  int GetFeature(Connection c, zentrix::InterfaceKind kind, uint8_t* data, size_t length);
  // Bluetooth LE characteristic write of one whole frame.
  bool BleWrite(const uint8_t* data, size_t length);

  // ---- Scripted behaviour ----
  void PressDpiButton();              // next enabled stage, wrapping; reports it
  void SetBattery(int level);         // 0..100; reports power
  void SetCharging(bool charging);    // reports power
  void SendPowerStatus();             // on every linked connection
  void SendPowerStatus(Connection c);  // on one, when linked
  void DropAnswers(int count);        // the next `count` acknowledgements are not sent
  void DelayAnswers(int ms);          // acknowledgements from now on arrive this much later
  void RejectNextFrames(int count);   // the next `count` complete frames are refused

  MouseState State() const;
  // The whole state as JSON with a fixed key order.
  std::string DumpJson() const;

 private:
  void Dispatch(std::vector<SimEvent>& events);
  void HandleCarried(Connection c, const CarriageResult& r, std::vector<SimEvent>& out);
  void Accept(Connection c, const Frame& frame, std::vector<SimEvent>& out);
  void Reject(Connection c, const std::string& why, std::vector<SimEvent>& out);
  void Answer(Connection c, uint8_t value, std::vector<SimEvent>& out);
  void Broadcast(const StatusBytes& status, std::vector<SimEvent>& out) const;
  bool Reachable(Connection c) const;
  StatusBytes PowerStatus() const;

  mutable std::mutex mu_;
  MouseState state_;
  std::array<FeatureAssembler, kConnectionCount> features_;
  std::array<EnvelopeAssembler, kConnectionCount> envelopes_;
  int drop_answers_ = 0;
  int answer_delay_ms_ = 0;
  int reject_frames_ = 0;

  std::mutex listeners_mu_;
  std::vector<std::shared_ptr<SimMouseListener>> listeners_;
};

}  // namespace brevak::sim
