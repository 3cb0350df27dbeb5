// Peak memory while the server handles one 64 MiB line, and over three long answers: the peak
// resident set on Linux, the peak physical footprint on macOS (platform.hpp).
#include <stdexcept>

#include "measure.hpp"
#include "stats.hpp"

namespace {

constexpr std::size_t kLineBytes = 64u << 20;

// `prefix`, padding as a JSON string, then `suffix`: kLineBytes in all, plus the line feed.
std::string bigLine(const std::string& prefix, const std::string& suffix) {
  return prefix + awkwardJsonString(kLineBytes - prefix.size() - suffix.size()) + suffix + "\n";
}

std::string peakFigure(const char* what) { return memoryMeasures().peakFigure + std::string(what); }

struct Peak {
  double multiple = 0;  // of the line
  double seconds = 0;
};

Peak handle(const Setup& setup, const std::string& line, bool isCall) {
  Child server = startServer(setup);
  double t0 = nowSeconds();
  pump(server, line, 1, after(120));
  Peak peak{0, secondsSince(t0)};
  peak.multiple = static_cast<double>(processMemory(server.pid).peakKiB) * 1024 /
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

// Every copy of a long text on its way from the app to the answer line adds its size here.
Row threeLongAnswers(const Setup& setup) {
  constexpr std::size_t answerBytes = 7'000'000;
  const std::string text = awkwardText(answerBytes);
  setup.app->setAnswer(text);
  Child server = startServer(setup);
  for (long id = 1; id <= 3; ++id) {
    pump(server, callLine(id, "status", "{}"), 1, after(60));
    expectToolText(takeLine(server), id, text);
  }
  const double peakMiB = static_cast<double>(processMemory(server.pid).peakKiB) / 1024;
  finish(server, after(10));
  setup.app->setAnswer("{}");
  return {peakFigure(", three 7 MB answers"), "MiB", peakMiB, std::nullopt, "", Goal::None, 0};
}

}  // namespace

std::vector<Row> measureMemory(const Setup& setup) {
  setup.app->setAnswer("{}");
  std::vector<Row> rows;
  rows.push_back(peakRow(setup, peakFigure(", 64 MiB ping line"),
                         bigLine(R"({"jsonrpc":"2.0","id":1,"method":"ping","params":{"pad":")",
                                 R"("}})"),
                         false));
  rows.push_back(peakRow(setup, peakFigure(", 64 MiB tools/call line"),
                         bigLine(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":)"
                                 R"({"name":"status","arguments":{"pad":")",
                                 R"("}}})"),
                         true));
  if (setup.app->largestRequestBody() < kLineBytes / 2) {
    throw std::runtime_error("the 64 MiB arguments did not reach the fake app");
  }
  rows.push_back(threeLongAnswers(setup));
  return rows;
}
