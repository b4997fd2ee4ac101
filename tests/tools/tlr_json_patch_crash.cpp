// Patches a JSON file and ends the process abruptly at a chosen step, as a
// crash there would: tlr_json_patch_crash <file> <step> <key.path> <value>.
#include "watcher/JsonFilePatch.h"

#include <QString>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fputs("usage: tlr_json_patch_crash <file> <step> <key.path> <value>\n", stderr);
    return 2;
  }
  using Step = tlr::JsonFilePatch::Step;
  const QString stopAt = QString::fromLocal8Bit(argv[2]);
  auto name = [](Step s) {
    switch (s) {
      case Step::backupWritten: return "backupWritten";
      case Step::backupInPlace: return "backupInPlace";
      case Step::contentWritten: return "contentWritten";
      case Step::contentInPlace: return "contentInPlace";
    }
    return "";
  };
  const auto report = tlr::JsonFilePatch::apply(
      QString::fromLocal8Bit(argv[1]),
      {{QString::fromLocal8Bit(argv[3]).split('.'), QString::fromLocal8Bit(argv[4])}},
      [&](Step s) {
        if (stopAt == QLatin1String(name(s))) ::_exit(42);
      });
  return report.outcome == tlr::JsonFilePatch::Outcome::patched ? 0 : 1;
}
