#pragma once
// The one contact with the Tarnwick app: a POST of a command to its automation endpoint.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "server/settings.hpp"

// Where the app listens, and how long an exchange may stand still before it is given up.
// Fixed at start-up; tests aim it at a fake app and shorten the wait.
struct Automation {
  std::int64_t port = defaultPort;
  std::chrono::milliseconds idleLimit = std::chrono::seconds(60);
};

struct AutomationResult {
  std::string text;     // the app's body as UTF-8, or the reach-failure text
  bool isError = true;  // the app answered 400 or above, or could not be reached
  long status = 0;      // the status of the app's whole answer; 0 when there was none
  bool dropped = false; // given up on the watcher's word: text is empty, nothing was learnt
};

// What the watcher of an exchange makes of what it was woken for.
enum class Heard { Nothing, StopWatching, Drop };

// Something an exchange keeps an eye on while it waits for the app: a descriptor, and what to
// make of it. The bridge knows nothing of what arrives there; the loop, which reads the
// client's input, does. `check` is asked once before the app is contacted, with `readable`
// false (what already arrived may decide), then each time `fd` can be read. `fd` -1 watches
// nothing.
struct Watch {
  int fd = -1;
  std::function<Heard(bool readable)> check;
};

// The command body as the app reads it: compact JSON with "/" written as "\/".
std::string commandBody(const nlohmann::json& body);

// The text shown when the app could not be reached on `port`, ending with the cause.
std::string reachFailure(std::int64_t port, std::string_view cause);

// Limits `handle` (a libcurl CURL*) to plain HTTP, with whichever option the libcurl in use
// takes. False when it takes neither: the handle may then reach other protocols.
bool restrictToHttp(void* handle);

// Posts `body` to http://127.0.0.1:<port>/<command> and waits for the whole answer, however
// slowly it comes, as long as no stretch of `idleLimit` passes without a byte moving.
// Meanwhile it keeps `watch`: on Drop the connection is closed at once (or never opened) and the
// result is `dropped`; after StopWatching the descriptor is left alone.
// Never throws: an app that cannot be reached, stands still, or breaks off the exchange gives
// the reach-failure text; otherwise the body is the text and a status of 400 or above is an error.
AutomationResult call(const Automation& automation, std::string_view command, const nlohmann::json& body,
                      const Watch& watch = {});
