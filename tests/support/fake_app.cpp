#include "support/fake_app.hpp"

#include <chrono>

FakeApp::FakeApp() {
  answerWith(200, "ok");
  auto handler = [this](const httplib::Request& request, httplib::Response& response) {
    Answer answer;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back({request.method, request.path, request.body, request.headers});
      answer = answer_;
    }
    answer(request, response);
  };
  server_.Post(R"(/.*)", handler);
  server_.Get(R"(/.*)", handler);
  port_ = server_.bind_to_any_port("127.0.0.1");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  // Stopping a server that has not started listening yet would leave the thread running.
  for (int i = 0; i < 1000 && !server_.is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

FakeApp::~FakeApp() {
  server_.stop();
  thread_.join();
}

void FakeApp::answerWith(Answer answer) {
  std::lock_guard lock(mutex_);
  answer_ = std::move(answer);
}

void FakeApp::answerWith(int status, std::string body) {
  answerWith([status, body](const httplib::Request&, httplib::Response& response) {
    response.status = status;
    response.set_content(body, "application/json");
  });
}

std::vector<Recorded> FakeApp::requests() {
  std::lock_guard lock(mutex_);
  return requests_;
}
