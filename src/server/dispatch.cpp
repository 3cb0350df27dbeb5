#include "server/dispatch.hpp"

#include <string>

#include "bridge/invoke.hpp"
#include "server/era.hpp"
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
      {"capabilities", capabilities()},
      {"serverInfo", serverInfo()},
      {"instructions", instructions},
  };
}

// The handshake and the liveness check belong to the handshake revision alone; the revision
// served per request replaced them with server/discover.
Answer answerTo(const std::string& method, const json& params, bool modern, const Automation& automation,
                const Watch& watch) {
  if (method == "tools/list") return succeeded(toolList(modern));
  if (method == "tools/call") return invoke(params, automation, watch);
  if (modern && method == "server/discover") return succeeded(discovery());
  if (!modern && method == "initialize") return succeeded(initializeResult(params));
  if (!modern && method == "ping") return succeeded(ordered_json::object());
  return failed(-32601, "Method not found: " + method);
}

}  // namespace

void handle(const Message& message, Output& out, const Automation& automation, const Watch& watch) {
  if (message.id.empty()) return;  // a notification
  const json& body = message.body;
  const auto method = body.find("method");
  const std::string name = method != body.end() && method->is_string() ? method->get<std::string>() : "";
  const auto params = body.find("params");
  static const json noParams = json::object();
  const json& args = params != body.end() && params->is_object() ? *params : noParams;

  const bool modern = isModern(name, args);
  if (modern) {
    if (std::optional<Failure> refusal = checkMeta(args)) return reply(message.id, *refusal, out);
  }
  Answer answer = answerTo(name, args, modern, automation, watch);
  if (answer.withdrawn) return;
  if (modern) decorate(name, answer);
  reply(message.id, answer, out);
}
