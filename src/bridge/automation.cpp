#include "bridge/automation.hpp"

#include <memory>

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

std::size_t appendBody(char* data, std::size_t size, std::size_t count, void* sink) try {
  static_cast<std::string*>(sink)->append(data, size * count);
  return size * count;
} catch (...) {
  return 0;  // nothing may throw through libcurl's C frames; 0 aborts the transfer
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
  const std::string compact = serialise(body);
  // Outside strings JSON text has no "/", so every one of them can be escaped blindly.
  std::string escaped;
  escaped.reserve(compact.size() + 16);
  for (char c : compact) {
    if (c == '/') escaped.push_back('\\');
    escaped.push_back(c);
  }
  return escaped;
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
  std::string received;

  // libcurl keeps raw pointers to the error buffer and the header list: both outlive the handle.
  char error[CURL_ERROR_SIZE] = "";
  HeaderList headers = requestHeaders();
  CurlHandle handle(curl_easy_init());
  if (!handle || !headers) return {reachFailure(appPort, "Out of memory"), true};
  CURL* h = handle.get();
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http");
  // Automation commands stay on loopback, whatever proxy the environment names.
  curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, payload.data());
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(payload.size()));
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, appendBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &received);
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
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  repairUtf8(received);
  return {std::move(received), status > 399};
} catch (const std::exception& failure) {
  return {reachFailure(port, failure.what()), true};
}
