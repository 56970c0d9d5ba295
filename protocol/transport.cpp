#include "protocol/transport.h"

namespace brevak {
namespace {

// Fixed order of preference; the enum lists the connections in it.
constexpr Transport kOrder[] = {Transport::kCable, Transport::kReceiver8k, Transport::kReceiver4k,
                                Transport::kReceiver1k, Transport::kBle};

bool Present(const TransportFlags& flags, Transport t) {
  if (t == Transport::kBle) return flags.ble_connected.load() != 0;
  const ConnectionFlagFields f = FlagFieldsOf(t);
  return f.state && (flags.*f.state).load() == kPresent;
}

// Whether `t` may carry a frame now. A receiver counts only while the mouse answers through
// it: a receiver can be plugged in while the mouse is linked elsewhere or asleep.
bool Qualifies(const TransportFlags& flags, Transport t) {
  const ConnectionFlagFields f = FlagFieldsOf(t);
  return Present(flags, t) && (!f.answering || (flags.*f.answering).load() != 0);
}

}  // namespace

Transport ChooseTransport(const TransportFlags& flags) { return ChooseTransportAfter(flags, Transport::kNone); }

Transport ChooseTransportAfter(const TransportFlags& flags, Transport after) {
  for (Transport t : kOrder) {
    if (static_cast<int>(t) <= static_cast<int>(after)) continue;
    if (Qualifies(flags, t)) return t;
  }
  return Transport::kNone;
}

bool AnyPresent(const TransportFlags& flags, Transport except) {
  for (Transport t : kOrder) {
    if (t != except && Present(flags, t)) return true;
  }
  return false;
}

// A receiver that is plugged in but silent does not answer, whatever its presence flag says.
bool AnyAnswering(const TransportFlags& flags, Transport except) {
  for (Transport t : kOrder) {
    if (t == except) continue;
    const ConnectionFlagFields f = FlagFieldsOf(t);
    if (f.answering ? (flags.*f.answering).load() != 0 : Present(flags, t)) return true;
  }
  return false;
}

bool ApplyAllowed(const TransportFlags& flags) { return AnyAnswering(flags); }

}  // namespace brevak
