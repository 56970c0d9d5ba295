#pragma once
// The X side of the Hook library: one connection that receives every key and mouse button
// transition of the server (XInput 2.2 raw events on the root window, for the master devices
// only, so a transition arrives once), read by a thread of its own.

#include <sys/types.h>

#include <atomic>
#include <memory>
#include <thread>

#include "hook/input_map.h"
#include "platform/keyboard/keyboard_layout.h"

typedef struct _XDisplay Display;
union _XEvent;

namespace hook {

class RawInputCapture {
 public:
  // Called on the capture thread for each transition that has a message.
  using Sink = void (*)(const HookInput&);

  // Null when DISPLAY names no reachable X server or it lacks XInput 2.2. Events are selected
  // before this returns, so input that follows is seen.
  static std::unique_ptr<RawInputCapture> Start(Sink sink);
  // Stops and joins the thread, then closes the connection: the sink is not called again.
  ~RawInputCapture();
  RawInputCapture(const RawInputCapture&) = delete;
  RawInputCapture& operator=(const RawInputCapture&) = delete;

  // False once the connection to the server was lost; the thread has ended then.
  bool running() const { return !ended_.load(); }

 private:
  explicit RawInputCapture(Sink sink) : sink_(sink) {}
  bool Connect();
  void Run();
  void Handle(_XEvent& event);
  // The server's keymap, read when capture starts and again when the server says it changed.
  void ReadLayout();
  UINT VirtualKey(int keycode);
  static void OnConnectionLost(Display*, void* self);

  Sink sink_;
  Display* display_ = nullptr;  // closed by the thread when it finds it broken
  int xi_opcode_ = 0;
  int xkb_event_ = -1;  // XKB's event code; -1 without XKB
  brevak::KeyboardLayout layout_;  // the capture thread's, after Connect
  int stop_fd_ = -1;  // eventfd: written once to end the thread
  bool handler_installed_ = false;
  std::atomic<bool> lost_{false};
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

}  // namespace hook
