#include "server/era.hpp"

#include <string>

#include "server/settings.hpp"

using nlohmann::json;
using nlohmann::ordered_json;

namespace {

const char* const revisionKey = "io.modelcontextprotocol/protocolVersion";
const char* const capabilitiesKey = "io.modelcontextprotocol/clientCapabilities";

// The catalogue is compiled in, so no result changes while the process runs, and a client gets
// a new process, which it starts itself, with every upgrade. An hour spares a long session
// asking again, yet a cache kept beyond this process (the results are the same for everyone)
// meets an upgraded catalogue within the hour.
constexpr std::int64_t cacheMilliseconds = 3'600'000;

// What decoration adds to a result's length as JSON, with room to spare.
constexpr std::size_t decorationSize = 256;

const json* metaOf(const json& params) {
  const auto meta = params.find("_meta");
  return meta != params.end() && meta->is_object() ? &*meta : nullptr;
}

Failure invalid(const std::string& fault) { return {-32602, "Invalid params: " + fault, nullptr}; }

}  // namespace

bool isModern(std::string_view method, const json& params) {
  if (method == "server/discover") return true;
  const json* meta = metaOf(params);
  return meta != nullptr && meta->contains(revisionKey);
}

bool speaksPerRequestRevision(const json& params) {
  const json* meta = metaOf(params);
  if (meta == nullptr) return false;
  const auto revision = meta->find(revisionKey);
  return revision != meta->end() && revision->is_string() && revision->get_ref<const std::string&>() == perRequestRevision;
}

std::optional<Failure> checkMeta(const json& params) {
  const json* meta = metaOf(params);
  if (meta == nullptr) return invalid("_meta is missing or not an object");
  const auto revision = meta->find(revisionKey);
  if (revision == meta->end() || !revision->is_string()) {
    return invalid(std::string("_meta member ") + revisionKey + " is missing or not a string");
  }
  // The revision is judged before the rest: what else _meta must hold is the revision's to say,
  // and a client of another revision must learn which one to retry with, not that its _meta
  // looks wrong to us.
  const std::string& requested = revision->get_ref<const std::string&>();
  if (requested != perRequestRevision) {
    return Failure{-32022, "Unsupported protocol version",
                   {{"supported", ordered_json::array({perRequestRevision})}, {"requested", requested}}};
  }
  const auto clientCapabilities = meta->find(capabilitiesKey);
  if (clientCapabilities == meta->end() || !clientCapabilities->is_object()) {
    return invalid(std::string("_meta member ") + capabilitiesKey + " is missing or not an object");
  }
  return std::nullopt;
}

ordered_json discovery() {
  return {
      {"supportedVersions", ordered_json::array({perRequestRevision})},
      {"capabilities", capabilities()},
      {"instructions", instructions},
  };
}

void decorate(std::string_view method, Answer& answer) {
  if (answer.failure) return;
  auto& members = answer.result.get_ref<ordered_json::object_t&>();
  ordered_json dressed = ordered_json::object();
  auto& into = dressed.get_ref<ordered_json::object_t&>();
  // Room for every member up front: an ordered object copies its members whenever it grows.
  into.reserve(members.size() + 4);
  into.emplace("resultType", "complete");
  for (auto& [key, value] : members) into.emplace(key, std::move(value));
  if (method == "server/discover" || method == "tools/list") {
    into.emplace("ttlMs", cacheMilliseconds);
    into.emplace("cacheScope", "public");
  }
  into.emplace("_meta", ordered_json{{"io.modelcontextprotocol/serverInfo", serverInfo(true)}});
  answer.result = std::move(dressed);
  answer.expectedSize += decorationSize;
}
