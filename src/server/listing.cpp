#include "server/listing.hpp"

#include "catalogue/catalogue.hpp"

using nlohmann::json;

json toolList() {
  json entries = json::array();
  for (const Tool& tool : tools) {
    entries.push_back({
        {"name", tool.name},
        {"description", tool.description},
        {"inputSchema", {{"type", "object"}, {"properties", tool.properties}, {"required", tool.required}}},
    });
  }
  return {{"tools", std::move(entries)}};
}

void listTools(const json& id, Output& out) { reply(id, toolList(), out); }
