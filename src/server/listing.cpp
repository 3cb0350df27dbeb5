#include "server/listing.hpp"

#include "catalogue/catalogue.hpp"

using nlohmann::ordered_json;

ordered_json toolList() {
  ordered_json entries = ordered_json::array();
  for (const Tool& tool : tools) {
    entries.push_back({
        {"name", tool.name},
        {"description", tool.description},
        {"inputSchema", {{"type", "object"}, {"properties", tool.properties}, {"required", tool.required}}},
    });
  }
  return {{"tools", std::move(entries)}};
}
