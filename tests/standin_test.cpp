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

  Reply postText(const std::string& command, const std::string& body, bool marker = true) {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(10, 0);
    httplib::Headers headers;
    if (marker) headers.emplace("X-Tarnwick", "mcp");
    auto res = client.Post("/" + command, headers, body, "application/json");
    if (!res) return {-1, "no answer: " + httplib::to_string(res.error())};
    return {res->status, res->body};
  }
  Reply post(const std::string& command, const json& args) { return postText(command, args.dump()); }

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
  Reply noMarker = postText("status", "{}", false);
  EXPECT_EQ(noMarker.status, 403);
  EXPECT_NE(noMarker.text.find("X-Tarnwick: mcp"), std::string::npos);

  httplib::Client client("127.0.0.1", port);
  auto wrongMarker = client.Post("/status", {{"X-Tarnwick", "yes"}}, "{}", "application/json");
  ASSERT_TRUE(wrongMarker);
  EXPECT_EQ(wrongMarker->status, 403);

  auto get = client.Get("/status", {{"X-Tarnwick", "mcp"}});
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 405);
  EXPECT_EQ(get->get_header_value("Allow"), "POST");

  // Commands are the tools' commands, not their names.
  for (const char* path : {"nope", "fail_endpoint", "list_targets", ""}) {
    Reply unknown = postText(path, "{}");
    EXPECT_EQ(unknown.status, 404) << path;
    EXPECT_NE(unknown.text.find("/fail-endpoint"), std::string::npos) << path;
  }
  for (const char* body : {"[1]", "\"app\"", "null", "{\"app\":", "not json"}) {
    Reply bad = postText("status", body);
    EXPECT_EQ(bad.status, 400) << body;
    EXPECT_NE(bad.text.find("JSON object"), std::string::npos) << body;
  }
  EXPECT_EQ(postText("status", "").status, 200);
}

TEST_F(StandinTest, BadArgumentsAreNamedWithWhatTheyAllow) {
  struct Case {
    const char* command;
    json args;
    std::vector<std::string> mentions;
  };
  const std::vector<Case> cases{
      {"set", json::object(), {"\"app\"", "Required: app"}},
      {"set",
       shop({{"failure", "sideways"}}),
       {"\"failure\"", "none, airplane, refuse, timeout, drop, outages"}},
      {"set", shop({{"loss", 101}}), {"\"loss\"", "0 to 100"}},
      {"set", shop({{"preset", "4G"}}), {"\"preset\"", "3G", "Very Bad Network", "100% Loss"}},
      {"set", shop({{"hosts_mode", "some"}}), {"\"hosts_mode\"", "only, except, all"}},
      {"set", shop({{"presets", "3G"}}), {"\"presets\"", "preset"}},
      {"set", shop({{"simulator", "Pixel 8"}}), {"simulator", "booted", "any", "iPhone 15"}},
      {"set", shop({{"app", "com.example.nope"}}), {"app", "com.example.shop", "com.example.weather"}},
      {"relaunch", {{"app", "com.example.shop"}}, {"\"simulator\"", "Required: app, simulator"}},
      {"requests", shop({{"limit", 0}}), {"\"limit\"", "1 to 500"}},
      {"requests", shop({{"include_bodies", "yes"}}), {"\"include_bodies\"", "true or false"}},
      {"fail-endpoint", shop({{"pattern", "x"}}), {"\"kind\"", "Required: app, simulator, pattern, kind"}},
      {"fail-endpoint",
       shop({{"pattern", "x"}, {"kind", "broken"}}),
       {"\"kind\"", "offline, timeout, status, delay"}},
      {"fail-endpoint",
       shop({{"pattern", "x"}, {"kind", "status"}, {"value", 99}}),
       {"\"value\"", "100 to 599"}},
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

TEST_F(StandinTest, TypicalFlowIsCoherent) {
  const json targets = postText("targets", "{}").body();
  EXPECT_NE(targets.at("note").get<std::string>().find("conditions nothing"), std::string::npos);
  EXPECT_EQ(targets.at("simulators")[0].at("apps")[0].at("bundle_id"), "com.example.shop");
  EXPECT_TRUE(targets.at("rules").empty());

  const json set = post("set", shop({{"preset", "3G"}, {"failure", "refuse"}, {"percent", 25}})).body();
  EXPECT_TRUE(set.contains("next"));  // not yet relaunched
  json rule = postText("status", "{}").body().at("rules").at(0);
  EXPECT_EQ(rule.at("app"), "com.example.shop");
  EXPECT_EQ(rule.at("network").get<std::string>().rfind("3G:", 0), 0u);
  EXPECT_EQ(rule.at("failure"), "refuse 25% of new connections");
  EXPECT_EQ(rule.at("watched"), false);

  EXPECT_EQ(post("requests", shop()).status, 409);  // nothing recorded before the relaunch
  ASSERT_EQ(post("relaunch", shop()).status, 200);
  const json first = post("requests", shop({{"limit", 4}})).body();
  ASSERT_EQ(first.at("requests").size(), 4u);
  EXPECT_GT(first.at("requests")[0].at("id").get<long>(), first.at("requests")[3].at("id").get<long>());

  ASSERT_EQ(
      post("fail-endpoint", shop({{"pattern", "api.example.com/*/cart"}, {"kind", "status"}, {"value", 503}}))
          .status,
      200);
  ASSERT_EQ(post("relaunch", shop()).status, 200);
  const json failed = post("requests", shop({{"filter", "path:/v1/cart"}})).body();
  ASSERT_FALSE(failed.at("requests").empty());
  EXPECT_EQ(failed.at("requests")[0].at("status"), 503);
  rule = postText("status", "{}").body().at("rules").at(0);
  ASSERT_EQ(rule.at("endpoints").size(), 1u);
  EXPECT_EQ(rule.at("endpoints")[0].at("does"), "fails: answers with status 503");

  const json cleared = post("clear-endpoints", shop({{"pattern", "api.example.com/*/cart"}})).body();
  EXPECT_EQ(cleared.at("removed"), 1);
  EXPECT_TRUE(cleared.at("rule").at("endpoints").empty());

  ASSERT_EQ(post("reset", shop()).status, 200);
  rule = postText("status", "{}").body().at("rules").at(0);
  EXPECT_EQ(rule.at("network"), "full speed");
  EXPECT_EQ(rule.at("failure"), "none");
  EXPECT_EQ(rule.at("watched"), true);  // reset keeps the app watched

  ASSERT_EQ(post("stop", shop()).status, 200);
  EXPECT_EQ(postText("status", "{}").body().at("rules").at(0).at("on"), false);
  EXPECT_EQ(post("requests", shop()).status, 409);
}

TEST_F(StandinTest, RequestsHonourFilterLimitAndBodies) {
  const json bigMock = shop({{"pattern", "/v1/profile"}, {"body", std::string(5000, 'x')}});
  ASSERT_EQ(post("mock-endpoint", bigMock).status, 200);
  for (int i = 0; i < 10; ++i) ASSERT_EQ(post("relaunch", shop()).status, 200);
  EXPECT_EQ(post("requests", shop()).body().at("shown"), 50);  // the default limit

  const auto all = [&](const std::string& filter, auto&& check) {
    const json list = post("requests", shop({{"filter", filter}, {"limit", 500}})).body().at("requests");
    EXPECT_FALSE(list.empty()) << filter;
    for (const json& r : list) EXPECT_TRUE(check(r)) << filter << ": " << r.dump();
  };
  all("status:4xx", [](const json& r) { return r.at("status").get<int>() / 100 == 4; });
  all("method:post", [](const json& r) { return r.at("method") == "POST"; });
  all("-host:cdn",
      [](const json& r) { return r.at("url").get<std::string>().find("cdn.") == std::string::npos; });
  all("is:failed", [](const json& r) { return r.contains("error") || r.at("status").get<int>() >= 400; });
  all("is:mocked profile", [](const json& r) { return r.at("mocked") == true; });
  EXPECT_EQ(post("requests", shop({{"filter", "colour:red"}})).status, 400);

  const json withBodies =
      post("requests", shop({{"include_bodies", true}, {"limit", 500}})).body().at("requests");
  bool sawCut = false;
  for (const json& r : withBodies) {
    EXPECT_LE(r.at("response_body").get<std::string>().size(), 4000u);
    sawCut = sawCut || r.value("response_body_cut", false);
  }
  EXPECT_TRUE(sawCut);
  EXPECT_FALSE(post("requests", shop({{"limit", 1}})).body().at("requests")[0].contains("response_body"));
}

TEST_F(StandinTest, SecondStandinCannotShareTheBusyPort) {
  standin::Standin other;
  httplib::Server second;
  standin::serve(second, other);
  EXPECT_FALSE(second.bind_to_port("127.0.0.1", port));
}

}  // namespace
