#include "bridge/automation.hpp"

#include <algorithm>
#include <chrono>
#include <memory>
#include <new>
#include <optional>

#include <curl/curl.h>
#include <poll.h>

#include "server/output.hpp"
#include "server/utf8.hpp"

using nlohmann::json;

namespace {

struct CurlDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

struct HeaderListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;

using Clock = std::chrono::steady_clock;

// What one exchange learns as it goes. The callbacks below share it.
struct Exchange {
  CURL* handle = nullptr;
  std::string body;
  // True exactly while the last header section seen has ended with its empty line: libcurl
  // takes a connection closed in the middle of the headers for an empty answer.
  bool headersEnded = false;
  curl_off_t headerBytes = 0;
  // The idle limit: the bytes moved so far in either direction, and when that last changed.
  curl_off_t moved = -1;
  Clock::time_point lastMoved = Clock::now();
  std::chrono::milliseconds idleLimit{};
  bool stoodStill = false;
};

// An announced length is only a hint: a false or huge one must not fail the exchange.
void reserveAnnounced(Exchange& exchange) {
  constexpr curl_off_t largestHint = curl_off_t{256} << 20;
  curl_off_t length = -1;
  if (curl_easy_getinfo(exchange.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
      length <= 0 || length > largestHint) {
    return;
  }
  try {
    exchange.body.reserve(static_cast<std::size_t>(length));
  } catch (const std::bad_alloc&) {
  }
}

std::size_t appendBody(char* data, std::size_t size, std::size_t count, void* sink) try {
  auto& exchange = *static_cast<Exchange*>(sink);
  // Sized once from the announced length rather than grown, and copied, step by step.
  if (exchange.body.empty()) reserveAnnounced(exchange);
  exchange.body.append(data, size * count);
  return size * count;
} catch (...) {
  return 0;  // nothing may throw through libcurl's C frames; 0 aborts the transfer
}

std::size_t noteHeaderLine(char* data, std::size_t size, std::size_t count, void* sink) {
  auto& exchange = *static_cast<Exchange*>(sink);
  const std::string_view line(data, size * count);
  if (line.rfind("HTTP/", 0) == 0) exchange.headersEnded = false;
  else if (line == "\r\n" || line == "\n") exchange.headersEnded = true;
  exchange.headerBytes += static_cast<curl_off_t>(line.size());
  return line.size();
}

// libcurl calls this often while bytes move and about once a second while none do. Header
// bytes count once their line is complete; libcurl shows nothing of a line before that.
int checkIdle(void* sink, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
  auto& exchange = *static_cast<Exchange*>(sink);
  const curl_off_t moved = received + sent + exchange.headerBytes;
  const Clock::time_point now = Clock::now();
  if (moved != exchange.moved) {
    exchange.moved = moved;
    exchange.lastMoved = now;
    return 0;
  }
  exchange.stoodStill = now - exchange.lastMoved >= exchange.idleLimit;
  return exchange.stoodStill ? 1 : 0;
}

HeaderList requestHeaders() {
  curl_slist* list = nullptr;
  const std::string marker = std::string(automationHeader) + ": mcp";
  for (const char* header : {marker.c_str(), "Content-Type: application/json",
                             // libcurl would otherwise wait for a 100 Continue before large bodies.
                             "Expect:"}) {
    curl_slist* longer = curl_slist_append(list, header);
    if (longer == nullptr) {
      curl_slist_free_all(list);
      return nullptr;
    }
    list = longer;
  }
  return HeaderList(list);
}

// libcurl's own wait reports an extra descriptor's readiness only as POLLIN: a pipe whose writer
// has gone shows POLLHUP alone, and would wake the wait again and again without a word. Asked
// directly, the descriptor tells; POLLNVAL (a terminal on macOS) means it cannot be watched.
bool readable(int fd, bool& watchable) {
  pollfd ready{fd, POLLIN, 0};
  if (::poll(&ready, 1, 0) <= 0) return false;
  watchable = (ready.revents & POLLNVAL) == 0;
  return watchable;
}

// Runs the exchange on `handle` to its end and returns libcurl's outcome, or nothing when the
// watcher dropped it. One thread waits on the app's socket and the watched descriptor together,
// so a cancellation ends the exchange the moment it arrives, with no second thread to hand the
// word over and no lock: the loop still owns the client's input, and this the exchange.
std::optional<CURLcode> perform(CURL* handle, const Watch& watch) {
  bool watching = watch.fd >= 0 && watch.check;
  const Heard before = watching ? watch.check(false) : Heard::Nothing;
  if (before == Heard::Drop) return std::nullopt;
  watching = watching && before != Heard::StopWatching;
  MultiHandle multi(curl_multi_init());
  if (!multi || curl_multi_add_handle(multi.get(), handle) != CURLM_OK) return CURLE_OUT_OF_MEMORY;
  for (;;) {
    int running = 0;
    if (curl_multi_perform(multi.get(), &running) != CURLM_OK) break;
    if (running == 0) break;
    curl_waitfd input{watch.fd, CURL_WAIT_POLLIN, 0};
    // At most a second, as libcurl waits by itself, so that the idle limit is checked that often.
    // (curl_multi_poll is libcurl 7.66; macOS 12, the oldest we run on, ships 7.77.)
    if (curl_multi_poll(multi.get(), &input, watching ? 1 : 0, 1000, nullptr) != CURLM_OK) break;
    if (!watching || !readable(watch.fd, watching)) continue;
    const Heard heard = watch.check(true);
    if (heard == Heard::Drop) {
      curl_multi_remove_handle(multi.get(), handle);
      return std::nullopt;  // closing the multi handle closes the connection with it
    }
    if (heard == Heard::StopWatching) watching = false;
  }
  CURLcode outcome = CURLE_FAILED_INIT;
  int left = 0;
  while (const CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == handle) outcome = message->data.result;
  }
  curl_multi_remove_handle(multi.get(), handle);
  return outcome;
}

}  // namespace

std::string commandBody(const json& body) {
  std::string text = serialise(body);
  // Outside strings JSON text has no "/", so every one of them can be escaped blindly. The
  // escapes go in place, from the back, so a body of megabytes is never held twice.
  const auto slashes = static_cast<std::size_t>(std::count(text.begin(), text.end(), '/'));
  std::size_t from = text.size();
  text.resize(from + slashes);
  for (std::size_t to = text.size(); from != to;) {
    const char c = text[--from];
    text[--to] = c;
    if (c == '/') text[--to] = '\\';
  }
  return text;
}

std::string reachFailure(std::int64_t appPort, std::string_view cause) {
  std::string text = "Couldn't reach Tarnwick on 127.0.0.1:" + std::to_string(appPort) +
                     ". Open the app and turn on Allow Automation (menu bar icon \xE2\x80\xBA Automation). ";
  text.append(cause);
  return text;
}

bool restrictToHttp(void* handle) {
  // Which option a libcurl takes is only known once it runs: the server is built against newer
  // headers than the libcurl of older Macs (before 7.85), which refuses the string form.
#if CURL_AT_LEAST_VERSION(7, 85, 0)
  if (curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http") == CURLE_OK) return true;
#endif
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"  // deprecated only where the above is taken
  return curl_easy_setopt(handle, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP)) == CURLE_OK;
#pragma GCC diagnostic pop
}

AutomationResult call(const Automation& automation, std::string_view command, const json& body,
                      const Watch& watch) try {
  // Set up on the first call rather than at start-up: a session that only lists tools never
  // pays for it, and start-up stays small.
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  const std::string url = "http://127.0.0.1:" + std::to_string(automation.port) + "/" + std::string(command);
  const std::string payload = commandBody(body);

  // libcurl keeps raw pointers to the error buffer, the header list and the exchange: all of
  // them outlive the handle.
  char error[CURL_ERROR_SIZE] = "";
  Exchange exchange;
  exchange.idleLimit = automation.idleLimit;
  HeaderList headers = requestHeaders();
  CurlHandle handle(ready ? curl_easy_init() : nullptr);
  if (!handle || !headers) return {reachFailure(automation.port, "Out of memory")};
  CURL* h = handle.get();
  exchange.handle = h;
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  if (!restrictToHttp(h)) return {reachFailure(automation.port, "libcurl cannot limit the request to HTTP")};
  // Automation commands stay on loopback, whatever proxy the environment names.
  curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, payload.data());
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(payload.size()));
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, appendBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &exchange);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, noteHeaderLine);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &exchange);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  // The time limit is an idle limit: an app that stays silent is cut off, one that keeps
  // sending, however slowly, is waited for. So no total timeout, and no average speed either.
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(automation.idleLimit.count()));
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, checkIdle);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &exchange);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

  const std::optional<CURLcode> performed = perform(h, watch);
  if (!performed) return {"", true, 0, true};
  const CURLcode outcome = *performed;
  if (exchange.stoodStill) return {reachFailure(automation.port, curl_easy_strerror(CURLE_OPERATION_TIMEDOUT))};
  if (outcome != CURLE_OK) {
    // An answer that broke off is no answer: a partial body is never passed off as the app's.
    return {reachFailure(automation.port, error[0] != '\0' ? error : curl_easy_strerror(outcome))};
  }
  if (!exchange.headersEnded) return {reachFailure(automation.port, curl_easy_strerror(CURLE_PARTIAL_FILE))};
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  repairUtf8(exchange.body);
  return {std::move(exchange.body), status > 399, status};
} catch (const std::exception& failure) {
  return {reachFailure(automation.port, failure.what())};
}
