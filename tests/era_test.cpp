// Requests of the revision that names itself in every request's _meta, beside the handshake
// revision: what each earns, and that answers to the handshake revision stay byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "support/app.hpp"
#include "support/serve.hpp"

using nlohmann::json;

namespace {

const std::string meta = R"("io.modelcontextprotocol/protocolVersion":"2026-07-28",)"
                         R"("io.modelcontextprotocol/clientCapabilities":{})";
const std::string dressing =
    R"("_meta":{"io.modelcontextprotocol/serverInfo":{"name":"tarnwick","title":"Tarnwick","version":"1.0.0"}})";
const std::string hints = R"("ttlMs":3600000,"cacheScope":"public",)";

// A request line with `params` and then the _meta member `metaMember`, each written as given.
std::string request(int id, const std::string& method, const std::string& params = "",
                    const std::string& metaMember = R"("_meta":{)" + meta + "}") {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":")" + method + R"(","params":{)" +
         params + (params.empty() ? "" : ",") + metaMember + "}}";
}

std::string error(int id, int code, const std::string& message, const std::string& data = "") {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"error":{"code":)" + std::to_string(code) +
         R"(,"message":")" + message + "\"" + (data.empty() ? "" : ",\"data\":" + data) + "}}";
}

// A golden copy as one compact text, and the same without its outer braces.
std::string golden(const std::string& name) {
  std::ifstream file(std::string(TARNWICK_GOLDEN_DIR) + "/" + name);
  std::stringstream text;
  text << file.rdbuf();
  return nlohmann::ordered_json::parse(text.str()).dump();
}
std::string inner(const std::string& object) { return object.substr(1, object.size() - 2); }

}  // namespace

TEST(Modern, MetaIsCheckedMemberByMemberTheRevisionFirstAndNothingReachesTheApp) {
  RawApp app(200, "ok");
  const std::string revision = R"("_meta":{"io.modelcontextprotocol/protocolVersion":)";
  const std::string capabilities = R"("io.modelcontextprotocol/clientCapabilities":{}})";
  const std::string bad = "Invalid params: _meta member io.modelcontextprotocol/";
  const auto unsupported = [](const std::string& requested) {
    return R"({"supported":["2026-07-28"],"requested":")" + requested + "\"}";
  };
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"id":1,"method":"server/discover"})", error(1, -32602, "Invalid params: _meta is missing or not an object")},
      {request(1, "tools/list", "", revision + "20260728}"), error(1, -32602, bad + "protocolVersion is missing or not a string")},
      {request(1, "tools/call", R"("name":"status")", revision + R"("2026-07-28"})"),
       error(1, -32602, bad + "clientCapabilities is missing or not an object")},
      {request(1, "tools/call", R"("name":"status")",
               revision + R"("2026-07-28","io.modelcontextprotocol/clientCapabilities":[]})"),
       error(1, -32602, bad + "clientCapabilities is missing or not an object")},
      // A client of another revision learns which one to retry with, whatever else its _meta holds.
      {request(1, "tools/call", R"("name":"status")", revision + R"("2025-06-18"})"),
       error(1, -32022, "Unsupported protocol version", unsupported("2025-06-18"))},
      // A later revision, or text that sorts after ours, is no more ours than an earlier one.
      {request(1, "tools/list", "", revision + R"("2099-01-01",)" + capabilities),
       error(1, -32022, "Unsupported protocol version", unsupported("2099-01-01"))},
      {request(1, "tools/list", "", revision + "\"r\xC3\xA9vision\"," + capabilities),
       error(1, -32022, "Unsupported protocol version", unsupported("r\xC3\xA9vision"))},
  };
  for (const auto& [line, answer] : cases) {
    EXPECT_EQ(serveText(line, Automation{app.port()}), std::vector<std::string>{answer}) << line;
  }
  EXPECT_EQ(app.connections(), 0);
  // clientInfo is optional whatever it holds, and other keys play no part.
  const std::string extras = R"("_meta":{)" + meta + R"(,"io.modelcontextprotocol/clientInfo":7,"progressToken":"p"})";
  EXPECT_EQ(answersTo(request(2, "tools/list", "", extras))[0]["result"]["resultType"], "complete");
}

TEST(Modern, DiscoverTellsWhatTheHandshakeTellsDressedForTheRevision) {
  const json initialize = json::parse(golden("initialize.json"));
  const std::string expected = R"({"jsonrpc":"2.0","id":4,"result":{"resultType":"complete",)"
                               R"("supportedVersions":["2026-07-28"],"capabilities":)" +
                               initialize["capabilities"].dump() + R"(,"instructions":)" +
                               initialize["instructions"].dump() + "," + hints + dressing + "}}";
  EXPECT_EQ(serveText(request(4, "server/discover")), std::vector<std::string>{expected});
}

TEST(Modern, ListAndCallCarryTheHandshakeResultsBetweenTheirDressing) {
  RawApp app(200, "{\"rules\":[]}");
  const Automation automation{app.port()};
  const std::string arguments = R"("name":"status","arguments":{"app":"com.x/y","_meta":1})";
  const auto lines = serveText(request(5, "tools/list") + "\n" + request(6, "tools/call", arguments) + "\n" +
                                   R"({"id":7,"method":"tools/call","params":{)" + arguments + "}}\n" +
                                   request(8, "tools/call", R"("name":"nope")"),
                               automation);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], R"({"jsonrpc":"2.0","id":5,"result":{"resultType":"complete",)" +
                          inner(golden("tools-list-2026-07-28.json")) + "," + hints + dressing + "}}");
  const std::string toolResult = R"("content":[{"type":"text","text":"{\"rules\":[]}"}],"isError":false)";
  EXPECT_EQ(lines[1], R"({"jsonrpc":"2.0","id":6,"result":{"resultType":"complete",)" + toolResult + "," + dressing + "}}");
  EXPECT_EQ(lines[2], R"({"jsonrpc":"2.0","id":7,"result":{)" + toolResult + "}}");
  EXPECT_EQ(lines[3], error(8, -32602, "Unknown tool."));
  // The app hears the same request from either revision: the request's _meta is never posted.
  const auto requests = app.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0], requests[1]);
}

// Clients let an agent run read-only tools unasked (in plan mode, in parallel); a directory sends
// back any tool that says neither that it only reads nor that it may change things.
TEST(Modern, EveryToolIsTitledAndSaysWhetherItOnlyReads) {
  const std::vector<std::string> readers = {"list_targets", "status", "get_requests"};
  const json modern = answersTo(request(1, "tools/list"))[0]["result"]["tools"];
  const json legacy = answersTo(R"({"id":2,"method":"tools/list"})")[0]["result"]["tools"];
  ASSERT_EQ(modern.size(), legacy.size());
  std::set<std::string> titles;
  for (std::size_t i = 0; i < modern.size(); ++i) {
    const json& tool = modern[i];
    const std::string name = tool["name"].get<std::string>();
    ASSERT_TRUE(tool["title"].is_string()) << name;
    titles.insert(tool["title"].get<std::string>());
    const json& annotations = tool["annotations"];
    for (const char* hint : {"readOnlyHint", "destructiveHint", "idempotentHint", "openWorldHint"}) {
      EXPECT_TRUE(annotations.contains(hint) && annotations[hint].is_boolean()) << name << " " << hint;
    }
    const bool reader = std::find(readers.begin(), readers.end(), name) != readers.end();
    EXPECT_EQ(annotations.value("readOnlyHint", !reader), reader) << name;
    EXPECT_EQ(annotations.value("destructiveHint", reader), !reader) << name;
    // Beside title and annotations, the entry is the handshake revision's.
    json bare = tool;
    bare.erase("title");
    bare.erase("annotations");
    EXPECT_EQ(bare, legacy[i]) << name;
  }
  EXPECT_EQ(titles.size(), modern.size()) << "every title names one tool";
}

TEST(Modern, HandshakeMethodsAreUnknownAndNotificationsUnanswered) {
  const auto notFound = [](int id, const std::string& method) { return error(id, -32601, "Method not found: " + method); };
  EXPECT_EQ(serveText(request(9, "initialize") + "\n" + request(10, "ping") + "\n" + request(11, "logging/setLevel") +
                      "\n" + request(12, "resources/list") + "\n" +
                      R"({"method":"notifications/cancelled","params":{"requestId":9,"_meta":{)" + meta + "}}}\n" +
                      R"({"method":"server/discover"})"),
            (std::vector<std::string>{notFound(9, "initialize"), notFound(10, "ping"),
                                      notFound(11, "logging/setLevel"), notFound(12, "resources/list")}));
}

TEST(Modern, ErasInterleaveWithoutMemoryAndHandshakeAnswersStayByteForByte) {
  const std::vector<std::string> legacy = {
      R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-06-18"}})",
      R"({"id":2,"method":"tools/list","params":{"_meta":{"progressToken":3}}})",
      ping("3"),
      R"({"id":4,"method":"tools/call","params":{"name":"nope"}})",
  };
  std::string alone, mixed;
  for (const std::string& line : legacy) {
    alone += line + "\n";
    mixed += request(100, "server/discover") + "\n" + line + "\n" + request(101, "ping") + "\n";
  }
  const auto legacyLines = serveText(alone);
  const auto mixedLines = serveText(mixed);
  ASSERT_EQ(mixedLines.size(), 3 * legacy.size());
  for (std::size_t i = 0; i < legacy.size(); ++i) {
    EXPECT_EQ(json::parse(mixedLines[3 * i])["result"]["resultType"], "complete");
    EXPECT_EQ(mixedLines[3 * i + 1], legacyLines[i]);
    EXPECT_EQ(mixedLines[3 * i + 2], error(101, -32601, "Method not found: ping"));
  }
  EXPECT_EQ(legacyLines[0], R"({"jsonrpc":"2.0","id":1,"result":)" + golden("initialize.json") + "}");
  EXPECT_EQ(legacyLines[1], R"({"jsonrpc":"2.0","id":2,"result":)" + golden("tools-list.json") + "}");
}
