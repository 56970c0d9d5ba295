#include "protocol/transport.h"

namespace brevak {
namespace {

// Whether `t` may carry a frame now. A receiver counts only while the mouse answers through
// it: a receiver can be plugged in while the mouse is linked elsewhere or asleep.
bool Qualifies(const TransportFlags& flags, Transport t) {
  switch (t) {
    case Transport::kCable: return flags.wired_state.load() == kPresent;
    case Transport::kReceiver8k: return flags.rx8k_state.load() == kPresent && flags.rx8k_active.load() != 0;
    case Transport::kReceiver4k: return flags.rx4k_state.load() == kPresent && flags.rx4k_active.load() != 0;
    case Transport::kReceiver1k: return flags.rx1k_state.load() == kPresent && flags.rx1k_active.load() != 0;
    case Transport::kBle: return flags.ble_connected.load() != 0;
    case Transport::kNone: break;
  }
  return false;
}

// Fixed order of preference; the enum lists the connections in it.
constexpr Transport kOrder[] = {Transport::kCable, Transport::kReceiver8k, Transport::kReceiver4k,
                                Transport::kReceiver1k, Transport::kBle};

}  // namespace

Transport ChooseTransport(const TransportFlags& flags) { return ChooseTransportAfter(flags, Transport::kNone); }

Transport ChooseTransportAfter(const TransportFlags& flags, Transport after) {
  for (Transport t : kOrder) {
    if (static_cast<int>(t) <= static_cast<int>(after)) continue;
    if (Qualifies(flags, t)) return t;
  }
  return Transport::kNone;
}

bool ApplyAllowed(const TransportFlags& flags) {
  return flags.wired_state.load() == kPresent || flags.rx1k_active.load() != 0 || flags.rx4k_active.load() != 0 ||
         flags.rx8k_active.load() != 0 || flags.ble_connected.load() != 0;
}

}  // namespace brevak
