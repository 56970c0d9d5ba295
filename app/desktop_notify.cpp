#include "app/desktop_notify.h"

#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>
#include <cstdlib>
#include <string>

#include "platform/log.h"
#include "ui/dui_string.h"

namespace brevak {

namespace {
constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr char kInterface[] = "org.freedesktop.Notifications";
constexpr char kAppName[] = "BREVAK";
constexpr char kIconName[] = "brevak";  // the installed icon (packaging/)
constexpr int kServerDefaultTimeout = -1;
constexpr int kCallTimeoutMs = 5000;

// Without an address and without the user's bus socket, libdbus would autolaunch a bus of its
// own that outlives the program, and no desktop would listen on it.
bool SessionBusKnown() {
  if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) return true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime && *runtime && access((std::string(runtime) + "/bus").c_str(), F_OK) == 0;
}
}  // namespace

DesktopNotifier::DesktopNotifier() : answers_(std::make_unique<QObject>()) {}
DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::Unavailable(const QString& why) {
  if (said_unavailable_) return;
  said_unavailable_ = true;
  LogNote("notify", "no desktop notification: %s", why.toUtf8().constData());
}

void DesktopNotifier::Notify(const std::u16string& summary, const std::u16string& body, Urgency urgency) {
  if (!SessionBusKnown()) {
    Unavailable(QStringLiteral("no session bus"));
    return;
  }
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    Unavailable(bus.lastError().isValid() ? bus.lastError().message() : QStringLiteral("no session bus"));
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
  QVariantMap hints;
  hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(urgency)));
  hints.insert(QStringLiteral("category"), QStringLiteral("device"));
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("brevak"));
  call << QString::fromLatin1(kAppName) << uint(last_id_) << QString::fromLatin1(kIconName) << CDuiString(summary).q() << CDuiString(body).q()
       << QStringList() << hints << int(kServerDefaultTimeout);
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), answers_.get());
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, answers_.get(), [this](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    QDBusPendingReply<uint> reply = *w;
    if (reply.isError()) Unavailable(reply.error().message());
    else last_id_ = reply.value();
  });
}

}  // namespace brevak
