#include "app/local_socket.h"

#include <fcntl.h>
#include <sys/time.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

namespace brevak {

namespace {

// Connections waiting to be accepted; a second start and a few clients at most.
constexpr int kBacklog = 16;
constexpr size_t kReadChunk = 4096;
// Out of descriptors: the listening socket stays readable, so accepting waits this long before
// it tries again instead of spinning.
constexpr int kAcceptPauseMs = 200;

bool FillAddress(const std::string& path, sockaddr_un& addr) {
  addr = {};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

int Remaining(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? int(left.count()) : 0;
}

}  // namespace

// ---- LocalPeer --------------------------------------------------------------------------------

LocalPeer::LocalPeer(int fd, QObject* parent) : QObject(parent), fd_(fd) {
  read_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
  QObject::connect(read_.get(), &QSocketNotifier::activated, this, [this] { OnReadable(); });
  write_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Write);
  write_->setEnabled(false);
  QObject::connect(write_.get(), &QSocketNotifier::activated, this, [this] { Flush(); });
}

LocalPeer::~LocalPeer() {
  read_.reset();
  write_.reset();
  if (fd_ >= 0) ::close(fd_);
}

std::string LocalPeer::ReadAll() { return std::exchange(in_, {}); }

void LocalPeer::Write(std::string_view bytes) {
  if (fd_ < 0 || closing_) return;
  out_.append(bytes);
  Flush();
}

void LocalPeer::Close() {
  if (fd_ < 0) return;
  closing_ = true;
  if (out_.empty()) Drop();
}

void LocalPeer::OnReadable() {
  if (fd_ < 0 || other_done_) return;
  char buf[kReadChunk];
  bool got = false;
  for (;;) {
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n > 0) {
      // After Close nothing more is read; what comes is dropped.
      if (!closing_) in_.append(buf, size_t(n));
      got = true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n < 0) {
      Drop();  // the connection failed
      return;
    }
    // The other side sends no more; it may still wait for the answer (a half-close), which
    // goes out before the connection ends.
    other_done_ = true;
    read_->setEnabled(false);
    break;
  }
  if (got && on_readable && !closing_) on_readable();
  if (other_done_ && closing_ && out_.empty()) Drop();
}

void LocalPeer::Flush() {
  while (fd_ >= 0 && !out_.empty()) {
    const ssize_t n = ::send(fd_, out_.data(), out_.size(), MSG_NOSIGNAL);
    if (n > 0) {
      out_.erase(0, size_t(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      write_->setEnabled(true);
      return;
    }
    Drop();  // the reader has gone: nothing more can be said
    return;
  }
  if (write_) write_->setEnabled(false);
  if (closing_) Drop();
}

void LocalPeer::Drop() {
  if (fd_ < 0) return;
  read_->setEnabled(false);
  write_->setEnabled(false);
  ::shutdown(fd_, SHUT_RDWR);
  ::close(fd_);
  fd_ = -1;
  out_.clear();
  deleteLater();
}

// ---- LocalServer ------------------------------------------------------------------------------

LocalServer::LocalServer() : peers_(std::make_unique<QObject>()) {}

LocalServer::~LocalServer() {
  notifier_.reset();
  if (fd_ >= 0) {
    ::close(fd_);
    ::unlink(path_.c_str());
  }
}

bool LocalServer::Listen(const std::string& path) {
  sockaddr_un addr;
  if (fd_ >= 0 || !FillAddress(path, addr)) return false;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  // Only a socket may be replaced: the lock says no instance listens there any more.
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) ::unlink(path.c_str());
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 || ::chmod(path.c_str(), 0600) != 0 ||
      ::listen(fd, kBacklog) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  path_ = path;
  notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, peers_.get(), [this] { Accept(); });
  return true;
}

void LocalServer::Accept() {
  for (;;) {
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) PauseAccepting();
      return;  // none left (EAGAIN), or no room to take one now
    }
    auto* peer = new LocalPeer(fd, peers_.get());
    if (on_connection) on_connection(peer);
    else peer->Close();
  }
}

void LocalServer::PauseAccepting() {
  notifier_->setEnabled(false);
  QTimer::singleShot(kAcceptPauseMs, peers_.get(), [this] {
    if (notifier_) notifier_->setEnabled(true);
  });
}

// ---- LocalClient ------------------------------------------------------------------------------

LocalClient::~LocalClient() {
  if (fd_ >= 0) ::close(fd_);
}

bool LocalClient::Connect(const std::string& path, int timeout_ms) {
  sockaddr_un addr;
  if (fd_ >= 0 || !FillAddress(path, addr)) return false;
  // Blocking, so that a full backlog is waited for (up to the send timeout) rather than failed.
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  const timeval limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  int rc;
  do rc = ::connect(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  while (rc != 0 && errno == EINTR);
  if (rc != 0 || ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK) != 0) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

bool LocalClient::WriteAll(std::string_view bytes, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (fd_ >= 0 && !bytes.empty()) {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) {
      bytes.remove_prefix(size_t(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const int left = Remaining(deadline);
      pollfd p{fd_, POLLOUT, 0};
      if (left == 0 || (::poll(&p, 1, left) < 0 && errno != EINTR)) return false;
      continue;
    }
    closed_ = true;
    return false;
  }
  return fd_ >= 0;
}

bool LocalClient::Read(std::string& buffer, int timeout_ms) {
  if (fd_ < 0 || closed_) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    char buf[kReadChunk];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n > 0) {
      buffer.append(buf, size_t(n));
      return true;
    }
    if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
      closed_ = true;
      return false;
    }
    if (errno == EINTR) continue;
    pollfd p{fd_, POLLIN, 0};
    const int left = Remaining(deadline);
    if (left == 0) return false;
    if (::poll(&p, 1, left) < 0 && errno != EINTR) return false;
  }
}

}  // namespace brevak
