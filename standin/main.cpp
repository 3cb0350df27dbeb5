// tarnwick-standin: a pretend Tarnwick app on 127.0.0.1 for trying and testing tarnwick-mcp.
#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <time.h>

#include "standin/service.hpp"

namespace {

const char* const usage =
    "Usage: tarnwick-standin [--port N]\n"
    "\n"
    "A stand-in for the Tarnwick app's automation endpoint, so that tarnwick-mcp can be tried and\n"
    "tested without a Mac. It conditions nothing: it keeps rules in memory, shows a made-up booted\n"
    "simulator with a few apps and makes up the requests it reports.\n"
    "\n"
    "It listens on 127.0.0.1 at the port from --port, else TARNWICK_PORT, else 47300; --port 0\n"
    "picks a free port. It prints one line, \"tarnwick-standin listening on 127.0.0.1:PORT\", and\n"
    "runs until SIGINT or SIGTERM.\n";

// Returns -1 unless `text` is a whole port number from 0 to 65535.
int parsePort(const std::string& text) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return -1;
  const int port = std::stoi(text);
  return port <= 65535 ? port : -1;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "tarnwick-standin: %s\n%s", message.c_str(), usage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const char* env = std::getenv("TARNWICK_PORT");
  std::string portText = env && *env ? env : "47300";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(usage, stdout);
      return 0;
    }
    if (arg != "--port" || i + 1 == argc) return fail("unknown argument \"" + arg + "\"");
    portText = argv[++i];
  }
  const int port = parsePort(portText);
  if (port < 0) return fail("\"" + portText + "\" is no port number (0 to 65535)");

  // Blocked in every thread and taken by the main thread, so that stopping needs no signal handler.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  httplib::Server server;
  standin::Standin standin;
  standin::serve(server, standin);
  const int bound =
      port == 0 ? server.bind_to_any_port("127.0.0.1") : (server.bind_to_port("127.0.0.1", port) ? port : -1);
  if (bound <= 0) {
    std::fprintf(stderr, "tarnwick-standin: cannot listen on 127.0.0.1:%d\n", port);
    return 1;
  }
  std::thread listener;
  if (!standin::startListening(server, listener)) {
    std::fprintf(stderr, "tarnwick-standin: cannot serve on 127.0.0.1:%d\n", bound);
    server.stop();
    listener.join();
    return 1;
  }
  std::printf("tarnwick-standin listening on 127.0.0.1:%d\n", bound);
  std::fflush(stdout);

  // A stop signal stays pending while blocked; looking for it now and then (sigtimedwait is
  // missing on macOS) also notices listening that ended by itself, so the process never lingers.
  const timespec tick{0, 100'000'000};
  for (;;) {
    sigset_t pending;
    sigpending(&pending);
    if (!server.is_running() || sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1) break;
    nanosleep(&tick, nullptr);
  }
  server.stop();
  listener.join();
  return 0;
}
