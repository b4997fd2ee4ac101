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
#include <cstring>
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

// Kinds of content, told by the names on a file's path: a component that
// begins (in lower case) with "skill" or "tool" makes it a skill, else one
// with "memor", "history" or "session" memory, else one with "task" or
// "project" a task.
enum Kind : unsigned { kSkill = 1, kMemory = 2, kTask = 4 };

unsigned kindsOf(QStringView component) {
  static constexpr struct {
    const char* word;
    qsizetype length;
    Kind kind;
  } kWords[] = {{"skill", 5, kSkill},     {"tool", 4, kSkill},  {"memor", 5, kMemory},   {"history", 7, kMemory},
                {"session", 7, kMemory}, {"task", 4, kTask},   {"project", 7, kTask}};
  bool ascii = true;
  for (const QChar c : component) ascii = ascii && c.unicode() < 0x80;
  // Other letters may turn into these in lower case (the Kelvin sign into
  // "k"), so a name that is not ASCII is lowered as a whole.
  QString lowered;
  if (!ascii) lowered = component.toString().toLower();
  const QStringView text = ascii ? component : QStringView(lowered);
  unsigned kinds = 0;
  for (const auto& word : kWords) {
    if (text.size() < word.length) continue;
    bool same = true;
    for (qsizetype i = 0; same && i < word.length; ++i) {
      char16_t c = text[i].unicode();
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + (u'a' - u'A'));
      same = c == static_cast<char16_t>(word.word[i]);
    }
    if (same) kinds |= word.kind;
  }
  return kinds;
}

// The kinds the components of `path` tell, each that follows a "/".
unsigned kindsOfPath(QStringView path) {
  unsigned kinds = 0;
  for (qsizetype slash = path.indexOf(u'/'); slash >= 0;) {
    const qsizetype next = path.indexOf(u'/', slash + 1);
    kinds |= kindsOf(path.sliced(slash + 1, (next < 0 ? path.size() : next) - slash - 1));
    slash = next;
  }
  return kinds;
}

void countKinds(unsigned kinds, qint64 size, StagedAgent& agent) {
  if (kinds & kSkill)
    ++agent.skills;
  else if (kinds & kMemory)
    agent.memoryBytes += size;
  else if (kinds & kTask)
    ++agent.tasks;
}

bool isAscii(const char* name, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (static_cast<unsigned char>(name[i]) >= 0x80) return false;
  }
  return true;
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
  QByteArray entryUtf8;  // its UTF-8 text, as the agent's file list holds it
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
        if (!claim.entry.contains(QChar(0))) claim.entryUtf8 = claim.entry.toUtf8();
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
    member_ = memberOf(stored);
    relAt_ = member_.size() + 1;
    storing_ = s;
    if (!storeContent(fd.get(), st, &read)) return;
    count(stored.claims, kindsOfPath(stored.path), read.dataBytes, st, false);
  }

  // Stores the file open as `fd` (status `st`) as member_; a file that
  // changed while it was read is read again once, and named when it changed
  // again. False when the archive failed.
  bool storeContent(int fd, struct stat& st, TarWriter::FileRead* read) {
    if (!archive_.addFile(member_, fd, st, read)) return false;
    if (!read->changed) return true;
    // The second reading takes the first one's place when unpacked.
    if (::fstat(fd, &st) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
      out_.changed.note(shown(stored_[static_cast<std::size_t>(storing_)]));
      return true;
    }
    if (!archive_.addFile(member_, fd, st, read)) return false;
    if (read->changed) out_.changed.note(shown(stored_[static_cast<std::size_t>(storing_)]));
    return true;
  }

  // The path below the stored root of the item at hand, as bytes (empty
  // for the stored root itself) and as text.
  QByteArrayView rel() const { return member_.size() < relAt_ ? QByteArrayView() : QByteArrayView(member_).sliced(relAt_); }
  QStringView relText() const { return text_.isEmpty() ? QStringView() : QStringView(text_).sliced(1); }
  // The item at hand as the user knows it.
  QString shown(const Stored& stored) const {
    return rel().isEmpty() ? stored.path : stored.path + '/' + displayName(rel());
  }
  // The item at hand below the root of `claim`, with a "/" in front.
  QStringView rootedFor(const Claim& claim) const {
    return claim.rel.isEmpty() ? QStringView(text_) : QStringView(text_).sliced(claim.rel.size() + 1);
  }

  // Counts the stored file at hand for the claims in `keeping`, once per
  // agent (a file two roots of one agent reach is one of its files), by the
  // kinds its path tells. `ascii`: its path below the root is ASCII
  // throughout (so its listed name is those very bytes).
  void count(const std::vector<int>& keeping, unsigned kinds, qint64 bytes, const struct stat& st, bool ascii) {
    countedAgents_.clear();
    for (int c : keeping) {
      Claim& claim = claims_[static_cast<std::size_t>(c)];
      ++claim.files;
      claim.diskBytes += static_cast<qint64>(st.st_blocks) * 512;
      if (std::find(countedAgents_.begin(), countedAgents_.end(), claim.agent) != countedAgents_.end()) continue;
      countedAgents_.push_back(claim.agent);
      StagedAgent& agent = out_.agents[claim.agent];
      ++agent.fileCount;
      agent.totalBytes += bytes;
      const QByteArrayView path = rel();
      if (claim.file || path.isEmpty())
        agent.files << claim.entry;
      else if (ascii && claim.rel.isEmpty() && !claim.entryUtf8.isEmpty())
        agent.files.appendUtf8({claim.entryUtf8, "/", path});
      else
        agent.files << claim.entry + '/' + displayName(claim.rel.isEmpty() ? path : path.sliced(claim.relBytes + 1));
      countKinds(kinds, bytes, agent);
    }
  }

  // A folder being walked: the claims that reach it (their roots are it or
  // lie above it), and of those the ones that leave it in (a claim whose
  // patterns leave out a folder leaves out all it holds, so it is not asked
  // below it); the kinds of content its path tells; whether its path below
  // the stored root is ASCII throughout.
  struct Level {
    std::vector<int> reach;
    std::vector<int> live;
    unsigned kinds = 0;
    bool ascii = true;
  };

  void storeFolder(int s) {
    const Stored& stored = stored_[static_cast<std::size_t>(s)];
    beginStored(stored);
    // A link as the root itself is followed; nothing below it is.
    UniqueFd fd(::open(QFile::encodeName(stored.path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd && !gone(errno)) out_.unreadable.note(stored.path);
    struct stat st{};
    if (!fd || ::fstat(fd.get(), &st) != 0) return;
    member_ = memberOf(stored);
    relAt_ = member_.size() + 1;
    storing_ = s;
    text_.resize(0);
    pending_.push_back({member_, st.st_mode & 0777, st.st_mtim, false, {}});
    links_.clear();
    Level level;
    innerFileClaims_ = false;
    for (int c : stored.claims) {
      const Claim& claim = claims_[static_cast<std::size_t>(c)];
      if (claim.rel.isEmpty()) level.reach.push_back(c);
      if (claim.file && !claim.rel.isEmpty()) innerFileClaims_ = true;
    }
    level.live = level.reach;
    level.kinds = kindsOfPath(stored.path);
    folder(s, std::move(fd), level, 0);
  }

  // The walk of one folder below stored root `s`, the item at hand.
  void folder(int s, UniqueFd fd, const Level& level, int depth) {
    const Stored& stored = stored_[static_cast<std::size_t>(s)];
    DIR* dir = ::fdopendir(fd.get());
    if (!dir) {
      out_.unreadable.note(shown(stored));
      return;
    }
    fd.release();
    const std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, ::closedir);
    // Stored whether or not it holds anything: an empty folder an agent
    // expects comes back, and a root that is such a folder is the agent's.
    if (!writePending()) return;
    for (int c : level.reach) {
      Claim& claim = claims_[static_cast<std::size_t>(c)];
      if (!claim.file && claim.rel == relText()) claim.reached = true;
    }
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
      if (stopped()) return;
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      // The entry becomes the item at hand.
      const qsizetype memberEnd = member_.size(), textEnd = text_.size();
      const std::size_t length = std::strlen(name);
      const bool ascii = isAscii(name, length);
      member_.append('/').append(name, static_cast<qsizetype>(length));
      text_.append(u'/');
      if (ascii)
        text_.append(QLatin1StringView(name, static_cast<qsizetype>(length)));
      else
        text_.append(QString::fromUtf8(name, static_cast<qsizetype>(length)));
      item(s, dirFd, name, entry->d_type, level, ascii, depth);
      member_.truncate(memberEnd);
      text_.truncate(textEnd);
    }
  }

  // One entry of a folder being walked, the item at hand: `type` is what
  // the folder's listing says it is.
  void item(int s, int dirFd, const char* name, unsigned char type, const Level& level, bool ascii, int depth) {
    const Stored& stored = stored_[static_cast<std::size_t>(s)];
    // A regular file by the listing needs no status of its own: opening it
    // tells. What is no longer one by then is looked at again below.
    if (type == DT_REG && file(s, dirFd, name, level, ascii, true)) return;
    struct stat st{};
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      // A folder that may be listed but not entered.
      if (!gone(errno) && !everyClaimLeavesOut(level.live)) out_.unreadable.note(shown(stored));
      return;
    }
    if (S_ISDIR(st.st_mode)) {
      Level child;
      child.ascii = level.ascii && ascii;
      child.reach = level.reach;
      text_.append(u'/');
      for (int c : level.live) {
        const Claim& claim = claims_[static_cast<std::size_t>(c)];
        if (!claim.matcher->excludesInWalk(rootedFor(claim), true)) child.live.push_back(c);
      }
      text_.chop(1);
      const QStringView text = relText();
      child.kinds = level.kinds | kindsOf(text.sliced(text.lastIndexOf(u'/') + 1));
      bool claimInside = false;
      for (int c : stored.claims) {
        const Claim& claim = claims_[static_cast<std::size_t>(c)];
        if (claim.rel == text && !claim.file) {
          child.reach.push_back(c);
          child.live.push_back(c);
        }
        if (claim.rel == text || (claim.rel.size() > text.size() && claim.rel.startsWith(text) && claim.rel[text.size()] == '/'))
          claimInside = true;
      }
      if (!claimInside && child.live.empty()) return;
      if (depth + 1 > StagedSnapshot::kMaxDepth) {
        out_.tooDeep.note(shown(stored));
        return;
      }
      UniqueFd sub(::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!sub) {
        if (!gone(errno)) out_.unreadable.note(shown(stored));
        return;
      }
      pending_.push_back({member_, st.st_mode & 0777, st.st_mtim, false, {}});
      folder(s, std::move(sub), child, depth + 1);
      pending_.pop_back();
    } else if (S_ISREG(st.st_mode)) {
      file(s, dirFd, name, level, ascii, false);
    } else if (!everyClaimLeavesOut(level.live)) {
      // A link, FIFO, socket or device: never stored, but said.
      out_.notRegular.note(shown(stored));
    }
  }

  // Whether every claim in `live` leaves out the file at hand.
  bool everyClaimLeavesOut(const std::vector<int>& live) const {
    for (int c : live) {
      const Claim& claim = claims_[static_cast<std::size_t>(c)];
      if (!claim.matcher->excludesInWalk(rootedFor(claim), false)) return false;
    }
    return true;
  }

  // Stores the regular file at hand. `listed`: the folder's listing says it
  // is one, and nothing else has looked: false then when it is none (or
  // cannot be opened for another reason than that it went away), to be
  // looked at by its status; true once it is dealt with.
  bool file(int s, int dirFd, const char* name, const Level& level, bool ascii, bool listed) {
    const Stored& stored = stored_[static_cast<std::size_t>(s)];
    // The claims that keep it: the folder roots that reach it and leave it
    // in, and a file root that is this very file.
    std::vector<int>& keeping = keeping_;
    keeping.clear();
    for (int c : level.live) {
      const Claim& claim = claims_[static_cast<std::size_t>(c)];
      if (!claim.matcher->excludesInWalk(rootedFor(claim), false)) keeping.push_back(c);
    }
    if (innerFileClaims_) {
      for (int c : stored.claims) {
        const Claim& claim = claims_[static_cast<std::size_t>(c)];
        if (claim.file && claim.rel == relText()) keeping.push_back(c);
      }
    }
    if (keeping.empty()) return true;
    // Opened without waiting (a FIFO put there in the meantime is no
    // regular file) and without following a link.
    UniqueFd fd(::openat(dirFd, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) {
      if (listed && errno != ENOENT) return false;
      if (!gone(errno)) out_.unreadable.note(shown(stored));
      return true;
    }
    struct stat st{};
    if (::fstat(fd.get(), &st) != 0) return true;
    if (!S_ISREG(st.st_mode)) return !listed;
    if (!writePending()) return true;
    const QStringView text = relText();
    const unsigned kinds = level.kinds | kindsOf(text.sliced(text.lastIndexOf(u'/') + 1));
    ascii = ascii && level.ascii;
    // The claims whose part of the archive holds this member: a second name
    // of it is stored as a link only where every part holding the link
    // holds its target too, so a restore of any part finds it.
    std::vector<int> holding;
    if (st.st_nlink > 1) {
      holding = level.reach;
      for (int c : stored.claims) {
        const Claim& claim = claims_[static_cast<std::size_t>(c)];
        if (claim.file && claim.rel == text) holding.push_back(c);
      }
      std::sort(holding.begin(), holding.end());
      const auto first = links_.find({st.st_dev, st.st_ino});
      if (first != links_.end() &&
          std::includes(first->second.holding.begin(), first->second.holding.end(), holding.begin(), holding.end())) {
        if (!archive_.addHardLink(member_, first->second.member, st)) return true;
        count(keeping, kinds, 0, st, ascii);
        return true;
      }
    }
    TarWriter::FileRead read;
    if (!storeContent(fd.get(), st, &read)) return true;
    if (st.st_nlink > 1) links_.try_emplace({st.st_dev, st.st_ino}, FirstName{member_, std::move(holding)});
    count(keeping, kinds, read.dataBytes, st, ascii);
    return true;
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
  // The item at hand: its member name (its path below the stored root
  // begins at relAt_), and that path as text with a "/" in front (empty
  // for the stored root itself). Kept from item to item, as is the room of
  // the lists below.
  QByteArray member_;
  qsizetype relAt_ = 0;
  QString text_;
  int storing_ = 0;  // the stored root being walked
  // Whether a file root lies inside the stored root being walked.
  bool innerFileClaims_ = false;
  std::vector<int> keeping_;
  std::vector<int> countedAgents_;
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
