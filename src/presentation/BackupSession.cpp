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
  connect(&engine_, &BackupEngine::stageLabelChanged, this, &BackupSession::changed);
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

QString BackupSession::stageText() const { return engine_.isRunning() ? engine_.stageLabelText() : QString(); }

std::optional<EngineMessage> BackupSession::failure() const {
  if (engine_.isRunning()) return std::nullopt;
  return engine_.lastFailure();
}

QString BackupSession::leftOutText() const {
  if (engine_.isRunning() || engine_.lastFailure()) return {};
  QStringList lines;
  if (ran_.unreadable.count > 0 || ran_.tooDeep.count > 0 || ran_.changed.count > 0)
    lines << backuptext::pick(QStringLiteral("This backup is incomplete."), QStringLiteral("此次备份不完整。"));
  // One line per kind of item: the English for one item and for several,
  // and the Chinese, each with %1 for the count and %2 for the first paths.
  const auto line = [&](qint64 count, const QStringList& examples, const QString& one, const QString& several,
                        const QString& chinese) {
    if (count == 0) return;
    QString paths = examples.join(QStringLiteral(", "));
    if (count > examples.size()) paths += QStringLiteral(", …");
    lines << backuptext::pick(count == 1 ? one : several, chinese).arg(QString::number(count), paths);
  };
  line(ran_.leftOutCount, ran_.leftOutExamples,
       QStringLiteral("Not backed up: %1 item that is not a regular file (a link, FIFO or socket): %2"),
       QStringLiteral("Not backed up: %1 items that are not regular files (links, FIFOs or sockets): %2"),
       QStringLiteral("未备份 %1 项（符号链接、FIFO 或套接字，不是普通文件）：%2"));
  line(ran_.unreadable.count, ran_.unreadable.examples,
       QStringLiteral("Not backed up, not readable: %1 item this user may not read: %2"),
       QStringLiteral("Not backed up, not readable: %1 items this user may not read: %2"),
       QStringLiteral("未备份，无法读取：%1 项（当前用户没有读取权限）：%2"));
  const QString depth = QString::number(StagedSnapshot::kMaxDepth);
  line(ran_.tooDeep.count, ran_.tooDeep.examples,
       QStringLiteral("Not backed up: %1 folder more than ") + depth + QStringLiteral(" levels deep: %2"),
       QStringLiteral("Not backed up: %1 folders more than ") + depth + QStringLiteral(" levels deep: %2"),
       QStringLiteral("未备份 %1 个文件夹（层级超过 ") + depth + QStringLiteral(" 层）：%2"));
  line(ran_.changed.count, ran_.changed.examples,
       QStringLiteral("Changed while it was read, twice: %1 file, stored as read: %2"),
       QStringLiteral("Changed while they were read, twice: %1 files, stored as read: %2"),
       QStringLiteral("读取时一再改变：%1 个文件，按读到的内容备份：%2"));
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
