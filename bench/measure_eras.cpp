// The same requests in both revisions MCP clients speak, on one server: the per-request one
// (params._meta, dressed results) against the handshake one, request by request.
#include <nlohmann/json.hpp>

#include <stdexcept>

#include "measure.hpp"
#include "stats.hpp"

namespace {

const std::string meta = R"("_meta":{"io.modelcontextprotocol/protocolVersion":"2026-07-28",)"
                         R"("io.modelcontextprotocol/clientCapabilities":{},)"
                         R"("io.modelcontextprotocol/clientInfo":{"name":"tarnwick-bench","version":"1"}})";

std::string listLine(long id, bool modern) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":"tools/list","params":{)" +
         (modern ? meta : "") + "}}\n";
}

std::string statusLine(long id, bool modern) {
  std::string line = callLine(id, "status", "{}");
  if (modern) line.insert(line.size() - 3, "," + meta);
  return line;
}

// Request written to answer line read, in µs; throws unless the answer is a result of the
// request's revision that holds `member`. An answer of megabytes is parsed only the first time
// for each revision, and must keep its length after that (the ids have one width): parsing one
// leaves the benchmark's memory such that reading the next takes twice as long, which would be
// counted against the server.
double roundTrip(Child& server, const std::string& line, long id, bool modern, const char* member, double timeout,
                 std::size_t (&longLengths)[2]) {
  const double t0 = nowSeconds();
  pump(server, line, 1, after(timeout));
  const double micros = secondsSince(t0) * 1e6;
  const std::string text = takeLine(server);
  std::size_t& longLength = longLengths[modern];
  if (text.size() > (std::size_t{1} << 20) && longLength != 0) {
    if (text.size() != longLength) throw std::runtime_error("a long answer changed from one request to the next");
    return micros;
  }
  if (text.size() > (std::size_t{1} << 20)) longLength = text.size();
  const auto answer = nlohmann::json::parse(text);
  const auto& result = answer.at("result");
  if (answer.at("id").get<long>() != id || !result.contains(member) || result.contains("resultType") != modern) {
    throw std::runtime_error("unexpected answer to " + line.substr(0, 120));
  }
  return micros;
}

// Round trips of the legacy and the modern twin of one request, in µs, sent alternately so that
// whatever else the machine does hits both alike.
std::pair<std::vector<double>, std::vector<double>> twins(Child& server, long& id, std::size_t rounds,
                                                          std::string (*line)(long, bool), const char* member,
                                                          double timeout) {
  std::vector<double> legacy, modern;
  std::size_t longLengths[2] = {0, 0};
  for (std::size_t r = 0; r < rounds; ++r) {
    for (int k = 0; k < 2; ++k) {
      const bool isModern = (r + static_cast<std::size_t>(k)) % 2 == 1;
      (isModern ? modern : legacy)
          .push_back(roundTrip(server, line(id, isModern), id, isModern, member, timeout, longLengths));
      ++id;
    }
  }
  return {legacy, modern};
}

Row compared(const std::string& figure, const std::vector<double>& legacy, const std::vector<double>& modern,
             const std::string& unit, double scale, Goal goal, double limit) {
  Row row{figure, unit, median(modern) * scale, median(legacy) * scale, "its legacy twin", goal, limit};
  row.detail = {{"requests", modern.size()}, {"legacyP99", percentile(legacy, 99) * scale},
                {"modernP99", percentile(modern, 99) * scale}};
  return row;
}

}  // namespace

std::vector<Row> measureEras(const Setup& setup) {
  std::vector<Row> rows;
  long id = 1000000;  // ids of one width keep the lines of each kind the same length
  {
    setup.app->setAnswer(R"({"app":"com.example.shop","preset":"3G","active":true})");
    Child server = startServer(setup);
    twins(server, id, 20, listLine, "tools", 10);  // warm-up
    const auto [legacyList, modernList] = twins(server, id, scaled(setup, 2000), listLine, "tools", 10);
    const auto [legacyCall, modernCall] = twins(server, id, scaled(setup, 2000), statusLine, "content", 10);
    // The extra members are some 250 bytes in and 150 out: well under a µs to parse and write.
    rows.push_back(compared("modern tools/list round trip, median", legacyList, modernList, "µs", 1,
                            Goal::ExtraAtMost, 10));
    rows.push_back(compared("modern tools/call round trip, median", legacyCall, modernCall, "µs", 1,
                            Goal::ExtraAtMost, 10));
  }
  {
    setup.app->setAnswer(awkwardText(4u << 20));
    Child server = startServer(setup);
    const auto [legacy, modern] = twins(server, id, scaled(setup, 31), statusLine, "content", 60);
    // One more copy of the text on its way out would show as several per cent.
    rows.push_back(compared("modern 4 MiB answer, to whole line", legacy, modern, "ms", 1e-3, Goal::RatioAtMost,
                            1.05));
  }
  setup.app->setAnswer("{}");
  return rows;
}
