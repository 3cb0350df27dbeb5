#include "standin/service.hpp"

#include <sys/socket.h>

#include <chrono>

#include "standin/checks.hpp"
#include "standin/commands.hpp"

namespace standin {
namespace {

std::string commandList() {
  std::string text;
  for (const std::string& c : commandNames()) text += (text.empty() ? "/" : ", /") + c;
  return text;
}

void put(httplib::Response& res, const Answer& answer) {
  res.status = answer.status;
  res.set_content(answer.text,
                  answer.status < 400 ? "application/json; charset=utf-8" : "text/plain; charset=utf-8");
}

// The command a request path names, or "" when it names none.
std::string commandOf(const std::string& path) { return path.starts_with('/') ? path.substr(1) : ""; }

Answer unknownCommand(const std::string& path) {
  return {404, "Unknown command \"" + path + "\". The stand-in answers POST to " + commandList() + "."};
}

void refuseMethod(const httplib::Request& req, httplib::Response& res) {
  if (!isCommand(commandOf(req.path))) return put(res, unknownCommand(req.path));
  res.set_header("Allow", "POST");
  put(res, {405, req.method + " is not allowed here: send each command as a POST with a JSON object body."});
}

void handlePost(Standin& standin, const httplib::Request& req, httplib::Response& res) {
  const std::string command = commandOf(req.path);
  if (!isCommand(command)) return put(res, unknownCommand(req.path));
  if (req.get_header_value("X-Tarnwick") != "mcp") {
    return put(res, {403, "Refused: automation requests must carry the header \"X-Tarnwick: mcp\"."});
  }
  const json body = req.body.empty() ? json::object() : json::parse(req.body, nullptr, false);
  if (!body.is_object()) {
    return put(res, {400,
                     "The body must be a JSON object (or empty), like {\"app\": \"com.example.shop\", "
                     "\"simulator\": \"booted\"}."});
  }
  put(res, runCommand(standin, command, body));
}

}  // namespace

json perform(State& state, const std::string& command, const json& args) {
  if (command == "targets") return targets(state);
  if (command == "status") return status(state);
  if (command == "set") return setNetwork(state, args);
  if (command == "reset") return resetNetwork(state, args);
  if (command == "stop") return stopWatching(state, args);
  if (command == "relaunch") return relaunch(state, args);
  if (command == "requests") return requests(state, args);
  if (command == "fail-endpoint") return failEndpoint(state, args);
  if (command == "mock-endpoint") return mockEndpoint(state, args);
  return clearEndpoints(state, args);
}

Answer runCommand(Standin& standin, const std::string& command, const json& body) {
  if (!isCommand(command)) return unknownCommand("/" + command);
  try {
    const json args = checkArgs(command, body);
    const std::lock_guard<std::mutex> guard(standin.lock);
    return {200, perform(standin.state, command, args).dump(2)};
  } catch (const Refusal& refusal) {
    return {refusal.status, refusal.what()};
  } catch (const std::exception& e) {
    // A fault of the stand-in itself: say so rather than let httplib answer with an empty 500.
    return {500, std::string("The stand-in failed: ") + e.what()};
  }
}

void serve(httplib::Server& server, Standin& standin) {
  // httplib's default also sets SO_REUSEPORT, which would let a second stand-in share the port
  // and split the requests between two memories; a busy port must fail to bind instead.
  server.set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server.Post(".*", [&standin](const httplib::Request& req, httplib::Response& res) {
    handlePost(standin, req, res);
  });
  server.Get(".*", refuseMethod);
  server.Put(".*", refuseMethod);
  server.Patch(".*", refuseMethod);
  server.Delete(".*", refuseMethod);
  server.Options(".*", refuseMethod);
}

bool startListening(httplib::Server& server, std::thread& listener) {
  listener = std::thread([&server] { server.listen_after_bind(); });
  for (int waited = 0; waited < 1000 && !server.is_running(); ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return server.is_running();
}

}  // namespace standin
