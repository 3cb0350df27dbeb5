// The stand-in's HTTP face: the automation endpoint that tarnwick-mcp posts its commands to.
#pragma once

#include <httplib.h>

#include <mutex>
#include <string>
#include <thread>

#include "standin/state.hpp"

namespace standin {

// All of the stand-in's memory, behind the one mutex that httplib's worker threads share.
struct Standin {
  std::mutex lock;
  State state;
};

struct Answer {
  int status = 200;
  std::string text;
};

// Runs one command with a body that is already a JSON object. Never throws: refusals, unknown
// commands included (404), come back as answers with their status.
Answer runCommand(Standin& standin, const std::string& command, const json& body);

// Routes every request on `server` to `standin`. Refuses other methods than POST (405), requests
// without "X-Tarnwick: mcp" (403), unknown commands (404) and bodies that are no JSON object (400).
void serve(httplib::Server& server, Standin& standin);

// Starts `server`, already bound, on `listener` and waits (at most 10 s) until it runs, since a
// stop() that comes earlier is lost. Returns whether it runs; either way the caller stops the
// server and then joins `listener`.
bool startListening(httplib::Server& server, std::thread& listener);

}  // namespace standin
