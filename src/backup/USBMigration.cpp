#include "backup/USBMigration.h"

#include "backup/BackupManifest.h"
#include "backup/BackupVolume.h"
#include "backup/PasswordVault.h"
#include "platform/FileOps.h"
#include "platform/FileTransfer.h"
#include "platform/MainThread.h"
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

#include <unistd.h>

namespace tlr {

using Case = USBMigration::Error::Case;

namespace {

USBMigration::Error error(Case kind, const QString& payload = {}) { return {kind, payload}; }

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

bool writable(const QString& path) { return ::access(QFile::encodeName(path).constData(), W_OK) == 0; }

}  // namespace

QString USBMigration::Error::description() const {
  switch (kind) {
    case Case::noBackup: return QStringLiteral("还没有任何备份，请先在备份面板做一次备份");
    case Case::usbNotWritable: return QStringLiteral("U 盘不可写，请检查锁定开关或剩余空间");
    case Case::cancelled: return QStringLiteral("已取消");
    case Case::noPackage: return QStringLiteral("U 盘上没找到 Tollamere 迁移包");
    case Case::manifestCorrupted: return QStringLiteral("迁移包元数据损坏");
    case Case::copyFailed: return QStringLiteral("导入失败：") + payload;
    case Case::passedOn: return payload;
  }
  return payload;
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
  top.insert("source", sourceObject);
  return QJsonDocument(top).toJson(QJsonDocument::Indented);
}

std::optional<USBMigration::MigrationManifest> USBMigration::MigrationManifest::decode(const QByteArray& json) {
  QJsonParseError parseError;
  const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
  if (parseError.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
  const QJsonObject top = doc.object();
  MigrationManifest m;
  const QJsonValue version = top.value("schemaVersion");
  if (!version.isDouble() || version.toDouble() != static_cast<double>(static_cast<qint64>(version.toDouble())))
    return std::nullopt;
  m.schemaVersion = static_cast<qint64>(version.toDouble());
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
  if (BackupVolume::isMounted()) BackupVolume::unmount();
  if (!writable(volume)) return error(Case::usbNotWritable);

  const QString package = volume + "/" + kPackageName;
  FileOps::removeItem(package);
  if (!QDir().mkpath(package)) return error(Case::passedOn, package + QStringLiteral(": 无法创建文件夹"));
  const QString targetImage = package + "/" + kImageName;
  const QList<FileEntry> files = visibleFiles(*image);
  ExportProgress progress;
  progress.filesTotal = files.size();
  for (const FileEntry& f : files) progress.bytesTotal += f.size;
  if (!QDir().mkpath(targetImage)) return error(Case::passedOn, targetImage + QStringLiteral(": 无法创建文件夹"));

  QElapsedTimer clock;
  clock.start();
  qint64 lastReport = -1;
  for (int i = 0; i < files.size(); ++i) {
    if (shouldCancel && shouldCancel()) {
      FileOps::removeItem(package);
      return error(Case::cancelled);
    }
    const QString target = targetImage + "/" + relativeTo(files[i].path, *image);
    if (!QDir().mkpath(QFileInfo(target).path()))
      return error(Case::passedOn, QFileInfo(target).path() + QStringLiteral(": 无法创建文件夹"));
    if (const QString failed = FileTransfer::copyNew(files[i].path, target); !failed.isEmpty())
      return error(Case::passedOn, failed);
    progress.bytesWritten += files[i].size;
    progress.filesWritten = i + 1;
    const qint64 now = clock.elapsed();
    if (lastReport < 0 || now - lastReport >= 200 || i == files.size() - 1) {
      progress.bytesPerSecond = now > 0 ? progress.bytesWritten / (now / 1000.0) : 0;
      if (onProgress) onProgress(progress);
      lastReport = now;
    }
  }

  MigrationManifest manifest;
  const QDateTime now = QDateTime::currentDateTimeUtc();
  manifest.createdAt = now.addMSecs(-now.time().msec());
  const BackupManifest::DeviceInfo device = BackupManifest::currentDevice();
  manifest.source = {device.name, device.macHashShort, device.osVersion};
  for (const AgentEntry& entry : installedAgents) {
    if (entry.install) manifest.installRecipe << recipeItem(entry);
  }
  if (const QString failed = FileOps::writeOwnFile(package + "/" + kManifestName, manifest.encode()); !failed.isEmpty())
    return error(Case::passedOn, failed);
  return package;
}

Expected<USBMigration::ImportPreview, USBMigration::Error> USBMigration::preview(const QString& volume) {
  const QString path = volume + "/" + kPackageName + "/" + kManifestName;
  if (!QFileInfo::exists(path)) return error(Case::noPackage);
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return error(Case::passedOn, path + QStringLiteral(": ") + file.errorString());
  const auto manifest = MigrationManifest::decode(file.readAll());
  if (!manifest) return error(Case::manifestCorrupted);
  qint64 total = 0;
  for (const FileEntry& f : visibleFiles(volume + "/" + kPackageName + "/" + kImageName)) total += f.size;
  return ImportPreview{*manifest, total, manifest->installRecipe};
}

Expected<QString, USBMigration::Error> USBMigration::importSnapshot(const QString& volume, const QString& password) {
  const QString source = volume + "/" + kPackageName + "/" + kImageName;
  if (!QFileInfo(source).isDir()) return error(Case::noPackage);
  const QString destination = Paths::home() + "/" + kImageName;
  if (FileTransfer::entry(destination))
    return error(Case::copyFailed,
                 QStringLiteral("本机已有备份卷在 ") + destination + QStringLiteral("，请先备份/移除"));

  // Copied beside its place under a temporary name and renamed when whole:
  // a failed copy never leaves a partial image that blocks the next try, and
  // what an interrupted one left is cleared first.
  const QString stalePrefix = QStringLiteral(".") + kImageName + QStringLiteral(".import-");
  for (const QString& stale : QDir(Paths::home()).entryList({stalePrefix + "*"}, QDir::AllEntries | QDir::Hidden))
    FileOps::removeItem(Paths::home() + "/" + stale);
  const QString temporary = Paths::home() + "/." + kImageName + ".import-" +
                            QString::number(QRandomGenerator::global()->generate64(), 36);
  auto fail = [&](const QString& reason) {
    FileOps::removeItem(temporary);
    return error(Case::passedOn, reason);
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
      if (const QString failed = FileTransfer::copyNew(item, target); !failed.isEmpty()) return fail(failed);
    }
  }
  if (const QString failed = FileTransfer::renameNew(temporary, destination); !failed.isEmpty())
    return fail(failed);

  BackupVolume::setImageURL(destination);
  if (const auto mounted = BackupVolume::mount(password); !mounted)
    return error(Case::passedOn, mounted.error().localizedDescription());
  BackupVolume::unmount();
  runOnMain([password] { PasswordVault::seal(password); });
  return destination;
}

}  // namespace tlr
