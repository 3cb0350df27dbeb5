// Cold start and the resident set after it, against processes that do nothing.
#include "measure.hpp"
#include "stats.hpp"

namespace {

struct Start {
  double seconds = 0;
  double rssMiB = 0;
};

// Spawn to the first answer line; the resident set is read once that line is in.
Start coldStart(const std::string& program, const Setup& setup) {
  std::string line = initializeLine(1);
  double t0 = nowSeconds();
  Child child = startChild(setup, program);
  pump(child, line, 1, after(10));
  Start start{secondsSince(t0), 0};
  start.rssMiB = static_cast<double>(processMemory(child.pid).residentKiB) / 1024;
  expectStartedAndEnd(child, program, after(10));
  return start;
}

// Spawn to the answer of the first tools/call, which also pays for the HTTP client's set-up.
double coldCall(const Setup& setup) {
  double t0 = nowSeconds();
  Child child = startChild(setup, setup.server);
  pump(child, initializeLine(1) + callLine(2, "status", "{}"), 2, after(10));
  double seconds = secondsSince(t0);
  takeLine(child);
  expectToolText(takeLine(child), 2, "{}");
  finish(child, after(10));
  return seconds;
}

}  // namespace

std::vector<Row> measureStart(const Setup& setup) {
  setup.app->setAnswer("{}");
  const std::vector<std::string> programs{setup.server, setup.bare, setup.bareLinked};
  for (int i = 0; i < 5; ++i) {
    for (const auto& p : programs) coldStart(p, setup);
  }
  std::vector<double> ms[3], rss[3], callMs;
  std::size_t rounds = scaled(setup, 300);
  for (std::size_t r = 0; r < rounds; ++r) {
    // Each round starts with a different program, so none is always the one after a pause.
    for (std::size_t k = 0; k < 4; ++k) {
      std::size_t which = (r + k) % 4;
      if (which == 3) {
        callMs.push_back(coldCall(setup) * 1e3);
        continue;
      }
      Start s = coldStart(programs[which], setup);
      ms[which].push_back(s.seconds * 1e3);
      rss[which].push_back(s.rssMiB);
    }
  }
  Row linked{"cold start to initialize answer", "ms", median(ms[0]), median(ms[2]),
             "bare process, same libraries", Goal::RatioAtMost, 1.5};
  Row absolute{"cold start, absolute", "ms", median(ms[0]), median(ms[1]),
               "bare process, C library only", Goal::ValueBelow, 10};
  // A bare process that loads the same libcurl and C++ runtime already resides at about 8 MiB,
  // so the target is a ratio to it rather than a figure of its own.
  Row resident{"resident set after start-up", "MiB", median(rss[0]), median(rss[2]),
               "bare process, same libraries", Goal::RatioAtMost, 1.2};
  Row firstCall{"cold start to first tools/call answer", "ms", median(callMs), median(ms[0]),
                "cold start to initialize answer", Goal::None, 0};
  linked.detail = {{"spawns", rounds},
                   {"serverP90ms", percentile(ms[0], 90)},
                   {"bareLinkedP90ms", percentile(ms[2], 90)},
                   {"bareP90ms", percentile(ms[1], 90)}};
  resident.detail = {{"bareMiB", median(rss[1])}};
  firstCall.detail = {{"p90ms", percentile(callMs, 90)}};
  return {linked, absolute, resident, firstCall};
}
