// The server beside another build of it (--baseline PATH), request by request: what a change
// costs or saves, shown apart from the machine's noise, which hits both alike. Both must
// answer every request with the same bytes.
#include <stdexcept>

#include "measure.hpp"
#include "stats.hpp"

namespace {

std::string listLine(long id) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":"tools/list"})" "\n";
}

std::string statusLine(long id) { return callLine(id, "status", "{}"); }

// Request written to answer line read, in µs; leaves the line in `answer`.
double roundTrip(Child& server, const std::string& line, std::string& answer, double timeout) {
  const double t0 = nowSeconds();
  pump(server, line, 1, after(timeout));
  const double micros = secondsSince(t0) * 1e6;
  answer = takeLine(server);
  return micros;
}

// Each request goes to both servers with the same id, which of them first alternating.
Row beside(const Setup& setup, const std::string& figure, std::string (*line)(long), std::size_t rounds,
           const std::string& unit, double scale, double timeout) {
  Setup other = setup;
  other.server = setup.baseline;
  Child servers[2] = {startServer(setup), startServer(other)};
  std::vector<double> samples[2];
  std::string answers[2];
  long id = 1000000;  // ids of one width keep the lines of each kind the same length
  for (std::size_t r = 0; r < rounds + 10; ++r, ++id) {
    for (std::size_t k = 0; k < 2; ++k) {
      const std::size_t which = (r + k) % 2;
      const double micros = roundTrip(servers[which], line(id), answers[which], timeout);
      if (r >= 10) samples[which].push_back(micros * scale);  // the first rounds warm up
    }
    if (answers[0] != answers[1] || answers[0].find(R"("result")") == std::string::npos) {
      throw std::runtime_error("the server and the baseline answered differently: " + answers[0].substr(0, 200) +
                               " / " + answers[1].substr(0, 200));
    }
  }
  Row row{figure, unit, median(samples[0]), median(samples[1]), "the baseline", Goal::None, 0};
  row.detail = {{"requests", samples[0].size()}, {"p99", percentile(samples[0], 99)},
                {"baselineP99", percentile(samples[1], 99)}};
  return row;
}

}  // namespace

std::vector<Row> measureBaseline(const Setup& setup) {
  std::vector<Row> rows;
  setup.app->setAnswer(R"({"app":"com.example.shop","preset":"3G","active":true})");
  rows.push_back(beside(setup, "ping round trip beside the baseline, median", pingLine, scaled(setup, 10000), "µs",
                        1, 10));
  rows.push_back(beside(setup, "tools/list round trip beside the baseline, median", listLine, scaled(setup, 4000),
                        "µs", 1, 10));
  rows.push_back(beside(setup, "tools/call round trip beside the baseline, median", statusLine,
                        scaled(setup, 2000), "µs", 1, 10));
  setup.app->setAnswer(awkwardText(4u << 20));
  rows.push_back(beside(setup, "4 MiB answer beside the baseline, to whole line", statusLine, scaled(setup, 31), "ms",
                        1e-3, 60));
  setup.app->setAnswer("{}");
  return rows;
}
