#include "bridge/automation.hpp"

#include <algorithm>
#include <memory>
#include <new>

#include <curl/curl.h>

#include "server/output.hpp"
#include "server/settings.hpp"
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

// The body so far, and the handle that knows its announced length: the text is sized once
// from that length rather than grown, and copied, step by step.
struct Received {
  CURL* handle = nullptr;
  std::string text;
};

// An announced length is only a hint: a false or huge one must not fail the exchange.
void reserveAnnounced(Received& received) {
  constexpr curl_off_t largestHint = curl_off_t{256} << 20;
  curl_off_t length = -1;
  if (curl_easy_getinfo(received.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
      length <= 0 || length > largestHint) {
    return;
  }
  try {
    received.text.reserve(static_cast<std::size_t>(length));
  } catch (const std::bad_alloc&) {
  }
}

std::size_t appendBody(char* data, std::size_t size, std::size_t count, void* sink) try {
  auto& received = *static_cast<Received*>(sink);
  if (received.text.empty()) reserveAnnounced(received);
  received.text.append(data, size * count);
  return size * count;
} catch (...) {
  return 0;  // nothing may throw through libcurl's C frames; 0 aborts the transfer
}

// Keeps `*sink` true exactly while the last header section seen has ended with its empty
// line: libcurl takes a connection closed in the middle of the headers for an empty answer.
std::size_t noteHeaderLine(char* data, std::size_t size, std::size_t count, void* sink) {
  const std::string_view line(data, size * count);
  bool& ended = *static_cast<bool*>(sink);
  if (line.rfind("HTTP/", 0) == 0) ended = false;
  else if (line == "\r\n" || line == "\n") ended = true;
  return line.size();
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

}  // namespace

void prepareAutomation() { curl_global_init(CURL_GLOBAL_DEFAULT); }

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

AutomationResult call(std::string_view command, const json& body) try {
  const std::int64_t appPort = port;
  const std::string url = "http://127.0.0.1:" + std::to_string(appPort) + "/" + std::string(command);
  const std::string payload = commandBody(body);

  // libcurl keeps raw pointers to the error buffer, the header list and the body being
  // received: all of them outlive the handle.
  char error[CURL_ERROR_SIZE] = "";
  Received received;
  HeaderList headers = requestHeaders();
  CurlHandle handle(curl_easy_init());
  if (!handle || !headers) return {reachFailure(appPort, "Out of memory"), true};
  CURL* h = handle.get();
  received.handle = h;
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
#if LIBCURL_VERSION_NUM >= 0x075500
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http");
#else
  curl_easy_setopt(h, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP));  // older system libcurl on macOS
#endif
  // Automation commands stay on loopback, whatever proxy the environment names.
  curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, payload.data());
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(payload.size()));
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, appendBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &received);
  bool headersEnded = false;
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, noteHeaderLine);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &headersEnded);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  // An idle limit of 60 seconds: an app that stays silent is cut off, one that keeps sending is not.
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 60L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 60L);

  const CURLcode outcome = curl_easy_perform(h);
  if (outcome != CURLE_OK) {
    // An answer that broke off is no answer: a partial body is never passed off as the app's.
    return {reachFailure(appPort, error[0] != '\0' ? error : curl_easy_strerror(outcome)), true};
  }
  if (!headersEnded) return {reachFailure(appPort, curl_easy_strerror(CURLE_PARTIAL_FILE)), true};
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  repairUtf8(received.text);
  return {std::move(received.text), status > 399};
} catch (const std::exception& failure) {
  return {reachFailure(port, failure.what()), true};
}
