#pragma once
// One line of the results table, and the table, the Markdown and the JSON made from them.

#include <nlohmann/json.hpp>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

enum class Goal { None, RatioAtMost, ExtraAtMost, ValueBelow };

struct Row {
  std::string figure;
  std::string unit;              // of value, floor and an absolute limit
  double value = 0;
  std::optional<double> floor;   // measured in the same run
  std::string floorName;
  Goal goal = Goal::None;
  double limit = 0;              // a ratio, an extra in `unit`, or a value in `unit`
  nlohmann::json detail = nlohmann::json::object();  // raw figures behind the row
};

std::optional<bool> met(const Row& row);  // empty when the row has no target
void printTable(std::ostream& out, const std::vector<Row>& rows);
nlohmann::json toJson(const std::vector<Row>& rows, const nlohmann::json& machine);

// One line: the system, the CPU, the cores and where the run placed its processes, from the
// `machine` that toJson is given (platform.hpp's, with main's "placement").
std::string describe(const nlohmann::json& machine);
// A heading with that line, what the memory rows measure, and the table, as Markdown.
void printMarkdown(std::ostream& out, const std::vector<Row>& rows, const nlohmann::json& machine);
