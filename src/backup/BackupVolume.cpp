#include "backup/BackupVolume.h"

#include "backup/PasswordVault.h"
#include "backup/VolumeLock.h"
#include "platform/Defaults.h"
#include "platform/DiskImage.h"
#include "platform/FileOps.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/ProcessTable.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <thread>
#include <limits>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace tlr {
namespace {

using Kind = BackupVolumeError::Kind;

// One tool run at a time: two mounts racing for the same point would stack.
std::mutex& toolMutex() {
  static std::mutex m;
  return m;
}

std::atomic<bool> g_mountedByUs{false};
// Attaches under way: a gocryptfs started a moment before the process
// quits may still finish attaching.
std::atomic<int> g_attaching{0};

Unexpected<BackupVolumeError> volumeError(Kind kind, QString output = {}, bool wrongPassword = false) {
  return Unexpected(BackupVolumeError{kind, std::move(output), wrongPassword, {}});
}


// Why a password cannot be handed to the tool, which reads one line.
QString unusablePassword(const QString& password) {
  if (password.isEmpty()) return QStringLiteral("密码不能为空");
  if (password.contains('\n') || password.contains('\r') || password.contains(QChar(0))) {
    return QStringLiteral("密码不能包含换行符或空字符");
  }
  if (password.toUtf8().size() > DiskImage::kMaxPasswordBytes)
    return QStringLiteral("密码太长：最多 %1 字节").arg(DiskImage::kMaxPasswordBytes);
  return {};
}

bool somethingAt(const QString& path) { return QFileInfo::exists(path) || QFileInfo(path).isSymLink(); }

// "<pid> <start ticks>" of this process, for the owner record.
QByteArray ownerLine() {
  const pid_t pid = ::getpid();
  const auto stat = readProcStat(pid);
  return QByteArray::number(pid) + ' ' + QByteArray::number(stat ? stat->startTicks : 0ULL) + '\n';
}

void recordOwner() {
  const QString path = BackupVolume::ownerRecordPath();
  if (const auto written = FileOps::writeOwnFile(path, ownerLine()); !written)
    log("[Backup] ", QStringLiteral("无法记录挂载者：") + written.error());
}

// At quit: what this process attached goes, and so does what an attach
// still under way brings about: its gocryptfs is stopped with the rest of
// the running work, and the daemon it may have forked, which would finish
// the mount on its own, is ended here with what it mounted.
void detachAtQuit() {
  if (g_attaching.load() > 0) {
    if (const std::optional<QString> image = BackupVolume::imageURL())
      DiskImage::endAttach(*image, BackupVolume::mountPoint());
  }
  // Work of ours that was stopped may still hold a file there: the
  // decrypted files go out of reach all the same.
  BackupVolume::unmount(DiskImage::WhenBusy::detachLazily);
}

// Detaches what this process attached when the application quits.
void installQuitHook() {
  static std::mutex m;
  static QPointer<QCoreApplication> hooked;
  std::lock_guard lock(m);
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || hooked == app) return;
  hooked = app;
  QObject::connect(app, &QCoreApplication::aboutToQuit, app, [] {
    if (g_mountedByUs.load() || g_attaching.load() > 0) detachAtQuit();
  });
}

}  // namespace

BackupVolumeError BackupVolumeError::ofAttach(const DiskImage::ToolFailure& failure) {
  if (failure.fuseDenied) return {Kind::fuseNotPermitted, failure.reason, false, {}};
  return {Kind::mountFailed, failure.reason, failure.wrongPassword, {}};
}

QString BackupVolumeError::localizedDescription() const {
  switch (kind) {
    case Kind::createFailed: return QStringLiteral("创建加密卷失败：") + output;
    case Kind::mountFailed: return QStringLiteral("挂载加密卷失败：") + output;
    case Kind::alreadyExists: return QStringLiteral("备份卷已存在，不需要重新创建");
    case Kind::notInitialized: return QStringLiteral("备份卷还没初始化");
    case Kind::passwordMissing: return QStringLiteral("密码库（.pwd.vault）里没有备份卷密码");
    case Kind::toolMissing: return QStringLiteral("挂载加密卷失败：") + output;
    case Kind::detachFailed: return QStringLiteral("卸载加密卷失败：") + output;
    case Kind::fuseNotPermitted: return QStringLiteral("挂载加密卷失败：当前用户无权使用 FUSE（/dev/fuse）：") + output;
  }
  return {};
}

LocKey unlockReason(UnlockPurpose purpose) {
  return purpose == UnlockPurpose::restore ? LocKey::vaultUnlockForRestore() : LocKey::vaultUnlockForBackup();
}

EngineMessage BackupVolumeError::message() const {
  switch (kind) {
    case Kind::createFailed: return {LocKey::backupErrCreateVolume(), output};
    case Kind::mountFailed:
      return {wrongPassword ? LocKey::backupErrWrongPassword() : LocKey::backupErrUnlock(), output};
    case Kind::alreadyExists: return {LocKey::backupErrVolumeExists(), {}, false};
    case Kind::notInitialized: return {LocKey::backupErrVolumeNotSetUp(), {}, false};
    case Kind::passwordMissing: return {LocKey::backupErrNoPassword(), {}};
    case Kind::toolMissing: return {LocKey::backupErrToolMissing(tool, DiskImage::packageOf(tool)), {}, false};
    case Kind::detachFailed:
      if (!tool.isEmpty()) return {LocKey::backupErrDetachToolMissing(tool, DiskImage::packageOf(tool)), {}, false};
      return {LocKey::backupErrDetach(), output};
    // Trying again cannot help until the administrator changed it.
    case Kind::fuseNotPermitted: return {LocKey::backupErrFuseNotPermitted(), output, false};
  }
  return {LocKey::backupErrUnlock(), output};
}

std::optional<BackupVolumeError> BackupVolume::missingTool() {
  const QString tool = DiskImage::missingTool();
  if (tool.isEmpty()) return std::nullopt;
  return BackupVolumeError{Kind::toolMissing,
                           QStringLiteral("找不到 %1（PATH 中没有这个程序），请先安装 %2")
                               .arg(tool, DiskImage::packageOf(tool)),
                           false, tool};
}

QString BackupVolume::volumeName() { return QStringLiteral("TLR 备份"); }

QString BackupVolume::locationKey() { return QStringLiteral("TLR.backup-volume.location"); }

namespace {

// The recorded location when it is a usable absolute path.
std::optional<QString> recordedLocation() {
  const std::optional<QString> recorded = Defaults::shared().string(BackupVolume::locationKey());
  if (!recorded || recorded->isEmpty() || recorded->contains(QChar(0))) return std::nullopt;
  const QString path = Paths::expandTilde(*recorded);
  if (!QDir::isAbsolutePath(path)) return std::nullopt;
  return QDir::cleanPath(path);
}

}  // namespace

std::optional<QString> BackupVolume::imageURL() {
  if (const std::optional<QString> recorded = recordedLocation()) return recorded;
  return defaultImagePath();
}

bool BackupVolume::hasRecordedLocation() { return recordedLocation().has_value(); }

void BackupVolume::setImageURL(const QString& path) {
  // A failed write is logged; the location holds for this run.
  static_cast<void>(Defaults::shared().set(locationKey(), QDir::cleanPath(QFileInfo(path).absoluteFilePath())));
}

QString BackupVolume::defaultImagePath() { return Paths::home() + QStringLiteral("/TLR 备份.sparsebundle"); }

bool BackupVolume::exists() {
  const std::optional<QString> image = imageURL();
  // A dangling link there is something too: it would stop a new image.
  return image && (QFileInfo::exists(*image) || QFileInfo(*image).isSymLink());
}

QString BackupVolume::mountPoint() { return Paths::volumesRoot() + '/' + volumeName(); }

bool BackupVolume::isMounted() {
  const std::optional<QString> image = imageURL();
  return image && DiskImage::isMounted(*image, mountPoint());
}

BackupVolume::Result BackupVolume::create(const QString& location, const QString& password) {
  // A location that names no file would be recorded as none, and the image
  // would then be made at the default place instead of the one asked for.
  if (location.isEmpty() || location.contains(QChar(0))) {
    return volumeError(Kind::createFailed, QStringLiteral("备份卷位置无效"));
  }
  setImageURL(location);
  const QString image = *imageURL();
  std::lock_guard lock(toolMutex());
  if (somethingAt(image)) return volumeError(Kind::alreadyExists);
  if (const QString why = unusablePassword(password); !why.isEmpty()) return volumeError(Kind::createFailed, why);
  if (auto missing = BackupVolume::missingTool()) return Unexpected(std::move(*missing));

  const QFileInfo info(image);
  if (!QDir().mkpath(info.absolutePath())) {
    return volumeError(Kind::createFailed, QStringLiteral("无法创建文件夹 ") + info.absolutePath());
  }
  // Built beside its place, hidden, and moved there only when complete.
  QTemporaryDir building(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                         QStringLiteral(".creating-XXXXXX"));
  if (!building.isValid()) {
    return volumeError(Kind::createFailed, QStringLiteral("无法创建临时文件夹: ") + building.errorString());
  }
  building.setAutoRemove(false);
  const QString temp = building.path();
  const DiskImage::ToolResult made = DiskImage::create(temp, password);
  // The half-made image is hidden and named as one: a leftover only takes room.
  if (!made) {
    static_cast<void>(FileOps::removeItem(temp));
    return volumeError(Kind::createFailed, made.error().reason);
  }
  if (const auto placed = DiskImage::renameNoReplace(temp, image); !placed) {
    static_cast<void>(FileOps::removeItem(temp));
    if (somethingAt(image)) return volumeError(Kind::alreadyExists);
    return volumeError(Kind::createFailed, placed.error());
  }
  // A failed write leaves the password in memory for this process.
  static_cast<void>(PasswordVault::seal(password));
  return image;
}

BackupVolume::Result BackupVolume::mount(const QString& password) {
  std::lock_guard lock(toolMutex());
  const QString point = mountPoint();
  if (isMounted()) {
    if (!DiskImage::isDisconnected(point)) return point;
    // Its gocryptfs is gone (killed, crashed): the mount would fail every
    // access for good. It is detached and the image attached afresh.
    log("[Backup] ", QStringLiteral("加密卷的挂载已失效，重新挂载"));
    // Whether it went shows in the mount table.
    static_cast<void>(DiskImage::detach(point));
    if (isMounted()) return volumeError(Kind::mountFailed, QStringLiteral("无法卸载已失效的挂载 ") + point);
  }
  const std::optional<QString> image = imageURL();
  if (!image || !somethingAt(*image)) return volumeError(Kind::notInitialized);
  if (const QString why = unusablePassword(password); !why.isEmpty()) return volumeError(Kind::mountFailed, why);
  if (auto missing = BackupVolume::missingTool()) return Unexpected(std::move(*missing));
  const QFileInfo at(point);
  if ((at.exists() || at.isSymLink()) && (!at.isDir() || at.isSymLink())) {
    return volumeError(Kind::mountFailed, point + QStringLiteral(" 不是文件夹"));
  }
  // The owner's only, whatever the umask: the decrypted files appear in it.
  if (const auto made = FileOps::makeFolders(point); !made)
    return volumeError(Kind::mountFailed, QStringLiteral("无法创建挂载点 ") + point);
  ++g_attaching;
  installQuitHook();
  const DiskImage::ToolResult attached = DiskImage::attach(*image, point, password);
  // A stopped attach that could not take down what it mounted (its detach
  // refused while the application quits) leaves it to the end of the process.
  if (!attached && isMounted()) g_mountedByUs = true;
  --g_attaching;
  if (!attached) return Unexpected(BackupVolumeError::ofAttach(attached.error()));
  if (!isMounted()) {
    return volumeError(Kind::mountFailed, QStringLiteral("gocryptfs 已结束，但挂载表里没有这个卷"));
  }
  g_mountedByUs = true;
  recordOwner();
  installQuitHook();
  return point;
}

BackupVolume::Result BackupVolume::mountInteractive(const LocKey& reason) {
  if (isMounted() && !DiskImage::isDisconnected(mountPoint())) return mountPoint();

  // The stored passwords first: the in-memory copy, then the vault file. A
  // password the image refused is forgotten everywhere it was kept.
  std::optional<BackupVolumeError> refusal;
  QStringList refused;
  for (int source = 0; source < 2; ++source) {
    const std::optional<QString> stored =
        source == 0 ? PasswordVault::cachedPassword() : PasswordVault::openStored();
    if (!stored) continue;
    if (refused.contains(*stored)) {
      PasswordVault::clearCachedPassword();
      // One that stays is refused and removed again the next time.
      static_cast<void>(PasswordVault::removeStored());
      continue;
    }
    Result r = mount(*stored);
    if (r.ok()) return r;
    const BackupVolumeError& e = r.error();
    if (e.kind != Kind::mountFailed) return r;
    PasswordVault::clearCachedPassword();
    if (!e.wrongPassword) return r;
    log("[Backup] ", QStringLiteral("存储的备份卷密码被拒绝，已清除"));
    refused << *stored;
    if (source == 1) static_cast<void>(PasswordVault::removeStored());  // as above
    if (!refusal) refusal = e;
  }

  std::optional<QString> typed = PasswordVault::promptAndCache(reason);
  if (!typed) {
    if (refusal) return Unexpected(*refusal);
    return volumeError(Kind::passwordMissing);
  }
  Result r = mount(*typed);
  if (r.ok()) {
    static_cast<void>(PasswordVault::seal(*typed));  // a failed write leaves it in memory for this process
  } else {
    PasswordVault::clearCachedPassword();
  }
  return r;
}

Expected<void, BackupVolumeError> BackupVolume::detach(DiskImage::WhenBusy whenBusy) {
  std::lock_guard lock(toolMutex());
  if (!isMounted()) return {};
  if (DiskImage::detach(mountPoint(), whenBusy) && !isMounted()) {
    g_mountedByUs = false;
    QFile::remove(ownerRecordPath());
    return {};
  }
  BackupVolumeError error{Kind::detachFailed, QStringLiteral("%1 仍挂载着").arg(mountPoint()), false, {}};
  if (const QString tool = DiskImage::missingTool(); tool == QLatin1String("fusermount3")) {
    error.output = QStringLiteral("找不到 fusermount3（PATH 中没有这个程序），请先安装 fuse3");
    error.tool = tool;
  }
  log("[Backup] ", error.localizedDescription());
  return Unexpected(std::move(error));
}

void BackupVolume::unmount(DiskImage::WhenBusy whenBusy) { static_cast<void>(detach(whenBusy)); }

bool BackupVolume::mountedByThisProcess() { return g_mountedByUs.load() && isMounted(); }

QString BackupVolume::ownerRecordPath() {
  return Paths::volumesRoot() + QStringLiteral("/.") + volumeName() + QStringLiteral(".owner");
}

bool BackupVolume::ownerAlive() {
  const std::optional<QByteArray> line = FileOps::readRegularFile(ownerRecordPath(), 256);
  if (!line) return false;
  const QList<QByteArray> fields = line->trimmed().split(' ');
  if (fields.size() != 2) return false;
  bool pidOk = false, ticksOk = false;
  const qlonglong pid = fields[0].toLongLong(&pidOk);
  const qulonglong ticks = fields[1].toULongLong(&ticksOk);
  if (!pidOk || !ticksOk || pid <= 0 || pid > std::numeric_limits<pid_t>::max()) return false;
  const auto stat = readProcStat(static_cast<pid_t>(pid));
  // A later process under the same number started at another time.
  return stat && stat->startTicks == ticks && stat->state != 'Z' && stat->state != 'X';
}

bool BackupVolume::adoptOrphan() {
  std::lock_guard lock(toolMutex());
  if (!isMounted() || ownerAlive()) return false;
  log("[Backup] ", QStringLiteral("加密卷仍挂载着，但挂载它的进程已不在：由本进程接管，用完后卸载"));
  recordOwner();
  g_mountedByUs = true;
  installQuitHook();
  return true;
}

void BackupVolume::detachOrphan() {
  if (!isMounted() || ownerAlive()) return;
  const std::optional<VolumeLock> lock = VolumeLock::tryAcquire(lockPath());
  if (!lock) return;  // in use: its run detaches it at its end
  if (adoptOrphan()) unmount();
}

std::optional<quint64> BackupVolume::mountedDevice() {
  if (!isMounted()) return std::nullopt;
  return DiskImage::mountedDevice(mountPoint());
}

QString BackupVolume::lockPath() { return VolumeLock::lockPathFor(imageURL().value_or(defaultImagePath())); }

std::optional<qint64> BackupVolume::hostFreeSpace() {
  const std::optional<QString> image = imageURL();
  if (!image) return std::nullopt;
  return DiskImage::freeBytes(QFileInfo(*image).absolutePath());
}

qint64 BackupVolume::directorySize(const QString& path) { return DiskImage::directorySize(path); }

}  // namespace tlr
