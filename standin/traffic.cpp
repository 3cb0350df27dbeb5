#include "standin/traffic.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace standin {
namespace {

struct Template {
  const char *method, *url, *requestBody;
  int status;
  std::string responseBody;
};

// Long enough that include_bodies has something to cut.
std::string productList() {
  std::string body = "{\"products\":[";
  for (int i = 1; i <= 60; ++i) {
    body += (i > 1 ? "," : "") + std::string("{\"id\":") + std::to_string(i) + ",\"name\":\"Product " +
            std::to_string(i) + "\",\"price\":" + std::to_string(i * 3) +
            ".99,\"description\":\"A made-up item.\"}";
  }
  return body + "]}";
}

const std::vector<Template>& templates() {
  static const std::vector<Template> list{
      {"GET", "https://api.example.com/v1/products", "", 200, productList()},
      {"GET", "https://cdn.example.com/images/banner.jpg", "", 200, "(binary image data)"},
      {"POST", "https://api.example.com/v1/cart", "{\"product_id\":7,\"quantity\":1}", 201,
       "{\"cart_id\":\"c-481\",\"items\":1}"},
      {"GET", "https://api.example.com/v1/profile", "", 200, "{\"name\":\"Ada\",\"plan\":\"free\"}"},
      {"GET", "https://api.example.com/v1/recommendations", "", 404, "{\"error\":\"not found\"}"},
      {"POST", "https://telemetry.example.com/v1/events", "{\"event\":\"screen_view\"}", 204, ""}};
  return list;
}

std::string nowText() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  char full[48];
  std::snprintf(full, sizeof full, "%s.%03dZ", text, static_cast<int>(millis));
  return full;
}

// Numeric arguments have no upper bound: keep made-up durations within what a long holds.
long millis(double ms) { return static_cast<long>(std::clamp(ms, 0.0, 1e12)); }

void failWith(Recorded& r, const char* error, double seconds) {
  r.status = 0;
  r.responseBody.clear();
  r.error = error;
  r.durationMs = millis(seconds * 1000);
}

const char* const offline = "NSURLErrorNotConnectedToInternet (-1009)";
const char* const timedOut = "NSURLErrorTimedOut (-1001)";

void applyConditions(Recorded& r, const Rule& rule, long n) {
  const json& net = rule.network;
  if (!net.empty()) {
    const double down = net.at("down").get<double>(), loss = net.at("loss").get<double>();
    r.durationMs = millis(double(r.durationMs) + 2 * net.at("latency").get<double>() +
                          net.at("jitter").get<double>() * double(n % 3) / 2 +
                          (down > 0 ? double(r.responseBody.size()) * 8 / down : 0) + loss * 10);
    if (loss >= 100) return failWith(r, timedOut, 60);
  }
  if (rule.failure.empty() || !inScope(rule, r.url)) return;
  const std::string mode = rule.failure.at("mode").get<std::string>();
  const json& f = rule.failure;
  if (mode == "airplane") return failWith(r, offline, 0);
  if (mode == "timeout") return failWith(r, timedOut, 60);
  if (mode == "drop")
    return failWith(r, "NSURLErrorNetworkConnectionLost (-1005)", f.at("after").get<double>());
  if (mode == "refuse" && double((n * 37) % 100) < f.at("percent").get<double>()) {
    return failWith(r, "NSURLErrorCannotConnectToHost (-1004)", 0);
  }
  if (mode == "outages") {
    const double online = f.at("online").get<double>(), period = online + f.at("offline").get<double>();
    if (period > 0 && double((n * 7) % 100) / 100 * period >= online) failWith(r, offline, 0);
  }
}

// Returns false when no endpoint rule matches, so that the conditions apply instead.
bool applyEndpoint(Recorded& r, const std::vector<EndpointRule>& endpoints) {
  for (auto e = endpoints.rbegin(); e != endpoints.rend(); ++e) {
    if (!urlMatches(r.url, e->pattern)) continue;
    const json& s = e->settings;
    if (e->mock) {
      r.status = s.at("status").get<int>();
      r.responseBody = s.at("body").get<std::string>();
      r.durationMs = millis(s.at("delay").get<double>() * 1000 + 1);
      r.mocked = true;
      return true;
    }
    const std::string kind = s.at("kind").get<std::string>();
    if (kind == "offline") failWith(r, offline, 0);
    if (kind == "timeout") failWith(r, timedOut, s.contains("value") ? s.at("value").get<double>() : 60);
    if (kind == "delay") r.durationMs = millis(double(r.durationMs) + s.at("value").get<double>() * 1000);
    if (kind == "status") {
      r.status = s.at("value").get<int>();
      r.responseBody.clear();
    }
    return true;
  }
  return false;
}

}  // namespace

bool urlMatches(std::string_view url, std::string_view pattern) {
  std::size_t at = 0;
  while (true) {
    const std::size_t star = pattern.find('*');
    const std::string_view piece = pattern.substr(0, star);
    const std::size_t found = url.find(piece, at);
    if (found == std::string_view::npos) return false;
    if (star == std::string_view::npos) return true;
    at = found + piece.size();
    pattern.remove_prefix(star + 1);
  }
}

bool inScope(const Rule& rule, std::string_view url) {
  if (rule.hosts.empty() || rule.hostsMode == "all") return true;
  const std::size_t start = url.find("://") == std::string_view::npos ? 0 : url.find("://") + 3;
  const std::string_view host = url.substr(start, url.find('/', start) - start);
  bool listed = false;
  std::string_view hosts = rule.hosts;
  while (!hosts.empty() && !listed) {
    std::string_view entry = hosts.substr(0, hosts.find(','));
    hosts.remove_prefix(std::min(hosts.size(), entry.size() + 1));
    while (entry.starts_with(' ')) entry.remove_prefix(1);
    while (entry.ends_with(' ')) entry.remove_suffix(1);
    if (entry.starts_with("*.")) {
      listed = host.ends_with(entry.substr(1)) || host == entry.substr(2);
    } else {
      listed = !entry.empty() && host == entry;
    }
  }
  return rule.hostsMode == "except" ? !listed : listed;
}

void record(State& state, Rule& rule, int count) {
  const Rule* every = rule.target.app == "*" ? nullptr : everyAppRule(state);
  const Rule& conditions = (rule.network.empty() && rule.failure.empty() && every) ? *every : rule;
  for (int i = 0; i < count; ++i) {
    const long n = state.nextRequest++;
    const Template& t = templates()[static_cast<std::size_t>(n) % templates().size()];
    Recorded r{n, 30 + n % 7 * 11, nowText(), t.method, t.url, t.requestBody, t.responseBody, "", t.status};
    const bool handled = applyEndpoint(r, rule.endpoints) || (every && applyEndpoint(r, every->endpoints));
    if (!handled) applyConditions(r, conditions, n);
    rule.recorded.push_back(std::move(r));
  }
  constexpr std::size_t keep = 500;  // as many as get_requests can ever show
  if (rule.recorded.size() > keep) {
    rule.recorded.erase(rule.recorded.begin(), rule.recorded.end() - static_cast<long>(keep));
  }
}

}  // namespace standin
