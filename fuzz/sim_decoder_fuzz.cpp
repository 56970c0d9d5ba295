// What a host writes to the simulated mouse: any bytes, as a frame, as feature reports, as
// envelopes and as Bluetooth LE writes. Nothing may crash, and whatever is accepted must be
// consistent with its own header and checksum.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sim/frame_decoder.h"
#include "sim/sim_mouse.h"

using namespace brevak::sim;
using zentrix::InterfaceKind;

namespace {

void CheckAccepted(const uint8_t* d, size_t n, const Frame& f) {
  if (n != d[1]) std::abort();
  const bool summed = d[0] != kCmdPolling && d[0] != kCmdFullWrite;
  if (summed) {
    const size_t at = d[0] == kCmdAttribute ? 50 : d[0] == kCmdLighting ? 11 : n - 2;
    if ((d[at] << 8 | d[at + 1]) != Sum16(d, 3, at)) std::abort();
  }
  if (const auto* m = std::get_if<MacroFrame>(&f)) {
    if (m->items.size() > kMacroItemBytes / 2 || m->slot != d[2]) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Decoded<Frame> whole = DecodeFrame(data, size);
  if (whole) CheckAccepted(data, size, *whole.value);
  if (!whole && whole.error.empty()) std::abort();

  // The same bytes cut into reports; the first byte picks the road.
  SimMouse mouse;
  for (Connection c : kAllConnections) mouse.Plug(c);
  const uint8_t road = size ? data[0] % 3 : 0;
  const size_t chunk = road == 0 ? 64 : road == 1 ? 65 : 111;
  int sent = 0;
  for (size_t at = size ? 1 : 0; at < size; at += chunk, ++sent) {
    const size_t n = std::min(chunk, size - at);
    if (road == 0) mouse.SetFeature(Connection::k1k, InterfaceKind::kFeature, data + at, n);
    if (road == 1) mouse.Write(Connection::k8k, InterfaceKind::kReport, data + at, n);
    if (road == 2) mouse.BleWrite(data + at, n);
  }
  const MouseState s = mouse.State();
  int counted = 0;
  for (const ConnectionState& c : s.connections) counted += c.accepted + c.rejected;
  if (counted > sent) std::abort();
  const std::string json = mouse.DumpJson();
  if (json.empty() || json.front() != '{') std::abort();
  return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
  const std::vector<uint8_t> lighting = {0x05, 0x0F, 0x01, 0x50, 0x03, 0xA8, 0x00, 0x00,
                                         0xFF, 0x02, 0x04, 0x02, 0x00, 0x00, 0x00};
  std::vector<uint8_t> macro(111, 0);
  const uint8_t head[] = {0x09, 0x6F, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x03, 0x0A, 0x04, 0x82, 0x04, 0x02, 0x03};
  std::memcpy(macro.data(), head, sizeof head);
  macro[110] = 0x9D;
  std::vector<uint8_t> envelope(66, 0);  // road byte, then the polling envelope
  const uint8_t env[] = {0x01, 0x04, 0x0E, 0x00, 0x06, 0x09, 0x01, 0x74, 0x8B, 0, 0, 0, 0, 0x01, 0x21};
  std::memcpy(envelope.data(), env, sizeof env);
  // Road 0: the macro frame as two feature chunks.
  std::vector<uint8_t> chunks(1 + 128, 0);
  for (int k = 0; k < 2; ++k) {
    uint8_t* c = chunks.data() + 1 + 64 * k;
    c[0] = 0x09, c[1] = 0x40, c[2] = 0x01, c[3] = uint8_t(k);
    for (int i = 0; i < 60 && 3 + 60 * k + i < 111; ++i) c[4 + i] = macro[3 + 60 * k + i];
  }
  std::vector<uint8_t> ble = {0x02};
  ble.insert(ble.end(), macro.begin(), macro.end());
  return {lighting, macro, envelope, chunks, ble};
}
