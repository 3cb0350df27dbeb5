#include "bridge/invoke.hpp"

#include "bridge/automation.hpp"
#include "catalogue/catalogue.hpp"

using nlohmann::json;

void invoke(const json& id, const json& params, Output& out) {
  const auto name = params.find("name");
  const Tool* tool = name != params.end() && name->is_string() ? findTool(name->get_ref<const std::string&>()) : nullptr;
  if (tool == nullptr) return reply(id, -32602, "Unknown tool.", out);

  const auto arguments = params.find("arguments");
  json body = arguments != params.end() && arguments->is_object() ? *arguments : json::object();
  for (const auto& [key, value] : tool->fixed.items()) body[key] = value;

  AutomationResult result = call(tool->command, body);
  reply(id,
        {{"content", json::array({{{"type", "text"}, {"text", std::move(result.text)}}})},
         {"isError", result.isError}},
        out);
}
