#pragma once

#include "AppProcess.h"
#include "FakeAgents.h"
#include "TestSupport.h"

#include <QFile>
#include <QJsonObject>
#include <QList>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace tlr::test {

// What the black-box tests of the running application share: a temporary
// HOME, fakes first on PATH, sandboxed copies of the application, and a
// ledger of the stand-in agent processes, which outlives the application's
// processes: every agent left behind, also one the application relaunched,
// is killed after the application has stopped.
class AppFixture : public ::testing::Test {
 protected:
  // The programs the application asks about the machine answer as on a
  // machine without user services, npm or pipx: never the real ones.
  AppFixture() {
    fakeBin_.add(QStringLiteral("systemctl"), QStringLiteral("echo MainPID=0\necho ActiveState=inactive\n"));
    // npm and pipx are looked for in the user's program folders before PATH
    // (and before /usr/bin): the fakes lie in one of them.
    for (const QString& name : {QStringLiteral("npm"), QStringLiteral("pipx")}) {
      const QString fake = home_.writeFile(QStringLiteral(".volta/bin/") + name, "#!/bin/sh\nexit 1\n");
      QFile::setPermissions(fake, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    fakeBin_.addRecorder(QStringLiteral("notify-send"));
  }

  // A copy of the application whose bundle holds `registryJson` (none when
  // absent); the default is the shipped registry.
  AppSandbox& sandbox(const std::optional<QByteArray>& registryJson = AppSandbox::shippedRegistry()) {
    sandboxes_.push_back(std::make_unique<AppSandbox>(registryJson));
    return *sandboxes_.back();
  }
  // A process of `box`, not yet started; stopped when the test ends.
  AppProcess& process(const AppSandbox& box) {
    processes_.push_back(std::make_unique<AppProcess>(box));
    return *processes_.back();
  }
  // The lock file of the running application under this HOME.
  QString lockFile() const { return home_.path() + QStringLiteral("/.local/share/Tollamere/single-instance.lock"); }
  // The search path the application is started with, as PATH is now but
  // without any program named in `missing` (a terminal program, the desktop's
  // opener): a folder of it that holds one is replaced by a folder of links
  // to the rest of its programs, under the temporary HOME. The machine's
  // own programs may not be taken away otherwise.
  QString pathWithout(const QStringList& missing);

  // The events the application has stored for `agentId`, oldest first.
  QList<QJsonObject> storedEvents(const QString& agentId) const;
  // Their types, oldest first.
  QStringList storedEventTypes(const QString& agentId) const;

  TempHome home_;
  FakeBin fakeBin_;
  FakeAgentLedger agents_{home_.path() + QStringLiteral("/agent-pids")};

 private:
  std::vector<std::unique_ptr<AppSandbox>> sandboxes_;
  // Declared after the sandboxes: processes stop before their copies go.
  std::vector<std::unique_ptr<AppProcess>> processes_;
};

}  // namespace tlr::test
