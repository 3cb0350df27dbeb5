#pragma once
// An app on loopback whose answers each test chooses, and which records what it was sent.
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

struct Recorded {
  std::string method, path, body;
  httplib::Headers headers;
};

class FakeApp {
 public:
  using Answer = std::function<void(const httplib::Request&, httplib::Response&)>;

  // Listens on 127.0.0.1 on a port the system picks; answers 200 with "ok" until told otherwise.
  FakeApp();
  ~FakeApp();  // stops listening and joins the server thread

  int port() const { return port_; }
  void answerWith(Answer answer);
  void answerWith(int status, std::string body);
  std::vector<Recorded> requests();

 private:
  httplib::Server server_;
  std::thread thread_;
  std::mutex mutex_;
  Answer answer_;
  std::vector<Recorded> requests_;
  int port_ = -1;
};
