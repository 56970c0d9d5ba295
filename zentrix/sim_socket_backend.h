#pragma once
// The HID seam served by brevak-mousesim over its Unix socket (ZENTRIX_SIM names the path).
//
// The backend's connection carries the interface list and hotplug events: one receive thread
// reads it and hands hotplug events to a dispatch thread that calls the sink (so a sink may
// call Open without waiting on itself). Each opened interface has a connection of its own,
// with no thread: whichever of its callers is waiting (the reader in Read, a call for its reply)
// reads it for all of them, so an input report wakes only the thread that reads the device.
// Calls wait in real time only, inside a brevak::ExternalWaitScope. When the mouse goes away
// every device fails, blocked reads return -1, and the sink sees a removal for every interface
// it knew; the backend then keeps knocking (every 500 ms, and on Enumerate or Open), and when
// the mouse answers again its interfaces arrive. So a program started before brevak-mousesim
// finds it once it runs.

#include <memory>
#include <string>

#include "zentrix/hid_backend.h"

namespace zentrix {

// Never null: when nothing answers at `socket_path` yet, the backend shows no interfaces until
// something does.
std::unique_ptr<HidBackend> MakeSimSocketBackend(const std::string& socket_path);

}  // namespace zentrix
