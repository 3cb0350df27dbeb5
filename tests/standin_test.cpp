// The stand-in app, driven over loopback HTTP as tarnwick-mcp drives it.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "standin/service.hpp"

namespace {

using json = nlohmann::ordered_json;

struct Reply {
  int status = 0;
  std::string text;
  json body() const { return json::parse(text); }
};

class StandinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::serve(server, standin);
    port = server.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    ASSERT_TRUE(standin::startListening(server, listener));
  }
  void TearDown() override {
    server.stop();
    if (listener.joinable()) listener.join();
  }

  Reply send(const std::string& method, const std::string& command, const std::string& body,
             const std::string& marker = "mcp") {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(10, 0);
    httplib::Headers headers;
    if (!marker.empty()) headers.emplace("X-Tarnwick", marker);
    auto res = method == "GET" ? client.Get("/" + command, headers)
                               : client.Post("/" + command, headers, body, "application/json");
    if (!res) return {-1, "no answer: " + httplib::to_string(res.error())};
    return {res->status, res->body};
  }
  Reply post(const std::string& command, const json& args) { return send("POST", command, args.dump()); }

  static json shop(json extra = json::object()) {
    json args{{"app", "com.example.shop"}, {"simulator", "booted"}};
    args.update(extra);
    return args;
  }

  standin::Standin standin;
  httplib::Server server;
  int port = 0;
  std::thread listener;
};

TEST_F(StandinTest, RefusesWhatIsNoAutomationCommand) {
  struct Case {
    std::string method, command, body, marker;
    int status;
    std::string mention;
  };
  const std::vector<Case> cases{
      {"POST", "status", "{}", "", 403, "X-Tarnwick: mcp"},
      {"POST", "status", "{}", "yes", 403, "X-Tarnwick: mcp"},
      {"GET", "status", "", "mcp", 405, "POST"},
      // Commands are the tools' commands, not their names.
      {"POST", "fail_endpoint", "{}", "mcp", 404, "/fail-endpoint"},
      {"POST", "", "{}", "mcp", 404, "/fail-endpoint"},
      {"POST", "status", "[1]", "mcp", 400, "JSON object"},
      {"POST", "status", "{\"app\":", "mcp", 400, "JSON object"},
      {"POST", "status", "", "mcp", 200, "rules"},  // no body at all counts as {}
  };
  for (const Case& c : cases) {
    const Reply reply = send(c.method, c.command, c.body, c.marker);
    EXPECT_EQ(reply.status, c.status) << c.method << " /" << c.command << " " << c.body << ": " << reply.text;
    EXPECT_NE(reply.text.find(c.mention), std::string::npos) << reply.text;
  }
}

TEST_F(StandinTest, BadArgumentsAreNamedWithWhatTheyAllow) {
  struct Case {
    const char* command;
    json args;
    std::vector<std::string> mentions;
  };
  const std::vector<Case> cases{
      {"set", json::object(), {"\"app\"", "Required: app"}},
      {"set", shop({{"failure", "sideways"}}), {"\"failure\"", "none, airplane, refuse, timeout, drop, outages"}},
      {"set", shop({{"loss", 101}}), {"\"loss\"", "0 to 100"}},
      {"set", shop({{"preset", "4G"}}), {"\"preset\"", "3G", "Very Bad Network", "100% Loss"}},
      {"set", shop({{"presets", "3G"}}), {"\"presets\"", "preset"}},
      {"set", shop({{"simulator", "Pixel 8"}}), {"simulator", "booted", "any", "iPhone 15"}},
      {"relaunch", {{"app", "com.example.shop"}}, {"\"simulator\"", "Required: app, simulator"}},
      {"requests", shop({{"limit", 0}}), {"\"limit\"", "1 to 500"}},
      {"requests", shop({{"include_bodies", "yes"}}), {"\"include_bodies\"", "true or false"}},
      {"mock-endpoint", shop({{"pattern", "x"}, {"status", "200"}}), {"\"status\"", "100 to 599"}},
  };
  for (const Case& c : cases) {
    const Reply reply = post(c.command, c.args);
    EXPECT_EQ(reply.status, 400) << c.command << " " << c.args.dump() << ": " << reply.text;
    for (const std::string& m : c.mentions) {
      EXPECT_NE(reply.text.find(m), std::string::npos)
          << c.args.dump() << " should mention " << m << ": " << reply.text;
    }
  }
  // The edges of the ranges are allowed, and null counts as left out.
  EXPECT_EQ(post("set", shop({{"loss", 100}, {"hosts", nullptr}})).status, 200);
  EXPECT_EQ(post("set", shop({{"loss", 0}, {"preset", "100% Loss"}})).status, 200);
  EXPECT_EQ(post("relaunch", shop()).status, 200);
  EXPECT_EQ(post("requests", shop({{"limit", 500}})).status, 200);
  EXPECT_EQ(post("requests", shop({{"limit", 1.0}})).status, 200);
}

}  // namespace
