// Loads a registry document the way the application does and prints what it
// holds, so tests can see the loader's own log lines on standard output:
//   tlr_registry_tool PATH   -> "visible=<n> lookup=<id of `h` or none>"
#include "platform/Log.h"
#include "registry/RegistryLoader.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  auto result = tlr::RegistryLoader::loadFile(QString::fromLocal8Bit(argv[1]));
  if (const auto* error = std::get_if<tlr::RegistryLoadError>(&result)) {
    tlr::errLine(error->description());
    return 1;
  }
  const auto& registry = std::get<std::shared_ptr<const tlr::AgentRegistry>>(result);
  const auto hit = registry->lookupExecutableName(QStringLiteral("h"));
  tlr::logLine(QStringLiteral("visible=%1 lookup=%2")
                   .arg(registry->visibleAgents().size())
                   .arg(hit ? hit->id : QStringLiteral("none")));
  return 0;
}
