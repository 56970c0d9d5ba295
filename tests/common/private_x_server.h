#pragma once
// A private X server for one test: Xvfb on a display it picks itself (-displayfd), reached
// through DISPLAY. Nothing touches the user's own X session.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>

extern char** environ;

namespace brevak::test {

class PrivateXServer {
 public:
  PrivateXServer() {
    const char* old = std::getenv("DISPLAY");
    if (old) old_display_ = old;
    had_old_ = old != nullptr;
    // A display number of our own choosing, far from the usual ones: a server that another
    // test stops on a number it just freed removes that number's socket as it exits, which
    // would take ours with it if we had picked the same number right after.
    std::random_device random;
    for (int attempt = 0; attempt < 5 && display_.empty(); ++attempt) {
      Start(std::to_string(200 + random() % 700));
    }
    if (display_.empty()) {
      error_ += " (the xvfb package provides it)";
      return;
    }
    setenv("DISPLAY", display_.c_str(), 1);
  }
  ~PrivateXServer() {
    Kill();
    if (had_old_) setenv("DISPLAY", old_display_.c_str(), 1);
    else unsetenv("DISPLAY");
  }
  PrivateXServer(const PrivateXServer&) = delete;
  PrivateXServer& operator=(const PrivateXServer&) = delete;

  bool ok() const { return !display_.empty(); }
  const std::string& error() const { return error_; }

  // The server goes away, as when the X session ends.
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    // A server still handling its last client's exit may miss the request: then it is killed.
    for (int waited_ms = 0; waitpid(pid_, nullptr, WNOHANG) == 0; waited_ms += 10) {
      if (waited_ms == 2000) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        break;
      }
      usleep(10000);
    }
    pid_ = 0;
  }

 private:
  void Start(const std::string& number) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
      error_ = "pipe failed";
      return;
    }
    // Xvfb writes the display number to the write end once it is ready; it must inherit it.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    // Not the test's output: a test that dies would leave the server holding ctest's pipe open.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const std::string display = ":" + number;
    const char* argv[] = {"Xvfb", display.c_str(), "-displayfd", "3", "-nolisten", "tcp", "-noreset",
                          "-screen", "0", "1024x768x24", nullptr};
    if (posix_spawnp(&pid_, argv[0], &actions, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    error_.clear();
    if (pid_ > 0) ReadDisplay(fds[0]);
    close(fds[0]);
    if (display_.empty()) {
      if (error_.empty()) error_ = pid_ > 0 ? "Xvfb did not report a display" : "Xvfb could not be run";
      Kill();  // a taken number: the caller tries another
    }
  }

  void ReadDisplay(int fd) {
    std::string number;
    char c;
    pollfd p{fd, POLLIN, 0};
    // Ten seconds for the server to come up; the number ends with a newline.
    while (poll(&p, 1, 10000) > 0 && read(fd, &c, 1) == 1) {
      if (c == '\n') {
        display_ = ":" + number;
        return;
      }
      number += c;
    }
    error_ = "Xvfb exited or hung before reporting a display";
  }

  pid_t pid_ = 0;
  std::string display_, error_, old_display_;
  bool had_old_ = false;
};

}  // namespace brevak::test
