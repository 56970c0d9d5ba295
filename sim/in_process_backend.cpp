#include "sim/in_process_backend.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>

#include "platform/clock.h"
#include "platform/loop.h"
#include "platform/system.h"
#include "platform/winapi.h"

namespace brevak::sim {

using zentrix::HidInterfaceInfo;
using zentrix::HotplugEvent;

namespace {

// Like hidraw, a handle nobody reads keeps only its most recent reports.
constexpr size_t kQueueLimit = 256;

thread_local int t_sink_depth = 0;

struct Queued {
  int64_t due;
  std::vector<uint8_t> bytes;
};

struct DeviceState {
  ParsedPath where;
  HidInterfaceInfo info;
  HANDLE event = nullptr;  // auto-reset; set whenever something changes for the reader
  std::mutex mu;
  std::deque<Queued> queue;  // ordered by due time
  bool cancelled = false;
  bool gone = false;

  void Wake() { SetEvent(event); }
  void Push(int64_t due, const std::vector<uint8_t>& bytes) {
    {
      std::lock_guard<std::mutex> lock(mu);
      if (gone) return;
      auto at = std::upper_bound(queue.begin(), queue.end(), due,
                                 [](int64_t d, const Queued& q) { return d < q.due; });
      queue.insert(at, Queued{due, bytes});
      if (queue.size() > kQueueLimit) queue.pop_front();
    }
    Wake();
  }
  void MarkGone() {
    {
      std::lock_guard<std::mutex> lock(mu);
      gone = true;
      queue.clear();
    }
    Wake();
  }
};

}  // namespace

class InProcessBackend::Core : public SimMouseListener {
 public:
  explicit Core(SimMouse& mouse) : mouse_(mouse) {}

  SimMouse& mouse() { return mouse_; }

  void OnEvent(const SimEvent& e) override {
    switch (e.kind) {
      case SimEvent::Kind::kStatus: {
        if (e.connection == Connection::kBle) return;  // notifications, not HID reports
        const std::vector<uint8_t> report = StatusInputReport(e.connection, e.status);
        const int64_t due = ClockNowMs() + e.delay_ms;
        for (const auto& d : Live(e.connection)) {
          if (d->where.kind == zentrix::InterfaceKind::kOsd) d->Push(due, report);
        }
        break;
      }
      case SimEvent::Kind::kPlugged:
        for (const HidInterfaceInfo& info : ConnectionInterfaces(e.connection))
          CallSink(HotplugEvent{HotplugEvent::kArrival, info.path});
        break;
      case SimEvent::Kind::kUnplugged:
        for (const auto& d : Live(e.connection)) d->MarkGone();
        for (const HidInterfaceInfo& info : ConnectionInterfaces(e.connection))
          CallSink(HotplugEvent{HotplugEvent::kRemoval, info.path});
        break;
    }
  }

  std::shared_ptr<DeviceState> Add(const ParsedPath& where, const HidInterfaceInfo& info) {
    auto d = std::make_shared<DeviceState>();
    d->where = where;
    d->info = info;
    d->event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::lock_guard<std::mutex> lock(mu_);
    if (detached_) return nullptr;
    std::erase_if(devices_, [](const auto& w) { return w.expired(); });
    devices_.push_back(d);
    return d;
  }

  // Ends every handle; the mouse is not touched through this core again.
  void Detach() {
    std::vector<std::shared_ptr<DeviceState>> all;
    {
      std::lock_guard<std::mutex> lock(mu_);
      detached_ = true;
      for (const auto& w : devices_) {
        if (auto d = w.lock()) all.push_back(d);
      }
      devices_.clear();
    }
    for (const auto& d : all) d->MarkGone();
    SetSink(nullptr);
  }

  // Sink 0 is the one StartHotplug sets; AddSink gives the others their ids.
  bool SetSink(std::function<void(const HotplugEvent&)> sink) {
    if (!sink) {
      RemoveSink(0);
      return true;
    }
    std::lock_guard<std::mutex> lock(sink_mu_);
    sinks_[0] = std::move(sink);
    return true;
  }
  int AddSink(std::function<void(const HotplugEvent&)> sink) {
    std::lock_guard<std::mutex> lock(sink_mu_);
    const int id = next_sink_id_++;
    sinks_[id] = std::move(sink);
    return id;
  }
  // After it returns the sink is not called again.
  void RemoveSink(int id) {
    std::unique_lock<std::mutex> lock(sink_mu_);
    sinks_.erase(id);
    if (sink_busy_ > t_sink_depth) {
      ExternalWaitScope outside;  // a sink call on another thread is finishing
      sink_cv_.wait(lock, [this] { return sink_busy_ <= t_sink_depth; });
    }
  }

 private:
  std::vector<std::shared_ptr<DeviceState>> Live(Connection c) {
    std::vector<std::shared_ptr<DeviceState>> out;
    std::lock_guard<std::mutex> lock(mu_);
    for (const auto& w : devices_) {
      auto d = w.lock();
      if (d && d->where.connection == c) out.push_back(std::move(d));
    }
    return out;
  }

  void CallSink(const HotplugEvent& e) {
    std::vector<std::function<void(const HotplugEvent&)>> sinks;
    {
      std::lock_guard<std::mutex> lock(sink_mu_);
      if (sinks_.empty()) return;
      for (const auto& [id, sink] : sinks_) sinks.push_back(sink);
      ++sink_busy_;
    }
    ++t_sink_depth;
    for (const auto& sink : sinks) sink(e);
    --t_sink_depth;
    {
      std::lock_guard<std::mutex> lock(sink_mu_);
      --sink_busy_;
    }
    sink_cv_.notify_all();
  }

  SimMouse& mouse_;
  std::mutex mu_;
  std::vector<std::weak_ptr<DeviceState>> devices_;
  bool detached_ = false;

  std::mutex sink_mu_;
  std::condition_variable sink_cv_;
  std::map<int, std::function<void(const HotplugEvent&)>> sinks_;
  int next_sink_id_ = 1;
  int sink_busy_ = 0;
};

namespace {

class Device final : public zentrix::HidDevice {
 public:
  Device(std::shared_ptr<InProcessBackend::Core> core, std::shared_ptr<DeviceState> state)
      : core_(std::move(core)), s_(std::move(state)) {}
  ~Device() override {
    s_->MarkGone();
    CloseHandle(s_->event);
  }

  const HidInterfaceInfo& info() const override { return s_->info; }

  int Write(const uint8_t* data, size_t length) override {
    if (!Usable()) return -1;
    return core_->mouse().Write(s_->where.connection, *s_->where.kind, data, length);
  }

  int Read(uint8_t* data, size_t capacity, int timeout_ms) override {
    if (!data || capacity == 0) return -1;
    const int64_t start = ClockNowMs();
    const int64_t deadline = timeout_ms < 0 ? INT64_MAX : start + timeout_ms;
    for (;;) {
      const int64_t now = ClockNowMs();
      int64_t until = deadline;
      {
        std::lock_guard<std::mutex> lock(s_->mu);
        if (s_->cancelled || s_->gone) return -1;
        if (!s_->queue.empty()) {
          if (s_->queue.front().due <= now) {
            const std::vector<uint8_t> bytes = std::move(s_->queue.front().bytes);
            s_->queue.pop_front();
            const size_t n = std::min(capacity, bytes.size());
            std::memcpy(data, bytes.data(), n);
            return int(n);
          }
          until = std::min(until, s_->queue.front().due);
        }
      }
      if (now >= deadline) return 0;
      const DWORD wait = until == INT64_MAX ? INFINITE : DWORD(std::min<int64_t>(until - now, INFINITE - 1));
      WaitForSingleObject(s_->event, wait);
    }
  }

  void Cancel() override {
    {
      std::lock_guard<std::mutex> lock(s_->mu);
      s_->cancelled = true;
    }
    s_->Wake();
  }

  bool SetFeature(const uint8_t* data, size_t length) override {
    if (!Usable()) return false;
    return core_->mouse().SetFeature(s_->where.connection, *s_->where.kind, data, length);
  }

  int GetFeature(uint8_t* data, size_t length) override {
    if (!Usable()) return -1;
    return core_->mouse().GetFeature(s_->where.connection, *s_->where.kind, data, length);
  }

 private:
  bool Usable() {
    std::lock_guard<std::mutex> lock(s_->mu);
    return !s_->gone && s_->where.kind.has_value();
  }

  std::shared_ptr<InProcessBackend::Core> core_;
  std::shared_ptr<DeviceState> s_;
};

}  // namespace

InProcessBackend::InProcessBackend(SimMouse& mouse) : core_(std::make_shared<Core>(mouse)) {
  mouse.AddListener(core_);
}

InProcessBackend::~InProcessBackend() {
  core_->mouse().RemoveListener(core_.get());
  core_->Detach();
}

std::vector<HidInterfaceInfo> InProcessBackend::Enumerate() { return core_->mouse().PresentInterfaces(); }

std::unique_ptr<zentrix::HidDevice> InProcessBackend::Open(const std::string& path) {
  const std::optional<ParsedPath> where = ParseInterfacePath(path);
  if (!where || !core_->mouse().IsPlugged(where->connection)) return nullptr;
  for (const HidInterfaceInfo& info : ConnectionInterfaces(where->connection)) {
    if (info.path != path) continue;
    std::shared_ptr<DeviceState> state = core_->Add(*where, info);
    if (!state) return nullptr;
    // An unplug between the check above and Add would leave a live handle on a gone device.
    if (!core_->mouse().IsPlugged(where->connection)) state->MarkGone();
    return std::make_unique<Device>(core_, std::move(state));
  }
  return nullptr;
}

bool InProcessBackend::StartHotplug(std::function<void(const HotplugEvent&)> sink) {
  if (!sink) return false;
  return core_->SetSink(std::move(sink));
}

void InProcessBackend::StopHotplug() { core_->SetSink(nullptr); }

int InProcessBackend::AddHotplugSink(std::function<void(const HotplugEvent&)> sink) {
  return sink ? core_->AddSink(std::move(sink)) : 0;
}

void InProcessBackend::RemoveHotplugSink(int id) {
  if (id > 0) core_->RemoveSink(id);
}

namespace {
std::mutex g_install_mu;
std::unique_ptr<InProcessBackend> g_installed;
}  // namespace

InProcessBackend& InstallInProcessSim(SimMouse& mouse) {
  std::lock_guard<std::mutex> lock(g_install_mu);
  SetProcessObject(zentrix::kHidBackendObjectName, nullptr);
  g_installed.reset();
  g_installed = std::make_unique<InProcessBackend>(mouse);
  SetProcessObject(zentrix::kHidBackendObjectName, static_cast<zentrix::HidBackend*>(g_installed.get()));
  return *g_installed;
}

void UninstallInProcessSim() {
  std::lock_guard<std::mutex> lock(g_install_mu);
  SetProcessObject(zentrix::kHidBackendObjectName, nullptr);
  g_installed.reset();
}

}  // namespace brevak::sim
