// Drives the backup engines from another process, as the backup sheets would:
//   tlr_backup_tool create PASSWORD            a new image at the default place, password sealed
//   tlr_backup_tool restore-all REGISTRY       restore every agent (REGISTRY: a registry.json)
//   tlr_backup_tool restore-agent REGISTRY ID  restore one agent
//   tlr_backup_tool export FOLDER              the migration package on FOLDER
//   tlr_backup_tool import FOLDER PASSWORD     import the package from FOLDER
//   tlr_backup_tool seal PASSWORD              seal PASSWORD into the vault
//   tlr_backup_tool lock LOCKFILE              take the volume lock: "held" or
//                                              "busy"; held until a line arrives
//                                              on standard input
// Prints "OK" or the error's description; exit 0 on success, 1 on failure.
#include "backup/BackupVolume.h"
#include "backup/PasswordVault.h"
#include "backup/RestoreEngine.h"
#include "backup/USBMigration.h"
#include "backup/VolumeLock.h"
#include "core/netlog/NetworkLogger.h"
#include "registry/RegistryLoader.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <iostream>
#include <string>

using namespace tlr;

namespace {

int report(const std::optional<QString>& error) {
  std::printf("%s\n", error ? error->toUtf8().constData() : "OK");
  std::fflush(stdout);
  return error ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  if (args.isEmpty()) return 2;
  const QString command = args[0];
  // lock <file> [together]: with "together", says "ready" and asks only
  // once a line arrives, so that several runs ask at the same moment.
  if (command == "lock" && (args.size() == 2 || (args.size() == 3 && args[2] == "together"))) {
    if (args.size() == 3) {
      std::printf("ready\n");
      std::fflush(stdout);
      std::string go;
      std::getline(std::cin, go);
    }
    const std::optional<VolumeLock> lock = VolumeLock::tryAcquire(args[1]);
    std::printf("%s\n", lock ? "held" : "busy");
    std::fflush(stdout);
    if (lock) {
      std::string line;
      std::getline(std::cin, line);
    }
    return lock ? 0 : 1;
  }
  int status = 2;
  QTimer::singleShot(0, [&] {
    auto done = [&status](const std::optional<QString>& error) {
      status = report(error);
      NetworkLogger::shared().flush();
      QCoreApplication::exit(status);
    };
    if (command == "create" && args.size() == 2) {
      const auto created = BackupVolume::create(BackupVolume::defaultImagePath(), args[1]);
      done(created.ok() ? std::nullopt : std::optional<QString>(created.error().localizedDescription()));
    } else if ((command == "restore-all" && args.size() == 2) || (command == "restore-agent" && args.size() == 3)) {
      const auto loaded = RegistryLoader::loadFile(args[1]);
      if (!std::holds_alternative<std::shared_ptr<const AgentRegistry>>(loaded)) {
        done(QStringLiteral("registry"));
        return;
      }
      RestoreEngine::shared().setRegistry(std::get<std::shared_ptr<const AgentRegistry>>(loaded));
      auto finished = [done](const Expected<RestoreReport, RestoreError>& restored) {
        done(restored ? std::nullopt : std::optional<QString>(restored.error().description()));
      };
      // A fresh process runs no other restore: never refused.
      if (command == "restore-all")
        static_cast<void>(RestoreEngine::shared().restoreAll(finished));
      else
        static_cast<void>(RestoreEngine::shared().restoreAgent(args[2], finished));
    } else if (command == "seal" && args.size() == 2) {
      done(PasswordVault::seal(args[1]) ? std::nullopt : std::optional<QString>(QStringLiteral("not sealed")));
    } else if (command == "export" && args.size() == 2) {
      const auto exported = USBMigration::exportToWithProgress(args[1], {}, {}, {});
      done(exported.ok() ? std::nullopt : std::optional<QString>(exported.error().description()));
    } else if (command == "import" && args.size() == 3) {
      const auto imported = USBMigration::importSnapshot(args[1], args[2]);
      // The password is sealed on the main thread after the import returns.
      QTimer::singleShot(0, [done, imported] {
        done(imported.ok() ? std::nullopt : std::optional<QString>(imported.error().description()));
      });
    } else {
      QCoreApplication::exit(2);
    }
  });
  return app.exec();
}
