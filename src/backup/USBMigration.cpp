#include "backup/USBMigration.h"

#include "backup/BackupEngine.h"
#include "backup/BackupManifest.h"
#include "backup/BackupStorage.h"
#include "backup/BackupVolume.h"
#include "backup/PasswordVault.h"
#include "backup/SnapshotChoice.h"
#include "backup/VolumeLock.h"
#include "platform/FileOps.h"
#include "platform/FileTransfer.h"
#include "platform/FolderAccess.h"
#include "platform/Paths.h"
#include "platform/RemovableVolumes.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include <algorithm>
#include <unistd.h>

namespace tlr {

using Case = USBMigration::Error::Case;

namespace {

Unexpected<USBMigration::Error> error(Case kind, const QString& payload = {}) {
  return Unexpected(USBMigration::Error::of(kind, payload));
}

// A failure of the file system during an export or an import: the
// reason stays the description (and the details a window shows).
Unexpected<USBMigration::Error> exportFailure(const QString& reason) {
  return Unexpected(USBMigration::Error{Case::passedOn, reason, EngineMessage{LocKey::usbErrExport(), reason}});
}
Unexpected<USBMigration::Error> importFailure(const QString& reason) {
  return Unexpected(USBMigration::Error{Case::passedOn, reason, EngineMessage{LocKey::usbErrImport(), reason}});
}
Unexpected<USBMigration::Error> volumeFailure(const BackupVolumeError& e) {
  return Unexpected(USBMigration::Error::passOn(e));
}

// How many agents the backup being exported holds: from its newest good
// snapshot while the volume is attached, else from the summary of the last
// backup.
std::optional<qint64> backupAgentCount() {
  if (BackupVolume::isMounted()) {
    const SnapshotChoice choice = SnapshotChoice::choose(BackupStorage::listSnapshots());
    if (choice.found()) return choice.manifest->agents.size();
  }
  if (const auto last = BackupEngine::readLastBackupCache()) return last->agentCount;
  return std::nullopt;
}

struct FileEntry {
  QString path;
  qint64 size = 0;
};

// The visible regular files below `folder` (nothing inside hidden folders),
// in enumeration order.
QList<FileEntry> visibleFiles(const QString& folder) {
  QList<FileEntry> files;
  QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString item = it.next();
    const auto entry = FileTransfer::entry(item);
    if (entry && entry->kind == FileTransfer::Kind::regular) files.append({item, entry->size});
  }
  return files;
}

QString relativeTo(const QString& path, const QString& folder) {
  QString relative = path.startsWith(folder) ? path.mid(folder.size()) : path;
  while (relative.startsWith('/')) relative.remove(0, 1);
  return relative;
}

QJsonArray stringsToJson(const QStringList& list) {
  QJsonArray array;
  for (const QString& s : list) array.append(s);
  return array;
}

std::optional<QStringList> stringsFromJson(const QJsonValue& value) {
  if (!value.isArray()) return std::nullopt;
  QStringList list;
  for (const QJsonValue& v : value.toArray()) {
    if (!v.isString()) return std::nullopt;
    list << v.toString();
  }
  return list;
}

}  // namespace

QString describe(const USBMigration::Error& error) {
  const QString& payload = error.payload;
  switch (error.kind) {
    case Case::noBackup: return QStringLiteral("还没有任何备份，请先在备份面板做一次备份");
    case Case::usbNotWritable: return QStringLiteral("U 盘不可写，请检查锁定开关或剩余空间");
    case Case::cancelled: return QStringLiteral("已取消");
    case Case::noPackage: return QStringLiteral("U 盘上没找到 Tollamere 迁移包");
    case Case::manifestCorrupted: return QStringLiteral("迁移包元数据损坏");
    case Case::copyFailed: return QStringLiteral("导入失败：") + payload;
    case Case::busy: return QStringLiteral("已有备份正在进行中");
    case Case::volumeStillMounted: return QStringLiteral("加密备份卷无法卸载，没有导出");
    case Case::passedOn: return payload;
  }
  return payload;
}

QString formOf(const USBMigration::Error& error) {
  const QString& payload = error.payload;
  switch (error.kind) {
    case Case::noBackup: return namedCase("noBackup", payload);
    case Case::usbNotWritable: return namedCase("usbNotWritable", payload);
    case Case::cancelled: return namedCase("cancelled", payload);
    case Case::noPackage: return namedCase("noPackage", payload);
    case Case::manifestCorrupted: return namedCase("manifestCorrupted", payload);
    case Case::copyFailed: return namedCase("copyFailed", payload);
    case Case::busy: return namedCase("busy", payload);
    case Case::volumeStillMounted: return namedCase("volumeStillMounted", payload);
    case Case::passedOn: return payload;
  }
  return payload;
}

EngineMessage shownAs(const USBMigration::Error& error) {
  const QString& payload = error.payload;
  switch (error.kind) {
    case Case::noBackup: return {LocKey::usbErrNoBackup(), {}, false};
    case Case::usbNotWritable: return {LocKey::usbErrNotWritable(), {}};
    case Case::cancelled: return {LocKey::usbErrCancelled(), {}};
    case Case::noPackage: return {LocKey::usbErrNoPackage(), {}};
    case Case::manifestCorrupted: return {LocKey::usbErrManifest(), {}, false};
    case Case::copyFailed: return {LocKey::usbErrImport(), payload};
    case Case::busy: return EngineMessage::busy();
    case Case::volumeStillMounted: return {LocKey::usbErrStillMounted(), {}};
    case Case::passedOn: return {LocKey::usbErrFailed(), payload};
  }
  return {LocKey::usbErrFailed(), payload};
}

QByteArray USBMigration::MigrationManifest::encode() const {
  QJsonArray recipe;
  for (const InstallRecipeItem& item : installRecipe) {
    QJsonObject o;
    o.insert("agentId", item.agentId);
    o.insert("displayName", item.displayName);
    o.insert("installType", item.installType);
    if (item.installCommands) {
      QJsonArray commands;
      for (const QStringList& command : *item.installCommands) commands.append(stringsToJson(command));
      o.insert("installCommands", commands);
    }
    if (item.officialUrl) o.insert("officialUrl", *item.officialUrl);
    if (item.requires_) o.insert("requires", stringsToJson(*item.requires_));
    recipe.append(o);
  }
  QJsonObject sourceObject;
  sourceObject.insert("deviceName", source.deviceName);
  sourceObject.insert("macHashShort", source.macHashShort);
  sourceObject.insert("osVersion", source.osVersion);
  QJsonObject top;
  top.insert("createdAt", BackupManifest::isoDate(createdAt));
  top.insert("installRecipe", recipe);
  top.insert("schemaVersion", static_cast<double>(schemaVersion));
  if (backupAgentCount) top.insert("backupAgentCount", static_cast<double>(*backupAgentCount));
  top.insert("source", sourceObject);
  return QJsonDocument(top).toJson(QJsonDocument::Indented);
}

std::optional<USBMigration::MigrationManifest> USBMigration::MigrationManifest::decode(const QByteArray& json) {
  QJsonParseError parseError;
  const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
  if (parseError.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
  const QJsonObject top = doc.object();
  MigrationManifest m;
  // Whole numbers within 64 bits only; the range is checked before any
  // conversion (a 1e300 is refused, never converted).
  auto exactInteger = [](const QJsonValue& value) -> std::optional<qint64> {
    if (!value.isDouble()) return std::nullopt;
    const qint64 n = value.toInteger(0);
    if (n == 0 && value.toInteger(1) != 0) return std::nullopt;
    return n;
  };
  const std::optional<qint64> version = exactInteger(top.value("schemaVersion"));
  if (!version) return std::nullopt;
  m.schemaVersion = *version;
  if (top.contains("backupAgentCount")) {
    m.backupAgentCount = exactInteger(top.value("backupAgentCount"));
    if (!m.backupAgentCount || *m.backupAgentCount < 0) return std::nullopt;
  }
  if (!top.value("createdAt").isString()) return std::nullopt;
  const auto created = BackupManifest::parseIsoDate(top.value("createdAt").toString());
  if (!created) return std::nullopt;
  m.createdAt = *created;
  const QJsonValue source = top.value("source");
  if (!source.isObject()) return std::nullopt;
  const QJsonObject s = source.toObject();
  for (const char* key : {"deviceName", "macHashShort", "osVersion"}) {
    if (!s.value(key).isString()) return std::nullopt;
  }
  m.source = {s.value("deviceName").toString(), s.value("macHashShort").toString(), s.value("osVersion").toString()};
  const QJsonValue recipe = top.value("installRecipe");
  if (!recipe.isArray()) return std::nullopt;
  for (const QJsonValue& value : recipe.toArray()) {
    if (!value.isObject()) return std::nullopt;
    const QJsonObject o = value.toObject();
    InstallRecipeItem item;
    for (const char* key : {"agentId", "displayName", "installType"}) {
      if (!o.value(key).isString()) return std::nullopt;
    }
    item.agentId = o.value("agentId").toString();
    item.displayName = o.value("displayName").toString();
    item.installType = o.value("installType").toString();
    if (o.contains("installCommands")) {
      if (!o.value("installCommands").isArray()) return std::nullopt;
      QList<QStringList> commands;
      for (const QJsonValue& c : o.value("installCommands").toArray()) {
        const auto command = stringsFromJson(c);
        if (!command) return std::nullopt;
        commands << *command;
      }
      item.installCommands = commands;
    }
    if (o.contains("officialUrl")) {
      if (!o.value("officialUrl").isString()) return std::nullopt;
      item.officialUrl = o.value("officialUrl").toString();
    }
    if (o.contains("requires")) {
      item.requires_ = stringsFromJson(o.value("requires"));
      if (!item.requires_) return std::nullopt;
    }
    m.installRecipe << item;
  }
  return m;
}

USBMigration::InstallRecipeItem USBMigration::recipeItem(const AgentEntry& entry) {
  InstallRecipeItem item;
  item.agentId = entry.id;
  item.displayName = entry.displayNameEN.value_or(entry.displayName);
  switch (entry.kind) {
    case AgentEntry::Kind::desktopApp: item.installType = QStringLiteral("app"); break;
    case AgentEntry::Kind::cli: item.installType = QStringLiteral("cli"); break;
    case AgentEntry::Kind::idePlugin: item.installType = QStringLiteral("plugin"); break;
  }
  if (entry.install) {
    if (entry.install->commands) item.installCommands = *entry.install->commands;
    item.officialUrl = entry.install->officialUrl;
    if (entry.install->requirements) {
      QStringList commands;
      for (const auto& requirement : *entry.install->requirements) commands << requirement.command;
      item.requires_ = commands;
    }
  }
  return item;
}

QStringList USBMigration::listAvailableVolumes() { return RemovableVolumes::list(); }

bool USBMigration::hasMigrationPackage(const QString& volume) {
  return QFileInfo::exists(volume + "/" + kPackageName + "/" + kManifestName);
}

Expected<QString, USBMigration::Error> USBMigration::exportToWithProgress(
    const QString& volume, const QList<AgentEntry>& installedAgents, const std::function<bool()>& shouldCancel,
    const std::function<void(const ExportProgress&)>& onProgress) {
  const std::optional<QString> image = BackupVolume::imageURL();
  if (!image || !QFileInfo::exists(*image)) return error(Case::noBackup);
  const std::optional<VolumeLock> lock = VolumeLock::tryAcquire(BackupVolume::lockPath());
  if (!lock) return error(Case::busy);
  const std::optional<qint64> agentCount = backupAgentCount();
  if (BackupVolume::isMounted()) BackupVolume::unmount();
  // A live image changes under the copy: the package would not open.
  if (BackupVolume::isMounted()) return error(Case::volumeStillMounted);
  // Written into by the one rule of FolderAccess: a stick folder of the
  // user's own that withholds writing is opened for the export and gets its
  // bits back after.
  const FolderAccess::Writing stick = FolderAccess::Writing::open(volume);
  if (!stick) return error(Case::usbNotWritable);

  // The new package is written beside the old one, in a hidden folder, and
  // takes the old one's place only when whole and on the stick: a cancel, a
  // crash or a pulled stick leaves the earlier package as it was. What a
  // killed export left is cleared first.
  const QString hiddenPrefix = QStringLiteral(".") + kPackageName + QStringLiteral(".");
  // Hidden leftovers are housekeeping: one that stays is tried again next time.
  for (const QString& leftover :
       QDir(volume).entryList({hiddenPrefix + "*"}, QDir::AllEntries | QDir::Hidden | QDir::System))
    static_cast<void>(FileOps::removeItem(volume + "/" + leftover));
  const QString package = volume + "/" + kPackageName;
  const QString building =
      volume + "/" + hiddenPrefix + "new-" + QString::number(QRandomGenerator::global()->generate64(), 36);
  auto fail = [&](const QString& reason) {
    static_cast<void>(FileOps::removeItem(building));  // hidden: cleared by the next export if it stays
    return exportFailure(reason);
  };
  if (!QDir().mkpath(building)) return fail(building + QStringLiteral(": 无法创建文件夹"));
  const QString targetImage = building + "/" + kImageName;
  const QList<FileEntry> files = visibleFiles(*image);
  ExportProgress progress;
  progress.filesTotal = files.size();
  for (const FileEntry& f : files) progress.bytesTotal += f.size;
  if (!QDir().mkpath(targetImage)) return fail(targetImage + QStringLiteral(": 无法创建文件夹"));

  QElapsedTimer clock;
  clock.start();
  qint64 lastReport = -1;
  auto report = [&](bool force) {
    const qint64 now = clock.elapsed();
    // The first report comes after the first file.
    if (!force && (lastReport < 0 || now - lastReport < 200)) return;
    // An average over less than a second says little (the first small files
    // and their flushes): "calculating" until then.
    progress.bytesPerSecond = now >= 1000 ? progress.bytesWritten / (now / 1000.0) : 0;
    if (onProgress) onProgress(progress);
    lastReport = now;
  };
  // The folders written into, flushed once their files are in.
  QStringList folders{targetImage};
  bool cancelled = false;
  for (int i = 0; i < files.size() && !cancelled; ++i) {
    if (shouldCancel && shouldCancel()) {
      cancelled = true;
      break;
    }
    const QString target = targetImage + "/" + relativeTo(files[i].path, *image);
    const QString parent = QFileInfo(target).path();
    if (!QDir().mkpath(parent)) return fail(parent + QStringLiteral(": 无法创建文件夹"));
    if (!folders.contains(parent)) folders << parent;
    // Copied a piece at a time, each on the stick before it counts, with a
    // look at the cancel button between pieces.
    const qint64 before = progress.bytesWritten;
    const FileTransfer::PiecewiseCopy copied =
        FileTransfer::copyInPieces(files[i].path, target, [&](qint64 bytes) {
          progress.bytesWritten = before + std::min(bytes, files[i].size);
          if (shouldCancel && shouldCancel()) {
            cancelled = true;
            return false;
          }
          report(false);
          return true;
        });
    if (cancelled) break;
    if (!copied) return fail(copied.error());
    progress.bytesWritten = before + files[i].size;
    progress.filesWritten = i + 1;
    report(i == 0 || i == files.size() - 1);
  }
  if (cancelled) {
    static_cast<void>(FileOps::removeItem(building));  // hidden: cleared by the next export if it stays
    return error(Case::cancelled);
  }
  for (auto it = folders.crbegin(); it != folders.crend(); ++it) {
    if (const auto synced = FileTransfer::sync(*it); !synced) return fail(synced.error());
  }

  MigrationManifest manifest;
  const QDateTime now = QDateTime::currentDateTimeUtc();
  manifest.createdAt = now.addMSecs(-now.time().msec());
  const BackupManifest::DeviceInfo device = BackupManifest::currentDevice();
  manifest.source = {device.name, device.macHashShort, device.osVersion};
  for (const AgentEntry& entry : installedAgents) {
    if (entry.install) manifest.installRecipe << recipeItem(entry);
  }
  manifest.backupAgentCount = agentCount;
  // Written last, whole and flushed with its folder: its presence is what
  // makes the package.
  if (const auto written = FileOps::writeOwnFile(building + "/" + kManifestName, manifest.encode()); !written)
    return fail(written.error());
  if (const auto synced = FileTransfer::sync(building); !synced) return fail(synced.error());
  // The whole new package takes the old one's place in one rename (the old
  // one is removed after), and the stick's folder is flushed.
  if (const auto placed = FileTransfer::renameFolderIntoPlace(building, package); !placed)
    return fail(placed.error());
  if (const auto synced = FileTransfer::sync(volume); !synced) return exportFailure(synced.error());
  return package;
}

Expected<USBMigration::ImportPreview, USBMigration::Error> USBMigration::preview(const QString& volume) {
  const QString path = volume + "/" + kPackageName + "/" + kManifestName;
  // A stick is anyone's: the manifest is read only as a plain file of a
  // bounded size, never through a link.
  const FileOps::ReadResult read = FileOps::readFileNoFollow(path, kManifestLimit);
  if (read.status == FileOps::ReadResult::Status::missing) return error(Case::noPackage);
  if (read.status == FileOps::ReadResult::Status::notRegular || read.status == FileOps::ReadResult::Status::tooLarge)
    return error(Case::manifestCorrupted);
  if (read.status != FileOps::ReadResult::Status::ok) return importFailure(read.reason);
  const auto manifest = MigrationManifest::decode(read.data);
  if (!manifest) return error(Case::manifestCorrupted);
  qint64 total = 0;
  for (const FileEntry& f : visibleFiles(volume + "/" + kPackageName + "/" + kImageName)) total += f.size;
  return ImportPreview{*manifest, total, manifest->installRecipe};
}

Expected<QString, USBMigration::Error> USBMigration::importSnapshot(const QString& volume, const QString& password) {
  const QString source = volume + "/" + kPackageName + "/" + kImageName;
  if (!QFileInfo(source).isDir()) return error(Case::noPackage);
  const QString destination = Paths::home() + "/" + kImageName;
  // The image's place is taken while a backup, restore or export uses the
  // image there or the one recorded now.
  const std::optional<VolumeLock> lock = VolumeLock::tryAcquire(VolumeLock::lockPathFor(destination));
  if (!lock) return error(Case::busy);
  std::optional<VolumeLock> recordedLock;
  // (An image recorded elsewhere that does not exist is used by nothing.)
  if (BackupVolume::lockPath() != lock->path() && BackupVolume::exists()) {
    recordedLock = VolumeLock::tryAcquire(BackupVolume::lockPath());
    if (!recordedLock) return error(Case::busy);
  }
  if (FileTransfer::entry(destination))
    return Unexpected(Error{Case::copyFailed, QStringLiteral("本机已有备份卷在 ") + destination + QStringLiteral("，请先备份/移除"),
            EngineMessage{LocKey::usbErrImportVolumeExists(), destination, false}});

  // Copied beside its place under a temporary name and renamed when whole:
  // a failed copy never leaves a partial image that blocks the next try, and
  // what an interrupted one left is cleared first.
  const QString stalePrefix = QStringLiteral(".") + kImageName + QStringLiteral(".import-");
  // Hidden leftovers are housekeeping: one that stays is tried again next time.
  for (const QString& stale : QDir(Paths::home()).entryList({stalePrefix + "*"}, QDir::AllEntries | QDir::Hidden))
    static_cast<void>(FileOps::removeItem(Paths::home() + "/" + stale));
  const QString temporary = Paths::home() + "/." + kImageName + ".import-" +
                            QString::number(QRandomGenerator::global()->generate64(), 36);
  auto fail = [&](const QString& reason) {
    static_cast<void>(FileOps::removeItem(temporary));  // hidden: cleared by the next import if it stays
    return importFailure(reason);
  };
  if (!QDir().mkpath(temporary)) return fail(temporary + QStringLiteral(": 无法创建文件夹"));
  QDirIterator it(source, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString item = it.next();
    const auto entry = FileTransfer::entry(item);
    if (!entry) continue;
    const QString target = temporary + "/" + relativeTo(item, source);
    if (entry->kind == FileTransfer::Kind::directory) {
      if (!QDir().mkpath(target)) return fail(target + QStringLiteral(": 无法创建文件夹"));
    } else if (entry->kind == FileTransfer::Kind::regular) {
      QDir().mkpath(QFileInfo(target).path());
      if (const auto copied = FileTransfer::copyNew(item, target); !copied) return fail(copied.error());
    }
  }
  if (const auto placed = FileTransfer::renameNew(temporary, destination); !placed) return fail(placed.error());

  BackupVolume::setImageURL(destination);
  if (const auto mounted = BackupVolume::mount(password); !mounted) return volumeFailure(mounted.error());
  // The password is proven; a volume that then stays attached is said all
  // the same.
  const auto detached = BackupVolume::detach();
  static_cast<void>(PasswordVault::seal(password));
  if (!detached) return volumeFailure(detached.error());  // a failed write leaves it in memory for this process
  return destination;
}

Expected<QString, USBMigration::Error> USBMigration::provePassword(const QString& image, const QString& password) {
  const std::optional<VolumeLock> lock = VolumeLock::tryAcquire(VolumeLock::lockPathFor(image));
  if (!lock) return error(Case::busy);
  if (const auto mounted = BackupVolume::mount(password); !mounted) return volumeFailure(mounted.error());
  // The password is proven; a volume that then stays attached is said all
  // the same.
  const auto detached = BackupVolume::detach();
  static_cast<void>(PasswordVault::seal(password));
  if (!detached) return volumeFailure(detached.error());  // a failed write leaves it in memory for this process
  return image;
}

}  // namespace tlr
