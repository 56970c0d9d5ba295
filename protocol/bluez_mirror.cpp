#include "protocol/bluez_mirror.h"

#include <algorithm>

#include "platform/text.h"

namespace brevak {
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

std::string ParentPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool Under(const std::string& path, const std::string& parent) {
  return path.size() > parent.size() + 1 && path.compare(0, parent.size(), parent) == 0 && path[parent.size()] == '/';
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

bool GattCharacteristic::Has(std::string_view flag) const {
  return std::find(flags.begin(), flags.end(), flag) != flags.end();
}

MouseNews BluezMirror::Add(const std::map<std::string, BluezInterfaces>& objects) {
  for (const auto& [path, interfaces] : objects) {
    if (path.empty()) continue;
    for (const auto& [name, props] : interfaces) {
      if (name == kBluezDevice) {
        Update(devices_[path], props);
      } else if (name == kBluezService) {
        services_[path] = props.uuid.value_or("");
      } else if (name == kBluezCharacteristic) {
        Characteristic& c = chars_[path];
        c.uuid = props.uuid.value_or("");
        c.service = props.service ? *props.service : ParentPath(path);
        c.flags = props.flags.value_or(std::vector<std::string>{});
      }
    }
  }
  return Reconcile(false);
}

MouseNews BluezMirror::Remove(const std::string& path, const std::vector<std::string>& interfaces) {
  bool mouse_removed = false;
  for (const std::string& name : interfaces) {
    if (name == kBluezDevice) {
      const auto it = devices_.find(path);
      if (it != devices_.end()) {
        mouse_removed = it->second.IsMouse();
        devices_.erase(it);
      }
    } else if (name == kBluezService) {
      services_.erase(path);
    } else if (name == kBluezCharacteristic) {
      chars_.erase(path);
    }
  }
  return Reconcile(mouse_removed);
}

MouseNews BluezMirror::Change(const std::string& path, std::string_view interface, const BluezProperties& changed,
                              const std::vector<std::string>& invalidated) {
  if (interface != kBluezDevice) return MouseNews::kNone;
  const auto it = devices_.find(path);
  if (it == devices_.end()) return MouseNews::kNone;  // a Device1 never announced is not followed
  Update(it->second, changed);
  for (const std::string& name : invalidated) {
    if (name == "Modalias") it->second.modalias.clear();
    if (name == "Connected") it->second.connected = false;
  }
  return Reconcile(false);
}

MouseNews BluezMirror::Forget() {
  devices_.clear();
  services_.clear();
  chars_.clear();
  if (mice_.empty()) return MouseNews::kNone;
  mice_.clear();
  return MouseNews::kGone;
}

void BluezMirror::Update(Device& d, const BluezProperties& props) {
  if (props.modalias) d.modalias = *props.modalias;
  if (props.paired) d.paired = *props.paired;
  if (props.connected) d.connected = *props.connected;
}

MouseNews BluezMirror::Reconcile(bool mouse_removed) {
  std::set<std::string> now;
  for (const auto& [path, d] : devices_)
    if (d.IsMouse() && d.paired && d.connected) now.insert(path);
  const bool arrived = std::any_of(now.begin(), now.end(), [&](const auto& p) { return !mice_.count(p); });
  const bool left = std::any_of(mice_.begin(), mice_.end(), [&](const auto& p) { return !now.count(p); });
  mice_ = std::move(now);
  if (arrived) return MouseNews::kArrived;
  if ((left || mouse_removed) && mice_.empty()) return MouseNews::kGone;
  return MouseNews::kNone;
}

std::vector<std::string> BluezMirror::ConnectedDevices(size_t max) const {
  std::vector<std::string> out;
  for (const bool mouse : {true, false}) {
    for (const auto& [path, d] : devices_) {
      if (!d.paired || !d.connected || d.IsMouse() != mouse) continue;
      if (out.size() == max) break;
      out.push_back(path);
    }
  }
  return out;
}

std::vector<GattCharacteristic> BluezMirror::MouseCharacteristics(const std::vector<std::string>& devices,
                                                                  std::string_view uuid) const {
  std::vector<GattCharacteristic> out;
  for (const auto& service : services_) {
    const std::string& service_path = service.first;
    const bool mouse_service = std::any_of(devices.begin(), devices.end(), [&](const std::string& key) {
      const auto d = devices_.find(key);
      return Under(service_path, key) && d != devices_.end() && d->second.IsMouse();
    });
    if (!mouse_service) continue;
    for (const auto& [path, c] : chars_)
      if (c.service == service_path && EqualsNoCase(c.uuid, uuid)) out.push_back({path, c.flags});
  }
  return out;
}

}  // namespace brevak
