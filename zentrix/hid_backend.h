#pragma once
// The seam below zentrix's matching, monitor and readers: where HID interfaces come from.
// Three backends sit below it: hidapi/hidraw with a udev monitor for real mice, a client of
// the simulated mouse's socket (ZENTRIX_SIM), and an in-process simulated mouse that a test
// registers with RegisterHidBackend. Everything above it is the same code for all three.
//
// Header-only on purpose: the four zentrix builds and the simulated mouse's library each see
// the same abstract classes; objects cross library boundaries only through their vtables.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zentrix {

// One top-level HID collection, as the Windows HID class presents it as a device interface:
// its usages, the device's attributes and the report byte lengths (report id byte included,
// as HIDP_CAPS counts them; 0 when the collection has no report of that kind).
struct HidInterfaceInfo {
  std::string path;  // backend-specific, unique while the interface exists
  uint16_t usage_page = 0;
  uint16_t usage = 0;
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  uint16_t version_number = 0;
  uint16_t input_report_length = 0;
  uint16_t output_report_length = 0;
  uint16_t feature_report_length = 0;
};

// An opened interface. Write, SetFeature and GetFeature may be called from any thread; one
// thread at a time reads. Every call fails (never blocks for long, never crashes) once the
// device is gone.
class HidDevice {
 public:
  virtual ~HidDevice() = default;
  virtual const HidInterfaceInfo& info() const = 0;

  // Writes one output report, report id first. Returns the bytes written or -1.
  virtual int Write(const uint8_t* data, size_t length) = 0;

  // Reads the next input report of this interface (report id first) into `data`, at most
  // `capacity` bytes. Waits up to `timeout_ms` (-1: until a report arrives, the device goes
  // away or Cancel is called). Returns the bytes read, 0 on time-out, -1 on failure, removal
  // or cancellation.
  virtual int Read(uint8_t* data, size_t capacity, int timeout_ms) = 0;

  // Wakes a Read blocked on another thread; from then on every Read returns -1 at once.
  virtual void Cancel() = 0;

  // Feature reports, report id first. SetFeature pads a shorter buffer with zeros to the
  // interface's feature report length. GetFeature returns the bytes read or -1.
  virtual bool SetFeature(const uint8_t* data, size_t length) = 0;
  virtual int GetFeature(uint8_t* data, size_t length) = 0;
};

struct HotplugEvent {
  enum Kind { kArrival, kRemoval } kind;
  std::string path;  // the interface's path, as Enumerate reports it
};

class HidBackend {
 public:
  virtual ~HidBackend() = default;

  // Every present interface.
  virtual std::vector<HidInterfaceInfo> Enumerate() = 0;

  // Opens one interface by the path Enumerate or a hotplug event gave; null when it is gone
  // or cannot be opened.
  virtual std::unique_ptr<HidDevice> Open(const std::string& path) = 0;

  // Starts reporting interface arrivals and removals to `sink`, from a thread of the backend
  // or from the thread that causes them (the in-process simulated mouse). One sink at a time;
  // false when monitoring cannot start.
  virtual bool StartHotplug(std::function<void(const HotplugEvent&)> sink) = 0;

  // After it returns the sink is never called again.
  virtual void StopHotplug() = 0;

  // What the zentrix builds call. A backend that several builds share in one process (the
  // in-process simulated mouse) keeps one sink per build; the others have one. Returns a
  // non-zero id for RemoveHotplugSink, 0 when monitoring cannot start.
  virtual int AddHotplugSink(std::function<void(const HotplugEvent&)> sink) {
    return StartHotplug(std::move(sink)) ? 1 : 0;
  }
  virtual void RemoveHotplugSink(int /*id*/) { StopHotplug(); }
};

// Name under which a test registers an in-process backend with brevak::SetProcessObject;
// every zentrix build loaded afterwards in that process uses it.
inline constexpr char kHidBackendObjectName[] = "zentrix.hid_backend";

}  // namespace zentrix
