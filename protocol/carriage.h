#pragma once
// Carries one command frame to the mouse over the first connection that qualifies: feature
// reports on the cable and the 1K receiver (macro frames in 64-byte chunks, the 1K path
// repeated until acknowledged), 65-byte envelopes on the 4K and 8K receivers, a whole
// characteristic value over Bluetooth LE. Every pause runs on the process clock. Called only
// from the apply worker.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "protocol/driver_binding.h"
#include "protocol/transport.h"

namespace brevak {

// The Bluetooth LE side, filled in by the Bluetooth transport. Returns the write's result
// (non-zero on success).
class BleFrameWriter {
 public:
  virtual ~BleFrameWriter() = default;
  virtual int WriteFrame(std::span<const uint8_t> frame) = 0;
};

// Pauses of the carriage, in milliseconds.
inline constexpr DWORD kChunkPauseMs = 200;
inline constexpr DWORD kWirelessRepeatPauseMs = 500;
inline constexpr DWORD kWirelessMacroChunkPauseMs = 1000;
inline constexpr DWORD kAfterFramePauseMs = 1000;
inline constexpr int kWirelessMaxAttempts = 10;

// The 4K/8K envelope of a frame (chunk 0 of a non-macro frame), zero-filled to 65 bytes.
std::array<uint8_t, 65> BuildEnvelope(std::span<const uint8_t> carried, uint8_t chunk_index);

class FrameCarriage {
 public:
  // `ack` is the acknowledgement flag: cleared here, set by the window thread on a status
  // report of type 0x50.
  FrameCarriage(const TransportFlags& flags, const BoundBuilds& builds, std::atomic<int32_t>& ack, BleFrameWriter* ble);

  // Sends `frame` (its byte 1 is its length) and waits the mandated pauses. Returns the
  // result of the last driver call on the cable, 1K and Bluetooth paths, 0 otherwise.
  int SendFrame(std::span<const uint8_t> frame);

  // How long sending `frame` now takes by the pauses of the connection it would go to: the
  // 1K receiver counted as acknowledging the first attempt. For the time left of an apply.
  DWORD ExpectedMs(std::span<const uint8_t> frame) const;

  // Which connection carried the last frame (kNone when none qualified).
  Transport last_transport() const { return last_transport_; }
  // Whether the last frame is known to have reached the mouse: every driver call of its path
  // succeeded and, on the 1K path, the mouse acknowledged it. False when nothing qualified.
  bool last_delivered() const { return last_delivered_; }

 private:
  const TransportFlags& flags_;
  const BoundBuilds& builds_;
  std::atomic<int32_t>& ack_;
  BleFrameWriter* ble_;
  Transport last_transport_ = Transport::kNone;
  bool last_delivered_ = false;
};

}  // namespace brevak
