#include <gtest/gtest.h>

#include <set>

#include "catalogue/catalogue.hpp"
#include "server/listing.hpp"

using nlohmann::json;

namespace {

json listed(const std::string& name) {
  const json list = toolList();
  for (const json& entry : list["tools"]) {
    if (entry["name"] == name) return entry;
  }
  return nullptr;
}

json schemaOf(const std::string& tool, const std::string& property) {
  return listed(tool)["inputSchema"]["properties"][property];
}

}  // namespace

TEST(Catalogue, ListsTenToolsInOrderWithTheirCommands) {
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"list_targets", "targets"},          {"status", "status"},
      {"set_network", "set"},               {"reset_network", "reset"},
      {"stop_watching", "stop"},            {"relaunch_app", "relaunch"},
      {"get_requests", "requests"},         {"fail_endpoint", "fail-endpoint"},
      {"mock_endpoint", "mock-endpoint"},   {"clear_endpoints", "clear-endpoints"}};
  const json list = toolList();
  ASSERT_EQ(list.size(), 1u);
  ASSERT_EQ(list["tools"].size(), expected.size());
  ASSERT_EQ(tools.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const json& entry = list["tools"][i];
    EXPECT_EQ(entry["name"], expected[i].first);
    EXPECT_EQ(tools[i].command, expected[i].second);
    EXPECT_EQ(entry.size(), 3u) << "only name, description and inputSchema are shown";
    EXPECT_EQ(entry["inputSchema"].size(), 3u);
    EXPECT_EQ(entry["inputSchema"]["type"], "object");
    EXPECT_TRUE(tools[i].fixed.is_object() && tools[i].fixed.empty());
  }
}

TEST(Catalogue, RequiredListsAndPropertySetsAreAsPublished) {
  const std::vector<std::tuple<std::string, std::vector<std::string>, std::set<std::string>>> expected = {
      {"list_targets", {}, {}},
      {"status", {}, {}},
      {"set_network", {"app"}, {"app", "simulator", "preset", "down", "up", "latency", "jitter", "loss", "failure",
                                "percent", "after", "online", "offline", "hosts", "hosts_mode"}},
      {"reset_network", {"app"}, {"app", "simulator"}},
      {"stop_watching", {"app"}, {"app", "simulator"}},
      {"relaunch_app", {"app", "simulator"}, {"app", "simulator"}},
      {"get_requests", {"app", "simulator"}, {"app", "simulator", "limit", "filter", "include_bodies"}},
      {"fail_endpoint", {"app", "simulator", "pattern", "kind"}, {"app", "simulator", "pattern", "kind", "value"}},
      {"mock_endpoint", {"app", "simulator", "pattern"},
       {"app", "simulator", "pattern", "status", "body", "content_type", "delay"}},
      {"clear_endpoints", {"app"}, {"app", "simulator", "pattern"}}};
  for (const auto& [name, required, properties] : expected) {
    const json schema = listed(name)["inputSchema"];
    EXPECT_EQ(schema["required"], json(required)) << name;
    std::set<std::string> keys;
    for (const auto& [key, property] : schema["properties"].items()) {
      keys.insert(key);
      // Only type, description and (for enumerations) enum: no bounds or defaults.
      EXPECT_TRUE(property["type"].is_string() && property["description"].is_string()) << name << "." << key;
      EXPECT_EQ(property.size(), property.contains("enum") ? 3u : 2u) << name << "." << key;
    }
    EXPECT_EQ(keys, properties) << name;
  }
}

TEST(Catalogue, SharedPropertiesAreTheSameInEveryToolThatCarriesThem) {
  int carriers = 0;
  const json list = toolList();
  for (const json& entry : list["tools"]) {
    const json& properties = entry["inputSchema"]["properties"];
    if (!properties.contains("app")) continue;
    ++carriers;
    EXPECT_EQ(properties["app"], app);
    EXPECT_EQ(properties["simulator"], simulator);
  }
  EXPECT_EQ(carriers, 8);
  EXPECT_EQ(simulator, json::parse(R"({"type":"string","description":
      "For iOS Simulator apps: booted, any, a device name or a UDID. Leave out for a Mac app."})"));
  const std::string appText = app["description"].get<std::string>();
  EXPECT_EQ(appText.rfind("The app: a bundle ID like ", 0), 0u);
  EXPECT_TRUE(appText.ends_with(", an app name, or * for every app in a simulator."));
}

TEST(Catalogue, EnumerationsAndTypesAreExact) {
  EXPECT_EQ(schemaOf("set_network", "failure")["enum"],
            json({"none", "airplane", "refuse", "timeout", "drop", "outages"}));
  EXPECT_EQ(schemaOf("set_network", "hosts_mode")["enum"], json({"only", "except", "all"}));
  EXPECT_EQ(schemaOf("fail_endpoint", "kind")["enum"], json({"offline", "timeout", "status", "delay"}));
  std::set<std::string> integers, booleans;
  int enums = 0;
  const json list = toolList();
  for (const json& entry : list["tools"]) {
    for (const auto& [key, property] : entry["inputSchema"]["properties"].items()) {
      const std::string where = entry["name"].get<std::string>() + "." + key;
      if (property["type"] == "integer") integers.insert(where);
      if (property["type"] == "boolean") booleans.insert(where);
      enums += property.contains("enum");
    }
  }
  EXPECT_EQ(integers, (std::set<std::string>{"get_requests.limit", "mock_endpoint.status"}));
  EXPECT_EQ(booleans, (std::set<std::string>{"get_requests.include_bodies"}));
  EXPECT_EQ(enums, 3);
  EXPECT_EQ(schemaOf("fail_endpoint", "value")["type"], "number");
}

TEST(Catalogue, ExampleTextsHaveTheirPromisedForm) {
  const std::string hosts = schemaOf("set_network", "hosts")["description"].get<std::string>();
  const std::string prefix = "Comma-separated hosts to limit the rule to, like ";
  ASSERT_EQ(hosts.rfind(prefix, 0), 0u);
  const std::string list = hosts.substr(prefix.size(), hosts.size() - prefix.size() - 1);
  EXPECT_EQ(hosts.back(), '.');
  ASSERT_NE(list.find(','), std::string::npos);
  EXPECT_EQ(list.find(' '), std::string::npos);
  EXPECT_EQ(list.substr(list.find(',') + 1, 2), "*.");

  const auto fragment = [](const std::string& tool) {
    const std::string text = schemaOf(tool, "pattern")["description"].get<std::string>();
    const std::string head = "Requests whose URL contains this, like ", tail = ". Use * for any text.";
    EXPECT_EQ(text.rfind(head, 0), 0u) << text;
    EXPECT_TRUE(text.ends_with(tail)) << text;
    return text.substr(head.size(), text.size() - head.size() - tail.size());
  };
  const std::string failing = fragment("fail_endpoint"), mocked = fragment("mock_endpoint");
  EXPECT_NE(failing, mocked);
  EXPECT_EQ(failing.substr(0, failing.rfind('/')), mocked.substr(0, mocked.rfind('/')));  // host and version shared
  EXPECT_EQ(std::count(failing.begin(), failing.end(), '/'), 2);
  EXPECT_EQ(failing.find("://"), std::string::npos);
  EXPECT_EQ(schemaOf("clear_endpoints", "pattern")["description"], "Only remove rules for this pattern.");
}

TEST(Catalogue, ToolMadeWithoutFixedHasAnEmptyOne) {
  const Tool tool{"t", "c", "d", json::object(), {}};
  EXPECT_TRUE(tool.fixed.is_object() && tool.fixed.empty());
  EXPECT_EQ(findTool("List_Targets"), nullptr);
  EXPECT_EQ(findTool(""), nullptr);
  ASSERT_NE(findTool("clear_endpoints"), nullptr);
  EXPECT_EQ(findTool("clear_endpoints")->command, "clear-endpoints");
}
