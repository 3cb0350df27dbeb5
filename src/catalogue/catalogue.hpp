#pragma once
// The ten tools, in the order clients see them, and the two property schemas most share.
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "catalogue/tool.hpp"

extern const nlohmann::ordered_json app;        // "app": which app a tool acts on
extern const nlohmann::ordered_json simulator;  // "simulator": which simulator, absent for a Mac app
extern const std::vector<Tool> tools;

// The tool with exactly this name, or nullptr.
const Tool* findTool(std::string_view name);
