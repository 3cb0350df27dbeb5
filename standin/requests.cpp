// get_requests: the recorded requests of a watched app, newest first, through a small search.
#include <algorithm>
#include <cctype>
#include <sstream>

#include "standin/commands.hpp"
#include "standin/traffic.hpp"

namespace standin {
namespace {

struct Term {
  bool negate = false;
  std::string field, value;  // field is empty for a plain word
};

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::vector<Term> parseFilter(const std::string& filter) {
  std::vector<Term> terms;
  std::istringstream words(filter);
  for (std::string word; words >> word;) {
    Term t;
    if (word.size() > 1 && word[0] == '-') {
      t.negate = true;
      word.erase(0, 1);
    }
    const std::size_t colon = word.find(':');
    if (colon == std::string::npos) {
      t.value = lower(word);
    } else {
      t.field = lower(word.substr(0, colon));
      t.value = lower(word.substr(colon + 1));
      const bool known = t.field == "status" || t.field == "method" || t.field == "host" ||
                         t.field == "path" || t.field == "is";
      if (!known || t.value.empty() || (t.field == "is" && t.value != "failed" && t.value != "mocked")) {
        throw Refusal(
            400, "\"filter\" cannot use \"" + word +
                     "\". Use words, or status:4xx or status:404, "
                     "method:POST, host:api, path:/v1, is:failed, is:mocked; put - in front to exclude.");
      }
    }
    terms.push_back(std::move(t));
  }
  return terms;
}

// "4xx" matches every status from 400 to 499; "404" only that one.
bool statusMatches(int status, const std::string& wanted) {
  const std::string text = status == 0 ? "" : std::to_string(status);
  if (text.size() != wanted.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (wanted[i] != 'x' && wanted[i] != text[i]) return false;
  }
  return true;
}

bool termMatches(const Recorded& r, const Term& t) {
  const std::size_t hostStart = r.url.find("://") + 3, pathStart = r.url.find('/', hostStart);
  const std::string host = lower(r.url.substr(hostStart, pathStart - hostStart));
  const std::string path = lower(r.url.substr(std::min(pathStart, r.url.size())));
  if (t.field == "status") return statusMatches(r.status, t.value);
  if (t.field == "method") return lower(r.method) == t.value;
  if (t.field == "host") return host.find(t.value) != std::string::npos;
  if (t.field == "path") return path.find(t.value) != std::string::npos;
  if (t.field == "is") return t.value == "mocked" ? r.mocked : (!r.error.empty() || r.status >= 400);
  const std::string all = lower(r.method + " " + r.url + " " + std::to_string(r.status) + " " + r.error);
  return all.find(t.value) != std::string::npos;
}

// Cuts at a character boundary: UTF-8 continuation bytes do not count as characters.
void putBody(json& view, const std::string& key, const std::string& body) {
  constexpr std::size_t limit = 4000;
  std::size_t chars = 0, end = 0;
  for (; end < body.size(); ++end) {
    if ((static_cast<unsigned char>(body[end]) & 0xC0) != 0x80 && chars++ == limit) break;
  }
  view[key] = body.substr(0, end);
  if (end < body.size()) view[key + "_cut"] = true;
}

json viewRequest(const Recorded& r, bool bodies) {
  json view{{"id", r.id},
            {"time", r.time},
            {"method", r.method},
            {"url", r.url},
            {"status", r.status == 0 ? json(nullptr) : json(r.status)},
            {"duration_ms", r.durationMs}};
  if (!r.error.empty()) view["error"] = r.error;
  if (r.mocked) view["mocked"] = true;
  if (bodies) {
    putBody(view, "request_body", r.requestBody);
    putBody(view, "response_body", r.responseBody);
  }
  return view;
}

}  // namespace

json requests(State& state, const json& args) {
  const Target target = resolveOneApp(args, "get_requests");
  Rule* rule = findRule(state, target);
  if (!rule || !rule->watched) {
    throw Refusal(409, describe(target) +
                           " is not watched, so none of its requests are recorded. "
                           "Call relaunch_app first.");
  }
  const std::vector<Term> terms = parseFilter(args.value("filter", std::string()));
  const auto limit = static_cast<std::size_t>(args.value("limit", json(50)).get<double>());
  const bool bodies = args.value("include_bodies", false);
  record(state, *rule, 3);  // the app has kept working since the last look
  json list = json::array();
  for (auto r = rule->recorded.rbegin(); r != rule->recorded.rend() && list.size() < limit; ++r) {
    const bool wanted = std::all_of(terms.begin(), terms.end(),
                                    [&](const Term& t) { return termMatches(*r, t) != t.negate; });
    if (wanted) list.push_back(viewRequest(*r, bodies));
  }
  return {{"app", describe(target)},
          {"recorded", rule->recorded.size()},
          {"shown", list.size()},
          {"requests", list}};
}

}  // namespace standin
