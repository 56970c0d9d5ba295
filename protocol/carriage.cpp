#include "protocol/carriage.h"

#include <algorithm>
#include <vector>

#include "platform/log.h"
#include "protocol/frames.h"

namespace brevak {
namespace {

constexpr size_t kFeatureChunkSize = 64;
constexpr size_t kFeatureChunkPayload = 60;  // frame bytes from byte 3 onward
constexpr uint8_t kChunkLengthFull = 0x40;
constexpr uint8_t kChunkLengthClosing = 0x0C;  // the 1K receiver's third, empty chunk
constexpr size_t kEnvelopeHeader = 3;
constexpr size_t kEnvelopeMaxCarried = 65 - kEnvelopeHeader - 2;
constexpr size_t kEnvelopeHeadBytes = 59;  // a macro frame's bytes 0..58 go in chunk 0

using FeatureChunk = std::array<uint8_t, kFeatureChunkSize>;

// What one path did with a frame.
struct PathResult {
  int result = 0;          // of the last driver call
  bool delivered = false;  // every call of the (last) attempt succeeded, and on 1K the ack came
};

// A driver call through a build that may be unbound fails like a call to a missing device.
int Call(zentrix::BufferFn fn, uint8_t* data, size_t length) { return fn ? fn(data, int(length)) : 0; }

// Chunk k of a macro frame as a feature report: [0x09][0x40][slot][k] + 60 frame bytes from
// byte 3 + 60k, zeros past the frame's end.
FeatureChunk MacroFeatureChunk(std::span<const uint8_t> frame, uint8_t k) {
  FeatureChunk chunk{};
  chunk[0] = kCmdMacro;
  chunk[1] = kChunkLengthFull;
  chunk[2] = frame[2];
  chunk[3] = k;
  const size_t from = 3 + kFeatureChunkPayload * k;
  for (size_t i = 0; i < kFeatureChunkPayload && from + i < frame.size(); ++i) chunk[4 + i] = frame[from + i];
  return chunk;
}

// The closing chunk tells the 1K receiver that the macro frame is complete.
FeatureChunk MacroClosingChunk(std::span<const uint8_t> frame) {
  FeatureChunk chunk{};
  chunk[0] = kCmdMacro;
  chunk[1] = kChunkLengthClosing;
  chunk[2] = frame[2];
  chunk[3] = 2;
  return chunk;
}

// Cable. `result` is the second chunk's for a macro frame, which decides whether the frame
// goes on to another connection.
PathResult SendCable(const BoundBuild& build, std::span<const uint8_t> frame, bool macro) {
  PathResult r;
  if (!macro) {
    std::vector<uint8_t> bytes(frame.begin(), frame.end());
    r.result = Call(build.SetFeature, bytes.data(), bytes.size());
    r.delivered = r.result != 0;
    return r;
  }
  r.delivered = true;
  for (uint8_t k = 0; k < 2; ++k) {
    FeatureChunk chunk = MacroFeatureChunk(frame, k);
    r.result = Call(build.SetFeature, chunk.data(), chunk.size());
    r.delivered = r.delivered && r.result != 0;
    if (r.result != 0) Sleep(kChunkPauseMs);
  }
  return r;
}

// 4K and 8K receivers: envelopes written as output reports. Nothing comes back to check and
// the path reports no result (0).
PathResult SendEnvelopes(const BoundBuild& build, std::span<const uint8_t> frame, bool macro) {
  PathResult r;
  if (!macro) {
    auto envelope = BuildEnvelope(frame, 0);
    r.delivered = Call(build.WriteUSB, envelope.data(), envelope.size()) != 0;
    return r;
  }
  std::array<uint8_t, kMacroFrameLength> whole{};
  std::copy_n(frame.begin(), std::min(frame.size(), whole.size()), whole.begin());
  auto head = BuildEnvelope(std::span(whole).first(kEnvelopeHeadBytes), 0);
  r.delivered = Call(build.WriteUSB, head.data(), head.size()) != 0;
  Sleep(kChunkPauseMs);

  auto tail = BuildEnvelope(std::span(whole).subspan(kEnvelopeHeadBytes), 1);
  unsigned sum = 0;
  for (size_t i = 0; i + 2 < tail[1]; ++i) {
    sum = (sum + tail[i]) & 0xFFFF;
    LogTrace("wCheckSum = %x, buffer[%d] = %d", sum, int(i), tail[i]);
  }
  r.delivered = Call(build.WriteUSB, tail.data(), tail.size()) != 0 && r.delivered;
  Sleep(kChunkPauseMs);
  return r;
}

// 1K receiver: repeated until the mouse acknowledges, at most kWirelessMaxAttempts times.
PathResult Send1k(const BoundBuild& build, std::span<const uint8_t> frame, bool macro,
                  std::atomic<int32_t>& ack) {
  PathResult r;
  bool attempt_sent = false;
  ack.store(0);
  if (!macro) {
    std::vector<uint8_t> bytes(frame.begin(), frame.end());
    int attempts = 0;
    do {
      r.result = Call(build.SetFeature, bytes.data(), bytes.size());
      attempt_sent = r.result != 0;
      LogTrace("Wireless Send = %d", r.result);
      Sleep(kWirelessRepeatPauseMs);
    } while (ack.load() == 0 && ++attempts < kWirelessMaxAttempts);
  } else {
    for (int attempts = 0; ack.load() == 0 && attempts < kWirelessMaxAttempts; ++attempts) {
      attempt_sent = true;
      FeatureChunk chunks[3] = {MacroFeatureChunk(frame, 0), MacroFeatureChunk(frame, 1), MacroClosingChunk(frame)};
      for (FeatureChunk& chunk : chunks) {
        r.result = Call(build.SetFeature, chunk.data(), chunk.size());
        attempt_sent = attempt_sent && r.result != 0;
        Sleep(kWirelessMacroChunkPauseMs);
      }
    }
  }
  r.delivered = attempt_sent && ack.load() != 0;
  return r;
}

}  // namespace

std::array<uint8_t, 65> BuildEnvelope(std::span<const uint8_t> carried, uint8_t chunk_index) {
  std::array<uint8_t, 65> e{};
  const size_t n = std::min(carried.size(), kEnvelopeMaxCarried);
  e[0] = 0x04;
  e[1] = uint8_t(n + 5);
  e[2] = chunk_index;
  std::copy_n(carried.begin(), n, e.begin() + kEnvelopeHeader);
  unsigned sum = 0;
  for (size_t i = 0; i < kEnvelopeHeader + n; ++i) sum += e[i];
  e[kEnvelopeHeader + n] = uint8_t(sum >> 8);
  e[kEnvelopeHeader + n + 1] = uint8_t(sum);
  return e;
}

FrameCarriage::FrameCarriage(const TransportFlags& flags, const BoundBuilds& builds, std::atomic<int32_t>& ack,
                             BleFrameWriter* ble)
    : flags_(flags), builds_(builds), ack_(ack), ble_(ble) {}

DWORD FrameCarriage::ExpectedMs(std::span<const uint8_t> frame) const {
  const bool macro = frame.size() > 2 && frame[0] == kCmdMacro;
  DWORD path = 0;
  switch (frame.empty() ? Transport::kNone : ChooseTransport(flags_)) {
    case Transport::kCable:
    case Transport::kReceiver8k:
    case Transport::kReceiver4k: path = macro ? 2 * kChunkPauseMs : 0; break;
    case Transport::kReceiver1k: path = macro ? 3 * kWirelessMacroChunkPauseMs : kWirelessRepeatPauseMs; break;
    case Transport::kBle:
    case Transport::kNone: break;
  }
  return path + kAfterFramePauseMs;
}

int FrameCarriage::SendFrame(std::span<const uint8_t> frame) {
  // A macro frame always has its slot at byte 2; anything shorter is not a frame.
  const bool macro = frame.size() > 2 && frame[0] == kCmdMacro;
  PathResult r;
  Transport t = frame.empty() ? Transport::kNone : ChooseTransport(flags_);
  if (t == Transport::kCable) {
    r = SendCable(builds_[BuildIndexOf(t)], frame, macro);
    // A macro frame whose second chunk failed (the cable went away mid-frame) is offered to
    // the next connection that qualifies; any other frame is lost with the failed call.
    if (macro && r.result == 0) {
      const Transport next = ChooseTransportAfter(flags_, Transport::kCable);
      if (next != Transport::kNone) t = next;
    }
  }
  switch (t) {
    case Transport::kReceiver8k:
    case Transport::kReceiver4k:
      r = SendEnvelopes(builds_[BuildIndexOf(t)], frame, macro);
      break;
    case Transport::kReceiver1k:
      r = Send1k(builds_[BuildIndexOf(t)], frame, macro, ack_);
      break;
    case Transport::kBle:
      r = PathResult{};
      // The polling rate is not a setting of the mouse over Bluetooth.
      if (frame[0] != kCmdPolling && ble_) {
        r.result = ble_->WriteFrame(frame);
        r.delivered = r.result != 0;
      }
      break;
    case Transport::kCable:  // sent above
    case Transport::kNone: break;
  }
  last_transport_ = t;
  last_delivered_ = r.delivered;
  Sleep(kAfterFramePauseMs);
  return r.result;
}

}  // namespace brevak
