#pragma once
// Real mice through hidapi's hidraw backend. The Windows HID class shows each top-level
// collection as a device interface of its own; hidraw shows one node per device with every
// collection on it. So an interface here is "<node>#<collection index>", its usages and report
// lengths come from our parser over the node's report descriptor in sysfs, and an opened
// interface keeps only the input reports whose ids belong to its collection.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zentrix/hid_backend.h"
#include "zentrix/report_descriptor.h"

namespace zentrix {

// One hidraw node with the attributes hidapi reports for it.
struct HidrawNode {
  std::string devnode;  // "/dev/hidraw3"
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  uint16_t version_number = 0;  // the USB device's bcdDevice
};

std::string InterfacePath(const std::string& devnode, size_t collection);
// False unless `path` is "<devnode>#<decimal index>" with a devnode named hidrawN.
bool SplitInterfacePath(const std::string& path, std::string* devnode, size_t* collection);

// The node's descriptor from "<sysfs_root>/class/hidraw/<name>/device/report_descriptor";
// nullopt when it cannot be read or the devnode is not named hidrawN.
std::optional<std::vector<uint8_t>> ReadNodeDescriptor(const std::string& sysfs_root,
                                                       const std::string& devnode);

// One interface per top-level collection of each node, nodes in order. hidapi lists a node
// once per collection it finds, nested ones too: later entries of a node are dropped. Nodes
// whose descriptor is unreadable or malformed offer no interface.
std::vector<HidInterfaceInfo> InterfacesOfNodes(const std::vector<HidrawNode>& nodes,
                                                const std::string& sysfs_root);

std::unique_ptr<HidBackend> MakeHidrawBackend();
// Reads report descriptors below `sysfs_root` instead of /sys (tests).
std::unique_ptr<HidBackend> MakeHidrawBackend(std::string sysfs_root);

// One opened hidraw node, in hidapi's terms. Results as hidapi's calls give them.
class HidrawIo {
 public:
  virtual ~HidrawIo() = default;
  virtual int Read(uint8_t* data, size_t length, int timeout_ms) = 0;
  virtual int Write(const uint8_t* data, size_t length) = 0;
  virtual int SendFeature(const uint8_t* data, size_t length) = 0;
  virtual int GetFeature(uint8_t* data, size_t length) = 0;
  // A descriptor that is readable whenever a report may be waiting for Read, or -1 (Read is
  // then waited on in slices). DrainReady empties it: a report that comes after the drain
  // makes it readable again, so drain, look with Read(.., 0), then wait on it.
  virtual int ReadyFd() { return -1; }
  virtual void DrainReady() {}
};

// The interface on top of two handles of its node: `reader` is used only by the reading
// thread, `writer` by every other call, so that writes never wait behind a pending read.
std::unique_ptr<HidDevice> MakeHidrawDevice(HidInterfaceInfo info, const HidCollection& collection,
                                            bool numbered, std::unique_ptr<HidrawIo> reader,
                                            std::unique_ptr<HidrawIo> writer);

// How long one wait on the node lasts inside an unbounded Read when its handle offers no
// ReadyFd: the delay of a Cancel. With one, Read waits on it and on the Cancel together.
inline constexpr int kReadSliceMs = 20;

}  // namespace zentrix
