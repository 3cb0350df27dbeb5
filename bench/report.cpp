#include "report.hpp"

#include <cstdio>

namespace {

std::string number(double v) {
  char buf[32];
  const char* format = v >= 1000 ? "%.0f" : v >= 100 ? "%.1f" : v >= 10 ? "%.2f" : "%.3f";
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

std::string withUnit(double v, const std::string& unit) {
  return unit.empty() ? number(v) : number(v) + " " + unit;
}

std::string target(const Row& row) {
  switch (row.goal) {
    case Goal::RatioAtMost: return "<= " + number(row.limit) + "x floor";
    case Goal::ExtraAtMost: return "<= floor + " + withUnit(row.limit, row.unit);
    case Goal::ValueBelow: return "< " + withUnit(row.limit, row.unit);
    case Goal::None: break;
  }
  return "-";
}

std::optional<double> ratio(const Row& row) {
  if (!row.floor || *row.floor <= 0) return std::nullopt;
  return row.value / *row.floor;
}

// Columns are padded by characters shown, not bytes, so that "µ" keeps them aligned.
std::size_t shownWidth(const std::string& s) {
  std::size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

void cell(std::ostream& out, const std::string& s, std::size_t width) {
  out << s << std::string(width > shownWidth(s) ? width - shownWidth(s) + 2 : 2, ' ');
}

// The heading line, then one line per row.
std::vector<std::vector<std::string>> tableCells(const std::vector<Row>& rows) {
  std::vector<std::vector<std::string>> cells{
      {"figure", "value", "floor", "ratio", "target", "result"}};
  for (const Row& row : rows) {
    auto r = ratio(row);
    auto ok = met(row);
    cells.push_back({row.figure, withUnit(row.value, row.unit),
                     row.floor ? withUnit(*row.floor, row.unit) + " (" + row.floorName + ")" : "-",
                     r ? number(*r) + "x" : "-", target(row),
                     ok ? (*ok ? "met" : "MISSED") : "-"});
  }
  return cells;
}

std::string text(const nlohmann::json& machine, const char* key) {
  auto it = machine.find(key);
  return it != machine.end() && it->is_string() ? it->get<std::string>() : "";
}

}  // namespace

std::optional<bool> met(const Row& row) {
  switch (row.goal) {
    case Goal::RatioAtMost: return ratio(row) && *ratio(row) <= row.limit;
    case Goal::ExtraAtMost: return row.floor && row.value - *row.floor <= row.limit;
    case Goal::ValueBelow: return row.value < row.limit;
    case Goal::None: break;
  }
  return std::nullopt;
}

void printTable(std::ostream& out, const std::vector<Row>& rows) {
  const auto cells = tableCells(rows);
  std::vector<std::size_t> widths(cells[0].size(), 0);
  for (const auto& line : cells) {
    for (std::size_t i = 0; i < line.size(); ++i) widths[i] = std::max(widths[i], shownWidth(line[i]));
  }
  for (const auto& line : cells) {
    for (std::size_t i = 0; i + 1 < line.size(); ++i) cell(out, line[i], widths[i]);
    out << line.back() << '\n';
  }
}

nlohmann::json toJson(const std::vector<Row>& rows, const nlohmann::json& machine) {
  nlohmann::json list = nlohmann::json::array();
  for (const Row& row : rows) {
    nlohmann::json j = {{"figure", row.figure}, {"unit", row.unit}, {"value", row.value},
                        {"target", target(row)}, {"detail", row.detail}};
    j["floor"] = row.floor ? nlohmann::json(*row.floor) : nlohmann::json(nullptr);
    j["floorName"] = row.floorName;
    auto r = ratio(row);
    j["ratio"] = r ? nlohmann::json(*r) : nlohmann::json(nullptr);
    auto ok = met(row);
    j["met"] = ok ? nlohmann::json(*ok) : nlohmann::json(nullptr);
    list.push_back(std::move(j));
  }
  return {{"machine", machine}, {"rows", std::move(list)}};
}

std::string describe(const nlohmann::json& machine) {
  std::string line = text(machine, "os") + ", " + text(machine, "cpu");
  if (!text(machine, "model").empty()) line += " (" + text(machine, "model") + ")";
  auto cores = machine.find("cores");
  if (cores != machine.end() && cores->is_number()) line += ", " + std::to_string(cores->get<long>()) + " cores";
  line += ", " + text(machine, "arch");
  if (!text(machine, "translated").empty()) line += " under " + text(machine, "translated");
  line += ", kernel " + text(machine, "kernel") + ", " + text(machine, "placement");
  return line;
}

void printMarkdown(std::ostream& out, const std::vector<Row>& rows, const nlohmann::json& machine) {
  const bool quick = machine.contains("quick") && machine.at("quick") == true;
  out << "### tarnwick-bench" << (quick ? ", quick run" : "") << "\n\n" << describe(machine) << ".\n\n";
  if (machine.contains("memory")) {
    out << "Resident sets: " << text(machine.at("memory"), "resident") << "; peaks: "
        << text(machine.at("memory"), "peak") << ".\n\n";
  }
  const auto cells = tableCells(rows);
  for (std::size_t i = 0; i < cells.size(); ++i) {
    for (const auto& cell : cells[i]) out << "| " << cell << " ";
    out << "|\n";
    if (i == 0) out << "|---|---|---|---|---|---|\n";
  }
  out << "\n";
}
