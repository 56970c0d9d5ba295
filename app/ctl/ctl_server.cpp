#include "app/ctl/ctl_server.h"

#include <QApplication>
#include <QTimer>

#include "app/ctl/ctl_wire.h"

namespace brevak::ctl {

namespace {
// A second start connects and sends nothing; a client sends its request at once.
constexpr int kBareConnectionMs = 300;
// A request that has begun and not come whole by then is dropped.
constexpr int kRequestMs = 5000;
}  // namespace

bool PageHost::Busy() { return QApplication::activeModalWidget() != nullptr; }

struct Server::Connection {
  QPointer<LocalPeer> peer;
  std::string buffer;
  bool taken = false;  // a request was read (or refused): the connection is no longer bare
};

Server::Server(Host& host, std::function<void()> bring_forward)
    : runner_(host), bring_forward_(std::move(bring_forward)) {}

Server::~Server() = default;

void Server::Adopt(LocalPeer* peer) {
  auto c = std::make_shared<Connection>();
  c->peer = peer;
  peer->on_readable = [this, c] { OnReadable(c.get()); };
  QTimer::singleShot(kBareConnectionMs, peer, [this, c] {
    // A request already in the socket but not yet read counts too (a loaded machine).
    if (c->peer && !c->taken) c->peer->ReadNow();
    if (!c->peer || !c->peer->open() || c->taken || !c->buffer.empty()) return;
    c->taken = true;
    if (bring_forward_) bring_forward_();
    c->peer->Write("ok");
    c->peer->Close();
  });
  QTimer::singleShot(kRequestMs, peer, [c] {
    if (c->peer && !c->taken) c->peer->Close();
  });
}

void Server::OnReadable(Connection* c) {
  if (!c->peer || c->taken) {
    if (c->peer) c->peer->ReadAll();  // nothing more is read from a connection that was answered
    return;
  }
  c->buffer += c->peer->ReadAll();
  const ParsedRequest request = ParseRequest(c->buffer);
  if (request.state == Parse::kIncomplete && c->buffer.size() <= kMaxHeaderBytes + kMaxRequestBytes) return;
  c->taken = true;
  c->buffer.clear();
  QPointer<LocalPeer> peer = c->peer;
  switch (request.state) {
    case Parse::kComplete: break;
    case Parse::kOtherVersion:
      Answer(peer, {kExitRefused, "", "brevak-ctl: BREVAK speaks another version of brevak-ctl\n"});
      return;
    case Parse::kTooLarge:
    case Parse::kIncomplete:
      Answer(peer, {kExitRefused, "", "brevak-ctl: the request is too large\n"});
      return;
    case Parse::kMalformed:
      Answer(peer, {kExitRefused, "", "brevak-ctl: not a request\n"});
      return;
  }
  auto parsed = ParseArguments(request.args);
  if (auto* refused = std::get_if<Output>(&parsed)) {
    Answer(peer, *refused);
    return;
  }
  runner_.Submit(
      std::get<Command>(std::move(parsed)),
      [peer](const std::string& line) {
        if (!peer) return;
        peer->Write(EncodeRecord(Tag::kProgress, line));
      },
      [this, peer](const Output& out) { Answer(peer, out); });
}

void Server::Answer(QPointer<LocalPeer> peer, const Output& out) {
  // The client may have gone (Ctrl-C): the command has run all the same.
  if (!peer) return;
  std::string reply;
  if (!out.out.empty()) reply += EncodeRecord(Tag::kOut, out.out);
  if (!out.err.empty()) reply += EncodeRecord(Tag::kErr, out.err);
  reply += EncodeRecord(Tag::kExit, std::to_string(out.code));
  peer->Write(reply);
  peer->Close();
}

}  // namespace brevak::ctl
