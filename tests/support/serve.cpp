#include "support/serve.hpp"

#include <algorithm>
#include <cstring>

#include "server/loop.hpp"

using nlohmann::json;

std::string serveCaptured(std::string_view input, std::size_t piece, const Automation& automation) {
  std::size_t offset = 0;
  ReadSome readSome = [&](char* buffer, std::size_t size) {
    const std::size_t count = std::min({size, input.size() - offset, piece});
    std::memcpy(buffer, input.data() + offset, count);
    offset += count;
    return count;
  };
  std::string written;
  Output out{[&](std::string_view line) {
    written.append(line);
    return true;
  }};
  serve(readSome, out, automation);
  return written;
}

std::vector<std::string> splitLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const std::size_t feed = text.find('\n');
    lines.emplace_back(text.substr(0, feed));
    text.remove_prefix(feed == std::string_view::npos ? text.size() : feed + 1);
  }
  return lines;
}

std::vector<std::string> serveText(std::string_view input, const Automation& automation) {
  return splitLines(serveCaptured(input, 4093, automation));
}

std::vector<json> answersTo(std::string_view input, const Automation& automation) {
  std::vector<json> answers;
  for (const std::string& line : serveText(input, automation)) answers.push_back(json::parse(line));
  return answers;
}

json callTool(const Automation& automation, const std::string& tool, const json& arguments) {
  const json request = {{"jsonrpc", "2.0"}, {"id", 1}, {"method", "tools/call"},
                        {"params", {{"name", tool}, {"arguments", arguments}}}};
  const std::vector<json> answers = answersTo(request.dump() + "\n", automation);
  return answers.size() == 1 ? answers[0].value("result", json()) : json();
}

std::string textOf(const json& result) {
  const auto pointer = "/content/0/text"_json_pointer;
  if (!result.is_object() || !result.contains(pointer) || !result.at(pointer).is_string()) return "";
  return result.at(pointer).get<std::string>();
}

std::string ping(std::string_view idText, std::string_view extra) {
  return R"({"jsonrpc":"2.0","id":)" + std::string(idText) + R"(,"method":"ping")" + std::string(extra) + "}";
}
