#include "zentrix/sim_socket_backend.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <utility>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "platform/log.h"
#include "platform/loop.h"
#include "zentrix/sim_wire.h"

namespace zentrix {
namespace {

namespace wire = brevak::simwire;
using Clock = std::chrono::steady_clock;

constexpr auto kReplyTimeout = std::chrono::seconds(3);
constexpr auto kRetryInterval = std::chrono::milliseconds(500);
constexpr size_t kQueueLimit = 256;   // reports kept for a handle nobody reads

void Note(const std::string& text) { brevak::LogNote("zentrix sim", "%s", text.c_str()); }

// Calls the sink on a thread of its own, so that a sink may call back into the backend (Open
// waits for a reply that the receive thread must be free to read).
class HotplugDispatch {
 public:
  HotplugDispatch() : thread_([this] { Run(); }) {}
  ~HotplugDispatch() { Stop(); }

  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  void Announce(HotplugEvent e) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (stop_) return;
      queue_.push_back(std::move(e));
    }
    cv_.notify_all();
  }

  // Clearing it waits for a sink call in progress, unless that call is the caller.
  void SetSink(std::function<void(const HotplugEvent&)> sink) {
    std::unique_lock<std::mutex> lock(mu_);
    sink_ = std::move(sink);
    if (!sink_ && busy_ && std::this_thread::get_id() != thread_.get_id()) {
      brevak::ExternalWaitScope outside;
      cv_.wait(lock, [this] { return !busy_; });
    }
  }

 private:
  void Run() {
    brevak::ExternalWaitScope outside;  // paced by the socket, never by the process clock
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
      cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      HotplugEvent e = std::move(queue_.front());
      queue_.pop_front();
      if (!sink_) continue;
      std::function<void(const HotplugEvent&)> sink = sink_;
      busy_ = true;
      lock.unlock();
      sink(e);
      lock.lock();
      busy_ = false;
      cv_.notify_all();
    }
  }

  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<HotplugEvent> queue_;
  std::function<void(const HotplugEvent&)> sink_;
  bool busy_ = false;
  bool stop_ = false;
  std::thread thread_;  // last: it starts running in the constructor
};

struct ReplyData {
  int32_t result = -1;
  std::vector<uint8_t> payload;
};

bool Greet(int fd, wire::Stream& in) {
  if (!wire::SendAll(fd, wire::Writer(wire::kHello).U32(wire::kMagic).U16(wire::kVersion).Finish())) return false;
  const auto deadline = Clock::now() + kReplyTimeout;
  for (;;) {
    if (std::optional<std::vector<uint8_t>> body = in.Next()) {
      wire::Reader r(*body);
      uint8_t type = 0;
      uint16_t version = 0;
      if (r.U8(type) && type == wire::kHelloReply && r.U16(version) && version == wire::kVersion) return true;
      std::string why;
      if (type == wire::kError && r.Str(why)) Note(why);
      return false;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{fd, POLLIN, 0};
    if (in.broken() || left <= 0 || ::poll(&p, 1, int(left)) <= 0) return false;
    uint8_t buf[4096];
    const ssize_t k = ::recv(fd, buf, sizeof buf, 0);
    if (k <= 0) return false;
    in.Feed(buf, size_t(k));
  }
}

// A connected, greeted socket to the simulated mouse, or -1.
int Dial(const std::string& path, wire::Stream& in) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return -1;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || !Greet(fd, in)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Writes request `id` of `type` with its fields; false when the socket refused it. Several
// threads may send on one connection, so the write is whole under `send_mu`.
template <typename Fields>
bool SendRequest(int fd, std::mutex& send_mu, wire::Type type, uint32_t id, Fields& fields) {
  wire::Writer w(type);
  w.U32(id);
  fields(w);
  std::lock_guard<std::mutex> lock(send_mu);
  return wire::SendAll(fd, w.Finish());
}

// One connection to the simulated mouse for the interface list and hotplug events. Once it is
// lost it stays lost, and the backend makes a new one. Devices have connections of their own.
class Link {
 public:
  // `on_lost` is called (on the receive thread) once the link is lost.
  static std::shared_ptr<Link> Connect(const std::string& path, std::shared_ptr<HotplugDispatch> hotplug,
                                       std::function<void()> on_lost) {
    wire::Stream in;
    const int fd = Dial(path, in);
    if (fd < 0) return nullptr;
    auto link = std::shared_ptr<Link>(new Link(fd, std::move(hotplug), std::move(in)));
    link->on_lost_ = std::move(on_lost);
    link->rx_ = std::thread([raw = link.get()] { raw->Receive(); });
    return link;
  }

  ~Link() {
    Shutdown();
    ::close(fd_);
  }

  // Ends the receive thread; every call fails from then on.
  void Shutdown() {
    ::shutdown(fd_, SHUT_RDWR);
    if (rx_.joinable()) rx_.join();
  }

  bool lost() {
    std::lock_guard<std::mutex> lock(mu_);
    return closed_;
  }

  // Sends a request and waits for its reply; nothing when the mouse is gone or silent.
  template <typename Fields>
  std::optional<ReplyData> Call(wire::Type type, Fields fields) {
    brevak::ExternalWaitScope outside;
    uint32_t id;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (closed_) return std::nullopt;
      id = next_id_++;
      pending_[id];
    }
    const bool sent = SendRequest(fd_, send_mu_, type, id, fields);
    std::unique_lock<std::mutex> lock(mu_);
    if (sent) {
      cv_.wait_until(lock, Clock::now() + kReplyTimeout, [&] { return closed_ || pending_[id].has_value(); });
    }
    std::optional<ReplyData> reply = std::move(pending_[id]);
    pending_.erase(id);
    return reply;
  }

  std::optional<std::vector<HidInterfaceInfo>> List() {
    auto reply = Call(wire::kEnumerate, [](wire::Writer&) {});
    if (!reply || reply->result < 0) return std::nullopt;
    wire::Reader r(reply->payload);
    uint16_t count = 0;
    if (!r.U16(count)) return std::nullopt;
    std::vector<HidInterfaceInfo> list;
    for (uint16_t i = 0; i < count; ++i) {
      HidInterfaceInfo info;
      if (!r.Interface(info)) return std::nullopt;
      list.push_back(std::move(info));
    }
    std::lock_guard<std::mutex> lock(mu_);
    for (const auto& info : list) {
      known_[info.path] = info;
      present_.insert(info.path);
    }
    return list;
  }

  std::optional<HidInterfaceInfo> Known(const std::string& path) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = known_.find(path);
    if (it == known_.end()) return std::nullopt;
    return it->second;
  }

 private:
  Link(int fd, std::shared_ptr<HotplugDispatch> hotplug, wire::Stream in)
      : fd_(fd), hotplug_(std::move(hotplug)), in_(std::move(in)) {}

  void Receive() {
    uint8_t buf[65536];
    for (;;) {
      while (std::optional<std::vector<uint8_t>> body = in_.Next()) Sort(*body);
      if (in_.broken()) break;
      const ssize_t k = ::recv(fd_, buf, sizeof buf, 0);
      if (k < 0 && errno == EINTR) continue;
      if (k <= 0) break;
      in_.Feed(buf, size_t(k));
    }
    Lost();
  }

  void Sort(const std::vector<uint8_t>& body) {
    wire::Reader r(body);
    uint8_t type = 0;
    r.U8(type);
    switch (type) {
      case wire::kReply: {
        ReplyData reply;
        uint32_t id = 0;
        if (!r.U32(id) || !r.I32(reply.result) || !r.Rest(reply.payload)) return;
        {
          std::lock_guard<std::mutex> lock(mu_);
          auto it = pending_.find(id);
          if (it == pending_.end()) return;  // timed out
          it->second = std::move(reply);
        }
        cv_.notify_all();
        return;
      }
      case wire::kHotplug: {
        uint8_t kind = 0;
        std::string path;
        if (!r.U8(kind) || !r.Str(path) || kind > 1) return;
        {
          std::lock_guard<std::mutex> lock(mu_);
          if (kind == 0) {
            present_.insert(path);
          } else {
            present_.erase(path);
          }
        }
        hotplug_->Announce(HotplugEvent{kind == 0 ? HotplugEvent::kArrival : HotplugEvent::kRemoval, path});
        return;
      }
      case wire::kError: {
        std::string why;
        if (r.Str(why)) Note(why);
        return;
      }
      default:
        return;  // Bluetooth notifications and anything newer are not for the HID seam
    }
  }

  // The mouse went away (or we hung up): every interface is removed.
  void Lost() {
    std::set<std::string> present;
    {
      std::lock_guard<std::mutex> lock(mu_);
      closed_ = true;
      present.swap(present_);
    }
    cv_.notify_all();
    for (const auto& path : present) hotplug_->Announce(HotplugEvent{HotplugEvent::kRemoval, path});
    if (on_lost_) on_lost_();
  }

  const int fd_;
  const std::shared_ptr<HotplugDispatch> hotplug_;
  std::function<void()> on_lost_;  // set before the receive thread starts
  wire::Stream in_;  // the receive thread's
  std::mutex send_mu_;

  std::mutex mu_;
  std::condition_variable cv_;
  bool closed_ = false;
  uint32_t next_id_ = 1;
  std::map<uint32_t, std::optional<ReplyData>> pending_;
  std::map<std::string, HidInterfaceInfo> known_;
  std::set<std::string> present_;

  std::thread rx_;
};

// One opened interface on a connection of its own: its input reports and the replies to its
// calls come there, and also what the mouse tells every client (plug and unplug, Bluetooth
// notifications), which is read and dropped here. No thread but the one that needs them reads
// the socket: the reader in Read, or a caller waiting for its reply, receives for everybody
// meanwhile; the others wait for it. An input report thus wakes the reading thread alone; a
// connection nobody reads keeps those broadcasts in the socket until its next call.
class Channel {
 public:
  // Null when the mouse does not answer or refuses to open `device_path`.
  static std::unique_ptr<Channel> Open(const std::string& socket_path, const std::string& device_path) {
    wire::Stream in;
    const int fd = Dial(socket_path, in);
    if (fd < 0) return nullptr;
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
      ::close(fd);
      return nullptr;
    }
    std::unique_ptr<Channel> c(new Channel(fd, wake, std::move(in)));
    auto reply = c->Call(wire::kOpen, [&](wire::Writer& w) { w.Str(device_path); });
    if (!reply || reply->result <= 0) return nullptr;
    c->handle_ = uint32_t(reply->result);
    return c;
  }

  // Closing the connection closes the handle. Nobody may be inside a call or a read.
  ~Channel() {
    ::close(fd_);
    ::close(wake_fd_);
  }

  uint32_t handle() const { return handle_; }

  bool gone() {
    std::lock_guard<std::mutex> lock(mu_);
    return gone_;
  }

  template <typename Fields>
  std::optional<ReplyData> Call(wire::Type type, Fields fields) {
    brevak::ExternalWaitScope outside;
    uint32_t id;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (gone_) return std::nullopt;
      id = next_id_++;
      pending_[id];
    }
    const bool sent = SendRequest(fd_, send_mu_, type, id, fields);
    std::unique_lock<std::mutex> lock(mu_);
    if (sent) Pump(lock, [&] { return pending_[id].has_value(); }, Clock::now() + kReplyTimeout, false);
    std::optional<ReplyData> reply = std::move(pending_[id]);
    pending_.erase(id);
    return reply;
  }

  int Read(uint8_t* data, size_t capacity, int timeout_ms) {
    brevak::ExternalWaitScope outside;
    std::unique_lock<std::mutex> lock(mu_);
    const auto deadline =
        timeout_ms < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeout_ms);
    Pump(lock, [this] { return cancelled_ || !reports_.empty(); }, deadline, true);
    if (cancelled_ || gone_) return -1;
    if (reports_.empty()) return 0;
    const std::vector<uint8_t> report = std::move(reports_.front());
    reports_.pop_front();
    const size_t n = std::min(capacity, report.size());
    std::memcpy(data, report.data(), n);
    return int(n);
  }

  // Wakes a Read that receives (its poll watches the wake descriptor) or waits for a caller
  // that receives (the condition).
  void Cancel() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      cancelled_ = true;
    }
    cv_.notify_all();
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t k = ::write(wake_fd_, &one, sizeof one);
  }

 private:
  Channel(int fd, int wake_fd, wire::Stream in) : fd_(fd), wake_fd_(wake_fd), in_(std::move(in)) {}

  // Returns once `done` holds, the connection is gone or `deadline` passed (what has arrived by
  // then is taken in). Called with mu_ held; releases it while it waits or receives.
  template <typename Done>
  void Pump(std::unique_lock<std::mutex>& lock, Done done, Clock::time_point deadline, bool reader) {
    const bool forever = deadline == Clock::time_point::max();
    while (!done() && !gone_) {
      const auto now = Clock::now();
      const bool late = !forever && now >= deadline;
      if (receiving_) {  // the receiver notifies after each batch and when it stops
        if (late) return;
        if (forever) {
          cv_.wait(lock);
        } else {
          cv_.wait_until(lock, deadline);
        }
        continue;
      }
      receiving_ = true;
      lock.unlock();
      int timeout = -1;
      if (!forever) timeout = late ? 0 : int(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
      // Only a reader watches the wake descriptor: a Cancel leaves it readable for good.
      pollfd p[2] = {{fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
      const int ready = ::poll(p, reader ? 2 : 1, timeout);
      uint8_t buf[4096];
      ssize_t k = 0;
      bool lost = false;
      if (ready > 0 && p[0].revents) {
        k = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
        lost = k == 0 || (k < 0 && errno != EINTR && errno != EAGAIN);
      } else if (ready < 0 && errno != EINTR) {
        lost = true;
      }
      lock.lock();
      receiving_ = false;
      if (k > 0) in_.Feed(buf, size_t(k));
      while (std::optional<std::vector<uint8_t>> body = in_.Next()) Sort(*body);
      if (lost || in_.broken()) gone_ = true;
      cv_.notify_all();
      if (late && k <= 0) return;
    }
  }

  // With mu_ held.
  void Sort(const std::vector<uint8_t>& body) {
    wire::Reader r(body);
    uint8_t type = 0;
    uint32_t number = 0;
    r.U8(type);
    switch (type) {
      case wire::kReply: {
        ReplyData reply;
        if (!r.U32(number) || !r.I32(reply.result) || !r.Rest(reply.payload)) return;
        auto it = pending_.find(number);
        if (it != pending_.end()) it->second = std::move(reply);
        return;
      }
      // The connection holds one handle only. Its first reports may come in the same batch as
      // the reply to Open, before handle_ is known: they are its reports all the same.
      case wire::kInput: {
        std::vector<uint8_t> report;
        if (!r.U32(number) || !r.Bytes(report)) return;
        reports_.push_back(std::move(report));
        if (reports_.size() > kQueueLimit) reports_.pop_front();
        return;
      }
      case wire::kHandleGone:
        gone_ = true;
        return;
      case wire::kError: {
        std::string why;
        if (r.Str(why)) Note(why);
        return;
      }
      default:
        return;  // hotplug events and Bluetooth notifications are the link's business
    }
  }

  const int fd_;
  const int wake_fd_;
  uint32_t handle_ = 0;  // set by Open before anyone else sees the channel
  std::mutex send_mu_;

  std::mutex mu_;
  std::condition_variable cv_;
  wire::Stream in_;
  bool receiving_ = false;
  bool cancelled_ = false;
  bool gone_ = false;
  uint32_t next_id_ = 1;
  std::map<uint32_t, std::optional<ReplyData>> pending_;
  std::deque<std::vector<uint8_t>> reports_;
};

class SimDevice final : public HidDevice {
 public:
  SimDevice(std::unique_ptr<Channel> channel, HidInterfaceInfo info)
      : channel_(std::move(channel)), info_(std::move(info)) {}

  const HidInterfaceInfo& info() const override { return info_; }

  int Write(const uint8_t* data, size_t length) override {
    if (!data || length == 0 || channel_->gone()) return -1;
    auto reply = channel_->Call(wire::kWrite, [&](wire::Writer& w) { w.U32(channel_->handle()).Bytes(data, length); });
    return reply ? reply->result : -1;
  }

  int Read(uint8_t* data, size_t capacity, int timeout_ms) override {
    if (!data || capacity == 0) return -1;
    return channel_->Read(data, capacity, timeout_ms);
  }

  void Cancel() override { channel_->Cancel(); }

  bool SetFeature(const uint8_t* data, size_t length) override {
    if (!data || length == 0 || channel_->gone()) return false;
    auto reply =
        channel_->Call(wire::kSetFeature, [&](wire::Writer& w) { w.U32(channel_->handle()).Bytes(data, length); });
    return reply && reply->result == 1;
  }

  int GetFeature(uint8_t* data, size_t length) override {
    if (!data || length == 0 || length > 0xFFFF || channel_->gone()) return -1;
    auto reply = channel_->Call(wire::kGetFeature, [&](wire::Writer& w) {
      w.U32(channel_->handle()).U16(uint16_t(length)).U8(data[0]);
    });
    if (!reply || reply->result < 0) return -1;
    const size_t n = std::min({length, reply->payload.size(), size_t(reply->result)});
    std::memcpy(data, reply->payload.data(), n);
    return int(n);
  }

 private:
  const std::unique_ptr<Channel> channel_;
  const HidInterfaceInfo info_;
};

class SimSocketBackend final : public HidBackend {
 public:
  explicit SimSocketBackend(std::string path)
      : path_(std::move(path)), hotplug_(std::make_shared<HotplugDispatch>()) {
    link_ = Link::Connect(path_, hotplug_, OnLost());
    if (!link_) Note("no simulated mouse at " + path_ + " yet");
    retry_ = std::thread([this] { Retry(); });
  }

  ~SimSocketBackend() override {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
    }
    cv_.notify_all();
    retry_.join();
    hotplug_->SetSink(nullptr);
    hotplug_->Stop();
    if (std::shared_ptr<Link> link = Current(false)) link->Shutdown();
  }

  std::vector<HidInterfaceInfo> Enumerate() override {
    std::shared_ptr<Link> link = Current(true);
    if (!link) return {};
    return link->List().value_or(std::vector<HidInterfaceInfo>{});
  }

  std::unique_ptr<HidDevice> Open(const std::string& path) override {
    std::shared_ptr<Link> link = Current(true);
    if (!link) return nullptr;
    std::optional<HidInterfaceInfo> info = link->Known(path);
    if (!info) {
      link->List();
      info = link->Known(path);
      if (!info) return nullptr;
    }
    std::unique_ptr<Channel> channel = Channel::Open(path_, path);
    if (!channel) return nullptr;
    return std::make_unique<SimDevice>(std::move(channel), *info);
  }

  bool StartHotplug(std::function<void(const HotplugEvent&)> sink) override {
    if (!sink) return false;
    hotplug_->SetSink(std::move(sink));
    return true;
  }

  void StopHotplug() override { hotplug_->SetSink(nullptr); }

 private:
  // The live link; with `connect`, a lost or missing one is replaced when the mouse answers.
  std::shared_ptr<Link> Current(bool connect) {
    // A replaced link goes after the lock: its receive thread may be waiting for it (OnLost).
    std::shared_ptr<Link> replaced;
    std::lock_guard<std::mutex> lock(mu_);
    if (connect && !stop_ && (!link_ || link_->lost())) {
      if (std::shared_ptr<Link> fresh = Link::Connect(path_, hotplug_, OnLost())) replaced = std::exchange(link_, fresh);
    }
    return link_;
  }

  // While the mouse is away, keeps trying; when it comes back, its interfaces arrive.
  // A live link wakes nothing here: its loss does (WakeRetry), and only then is the mouse looked
  // for at intervals.
  void Retry() {
    brevak::ExternalWaitScope outside;
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
      if (link_ && !link_->lost()) {
        cv_.wait(lock, [this] { return stop_ || !link_ || link_->lost(); });
      } else {
        cv_.wait_for(lock, kRetryInterval, [this] { return stop_; });
      }
      if (stop_) return;
      if (link_ && !link_->lost()) continue;
      std::shared_ptr<Link> fresh = Link::Connect(path_, hotplug_, OnLost());
      if (!fresh) continue;
      std::shared_ptr<Link> replaced = std::exchange(link_, fresh);
      lock.unlock();
      replaced.reset();  // outside the lock, as in Current
      if (auto list = fresh->List()) {
        for (const auto& info : *list) hotplug_->Announce(HotplugEvent{HotplugEvent::kArrival, info.path});
      }
      lock.lock();
    }
  }

  // What a link calls once lost: wakes Retry. A device may keep a link past this backend, so
  // the link holds the waking state weakly, never the backend.
  struct Wake {
    std::mutex mu;
    std::condition_variable cv;
  };
  std::function<void()> OnLost() {
    return [weak = std::weak_ptr<Wake>(wake_)] {
      if (std::shared_ptr<Wake> w = weak.lock()) {
        { std::lock_guard<std::mutex> lock(w->mu); }
        w->cv.notify_all();
      }
    };
  }

  const std::string path_;
  const std::shared_ptr<HotplugDispatch> hotplug_;
  const std::shared_ptr<Wake> wake_ = std::make_shared<Wake>();
  std::mutex& mu_ = wake_->mu;
  std::condition_variable& cv_ = wake_->cv;
  bool stop_ = false;
  std::shared_ptr<Link> link_;
  std::thread retry_;
};

}  // namespace

std::unique_ptr<HidBackend> MakeSimSocketBackend(const std::string& socket_path) {
  return std::make_unique<SimSocketBackend>(socket_path);
}

}  // namespace zentrix
