#include "platform/TarUnpacker.h"

#include "platform/PathNames.h"
#include "platform/UniqueFd.h"

#include <QSet>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace tlr {
namespace {

constexpr qsizetype kBlock = 512;
constexpr qsizetype kBuffer = 1 << 20;
// Error text beyond this is dropped.
constexpr qsizetype kErrorLimit = 1 << 20;
// New files up to this size are made by the writers, from memory.
constexpr qint64 kHandedOver = 1 << 20;

bool diskFullError(int error) { return error == ENOSPC || error == EDQUOT; }

// A numeric header field: octal digits (spaces and NULs around them), or
// GNU tar's base-256 for what octal cannot hold.
qint64 number(const char* field, int width) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(field);
  if (bytes[0] & 0x80) {
    quint64 value = bytes[0] & 0x3f;
    for (int i = 1; i < width; ++i) value = (value << 8) | bytes[i];
    return static_cast<qint64>(value);
  }
  qint64 value = 0;
  int i = 0;
  while (i < width && (field[i] == ' ' || field[i] == '\0')) ++i;
  for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i) value = value * 8 + (field[i] - '0');
  return value;
}

QByteArray text(const char* field, int width) {
  return QByteArray(field, static_cast<qsizetype>(strnlen(field, static_cast<size_t>(width))));
}

bool checksumHolds(const char* block) {
  unsigned sum = 0;
  int signedSum = 0;
  for (qsizetype i = 0; i < kBlock; ++i) {
    const bool inField = i >= 148 && i < 156;
    sum += inField ? ' ' : static_cast<unsigned char>(block[i]);
    signedSum += inField ? ' ' : static_cast<signed char>(block[i]);
  }
  const qint64 recorded = number(block + 148, 8);
  return recorded == sum || recorded == signedSum;
}

// "<seconds>[.<fraction>]" as a time.
struct timespec paxTime(const QByteArray& value) {
  const qsizetype dot = value.indexOf('.');
  struct timespec time{value.left(dot < 0 ? value.size() : dot).toLongLong(), 0};
  if (dot >= 0) {
    QByteArray fraction = value.mid(dot + 1).left(9);
    const bool negative = value.startsWith('-');
    fraction = fraction.leftJustified(9, '0');
    time.tv_nsec = fraction.toLong();
    if (negative && time.tv_nsec > 0) {
      time.tv_sec -= 1;
      time.tv_nsec = 1000000000L - time.tv_nsec;
    }
  }
  return time;
}

// A member's name as folders and a last part: leading "/" and "." parts
// dropped; nothing when a part is "..".
std::optional<QList<QByteArray>> partsOf(const QByteArray& name) {
  QList<QByteArray> parts;
  for (const QByteArray& part : name.split('/')) {
    if (part.isEmpty() || part == ".") continue;
    if (PathNames::isParentStep(part)) return std::nullopt;
    parts << part;
  }
  return parts;
}

bool startsWith(const QList<QByteArray>& parts, const QList<QByteArray>& prefix) {
  if (prefix.size() > parts.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), parts.begin());
}

// The process's umask, read without changing it.
mode_t currentUmask() {
  const UniqueFd fd(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
  char buffer[4096];
  const ssize_t n = fd ? ::read(fd.get(), buffer, sizeof buffer - 1) : -1;
  if (n > 0) {
    buffer[n] = '\0';
    if (const char* at = std::strstr(buffer, "Umask:")) return static_cast<mode_t>(std::strtoul(at + 6, nullptr, 8));
  }
  return 077;
}

// Reads up to `size` bytes of `fd` into `into`; how many it read.
qsizetype readFully(int fd, char* into, qsizetype size) {
  qsizetype done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, into + done, static_cast<size_t>(size - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

// A new regular file to be made, its data whole in memory.
struct NewFile {
  std::shared_ptr<UniqueFd> holder;  // keeps `folder` open (none: the unpacking folder)
  int folder = -1;
  QByteArray name;  // in `folder`
  QByteArray shown;  // the member's name, for errors
  QByteArray data;
  unsigned mode = 0600;
  struct timespec mtime{};
};

// Makes `file`; 0, or why not (with `what` saying which step failed).
// Whatever stands at its name goes first (a member unpacked twice).
int makeFile(const NewFile& file, mode_t umask, const char** what) {
  *what = "Cannot open";
  UniqueFd out(::openat(file.folder, file.name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, file.mode));
  if (!out && errno == EEXIST) {
    if (::unlinkat(file.folder, file.name.constData(), 0) != 0) return errno == EISDIR ? EEXIST : errno;
    out.reset(::openat(file.folder, file.name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, file.mode));
  }
  if (!out) return errno;
  *what = "Cannot write";
  int error = 0;
  for (qsizetype done = 0; done < file.data.size() && !error;) {
    const ssize_t n = ::write(out.get(), file.data.constData() + done, static_cast<size_t>(file.data.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) error = n < 0 ? errno : EIO;
    else done += n;
  }
  if (!error) {
    if ((file.mode & ~umask) != file.mode) ::fchmod(out.get(), file.mode);
    const struct timespec times[2] = {{0, UTIME_OMIT}, file.mtime};
    ::futimens(out.get(), times);
    if (out.close() != 0) error = errno;
  }
  if (error) ::unlinkat(file.folder, file.name.constData(), 0);
  return error;
}

// Threads that make small new files while the stream is read on: a file
// system makes files in several folders at once, and making a file (not
// writing its bytes) is most of what unpacking many small files costs. The
// files of one folder go to one thread, in turn (threads in one folder
// would only wait for each other). What is handed over is bounded; drain()
// waits until all of it is made.
class FileWriters {
 public:
  using Problem = std::function<void(const QByteArray& name, const char* what, int error)>;
  FileWriters(mode_t umask, Problem problem) : umask_(umask), problem_(std::move(problem)) {}
  ~FileWriters() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (Lane& lane : lanes_) {
      if (lane.thread.joinable()) lane.thread.join();
    }
  }
  FileWriters(const FileWriters&) = delete;
  FileWriters& operator=(const FileWriters&) = delete;

  // `folder` tells the folder apart from the one before it (any number
  // that changes when the folder does).
  void submit(NewFile file, quint64 folder) {
    if (folder != lastFolder_) {
      lastFolder_ = folder;
      lane_ = (lane_ + 1) % kLanes;
    }
    Lane& lane = lanes_[lane_];
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return lane.queued.size() < kMaxFiles && bytes_ < kMaxBytes; });
    bytes_ += file.data.size();
    lane.queued.push_back(std::move(file));
    ++pending_;
    if (!lane.thread.joinable()) lane.thread = std::thread([this, &lane] { work(lane); });
    wake_.notify_all();
  }

  void drain() {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return pending_ == 0; });
  }

 private:
  static constexpr std::size_t kLanes = 4;
  static constexpr std::size_t kMaxFiles = 128;  // a lane's
  static constexpr qsizetype kMaxBytes = 16 << 20;

  struct Lane {
    std::deque<NewFile> queued;
    std::thread thread;
  };

  void work(Lane& lane) {
    std::unique_lock lock(mutex_);
    while (true) {
      wake_.wait(lock, [&] { return stopping_ || !lane.queued.empty(); });
      if (lane.queued.empty()) return;
      NewFile file = std::move(lane.queued.front());
      lane.queued.pop_front();
      lock.unlock();
      const char* what = nullptr;
      if (const int error = makeFile(file, umask_, &what)) problem_(file.shown, what, error);
      const qsizetype size = file.data.size();
      file = NewFile();  // the folder is let go before the file counts as made
      lock.lock();
      --pending_;
      bytes_ -= size;
      room_.notify_all();
    }
  }

  const mode_t umask_;
  const Problem problem_;
  std::mutex mutex_;
  std::condition_variable wake_, room_;
  Lane lanes_[kLanes];
  std::size_t lane_ = 0;
  quint64 lastFolder_ = 0;
  qsizetype bytes_ = 0;
  std::size_t pending_ = 0;
  bool stopping_ = false;
};

// Copies the first `size` bytes of `from` to `to`; 0, or why not.
int copyStart(int from, int to, qint64 size) {
  char buffer[1 << 16];
  for (qint64 at = 0; at < size;) {
    const ssize_t n = ::pread(from, buffer, static_cast<size_t>(std::min<qint64>(size - at, sizeof buffer)), at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;  // it shrank meanwhile
    for (ssize_t written = 0; written < n;) {
      const ssize_t w = ::write(to, buffer + written, static_cast<size_t>(n - written));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return w < 0 ? errno : EIO;
      written += w;
    }
    at += n;
  }
  return 0;
}

}  // namespace

struct TarUnpacker::State {
  int into = -1;
  QList<QList<QByteArray>> wanted;
  std::vector<bool> found;
  mode_t umask = 077;

  // The stream.
  int in = -1;
  std::unique_ptr<char[]> buffer{new char[kBuffer]};
  qsizetype at = 0, filled = 0;
  bool ended = false;     // the stream's end was read
  bool readFailed = false;

  // The folders of the member made last, each open: reused by the next
  // member in the same folder or below it.
  std::vector<std::pair<QByteArray, std::shared_ptr<UniqueFd>>> chain;
  struct Folder {
    QList<QByteArray> parts;
    struct timespec mtime;
  };
  std::vector<Folder> folders;

  // At least `bytes` (at most the buffer) unread in the buffer, else false
  // at the stream's end.
  bool have(qsizetype bytes) {
    if (filled - at >= bytes) return true;
    if (at > 0) {
      std::memmove(buffer.get(), buffer.get() + at, static_cast<size_t>(filled - at));
      filled -= at;
      at = 0;
    }
    while (filled < bytes && !ended) {
      const ssize_t n = ::read(in, buffer.get() + filled, static_cast<size_t>(kBuffer - filled));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) readFailed = true;
      if (n <= 0) {
        ended = true;
        break;
      }
      filled += n;
    }
    return filled - at >= bytes;
  }

  // Hands `size` bytes of the stream to `sink` in pieces, then skips the
  // padding to the next block. False when the stream ended first; `sink`
  // returning false only stops the handing (the bytes are still skipped).
  template <typename Sink>
  bool data(qint64 size, Sink&& sink) {
    bool sinking = true;
    qint64 left = size;
    while (left > 0) {
      if (!have(1)) return false;
      const qsizetype piece = static_cast<qsizetype>(std::min<qint64>(left, filled - at));
      if (sinking) sinking = sink(buffer.get() + at, piece);
      at += piece;
      left -= piece;
    }
    const qsizetype pad = static_cast<qsizetype>((kBlock - size % kBlock) % kBlock);
    if (!have(pad)) return false;
    at += pad;
    return true;
  }

  bool skip(qint64 size) {
    return data(size, [](const char*, qsizetype) { return true; });
  }

  QByteArray whole(qint64 size, bool* ok) {
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(std::min<qint64>(size, kBuffer)));
    *ok = data(size, [&](const char* piece, qsizetype length) {
      bytes.append(piece, length);
      return true;
    });
    return bytes;
  }

  // The folder `parts[0..count)` below the unpacking folder, open; made
  // (0700) where missing when `make`. -1 with errno set when it cannot be.
  int folder(const QList<QByteArray>& parts, qsizetype count, bool make) {
    std::size_t common = 0;
    while (common < chain.size() && static_cast<qsizetype>(common) < count && chain[common].first == parts[common])
      ++common;
    chain.resize(common);
    for (qsizetype i = static_cast<qsizetype>(common); i < count; ++i) {
      const int parent = i == 0 ? into : chain.back().second->get();
      const char* name = parts[i].constData();
      UniqueFd fd(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!fd && errno == ENOENT && make) {
        if (::mkdirat(parent, name, 0700) != 0 && errno != EEXIST) return -1;
        fd.reset(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      }
      if (!fd) return -1;
      chain.emplace_back(parts[i], std::make_shared<UniqueFd>(std::move(fd)));
    }
    return count == 0 ? into : chain[static_cast<std::size_t>(count - 1)].second->get();
  }
  // What keeps the folder of the last folder() call with `count` open, for
  // work that outlives the chain; none for the unpacking folder.
  std::shared_ptr<UniqueFd> holder(qsizetype count) const {
    return count == 0 ? nullptr : chain[static_cast<std::size_t>(count - 1)].second;
  }

  // Where members stand already (keepIdentical), and the standing folders
  // of the member looked at last, each open or -1 where there is none:
  // reused by the next member in the same folder.
  struct Place {
    QList<QByteArray> parts;
    QByteArray path;
  };
  std::vector<Place> places;
  qsizetype standingPlace = -1;
  UniqueFd standingRoot;
  std::vector<std::pair<QByteArray, UniqueFd>> standingChain;
  std::unique_ptr<char[]> compared;  // a buffer of the standing file's bytes
  // The members left out (keepIdentical), by their name.
  QSet<QByteArray> keptNames;

  // The standing folder that corresponds to the folder holding the member at
  // `parts` and its place, or -1: none, or not one of the places.
  int standingFolder(const QList<QByteArray>& parts) {
    qsizetype found = -1;
    for (std::size_t i = 0; i < places.size() && found < 0; ++i) {
      if (parts.size() > places[i].parts.size() && startsWith(parts, places[i].parts)) found = static_cast<qsizetype>(i);
    }
    if (found < 0) return -1;
    const Place& place = places[static_cast<std::size_t>(found)];
    if (found != standingPlace) {
      standingPlace = found;
      standingChain.clear();
      // Its own links followed: where the user keeps it is theirs to arrange.
      standingRoot.reset(::open(place.path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    if (!standingRoot) return -1;
    const qsizetype first = place.parts.size(), count = parts.size() - 1 - first;
    std::size_t common = 0;
    while (common < standingChain.size() && static_cast<qsizetype>(common) < count &&
           standingChain[common].first == parts[first + static_cast<qsizetype>(common)])
      ++common;
    standingChain.resize(common);
    for (qsizetype i = static_cast<qsizetype>(common); i < count; ++i) {
      const int parent = i == 0 ? standingRoot.get() : standingChain.back().second.get();
      // A folder missing there stays missing for the members after it.
      UniqueFd fd(parent < 0 ? -1
                             : ::openat(parent, parts[first + i].constData(),
                                        O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      standingChain.emplace_back(parts[first + i], std::move(fd));
    }
    return count == 0 ? standingRoot.get() : standingChain[static_cast<std::size_t>(count - 1)].second.get();
  }

  // The standing file that corresponds to the member at `parts`, open, when
  // it may take the member's place as it is: this user's regular file of
  // one name, with `size` bytes, the bits `mode` and the time `mtime` (its
  // content is compared as the member streams).
  UniqueFd standingFile(const QList<QByteArray>& parts, qint64 size, unsigned mode, const struct timespec& mtime) {
    if (places.empty()) return {};
    const int folder = standingFolder(parts);
    if (folder < 0) return {};
    const char* name = parts.last().constData();
    struct stat st{};
    const auto same = [&] {
      return S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == ::geteuid() && st.st_size == size &&
             (st.st_mode & 07777) == mode && st.st_mtim.tv_sec == mtime.tv_sec && st.st_mtim.tv_nsec == mtime.tv_nsec;
    };
    if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !same()) return {};
    UniqueFd fd(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    // The one looked at, not one put there since.
    if (!fd || ::fstat(fd.get(), &st) != 0 || !same()) return {};
    if (!compared) compared.reset(new char[kBuffer]);
    return fd;
  }

  // Makes the member at `parts`, left out as it stands, in the folder open
  // as `folder` after all: a copy of the standing file. 0, or why not.
  int makeFromStanding(const QList<QByteArray>& parts, int folder) {
    const int standingIn = standingFolder(parts);
    if (standingIn < 0) return ENOENT;
    const UniqueFd from(::openat(standingIn, parts.last().constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st{};
    if (!from || ::fstat(from.get(), &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    UniqueFd to(::openat(folder, parts.last().constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!to) return errno;
    int error = copyStart(from.get(), to.get(), st.st_size);
    if (!error && ::fchmod(to.get(), st.st_mode & 07777) != 0) error = errno;
    const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    if (!error && ::futimens(to.get(), times) != 0) error = errno;
    if (!error && to.close() != 0) error = errno;
    if (error) ::unlinkat(folder, parts.last().constData(), 0);
    return error;
  }

  // Whether the member at `parts` is to be unpacked; notes the names it
  // answers.
  bool chosen(const QList<QByteArray>& parts) {
    if (wanted.isEmpty()) return true;
    bool any = false;
    for (qsizetype i = 0; i < wanted.size(); ++i) {
      if (startsWith(parts, wanted[i])) {
        found[static_cast<std::size_t>(i)] = true;
        any = true;
      }
    }
    return any;
  }
};

TarUnpacker::TarUnpacker(int intoFd, const QList<QByteArray>& members) : state_(std::make_unique<State>()) {
  state_->into = intoFd;
  for (const QByteArray& member : members) state_->wanted << partsOf(member).value_or(QList<QByteArray>{member});
  state_->found.assign(static_cast<std::size_t>(state_->wanted.size()), false);
  state_->umask = currentUmask();
}

TarUnpacker::~TarUnpacker() = default;

void TarUnpacker::keepIdentical(const QList<Standing>& standing) {
  for (const Standing& place : standing) {
    const std::optional<QList<QByteArray>> parts = partsOf(place.member);
    if (parts && !parts->isEmpty() && !place.path.isEmpty()) state_->places.push_back({*parts, place.path});
  }
}

bool TarUnpacker::unpack(int fd) {
  State& s = *state_;
  s.in = fd;
  bool failed = false;
  std::mutex problems;  // the writers say theirs too
  std::atomic<bool> full{false};
  auto problem = [&](const QByteArray& name, const char* what, int error) {
    std::lock_guard lock(problems);
    failed = true;
    if (diskFullError(error)) {
      diskFull_ = true;
      full = true;
    }
    if (errors_.size() < kErrorLimit)
      errors_ += name + ": " + what + (error ? QByteArray(": ") + std::strerror(error) : QByteArray()) + '\n';
  };
  FileWriters writers(s.umask, problem);
  // The names of the files handed to the writers since they last finished
  // all: a member of such a name waits for them (the later one wins).
  QSet<QByteArray> inFlight;

  // What extended headers said of the next member.
  std::optional<QByteArray> longName, longLink, paxPath, paxLink, sparseName;
  qint64 paxSize = -1, sparseSize = -1;  // -1: none
  bool paxMtimeGiven = false;
  struct timespec paxMtime{};
  bool sparse = false;
  bool whole = false;  // the end-of-archive block was met

  while (!whole) {
    if (!s.have(kBlock)) {
      if (!s.readFailed && s.filled == s.at && s.ended) {
        // The stream ended without the end blocks (as some writers leave it).
        break;
      }
      problem("tar", "Unexpected end of archive", 0);
      break;
    }
    const char* h = s.buffer.get() + s.at;
    if (std::all_of(h, h + kBlock, [](char c) { return c == '\0'; })) {
      s.at += kBlock;
      whole = true;
      break;
    }
    if (!checksumHolds(h)) {
      problem("tar", "This does not look like a tar archive", 0);
      break;
    }
    char header[kBlock];
    std::memcpy(header, h, kBlock);
    s.at += kBlock;
    const char type = header[156];
    qint64 size = number(header + 124, 12);
    bool ok = true;

    if (type == 'x' || type == 'g' || type == 'L' || type == 'K') {
      const QByteArray body = s.whole(size, &ok);
      if (!ok) {
        problem("tar", "Unexpected end of archive", 0);
        break;
      }
      if (type == 'L') longName = text(body.constData(), static_cast<int>(body.size()));
      if (type == 'K') longLink = text(body.constData(), static_cast<int>(body.size()));
      if (type != 'x') continue;  // global records carry nothing we keep
      for (qsizetype pos = 0; pos < body.size();) {
        const qsizetype blank = body.indexOf(' ', pos);
        if (blank < 0) break;
        const qint64 length = body.mid(pos, blank - pos).toLongLong();
        if (length <= 0 || pos + length > body.size()) break;
        const QByteArray record = body.mid(blank + 1, pos + length - blank - 2);  // without the newline
        pos += length;
        const qsizetype equals = record.indexOf('=');
        if (equals < 0) continue;
        const QByteArray key = record.left(equals), value = record.mid(equals + 1);
        if (key == "path") paxPath = value;
        else if (key == "linkpath") paxLink = value;
        else if (key == "size") paxSize = value.toLongLong();
        else if (key == "mtime") {
          paxMtime = paxTime(value);
          paxMtimeGiven = true;
        }
        else if (key == "GNU.sparse.name") sparseName = value;
        else if (key == "GNU.sparse.realsize") sparseSize = std::max<qint64>(0, value.toLongLong());
        else if (key == "GNU.sparse.major") sparse = value == "1";
      }
      continue;
    }

    // The member, with what the extended headers said.
    QByteArray name = text(header, 100);
    if (std::memcmp(header + 257, "ustar\0", 6) == 0 && header[345] != '\0') name = text(header + 345, 155) + '/' + name;
    if (longName) name = *longName;
    if (paxPath) name = *paxPath;
    QByteArray link = text(header + 157, 100);
    if (longLink) link = *longLink;
    if (paxLink) link = *paxLink;
    if (paxSize >= 0) size = paxSize;
    struct timespec mtime{number(header + 136, 12), 0};
    if (paxMtimeGiven) mtime = paxMtime;
    const bool sparseMember = sparse && sparseName && sparseSize >= 0;
    if (sparseMember) name = *sparseName;
    const qint64 realSize = sparseMember ? sparseSize : size;
    longName.reset();
    longLink.reset();
    paxPath.reset();
    paxLink.reset();
    paxSize = -1;
    paxMtimeGiven = false;
    sparseName.reset();
    sparseSize = -1;
    sparse = false;
    const unsigned mode = static_cast<unsigned>(number(header + 100, 8)) & 0777;
    const bool carriesData = type == '0' || type == '\0' || type == '7';
    // Links, special files and folders carry no data; unknown types do.
    const bool dataFollows = !(type >= '1' && type <= '6');

    const std::optional<QList<QByteArray>> parts = partsOf(name);
    if (!parts || parts->isEmpty() || !s.chosen(*parts) || full) {
      if (!parts) problem(name, "Member name contains '..'", 0);
      if (dataFollows && !s.skip(size)) {
        problem("tar", "Unexpected end of archive", 0);
        break;
      }
      continue;
    }
    const QByteArray& last = parts->last();
    if (!inFlight.isEmpty() && (type == '1' || inFlight.contains(parts->join('/')))) {
      // A hard link's target, or a file of this name, may still be on its way.
      writers.drain();
      inFlight.clear();
    }

    if (type == '5') {
      const int folder = s.folder(*parts, parts->size(), true);
      if (folder < 0) {
        problem(name, "Cannot mkdir", errno);
      } else {
        // The owner may always write into it while it is unpacked: what
        // goes in, and later out, is theirs.
        unsigned recorded = mode;
        if ((recorded & 0500) != 0500) recorded |= 0700;  // one its owner could not enter: theirs
        ::fchmod(folder, recorded | 0700);
        struct stat st{};
        if (recorded != (recorded | 0700) && ::fstat(folder, &st) == 0) folderModes_.insert(st.st_ino, recorded);
        s.folders.push_back({*parts, mtime});
      }
      continue;
    }

    const int parent = s.folder(*parts, parts->size() - 1, true);
    if (parent < 0) {
      problem(name, "Cannot open", errno);
      if (dataFollows && !s.skip(size)) break;
      continue;
    }
    // Whatever stands at the name goes first (a member unpacked twice).
    auto makeFresh = [&](const std::function<int()>& make) {
      if (make() == 0) return 0;
      if (errno != EEXIST) return errno;
      if (::unlinkat(parent, last.constData(), 0) != 0) return errno == EISDIR ? EEXIST : errno;
      return make() == 0 ? 0 : errno;
    };

    if (carriesData) {
      // Left out while it matches the file standing at its place; made,
      // with what matched so far, once it differs.
      UniqueFd standing = sparseMember ? UniqueFd() : s.standingFile(*parts, size, mode, mtime);
      qint64 matched = 0;
      UniqueFd out;
      const auto open = [&] {
        const int error = makeFresh([&] {
          out.reset(::openat(parent, last.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
          return out ? 0 : -1;
        });
        if (error) problem(name, "Cannot open", error);
        return error;
      };
      if (!standing && !sparseMember && size <= kHandedOver) {
        NewFile file{s.holder(parts->size() - 1), parent, last, name, {}, mode, mtime};
        file.data = s.whole(size, &ok);
        if (!ok) {
          problem("tar", "Unexpected end of archive", 0);
          break;
        }
        inFlight.insert(parts->join('/'));
        const auto folder = reinterpret_cast<quintptr>(file.holder.get());
        writers.submit(std::move(file), folder);
        continue;
      }
      if (!standing) open();
      // A sparse member's data: the map of its regions, then the regions.
      std::vector<std::pair<qint64, qint64>> regions;
      qsizetype region = 0;
      qint64 regionDone = 0;
      QByteArray map;
      bool mapRead = !sparseMember;
      qint64 mapLines = -1;
      int writeError = 0;
      ok = s.data(size, [&](const char* piece, qsizetype length) {
        if (standing) {
          if (readFully(standing.get(), s.compared.get(), length) == length &&
              std::memcmp(s.compared.get(), piece, static_cast<size_t>(length)) == 0) {
            matched += length;
            return true;
          }
          if (open() == 0) writeError = copyStart(standing.get(), out.get(), matched);
          standing.reset();
          if (writeError) return false;
        }
        if (!out) return false;
        while (length > 0) {
          if (!mapRead) {
            // Map lines are decimal numbers; the map is padded to a block.
            const qsizetype take = std::min<qsizetype>(length, kBlock - map.size() % kBlock);
            map.append(piece, take);
            piece += take;
            length -= take;
            if (map.size() % kBlock != 0) continue;
            const QList<QByteArray> lines = map.split('\n');
            if (mapLines < 0 && lines.size() > 1) mapLines = lines[0].toLongLong();
            if (mapLines >= 0 && lines.size() > 2 * mapLines + 1) {
              for (qint64 i = 0; i < mapLines; ++i)
                regions.emplace_back(lines[1 + 2 * i].toLongLong(), lines[2 + 2 * i].toLongLong());
              mapRead = true;
            }
            continue;
          }
          qint64 offset = 0, room = length;
          if (sparseMember) {
            while (region < static_cast<qsizetype>(regions.size()) && regionDone == regions[region].second) {
              ++region;
              regionDone = 0;
            }
            if (region >= static_cast<qsizetype>(regions.size())) return true;  // more data than the map says
            offset = regions[region].first + regionDone;
            room = std::min<qint64>(length, regions[region].second - regionDone);
          }
          const ssize_t n = sparseMember ? ::pwrite(out.get(), piece, static_cast<size_t>(room), offset)
                                         : ::write(out.get(), piece, static_cast<size_t>(room));
          if (n < 0 && errno == EINTR) continue;
          if (n <= 0) {
            writeError = n < 0 ? errno : EIO;
            return false;
          }
          piece += n;
          length -= n;
          regionDone += n;
        }
        return true;
      });
      if (!ok) {
        problem("tar", "Unexpected end of archive", 0);
        break;
      }
      if (standing) {
        // Every byte matched: what stands is the member (one unpacked
        // before under the same name gives way to it).
        ::unlinkat(parent, last.constData(), 0);
        ++kept_;
        s.keptNames.insert(parts->join('/'));
        continue;
      }
      if (out) {
        if (!writeError && sparseMember && ::ftruncate(out.get(), realSize) != 0) writeError = errno;
        if (writeError) {
          problem(name, "Cannot write", writeError);
          ::unlinkat(parent, last.constData(), 0);
          continue;
        }
        if ((mode & ~s.umask) != mode) ::fchmod(out.get(), mode);
        const struct timespec times[2] = {{0, UTIME_OMIT}, mtime};
        ::futimens(out.get(), times);
        if (out.close() != 0) {
          problem(name, "Cannot write", errno);
          ::unlinkat(parent, last.constData(), 0);
        }
      }
      continue;
    }

    // Members without data.
    int error = 0;
    if (type == '1') {
      const std::optional<QList<QByteArray>> target = partsOf(link);
      if (!target || target->isEmpty()) {
        problem(name, "Cannot hard link: the target leaves the archive", 0);
        continue;
      }
      // The target's folder, opened on its own (the chain stays this member's).
      UniqueFd targetFolder(::openat(s.into, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      for (qsizetype i = 0; i + 1 < target->size() && targetFolder; ++i)
        targetFolder.reset(::openat(targetFolder.get(), (*target)[i].constData(),
                                    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!targetFolder) {
        problem(name, "Cannot hard link", errno);
        continue;
      }
      const auto link = [&] {
        return ::linkat(targetFolder.get(), target->last().constData(), parent, last.constData(), 0);
      };
      error = makeFresh(link);
      // Its target was left out as it stands: made after all, for the link.
      if (error == ENOENT && s.keptNames.remove(target->join('/'))) {
        --kept_;
        error = s.makeFromStanding(*target, targetFolder.get());
        if (!error) error = makeFresh(link);
      }
    } else if (type == '2') {
      error = makeFresh([&] { return ::symlinkat(link.constData(), parent, last.constData()); });
    } else if (type == '6') {
      error = makeFresh([&] { return ::mkfifoat(parent, last.constData(), mode); });
    } else if (type == '3' || type == '4') {
      const dev_t device = makedev(static_cast<unsigned>(number(header + 329, 8)),
                                   static_cast<unsigned>(number(header + 337, 8)));
      error = makeFresh([&] {
        return ::mknodat(parent, last.constData(), (type == '3' ? S_IFCHR : S_IFBLK) | mode, device);
      });
    } else {
      problem(name, "Unknown file type, not unpacked", 0);
      if (!s.skip(size)) break;
      continue;
    }
    if (error) problem(name, type == '1' ? "Cannot hard link" : "Cannot create", error);
  }

  // The rest of the stream is read, so the writer is never cut off.
  while (!s.ended) {
    s.at = s.filled = 0;
    s.have(kBuffer);
  }
  if (s.readFailed) problem("tar", "Read error", 0);
  writers.drain();

  // Folders get their times once nothing more goes into them.
  for (auto it = s.folders.rbegin(); it != s.folders.rend(); ++it) {
    const int folder = s.folder(it->parts, it->parts.size(), false);
    const struct timespec times[2] = {{0, UTIME_OMIT}, it->mtime};
    if (folder >= 0) ::futimens(folder, times);
  }
  s.chain.clear();
  for (qsizetype i = 0; i < s.wanted.size(); ++i) {
    if (!s.found[static_cast<std::size_t>(i)]) problem(s.wanted[i].join('/'), "Not found in archive", 0);
  }
  return !failed;
}

}  // namespace tlr
