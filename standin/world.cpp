#include "standin/world.hpp"

#include <algorithm>
#include <cctype>

namespace standin {
namespace {

bool sameText(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

std::string listApps(const std::vector<App>& apps) {
  std::string text;
  for (const App& a : apps) text += (text.empty() ? "" : ", ") + a.bundleId + " (" + a.name + ")";
  return text;
}

// Bundle IDs are matched exactly, display names without regard to case, as people type them.
const App* findApp(const std::vector<App>& apps, std::string_view wanted) {
  for (const App& a : apps) {
    if (a.bundleId == wanted || sameText(a.name, wanted)) return &a;
  }
  return nullptr;
}

}  // namespace

const Device& bootedDevice() {
  static const Device device{
      "iPhone 15",
      "6F1C2B7E-3A4D-4E59-9B8A-0C1D2E3F4A5B",
      "iOS 17.5",
      {{"com.example.shop", "Shop"}, {"com.example.news", "News"}, {"com.example.weather", "Weather"}}};
  return device;
}

const std::vector<App>& macApps() {
  static const std::vector<App> apps{{"com.example.notes", "Notes"}, {"com.example.mail", "Mail"}};
  return apps;
}

const std::vector<Preset>& presets() {
  static const std::vector<Preset> list{{"No Throttling", 0, 0, 0, 0, 0},
                                        {"Edge", 240, 200, 400, 50, 0},
                                        {"3G", 780, 330, 100, 20, 0},
                                        {"DSL", 2000, 256, 5, 0, 0},
                                        {"LTE", 50000, 10000, 50, 10, 0},
                                        {"WiFi", 40000, 33000, 1, 0, 0},
                                        {"Very Bad Network", 1000, 1000, 500, 200, 10},
                                        {"100% Loss", 0, 0, 0, 0, 100}};
  return list;
}

const Preset* findPreset(std::string_view name) {
  for (const Preset& p : presets()) {
    if (p.name == name) return &p;
  }
  return nullptr;
}

Target resolveTarget(const json& args) {
  const std::string app = args.at("app").get<std::string>();
  auto sim = args.find("simulator");
  if (sim == args.end()) {
    if (app == "*") {
      throw Refusal(400,
                    "app: * means every app in a simulator, so give \"simulator\" too (booted, any, "
                    "a device name or a UDID).");
    }
    if (const App* a = findApp(macApps(), app)) return {a->bundleId, a->name, false};
    throw Refusal(400, "app: no running Mac app \"" + app + "\". Running Mac apps: " + listApps(macApps()) +
                           ". For a simulator app, also pass \"simulator\".");
  }
  const Device& d = bootedDevice();
  const std::string s = sim->get<std::string>();
  if (s != "booted" && s != "any" && s != d.name && !sameText(s, d.udid)) {
    throw Refusal(400, "simulator: no simulator \"" + s + "\". Use booted, any, \"" + d.name + "\" or " +
                           d.udid + ". Leave it out for a Mac app.");
  }
  if (app == "*") return {"*", "every app", true};
  if (const App* a = findApp(d.apps, app)) return {a->bundleId, a->name, true};
  throw Refusal(400, "app: no app \"" + app + "\" on " + d.name + ". Installed: " + listApps(d.apps) +
                         ", or * for every app.");
}

Target resolveOneApp(const json& args, const std::string& tool) {
  Target target = resolveTarget(args);
  if (target.app == "*") throw Refusal(400, "app: " + tool + " works on one app, not *.");
  return target;
}

std::string describe(const Target& target) {
  const std::string where = target.simulator ? bootedDevice().name : std::string("the Mac");
  if (target.app == "*") return "every app on " + where;
  return target.appName + " (" + target.app + ") on " + where;
}

}  // namespace standin
