#include "platform/TarArchive.h"

#include "platform/Crypto.h"
#include "platform/FileOps.h"
#include "platform/TarWriter.h"
#include "platform/UniqueFd.h"
#include "support/RawTar.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tlr;

namespace {

using tlr::test::writeBytes;
using tlr::test::readBytes;
using tlr::test::readThroughFolders;

// Stores the folder `folder` and everything below it as `prefix`.
bool addTree(TarWriter& tar, const QString& folder, const QString& prefix) {
  if (!tar.addFolder(QFile::encodeName(prefix), 0700, 0)) return false;
  QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString item = it.next();
    const QString name = prefix + item.mid(folder.size());
    const int fd = ::open(QFile::encodeName(item).constData(), O_RDONLY | O_CLOEXEC);
    struct stat st{};
    ::fstat(fd, &st);
    const bool ok = S_ISDIR(st.st_mode) ? tar.addFolder(QFile::encodeName(name), st.st_mode, st.st_mtim.tv_sec)
                                        : tar.addFile(QFile::encodeName(name), fd, st, nullptr);
    ::close(fd);
    if (!ok) return false;
  }
  return true;
}

// Packs `folder` as `prefix` into the file `archive`.
TarArchive::Result packTree(const QString& folder, const QString& prefix, const QString& archive) {
  QFile out(archive);
  EXPECT_TRUE(out.open(QIODevice::WriteOnly));
  return TarArchive::pack([&](TarWriter& tar) { return addTree(tar, folder, prefix); },
                          [&](QByteArrayView piece) { return out.write(piece.data(), piece.size()) == piece.size(); });
}

// Packs a small tree and checks that plain `tar -xzf` reads the archive.
void packAndCheckStandard(const QString& base) {
  writeBytes(base + "/src/agent/a.json", "{\"a\":1}");
  writeBytes(base + "/src/agent/deep/b.bin", QByteArray(300000, 'x'));
  const QString archive = base + "/a.tar.gz";
  const auto packed = packTree(base + "/src", ".stage", archive);
  ASSERT_TRUE(packed.ok()) << packed.errorOutput.toStdString() << packed.startError.toStdString();

  QDir().mkpath(base + "/plain");
  const test::ProgramRun plain = test::runProgram("/usr/bin/tar", {"-xzf", archive, "-C", base + "/plain"});
  EXPECT_EQ(plain.exitCode, 0) << plain.failure.toStdString() << plain.err.toStdString();
  EXPECT_EQ(readBytes(base + "/plain/.stage/agent/a.json"), "{\"a\":1}");
  EXPECT_EQ(readBytes(base + "/plain/.stage/agent/deep/b.bin").size(), 300000);

  // What GNU tar itself packed (earlier snapshots), long names in its own
  // headers, unpacks here too.
  const QString longName = QString("n").repeated(150) + ".json";
  writeBytes(base + "/src/agent/" + longName, "long");
  const test::ProgramRun gnu =
      test::runProgram("/usr/bin/tar", {"--format=gnu", "-czf", base + "/gnu.tar.gz", "-C", base + "/src", "agent"});
  ASSERT_EQ(gnu.exitCode, 0) << gnu.failure.toStdString() << gnu.err.toStdString();
  QDir().mkpath(base + "/ours");
  const auto unpacked = TarArchive::extract(base + "/gnu.tar.gz", base + "/ours", {"agent/deep"});
  ASSERT_TRUE(unpacked.ok()) << unpacked.errorOutput.toStdString();
  EXPECT_EQ(readBytes(base + "/ours/agent/deep/b.bin").size(), 300000);
  EXPECT_FALSE(QFileInfo::exists(base + "/ours/agent/" + longName)) << "only the member asked for";
  ASSERT_TRUE(TarArchive::extract(base + "/gnu.tar.gz", base + "/ours").ok());
  EXPECT_EQ(readBytes(base + "/ours/agent/" + longName), "long");
}

QByteArray randomBytes(qsizetype size) {
  QByteArray bytes(size, '\0');
  QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
  return bytes;
}

}  // namespace

TEST(TarArchive, PacksAStandardGzipArchiveWithAndWithoutParallelGzip) {
  QTemporaryDir dir;
  if (!TarArchive::parallelGzip().isEmpty()) {
    SCOPED_TRACE("with pigz");
    QDir().mkpath(dir.path() + "/pigz");
    packAndCheckStandard(dir.path() + "/pigz");
  }
  // Without pigz on PATH gzip is used.
  QDir().mkpath(dir.path() + "/bin");
  ASSERT_TRUE(QFile::link("/usr/bin/gzip", dir.path() + "/bin/gzip"));
  const QByteArray oldPath = qgetenv("PATH");
  qputenv("PATH", QFile::encodeName(dir.path() + "/bin"));
  EXPECT_TRUE(TarArchive::parallelGzip().isEmpty());
  QDir().mkpath(dir.path() + "/plain-gzip");
  packAndCheckStandard(dir.path() + "/plain-gzip");
  qputenv("PATH", oldPath);
}

TEST(TarArchive, ASinkThatGivesUpStopsThePackingWithoutAHang) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/src/big", randomBytes(16 << 20));
  int pieces = 0;
  const auto packed = TarArchive::pack([&](TarWriter& tar) { return addTree(tar, dir.path() + "/src", "s"); },
                                       [&](QByteArrayView) { return ++pieces < 2; });
  EXPECT_FALSE(packed.ok());
  EXPECT_FALSE(packed.streamed);
  EXPECT_EQ(pieces, 2);

  // A producer that stops early: the archive is not whole.
  const auto stopped = TarArchive::pack([](TarWriter& tar) { return tar.addFolder("x", 0700, 0) && false; },
                                        [](QByteArrayView) { return true; });
  EXPECT_TRUE(stopped.started);
  EXPECT_FALSE(stopped.ok());
}

TEST(TarArchive, ExtractsChosenMembersWithTheirModesButNotTheirOwner) {
  QTemporaryDir dir;
  QByteArray longPath;
  for (int i = 0; i < 25; ++i) longPath += QByteArray(199, 'a' + i % 26) + '/';
  longPath += "deep.json";
  ASSERT_GT(longPath.size(), 5000);
  writeBytes(dir.path() + "/f", "1");
  const QString archive = dir.path() + "/a.tar.gz";
  QFile out(archive);
  ASSERT_TRUE(out.open(QIODevice::WriteOnly));
  const auto packed = TarArchive::pack(
      [&](TarWriter& tar) {
        const int fd = ::open(QFile::encodeName(dir.path() + "/f").constData(), O_RDONLY | O_CLOEXEC);
        struct stat st{};
        ::fstat(fd, &st);
        st.st_uid = 12345;
        st.st_gid = 12345;
        st.st_mode = S_IFREG | 0751;
        st.st_mtim = {1700000000, 987654321};
        bool ok = tar.addFolder(".stage/one", 0700, 0) && tar.addFile(".stage/one/f", fd, st, nullptr);
        // A second name, a folder its owner may not write (empty), and a
        // path longer than the system takes whole.
        ok = ok && tar.addHardLink(".stage/one/f-again", ".stage/one/f", st) &&
             tar.addFolder(".stage/one/read-only", 0555, 1600000000, 5);
        ::lseek(fd, 0, SEEK_SET);
        ok = ok && tar.addFile(".stage/one/" + longPath, fd, st, nullptr);
        ::lseek(fd, 0, SEEK_SET);
        ok = ok && tar.addFile(".stage/two/g", fd, st, nullptr);
        ::close(fd);
        return ok;
      },
      [&](QByteArrayView piece) { return out.write(piece.data(), piece.size()) == piece.size(); });
  out.close();
  ASSERT_TRUE(packed.ok());

  const QString into = dir.path() + "/into";
  QDir().mkpath(into);
  const auto result = TarArchive::extract(archive, into, {".stage/one"});
  ASSERT_TRUE(result.ok()) << result.errorOutput.toStdString();
  EXPECT_TRUE(QFileInfo::exists(into + "/.stage/one/f"));
  EXPECT_FALSE(QFileInfo::exists(into + "/.stage/two")) << "only the chosen member is unpacked";
  struct stat st;
  ASSERT_EQ(::stat(QFile::encodeName(into + "/.stage/one/f").constData(), &st), 0);
  EXPECT_EQ(st.st_uid, ::geteuid()) << "ownership is never taken from the archive";
  EXPECT_EQ(st.st_mode & 07777, 0751u) << "the archive's permission bits, whatever the umask";
  EXPECT_EQ(st.st_mtim.tv_sec, 1700000000);
  EXPECT_EQ(st.st_mtim.tv_nsec, 987654321);
  struct stat again{}, readOnly{};
  ::stat(QFile::encodeName(into + "/.stage/one/f-again").constData(), &again);
  EXPECT_EQ(again.st_ino, st.st_ino) << "a link, not a copy";
  ASSERT_EQ(::stat(QFile::encodeName(into + "/.stage/one/read-only").constData(), &readOnly), 0);
  EXPECT_EQ(readOnly.st_mode & 0777, 0755u) << "writable for its owner while unpacked";
  EXPECT_EQ(result.folderModes.value(readOnly.st_ino), 0555u) << "its recorded mode told";
  EXPECT_EQ(readOnly.st_mtim.tv_sec, 1600000000);
  EXPECT_EQ(readThroughFolders(into, ".stage/one/" + longPath), "1");
  EXPECT_TRUE(FileOps::removeItem(dir.path()).ok()) << "a path too long to be removed by name";
}

// Members of every size a block boundary makes special, each followed by
// another, come back byte for byte; names that merely hold dots are names,
// and only a ".." component is refused.
// Writes `tar` to `archive` and unpacks it into the new folder `into`.
static TarArchive::Result extractRaw(const tlr::test::RawTar& tar, const QString& archive, const QString& into) {
  writeBytes(archive, tar.gzipped());
  QDir().mkpath(into);
  return TarArchive::extract(archive, into);
}

TEST(TarArchive, UnpacksEmptyAndWholeBlockMembersAndNamesWithDots) {
  QTemporaryDir dir;
  tlr::test::RawTar tar;
  const QList<QPair<QString, QByteArray>> files{
      {"a/empty", {}},
      {"a/one-block", QByteArray(512, 'b')},
      {"a/two-blocks", QByteArray(1024, 'c')},
      {"a/past-a-block", QByteArray(513, 'd')},
      {"a/..hidden", "dots"},
      {"a/.../x", "three"},
      {"a/b../..c/y", "inside"},
      {"a/also-empty", {}},
      {"a/last", "last"},
  };
  for (const auto& [name, content] : files) tar.file(name, content);
  tar.hardLink("a/..again", "a/..hidden");
  tar.file("a/../up", "refused");
  tar.file("a/after", "after");
  const QString archive = dir.path() + "/a.tar.gz", into = dir.path() + "/into";
  const auto result = extractRaw(tar, archive, into);
  EXPECT_FALSE(result.ok()) << "the \"..\" member fails the unpacking";
  EXPECT_TRUE(result.errorOutput.contains("a/../up: Member name contains '..'")) << result.errorOutput.toStdString();
  for (const auto& [name, content] : files) {
    EXPECT_TRUE(QFileInfo(into + "/" + name).isFile()) << name.toStdString();
    EXPECT_EQ(readBytes(into + "/" + name), content.isEmpty() ? QByteArray() : content) << name.toStdString();
  }
  EXPECT_EQ(readBytes(into + "/a/..again"), "dots");
  EXPECT_EQ(readBytes(into + "/a/after"), "after") << "the member after the refused one";
  EXPECT_FALSE(QFileInfo::exists(into + "/up"));
  EXPECT_FALSE(QFileInfo::exists(dir.path() + "/up"));
}

// Many small files in many folders are made by several writers at once:
// each comes back whole, a hard link to a file still being made finds it,
// a member of a name already unpacked replaces it, and a disk that fills
// up while the writers work says so.
TEST(TarArchive, ManySmallFilesComeBackWholeWhileSeveralAreMadeAtOnce) {
  QTemporaryDir dir;
  tlr::test::RawTar tar;
  const auto content = [](int folder, int file) {
    return QByteArray::number(folder) + "/" + QByteArray::number(file) + QByteArray(100 + file % 7 * 300, 'x');
  };
  for (int folder = 0; folder < 8; ++folder) {
    for (int file = 0; file < 300; ++file)
      tar.file(QStringLiteral("f%1/file%2").arg(folder).arg(file), content(folder, file), 0600 + file % 2 * 044);
  }
  tar.hardLink("z/link", "f7/file299");
  tar.file("z/again", "first");
  tar.hardLink("z/again", "f0/file0");
  const QString archive = dir.path() + "/a.tar.gz", into = dir.path() + "/into";
  const auto result = extractRaw(tar, archive, into);
  EXPECT_TRUE(result.ok()) << result.errorOutput.toStdString();
  int wrong = 0;
  for (int folder = 0; folder < 8; ++folder) {
    for (int file = 0; file < 300; ++file) {
      const QString path = into + QStringLiteral("/f%1/file%2").arg(folder).arg(file);
      if (readBytes(path) != content(folder, file) || tlr::test::modeOf(path) != 0600u + file % 2 * 044) ++wrong;
    }
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(readBytes(into + "/z/link"), content(7, 299));
  EXPECT_EQ(readBytes(into + "/z/again"), content(0, 0)) << "the later member wins";

  // A disk too small for them.
  const QString small = dir.path() + "/small";
  QDir().mkpath(small);
  if (::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=256k") != 0)
    GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
  const auto full = TarArchive::extract(archive, small);
  ::umount2(QFile::encodeName(small).constData(), MNT_DETACH);
  EXPECT_FALSE(full.ok());
  EXPECT_TRUE(full.diskFull) << full.errorOutput.left(300).toStdString();
}

TEST(TarArchive, EveryByteOfTheArchivePassesThroughOnReadOnceEvenWhenTarStopsEarly) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/src/x", randomBytes(4 << 20));
  const QString archive = dir.path() + "/a.tar.gz";
  ASSERT_TRUE(packTree(dir.path() + "/src", ".stage", archive).ok());
  QDir().mkpath(dir.path() + "/into");
  Crypto::Sha256 digest;
  qint64 size = 0;
  auto onRead = [&](QByteArrayView piece) {
    digest.update(piece);
    size += piece.size();
  };
  ASSERT_TRUE(TarArchive::extract(archive, dir.path() + "/into", {}, onRead).ok());
  EXPECT_EQ(size, QFileInfo(archive).size());
  EXPECT_EQ(digest.finish(), Crypto::sha256(readBytes(archive)));

  // Not gzip at all: tar stops at once, the whole file is still read.
  const QByteArray junk = randomBytes(6 << 20);
  writeBytes(dir.path() + "/bad.tar.gz", junk);
  Crypto::Sha256 junkDigest;
  size = 0;
  const auto result = TarArchive::extract(dir.path() + "/bad.tar.gz", dir.path() + "/into", {},
                                          [&](QByteArrayView piece) {
                                            junkDigest.update(piece);
                                            size += piece.size();
                                          });
  EXPECT_TRUE(result.started);
  EXPECT_NE(result.exitCode, 0);
  EXPECT_FALSE(result.errorOutput.isEmpty());
  EXPECT_TRUE(result.streamed);
  EXPECT_EQ(size, junk.size());
  EXPECT_EQ(junkDigest.finish(), Crypto::sha256(junk));
}

// gzip checks the data only at its end, after tar had every member: the
// unpacking still fails, with gzip's text.
TEST(TarArchive, AnArchiveWhoseGzipCheckFailsIsNotUnpackedWhole) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/src/x", randomBytes(1 << 20));
  const QString archive = dir.path() + "/a.tar.gz";
  ASSERT_TRUE(packTree(dir.path() + "/src", ".stage", archive).ok());
  QByteArray bytes = readBytes(archive);
  bytes[bytes.size() - 8] = static_cast<char>(bytes[bytes.size() - 8] ^ 0xff);  // the CRC-32
  writeBytes(archive, bytes);
  QDir().mkpath(dir.path() + "/into");
  const auto result = TarArchive::extract(archive, dir.path() + "/into");
  EXPECT_TRUE(result.started);
  EXPECT_NE(result.exitCode, 0);
  EXPECT_FALSE(result.ok());
  EXPECT_TRUE(result.errorOutput.contains("gz")) << result.errorOutput.toStdString();
}

TEST(TarArchive, AnArchiveThatIsNoPlainFileIsNeverRead) {
  QTemporaryDir dir;
  QDir().mkpath(dir.path() + "/into");
  ASSERT_EQ(::mkfifo(QFile::encodeName(dir.path() + "/fifo").constData(), 0600), 0);
  ASSERT_TRUE(QFile::link("/dev/zero", dir.path() + "/link"));
  for (const QString& name : {QString("fifo"), QString("link"), QString("missing")}) {
    const auto result = TarArchive::extract(dir.path() + "/" + name, dir.path() + "/into");
    EXPECT_FALSE(result.started) << name.toStdString();
    EXPECT_FALSE(result.ok());
    EXPECT_TRUE(result.startError.startsWith(dir.path() + "/" + name + ": ")) << result.startError.toStdString();
  }
}

TEST(TarArchive, ALargeErrorOutputIsDrainedAndReported) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/src/x", "x");
  const QString archive = dir.path() + "/a.tar.gz";
  ASSERT_TRUE(packTree(dir.path() + "/src", ".stage", archive).ok());
  // Thousands of members that are not in the archive: tar complains about
  // each, far more than a pipe holds.
  QStringList missing;
  for (int i = 0; i < 4000; ++i) missing << QStringLiteral(".stage/missing-member-with-a-long-name-%1").arg(i);
  QDir().mkpath(dir.path() + "/into");
  const auto result = TarArchive::extract(archive, dir.path() + "/into", missing);
  EXPECT_TRUE(result.started);
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_GT(result.errorOutput.size(), 65536);
  EXPECT_TRUE(result.errorOutput.contains("missing-member-with-a-long-name-3999"));
}

// A file standing at its place just as the archive holds it (content, bits,
// time to the nanosecond; this user's, one name, no link on the way) is left
// as it stands and not unpacked; any other is unpacked byte for byte, also
// one that differs only past the first mebibyte, and a hard link whose
// target was left out gets it after all.
TEST(TarArchive, FilesStandingAsTheArchiveHoldsThemAreLeftOut) {
  QTemporaryDir dir;
  const QString src = dir.path() + "/src", standing = dir.path() + "/standing";
  const QByteArray big = randomBytes(3 << 20);
  QByteArray bigChanged = big;
  bigChanged[(2 << 20) + 7] = static_cast<char>(bigChanged[(2 << 20) + 7] ^ 1);
  struct Case {
    const char* name;
    QByteArray content;
    // What stands at its place before the unpacking.
    std::function<void(const QString& path)> stand;
    bool kept;
  };
  // The time of the file `path` of what stands, set to the backed-up one's
  // and `nanoseconds` on.
  const auto sameTime = [&](const QString& path, long nanoseconds) {
    struct stat st{};
    ::stat(QFile::encodeName(src + path.mid(standing.size())).constData(), &st);
    st.st_mtim.tv_nsec = (st.st_mtim.tv_nsec + nanoseconds) % 1000000000L;
    const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
  };
  // Other content of the same size, at the same time.
  const auto copyOf = [&](const QByteArray& content) {
    return [&, content](const QString& path) {
      writeBytes(path, content);
      sameTime(path, 0);
    };
  };
  QList<Case> cases{
      {"same.json", "{\"a\":1}", {}, true},
      {"deep/empty", {}, {}, true},
      {"deep/big.bin", big, {}, true},
      {"missing", "gone", [](const QString& path) { QFile::remove(path); }, false},
      {"other-content", "abcd", copyOf("abce"), false},
      {"deep/big-changed-late.bin", big, copyOf(bigChanged), false},
      {"other-mode", "mode", [](const QString& path) { ::chmod(QFile::encodeName(path).constData(), 0600); }, false},
      {"other-time", "time",
       [&](const QString& path) { sameTime(path, 1); },
       false},
      {"two-names", "linked",
       [&](const QString& path) {
         ASSERT_EQ(::link(QFile::encodeName(path).constData(), QFile::encodeName(dir.path() + "/elsewhere").constData()), 0);
       },
       false},
      {"through-link/x", "under a link",
       [&](const QString& path) {
         const QString folder = QFileInfo(path).path();
         ASSERT_TRUE(QDir(folder).removeRecursively());
         QDir().mkpath(dir.path() + "/real");
         writeBytes(dir.path() + "/real/x", "under a link");
         ASSERT_TRUE(QFile::link(dir.path() + "/real", folder));
       },
       false},
      {"is-a-link", "link",
       [&](const QString& path) {
         QFile::remove(path);
         writeBytes(dir.path() + "/target", "link");
         ASSERT_TRUE(QFile::link(dir.path() + "/target", path));
       },
       false},
      {"link-target", "linked in the archive", {}, false},
  };
  // Another owner's (giving it away takes root).
  if (::geteuid() == 0)
    cases.append({"other-owner", "theirs", [](const QString& path) { ::lchown(QFile::encodeName(path).constData(), 65534, 65534); }, false});
  for (const Case& c : cases) writeBytes(src + "/" + c.name, c.content);
  ::chmod(QFile::encodeName(src + "/other-mode").constData(), 0640);
  const QString archive = dir.path() + "/a.tar.gz";
  {
    QFile out(archive);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    const auto packed = TarArchive::pack(
        [&](TarWriter& tar) {
          if (!addTree(tar, src, "top/agent")) return false;
          struct stat st{};
          ::stat(QFile::encodeName(src + "/link-target").constData(), &st);
          return tar.addHardLink("top/agent/second-name", "top/agent/link-target", st);
        },
        [&](QByteArrayView piece) { return out.write(piece.data(), piece.size()) == piece.size(); });
    ASSERT_TRUE(packed.ok());
  }
  // What stands: a copy with the same bits and times, then each case's change.
  const test::ProgramRun copy = test::runProgram("/bin/cp", {"-a", src, standing});
  ASSERT_EQ(copy.exitCode, 0) << copy.failure.toStdString() << copy.err.toStdString();
  for (const Case& c : cases) {
    if (c.stand) c.stand(standing + "/" + c.name);
  }
  const QString into = dir.path() + "/into";
  QDir().mkpath(into);
  const UniqueFd intoFd(::open(QFile::encodeName(into).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const auto unpacked = TarArchive::extractInto(archive, intoFd.get(), {}, {}, {{"top/agent", QFile::encodeName(standing)}});
  ASSERT_TRUE(unpacked.ok()) << unpacked.errorOutput.toStdString();
  qint64 kept = 0;
  for (const Case& c : cases) {
    const QString made = into + "/top/agent/" + c.name;
    EXPECT_EQ(QFileInfo::exists(made), !c.kept) << c.name;
    if (c.kept) ++kept;
    if (c.kept) continue;
    EXPECT_EQ(readBytes(made), c.content) << c.name;
    struct stat a{}, b{};
    ::stat(QFile::encodeName(made).constData(), &a);
    ::stat(QFile::encodeName(src + "/" + c.name).constData(), &b);
    EXPECT_EQ(a.st_mode, b.st_mode) << c.name;
    EXPECT_EQ(a.st_mtim.tv_sec, b.st_mtim.tv_sec) << c.name;
    EXPECT_EQ(a.st_mtim.tv_nsec, b.st_mtim.tv_nsec) << c.name;
  }
  EXPECT_EQ(unpacked.kept, kept);
  EXPECT_EQ(readBytes(into + "/top/agent/second-name"), "linked in the archive");
  struct stat first{}, second{};
  ::stat(QFile::encodeName(into + "/top/agent/link-target").constData(), &first);
  ::stat(QFile::encodeName(into + "/top/agent/second-name").constData(), &second);
  EXPECT_EQ(first.st_ino, second.st_ino) << "one file of two names";
  EXPECT_EQ(readBytes(standing + "/deep/big-changed-late.bin"), bigChanged) << "what stands is only read";
  EXPECT_EQ(readBytes(standing + "/other-content"), "abce");

  // Nothing stands at the place: everything is unpacked.
  const QString fresh = dir.path() + "/fresh";
  QDir().mkpath(fresh);
  const UniqueFd freshFd(::open(QFile::encodeName(fresh).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const auto whole = TarArchive::extractInto(archive, freshFd.get(), {}, {}, {{"top/agent", QFile::encodeName(dir.path() + "/nowhere")}});
  ASSERT_TRUE(whole.ok());
  EXPECT_EQ(whole.kept, 0);
  for (const Case& c : cases) EXPECT_EQ(readBytes(fresh + "/top/agent/" + c.name), c.content) << c.name;
}
