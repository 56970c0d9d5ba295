#include "sim/sim_mouse.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace brevak::sim {

using zentrix::InterfaceKind;

namespace {

constexpr size_t Index(Connection c) { return size_t(c); }

constexpr size_t kMaxBleValue = 512;  // largest attribute value a write can carry

struct ConnectionIds {
  const char* name;
  zentrix::Build build;
  uint16_t product_id;
  uint16_t version;
};
constexpr ConnectionIds kIds[] = {
    {"cable", zentrix::Build::kCable, zentrix::kCableProductId, kCableVersion},
    {"1k", zentrix::Build::kReceiver1k, zentrix::kReceiver1kProductId, kCableVersion},
    {"4k", zentrix::Build::kReceiver4k, zentrix::kReceiverHsProductId, zentrix::kReceiver4kVersion},
    {"8k", zentrix::Build::kReceiver8k, zentrix::kReceiverHsProductId, zentrix::kReceiver8kVersion},
    {"ble", zentrix::Build::kCable, zentrix::kBleProductId, 0},  // build unused: see BleHid
};
constexpr InterfaceKind kKinds[] = {InterfaceKind::kOsd, InterfaceKind::kFeature, InterfaceKind::kReport};

zentrix::HidInterfaceInfo Describe(Connection c, InterfaceKind kind) {
  const ConnectionIds& ids = kIds[Index(c)];
  const zentrix::Usage usage = zentrix::InterfaceUsage(ids.build, kind);
  zentrix::HidInterfaceInfo info;
  info.path = InterfacePath(c, kind);
  info.usage_page = usage.page;
  info.usage = usage.usage;
  info.vendor_id = zentrix::kVendorId;
  info.product_id = ids.product_id;
  info.version_number = ids.version;
  switch (kind) {
    case InterfaceKind::kOsd:
      info.input_report_length =
          c == Connection::k8k ? zentrix::kEnvelopeReportLength : zentrix::kStatusInputLength;
      break;
    case InterfaceKind::kFeature:
      info.feature_report_length = zentrix::kFeatureReportLength;
      break;
    case InterfaceKind::kReport:
      info.input_report_length = zentrix::kEnvelopeReportLength;
      info.output_report_length = zentrix::kEnvelopeReportLength;
      break;
  }
  return info;
}

zentrix::HidInterfaceInfo BleHid() {
  zentrix::HidInterfaceInfo info;
  info.path = "sim:ble/hid";
  info.usage_page = 0x0001;  // generic desktop mouse
  info.usage = 0x0002;
  info.vendor_id = zentrix::kBleVendorId;
  info.product_id = zentrix::kBleProductId;
  return info;
}

// ---- JSON ----

class Json {
 public:
  std::string& out() { return s_; }
  void Raw(const char* text) { s_ += text; }
  void Num(long v) { s_ += std::to_string(v); }
  void Bool(bool v) { s_ += v ? "true" : "false"; }
  void Str(std::string_view v) {
    s_ += '"';
    for (char ch : v) {
      if (ch == '"' || ch == '\\') {
        s_ += '\\';
        s_ += ch;
      } else if (uint8_t(ch) < 0x20) {
        char esc[8];
        std::snprintf(esc, sizeof esc, "\\u%04x", ch);
        s_ += esc;
      } else {
        s_ += ch;
      }
    }
    s_ += '"';
  }
  void Key(const char* k) {
    Str(k);
    s_ += ": ";
  }
  void Color(const Rgb& c) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02X%02X%02X", c.r, c.g, c.b);
    Str(hex);
  }
  template <typename Seq, typename F>
  void List(const Seq& seq, F each) {
    s_ += '[';
    bool first = true;
    for (const auto& v : seq) {
      if (!first) s_ += ", ";
      first = false;
      each(v);
    }
    s_ += ']';
  }

 private:
  std::string s_;
};

void ItemJson(Json& j, const MacroItem& item) {
  j.Raw("{");
  switch (item.kind) {
    case MacroItem::Kind::kMove:
      j.Raw("\"kind\": \"move\", \"delay\": ");
      j.Num(item.delay);
      j.Raw(", \"x\": ");
      j.Num(item.x);
      j.Raw(", \"y\": ");
      j.Num(item.y);
      break;
    case MacroItem::Kind::kPress:
    case MacroItem::Kind::kRelease:
      j.Raw(item.kind == MacroItem::Kind::kPress ? "\"kind\": \"press\", \"delay\": " : "\"kind\": \"release\", \"delay\": ");
      j.Num(item.delay);
      j.Raw(", \"code\": ");
      j.Num(item.code);
      break;
    case MacroItem::Kind::kLongDelay:
      j.Raw("\"kind\": \"long_delay\", \"hundreds\": ");
      j.Num(item.hundreds);
      break;
  }
  j.Raw("}");
}

}  // namespace

// ---- names and paths ----

const char* ConnectionName(Connection c) { return Index(c) < kConnectionCount ? kIds[Index(c)].name : "?"; }

std::optional<Connection> ParseConnection(std::string_view name) {
  for (Connection c : kAllConnections) {
    if (name == ConnectionName(c)) return c;
  }
  return std::nullopt;
}

const char* InterfaceName(InterfaceKind kind) {
  switch (kind) {
    case InterfaceKind::kOsd: return "osd";
    case InterfaceKind::kFeature: return "feature";
    case InterfaceKind::kReport: return "report";
  }
  return "?";
}

bool IsReceiver(Connection c) { return c == Connection::k1k || c == Connection::k4k || c == Connection::k8k; }

std::string InterfacePath(Connection c, InterfaceKind kind) {
  return std::string("sim:") + ConnectionName(c) + "/" + InterfaceName(kind);
}

std::optional<ParsedPath> ParseInterfacePath(std::string_view path) {
  if (path == "sim:ble/hid") return ParsedPath{Connection::kBle, std::nullopt};
  for (Connection c : kAllConnections) {
    if (c == Connection::kBle) continue;
    for (InterfaceKind k : kKinds) {
      if (path == InterfacePath(c, k)) return ParsedPath{c, k};
    }
  }
  return std::nullopt;
}

std::vector<zentrix::HidInterfaceInfo> ConnectionInterfaces(Connection c) {
  if (c == Connection::kBle) return {BleHid()};
  std::vector<zentrix::HidInterfaceInfo> out;
  for (InterfaceKind k : kKinds) out.push_back(Describe(c, k));
  return out;
}

std::vector<uint8_t> StatusInputReport(Connection c, const StatusBytes& status) {
  const size_t length = c == Connection::k8k ? zentrix::kEnvelopeReportLength : zentrix::kStatusInputLength;
  std::vector<uint8_t> report(length, 0);
  report[0] = zentrix::kStatusReportId;
  std::copy(status.begin(), status.end(), report.begin() + 1);
  return report;
}

// ---- state ----

uint8_t MouseState::PowerValue() const {
  if (!charging) return kPowerOnBattery;
  return battery >= 100 ? kPowerChargeComplete : kPowerCharging;
}

std::vector<StoredMacro> MouseState::Macros() const {
  std::vector<StoredMacro> out;
  for (const auto& [slot, frame] : macro_frames) {
    if (!frame.first) continue;
    StoredMacro m;
    m.slot = slot;
    m.repeat_mode = frame.repeat_mode;
    m.reserved = frame.reserved;
    m.loop_count = frame.loop_count;
    m.items = frame.items;
    m.frames = 1;
    const MacroFrame* f = &frame;
    int s = slot;
    // Slot numbers are one byte; a chain can at most visit every slot once.
    for (int guard = 0; f->continues && guard < 256; ++guard) {
      s = (s + 1) & 0xFF;
      auto next = macro_frames.find(s);
      if (next == macro_frames.end() || next->second.first) {
        m.complete = false;
        break;
      }
      f = &next->second;
      m.items.insert(m.items.end(), f->items.begin(), f->items.end());
      ++m.frames;
    }
    out.push_back(std::move(m));
  }
  return out;
}

SimMouse::SimMouse() = default;

void SimMouse::AddListener(std::shared_ptr<SimMouseListener> listener) {
  if (!listener) return;
  std::lock_guard<std::mutex> lock(listeners_mu_);
  listeners_.push_back(std::move(listener));
}

void SimMouse::RemoveListener(const SimMouseListener* listener) {
  std::lock_guard<std::mutex> lock(listeners_mu_);
  std::erase_if(listeners_, [listener](const auto& l) { return l.get() == listener; });
}

void SimMouse::Dispatch(std::vector<SimEvent>& events) {
  if (events.empty()) return;
  std::vector<std::shared_ptr<SimMouseListener>> listeners;
  {
    std::lock_guard<std::mutex> lock(listeners_mu_);
    listeners = listeners_;
  }
  for (const SimEvent& e : events) {
    for (const auto& l : listeners) l->OnEvent(e);
  }
}

bool SimMouse::Reachable(Connection c) const {
  const ConnectionState& s = state_.connections[Index(c)];
  return s.plugged && s.linked;
}

void SimMouse::Plug(Connection c) {
  std::vector<SimEvent> events;
  {
    std::lock_guard<std::mutex> lock(mu_);
    ConnectionState& s = state_.connections[Index(c)];
    if (s.plugged) return;
    s.plugged = true;
    features_[Index(c)] = FeatureAssembler{};
    envelopes_[Index(c)] = EnvelopeAssembler{};
    events.push_back(SimEvent{SimEvent::Kind::kPlugged, c, {}, 0});
  }
  Dispatch(events);
}

void SimMouse::Unplug(Connection c) {
  std::vector<SimEvent> events;
  {
    std::lock_guard<std::mutex> lock(mu_);
    ConnectionState& s = state_.connections[Index(c)];
    if (!s.plugged) return;
    s.plugged = false;
    events.push_back(SimEvent{SimEvent::Kind::kUnplugged, c, {}, 0});
  }
  Dispatch(events);
}

bool SimMouse::IsPlugged(Connection c) const {
  std::lock_guard<std::mutex> lock(mu_);
  return state_.connections[Index(c)].plugged;
}

void SimMouse::SetLinked(Connection c, bool linked) {
  std::lock_guard<std::mutex> lock(mu_);
  state_.connections[Index(c)].linked = linked;
}

bool SimMouse::IsLinked(Connection c) const {
  std::lock_guard<std::mutex> lock(mu_);
  return state_.connections[Index(c)].linked;
}

std::vector<zentrix::HidInterfaceInfo> SimMouse::PresentInterfaces() const {
  std::vector<zentrix::HidInterfaceInfo> out;
  std::lock_guard<std::mutex> lock(mu_);
  for (Connection c : kAllConnections) {
    if (!state_.connections[Index(c)].plugged) continue;
    for (auto& info : ConnectionInterfaces(c)) out.push_back(std::move(info));
  }
  return out;
}

// ---- host traffic ----

int SimMouse::Write(Connection c, InterfaceKind kind, const uint8_t* data, size_t length) {
  if (c == Connection::kBle || kind != InterfaceKind::kReport || !data || length == 0 ||
      length > zentrix::kEnvelopeReportLength) {
    return -1;
  }
  std::vector<SimEvent> events;
  {
    std::lock_guard<std::mutex> lock(mu_);
    ConnectionState& s = state_.connections[Index(c)];
    if (!s.plugged) return -1;
    if (!s.linked) {
      ++s.lost;
      return int(length);
    }
    uint8_t report[zentrix::kEnvelopeReportLength] = {};
    std::memcpy(report, data, length);
    HandleCarried(c, envelopes_[Index(c)].Add(report, sizeof report), events);
  }
  Dispatch(events);
  return int(length);
}

bool SimMouse::SetFeature(Connection c, InterfaceKind kind, const uint8_t* data, size_t length) {
  if (c == Connection::kBle || kind != InterfaceKind::kFeature || !data || length == 0 ||
      length > zentrix::kFeatureReportLength) {
    return false;
  }
  std::vector<SimEvent> events;
  {
    std::lock_guard<std::mutex> lock(mu_);
    ConnectionState& s = state_.connections[Index(c)];
    if (!s.plugged) return false;
    if (!s.linked) {
      ++s.lost;
      return true;
    }
    uint8_t report[zentrix::kFeatureReportLength] = {};
    std::memcpy(report, data, length);
    HandleCarried(c, features_[Index(c)].Add(report, sizeof report), events);
  }
  Dispatch(events);
  return true;
}

int SimMouse::GetFeature(Connection c, InterfaceKind kind, uint8_t* data, size_t length) {
  if (c == Connection::kBle || kind != InterfaceKind::kFeature || !data || length == 0) return -1;
  std::lock_guard<std::mutex> lock(mu_);
  if (!Reachable(c)) return -1;
  const size_t n = std::min<size_t>(length, zentrix::kFeatureReportLength);
  const StatusBytes status = PowerStatus();
  std::memset(data + 1, 0, n - 1);
  std::memcpy(data + 1, status.data(), std::min(n - 1, status.size()));
  return int(n);
}

bool SimMouse::BleWrite(const uint8_t* data, size_t length) {
  if (!data || length == 0 || length > kMaxBleValue) return false;
  std::vector<SimEvent> events;
  {
    std::lock_guard<std::mutex> lock(mu_);
    ConnectionState& s = state_.connections[Index(Connection::kBle)];
    if (!s.plugged) return false;
    if (!s.linked) {
      ++s.lost;
      return true;
    }
    Decoded<Frame> frame = DecodeFrame(data, length);
    CarriageResult r;
    if (frame) {
      r.kind = CarriageResult::Kind::kFrame;
      r.frame = std::move(frame.value);
    } else {
      r.error = std::move(frame.error);
    }
    HandleCarried(Connection::kBle, r, events);
  }
  Dispatch(events);
  return true;
}

void SimMouse::HandleCarried(Connection c, const CarriageResult& r, std::vector<SimEvent>& out) {
  switch (r.kind) {
    case CarriageResult::Kind::kFrame:
      if (reject_frames_ > 0) {
        --reject_frames_;
        Reject(c, std::string("refused on purpose (") + FrameName(*r.frame) + " frame)", out);
      } else {
        Accept(c, *r.frame, out);
      }
      break;
    case CarriageResult::Kind::kRejected:
      Reject(c, r.error, out);
      break;
    case CarriageResult::Kind::kPartial:
    case CarriageResult::Kind::kMacroEnd:
      break;
  }
}

void SimMouse::Accept(Connection c, const Frame& frame, std::vector<SimEvent>& out) {
  MouseState& s = state_;
  ++s.connections[Index(c)].accepted;
  ++s.frame_counts[FrameName(frame)];
  bool stage_written = false;
  if (const auto* a = std::get_if<AttributeFrame>(&frame)) {
    s.lift_off = a->lift_off;
    s.ripple = a->ripple;
    s.stage_mask = a->stage_mask;
    s.angle_snap = a->angle_snap;
    s.motion_sync = a->motion_sync;
    for (size_t i = 0; i < kDpiStages; ++i) s.dpi_value[i] = uint32_t(a->dpi_code[i]) + 1;
    s.dpi_colors = a->colors;
    s.stage_index = int(a->stage) - 1;
    stage_written = true;
  } else if (const auto* l = std::get_if<LightingFrame>(&frame)) {
    s.light_effect = l->effect;
    s.effect_speed = 9 - int(l->speed_code);
    s.sleep_timer = l->sleep_timer;
    if (l->brightness) s.brightness = *l->brightness;
    s.light_color = l->color;
    s.light_off_timer = l->light_off_timer;
    s.key_debounce = l->key_debounce;
  } else if (const auto* p = std::get_if<PollingFrame>(&frame)) {
    s.polling = p->value;
  } else if (const auto* b = std::get_if<ButtonFrame>(&frame)) {
    s.buttons = b->slots;
  } else if (const auto* m = std::get_if<MacroFrame>(&frame)) {
    s.macro_frames[m->slot] = *m;
  } else {
    ++s.full_writes;
  }
  Answer(c, 0, out);
  if (stage_written) Broadcast({kStatusMarker, kStatusDpiStage, uint8_t(s.stage_index + 1), 0}, out);
}

void SimMouse::Reject(Connection c, const std::string& why, std::vector<SimEvent>& out) {
  ++state_.connections[Index(c)].rejected;
  state_.last_rejection = std::string(ConnectionName(c)) + ": " + why;
  Answer(c, 1, out);
}

void SimMouse::Answer(Connection c, uint8_t value, std::vector<SimEvent>& out) {
  if (drop_answers_ > 0) {
    --drop_answers_;
    return;
  }
  out.push_back(SimEvent{SimEvent::Kind::kStatus, c, {kStatusMarker, kStatusAck, value, 0}, answer_delay_ms_});
}

void SimMouse::Broadcast(const StatusBytes& status, std::vector<SimEvent>& out) const {
  for (Connection c : kAllConnections) {
    if (Reachable(c)) out.push_back(SimEvent{SimEvent::Kind::kStatus, c, status, 0});
  }
}

StatusBytes SimMouse::PowerStatus() const {
  return {kStatusMarker, kStatusPower, state_.PowerValue(), uint8_t(state_.battery)};
}

// ---- scripted behaviour ----

void SimMouse::PressDpiButton() {
  std::vector<SimEvent> events;
  {
    std::lock_guard<std::mutex> lock(mu_);
    MouseState& s = state_;
    const int from = (s.stage_index >= 0 && s.stage_index < int(kDpiStages)) ? s.stage_index : -1;
    for (int k = 1; k <= int(kDpiStages); ++k) {
      const int i = (from + k + int(kDpiStages)) % int(kDpiStages);
      if (s.stage_mask & (1u << i)) {
        s.stage_index = i;
        break;
      }
    }
    Broadcast({kStatusMarker, kStatusDpiStage, uint8_t(s.stage_index + 1), 0}, events);
  }
  Dispatch(events);
}

void SimMouse::SetBattery(int level) {
  std::vector<SimEvent> events;
  {
    std::lock_guard<std::mutex> lock(mu_);
    state_.battery = std::clamp(level, 0, 100);
    Broadcast(PowerStatus(), events);
  }
  Dispatch(events);
}

void SimMouse::SetCharging(bool charging) {
  std::vector<SimEvent> events;
  {
    std::lock_guard<std::mutex> lock(mu_);
    state_.charging = charging;
    Broadcast(PowerStatus(), events);
  }
  Dispatch(events);
}

void SimMouse::SendPowerStatus() {
  std::vector<SimEvent> events;
  {
    std::lock_guard<std::mutex> lock(mu_);
    Broadcast(PowerStatus(), events);
  }
  Dispatch(events);
}

void SimMouse::SendPowerStatus(Connection c) {
  std::vector<SimEvent> events;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (Reachable(c)) events.push_back(SimEvent{SimEvent::Kind::kStatus, c, PowerStatus(), 0});
  }
  Dispatch(events);
}

void SimMouse::DropAnswers(int count) {
  std::lock_guard<std::mutex> lock(mu_);
  drop_answers_ = std::max(count, 0);
}

void SimMouse::DelayAnswers(int ms) {
  std::lock_guard<std::mutex> lock(mu_);
  answer_delay_ms_ = std::max(ms, 0);
}

void SimMouse::RejectNextFrames(int count) {
  std::lock_guard<std::mutex> lock(mu_);
  reject_frames_ = std::max(count, 0);
}

MouseState SimMouse::State() const {
  std::lock_guard<std::mutex> lock(mu_);
  return state_;
}

std::string SimMouse::DumpJson() const {
  const MouseState s = State();
  Json j;
  j.Raw("{\n  \"connections\": {");
  for (Connection c : kAllConnections) {
    const ConnectionState& cs = s.connections[Index(c)];
    j.Raw(c == Connection::kCable ? "\n    " : ",\n    ");
    j.Key(ConnectionName(c));
    j.Raw("{\"plugged\": ");
    j.Bool(cs.plugged);
    j.Raw(", \"linked\": ");
    j.Bool(cs.linked);
    j.Raw(", \"accepted\": ");
    j.Num(cs.accepted);
    j.Raw(", \"rejected\": ");
    j.Num(cs.rejected);
    j.Raw(", \"lost\": ");
    j.Num(cs.lost);
    j.Raw("}");
  }
  j.Raw("\n  },\n  \"attribute\": {\"lift_off\": ");
  j.Num(s.lift_off);
  j.Raw(", \"ripple\": ");
  j.Num(s.ripple);
  j.Raw(", \"stage_mask\": ");
  j.Num(s.stage_mask);
  j.Raw(", \"angle_snap\": ");
  j.Num(s.angle_snap);
  j.Raw(", \"motion_sync\": ");
  j.Num(s.motion_sync);
  j.Raw(",\n    \"dpi_values\": ");
  j.List(s.dpi_value, [&](uint32_t v) { j.Num(v); });
  j.Raw(",\n    \"dpi_colors\": ");
  j.List(s.dpi_colors, [&](const Rgb& c) { j.Color(c); });
  j.Raw(",\n    \"stage_index\": ");
  j.Num(s.stage_index);
  j.Raw("},\n  \"lighting\": {\"effect\": ");
  j.Num(s.light_effect);
  j.Raw(", \"speed\": ");
  j.Num(s.effect_speed);
  j.Raw(", \"sleep_timer\": ");
  j.Num(s.sleep_timer);
  j.Raw(", \"brightness\": ");
  j.Num(s.brightness);
  j.Raw(", \"color\": ");
  j.Color(s.light_color);
  j.Raw(", \"light_off_timer\": ");
  j.Num(s.light_off_timer);
  j.Raw(", \"key_debounce\": ");
  j.Num(s.key_debounce);
  j.Raw("},\n  \"polling\": ");
  j.Num(s.polling);
  j.Raw(",\n  \"buttons\": ");
  j.List(s.buttons, [&](const std::array<uint8_t, 3>& b) { j.List(b, [&](uint8_t v) { j.Num(v); }); });
  j.Raw(",\n  \"macros\": [");
  bool first = true;
  for (const StoredMacro& m : s.Macros()) {
    j.Raw(first ? "\n    {\"slot\": " : ",\n    {\"slot\": ");
    first = false;
    j.Num(m.slot);
    j.Raw(", \"repeat_mode\": ");
    j.Num(m.repeat_mode);
    j.Raw(", \"reserved\": ");
    j.List(m.reserved, [&](uint8_t v) { j.Num(v); });
    j.Raw(", \"loop_count\": ");
    j.Num(m.loop_count);
    j.Raw(", \"frames\": ");
    j.Num(m.frames);
    j.Raw(", \"complete\": ");
    j.Bool(m.complete);
    j.Raw(",\n     \"items\": ");
    j.List(m.items, [&](const MacroItem& item) { ItemJson(j, item); });
    j.Raw("}");
  }
  j.Raw(first ? "],\n  \"frame_counts\": {" : "\n  ],\n  \"frame_counts\": {");
  static constexpr const char* kFrameNames[] = {"attribute", "lighting", "polling", "buttons", "macro", "full_write"};
  for (const char* name : kFrameNames) {
    if (name != kFrameNames[0]) j.Raw(", ");
    j.Key(name);
    auto it = s.frame_counts.find(name);
    j.Num(it == s.frame_counts.end() ? 0 : it->second);
  }
  j.Raw("},\n  \"full_writes\": ");
  j.Num(s.full_writes);
  j.Raw(",\n  \"power\": {\"battery\": ");
  j.Num(s.battery);
  j.Raw(", \"charging\": ");
  j.Bool(s.charging);
  j.Raw(", \"state\": ");
  j.Num(s.PowerValue());
  j.Raw("},\n  \"last_rejection\": ");
  j.Str(s.last_rejection);
  j.Raw("\n}\n");
  return std::move(j.out());
}

}  // namespace brevak::sim
