#include "fake_app.hpp"

#include "platform.hpp"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>

struct FakeApp::State {
  httplib::Server server;
  std::thread thread;
  int port = 0;
  std::mutex mutex;
  std::shared_ptr<const std::string> answer = std::make_shared<const std::string>("{}");
  std::atomic<std::size_t> requests{0};
  std::atomic<std::size_t> largestBody{0};
};

FakeApp::FakeApp(int cpu) : state_(std::make_unique<State>()) {
  State& s = *state_;
  // Answers go out in one segment each; without this, Nagle's delay would measure the kernel.
  s.server.set_tcp_nodelay(true);
  s.server.Post(".*", [&s](const httplib::Request& req, httplib::Response& res) {
    std::shared_ptr<const std::string> answer;
    {
      std::lock_guard lock(s.mutex);
      answer = s.answer;
    }
    std::size_t seen = s.largestBody.load();
    while (req.body.size() > seen && !s.largestBody.compare_exchange_weak(seen, req.body.size())) {
    }
    ++s.requests;
    res.set_content(*answer, "application/json");
  });
  s.port = s.server.bind_to_any_port("127.0.0.1");
  if (s.port <= 0) throw std::runtime_error("fake app: cannot listen on 127.0.0.1");
  // The socket already listens, so requests made before the thread runs just queue.
  s.thread = std::thread([&s, cpu] {
    // The worker threads are started from here and inherit where this one may run.
    if (cpu >= 0) pinToCpu(0, cpu);
    s.server.listen_after_bind();
  });
  // A stop() that comes before listening has started is lost, and the destructor's join would
  // then wait for ever: hand the app out only once it runs (or its listening has failed).
  for (int i = 0; i < 2000 && !s.server.is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

FakeApp::~FakeApp() {
  state_->server.stop();
  if (state_->thread.joinable()) state_->thread.join();
}

int FakeApp::port() const { return state_->port; }

void FakeApp::setAnswer(std::string body) {
  auto next = std::make_shared<const std::string>(std::move(body));
  std::lock_guard lock(state_->mutex);
  state_->answer = std::move(next);
}

std::size_t FakeApp::requests() const { return state_->requests.load(); }

std::size_t FakeApp::largestRequestBody() const { return state_->largestBody.load(); }
