// The process's active layout. The UI toolkit's X connection is its own, so the server's keymap
// is read on a short connection of ours. A caller that asks for it again (a key field opens, a
// key arrives, the captions are refreshed) only marks it stale: it is read when a key is next
// named, so a page whose buttons name no key never pays the round trips.
#include <xcb/xcb.h>

#include <cstdlib>
#include <mutex>

#include "platform/keyboard/keyboard_layout.h"

namespace brevak {
namespace {

std::mutex g_lock;
std::optional<KeyboardLayout> g_active;  // under g_lock
bool g_stale = true;                     // under g_lock: read again before the next use
bool g_pinned = false;                   // under g_lock

KeyboardLayout ReadLayout() {
  const char* display = std::getenv("DISPLAY");
  if (display && *display) {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    std::optional<KeyboardLayout> layout;
    if (!xcb_connection_has_error(connection)) layout = KeyboardLayout::FromServer(connection);
    xcb_disconnect(connection);  // also for a failed connection, which xcb_connect still allocates
    if (layout) return *layout;
  }
  if (auto layout = KeyboardLayout::FromEnvironment()) return *layout;
  return KeyboardLayout();
}

}  // namespace

KeyboardLayout ActiveLayout() {
  std::lock_guard guard(g_lock);
  if (!g_active || (g_stale && !g_pinned)) g_active = ReadLayout();
  g_stale = false;
  return *g_active;
}

void RefreshActiveLayout() {
  std::lock_guard guard(g_lock);
  g_stale = true;
}

void PinActiveLayout(std::optional<KeyboardLayout> layout) {
  std::lock_guard guard(g_lock);
  g_pinned = layout.has_value();
  g_active = std::move(layout);
  g_stale = !g_pinned;
}

}  // namespace brevak
