#pragma once
// The simulated mouse's reading of what the host sends: command frames, the envelopes of the
// high-rate receivers, and the 64-byte feature chunks of the cable and 1K receiver.
//
// Written from the frame tables alone and deliberately strict: a header byte, a checksum, a
// byte that must be zero or an item area that disagrees with its length byte rejects the
// whole frame with a reason, so a host that builds one byte wrong is caught here instead of
// being quietly accepted.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace brevak::sim {

inline constexpr uint8_t kCmdAttribute = 0x04;
inline constexpr uint8_t kCmdLighting = 0x05;
inline constexpr uint8_t kCmdPolling = 0x06;
inline constexpr uint8_t kCmdButtons = 0x08;
inline constexpr uint8_t kCmdMacro = 0x09;
inline constexpr uint8_t kCmdFullWrite = 0x0C;

inline constexpr size_t kAttributeLength = 56;
inline constexpr size_t kLightingLength = 15;
inline constexpr size_t kPollingLength = 9;
inline constexpr size_t kButtonsLength = 59;
inline constexpr size_t kMacroLength = 111;
inline constexpr size_t kFullWriteLength = 10;

inline constexpr size_t kButtonSlots = 18;
inline constexpr size_t kDpiStages = 8;
inline constexpr size_t kMacroItemBytes = 98;  // items per frame, not counting a continuation

// Carriage sizes: a feature report is 64 bytes (report id first), an envelope 65.
inline constexpr size_t kFeatureSize = 64;
inline constexpr size_t kEnvelopeSize = 65;
inline constexpr size_t kChunkPayload = 60;          // frame bytes in one feature chunk
inline constexpr size_t kEnvelopeChunk0Bytes = 59;   // macro frame bytes 0..58
inline constexpr size_t kEnvelopeChunk1Bytes = 52;   // macro frame bytes 59..110

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

struct AttributeFrame {
  uint8_t lift_off = 0;
  uint8_t ripple = 0;
  uint8_t stage_mask = 0;
  uint8_t angle_snap = 0;
  uint8_t motion_sync = 0;
  std::array<uint16_t, kDpiStages> dpi_code{};  // DPI − 1, as sent
  uint8_t stage = 0;                            // byte 24: stage index + 1
  std::array<Rgb, kDpiStages> colors{};
};

struct LightingFrame {
  uint8_t effect = 0;       // high nibble of byte 3
  uint8_t speed_code = 0;   // low nibble of byte 4: 9 − speed
  uint8_t sleep_timer = 0;  // high nibble of byte 4, then high nibble of byte 5
  std::optional<uint8_t> brightness;  // carried only by effects 1 and 5
  Rgb color;
  uint8_t light_off_timer = 0;
  uint8_t key_debounce = 0;
};

struct PollingFrame {
  uint8_t value = 0;  // high nibble: high-speed index + 1, low nibble: standard index + 1
};

struct ButtonFrame {
  std::array<std::array<uint8_t, 3>, kButtonSlots> slots{};
};

struct MacroItem {
  enum class Kind : uint8_t { kMove, kPress, kRelease, kLongDelay };
  Kind kind = Kind::kPress;
  uint8_t delay = 0;     // move, press, release: the pause byte (2..127)
  uint8_t code = 0;      // press, release
  int16_t x = 0, y = 0;  // move
  uint8_t hundreds = 0;  // long delay: the pause / 100
  bool operator==(const MacroItem&) const = default;
};

struct MacroFrame {
  uint8_t slot = 0;
  bool first = false;  // a macro's first frame carries the header (byte 7 is never 0 there)
  uint8_t repeat_mode = 0;
  std::array<uint8_t, 3> reserved{};
  uint8_t loop_count = 0;
  std::vector<MacroItem> items;  // without the continuation item
  bool continues = false;        // ends with [slot + 1][0xFE]
};

struct FullWriteFrame {};

using Frame =
    std::variant<AttributeFrame, LightingFrame, PollingFrame, ButtonFrame, MacroFrame, FullWriteFrame>;

// A value or the reason there is none.
template <typename T>
struct Decoded {
  std::optional<T> value;
  std::string error;
  explicit operator bool() const { return value.has_value(); }
  static Decoded Ok(T v) { return Decoded{std::move(v), {}}; }
  static Decoded Fail(std::string why) { return Decoded{std::nullopt, std::move(why)}; }
};

// One whole frame of exactly `length` bytes (its own length byte must agree).
Decoded<Frame> DecodeFrame(const uint8_t* data, size_t length);

// The command id of a frame, for counting and logs ("attribute", "macro", ...).
const char* FrameName(const Frame& frame);

// The 16-bit sum used by frames (from byte 3) and envelopes (from byte 0).
uint16_t Sum16(const uint8_t* data, size_t from, size_t to_exclusive);

// One 65-byte output report of the 4K/8K receivers: [0x04][len][chunk][bytes][sum hi, lo],
// zero padding after it.
struct Envelope {
  uint8_t chunk = 0;
  std::vector<uint8_t> bytes;
};
Decoded<Envelope> DecodeEnvelope(const uint8_t* report, size_t length);

// What one carried report amounts to once reassembly has seen it.
struct CarriageResult {
  enum class Kind {
    kFrame,     // a whole frame is complete
    kPartial,   // first half of a macro frame kept until its second half arrives
    kMacroEnd,  // the 1K receiver's closing chunk of a macro frame
    kRejected,
  };
  Kind kind = Kind::kRejected;
  std::optional<Frame> frame;  // kFrame
  std::string error;           // kRejected
};

// Feature reports of the cable and 1K receiver (64 bytes, padded by the host's HID call):
// a frame other than a macro frame whole and zero-padded; a macro frame as two chunks
// [0x09][0x40][slot][k] + 60 frame bytes from byte 3 + 60k; on the 1K receiver followed by
// [0x09][0x0C][slot][0x02] + zeros.
class FeatureAssembler {
 public:
  CarriageResult Add(const uint8_t* report, size_t length);

 private:
  std::optional<std::array<uint8_t, kFeatureSize>> chunk0_;
  std::optional<uint8_t> last_chunk_slot_;
};

// Output reports of the 4K and 8K receivers: one envelope per frame, or for a macro frame two
// envelopes with length bytes 0x40 and 0x39 carrying frame bytes 0..58 and 59..110.
class EnvelopeAssembler {
 public:
  CarriageResult Add(const uint8_t* report, size_t length);

 private:
  std::optional<std::vector<uint8_t>> head_;  // macro frame bytes 0..58
};

}  // namespace brevak::sim
