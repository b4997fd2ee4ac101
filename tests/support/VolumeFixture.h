#pragma once

#include "backup/BackupEngine.h"
#include "backup/BackupStorage.h"
#include "backup/BackupVolume.h"
#include "backup/PasswordVault.h"
#include "registry/AgentEntry.h"

#include "support/RegistryJson.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

#include <gtest/gtest.h>

#include <optional>

namespace tlr::test {

// Why a real encrypted image cannot be made here, or nothing when it can.
inline std::optional<QString> encryptedVolumeUnavailable() {
  if (QStandardPaths::findExecutable(QStringLiteral("gocryptfs")).isEmpty()) return QStringLiteral("gocryptfs is not installed");
  if (QStandardPaths::findExecutable(QStringLiteral("fusermount3")).isEmpty() &&
      QStandardPaths::findExecutable(QStringLiteral("fusermount")).isEmpty()) {
    return QStringLiteral("fusermount is not installed");
  }
  QFile fuse(QStringLiteral("/dev/fuse"));
  if (!fuse.open(QIODevice::ReadWrite)) return QStringLiteral("/dev/fuse cannot be opened: FUSE is unavailable");
  // What the test mounts goes with it, however it ends.
  guardMountsOfThisProcess();
  return std::nullopt;
}

// A temporary HOME with the real encrypted volume: the vault's memory and
// prompt are reset around each test, and whatever the test attached is
// detached at its end.
class VolumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PasswordVault::clearCachedPassword();
    PasswordVault::setPrompt(nullptr);
    if (needsVolume()) {
      if (const std::optional<QString> reason = encryptedVolumeUnavailable()) {
        std::fprintf(stderr, "skipped: %s\n", qPrintable(*reason));
        GTEST_SKIP() << reason->toStdString();
      }
    }
  }
  void TearDown() override {
    BackupVolume::unmount();
    PasswordVault::clearCachedPassword();
    PasswordVault::setPrompt(nullptr);
  }
  virtual bool needsVolume() const { return true; }

  // Makes the image at its proposed place with `password`.
  void createImage(const QString& password) {
    const BackupVolume::Result created = BackupVolume::create(BackupVolume::defaultImagePath(), password);
    ASSERT_TRUE(created.ok()) << created.error().localizedDescription().toStdString();
  }

  // Backs `agents` up into the image, which is left as it was (detached).
  void backUp(const QList<AgentEntry>& agents) {
    BackupEngine engine;
    bool finished = false;
    engine.runBackup(agents, [&](const BackupEngine::Result& result) {
      EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().description().toStdString());
      finished = true;
    });
    ASSERT_TRUE(waitUntil([&] { return finished; }, std::chrono::seconds(90)));
  }

  // Adds a damaged snapshot, newer than any real one, to the image (opened
  // with `password`), which is left detached.
  void addDamagedSnapshot(const QString& password) {
    ASSERT_TRUE(BackupVolume::mount(password).ok());
    const QString newer = BackupStorage::rootURL().value() + "/2999-01-01_00-00-00";
    QDir().mkpath(newer);
    writeBytes(newer + "/manifest.json", "{\"schemaVersion\": 1, \"agents\": [");
    writeBytes(newer + "/backup.tar.gz", "cut");
    BackupVolume::unmount();
  }

  // An agent whose data is the folder "~/.<id>" holding `files`
  // (relative path → content), written now.
  AgentEntry agentWithData(const QString& id, const QList<QPair<QString, QByteArray>>& files) {
    for (const auto& [relative, content] : files) home_.writeFile(QStringLiteral(".") + id + "/" + relative, content);
    return entryFromJson(agentMembers(id));
  }
  // The registry of the agents made by agentWithData, for the restore to
  // know where their data goes back.
  static std::shared_ptr<const AgentRegistry> registryOf(const QStringList& ids) {
    QList<QByteArray> agents;
    for (const QString& id : ids) agents << "{" + agentMembers(id) + "}";
    return registryOfAgents(agents);
  }
  // The agent's registry entry: named after its id in capitals, its data in
  // "~/.<id>".
  static QByteArray agentMembers(const QString& id) {
    return QStringLiteral(R"("id": "%1", "displayName": "%2", "vendor": "Test", "kind": "cli",
        "identify": {"executableNames": ["%1"]}, "backup": {"includePaths": ["~/.%1"]})")
        .arg(id, id.toUpper())
        .toUtf8();
  }
  QString dataPath(const QString& id, const QString& relative) const {
    return home_.path() + QStringLiteral("/.") + id + "/" + relative;
  }

  TempHome home_;
};

}  // namespace tlr::test
