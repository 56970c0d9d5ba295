#include "zentrix/sim_socket_backend.h"

#include <poll.h>
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
constexpr size_t kEarlyHandles = 16;  // handles whose first reports beat their Open reply

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

struct DeviceQueue {
  std::mutex mu;
  std::condition_variable cv;
  std::deque<std::vector<uint8_t>> reports;
  bool cancelled = false;
  bool gone = false;

  void Push(std::vector<uint8_t> report) {
    {
      std::lock_guard<std::mutex> lock(mu);
      if (gone) return;
      reports.push_back(std::move(report));
      if (reports.size() > kQueueLimit) reports.pop_front();
    }
    cv.notify_all();
  }
  void End(bool cancel) {
    {
      std::lock_guard<std::mutex> lock(mu);
      (cancel ? cancelled : gone) = true;
    }
    cv.notify_all();
  }
};

struct ReplyData {
  int32_t result = -1;
  std::vector<uint8_t> payload;
};

// One connection to the simulated mouse. Devices keep theirs alive; once it is lost it stays
// lost, and the backend makes a new one.
class Link {
 public:
  // `on_lost` is called (on the receive thread) once the link is lost.
  static std::shared_ptr<Link> Connect(const std::string& path, std::shared_ptr<HotplugDispatch> hotplug,
                                       std::function<void()> on_lost) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) return nullptr;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(fd);
      return nullptr;
    }
    auto link = std::shared_ptr<Link>(new Link(fd, std::move(hotplug)));
    if (!link->Greet()) return nullptr;  // the destructor closes the socket
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
    wire::Writer w(type);
    w.U32(id);
    fields(w);
    bool sent;
    {
      std::lock_guard<std::mutex> lock(send_mu_);
      sent = wire::SendAll(fd_, w.Finish());
    }
    std::unique_lock<std::mutex> lock(mu_);
    if (sent) {
      cv_.wait_until(lock, Clock::now() + kReplyTimeout, [&] { return closed_ || pending_[id].has_value(); });
    }
    std::optional<ReplyData> reply = std::move(pending_[id]);
    pending_.erase(id);
    return reply;
  }

  // Sends without waiting for the reply (the close of a device going away).
  template <typename Fields>
  void Post(wire::Type type, Fields fields) {
    wire::Writer w(type);
    w.U32(0);  // id 0 is never waited for
    fields(w);
    std::lock_guard<std::mutex> lock(send_mu_);
    wire::SendAll(fd_, w.Finish());
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

  std::shared_ptr<DeviceQueue> Register(uint32_t handle) {
    auto q = std::make_shared<DeviceQueue>();
    std::lock_guard<std::mutex> lock(mu_);
    if (closed_) q->gone = true;
    auto early = early_.find(handle);
    if (early != early_.end()) {
      for (auto& r : early->second.reports) q->reports.push_back(std::move(r));
      q->gone = q->gone || early->second.gone;
      early_.erase(early);
    }
    devices_[handle] = q;
    return q;
  }

  void Unregister(uint32_t handle) {
    std::lock_guard<std::mutex> lock(mu_);
    devices_.erase(handle);
  }

 private:
  Link(int fd, std::shared_ptr<HotplugDispatch> hotplug) : fd_(fd), hotplug_(std::move(hotplug)) {}

  bool Greet() {
    if (!wire::SendAll(fd_, wire::Writer(wire::kHello).U32(wire::kMagic).U16(wire::kVersion).Finish())) return false;
    const auto deadline = Clock::now() + kReplyTimeout;
    for (;;) {
      if (std::optional<std::vector<uint8_t>> body = in_.Next()) {
        wire::Reader r(*body);
        uint8_t type = 0;
        uint16_t version = 0;
        if (r.U8(type) && type == wire::kHelloReply && r.U16(version) && version == wire::kVersion) return true;
        std::string why;
        if (type == wire::kError && r.Str(why)) Note(why);
        return false;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      pollfd p{fd_, POLLIN, 0};
      if (in_.broken() || left <= 0 || ::poll(&p, 1, int(left)) <= 0) return false;
      uint8_t buf[4096];
      const ssize_t k = ::recv(fd_, buf, sizeof buf, 0);
      if (k <= 0) return false;
      in_.Feed(buf, size_t(k));
    }
  }

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
          if (it == pending_.end()) return;  // timed out, or a posted close
          it->second = std::move(reply);
        }
        cv_.notify_all();
        return;
      }
      case wire::kInput: {
        uint32_t handle = 0;
        std::vector<uint8_t> report;
        if (!r.U32(handle) || !r.Bytes(report)) return;
        if (std::shared_ptr<DeviceQueue> q = Device(handle)) return q->Push(std::move(report));
        std::lock_guard<std::mutex> lock(mu_);
        EarlyReports& e = EarlyFor(handle);
        if (e.reports.size() < kQueueLimit) e.reports.push_back(std::move(report));
        return;
      }
      case wire::kHandleGone: {
        uint32_t handle = 0;
        if (!r.U32(handle)) return;
        if (std::shared_ptr<DeviceQueue> q = Device(handle)) return q->End(false);
        std::lock_guard<std::mutex> lock(mu_);
        EarlyFor(handle).gone = true;
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

  // What arrived for a handle whose Open reply is still on its way to the caller (or whose
  // device has just been closed); only the newest few handles are kept. Call with mu_ held.
  struct EarlyReports {
    std::deque<std::vector<uint8_t>> reports;
    bool gone = false;
  };
  EarlyReports& EarlyFor(uint32_t handle) {
    if (!early_.count(handle) && early_.size() >= kEarlyHandles) early_.erase(early_.begin());
    return early_[handle];
  }

  std::shared_ptr<DeviceQueue> Device(uint32_t handle) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = devices_.find(handle);
    return it == devices_.end() ? nullptr : it->second.lock();
  }

  // The mouse went away (or we hung up): every device ends, every interface is removed.
  void Lost() {
    std::vector<std::shared_ptr<DeviceQueue>> devices;
    std::set<std::string> present;
    {
      std::lock_guard<std::mutex> lock(mu_);
      closed_ = true;
      for (auto& [handle, w] : devices_) {
        if (auto q = w.lock()) devices.push_back(std::move(q));
      }
      present.swap(present_);
    }
    cv_.notify_all();
    for (const auto& q : devices) q->End(false);
    for (const auto& path : present) hotplug_->Announce(HotplugEvent{HotplugEvent::kRemoval, path});
    if (on_lost_) on_lost_();
  }

  const int fd_;
  const std::shared_ptr<HotplugDispatch> hotplug_;
  std::function<void()> on_lost_;  // set before the receive thread starts
  wire::Stream in_;  // Greet, then the receive thread
  std::mutex send_mu_;

  std::mutex mu_;
  std::condition_variable cv_;
  bool closed_ = false;
  uint32_t next_id_ = 1;
  std::map<uint32_t, std::optional<ReplyData>> pending_;
  std::map<uint32_t, std::weak_ptr<DeviceQueue>> devices_;
  std::map<uint32_t, EarlyReports> early_;
  std::map<std::string, HidInterfaceInfo> known_;
  std::set<std::string> present_;

  std::thread rx_;
};

class SimDevice final : public HidDevice {
 public:
  SimDevice(std::shared_ptr<Link> link, uint32_t handle, HidInterfaceInfo info)
      : link_(std::move(link)), handle_(handle), info_(std::move(info)), q_(link_->Register(handle_)) {}

  ~SimDevice() override {
    q_->End(false);
    link_->Unregister(handle_);
    link_->Post(wire::kClose, [&](wire::Writer& w) { w.U32(handle_); });
  }

  const HidInterfaceInfo& info() const override { return info_; }

  int Write(const uint8_t* data, size_t length) override {
    if (!data || length == 0 || Ended()) return -1;
    auto reply = link_->Call(wire::kWrite, [&](wire::Writer& w) { w.U32(handle_).Bytes(data, length); });
    return reply ? reply->result : -1;
  }

  int Read(uint8_t* data, size_t capacity, int timeout_ms) override {
    if (!data || capacity == 0) return -1;
    brevak::ExternalWaitScope outside;
    std::unique_lock<std::mutex> lock(q_->mu);
    auto ready = [this] { return q_->cancelled || q_->gone || !q_->reports.empty(); };
    if (timeout_ms < 0) {
      q_->cv.wait(lock, ready);
    } else if (!q_->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready)) {
      return 0;
    }
    if (q_->cancelled || q_->gone) return -1;
    const std::vector<uint8_t> report = std::move(q_->reports.front());
    q_->reports.pop_front();
    const size_t n = std::min(capacity, report.size());
    std::memcpy(data, report.data(), n);
    return int(n);
  }

  void Cancel() override { q_->End(true); }

  bool SetFeature(const uint8_t* data, size_t length) override {
    if (!data || length == 0 || Ended()) return false;
    auto reply = link_->Call(wire::kSetFeature, [&](wire::Writer& w) { w.U32(handle_).Bytes(data, length); });
    return reply && reply->result == 1;
  }

  int GetFeature(uint8_t* data, size_t length) override {
    if (!data || length == 0 || length > 0xFFFF || Ended()) return -1;
    auto reply = link_->Call(wire::kGetFeature,
                             [&](wire::Writer& w) { w.U32(handle_).U16(uint16_t(length)).U8(data[0]); });
    if (!reply || reply->result < 0) return -1;
    const size_t n = std::min({length, reply->payload.size(), size_t(reply->result)});
    std::memcpy(data, reply->payload.data(), n);
    return int(n);
  }

 private:
  bool Ended() {
    std::lock_guard<std::mutex> lock(q_->mu);
    return q_->gone;
  }

  std::shared_ptr<Link> link_;
  const uint32_t handle_;
  const HidInterfaceInfo info_;
  std::shared_ptr<DeviceQueue> q_;
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
    auto reply = link->Call(wire::kOpen, [&](wire::Writer& w) { w.Str(path); });
    if (!reply || reply->result <= 0) return nullptr;
    return std::make_unique<SimDevice>(link, uint32_t(reply->result), *info);
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
