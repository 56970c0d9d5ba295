#pragma once
// One running instance per user: a lock file in the user's runtime folder, and a local socket
// over which a second start asks the first to come forward.

#include <QLocalServer>
#include <QLockFile>
#include <memory>
#include <string>

#include "platform/winapi.h"

namespace brevak {

class SingleInstance {
 public:
  // Takes the lock named `name`; IsFirst tells whether this process got it. The folder is
  // $XDG_RUNTIME_DIR (or the system's temporary folder).
  explicit SingleInstance(std::u16string_view name);
  ~SingleInstance();
  bool IsFirst() const { return first_; }
  // The first instance: each connection of a later start becomes `message` to `window`.
  void ListenForOthers(HWND window, UINT message);
  // A later start: reaches the first and asks; false when it could not be reached.
  bool AskFirstToComeForward(UINT message);

 private:
  QString lock_path_, socket_path_;
  std::unique_ptr<QLockFile> lock_;
  std::unique_ptr<QLocalServer> server_;
  bool first_ = false;
};

}  // namespace brevak
