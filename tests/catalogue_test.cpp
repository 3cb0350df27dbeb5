#include <gtest/gtest.h>

#include "catalogue/catalogue.hpp"
#include "server/listing.hpp"
#include "support/run.hpp"

#include <fstream>
#include <sstream>

using nlohmann::json;

namespace {

json listed(const std::string& name) {
  const json list = toolList();
  for (const json& entry : list["tools"]) {
    if (entry["name"] == name) return entry;
  }
  return nullptr;
}

std::string descriptionOf(const std::string& tool, const std::string& property) {
  return listed(tool)["inputSchema"]["properties"][property]["description"].get<std::string>();
}

}  // namespace

// What a client validates its calls against, so a slip here refuses or lets through real calls.
TEST(Catalogue, TenToolsInOrderWithTheirCommandsAndRequiredArguments) {
  const std::vector<std::tuple<std::string, std::string, std::vector<std::string>>> expected = {
      {"list_targets", "targets", {}},
      {"status", "status", {}},
      {"set_network", "set", {"app"}},
      {"reset_network", "reset", {"app"}},
      {"stop_watching", "stop", {"app"}},
      {"relaunch_app", "relaunch", {"app", "simulator"}},
      {"get_requests", "requests", {"app", "simulator"}},
      {"fail_endpoint", "fail-endpoint", {"app", "simulator", "pattern", "kind"}},
      {"mock_endpoint", "mock-endpoint", {"app", "simulator", "pattern"}},
      {"clear_endpoints", "clear-endpoints", {"app"}}};
  const json list = toolList();
  ASSERT_EQ(list.size(), 1u);
  ASSERT_EQ(list["tools"].size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const auto& [name, command, required] = expected[i];
    const json& entry = list["tools"][i];
    EXPECT_EQ(entry["name"], name);
    ASSERT_NE(findTool(name), nullptr);
    EXPECT_EQ(findTool(name)->command, command);
    EXPECT_EQ(entry.size(), 3u) << "only name, description and inputSchema are shown";
    EXPECT_EQ(entry["inputSchema"]["type"], "object");
    EXPECT_EQ(entry["inputSchema"]["required"], json(required)) << name;
    for (const std::string& argument : required) {
      EXPECT_TRUE(entry["inputSchema"]["properties"].contains(argument)) << name << "." << argument;
    }
  }
  EXPECT_EQ(findTool("List_Targets"), nullptr);
  EXPECT_EQ(findTool("targets"), nullptr);
}

TEST(Catalogue, PropertiesHaveOnlyTypeDescriptionAndEnumAndTheSharedOnesAgree) {
  int carriers = 0;
  const json list = toolList();
  for (const json& entry : list["tools"]) {
    const json& properties = entry["inputSchema"]["properties"];
    for (const auto& [key, property] : properties.items()) {
      const std::string where = entry["name"].get<std::string>() + "." + key;
      EXPECT_TRUE(property["type"].is_string() && property["description"].is_string()) << where;
      EXPECT_EQ(property.size(), property.contains("enum") ? 3u : 2u) << where;
    }
    if (!properties.contains("app")) continue;
    ++carriers;
    EXPECT_EQ(properties["app"], app);
    EXPECT_EQ(properties["simulator"], simulator);
  }
  EXPECT_EQ(carriers, 8);
}

TEST(Catalogue, ExampleTextsHaveTheirPromisedForm) {
  const std::string appText = app["description"].get<std::string>();
  EXPECT_EQ(appText.rfind("The app: a bundle ID like com.", 0), 0u) << appText;
  EXPECT_TRUE(appText.ends_with(", an app name, or * for every app in a simulator."));

  // Two hosts, the second a wildcard, separated by a comma alone.
  const std::string hosts = descriptionOf("set_network", "hosts");
  const std::string prefix = "Comma-separated hosts to limit the rule to, like ";
  ASSERT_EQ(hosts.rfind(prefix, 0), 0u);
  const std::string list = hosts.substr(prefix.size(), hosts.size() - prefix.size() - 1);
  EXPECT_EQ(hosts.back(), '.');
  ASSERT_NE(list.find(','), std::string::npos);
  EXPECT_EQ(list.find(' '), std::string::npos);
  EXPECT_EQ(list.substr(list.find(',') + 1, 2), "*.");

  // URL fragments without a scheme, on the same host and version, for different endpoints.
  const auto fragment = [](const std::string& tool) {
    const std::string text = descriptionOf(tool, "pattern");
    const std::string head = "Requests whose URL contains this, like ", tail = ". Use * for any text.";
    EXPECT_EQ(text.rfind(head, 0), 0u) << text;
    EXPECT_TRUE(text.ends_with(tail)) << text;
    return text.substr(head.size(), text.size() - head.size() - tail.size());
  };
  const std::string failing = fragment("fail_endpoint"), mocked = fragment("mock_endpoint");
  EXPECT_NE(failing, mocked);
  EXPECT_EQ(failing.substr(0, failing.rfind('/')), mocked.substr(0, mocked.rfind('/')));
  EXPECT_EQ(std::count(failing.begin(), failing.end(), '/'), 2);
  EXPECT_EQ(failing.find("://"), std::string::npos);
}

// What clients see, every text, type, enum, required list and member order at once, against
// copies kept as data: a slip anywhere in the catalogue or the handshake shows here.
TEST(Published, InitializeAndToolListAreExactlyTheGoldenCopies) {
  const auto golden = [](const std::string& name) {
    std::ifstream file(std::string(TARNWICK_GOLDEN_DIR) + "/" + name);
    std::stringstream text;
    text << file.rdbuf();
    return nlohmann::ordered_json::parse(text.str()).dump();
  };
  const auto lines = serveText(R"({"jsonrpc":"2.0","id":1,"method":"initialize"})" "\n"
                               R"({"jsonrpc":"2.0","id":2,"method":"tools/list"})" "\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], R"({"jsonrpc":"2.0","id":1,"result":)" + golden("initialize.json") + "}");
  EXPECT_EQ(lines[1], R"({"jsonrpc":"2.0","id":2,"result":)" + golden("tools-list.json") + "}");
}
