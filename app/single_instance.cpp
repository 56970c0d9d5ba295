#include "app/single_instance.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

namespace brevak {

namespace {
QString RuntimeFolder() {
  QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (dir.isEmpty() || !QDir(dir).exists()) dir = QDir::tempPath();
  return dir;
}
}  // namespace

SingleInstance::SingleInstance(std::u16string_view name) {
  QString base = RuntimeFolder() + QLatin1Char('/') +
                 QString::fromUtf16(name.data(), qsizetype(name.size()));
  lock_path_ = base + QStringLiteral(".lock");
  socket_path_ = base + QStringLiteral(".socket");
  lock_ = std::make_unique<QLockFile>(lock_path_);
  lock_->setStaleLockTime(0);  // a crashed instance's lock is taken over (its pid is gone)
  first_ = lock_->tryLock(0);
}

SingleInstance::~SingleInstance() {
  server_.reset();
  if (first_) lock_->unlock();
}

void SingleInstance::ListenForOthers(HWND window, UINT message) {
  if (!first_) return;
  QLocalServer::removeServer(socket_path_);  // left over from a crashed instance
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(socket_path_)) return;
  QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this, window, message] {
    while (QLocalSocket* peer = server_->nextPendingConnection()) {
      // SendMessageW as the second start would: handled before this returns.
      ::SendMessageW(window, message, 0, 0);
      peer->write("ok", 2);
      peer->flush();
      peer->disconnectFromServer();
      peer->deleteLater();
    }
  });
}

bool SingleInstance::AskFirstToComeForward(UINT) {
  QLocalSocket socket;
  socket.connectToServer(socket_path_);
  if (!socket.waitForConnected(2000)) return false;
  socket.waitForReadyRead(5000);
  return true;
}

}  // namespace brevak
