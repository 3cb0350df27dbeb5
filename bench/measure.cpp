#include "measure.hpp"

#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <stdexcept>

std::size_t scaled(const Setup& setup, std::size_t n, std::size_t least) {
  return std::max(least, static_cast<std::size_t>(static_cast<double>(n) * setup.scale));
}

std::string initializeLine(long id) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
         R"(,"method":"initialize","params":{"protocolVersion":"2025-06-18","capabilities":{},)"
         R"("clientInfo":{"name":"tarnwick-bench","version":"1"}}})"
         "\n";
}

std::string pingLine(long id) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":"ping"})" "\n";
}

std::string callLine(long id, const std::string& tool, const std::string& argumentsJson) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
         R"(,"method":"tools/call","params":{"name":")" + tool + R"(","arguments":)" +
         argumentsJson + "}}\n";
}

Child startChild(const Setup& setup, const std::string& program) {
  Child child = spawnChild({program}, {"TARNWICK_PORT=" + std::to_string(setup.app->port())});
  if (setup.childCpu >= 0) pinToCpu(child.pid, setup.childCpu);
  return child;
}

Child startServer(const Setup& setup) {
  Child child = startChild(setup, setup.server);
  pump(child, initializeLine(0), 1, after(10));
  auto answer = nlohmann::json::parse(takeLine(child));
  if (!answer.contains("result")) throw std::runtime_error("initialize was not answered");
  return child;
}

void expectStartedAndEnd(Child& child, const std::string& name, Clock::time_point deadline) {
  if (takeLine(child).find("\"result\"") == std::string::npos) {
    throw std::runtime_error(name + " did not answer initialize with a result");
  }
  Exit exit = finish(child, deadline);
  if (!WIFEXITED(exit.status) || WEXITSTATUS(exit.status) != 0) {
    throw std::runtime_error(name + " did not exit with status 0 at end of input");
  }
}

void expectToolText(const std::string& line, long id, const std::string& text) {
  auto answer = nlohmann::json::parse(line);
  const auto& result = answer.at("result");
  if (answer.at("id").get<long>() != id || result.at("isError").get<bool>() ||
      result.at("content").at(0).at("text").get<std::string>() != text) {
    throw std::runtime_error("tools/call answer does not carry the app's body: " +
                             line.substr(0, 200));
  }
}

void expectEmptyResult(const std::string& line, long id) {
  auto answer = nlohmann::json::parse(line);
  if (answer.at("id").get<long>() != id || answer.at("result") != nlohmann::json::object()) {
    throw std::runtime_error("unexpected answer: " + line.substr(0, 200));
  }
}

namespace {

const std::string& awkwardPiece() {
  static const std::string piece =
      "{\"path\": \"/api/v1/items?q=caf\xC3\xA9\", \"note\": \"na\xC3\xAFve \\\\ \xE2\x80\xBA "
      "\xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x9A\x80\",\t\"ok\": true}\n";
  return piece;
}

}  // namespace

std::string awkwardText(std::size_t bytes) {
  std::string text;
  text.reserve(bytes);
  while (text.size() + awkwardPiece().size() <= bytes) text += awkwardPiece();
  text.append(bytes - text.size(), 'x');
  return text;
}

std::string awkwardJsonString(std::size_t bytes) {
  std::string piece = nlohmann::json(awkwardPiece()).dump();
  piece = piece.substr(1, piece.size() - 2);
  std::string text;
  text.reserve(bytes);
  while (text.size() + piece.size() <= bytes) text += piece;
  text.append(bytes - text.size(), 'x');
  return text;
}
