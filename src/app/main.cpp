#include "platform/Log.h"
#include "registry/RegistryLoader.h"

#include <QCoreApplication>

namespace {

// Loads the shipped registry and reports what it holds; without one the
// application keeps running and supervises nothing.
std::shared_ptr<const tlr::AgentRegistry> loadRegistry() {
  auto result = tlr::RegistryLoader::load();
  if (const auto* error = std::get_if<tlr::RegistryLoadError>(&result)) {
    tlr::log("[Registry] ", error->description());
    return nullptr;
  }
  auto registry = std::get<std::shared_ptr<const tlr::AgentRegistry>>(std::move(result));
  tlr::log("[Registry] ", QStringLiteral("%1 agents (%2 visible)")
                              .arg(registry->file().agents.size())
                              .arg(registry->visibleAgents().size()));
  return registry;
}

}  // namespace

int main(int argc, char** argv) {
  tlr::makeStdioUnbuffered();
  QCoreApplication app(argc, argv);
  tlr::log("[App] ", QStringLiteral("Tollamere started"));
  const auto registry = loadRegistry();
  return app.exec();
}
