#pragma once
// Serves a SimMouse on a Unix stream socket (protocol in zentrix/sim_wire.h), in real time, to
// any number of clients: the four zentrix builds of a program each connect, and so does
// `brevak-mousesim ctl`. One thread runs a poll loop; requests are answered in arrival order,
// and the mouse's reports are pushed after the reply to the request that caused them.

#include <memory>
#include <string>
#include <thread>

#include "sim/sim_mouse.h"

namespace brevak::sim {

class SocketServer {
 public:
  struct Options {
    std::string path;
    // A power status on every linked receiver this often, so that the program's receiver
    // watchdogs stay quiet; 0 turns it off.
    int power_interval_ms = 1000;
    size_t max_clients = 32;
  };

  // The mouse must outlive the server.
  SocketServer(SimMouse& mouse, Options options);
  ~SocketServer();  // Stop()
  SocketServer(const SocketServer&) = delete;
  SocketServer& operator=(const SocketServer&) = delete;

  // Binds the socket (taking over a stale file left by a server that died, refusing one that
  // still answers) and starts serving. False with the reason in `error` when it cannot.
  bool Start(std::string* error);
  // Closes every client and removes the socket file. Idempotent.
  void Stop();

  class Impl;

 private:
  std::shared_ptr<Impl> impl_;
  SimMouse& mouse_;
  std::thread thread_;
};

}  // namespace brevak::sim
