#pragma once
// The program's end of brevak-ctl: a connection to the single-instance socket that sends a
// request has it run by the page's Runner, and is answered when the command has ended; one that
// sends nothing brings the window forward, as it always did.

#include <QPointer>
#include <functional>
#include <memory>

#include "app/ctl/ctl_commands.h"
#include "app/local_socket.h"
#include "page/ms_1_page.h"

namespace brevak::ctl {

// Commands run over the window's page: its device half and stores, and it shows each change.
// A modal dialog open (a question, a file dialog, the macro editor) makes the program busy.
class PageHost : public Host {
 public:
  PageHost(ProfileStore& profiles, MacroStore& macros, CMS_1_Page& page)
      : profiles_(profiles), macros_(macros), page_(page) {}
  ProfileStore& profiles() override { return profiles_; }
  MacroStore& macros() override { return macros_; }
  DeviceHalf& device() override { return page_.device(); }
  BindingStore& bindings() override { return page_.bindings(); }
  void BindingsChanged() override { page_.BindingsChanged(); }
  void Changed(bool list) override { page_.ShowWorkingRecord(list); }
  bool Busy() override;

 private:
  ProfileStore& profiles_;
  MacroStore& macros_;
  CMS_1_Page& page_;
};

class Server {
 public:
  // `bring_forward` is what a bare connection asks for.
  Server(Host& host, std::function<void()> bring_forward);
  ~Server();
  // Takes over a new connection (the server's child): reads, runs, answers, closes.
  void Adopt(LocalPeer* peer);
  Runner& runner() { return runner_; }

 private:
  struct Connection;
  void OnReadable(Connection* c);
  void Answer(QPointer<LocalPeer> peer, const Output& out);

  Runner runner_;
  std::function<void()> bring_forward_;
};

}  // namespace brevak::ctl
