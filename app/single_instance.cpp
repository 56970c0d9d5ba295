#include "app/single_instance.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <cerrno>
#include <cstring>

namespace brevak {

namespace {

// A running instance answers at once; one that is busy ending does not listen any more.
constexpr int kConnectMs = 500;
constexpr int kAnswerMs = 2000;
// How long one try for the lock waits before the first is asked again.
constexpr int kRetryMs = 250;

// Makes the per-user folder (mode 0700), or checks that the one there is the user's own and
// closed to others: another user could otherwise hold or replace our lock.
QString UsableFolder(const QString& dir, uid_t uid) {
  const QByteArray path = QFile::encodeName(dir);
  if (mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
    return QStringLiteral("cannot create %1: %2").arg(dir, QString::fromLocal8Bit(strerror(errno)));
  }
  struct stat st {};
  if (lstat(path.constData(), &st) != 0) {
    return QStringLiteral("cannot read %1: %2").arg(dir, QString::fromLocal8Bit(strerror(errno)));
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != uid || (st.st_mode & 077) != 0) {
    return QStringLiteral("%1 is not a private folder of this user").arg(dir);
  }
  return {};
}

}  // namespace

QString SingleInstance::LockFolder(const QString& runtime_dir, uid_t uid, const QString& temp) {
  if (!runtime_dir.isEmpty()) return runtime_dir;
  return temp + QStringLiteral("/brevak-") + QString::number(uid);
}

SingleInstance::SingleInstance(std::u16string_view name) {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  const uid_t uid = getuid();
  const QString folder = LockFolder(runtime, uid, QDir::tempPath());
  if (runtime.isEmpty()) {
    error_ = UsableFolder(folder, uid);
    if (!error_.isEmpty()) return;
  }
  const QString base = folder + QLatin1Char('/') + QString::fromUtf16(name.data(), qsizetype(name.size()));
  lock_path_ = base + QStringLiteral(".lock");
  socket_path_ = base + QStringLiteral(".socket");
  lock_ = std::make_unique<QLockFile>(lock_path_);
  lock_->setStaleLockTime(0);  // a crashed instance's lock is taken over (its pid is gone)
  if (lock_->tryLock(0)) {
    state_ = State::kFirst;
  } else if (lock_->error() == QLockFile::LockFailedError && lock_->getLockInfo(nullptr, nullptr, nullptr)) {
    state_ = State::kAnother;
  } else if (lock_->error() == QLockFile::LockFailedError) {
    // Held, says the lock, yet what is there names no holder (a folder, say): no instance runs.
    error_ = QStringLiteral("cannot create the lock %1 (something else is in its place)").arg(lock_path_);
  } else {
    error_ = QStringLiteral("cannot create the lock %1 (%2)")
                 .arg(lock_path_, lock_->error() == QLockFile::PermissionError ? QStringLiteral("permission denied")
                                                                               : QStringLiteral("unknown error"));
  }
}

SingleInstance::~SingleInstance() {
  server_.reset();
  if (state_ == State::kFirst) lock_->unlock();
}

void SingleInstance::ListenForOthers(HWND window, UINT message, std::function<void(LocalPeer*)> adopt) {
  if (state_ != State::kFirst) return;
  server_ = std::make_unique<LocalServer>();
  server_->on_connection = [window, message, adopt](LocalPeer* peer) {
    if (adopt) {
      adopt(peer);
      return;
    }
    // SendMessageW as the second start would: handled before this returns.
    ::SendMessageW(window, message, 0, 0);
    peer->Write("ok");
    peer->Close();
  };
  if (!server_->Listen(QFile::encodeName(socket_path_).toStdString())) server_.reset();
}

bool SingleInstance::TryTake(int timeout_ms) {
  if (state_ == State::kAnother && lock_->tryLock(timeout_ms)) state_ = State::kFirst;
  return state_ == State::kFirst;
}

bool SingleInstance::AskFirstToComeForward(UINT) {
  LocalClient client;
  if (!client.Connect(QFile::encodeName(socket_path_).toStdString(), kConnectMs)) return false;
  std::string answer;
  QElapsedTimer clock;
  clock.start();
  while (answer.size() < 2 && clock.elapsed() < kAnswerMs) {
    if (!client.Read(answer, int(kAnswerMs - clock.elapsed())) && client.closed()) break;
  }
  return answer.compare(0, 2, "ok") == 0;
}

SingleInstance::Wait SingleInstance::AskOrTakeOver(UINT message, int timeout_ms) {
  QElapsedTimer clock;
  clock.start();
  while (state_ == State::kAnother) {
    if (AskFirstToComeForward(message)) return Wait::kAnswered;
    if (TryTake(kRetryMs)) return Wait::kTookOver;
    if (clock.elapsed() >= timeout_ms) break;
  }
  return state_ == State::kFirst ? Wait::kTookOver : Wait::kTimedOut;
}

}  // namespace brevak
