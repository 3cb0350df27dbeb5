// Peak resident set while the server handles one 64 MiB line.
#include <stdexcept>

#include "measure.hpp"
#include "stats.hpp"

namespace {

constexpr std::size_t kLineBytes = 64u << 20;

// `prefix`, padding as a JSON string, then `suffix`: kLineBytes in all, plus the line feed.
std::string bigLine(const std::string& prefix, const std::string& suffix) {
  return prefix + awkwardJsonString(kLineBytes - prefix.size() - suffix.size()) + suffix + "\n";
}

struct Peak {
  double multiple = 0;  // of the line
  double seconds = 0;
};

Peak handle(const Setup& setup, const std::string& line, bool isCall) {
  Child server = startServer(setup);
  double t0 = nowSeconds();
  pump(server, line, 1, after(120));
  Peak peak{0, secondsSince(t0)};
  peak.multiple = static_cast<double>(procStatusKiB(server.pid, "VmHWM")) * 1024 /
                  static_cast<double>(kLineBytes);
  std::string answer = takeLine(server);
  if (isCall) {
    expectToolText(answer, 1, "{}");
  } else {
    expectEmptyResult(answer, 1);
  }
  finish(server, after(10));
  return peak;
}

Row peakRow(const Setup& setup, const std::string& figure, const std::string& line, bool isCall) {
  std::vector<double> multiple, seconds;
  for (std::size_t i = 0, n = scaled(setup, 3, 1); i < n; ++i) {
    Peak p = handle(setup, line, isCall);
    multiple.push_back(p.multiple);
    seconds.push_back(p.seconds);
  }
  Row row{figure, "x line", median(multiple), std::nullopt, "", Goal::ValueBelow, 4};
  row.detail = {{"lineBytes", kLineBytes}, {"peakMiB", median(multiple) * 64},
                {"answerSeconds", median(seconds)}};
  return row;
}

}  // namespace

std::vector<Row> measureMemory(const Setup& setup) {
  setup.app->setAnswer("{}");
  std::vector<Row> rows;
  rows.push_back(peakRow(setup, "peak resident set, 64 MiB ping line",
                         bigLine(R"({"jsonrpc":"2.0","id":1,"method":"ping","params":{"pad":")",
                                 R"("}})"),
                         false));
  rows.push_back(peakRow(setup, "peak resident set, 64 MiB tools/call line",
                         bigLine(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":)"
                                 R"({"name":"status","arguments":{"pad":")",
                                 R"("}}})"),
                         true));
  if (setup.app->largestRequestBody() < kLineBytes / 2) {
    throw std::runtime_error("the 64 MiB arguments did not reach the fake app");
  }
  return rows;
}
