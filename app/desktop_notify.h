#pragma once
// Desktop notifications through the freedesktop notification service
// (org.freedesktop.Notifications on the session bus). Sending never blocks and never fails the
// caller: without a session bus or a service the notice is dropped, and that is logged once.
// Each notification replaces the previous one of this sender, so the desktop keeps one.

#include <QObject>

#include <cstdint>
#include <memory>
#include <string>

namespace brevak {

class DesktopNotifier {
 public:
  enum class Urgency : uint8_t { kLow = 0, kNormal = 1, kCritical = 2 };  // the service's values

  DesktopNotifier();
  ~DesktopNotifier();
  DesktopNotifier(const DesktopNotifier&) = delete;
  DesktopNotifier& operator=(const DesktopNotifier&) = delete;

  // On the Qt loop's thread; the service's answer comes on that loop.
  void Notify(const std::u16string& summary, const std::u16string& body, Urgency urgency);

 private:
  void Unavailable(const QString& why);

  // Parent of the pending answers: they end with the notifier.
  std::unique_ptr<QObject> answers_;
  uint32_t last_id_ = 0;
  bool said_unavailable_ = false;
};

}  // namespace brevak
