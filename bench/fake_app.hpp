#pragma once
// A fast stand-in for the app on 127.0.0.1: every POST, whatever its path, gets status 200 and
// the answer body set last.

#include <cstddef>
#include <memory>
#include <string>

class FakeApp {
 public:
  // Listens on a port the system picks, its threads kept on `cpu` unless that is -1.
  // Throws when it cannot listen.
  explicit FakeApp(int cpu = -1);
  ~FakeApp();
  FakeApp(const FakeApp&) = delete;
  FakeApp& operator=(const FakeApp&) = delete;

  int port() const;
  // Takes effect for the requests that arrive after it returns.
  void setAnswer(std::string body);
  std::size_t requests() const;           // POSTs answered so far
  std::size_t largestRequestBody() const;  // bytes

 private:
  struct State;
  std::unique_ptr<State> state_;
};
