#pragma once
// What BlueZ holds, as far as the Bluetooth transport needs it: the Device1 objects and the GATT
// services and characteristics, kept from "objects added / removed / properties changed" as
// the bus reports them. It answers which device is the mouse and which of its characteristics
// carry a given UUID, and tells when the mouse arrived or went away. No bus here: the transport
// decodes the messages and feeds this plain class.
//
// The mouse is the paired, connected Device1 whose Modalias carries vendor 0x045E and product
// 0x0059 from the USB id space. A GATT service is the mouse's when its path lies under a device
// that is the mouse.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "zentrix/hid_interfaces.h"

namespace brevak {

inline constexpr uint16_t kBleVendorId = zentrix::kBleVendorId;
inline constexpr uint16_t kBleProductId = zentrix::kBleProductId;

inline constexpr char kBluezDevice[] = "org.bluez.Device1";
inline constexpr char kBluezService[] = "org.bluez.GattService1";
inline constexpr char kBluezCharacteristic[] = "org.bluez.GattCharacteristic1";

// A Modalias as BlueZ gives it: "usb:v045Ep0059d0001" (source, vendor, product, version).
struct Modalias {
  std::string source;  // "usb", "bluetooth"
  uint16_t vendor = 0;
  uint16_t product = 0;
  uint16_t version = 0;
};
std::optional<Modalias> ParseModalias(std::string_view text);
// The mouse's identity: USB id space, vendor 0x045E, product 0x0059.
bool IsMouseModalias(std::string_view text);

// The properties followed, of whichever interface carried them; one a message did not carry
// (or carried with another type) is empty.
struct BluezProperties {
  std::optional<std::string> modalias{};            // Device1 "Modalias"
  std::optional<bool> paired{};                     // Device1 "Paired"
  std::optional<bool> connected{};                  // Device1 "Connected"
  std::optional<std::string> uuid{};                // GattService1, GattCharacteristic1 "UUID"
  std::optional<std::string> service{};             // GattCharacteristic1 "Service" (object path)
  std::optional<std::vector<std::string>> flags{};  // GattCharacteristic1 "Flags"
};
// An object's interfaces by name, with their properties.
using BluezInterfaces = std::map<std::string, BluezProperties>;

// What a change did to the mouse's presence.
enum class MouseNews { kNone, kArrived, kGone };

struct GattCharacteristic {
  std::string path;
  std::vector<std::string> flags;
  bool Has(std::string_view flag) const;
};

class BluezMirror {
 public:
  // Objects announced, with the interfaces followed (others are ignored): everything at
  // start (GetManagedObjects) or one object (InterfacesAdded).
  MouseNews Add(const std::map<std::string, BluezInterfaces>& objects);
  MouseNews Remove(const std::string& path, const std::vector<std::string>& interfaces);
  // Changes of a Device1 already known; those of other objects are not followed.
  MouseNews Change(const std::string& path, std::string_view interface, const BluezProperties& changed,
                   const std::vector<std::string>& invalidated);
  // BlueZ or the bus went away: nothing of it is known any more.
  MouseNews Forget();

  // Paired, connected devices, the mouse first, at most `max`: when more are connected than
  // that, the ones left out are never the mouse.
  std::vector<std::string> ConnectedDevices(size_t max) const;
  // The characteristics with `uuid` (in any case) of the services under those of `devices`
  // that are the mouse, in the order of the services' paths, then their own.
  std::vector<GattCharacteristic> MouseCharacteristics(const std::vector<std::string>& devices,
                                                       std::string_view uuid) const;

 private:
  struct Device {
    std::string modalias;
    bool paired = false;
    bool connected = false;
    bool IsMouse() const { return IsMouseModalias(modalias); }
  };
  struct Characteristic {
    std::string service;  // its Service property, else the parent path
    std::string uuid;
    std::vector<std::string> flags;
  };

  static void Update(Device& d, const BluezProperties& props);
  // The mouse's arrival when a paired, connected device with its identity appears; its
  // removal when none is left after one went away (or `mouse_removed` says one was removed).
  MouseNews Reconcile(bool mouse_removed);

  std::map<std::string, Device> devices_;
  std::map<std::string, std::string> services_;  // path -> UUID
  std::map<std::string, Characteristic> chars_;
  std::set<std::string> mice_;  // paired, connected devices with the mouse's identity
};

}  // namespace brevak
