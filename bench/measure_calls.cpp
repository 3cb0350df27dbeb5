// tools/call against the fake app, against the benchmark's own POST to the same app.
#include <nlohmann/json.hpp>

#include <stdexcept>

#include "direct_post.hpp"
#include "measure.hpp"
#include "stats.hpp"

namespace {

const char* const kTool = "status";

// Request written to answer line read; returns seconds and leaves the line in `answer`.
double callOnce(Child& server, long id, std::string& answer, double timeout) {
  std::string line = callLine(id, kTool, "{}");
  double t0 = nowSeconds();
  pump(server, line, 1, after(timeout));
  double seconds = secondsSince(t0);
  answer = takeLine(server);
  return seconds;
}

double postOnce(const std::string& url, const std::string& expected) {
  double t0 = nowSeconds();
  std::string body = directPost(url, "{}");
  double seconds = secondsSince(t0);
  if (body != expected) throw std::runtime_error("the fake app's answer came back changed");
  return seconds;
}

// Moves `line` through the echo process and back; returns seconds.
double echoOnce(Child& echo, const std::string& line) {
  double t0 = nowSeconds();
  pump(echo, line, 1, after(60));
  double seconds = secondsSince(t0);
  dropLines(echo);
  return seconds;
}

double serialiseOnce(const nlohmann::json& message) {
  double t0 = nowSeconds();
  std::string text = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  double seconds = secondsSince(t0);
  if (text.empty()) throw std::runtime_error("nothing serialised");
  return seconds;
}

std::string toolUrl(const Setup& setup) {
  return "http://127.0.0.1:" + std::to_string(setup.app->port()) + "/" + kTool;
}

}  // namespace

std::vector<Row> measureCalls(const Setup& setup) {
  std::vector<Row> rows;
  const std::string url = toolUrl(setup);
  Child server = startServer(setup);
  long id = 1;
  std::string answer;
  {
    const std::string small = R"({"app":"com.example.shop","preset":"3G","active":true})";
    setup.app->setAnswer(small);
    std::size_t before = setup.app->requests();
    for (int i = 0; i < 20; ++i) {
      callOnce(server, id, answer, 10);
      expectToolText(answer, id++, small);
      postOnce(url, small);
    }
    // Calls alternate one by one, so that whatever else the machine does hits both alike.
    std::vector<double> s, d;
    std::size_t rounds = scaled(setup, 2000);
    for (std::size_t r = 0; r < rounds; ++r) {
      for (int k = 0; k < 2; ++k) {
        if ((r + static_cast<std::size_t>(k)) % 2 == 0) {
          s.push_back(callOnce(server, id, answer, 10) * 1e6);
          expectToolText(answer, id++, small);
        } else {
          d.push_back(postOnce(url, small) * 1e6);
        }
      }
    }
    // Every call must have reached the app; an answer from anywhere else would not count.
    if (setup.app->requests() - before != 40 + s.size() + d.size()) {
      throw std::runtime_error("the server did not post every tools/call to the fake app");
    }
    rows.push_back({"tools/call round trip, median", "µs", median(s), median(d), "direct POST",
                    Goal::ExtraAtMost, 100});
    rows.back().detail = {{"calls", s.size()}};
    rows.push_back({"tools/call round trip, p99", "µs", percentile(s, 99), percentile(d, 99),
                    "direct POST", Goal::None, 0});
  }
  setup.app->setAnswer("{}");
  return rows;
}

std::vector<Row> measureBigAnswer(const Setup& setup) {
  const std::string url = toolUrl(setup);
  const std::string big = awkwardText(4u << 20);
  setup.app->setAnswer(big);
  Child server = startServer(setup);
  Child echo = startChild(setup, setup.echo);
  long id = 1000000;  // ids of one width keep every answer line the same length
  std::string answer;
  callOnce(server, id, answer, 60);
  expectToolText(answer, id++, big);
  const std::string answerLine = answer + "\n";

  // What the JSON library alone needs to write this answer, timed here in the benchmark.
  const nlohmann::json envelope = {
      {"jsonrpc", "2.0"},
      {"id", id},
      {"result", {{"content", nlohmann::json::array({{{"type", "text"}, {"text", big}}})},
                  {"isError", false}}}};

  std::vector<double> s, d, e, j;
  std::size_t rounds = scaled(setup, 31);
  for (std::size_t r = 0; r < rounds; ++r) {
    // The legs rotate so that each in turn follows the others.
    for (std::size_t k = 0; k < 4; ++k) {
      switch ((r + k) % 4) {
        case 0:
          s.push_back(callOnce(server, id++, answer, 60) * 1e3);
          if (answer.size() + 1 != answerLine.size()) {
            throw std::runtime_error("the 4 MiB answer changed from one call to the next");
          }
          break;
        case 1: d.push_back(postOnce(url, big) * 1e3); break;
        case 2: e.push_back(echoOnce(echo, answerLine) * 1e3); break;
        default: j.push_back(serialiseOnce(envelope) * 1e3); break;
      }
    }
  }
  setup.app->setAnswer("{}");
  Row row{"4 MiB answer, to whole line", "ms", median(s), median(d) + median(e),
          "direct POST + echo of the line", Goal::RatioAtMost, 1.3};
  row.detail = {{"calls", s.size()},
                {"answerLineBytes", answerLine.size()},
                {"directPostMs", median(d)},
                {"echoMs", median(e)},
                {"serialiseMs", median(j)}};
  Row withLibrary{"4 MiB answer, to whole line", "ms", median(s),
                  median(d) + median(e) + median(j), "the same + JSON serialisation",
                  Goal::None, 0};
  return {row, withLibrary};
}
