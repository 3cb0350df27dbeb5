#include "server/dispatch.hpp"

#include <string>

#include "bridge/invoke.hpp"
#include "server/listing.hpp"
#include "server/settings.hpp"

using nlohmann::json;

namespace {

json initializeResult(const json& params) {
  const auto requested = params.find("protocolVersion");
  // The client's revision is echoed whatever it says; we speak only the one we know.
  json revision = requested != params.end() && requested->is_string() ? *requested : json(protocolVersion);
  return {
      {"protocolVersion", std::move(revision)},
      {"capabilities", {{"tools", {{"listChanged", false}}}}},
      {"serverInfo", {{"name", serverName}, {"version", serverVersion}}},
      {"instructions", instructions},
  };
}

}  // namespace

void handle(const json& message, Output& out) {
  const auto method = message.find("method");
  const std::string name = method != message.end() && method->is_string() ? method->get<std::string>() : "";
  const auto id = message.find("id");
  if (id == message.end()) return;
  const auto params = message.find("params");
  static const json noParams = json::object();
  const json& args = params != message.end() && params->is_object() ? *params : noParams;

  if (name == "initialize") {
    reply(*id, initializeResult(args), out);
  } else if (name == "ping") {
    reply(*id, json::object(), out);
  } else if (name == "tools/list") {
    listTools(*id, out);
  } else if (name == "tools/call") {
    invoke(*id, args, out);
  } else {
    reply(*id, -32601, "Method not found: " + name, out);
  }
}
