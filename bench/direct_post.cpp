#include "direct_post.hpp"

#include <curl/curl.h>

#include <memory>
#include <stdexcept>

namespace {

struct CurlDeleter {
  void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct ListDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

size_t appendBody(char* data, size_t size, size_t n, void* sink) try {
  static_cast<std::string*>(sink)->append(data, size * n);
  return size * n;
} catch (...) {
  return 0;
}

}  // namespace

std::string directPost(const std::string& url, const std::string& body) {
  std::string answer;
  char error[CURL_ERROR_SIZE] = "";
  std::unique_ptr<curl_slist, ListDeleter> headers;
  for (const char* h : {"X-Tarnwick: mcp", "Content-Type: application/json"}) {
    curl_slist* grown = curl_slist_append(headers.get(), h);
    if (!grown) throw std::runtime_error("curl_slist_append failed");
    (void)headers.release();
    headers.reset(grown);
  }
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) throw std::runtime_error("curl_easy_init failed");
  CURL* h = curl.get();
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_NOPROXY, "*");  // as the server: straight to loopback, whatever the environment says
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_TIMEOUT, 60L);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, appendBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer);
  CURLcode rc = curl_easy_perform(h);
  if (rc != CURLE_OK) throw std::runtime_error(std::string("direct POST failed: ") + error);
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  if (status != 200) throw std::runtime_error("direct POST: status " + std::to_string(status));
  return answer;
}
