#include "presentation/BackupSession.h"

#include "backup/BackupVolume.h"
#include "backup/VolumeLock.h"
#include "core/agents/AgentDataDiscovery.h"
#include "core/system/DesktopOpen.h"
#include "platform/OffMain.h"
#include "presentation/BackupTexts.h"

#include <QFileInfo>

namespace tlr {

namespace {

struct ScanResult {
  int agents = 0;
  int locations = 0;
  qint64 bytes = 0;
};

struct VolumeFigures {
  std::optional<qint64> used;
  std::optional<qint64> free;
};

}  // namespace

BackupSession::BackupSession(QList<AgentEntry> installedAgents, BackupEngine& engine, QObject* parent)
    : QObject(parent), agents_(std::move(installedAgents)), engine_(engine) {
  flashTimer_.setSingleShot(true);
  flashTimer_.setInterval(kFlashMilliseconds);
  connect(&flashTimer_, &QTimer::timeout, this, &BackupSession::changed);
  connect(&engine_, &BackupEngine::stageChanged, this, &BackupSession::changed);
  connect(&engine_, &BackupEngine::isRunningChanged, this, &BackupSession::changed);
  connect(&engine_, &BackupEngine::lastErrorChanged, this, &BackupSession::changed);
  connect(&engine_, &BackupEngine::lastBackupChanged, this, &BackupSession::changed);
  connect(&VolumeActivity::shared(), &VolumeActivity::changed, this, &BackupSession::changed);
}

bool BackupSession::hasImage() const { return BackupVolume::exists(); }

std::optional<QString> BackupSession::imagePath() const {
  return BackupVolume::exists() ? BackupVolume::imageURL() : std::nullopt;
}

bool BackupSession::nothingToBackUp() const { return scanned_ && !scanning_ && discoveredAgents_ == 0; }

QString BackupSession::exclusionsText() const {
  QStringList agents;
  for (const AgentEntry& entry : agents_) {
    if (!entry.backup || !entry.backup->excludePatterns || entry.backup->excludePatterns->isEmpty()) continue;
    agents << entry.displayNameEN.value_or(entry.displayName) + QStringLiteral(" (") +
                  entry.backup->excludePatterns->join(QStringLiteral(", ")) + QLatin1Char(')');
  }
  if (agents.isEmpty()) return {};
  return backuptext::text(LocKey::backupExclusionsNote(agents.join(QStringLiteral("; "))));
}

QString BackupSession::stageText() const { return engine_.isRunning() && engine_.stage() ? backuptext::text(*engine_.stage()) : QString(); }

std::optional<EngineMessage> BackupSession::failure() const {
  if (engine_.isRunning()) return std::nullopt;
  return engine_.lastFailure();
}

QList<LocKey> BackupSession::leftOut() const {
  if (engine_.isRunning() || engine_.lastFailure()) return {};
  QList<LocKey> lines;
  const auto gaps = ran_.gaps();
  if (!gaps.isEmpty()) lines << LocKey::backupIncomplete();
  if (ran_.leftOutCount > 0)
    lines << LocKey::backupLeftOutNotRegular(ran_.leftOutCount, listedPaths(ran_.leftOutCount, ran_.leftOutExamples));
  for (const auto& [gap, items] : gaps) {
    const QString paths = listedPaths(items.count, items.examples);
    switch (gap) {
      case SnapshotGap::unreadable: lines << LocKey::backupLeftOutUnreadable(items.count, paths); break;
      case SnapshotGap::tooDeep:
        lines << LocKey::backupLeftOutTooDeep(items.count, StagedSnapshot::kMaxDepth, paths);
        break;
      case SnapshotGap::changed: lines << LocKey::backupLeftOutChanged(items.count, paths); break;
    }
  }
  return lines;
}

QString BackupSession::leftOutText() const {
  QStringList lines;
  for (const LocKey& line : leftOut()) lines << backuptext::text(line);
  return lines.join('\n');
}

bool BackupSession::volumeInUse() const { return engine_.isRunning() || VolumeActivity::shared().busy(); }

bool BackupSession::canBackUp() const { return hasImage() && !volumeInUse() && !nothingToBackUp(); }

void BackupSession::open() {
  engine_.refreshLastBackupFromVolume();
  refreshVolume();
  scan();
}

void BackupSession::refreshVolume() {
  const std::optional<QString> image = imagePath();
  if (!image) {
    volumeUsed_.reset();
    hostFree_.reset();
    Q_EMIT changed();
    return;
  }
  startOffMain(
      this,
      [path = *image] {
        VolumeFigures figures;
        figures.used = BackupVolume::directorySize(path);
        figures.free = BackupVolume::hostFreeSpace();
        return figures;
      },
      [this](VolumeFigures figures) {
        volumeUsed_ = figures.used;
        hostFree_ = figures.free;
        Q_EMIT changed();
      });
}

void BackupSession::scan() {
  if (scanning_) return;
  scanning_ = true;
  Q_EMIT changed();
  startOffMain(
      this,
      [agents = agents_] {
        ScanResult result;
        for (const AgentEntry& entry : agents) {
          const QList<DiscoveredPath> found = AgentDataDiscovery::discover(entry);
          if (found.isEmpty()) continue;
          ++result.agents;
          result.locations += int(found.size());
          for (const DiscoveredPath& place : found) result.bytes += BackupVolume::directorySize(place.path());
        }
        return result;
      },
      [this](ScanResult result) {
        scanning_ = false;
        scanned_ = true;
        discoveredAgents_ = result.agents;
        discoveredLocations_ = result.locations;
        estimateBytes_ = result.bytes;
        Q_EMIT changed();
      });
}

void BackupSession::backUpNow() {
  if (engine_.isRunning() || !hasImage() || VolumeActivity::shared().busy()) return;
  flashTimer_.stop();
  ran_ = {};
  engine_.runBackup(agents_, whileAlive(this, [this](const BackupEngine::Result& result) {
    if (result.ok()) {
      flashTimer_.start();
      ran_ = result.value();
    }
    refreshVolume();
    Q_EMIT changed();
  }));
  Q_EMIT changed();
}

void BackupSession::revealImage() {
  const std::optional<QString> image = BackupVolume::imageURL();
  if (!image) return;
  DesktopOpen::folderOf(*image, this, [this, folder = QFileInfo(*image).absolutePath()](const LocKey& reason) {
    Q_EMIT revealFailed(folder, reason);
  });
}

void BackupSession::setupEnded() {
  // When the image exists now, its figures replace the way to set it up.
  refreshVolume();
  engine_.refreshLastBackupFromVolume();
}

}  // namespace tlr
