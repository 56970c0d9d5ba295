#pragma once
// One running instance per user: a lock file in the user's runtime folder, and a local socket
// over which a second start asks the first to come forward.

#include <sys/types.h>

#include <QLockFile>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "app/local_socket.h"
#include "platform/winapi.h"

namespace brevak {

class SingleInstance {
 public:
  enum class State {
    kFirst,    // this process holds the lock
    kAnother,  // another instance holds it
    kFailed,   // the lock could not be taken for another reason (see error())
  };

  // Takes the lock named `name` in LockFolder.
  explicit SingleInstance(std::u16string_view name);
  ~SingleInstance();
  State state() const { return state_; }
  bool IsFirst() const { return state_ == State::kFirst; }
  // Why the lock could not be taken, for the user.
  const QString& error() const { return error_; }

  // Where the lock lives: $XDG_RUNTIME_DIR (`runtime_dir`) when set, otherwise a folder of the
  // user's own ("brevak-<uid>") in the system's temporary folder `temp`, so that users never
  // share one lock.
  static QString LockFolder(const QString& runtime_dir, uid_t uid, const QString& temp);

  // The first instance: each connection of a later start becomes `message` to `window`, or,
  // with `adopt`, is handed to it (which answers requests and brings the window forward for a
  // connection that sends none).
  void ListenForOthers(HWND window, UINT message, std::function<void(LocalPeer*)> adopt = nullptr);
  // A client of the first instance: where it listens.
  const QString& socket_path() const { return socket_path_; }
  // Tries the lock again for up to `timeout_ms`; true once this process holds it.
  bool TryTake(int timeout_ms);
  // A later start: reaches the first and asks; false when it could not be reached or did not
  // answer.
  bool AskFirstToComeForward(UINT message);
  // The first instance is ending: later starts are no longer answered, and wait for the lock.
  void StopListening() { server_.reset(); }

  enum class Wait { kAnswered, kTookOver, kTimedOut };
  // A later start: asks the first to come forward; when it does not answer (it is still
  // starting, or it is ending and finishing a write to the mouse) the lock is tried again, until
  // one of the two succeeds or `timeout_ms` has passed.
  Wait AskOrTakeOver(UINT message, int timeout_ms);

 private:
  QString lock_path_, socket_path_;
  std::unique_ptr<QLockFile> lock_;
  std::unique_ptr<LocalServer> server_;
  State state_ = State::kFailed;
  QString error_;
};

}  // namespace brevak
