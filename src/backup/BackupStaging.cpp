#include "backup/BackupStaging.h"

#include "backup/BackupPlanner.h"
#include "backup/OperationStop.h"
#include "platform/FileOps.h"
#include "platform/Log.h"
#include "platform/TarWriter.h"
#include "platform/UniqueFd.h"
#include "platform/Utf8.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>

#include <cerrno>
#include <dirent.h>
#include <map>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tlr {
namespace {

// Whether a failed open or status of an item means it went away (removed,
// or replaced by a link) rather than that it cannot be read.
bool gone(int error) { return error == ENOENT || error == ELOOP || error == ENOTDIR; }

void countStats(const QString& source, qint64 size, StagedAgent& agent) {
  const QString lower = source.toLower();
  auto has = [&](const char* text) { return lower.contains(QLatin1String(text)); };
  if (has("/skill") || has("/tool"))
    ++agent.skills;
  else if (has("/memor") || has("/history") || has("/session"))
    agent.memoryBytes += size;
  else if (has("/task") || has("/project"))
    ++agent.tasks;
}

QString below(const QString& folder) { return folder.endsWith('/') ? folder : folder + '/'; }

// Whether everything from below `outer` down to `inner` is a real folder
// (no link on the way) and `inner` itself is a folder (or, when not
// `innerIsFolder`, a regular file), as a walk of `outer` would meet it.
bool walkReaches(const QString& outer, const QString& inner, bool innerIsFolder) {
  const QStringList parts = inner.mid(below(outer).size()).split('/', Qt::SkipEmptyParts);
  QString at = outer;
  for (qsizetype i = 0; i < parts.size(); ++i) {
    at = below(at) + parts[i];
    struct stat st{};
    if (::lstat(QFile::encodeName(at).constData(), &st) != 0) return false;
    const bool last = i == parts.size() - 1;
    if (!(last && !innerIsFolder ? S_ISREG(st.st_mode) : S_ISDIR(st.st_mode))) return false;
  }
  return !parts.isEmpty();
}

// One agent's root, as the walk sees it.
struct Claim {
  int agent = 0;
  QString entry;  // in the agent's folder
  QString path;   // as given, cleaned
  bool file = false;
  const ExcludeMatcher* matcher = nullptr;
  int stored = -1;      // the stored root it lies in
  QString rel;          // its place below that root's path; empty for the root itself
  qsizetype relBytes = 0;  // the length of `rel` in bytes
  qint64 files = 0;
  qint64 diskBytes = 0;
  // A folder root whose folder was stored (empty, or holding only folders or
  // what could not be read): it comes back as it was.
  bool reached = false;
};

// A root stored in the archive once.
struct Stored {
  QString path;
  bool file = false;
  int ownerAgent = 0;
  QString location;  // below the top folder: "<owner id>/<owner's entry>"
  std::vector<int> claims;  // every claim that lies in it
};

// A folder member not written yet: folders are stored only once something
// below them is.
struct PendingFolder {
  QByteArray name;
  unsigned mode = 0700;
  struct timespec mtime{};
  bool written = false;
  QString agent;  // an agent's own folder: its id
};

class Walk {
 public:
  Walk(TarWriter& archive, const QString& top, const QList<BackupStaging::Agent>& agents, StagedSnapshot& out)
      : archive_(archive), top_(QFile::encodeName(top)), agents_(agents), out_(out) {}

  void run() {
    plan();
    for (std::size_t s = 0; s < stored_.size() && !stopped(); ++s) {
      if (stored_[s].file)
        storeFile(static_cast<int>(s));
      else
        storeFolder(static_cast<int>(s));
    }
    // Each agent's roots that were stored, in the order given: those that
    // yielded files, and folders stored without any.
    for (const Claim& claim : claims_) {
      if (claim.files == 0 && !claim.reached) continue;
      const Stored& stored = stored_[static_cast<std::size_t>(claim.stored)];
      out_.agents[claim.agent].roots.append(
          {claim.entry, claim.path, claim.rel.isEmpty() ? stored.location : stored.location + '/' + claim.rel,
           claim.diskBytes});
    }
  }

 private:
  bool stopped() const { return OperationStop::requested() || !archive_.error().isEmpty(); }

  // Which roots are stored where.
  void plan() {
    for (qsizetype a = 0; a < agents_.size(); ++a) {
      out_.agents.append(StagedAgent{});
      matchers_.push_back(std::make_unique<ExcludeMatcher>(agents_[a].excludes));
      const QStringList names = BackupStaging::entryNames(agents_[a].roots);
      for (qsizetype r = 0; r < agents_[a].roots.size(); ++r) {
        if (names[r].isEmpty()) continue;
        Claim claim;
        claim.agent = static_cast<int>(a);
        claim.entry = names[r];
        claim.path = QDir::cleanPath(agents_[a].roots[r]);
        claim.matcher = matchers_.back().get();
        struct stat st{};
        // A link as the root itself is followed: to a file, that file is stored.
        if (::stat(QFile::encodeName(claim.path).constData(), &st) != 0) {
          if (!gone(errno)) out_.unreadable.note(claim.path);
          continue;
        }
        if (S_ISDIR(st.st_mode)) {
          claim.file = false;
        } else if (S_ISREG(st.st_mode)) {
          claim.file = true;
        } else {
          out_.notRegular.note(claim.path);
          continue;
        }
        claims_.push_back(claim);
      }
    }
    // The folder roots, outermost first.
    QStringList folders;
    for (const Claim& claim : claims_) {
      if (!claim.file && !folders.contains(claim.path)) folders << claim.path;
    }
    std::sort(folders.begin(), folders.end(), [](const QString& a, const QString& b) { return a.size() < b.size(); });
    QHash<QString, int> storedAt;
    for (std::size_t c = 0; c < claims_.size(); ++c) {
      Claim& claim = claims_[c];
      QString container;
      for (const QString& folder : folders) {
        if (folder.size() >= claim.path.size()) break;
        if (claim.path.startsWith(below(folder)) && walkReaches(folder, claim.path, !claim.file)) {
          container = folder;
          break;
        }
      }
      const QString storedPath = container.isEmpty() ? claim.path : container;
      auto it = storedAt.constFind(storedPath);
      if (it == storedAt.constEnd()) it = storedAt.insert(storedPath, ownStored(storedPath));
      claim.stored = *it;
      claim.rel = container.isEmpty() ? QString() : claim.path.mid(below(container).size());
      claim.relBytes = QFile::encodeName(claim.rel).size();
      stored_[static_cast<std::size_t>(claim.stored)].claims.push_back(static_cast<int>(c));
    }
  }

  // The stored root at `path`, lying in the entry of the first agent that
  // names it.
  int ownStored(const QString& path) {
    for (const Claim& claim : claims_) {
      if (claim.path != path) continue;
      Stored stored;
      stored.path = path;
      stored.file = claim.file;
      stored.ownerAgent = claim.agent;
      stored.location = agents_[claim.agent].id + '/' + claim.entry;
      stored_.push_back(stored);
      return static_cast<int>(stored_.size() - 1);
    }
    return -1;  // never: every path comes from a claim
  }

  QByteArray memberOf(const Stored& stored) const { return top_ + '/' + QFile::encodeName(stored.location); }

  // Starts the folders a stored root's members lie in: its agent's folder,
  // unless stored already.
  void beginStored(const Stored& stored) {
    pending_.clear();
    const QString owner = agents_[stored.ownerAgent].id;
    if (!agentFolders_.contains(owner))
      pending_.push_back({top_ + '/' + QFile::encodeName(owner), 0700, {QDateTime::currentSecsSinceEpoch(), 0}, false, owner});
  }

  bool writePending() {
    for (PendingFolder& folder : pending_) {
      if (folder.written) continue;
      if (!archive_.addFolder(folder.name, folder.mode, folder.mtime.tv_sec, folder.mtime.tv_nsec)) return false;
      folder.written = true;
      if (!folder.agent.isEmpty()) agentFolders_.insert(folder.agent);
    }
    return true;
  }

  void storeFile(int s) {
    const Stored& stored = stored_[static_cast<std::size_t>(s)];
    beginStored(stored);
    UniqueFd fd(::open(QFile::encodeName(stored.path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd && !gone(errno)) out_.unreadable.note(stored.path);
    struct stat st{};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    if (!writePending()) return;
    TarWriter::FileRead read;
    if (!storeContent(memberOf(stored), fd.get(), st, [&] { return stored.path; }, &read)) return;
    count(stored.claims, stored.path, read.dataBytes, st, {});
  }

  // Stores the file open as `fd` (status `st`) as `member`; a file that
  // changed while it was read is read again once, and named (`shown()`) when
  // it changed again. False when the archive failed.
  template <typename Shown>
  bool storeContent(const QByteArray& member, int fd, struct stat& st, const Shown& shown, TarWriter::FileRead* read) {
    if (!archive_.addFile(member, fd, st, read)) return false;
    if (!read->changed) return true;
    // The second reading takes the first one's place when unpacked.
    if (::fstat(fd, &st) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
      out_.changed.note(shown());
      return true;
    }
    if (!archive_.addFile(member, fd, st, read)) return false;
    if (read->changed) out_.changed.note(shown());
    return true;
  }

  // Counts a stored file for the claims in `keeping`, once per agent (a
  // file two roots of one agent reach is one of its files): `rel` is its
  // path below the stored root (empty: the stored root itself).
  void count(const std::vector<int>& keeping, const QString& source, qint64 bytes, const struct stat& st,
             const QByteArray& rel) {
    std::vector<int> countedAgents;
    for (int c : keeping) {
      Claim& claim = claims_[static_cast<std::size_t>(c)];
      ++claim.files;
      claim.diskBytes += static_cast<qint64>(st.st_blocks) * 512;
      if (std::find(countedAgents.begin(), countedAgents.end(), claim.agent) != countedAgents.end()) continue;
      countedAgents.push_back(claim.agent);
      StagedAgent& agent = out_.agents[claim.agent];
      ++agent.fileCount;
      agent.totalBytes += bytes;
      agent.files << (claim.file || rel.isEmpty()
                          ? claim.entry
                          : claim.entry + '/' + displayName(claim.rel.isEmpty() ? rel : rel.mid(claim.relBytes + 1)));
      countStats(source, bytes, agent);
    }
  }

  void storeFolder(int s) {
    const Stored& stored = stored_[static_cast<std::size_t>(s)];
    beginStored(stored);
    // A link as the root itself is followed; nothing below it is.
    UniqueFd fd(::open(QFile::encodeName(stored.path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd && !gone(errno)) out_.unreadable.note(stored.path);
    struct stat st{};
    if (!fd || ::fstat(fd.get(), &st) != 0) return;
    const QByteArray member = memberOf(stored);
    pending_.push_back({member, st.st_mode & 0777, st.st_mtim, false, {}});
    links_.clear();
    std::vector<int> active;
    for (int c : stored.claims) {
      if (claims_[static_cast<std::size_t>(c)].rel.isEmpty()) active.push_back(c);
    }
    folder(s, std::move(fd), member, QByteArray(), QString(), active, 0);
  }

  // The walk of one folder below stored root `s`: `rel` is its path below
  // the root (bytes, and as text for the patterns), `active` the claims that
  // reach it.
  void folder(int s, UniqueFd fd, const QByteArray& member, const QByteArray& rel, const QString& relText,
              const std::vector<int>& active, int depth) {
    const Stored& stored = stored_[static_cast<std::size_t>(s)];
    DIR* dir = ::fdopendir(fd.get());
    if (!dir) {
      out_.unreadable.note(stored.path + (rel.isEmpty() ? QString() : '/' + displayName(rel)));
      return;
    }
    fd.release();
    const std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, ::closedir);
    // Stored whether or not it holds anything: an empty folder an agent
    // expects comes back, and a root that is such a folder is the agent's.
    if (!writePending()) return;
    for (int c : active) {
      Claim& claim = claims_[static_cast<std::size_t>(c)];
      if (!claim.file && claim.rel == relText) claim.reached = true;
    }
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
      if (stopped()) return;
      const QByteArray name(entry->d_name);
      if (name == "." || name == "..") continue;
      struct stat st{};
      const QByteArray childRel = rel.isEmpty() ? name : rel + '/' + name;
      const QString childText = relText.isEmpty() ? QString::fromUtf8(name) : relText + '/' + QString::fromUtf8(name);
      if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        // A folder that may be listed but not entered.
        if (!gone(errno) && !everyClaimLeavesOut(active, childText, false))
          out_.unreadable.note(stored.path + '/' + displayName(childRel));
        continue;
      }
      const QByteArray childMember = member + '/' + name;

      if (S_ISDIR(st.st_mode)) {
        std::vector<int> childActive = active;
        bool claimInside = false;
        for (int c : stored.claims) {
          const Claim& claim = claims_[static_cast<std::size_t>(c)];
          if (claim.rel == childText && !claim.file) childActive.push_back(c);
          if (claim.rel == childText || claim.rel.startsWith(childText + '/')) claimInside = true;
        }
        if (!claimInside && everyClaimLeavesOut(active, childText, true)) continue;
        if (depth + 1 > StagedSnapshot::kMaxDepth) {
          out_.tooDeep.note(stored.path + '/' + displayName(childRel));
          continue;
        }
        UniqueFd sub(::openat(dirFd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!sub) {
          if (!gone(errno)) out_.unreadable.note(stored.path + '/' + displayName(childRel));
          continue;
        }
        pending_.push_back({childMember, st.st_mode & 0777, st.st_mtim, false, {}});
        folder(s, std::move(sub), childMember, childRel, childText, childActive, depth + 1);
        pending_.pop_back();
      } else if (S_ISREG(st.st_mode)) {
        file(s, dirFd, entry->d_name, childMember, childRel, childText, active);
      } else if (!everyClaimLeavesOut(active, childText, false)) {
        // A link, FIFO, socket or device: never stored, but said.
        out_.notRegular.note(stored.path + '/' + displayName(childRel));
      }
    }
  }

  // Whether every claim in `active` leaves out the item at `relText` below
  // the stored root (a folder: everything below it).
  bool everyClaimLeavesOut(const std::vector<int>& active, const QString& relText, bool isFolder) const {
    for (int c : active) {
      const Claim& claim = claims_[static_cast<std::size_t>(c)];
      const QString own = claim.rel.isEmpty() ? relText : relText.mid(claim.rel.size() + 1);
      if (!(isFolder ? claim.matcher->excludesFolder(own) : claim.matcher->excludesRelative(own))) return false;
    }
    return true;
  }

  void file(int s, int dirFd, const char* name, const QByteArray& member,
            const QByteArray& rel, const QString& relText, const std::vector<int>& active) {
    const Stored& stored = stored_[static_cast<std::size_t>(s)];
    // The claims that keep it: the folder roots that reach it and leave it
    // in, and a file root that is this very file.
    std::vector<int> keeping;
    for (int c : active) {
      const Claim& claim = claims_[static_cast<std::size_t>(c)];
      const QString own = claim.rel.isEmpty() ? relText : relText.mid(claim.rel.size() + 1);
      if (!claim.matcher->excludesRelative(own)) keeping.push_back(c);
    }
    for (int c : stored.claims) {
      const Claim& claim = claims_[static_cast<std::size_t>(c)];
      if (claim.file && claim.rel == relText) keeping.push_back(c);
    }
    if (keeping.empty()) return;
    const QString source = stored.path + '/' + relText;
    const auto shown = [&] { return stored.path + '/' + displayName(rel); };
    // Opened without waiting (a FIFO put there in the meantime is no
    // regular file) and without following a link.
    UniqueFd fd(::openat(dirFd, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd && !gone(errno)) out_.unreadable.note(shown());
    struct stat st{};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    if (!writePending()) return;
    // The claims whose part of the archive holds this member: a second name
    // of it is stored as a link only where every part holding the link
    // holds its target too, so a restore of any part finds it.
    std::vector<int> holding;
    if (st.st_nlink > 1) {
      holding = active;
      for (int c : stored.claims) {
        const Claim& claim = claims_[static_cast<std::size_t>(c)];
        if (claim.file && claim.rel == relText) holding.push_back(c);
      }
      std::sort(holding.begin(), holding.end());
      const auto first = links_.find({st.st_dev, st.st_ino});
      if (first != links_.end() &&
          std::includes(first->second.holding.begin(), first->second.holding.end(), holding.begin(), holding.end())) {
        if (!archive_.addHardLink(member, first->second.member, st)) return;
        count(keeping, source, 0, st, rel);
        return;
      }
    }
    TarWriter::FileRead read;
    if (!storeContent(member, fd.get(), st, shown, &read)) return;
    if (st.st_nlink > 1) links_.try_emplace({st.st_dev, st.st_ino}, FirstName{member, std::move(holding)});
    count(keeping, source, read.dataBytes, st, rel);
  }

  TarWriter& archive_;
  const QByteArray top_;
  const QList<BackupStaging::Agent>& agents_;
  StagedSnapshot& out_;
  std::vector<std::unique_ptr<ExcludeMatcher>> matchers_;
  std::vector<Claim> claims_;
  std::vector<Stored> stored_;
  std::vector<PendingFolder> pending_;
  QSet<QString> agentFolders_;
  // The first stored name of each file with several names, in the stored
  // root being walked.
  struct FirstName {
    QByteArray member;
    std::vector<int> holding;
  };
  std::map<std::pair<dev_t, ino_t>, FirstName> links_;
};

}  // namespace

QString listedPaths(qint64 count, const QStringList& examples) {
  QStringList shown;
  for (const QString& path : examples) shown << oneLine(path);
  return shown.join(QStringLiteral(", ")) + (count > examples.size() ? QStringLiteral(", …") : QString());
}

QList<std::pair<SnapshotGap, NamedItems>> snapshotGaps(const NamedItems& unreadable, const NamedItems& tooDeep,
                                                       const NamedItems& changed) {
  QList<std::pair<SnapshotGap, NamedItems>> gaps;
  if (!unreadable.isEmpty()) gaps.append({SnapshotGap::unreadable, unreadable});
  if (!tooDeep.isEmpty()) gaps.append({SnapshotGap::tooDeep, tooDeep});
  if (!changed.isEmpty()) gaps.append({SnapshotGap::changed, changed});
  return gaps;
}

QStringList BackupStaging::entryNames(const QStringList& roots) {
  QStringList names;
  QSet<QString> taken;
  for (const QString& root : roots) {
    const QString base = QFileInfo(root).fileName();
    QString name = base;
    for (int n = 2; !base.isEmpty() && taken.contains(name); ++n) name = base + QStringLiteral("~%1").arg(n);
    taken.insert(name);
    names << name;
  }
  return names;
}

void BackupStaging::removeLeftovers(const QString& folder) {
  const QStringList names = QDir(folder).entryList({QStringLiteral(".tollamere-backup-tmp*"),
                                                    QStringLiteral(".tollamere-restore-tmp*")},
                                                   QDir::AllEntries | QDir::Hidden | QDir::System);
  for (const QString& name : names) {
    // Plain copies of the agents' data: one that stays is said.
    if (const auto removed = FileOps::removeItem(folder + "/" + name); !removed)
      log("[Backup] ", QStringLiteral("无法清除残留的备份临时文件：") + removed.error().reason());
  }
}

StagedSnapshot BackupStaging::stage(TarWriter& archive, const QString& top, const QList<Agent>& agents) {
  StagedSnapshot snapshot;
  Walk(archive, top, agents, snapshot).run();
  return snapshot;
}

}  // namespace tlr
