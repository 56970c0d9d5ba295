#pragma once
// The single-instance socket: a Unix stream socket in the user's runtime folder. The program
// serves it from its event loop (LocalServer, LocalPeer); a second start and brevak-ctl reach it
// with blocking calls (LocalClient). Plain sockets rather than Qt's network module, which with
// its dependencies would load about a megabyte for this one socket.

#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class QSocketNotifier;

namespace brevak {

// One accepted connection, served from the event loop. It deletes itself (deleteLater) once
// closed, by either side; hold it in a QPointer.
class LocalPeer : public QObject {
 public:
  explicit LocalPeer(int fd, QObject* parent = nullptr);
  ~LocalPeer() override;

  // Data arrived (read it with ReadAll).
  std::function<void()> on_readable;
  // What has arrived and not yet been read.
  std::string ReadAll();
  // Queued and sent as the socket takes it.
  void Write(std::string_view bytes);
  // Closes once everything written has gone.
  void Close();
  bool open() const { return fd_ >= 0; }
  // Reads what the socket holds now, as the event loop would (on_readable follows).
  void ReadNow() { OnReadable(); }

 private:
  void OnReadable();
  void Flush();
  void Drop();

  int fd_;
  std::string in_, out_;
  bool closing_ = false;
  bool other_done_ = false;  // the other side sends no more (it may still read an answer)
  std::unique_ptr<QSocketNotifier> read_, write_;
};

class LocalServer {
 public:
  LocalServer();
  // Stops listening: the socket file goes, and later connections are refused.
  ~LocalServer();
  // Listens at `path` (a file left by a crashed instance is replaced), open to this user only.
  bool Listen(const std::string& path);
  // Each new connection; the peer is the server's child.
  std::function<void(LocalPeer*)> on_connection;

 private:
  void Accept();
  void PauseAccepting();

  int fd_ = -1;
  std::string path_;
  std::unique_ptr<QObject> peers_;  // parent of the connections, so they go with the server
  std::unique_ptr<QSocketNotifier> notifier_;
};

// A blocking client connection.
class LocalClient {
 public:
  LocalClient() = default;
  ~LocalClient();
  LocalClient(const LocalClient&) = delete;
  LocalClient& operator=(const LocalClient&) = delete;

  // False when nobody listens at `path` within `timeout_ms`.
  bool Connect(const std::string& path, int timeout_ms);
  // False when not all could be written within `timeout_ms`.
  bool WriteAll(std::string_view bytes, int timeout_ms);
  // Appends what arrives within `timeout_ms` to `buffer`. False when nothing came: then
  // `closed()` tells whether the other side has gone.
  bool Read(std::string& buffer, int timeout_ms);
  bool closed() const { return closed_; }

 private:
  int fd_ = -1;
  bool closed_ = false;
};

}  // namespace brevak
