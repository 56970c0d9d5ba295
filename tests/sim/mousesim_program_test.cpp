// brevak-mousesim as the run command starts it: a server process, driven by its `ctl` client.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Outcome {
  int exit_code = -1;
  std::string out, err;
};

// Starts the program with `args`; its stdout and stderr come back through pipes.
pid_t Spawn(const std::vector<std::string>& args, int* out_fd, int* err_fd) {
  int out[2], err[2];
  if (::pipe(out) != 0 || ::pipe(err) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, err[0]);
  std::vector<char*> argv;
  std::string program = BREVAK_MOUSESIM;
  argv.push_back(program.data());
  std::vector<std::string> copy = args;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  *out_fd = out[0];
  *err_fd = err[0];
  return pid;
}

// Reads what is there until end of file or `timeout_ms` without any output.
std::string Drain(int fd, int timeout_ms, const char* until = nullptr) {
  std::string text;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) break;
    char buf[4096];
    const ssize_t k = ::read(fd, buf, sizeof buf);
    if (k <= 0) break;
    text.append(buf, size_t(k));
    if (until && text.find(until) != std::string::npos) break;
  }
  return text;
}

Outcome Ctl(const std::vector<std::string>& args) {
  int out = -1, err = -1;
  const pid_t pid = Spawn(args, &out, &err);
  Outcome r;
  if (pid < 0) return r;
  r.out = Drain(out, 10000);
  r.err = Drain(err, 1000);
  ::close(out);
  ::close(err);
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST(MousesimProgram, ServesAndAnswersItsControlClient) {
  char dir[] = "/tmp/brevak-mousesim-test-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string sock = std::string(dir) + "/mouse.sock";

  int out = -1, err = -1;
  const pid_t server = Spawn({"--socket", sock, "--connect", "4k", "--connect", "cable"}, &out, &err);
  ASSERT_GT(server, 0);
  const std::string banner = Drain(out, 10000, "\n");
  EXPECT_EQ(banner, "brevak-mousesim: serving on " + sock + " (4k, cable)\n");

  const Outcome dump = Ctl({"ctl", "--socket", sock, "dump"});
  EXPECT_EQ(dump.exit_code, 0) << dump.err;
  EXPECT_EQ(dump.out.rfind("{\n  \"connections\": {", 0), 0u) << dump.out;
  EXPECT_NE(dump.out.find("\"4k\": {\"plugged\": true"), std::string::npos) << dump.out;
  EXPECT_NE(dump.out.find("\"1k\": {\"plugged\": false"), std::string::npos) << dump.out;

  EXPECT_EQ(Ctl({"ctl", "--socket", sock, "battery", "40"}).out, "ok\n");
  EXPECT_NE(Ctl({"ctl", "--socket", sock, "dump"}).out.find("\"battery\": 40"), std::string::npos);
  const Outcome refused = Ctl({"ctl", "--socket", sock, "battery", "400"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.err.find("usage: battery"), std::string::npos) << refused.err;
  const Outcome nobody = Ctl({"ctl", "--socket", std::string(dir) + "/none.sock", "dump"});
  EXPECT_EQ(nobody.exit_code, 2);
  EXPECT_NE(nobody.err.find("no simulated mouse"), std::string::npos) << nobody.err;

  // A second server on the same socket is refused while the first one runs.
  const Outcome second = Ctl({"--socket", sock});
  EXPECT_EQ(second.exit_code, 1);
  EXPECT_NE(second.err.find("already serves"), std::string::npos) << second.err;

  ::kill(server, SIGTERM);
  int status = 0;
  ::waitpid(server, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(std::filesystem::exists(sock));
  ::close(out);
  ::close(err);
  std::filesystem::remove_all(dir);
}

TEST(MousesimProgram, BadArgumentsAreExplained) {
  const Outcome r = Ctl({"--connect", "usb"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("--connect takes cable, 1k, 4k, 8k or ble"), std::string::npos) << r.err;
  EXPECT_EQ(Ctl({"ctl"}).exit_code, 2);
}

}  // namespace
