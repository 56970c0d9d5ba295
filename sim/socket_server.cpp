#include "sim/socket_server.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <iterator>
#include <map>
#include <mutex>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "sim/sim_control.h"
#include "zentrix/sim_wire.h"

namespace brevak::sim {

using Clock = std::chrono::steady_clock;
namespace wire = brevak::simwire;

namespace {

constexpr size_t kOutLimit = 8u << 20;   // a client this far behind is dropped
constexpr uint32_t kHelloLimit = 64;     // nothing before Hello may claim more
constexpr Connection kReceivers[] = {Connection::k1k, Connection::k4k, Connection::k8k};

struct Client {
  int fd = -1;
  wire::Stream in;
  std::vector<uint8_t> out;
  size_t out_at = 0;
  bool hello = false;
  bool closing = false;  // an Error is queued; close once it is flushed
  bool dead = false;
  std::map<uint32_t, ParsedPath> handles;
};

bool FillAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

class SocketServer::Impl : public SimMouseListener {
 public:
  Impl(SimMouse& mouse, Options options) : mouse_(mouse), opts_(std::move(options)) {}

  ~Impl() override {
    for (int fd : {listen_fd_, wake_r_, wake_w_}) {
      if (fd >= 0) ::close(fd);
    }
  }

  bool Bind(std::string* error) {
    auto fail = [&](const std::string& why) {
      if (error) *error = why;
      return false;
    };
    sockaddr_un addr;
    if (!FillAddress(opts_.path, addr)) return fail("socket path is empty or too long: " + opts_.path);
    struct stat st;
    if (::lstat(opts_.path.c_str(), &st) == 0) {
      if (!S_ISSOCK(st.st_mode)) return fail(opts_.path + " exists and is not a socket");
      const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      const bool answers = probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
      if (probe >= 0) ::close(probe);
      if (answers) return fail("another simulated mouse already serves " + opts_.path);
      ::unlink(opts_.path.c_str());  // left behind by one that died
    }
    listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listen_fd_ < 0) return fail(std::string("socket: ") + std::strerror(errno));
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
      return fail("bind " + opts_.path + ": " + std::strerror(errno));
    bound_ = true;
    ::chmod(opts_.path.c_str(), 0600);
    if (::listen(listen_fd_, 16) != 0) return fail(std::string("listen: ") + std::strerror(errno));
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_NONBLOCK | O_CLOEXEC) != 0) return fail(std::string("pipe: ") + std::strerror(errno));
    wake_r_ = pipe_fds[0];
    wake_w_ = pipe_fds[1];
    return true;
  }

  void Unbind() {
    if (bound_) ::unlink(opts_.path.c_str());
    bound_ = false;
  }

  void RequestStop() {
    stop_ = true;
    Wake();
  }

  void OnEvent(const SimEvent& e) override {
    const Clock::time_point due = Clock::now() + std::chrono::milliseconds(e.kind == SimEvent::Kind::kStatus ? e.delay_ms : 0);
    {
      std::lock_guard<std::mutex> lock(events_mu_);
      auto at = events_.end();
      while (at != events_.begin() && std::prev(at)->first > due) --at;
      events_.insert(at, {due, e});
    }
    Wake();
  }

  void Run() {
    Clock::time_point next_power = Clock::now() + std::chrono::milliseconds(opts_.power_interval_ms);
    while (!stop_) {
      std::vector<pollfd> fds;
      fds.push_back({listen_fd_, POLLIN, 0});
      fds.push_back({wake_r_, POLLIN, 0});
      for (const auto& c : clients_) {
        short want = c->closing ? 0 : POLLIN;
        if (c->out_at < c->out.size()) want |= POLLOUT;
        fds.push_back({c->fd, want, 0});
      }
      ::poll(fds.data(), fds.size(), TimeoutMs(next_power));
      if (fds[1].revents & POLLIN) {
        char drain[64];
        while (::read(wake_r_, drain, sizeof drain) > 0) {
        }
      }
      const size_t existing = clients_.size();
      for (size_t i = 0; i < existing; ++i) {
        Client& c = *clients_[i];
        const short r = fds[2 + i].revents;
        if (r & (POLLIN | POLLHUP | POLLERR)) ReadFrom(c);
        if (r & POLLOUT) Flush(c);
      }
      if (fds[0].revents & POLLIN) Accept();
      if (opts_.power_interval_ms > 0 && Clock::now() >= next_power) {
        next_power += std::chrono::milliseconds(opts_.power_interval_ms);
        if (next_power < Clock::now()) next_power = Clock::now() + std::chrono::milliseconds(opts_.power_interval_ms);
        for (Connection rx : kReceivers) mouse_.SendPowerStatus(rx);
      }
      DeliverDue();
      for (const auto& c : clients_) Flush(*c);
      std::erase_if(clients_, [](const std::unique_ptr<Client>& c) {
        if (c->dead) ::close(c->fd);
        return c->dead;
      });
    }
    for (const auto& c : clients_) ::close(c->fd);
    clients_.clear();
  }

 private:
  void Wake() {
    if (wake_w_ >= 0) {
      const char one = 1;
      [[maybe_unused]] ssize_t k = ::write(wake_w_, &one, 1);  // a full pipe already wakes
    }
  }

  int TimeoutMs(Clock::time_point next_power) {
    Clock::time_point until = Clock::now() + std::chrono::seconds(1);
    if (opts_.power_interval_ms > 0) until = std::min(until, next_power);
    {
      std::lock_guard<std::mutex> lock(events_mu_);
      if (!events_.empty()) until = std::min(until, events_.front().first);
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    return int(std::max<int64_t>(ms, 0));
  }

  void Accept() {
    for (;;) {
      const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) return;
      auto c = std::make_unique<Client>();
      c->fd = fd;
      if (clients_.size() >= opts_.max_clients) Fail(*c, "too many clients");
      clients_.push_back(std::move(c));
    }
  }

  void Queue(Client& c, std::vector<uint8_t> bytes) {
    if (c.dead) return;
    if (c.out.size() - c.out_at + bytes.size() > kOutLimit) {
      c.dead = true;  // not reading: its reports would pile up without end
      return;
    }
    c.out.insert(c.out.end(), bytes.begin(), bytes.end());
  }

  void Fail(Client& c, const std::string& why) {
    Queue(c, wire::Writer(wire::kError).Str(why).Finish());
    c.closing = true;
  }

  void Flush(Client& c) {
    while (!c.dead && c.out_at < c.out.size()) {
      const ssize_t k = ::send(c.fd, c.out.data() + c.out_at, c.out.size() - c.out_at, MSG_NOSIGNAL);
      if (k < 0 && errno == EINTR) continue;
      if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      if (k <= 0) {
        c.dead = true;
        return;
      }
      c.out_at += size_t(k);
    }
    c.out.clear();
    c.out_at = 0;
    if (c.closing) c.dead = true;
  }

  void ReadFrom(Client& c) {
    if (c.closing || c.dead) return;
    uint8_t buf[65536];
    const ssize_t k = ::recv(c.fd, buf, sizeof buf, 0);
    if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (k <= 0) {
      c.dead = true;
      return;
    }
    c.in.Feed(buf, size_t(k));
    while (!c.closing && !c.dead) {
      if (!c.hello) {
        std::optional<uint32_t> n = c.in.PeekLength();
        if (n && *n > kHelloLimit) return Fail(c, "expected Hello first");
      }
      std::optional<std::vector<uint8_t>> body = c.in.Next();
      if (!body) {
        if (c.in.broken()) Fail(c, "bad message length");
        return;
      }
      Handle(c, *body);
    }
  }

  void Reply(Client& c, uint32_t id, int32_t result, const uint8_t* payload = nullptr, size_t n = 0) {
    Queue(c, wire::Writer(wire::kReply).U32(id).I32(result).Raw(payload, n).Finish());
  }

  const ParsedPath* Find(Client& c, uint32_t handle) {
    auto it = c.handles.find(handle);
    return it == c.handles.end() ? nullptr : &it->second;
  }

  void Handle(Client& c, const std::vector<uint8_t>& body) {
    wire::Reader r(body);
    uint8_t type = 0;
    r.U8(type);
    if (!c.hello) {
      uint32_t magic = 0;
      uint16_t version = 0;
      if (type != wire::kHello || !r.U32(magic) || !r.U16(version) || !r.AtEnd() || magic != wire::kMagic)
        return Fail(c, "expected Hello first");
      if (version != wire::kVersion)
        return Fail(c, "protocol version " + std::to_string(version) + " not served (this is version " +
                           std::to_string(wire::kVersion) + ")");
      c.hello = true;
      Queue(c, wire::Writer(wire::kHelloReply).U16(wire::kVersion).Finish());
      return;
    }
    uint32_t id = 0;
    if (!r.U32(id)) return Fail(c, "message without a request id");
    switch (type) {
      case wire::kEnumerate: {
        if (!r.AtEnd()) break;
        const std::vector<zentrix::HidInterfaceInfo> list = mouse_.PresentInterfaces();
        wire::Writer w(wire::kReply);
        w.U32(id).I32(int32_t(list.size())).U16(uint16_t(list.size()));
        for (const auto& info : list) w.Interface(info);
        return Queue(c, w.Finish());
      }
      case wire::kOpen: {
        std::string path;
        if (!r.Str(path) || !r.AtEnd()) break;
        const std::optional<ParsedPath> where = ParseInterfacePath(path);
        if (!where || !mouse_.IsPlugged(where->connection)) return Reply(c, id, -1);
        const uint32_t handle = next_handle_++;
        c.handles.emplace(handle, *where);
        return Reply(c, id, int32_t(handle));
      }
      case wire::kClose: {
        uint32_t handle = 0;
        if (!r.U32(handle) || !r.AtEnd()) break;
        return Reply(c, id, c.handles.erase(handle) ? 0 : -1);
      }
      case wire::kWrite:
      case wire::kSetFeature: {
        uint32_t handle = 0;
        std::vector<uint8_t> data;
        if (!r.U32(handle) || !r.Bytes(data) || !r.AtEnd()) break;
        const ParsedPath* where = Find(c, handle);
        if (!where || !where->kind) return Reply(c, id, type == wire::kWrite ? -1 : 0);
        if (type == wire::kWrite) return Reply(c, id, mouse_.Write(where->connection, *where->kind, data.data(), data.size()));
        return Reply(c, id, mouse_.SetFeature(where->connection, *where->kind, data.data(), data.size()) ? 1 : 0);
      }
      case wire::kGetFeature: {
        uint32_t handle = 0;
        uint16_t n = 0;
        uint8_t report_id = 0;
        if (!r.U32(handle) || !r.U16(n) || !r.U8(report_id) || !r.AtEnd()) break;
        const ParsedPath* where = Find(c, handle);
        if (!where || !where->kind || n == 0) return Reply(c, id, -1);
        std::vector<uint8_t> buf(n, 0);
        buf[0] = report_id;
        const int got = mouse_.GetFeature(where->connection, *where->kind, buf.data(), buf.size());
        return Reply(c, id, got, buf.data(), got > 0 ? size_t(got) : 0);
      }
      case wire::kBleWrite: {
        std::vector<uint8_t> data;
        if (!r.Bytes(data) || !r.AtEnd()) break;
        return Reply(c, id, mouse_.BleWrite(data.data(), data.size()) ? 1 : 0);
      }
      case wire::kControl: {
        std::string command;
        if (!r.Str(command) || !r.AtEnd()) break;
        const ControlReply reply = RunControl(mouse_, command);
        return Reply(c, id, reply.ok ? 0 : -1, reinterpret_cast<const uint8_t*>(reply.text.data()), reply.text.size());
      }
      default:
        return Fail(c, "unknown message type " + std::to_string(type));
    }
    Fail(c, "malformed message of type " + std::to_string(type));
  }

  void DeliverDue() {
    std::vector<SimEvent> due;
    {
      std::lock_guard<std::mutex> lock(events_mu_);
      const Clock::time_point now = Clock::now();
      while (!events_.empty() && events_.front().first <= now) {
        due.push_back(events_.front().second);
        events_.pop_front();
      }
    }
    for (const SimEvent& e : due) Deliver(e);
  }

  void Deliver(const SimEvent& e) {
    for (const auto& cp : clients_) {
      Client& c = *cp;
      if (!c.hello || c.closing || c.dead) continue;
      switch (e.kind) {
        case SimEvent::Kind::kStatus:
          if (e.connection == Connection::kBle) {
            Queue(c, wire::Writer(wire::kBleNotify).Bytes(e.status.data(), e.status.size()).Finish());
            break;
          }
          for (const auto& [handle, where] : c.handles) {
            if (where.connection == e.connection && where.kind == zentrix::InterfaceKind::kOsd) {
              Queue(c, wire::Writer(wire::kInput).U32(handle).Bytes(StatusInputReport(e.connection, e.status)).Finish());
            }
          }
          break;
        case SimEvent::Kind::kPlugged:
          for (const auto& info : ConnectionInterfaces(e.connection))
            Queue(c, wire::Writer(wire::kHotplug).U8(0).Str(info.path).Finish());
          break;
        case SimEvent::Kind::kUnplugged:
          for (auto it = c.handles.begin(); it != c.handles.end();) {
            if (it->second.connection != e.connection) {
              ++it;
              continue;
            }
            Queue(c, wire::Writer(wire::kHandleGone).U32(it->first).Finish());
            it = c.handles.erase(it);
          }
          for (const auto& info : ConnectionInterfaces(e.connection))
            Queue(c, wire::Writer(wire::kHotplug).U8(1).Str(info.path).Finish());
          break;
      }
    }
  }

  SimMouse& mouse_;
  const Options opts_;
  int listen_fd_ = -1;
  int wake_r_ = -1, wake_w_ = -1;
  bool bound_ = false;
  std::atomic<bool> stop_{false};

  std::mutex events_mu_;
  std::deque<std::pair<Clock::time_point, SimEvent>> events_;  // by due time

  // Server thread only.
  std::vector<std::unique_ptr<Client>> clients_;
  uint32_t next_handle_ = 1;
};

SocketServer::SocketServer(SimMouse& mouse, Options options)
    : impl_(std::make_shared<Impl>(mouse, std::move(options))), mouse_(mouse) {}

SocketServer::~SocketServer() { Stop(); }

bool SocketServer::Start(std::string* error) {
  if (thread_.joinable()) return true;
  if (!impl_->Bind(error)) {
    impl_->Unbind();
    return false;
  }
  mouse_.AddListener(impl_);
  thread_ = std::thread([impl = impl_] { impl->Run(); });
  return true;
}

void SocketServer::Stop() {
  if (!thread_.joinable()) return;
  impl_->RequestStop();
  thread_.join();
  mouse_.RemoveListener(impl_.get());
  impl_->Unbind();
}

}  // namespace brevak::sim
