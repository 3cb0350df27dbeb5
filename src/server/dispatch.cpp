#include "server/dispatch.hpp"

#include <string>

#include "bridge/invoke.hpp"
#include "server/listing.hpp"
#include "server/settings.hpp"

using nlohmann::json;
using nlohmann::ordered_json;

namespace {

ordered_json initializeResult(const json& params) {
  const auto requested = params.find("protocolVersion");
  // The client's revision is echoed whatever it says; we speak only the one we know.
  ordered_json revision = requested != params.end() && requested->is_string()
                              ? ordered_json(requested->get_ref<const std::string&>())
                              : ordered_json(protocolVersion);
  return {
      {"protocolVersion", std::move(revision)},
      {"capabilities", {{"tools", {{"listChanged", false}}}}},
      {"serverInfo", {{"name", serverName}, {"version", serverVersion}}},
      {"instructions", instructions},
  };
}

}  // namespace

void handle(const Message& message, Output& out, const Automation& automation) {
  if (message.id.empty()) return;  // a notification
  const json& body = message.body;
  const auto method = body.find("method");
  const std::string name = method != body.end() && method->is_string() ? method->get<std::string>() : "";
  const auto params = body.find("params");
  static const json noParams = json::object();
  const json& args = params != body.end() && params->is_object() ? *params : noParams;

  if (name == "initialize") {
    reply(message.id, initializeResult(args), out);
  } else if (name == "ping") {
    reply(message.id, ordered_json::object(), out);
  } else if (name == "tools/list") {
    listTools(message.id, out);
  } else if (name == "tools/call") {
    invoke(message.id, args, out, automation);
  } else {
    reply(message.id, -32601, "Method not found: " + name, out);
  }
}
