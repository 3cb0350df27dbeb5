#include "bridge/invoke.hpp"

#include "catalogue/catalogue.hpp"

using nlohmann::json;
using nlohmann::ordered_json;

json withFixed(json arguments, const json& fixed) {
  for (const auto& [key, value] : fixed.items()) arguments[key] = value;
  return arguments;
}

Answer invoke(const json& params, const Automation& automation, const Watch& watch) {
  const auto name = params.find("name");
  const Tool* tool = name != params.end() && name->is_string() ? findTool(name->get_ref<const std::string&>()) : nullptr;
  if (tool == nullptr) return failed(-32602, "Unknown tool.");

  const auto arguments = params.find("arguments");
  static const json noArguments = json::object();
  const json& given = arguments != params.end() && arguments->is_object() ? *arguments : noArguments;
  // The arguments are copied only when fixed entries must be written over them: a client's
  // arguments can run to megabytes, and the message still holds them.
  AutomationResult result = tool->fixed.empty() ? call(automation, tool->command, given, watch)
                                                : call(automation, tool->command, withFixed(given, tool->fixed), watch);
  if (result.dropped) {
    Answer withdrawn;
    withdrawn.withdrawn = true;
    return withdrawn;
  }
  // Room for the whole line up front, and members set in place, since an ordered object copies
  // its members whenever it grows: the text can run to megabytes, and each copy of it would cost
  // as much as writing it out. Escapes lengthen JSON text, what the app mostly sends, by a sixth
  // and more; room that is never written to costs address space, not memory.
  const std::size_t expectedSize = result.text.size() + result.text.size() / 4 + 64;
  ordered_json item = {{"type", "text"}, {"text", nullptr}};
  item["text"] = std::move(result.text);
  Answer answer = succeeded({{"content", ordered_json::array()}, {"isError", result.isError}}, expectedSize);
  answer.result["content"].push_back(std::move(item));
  return answer;
}
