// Start through launchers: the time to the initialize answer and what the whole process tree
// holds in memory at that moment, each launcher in the same rounds as the native binary.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <stdexcept>

#include "measure.hpp"
#include "process_tree.hpp"
#include "stats.hpp"

namespace {

struct Sample {
  double ms = 0;
  double residentMiB = 0;
  double processes = 0;
};

Sample startOnce(const Setup& setup, const std::string& name, const std::vector<std::string>& argv,
                 std::vector<std::string> env) {
  env.push_back("TARNWICK_PORT=" + std::to_string(setup.app->port()));
  const std::string line = initializeLine(1);
  double t0 = nowSeconds();
  Child child = spawnChild(argv, env);
  if (setup.childCpu >= 0) pinToCpu(child.pid, setup.childCpu);
  try {
    // Generous: npx asks the registry about the package on every start, warm cache or not.
    pump(child, line, 1, after(60));
  } catch (const std::exception& e) {
    throw std::runtime_error(name + ": " + e.what());
  }
  Sample sample{secondsSince(t0) * 1e3, 0, 0};
  TreeMemory tree = treeMemory(child.pid);
  sample.residentMiB = static_cast<double>(tree.residentKiB) / 1024;
  sample.processes = static_cast<double>(tree.processes);
  expectStartedAndEnd(child, name, after(60));
  return sample;
}

struct Samples {
  std::vector<double> ms, residentMiB, processes;
  void add(const Sample& s) {
    ms.push_back(s.ms);
    residentMiB.push_back(s.residentMiB);
    processes.push_back(s.processes);
  }
};

Row row(const std::string& figure, const std::string& unit, const std::vector<double>& value,
        const std::vector<double>& native, std::optional<double> within) {
  return {figure, unit, median(value), median(native), "native binary",
          within ? Goal::ExtraAtMost : Goal::None, within.value_or(0)};
}

// The order of the programs in round `round`. Rows of a Williams design: over a cycle of
// rounds, each program comes right after each other one equally often, so whatever one leaves
// behind (npx's registry work, say) slows all the others alike. Mirrored rows follow the
// plain ones, which an odd count needs.
std::vector<std::size_t> roundOrder(std::size_t count, std::size_t round) {
  std::size_t shift = round % count;
  std::vector<std::size_t> order;
  for (std::size_t k = 0; k < count; ++k) {
    std::size_t base = k % 2 == 1 ? (k + 1) / 2 : (count - k / 2) % count;  // 0, 1, n-1, 2, n-2...
    order.push_back((base + shift) % count);
  }
  if (round % (2 * count) >= count) std::reverse(order.begin(), order.end());
  return order;
}

}  // namespace

Launcher parseLauncher(const std::string& arg) {
  auto eq = arg.find('=');
  if (eq == std::string::npos || eq == 0) throw std::invalid_argument("expected NAME=JSON: " + arg);
  auto given = nlohmann::json::parse(arg.substr(eq + 1));
  Launcher launcher{arg.substr(0, eq), {}, {}, std::nullopt, std::nullopt};
  for (const auto& word : given.at("argv")) launcher.argv.push_back(word.get<std::string>());
  if (launcher.argv.empty()) throw std::invalid_argument("empty argv: " + arg);
  if (given.contains("env")) {
    for (const auto& [name, value] : given.at("env").items()) {
      launcher.env.push_back(name + "=" + value.get<std::string>());
    }
  }
  if (given.contains("startWithinMs")) launcher.startWithinMs = given.at("startWithinMs").get<double>();
  if (given.contains("residentWithinMiB")) {
    launcher.residentWithinMiB = given.at("residentWithinMiB").get<double>();
  }
  return launcher;
}

std::vector<Row> measureLaunchers(const Setup& setup) {
  setup.app->setAnswer("{}");
  const std::size_t count = setup.launchers.size() + 1;  // the native binary last
  auto once = [&](std::size_t which) {
    if (which == setup.launchers.size()) return startOnce(setup, setup.native, {setup.native}, {});
    const Launcher& l = setup.launchers[which];
    return startOnce(setup, l.name, l.argv, l.env);
  };
  // The first starts fill the page cache and, for npx, whatever it keeps between runs.
  for (int i = 0; i < 2; ++i) {
    for (std::size_t which = 0; which < count; ++which) once(which);
  }
  std::vector<Samples> samples(count);
  const std::size_t cycle = 2 * count;  // rounds in one cycle of the design
  std::size_t rounds = (scaled(setup, 100) + cycle - 1) / cycle * cycle;
  for (std::size_t r = 0; r < rounds; ++r) {
    // This unmeasured start makes what comes before a round's first the same for all.
    once(count - 1);
    for (std::size_t which : roundOrder(count, r)) samples[which].add(once(which));
  }
  const Samples& base = samples.back();
  std::vector<Row> rows;
  for (std::size_t i = 0; i < setup.launchers.size(); ++i) {
    const Launcher& l = setup.launchers[i];
    const Samples& s = samples[i];
    Row start = row(l.name + ", start to initialize answer", "ms", s.ms, base.ms, l.startWithinMs);
    Row memory = row(l.name + ", process tree resident set", "MiB", s.residentMiB,
                     base.residentMiB, l.residentWithinMiB);
    start.detail = {{"starts", rounds}, {"p90ms", percentile(s.ms, 90)},
                    {"nativeP90ms", percentile(base.ms, 90)}, {"argv", l.argv}};
    memory.detail = {{"processes", median(s.processes)}, {"nativeProcesses", median(base.processes)}};
    rows.push_back(std::move(start));
    rows.push_back(std::move(memory));
  }
  return rows;
}
