#include "platform/ui/ui_services.h"

#include <atomic>

#include "platform/ui/scripted_ui.h"

namespace platform::ui {
namespace {

std::atomic<UiServices*> g_services{nullptr};

UiServices& StandIn() {
  // Code without windows (tools, tests of the lower layers) still gets answers: nothing
  // waits for a person and nothing waits for an event loop that does not exist.
  static ScriptedUi* stand_in = [] {
    auto* ui = new ScriptedUi(/*inline_dispatch=*/true);
    ui->SetEcho(true);
    return ui;
  }();
  return *stand_in;
}

}  // namespace

UiServices& Services() {
  UiServices* s = g_services.load(std::memory_order_acquire);
  return s ? *s : StandIn();
}

void SetServices(UiServices* services) { g_services.store(services, std::memory_order_release); }

ScopedServices::ScopedServices(UiServices& services) : previous_(g_services.load()) { SetServices(&services); }
ScopedServices::~ScopedServices() { SetServices(previous_); }

std::vector<FilterEntry> ParseFilter(const std::string& filter) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : filter) {
    if (c == '|') {
      parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  parts.push_back(current);
  std::vector<FilterEntry> entries;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i + 1].empty()) continue;
    entries.push_back({parts[i], parts[i + 1]});
  }
  return entries;
}

std::string ApplyDefaultExt(const std::string& name, const std::string& default_ext) {
  if (name.empty() || default_ext.empty()) return name;
  const size_t slash = name.find_last_of("/\\");
  const std::string file = slash == std::string::npos ? name : name.substr(slash + 1);
  if (file.empty() || file.find('.') != std::string::npos) return name;
  return default_ext.front() == '.' ? name + default_ext : name + "." + default_ext;
}

}  // namespace platform::ui
