#pragma once
// Which window the desktop has active: the window manager's _NET_ACTIVE_WINDOW on the root
// window, followed through PropertyNotify on a small X connection of our own (so it works
// whatever Qt's platform is), and the class of that window's program (WM_CLASS). Runs on the
// window thread, woken by Qt when the connection has something to read.

#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "page/profile_follower.h"

class QSocketNotifier;

namespace brevak {

class ActiveWindowWatcher : public QObject {
 public:
  // What the watcher can see, for the user.
  enum class Sight {
    kAll,              // an X11 window manager names the active window
    kX11Only,          // a Wayland desktop: only X11 programs' windows are seen
    kNoWindowManager,  // an X server, but no window manager that names the active window
    kNone,             // no X server
  };

  // `changed` hears each new active window, and the one active at the start.
  explicit ActiveWindowWatcher(std::function<void(const ActiveWindow&)> changed);
  ~ActiveWindowWatcher() override;

  Sight sight() const;
  // The classes of the programs whose windows the window manager lists now, without ours.
  std::vector<std::string> OpenClasses();

 private:
  struct X;
  void OnReadable();
  void ReadActive();

  std::unique_ptr<X> x_;
  std::function<void(const ActiveWindow&)> changed_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace brevak
