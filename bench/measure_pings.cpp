// Pings one at a time and pipelined, against a process that only echoes lines.
#include <stdexcept>

#include "measure.hpp"
#include "stats.hpp"

namespace {

// One ping written after the previous answer; returns microseconds.
double roundTrip(Child& child, long id, bool isEcho) {
  std::string line = pingLine(id);
  double t0 = nowSeconds();
  pump(child, line, 1, after(10));
  double us = secondsSince(t0) * 1e6;
  std::string answer = takeLine(child);
  if (!isEcho) {
    expectEmptyResult(answer, id);
  } else if (answer + "\n" != line) {
    throw std::runtime_error("the echo process changed a line");
  }
  return us;
}

double cpuSeconds(const Exit& exit) {
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(exit.usage.ru_utime) + seconds(exit.usage.ru_stime);
}

struct Burst {
  double perSecond = 0;
  double cpuSeconds = 0;  // of the whole process, start-up included
};

// Writes all pings as fast as the pipe takes them while reading the answers.
Burst pipelined(const Setup& setup, const std::string& pings, std::size_t count, bool isServer) {
  Child child = isServer ? startServer(setup) : startChild(setup, setup.echo);
  double t0 = nowSeconds();
  pump(child, pings, count, after(120));
  Burst burst{static_cast<double>(count) / secondsSince(t0), 0};
  if (isServer) {
    auto last = child.received.rfind('\n', child.received.size() - 2);
    expectEmptyResult(child.received.substr(last + 1, child.received.size() - last - 2),
                      static_cast<long>(count));
  }
  burst.cpuSeconds = cpuSeconds(finish(child, after(10)));
  return burst;
}

// CPU of a process that starts, answers nothing more, and ends: subtracted from a burst.
double idleCpu(const Setup& setup, bool isServer) {
  Child child = isServer ? startServer(setup) : startChild(setup, setup.echo);
  return cpuSeconds(finish(child, after(10)));
}

}  // namespace

std::vector<Row> measurePings(const Setup& setup) {
  std::vector<Row> rows;
  {
    // 0: the server, 1: the echo process, 2: the JSON library alone.
    Child children[3] = {startServer(setup), startChild(setup, setup.echo),
                         startChild(setup, setup.jsonFloor)};
    long id = 1;
    for (int i = 0; i < 200; ++i) {
      for (int k = 0; k < 3; ++k) roundTrip(children[k], id++, k == 1);
    }
    // Pings rotate one by one, so that whatever else the machine does hits all alike.
    std::vector<double> us[3];
    std::size_t rounds = scaled(setup, 20000);
    for (std::size_t r = 0; r < rounds; ++r) {
      for (std::size_t k = 0; k < 3; ++k) {
        std::size_t which = (r + k) % 3;
        us[which].push_back(roundTrip(children[which], id++, which == 1));
      }
    }
    rows.push_back({"ping round trip, median", "µs", median(us[0]), median(us[1]),
                    "echo process", Goal::RatioAtMost, 1.3});
    rows.back().detail = {{"pings", us[0].size()}};
    rows.push_back({"ping round trip, p99", "µs", percentile(us[0], 99), percentile(us[1], 99),
                    "echo process", Goal::None, 0});
    rows.push_back({"ping round trip, median", "µs", median(us[0]), median(us[2]),
                    "JSON library alone", Goal::None, 0});
  }
  {
    std::size_t count = scaled(setup, 100000, 1000);
    std::string pings;
    for (std::size_t i = 1; i <= count; ++i) pings += pingLine(static_cast<long>(i));
    std::vector<double> rate[2], cpu[2];
    std::size_t rounds = scaled(setup, 6);
    for (std::size_t r = 0; r < rounds; ++r) {
      for (int k = 0; k < 2; ++k) {
        bool isServer = (r + static_cast<std::size_t>(k)) % 2 == 0;
        Burst b = pipelined(setup, pings, count, isServer);
        double idle = idleCpu(setup, isServer);
        rate[isServer].push_back(b.perSecond);
        cpu[isServer].push_back((b.cpuSeconds - idle) / static_cast<double>(count) * 1e6);
      }
    }
    rows.push_back({"pipelined pings", "msg/s", median(rate[1]), median(rate[0]), "echo process",
                    Goal::None, 0});
    rows.back().detail = {{"pingsPerBurst", count}, {"bursts", rounds}};
    rows.push_back({"CPU per pipelined ping", "µs", median(cpu[1]), median(cpu[0]),
                    "echo process", Goal::ValueBelow, 5});
  }
  return rows;
}
