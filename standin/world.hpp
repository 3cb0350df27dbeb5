// The made-up world the stand-in pretends to see: one booted simulator with a few apps,
// a few running Mac apps and the built-in presets. Nothing here touches a real device.
#pragma once

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

// Answers keep their members in the order written, so that they read top to bottom.
using json = nlohmann::ordered_json;

// A refused command: the HTTP status and the text the client will read.
struct Refusal : std::runtime_error {
  int status;
  Refusal(int code, const std::string& text) : std::runtime_error(text), status(code) {}
};

struct App {
  std::string bundleId, name;
};

struct Device {
  std::string name, udid, runtime;
  std::vector<App> apps;
};

// Bandwidths in kilobits per second (0 means unlimited), times in milliseconds, loss in percent.
struct Preset {
  std::string name;
  double down, up, latency, jitter, loss;
};

// Where one rule applies: an app (or "*", every app) in the simulator, or a Mac app.
struct Target {
  std::string app, appName;
  bool simulator = false;
};

const Device& bootedDevice();
const std::vector<App>& macApps();
const std::vector<Preset>& presets();

// The preset with exactly this name, or nullptr.
const Preset* findPreset(std::string_view name);

// Resolves the "app" and "simulator" arguments; throws a 400 Refusal naming the bad one.
Target resolveTarget(const json& args);
// Like resolveTarget, but refuses "*": `tool` works on one app at a time.
Target resolveOneApp(const json& args, const std::string& tool);

// "Shop (com.example.shop) on iPhone 15" or "Notes (com.example.notes) on the Mac".
std::string describe(const Target& target);

}  // namespace standin
