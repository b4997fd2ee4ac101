#include "backup/RestoreEngine.h"

#include "backup/BackupCatalog.h"
#include "backup/BackupEngine.h"
#include "backup/BackupStaging.h"
#include "backup/BackupVolume.h"
#include "backup/OperationStop.h"
#include "backup/RestoreReport.h"
#include "backup/RestoreTree.h"
#include "backup/SnapshotChoice.h"
#include "core/agents/AgentDataDiscovery.h"
#include "core/netlog/NetworkLogger.h"
#include "platform/Crypto.h"
#include "platform/DiskImage.h"
#include "platform/FileOps.h"
#include "platform/FileTransfer.h"
#include "platform/Log.h"
#include "platform/OffMain.h"
#include "platform/Paths.h"
#include "platform/TarArchive.h"
#include "platform/UniqueFd.h"
#include "platform/UserHome.h"
#include "platform/Utf8.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QSet>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


namespace tlr {

using Case = RestoreError::Case;

QString describe(const RestoreGap& gap) {
  switch (gap.reason) {
    case RestoreGap::Reason::noPlace:
    case RestoreGap::Reason::outsideHome: return QStringLiteral("未恢复（找不到原来的位置）");
    case RestoreGap::Reason::notInArchive: return QStringLiteral("未恢复（备份文件里没有）");
  }
  return {};
}

namespace {

QString decodedErrorText(const QByteArray& bytes) {
  // Not valid UTF-8: "unknown", as every tool error of the engine reads.
  return decodeStrictUtf8(bytes).value_or(QStringLiteral("unknown"));
}

QString resolveTarget(const QString& path) {
  if (path.startsWith(QLatin1String("~/"))) return Paths::home() + path.mid(1);
  return expandUserTilde(path);
}

// Where a backed-up root goes when no target names it: the place the backup
// recorded, else where the registry's discovery finds a root of that name on
// this machine; only places in the home folder. Empty when there is none.
QString placeOfUncovered(const QString& name, const std::optional<QString>& recorded,
                         const QList<DiscoveredPath>& discovered) {
  const QString home = Paths::home() + "/";
  if (recorded) {
    const QString path = resolveTarget(*recorded);
    if (path.startsWith(home) && QDir::cleanPath(path) == path) return path;
  }
  for (const DiscoveredPath& found : discovered) {
    const QString path = found.path();
    // Only places in the home folder: a snapshot never writes elsewhere.
    if (QFileInfo(path).fileName() == name && path.startsWith(home)) return path;
  }
  return {};
}

// Whether `inner` is `outer` or lies below it (as "/"-separated paths).
bool within(const QString& inner, const QString& outer) {
  return inner == outer || inner.startsWith(outer + '/');
}

// One backed-up root going to one place: `source` is where it lies below
// the archive's top folder ("<agent>/<entry>", or in another agent's entry
// when it was stored once for several).
struct Placement {
  QString source;
  QString target;
  bool operator==(const Placement&) const = default;
};

// Where a stored root of an agent lies below the archive's top folder.
QString storedSource(const BackupManifest::AgentBackup& agent, const BackupManifest::AgentBackup::Root& root) {
  return root.stored.value_or(agent.id + "/" + root.name);
}

bool sourceExists(int topFd, const QString& source) {
  // Through plain folders only: the check refused every link already.
  int fd = ::openat(topFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const QStringList parts = source.split('/');
  for (qsizetype i = 0; i + 1 < parts.size() && fd >= 0; ++i) {
    const int next = ::openat(fd, QFile::encodeName(parts[i]).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(fd);
    fd = next;
  }
  if (fd < 0) return false;
  struct stat st{};
  const bool found = ::fstatat(fd, QFile::encodeName(parts.last()).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  ::close(fd);
  return found;
}

// The names in the agent's own folder of the unpacked archive.
QStringList ownEntries(int topFd, const QString& agentId) {
  QStringList names;
  const int fd = ::openat(topFd, QFile::encodeName(agentId).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
  if (!dir) {
    if (fd >= 0) ::close(fd);
    return names;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const QByteArray name(entry->d_name);
    if (name != "." && name != "..") names << QFile::decodeName(name);
  }
  ::closedir(dir);
  names.sort();
  return names;
}

// Where one agent's backed-up roots go. Each root lies at its stored place in
// the archive; the manifest records where each came from.
//  1. A target (include path or catalog folder) that is exactly where a root
//     came from takes that root.
//  2. Any other target takes the root named like its last component. With
//     the roots on record, only a root not put back yet; without them (older
//     snapshots), the root of that name, whatever else took it.
//  3. A root no target took goes back where it came from (or where
//     discovery finds it); what has no place is a gap.
//
// What it learns of the unpacked archive comes from `tree`.
struct StagedTree {
  std::function<bool(const QString&)> has;                   // a source below the top folder
  std::function<QStringList(const QString&)> agentEntries;  // the names in an agent's own folder
};

// What has no place, or is missing from the archive, is added to `gaps`.
// An agent of which the archive holds nothing fails when it was asked for
// alone (`alone`), else it is a gap too.
Expected<void, RestoreError> placeAgent(const BackupManifest::AgentBackup& agent, const StagedTree& tree,
                                       const AgentRegistry* registry, bool alone, QList<Placement>& placements,
                                       QList<RestoreGap>& gaps) {
  struct Staged {
    QString source;                   // below the top folder
    QString name;                     // its entry name
    QString originalName;             // the last component of its place
    std::optional<QString> recorded;  // its place as recorded
  };
  QList<Staged> staged;
  QSet<QString> recordedNames;
  for (const auto& root : agent.roots.value_or(QList<BackupManifest::AgentBackup::Root>())) {
    const QString source = storedSource(agent, root);
    if (recordedNames.contains(root.name)) continue;
    if (!tree.has(source)) {
      gaps.append({RestoreGap::Reason::notInArchive, agent.id, root.name, root.place});
      continue;
    }
    recordedNames.insert(root.name);
    staged.append({source, root.name, QFileInfo(resolveTarget(root.place)).fileName(), root.place});
  }
  // Entries of the agent's folder no root records (older manifests).
  for (const QString& name : tree.agentEntries(agent.id)) {
    if (!recordedNames.contains(name)) staged.append({agent.id + "/" + name, name, name, std::nullopt});
  }
  if (staged.isEmpty() && !tree.has(agent.id)) {
    if (alone) return Unexpected(RestoreError::of(Case::agentNotInBackup, agent.id));
    // Said once for the agent, not once per root.
    gaps.removeIf([&](const RestoreGap& gap) { return gap.agentId == agent.id; });
    gaps.append({RestoreGap::Reason::notInArchive, agent.id, {}, {}});
    return {};
  }
  const bool onRecord = agent.roots.has_value();

  // Which targets each root goes to, in the order the targets are listed.
  QList<QStringList> destinations(staged.size());
  const QStringList targets = RestoreEngine::targetsFor(agent.id, registry);
  QList<bool> targetTaken(targets.size(), false);
  for (qsizetype t = 0; t < targets.size(); ++t) {
    for (qsizetype i = 0; i < staged.size(); ++i) {
      if (staged[i].recorded && QDir::cleanPath(resolveTarget(*staged[i].recorded)) == QDir::cleanPath(targets[t])) {
        destinations[i] << targets[t];
        targetTaken[t] = true;
        break;
      }
    }
  }
  for (qsizetype t = 0; t < targets.size(); ++t) {
    if (targetTaken[t]) continue;
    const QString name = QFileInfo(targets[t]).fileName();
    if (name.isEmpty()) continue;
    std::optional<qsizetype> chosen;
    for (qsizetype i = 0; i < staged.size() && !chosen; ++i) {
      if (staged[i].originalName == name && destinations[i].isEmpty()) chosen = i;
    }
    for (qsizetype i = 0; i < staged.size() && !chosen && !onRecord; ++i) {
      if (staged[i].originalName == name) chosen = i;
    }
    if (chosen) destinations[*chosen] << targets[t];
  }

  QList<DiscoveredPath> discovered;
  bool discoveryRan = false;
  for (qsizetype i = 0; i < staged.size(); ++i) {
    if (destinations[i].isEmpty()) {
      if (!discoveryRan && registry) {
        if (const auto entry = registry->lookup(agent.id)) discovered = AgentDataDiscovery::discover(*entry);
      }
      discoveryRan = true;
      const QString place = placeOfUncovered(staged[i].originalName, staged[i].recorded, discovered);
      if (place.isEmpty()) {
        const QString recorded = staged[i].recorded.value_or(QString());
        const bool outside =
            !recorded.isEmpty() && !within(QDir::cleanPath(resolveTarget(recorded)), QDir::cleanPath(Paths::home()));
        gaps.append({outside ? RestoreGap::Reason::outsideHome : RestoreGap::Reason::noPlace, agent.id,
                     staged[i].name, recorded});
        continue;
      }
      destinations[i] << place;
    }
    for (const QString& target : destinations[i]) placements.append({staged[i].source, target});
  }
  return {};
}

// The archive as its manifest tells it, before anything is unpacked: every
// root it records is there.
StagedTree asRecorded() {
  return {[](const QString&) { return true; }, [](const QString&) { return QStringList(); }};
}

// One log line per agent and kind of gap, naming what was left out.
void logGaps(const QList<RestoreGap>& gaps) {
  QList<std::pair<QString, QStringList>> lines;  // "<agent> <why>" → names
  for (const RestoreGap& gap : gaps) {
    const QString head = gap.agentId + QLatin1Char(' ') + describe(gap);
    auto line = std::find_if(lines.begin(), lines.end(), [&](const auto& l) { return l.first == head; });
    if (line == lines.end()) line = lines.insert(lines.end(), {head, {}});
    if (!gap.root.isEmpty()) line->second << gap.root;
  }
  for (const auto& [head, names] : lines)
    logLine(QStringLiteral("[Restore] ") + head + (names.isEmpty() ? QString() : QStringLiteral("：") + names.join(QStringLiteral(", "))));
}

// Drops the placements an earlier one already writes (a root stored inside
// another root's folder, going back inside that root's place: restoring all
// writes each root once), and tells for each left whether it may take its
// files out of the unpacked tree: only the last one that reads them may.
QList<std::pair<Placement, bool>> orderPlacements(const QList<Placement>& all) {
  QList<Placement> kept;
  for (const Placement& p : all) {
    bool written = false;
    for (const Placement& earlier : kept) {
      if (within(p.source, earlier.source) &&
          QDir::cleanPath(p.target) == QDir::cleanPath(earlier.target + p.source.mid(earlier.source.size())))
        written = true;
    }
    if (!written) kept << p;
  }
  QList<std::pair<Placement, bool>> ordered;
  for (qsizetype i = 0; i < kept.size(); ++i) {
    bool readLater = false;
    for (qsizetype j = i + 1; j < kept.size() && !readLater; ++j)
      readLater = within(kept[j].source, kept[i].source) || within(kept[i].source, kept[j].source);
    ordered.append({kept[i], !readLater});
  }
  return ordered;
}

// The places whose files may be left as they stand when the archive holds
// them as they are: each root that goes to one place only and shares no
// folder with another root.
QList<TarUnpacker::Standing> standingPlaces(const QList<std::pair<Placement, bool>>& ordered, const QString& top) {
  QList<TarUnpacker::Standing> standing;
  for (qsizetype i = 0; i < ordered.size(); ++i) {
    const Placement& p = ordered[i].first;
    bool alone = QDir::isAbsolutePath(p.target);
    for (qsizetype j = 0; j < ordered.size() && alone; ++j) {
      const QString& other = ordered[j].first.source;
      if (j != i && (within(other, p.source) || within(p.source, other))) alone = false;
    }
    if (alone) standing.append({QFile::encodeName(top + "/" + p.source), QFile::encodeName(QDir::cleanPath(p.target))});
  }
  return standing;
}

// The members of the archive the selected agents need, below the top
// folder: each agent's own folder (whole, for manifests that do not say
// where each root lies), and the roots stored elsewhere for it.
QStringList neededMembers(const QList<BackupManifest::AgentBackup>& agents) {
  QStringList members;
  auto add = [&](const QString& member) {
    for (const QString& m : members) {
      if (within(member, m)) return;
    }
    members.removeIf([&](const QString& m) { return within(m, member); });
    members << member;
  };
  for (const auto& agent : agents) {
    bool ownEntries = !agent.roots.has_value();
    for (const auto& root : agent.roots.value_or(QList<BackupManifest::AgentBackup::Root>())) {
      if (root.stored)
        add(*root.stored);
      else
        ownEntries = true;
    }
    if (ownEntries) add(agent.id);
  }
  return members;
}

// The room the selected agents' files take unpacked: each stored root once,
// as the manifest records it; older manifests, which do not, by their
// agents' byte counts.
qint64 roomNeeded(const QList<BackupManifest::AgentBackup>& agents) {
  QList<std::pair<QString, qint64>> roots;
  qint64 unrecorded = 0;
  for (const auto& agent : agents) {
    bool recorded = agent.roots.has_value();
    for (const auto& root : agent.roots.value_or(QList<BackupManifest::AgentBackup::Root>())) {
      if (!root.diskBytes) recorded = false;
    }
    if (!recorded) {
      unrecorded += agent.totalBytes;
      continue;
    }
    for (const auto& root : *agent.roots) roots.append({storedSource(agent, root), *root.diskBytes});
  }
  qint64 total = unrecorded;
  for (qsizetype i = 0; i < roots.size(); ++i) {
    bool counted = false;
    for (qsizetype j = 0; j < roots.size() && !counted; ++j) {
      if (j != i && within(roots[i].first, roots[j].first) && (roots[i].first != roots[j].first || j < i)) counted = true;
    }
    if (!counted) total += roots[i].second;
  }
  return total;
}

}  // namespace

// The part of one restore that runs on its worker thread.
class RestoreRun {
 public:
  // Told each stage on the way, on any thread.
  using Stage = std::function<void(const LocKey&)>;

  // `filter` picks the agents to restore; `wanted` names the one asked for
  // (empty: all of them).
  static Expected<RestoreReport, RestoreError> run(const Stage& stage, const SnapshotVolume& volume,
                                         const std::function<bool(const BackupManifest::AgentBackup&)>& filter,
                                         const QString& wanted, std::shared_ptr<const AgentRegistry> registry,
                                         qint64* archiveSize);

 private:
  // What one snapshot's restore ended with; `damaged` when its archive is
  // not the one its manifest records (the next snapshot is tried then).
  struct Outcome {
    Expected<RestoreReport, RestoreError> result;
    bool damaged = false;
  };

  // The disk holding the user's `folder` filled up: how much the restore
  // needs, and how much was free before it began (measured now, the disk
  // would show what the restore itself took).
  static RestoreError diskFullError(const QString& folder, const QList<BackupManifest::AgentBackup>& agents,
                                    std::optional<qint64> freeBefore) {
    RestoreError error = RestoreError::of(Case::diskFull, folder);
    error.bytes = roomNeeded(agents);
    error.freeBytes = freeBefore;
    return error;
  }

  // Unpacks into the staging folder `staging` (open as `stagingFd`), made in
  // the user's `workFolder`, and puts the agents' files back (`alone`: the
  // one agent asked for).
  static Outcome work(const Stage& stage, const QString& archive, const QString& expectedSha,
                      const QList<BackupManifest::AgentBackup>& agents, bool alone, int stagingFd,
                      const QString& staging, const QString& workFolder,
                      std::shared_ptr<const AgentRegistry> registry) {
    if (OperationStop::requested()) return {Unexpected(RestoreError::passOn(OperationStop::reason()))};
    const std::optional<qint64> freeBefore = DiskImage::freeBytes(workFolder);
    stage(LocKey::restoreStageExtracting());
    for (const auto& agent : agents) {
      if (!AgentEntry::isSafeFileComponent(agent.id)) return {Unexpected(RestoreError::of(Case::unknownAgent, agent.id))};
    }
    const QString top = QString::fromLatin1(BackupEngine::kStagingDirName);
    QStringList members;
    for (const QString& member : neededMembers(agents)) members << top + "/" + member;
    // Where the files go, as far as the manifest tells before anything is
    // unpacked: a file standing there as the archive holds it is left as it
    // stands (only read, to compare), not unpacked and put in its place again.
    QList<Placement> ahead;
    QList<RestoreGap> gaps;
    bool aheadKnown = true;
    for (const auto& agent : agents)
      aheadKnown = aheadKnown && placeAgent(agent, asRecorded(), registry.get(), alone, ahead, gaps);
    const QList<std::pair<Placement, bool>> aheadOrdered = orderPlacements(ahead);
    QList<TarUnpacker::Standing> standing = aheadKnown ? standingPlaces(aheadOrdered, top) : QList<TarUnpacker::Standing>();

    TarArchive::Result unpacked;
    UniqueFd topFd;
    bool movable = false;
    QList<std::pair<Placement, bool>> ordered;
    while (true) {
      // The archive is read once: hashed as it streams into the unpacking,
      // which writes into the staging folder only (working in it through the
      // folder it was made as). Nothing else is written before the hash
      // matched the manifest.
      Crypto::Sha256 digest;
      unpacked = TarArchive::extractInto(
          archive, stagingFd, members, [&digest](QByteArrayView piece) { digest.update(piece); }, standing);
      if (!unpacked.streamed)
        return {Unexpected(RestoreError::passOn(QStringLiteral("读取文件计算 SHA256 失败: ") + archive))};

      if (OperationStop::requested()) return {Unexpected(RestoreError::passOn(OperationStop::reason()))};
      stage(LocKey::restoreStageVerifying());
      if (Crypto::hex(digest.finish()) != expectedSha) return {Unexpected(RestoreError::of(Case::sha256Mismatch)), true};
      if (!unpacked.started) return {Unexpected(RestoreError::passOn(unpacked.startError))};
      // Named by the user's folder that holds it: the staging folder is gone
      // by the time anyone reads this.
      if (unpacked.diskFull) return {Unexpected(diskFullError(workFolder, agents, freeBefore))};
      if (!unpacked.ok())
        return {Unexpected(RestoreError::of(Case::unpackFailed, decodedErrorText(unpacked.errorOutput)))};

      topFd.reset(::openat(stagingFd, QFile::encodeName(top).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!topFd) return {Unexpected(RestoreError::of(Case::unpackFailed, QStringLiteral("解压后没找到根目录")))};

      stage(LocKey::restoreStageSecurityCheck());
      // Everything tar wrote, not only the root that is merged.
      if (auto valid = RestoreTree::validate(stagingFd, staging, &movable); !valid)
        return {Unexpected(std::move(valid).error())};
      // A folder whose recorded mode withholds writing from its owner gets it
      // only once it is in place.
      movable = movable && unpacked.folderModes.isEmpty();

      const StagedTree unpackedTree{[&](const QString& source) { return sourceExists(topFd.get(), source); },
                                    [&](const QString& agentId) { return ownEntries(topFd.get(), agentId); }};
      QList<Placement> placements;
      gaps.clear();
      for (const auto& agent : agents) {
        if (auto placed = placeAgent(agent, unpackedTree, registry.get(), alone, placements, gaps); !placed)
          return {Unexpected(std::move(placed).error())};
      }
      ordered = orderPlacements(placements);
      // The archive holds other places than its manifest told: what was left
      // out may be needed elsewhere, so it is unpacked again, whole.
      if (unpacked.kept == 0 || ordered == aheadOrdered) break;
      topFd.reset();
      if (const auto removed = FileOps::removeItemAt(stagingFd, QFile::encodeName(top)); !removed)
        return {Unexpected(RestoreError::passOn(removed.error().reason()))};
      standing.clear();
    }
    // Nothing is written before every place was looked at: a link standing
    // where the restore would write, or a folder it may not write into (all
    // of them named), stops it here.
    QStringList unwritable;
    for (const auto& [placement, last] : ordered) {
      if (auto free = RestoreTree::check(topFd.get(), placement.source, placement.target, &unwritable); !free)
        return {Unexpected(std::move(free).error())};
    }
    if (!unwritable.isEmpty()) return {Unexpected(RestoreTree::notWritableError(unwritable))};

    stage(LocKey::restoreStageWriting());
    for (const auto& [placement, last] : ordered) {
      if (OperationStop::requested()) return {Unexpected(RestoreError::passOn(OperationStop::reason()))};
      // A root that feeds several places is copied for all but its last.
      if (auto put = RestoreTree::restore(topFd.get(), placement.source, placement.target, last, movable,
                                          &unpacked.folderModes);
          !put) {
        if (put.error().kind == Case::diskFull)
          return {Unexpected(diskFullError(put.error().payload, agents, freeBefore))};
        return {Unexpected(std::move(put).error())};
      }
    }
    logGaps(gaps);
    return {RestoreReport{gaps}};
  }
};
RestoreEngine& RestoreEngine::shared() {
  static RestoreEngine* engine = new RestoreEngine();
  return *engine;
}

RestoreEngine::RestoreEngine(SnapshotVolume volume, QObject* parent) : EngineState(parent), volume_(std::move(volume)) {}

QStringList RestoreEngine::targetsFor(const QString& agentId, const AgentRegistry* registry) {
  if (registry) {
    if (const auto entry = registry->lookup(agentId); entry && entry->backup && entry->backup->includePaths) {
      QStringList targets;
      for (const QString& path : *entry->backup->includePaths) targets << resolveTarget(path);
      return targets;
    }
  }
  return BackupCatalog::dataDirectories(agentId);
}

QList<RestoreGap> RestoreEngine::unplaced(const BackupManifest& manifest, const AgentRegistry* registry) {
  QList<Placement> placements;
  QList<RestoreGap> gaps;
  for (const auto& agent : manifest.agents) static_cast<void>(placeAgent(agent, asRecorded(), registry, false, placements, gaps));
  return gaps;
}

bool RestoreEngine::restoreAll(Completion done) {
  return runRestore([](const BackupManifest::AgentBackup&) { return true; }, QString(), std::move(done));
}

bool RestoreEngine::restoreAgent(const QString& agentId, Completion done) {
  return runRestore([agentId](const BackupManifest::AgentBackup& agent) { return agent.id == agentId; }, agentId,
                    std::move(done));
}

namespace {

// Why no snapshot could be chosen, as the restore reports it.
RestoreError noSnapshotError(const SnapshotChoice& choice) {
  if (choice.damaged.isEmpty()) return RestoreError::of(Case::noBackupFound);
  switch (choice.damaged.first().damage) {
    case SnapshotChoice::Damage::missing: return RestoreError::of(Case::noBackupFound);
    case SnapshotChoice::Damage::unreadable:
    case SnapshotChoice::Damage::corrupted: return RestoreError::of(Case::manifestCorrupted);
    case SnapshotChoice::Damage::archiveMismatch: return RestoreError::of(Case::sha256Mismatch);
  }
  return RestoreError::of(Case::noBackupFound);
}

// How the restore sheet names a damaged snapshot.
RestoreError damageError(const SnapshotChoice::Damaged& damaged) {
  switch (damaged.damage) {
    case SnapshotChoice::Damage::missing:
      return RestoreError::of(damaged.reason.endsWith(QLatin1String("manifest.json")) ? Case::manifestCorrupted
                                                                                       : Case::sha256Mismatch);
    case SnapshotChoice::Damage::unreadable:
    case SnapshotChoice::Damage::corrupted: return RestoreError::of(Case::manifestCorrupted);
    case SnapshotChoice::Damage::archiveMismatch: return RestoreError::of(Case::sha256Mismatch);
  }
  return RestoreError::of(Case::sha256Mismatch);
}

}  // namespace

// A fresh, private staging folder in `workFolder` (open as `workFd`), made
// under a new random name (never one that stands: what stands there is
// never used); its name, or empty.
QByteArray makeStaging(int workFd) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    const QByteArray name = QByteArray(RestoreEngine::kStagingDirName) + '-' +
                            QByteArray::number(QRandomGenerator::global()->generate64(), 36);
    if (::mkdirat(workFd, name.constData(), 0700) == 0) return name;
    if (errno != EEXIST) return {};
  }
  return {};
}

// One restore on its worker thread, from taking the volume's lock to
// letting it go: the mount (the password prompt alone comes to the main
// thread), choosing the snapshot, the staging folder, the checksum, tar, the
// check and the merges, and the unmount. A snapshot whose archive turns out
// not to be the one its manifest records is passed over for the next good
// one.
Expected<RestoreReport, RestoreError> RestoreRun::run(const Stage& stage, const SnapshotVolume& volume,
                                            const std::function<bool(const BackupManifest::AgentBackup&)>& filter,
                                            const QString& wanted, std::shared_ptr<const AgentRegistry> registry,
                                            qint64* archiveSize) {
  // No image: nothing to restore from and nothing to keep apart, so no lock
  // file is made beside a place where no image lies.
  if (!volume.exists() && !volume.isMounted()) return Unexpected(RestoreError::of(Case::noBackupFound));
  const std::optional<VolumeLock> lock = volume.lock();
  if (!lock) return Unexpected(RestoreError::of(Case::busy));
  if (OperationStop::requested()) return Unexpected(RestoreError::passOn(OperationStop::reason()));
  bool mountedHere = false;
  if (volume.exists() && !volume.isMounted()) {
    if (auto mounted = volume.mountInteractive(unlockReason(UnlockPurpose::restore)); !mounted)
      return Unexpected(RestoreError::passOn(mounted.error()));
    mountedHere = true;
  } else if (volume.isMounted()) {
    // A mount left by a killed run is taken over and detached at the end.
    mountedHere = volume.adoptOrphan();
  }
  const QString workFolder = volume.workFolder();
  // Plain copies a killed backup or restore left behind.
  BackupStaging::removeLeftovers(workFolder);
  const Expected<RestoreReport, RestoreError> result = [&]() -> Expected<RestoreReport, RestoreError> {
    QStringList snapshots = volume.listSnapshots();
    QList<SnapshotChoice::Damaged> damaged;
    const UniqueFd workFd(::open(QFile::encodeName(workFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    while (true) {
      SnapshotChoice choice = SnapshotChoice::choose(snapshots);
      damaged << choice.damaged;
      for (const SnapshotChoice::Damaged& d : choice.damaged)
        log("[Restore] ", QStringLiteral("跳过损坏的快照 ") + QFileInfo(d.folder).fileName() + QStringLiteral("：") + d.reason);
      if (!choice.found()) {
        choice.damaged = damaged;
        return Unexpected(noSnapshotError(choice));
      }
      const QString archive = choice.folder + "/backup.tar.gz";
      QList<BackupManifest::AgentBackup> selected;
      for (const auto& agent : choice.manifest->agents) {
        if (filter(agent)) selected << agent;
      }
      // No agent asked for is in it: said so, and nothing is unpacked (with
      // no members named, tar would unpack the whole archive).
      if (selected.isEmpty())
        return Unexpected(wanted.isEmpty() ? RestoreError::of(Case::noBackupFound)
                                           : RestoreError::of(Case::agentNotInBackup, wanted));
      const QByteArray name = workFd ? makeStaging(workFd.get()) : QByteArray();
      const QString staging = workFolder + "/" + QFile::decodeName(name);
      if (name.isEmpty()) return Unexpected(RestoreError::passOn(workFolder + QStringLiteral(": 无法创建暂存文件夹")));
      const UniqueFd stagingFd(::openat(workFd.get(), name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (const auto info = FileTransfer::entry(archive)) *archiveSize = info->size;
      const Outcome outcome =
          stagingFd ? work(stage, archive, choice.manifest->archiveSha256, selected, !wanted.isEmpty(),
                           stagingFd.get(), staging, workFolder, registry)
                    : Outcome{Unexpected(RestoreError::passOn(staging + QStringLiteral(": 无法打开暂存文件夹")))};
      // The staging folder holds plain copies of the agents' data: one that
      // stays is said, and the next backup or restore clears it.
      if (const auto removed = FileOps::removeItemAt(workFd.get(), name); !removed)
        log("[Restore] ", QStringLiteral("无法清除暂存文件夹：") + removed.error().reason());
      if (!outcome.damaged) return outcome.result;
      // Its archive is not the one its manifest records: the next one.
      damaged << SnapshotChoice::digestMismatch(choice.folder);
      log("[Restore] ", QStringLiteral("跳过损坏的快照 ") + QFileInfo(choice.folder).fileName() +
                            QStringLiteral("：archive 内容与 manifest 记录不符"));
      snapshots = snapshots.mid(snapshots.indexOf(choice.folder) + 1);
      if (snapshots.isEmpty()) return outcome.result;
    }
  }();
  if (!mountedHere) return result;
  // A volume left attached leaves the decrypted files open: a failure too.
  if (auto detached = volume.unmount(); !detached && result) return Unexpected(RestoreError::passOn(detached.error()));
  return result;
}

bool RestoreEngine::runRestore(std::function<bool(const BackupManifest::AgentBackup&)> filter, const QString& wanted,
                               Completion done) {
  if (isRunning()) {
    done(RestoreReport{});
    return false;
  }
  begin(LocKey::backupStagePreparing());

  struct Ended {
    Expected<RestoreReport, RestoreError> result = RestoreReport{};
    qint64 archiveSize = 0;
  };
  // The caller hears the end even when the engine has gone by then; the
  // engine's own bookkeeping only while it lives.
  startOffMain(
      nullptr,
      [volume = volume_, filter = std::move(filter), wanted, registry = registry_,
       stage = whileAlive(this, [this](const LocKey& key) { setStage(key); })] {
        Ended ended;
        ended.result = RestoreRun::run(stage, volume, filter, wanted, registry, &ended.archiveSize);
        return ended;
      },
      [recorded = volume_.userVolume,
       finished = whileAlive(this, [this](const Expected<RestoreReport, RestoreError>& result) { finish(result); }),
       done = std::move(done)](const Ended& ended) {
        if (ended.result && recorded) NetworkLogger::shared().log(NetworkEventKind::restoreFetch, ended.archiveSize, true);
        finished(ended.result);
        done(ended.result);
      });
  return true;
}

void RestoreEngine::finish(const Expected<RestoreReport, RestoreError>& result) {
  if (result)
    end();
  else
    end(result.error().description(), result.error().message());
}

std::optional<BackupManifest> RestoreEngine::loadManifest() {
  if (!volume_.isMounted()) return std::nullopt;
  const QStringList snapshots = volume_.listSnapshots();
  if (snapshots.isEmpty()) return std::nullopt;
  const SnapshotChoice choice = SnapshotChoice::choose(snapshots);
  damagedNewer_ = choice.damaged.size();
  currentManifest_ = choice.manifest;
  Q_EMIT currentManifestChanged();
  return currentManifest_;
}

void RestoreEngine::inspect(Inspected done) {
  struct Read {
    Expected<void, RestoreError> result;
    SnapshotChoice choice;
  };
  startOffMain(
      this,
      [volume = volume_]() -> Read {
        // Nothing to read without an image, and nothing made beside it.
        if (!volume.exists() && !volume.isMounted()) return {};
        const std::optional<VolumeLock> lock = volume.lock();
        if (!lock) return {Unexpected(RestoreError::of(Case::busy)), {}};
        bool mountedHere = false;
        if (volume.exists() && !volume.isMounted()) {
          if (auto mounted = volume.mountInteractive(unlockReason(UnlockPurpose::restore)); !mounted)
            return {Unexpected(RestoreError::passOn(mounted.error())), {}};
          mountedHere = true;
        } else if (volume.isMounted()) {
          mountedHere = volume.adoptOrphan();
        }
        Read read;
        // Off the window's thread: each archive is read and its digest compared.
        if (volume.isMounted()) read.choice = SnapshotChoice::choose(volume.listSnapshots(), true);
        // Snapshots there are, but none that can be restored: said as the
        // damage it is, not as no backup at all.
        if (!read.choice.found() && !read.choice.damaged.isEmpty())
          read.result = Unexpected(damageError(read.choice.damaged.first()));
        if (mountedHere) {
          if (auto detached = volume.unmount(); !detached && read.result)
            read.result = Unexpected(RestoreError::passOn(detached.error()));
        }
        return read;
      },
      [this, done = std::move(done)](Read read) {
        damagedNewer_ = read.choice.damaged.size();
        // Read, even when every snapshot it found is damaged: what was shown
        // before is no longer there to restore.
        if (read.result || !read.choice.damaged.isEmpty()) {
          currentManifest_ = read.choice.manifest;
          Q_EMIT currentManifestChanged();
        }
        done(read.result);
      });
}

}  // namespace tlr
