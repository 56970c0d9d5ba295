#pragma once
// The five ways to the mouse and the flags that say which of them exist and answer. The page
// owns the flags; the window thread writes them, the apply worker reads them, so each is atomic.

#include <atomic>
#include <cstdint>

namespace brevak {

enum class Transport { kNone, kCable, kReceiver8k, kReceiver4k, kReceiver1k, kBle };

// Values of the *_state flags.
inline constexpr int32_t kNeverOpened = 0;
inline constexpr int32_t kPresent = 1;
inline constexpr int32_t kRemoved = 2;

struct TransportFlags {
  std::atomic<int32_t> wired_state{kNeverOpened};
  std::atomic<int32_t> rx1k_state{kNeverOpened};
  std::atomic<int32_t> rx4k_state{kNeverOpened};
  std::atomic<int32_t> rx8k_state{kNeverOpened};
  std::atomic<int32_t> rx1k_active{0};
  std::atomic<int32_t> rx4k_active{0};
  std::atomic<int32_t> rx8k_active{0};
  std::atomic<int32_t> ble_connected{0};
  std::atomic<int32_t> any_connected{0};
  std::atomic<int32_t> mouse_silent{0};
};

// The presence flag (never opened / present / removed) and the answering flag of a cable or
// receiver connection, as members of TransportFlags. The cable has no answering flag: it answers
// whenever it is present. Bluetooth has `ble_connected` alone.
struct ConnectionFlagFields {
  std::atomic<int32_t> TransportFlags::*state;
  std::atomic<int32_t> TransportFlags::*answering;  // null for the cable
};
constexpr ConnectionFlagFields FlagFieldsOf(Transport t) {
  switch (t) {
    case Transport::kCable: return {&TransportFlags::wired_state, nullptr};
    case Transport::kReceiver1k: return {&TransportFlags::rx1k_state, &TransportFlags::rx1k_active};
    case Transport::kReceiver4k: return {&TransportFlags::rx4k_state, &TransportFlags::rx4k_active};
    case Transport::kReceiver8k: return {&TransportFlags::rx8k_state, &TransportFlags::rx8k_active};
    case Transport::kBle:
    case Transport::kNone: break;
  }
  return {nullptr, nullptr};
}

// Whether some connection other than `except` is present: the cable or a receiver plugged in,
// or Bluetooth connected.
bool AnyPresent(const TransportFlags& flags, Transport except = Transport::kNone);
// Whether the mouse answers through some connection other than `except`: the cable present, a
// receiver answering, or Bluetooth connected.
bool AnyAnswering(const TransportFlags& flags, Transport except = Transport::kNone);

// The connection that carries the next frame, in the fixed order: cable, 8K, 4K, 1K
// (a receiver only while the mouse answers through it), Bluetooth LE.
Transport ChooseTransport(const TransportFlags& flags);
// The same order, but only from `after` on (a failed cable macro frame is offered onward).
Transport ChooseTransportAfter(const TransportFlags& flags, Transport after);

// An apply runs only when the cable is present, a receiver answers or Bluetooth is connected.
bool ApplyAllowed(const TransportFlags& flags);

}  // namespace brevak
