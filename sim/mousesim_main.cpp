// brevak-mousesim: the simulated mouse as a program, and its control client.
//
//   brevak-mousesim [--socket PATH] [--connect cable|1k|4k|8k|ble]... [--power-interval MS]
//   brevak-mousesim ctl [--socket PATH] COMMAND...
//
// The server runs until SIGINT or SIGTERM. The control client sends one command (see
// sim/sim_control.h), prints the reply (dump prints the JSON) and exits with 0 when the
// command was taken, 1 when the mouse refused it, 2 when no mouse answered.

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sim/sim_mouse.h"
#include "zentrix/sim_wire.h"
#include "sim/socket_server.h"

namespace {

using namespace brevak::sim;
namespace wire = brevak::simwire;

constexpr char kUsage[] =
    "usage: brevak-mousesim [--socket PATH] [--connect cable|1k|4k|8k|ble]... [--power-interval MS]\n"
    "       brevak-mousesim ctl [--socket PATH] COMMAND...   (ctl help lists the commands)\n";

int Usage(const char* why) {
  if (why) std::fprintf(stderr, "brevak-mousesim: %s\n", why);
  std::fputs(kUsage, stderr);
  return 2;
}

int Serve(int argc, char** argv) {
  SocketServer::Options options;
  options.path = wire::DefaultSocketPath();
  std::vector<Connection> connect;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--socket" && has_value) {
      options.path = argv[++i];
    } else if (arg == "--connect" && has_value) {
      std::optional<Connection> c = ParseConnection(argv[++i]);
      if (!c) return Usage("--connect takes cable, 1k, 4k, 8k or ble");
      connect.push_back(*c);
    } else if (arg == "--power-interval" && has_value) {
      char* end = nullptr;
      const long ms = std::strtol(argv[++i], &end, 10);
      if (*end != 0 || ms < 0 || ms > 3600000) return Usage("--power-interval takes milliseconds, 0 for none");
      options.power_interval_ms = int(ms);
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      return Usage(("unknown argument " + arg).c_str());
    }
  }
  if (connect.empty()) connect.push_back(Connection::kCable);

  // Signals are taken by sigwait below, never by a handler on a random thread.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  SimMouse mouse;
  for (Connection c : connect) mouse.Plug(c);
  SocketServer server(mouse, options);
  std::string error;
  if (!server.Start(&error)) {
    std::fprintf(stderr, "brevak-mousesim: %s\n", error.c_str());
    return 1;
  }
  std::string plugged;
  for (Connection c : connect) plugged += std::string(plugged.empty() ? "" : ", ") + ConnectionName(c);
  std::printf("brevak-mousesim: serving on %s (%s)\n", options.path.c_str(), plugged.c_str());
  std::fflush(stdout);

  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  server.Stop();
  return 0;
}

// Reads messages until the reply to request 1 arrives; pushed events are skipped.
std::optional<std::vector<uint8_t>> AwaitReply(int fd, wire::Stream& stream, uint8_t want_type) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    while (std::optional<std::vector<uint8_t>> body = stream.Next()) {
      if (!body->empty() && ((*body)[0] == want_type || (*body)[0] == wire::kError)) return body;
    }
    if (stream.broken()) return std::nullopt;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, int(left.count())) <= 0) return std::nullopt;
    uint8_t buf[65536];
    const ssize_t k = ::recv(fd, buf, sizeof buf, 0);
    if (k <= 0) return std::nullopt;
    stream.Feed(buf, size_t(k));
  }
}

int Control(int argc, char** argv) {
  std::string path = wire::DefaultSocketPath();
  std::string command;
  int i = 2;
  if (i + 1 < argc && std::strcmp(argv[i], "--socket") == 0) {
    path = argv[i + 1];
    i += 2;
  }
  for (; i < argc; ++i) command += std::string(command.empty() ? "" : " ") + argv[i];
  if (command.empty()) return Usage("ctl needs a command");

  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return Usage("socket path too long");
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    std::fprintf(stderr, "brevak-mousesim: no simulated mouse at %s: %s\n", path.c_str(), std::strerror(errno));
    if (fd >= 0) ::close(fd);
    return 2;
  }
  wire::Stream stream;
  std::optional<std::vector<uint8_t>> reply;
  if (wire::SendAll(fd, wire::Writer(wire::kHello).U32(wire::kMagic).U16(wire::kVersion).Finish()) &&
      AwaitReply(fd, stream, wire::kHelloReply) &&
      wire::SendAll(fd, wire::Writer(wire::kControl).U32(1).Str(command).Finish())) {
    reply = AwaitReply(fd, stream, wire::kReply);
  }
  ::close(fd);
  if (!reply) {
    std::fprintf(stderr, "brevak-mousesim: the simulated mouse at %s did not answer\n", path.c_str());
    return 2;
  }
  wire::Reader r(*reply);
  uint8_t type = 0;
  uint32_t id = 0;
  int32_t result = -1;
  std::vector<uint8_t> text;
  if (r.U8(type) && type == wire::kError) {
    std::string why;
    r.Str(why);
    std::fprintf(stderr, "brevak-mousesim: %s\n", why.c_str());
    return 2;
  }
  if (!r.U32(id) || !r.I32(result) || !r.Rest(text)) return 2;
  std::string out(text.begin(), text.end());
  if (out.empty() || out.back() != '\n') out += '\n';
  std::fputs(out.c_str(), result == 0 ? stdout : stderr);
  return result == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "ctl") == 0) return Control(argc, argv);
  return Serve(argc, argv);
}
