#include "server/listing.hpp"

#include "catalogue/catalogue.hpp"

using nlohmann::ordered_json;

namespace {

ordered_json annotations(const Hints& hints) {
  return {
      {"readOnlyHint", hints.readOnly},
      {"destructiveHint", hints.destructive},
      {"idempotentHint", hints.idempotent},
      {"openWorldHint", hints.openWorld},
  };
}

}  // namespace

ordered_json toolList(bool modern) {
  ordered_json entries = ordered_json::array();
  for (const Tool& tool : tools) {
    ordered_json entry = {{"name", tool.name}};
    if (modern) entry["title"] = tool.title;
    entry["description"] = tool.description;
    entry["inputSchema"] = {{"type", "object"}, {"properties", tool.properties}, {"required", tool.required}};
    // The handshake revision's entries keep exactly their three members: clients compare them.
    if (modern) entry["annotations"] = annotations(tool.hints);
    entries.push_back(std::move(entry));
  }
  return {{"tools", std::move(entries)}};
}
