#include "platform/TarWriter.h"

#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tlr;
using tlr::test::readBytes;
using tlr::test::writeBytes;
using tlr::test::modeOf;

namespace {

// Adds the file at `path` as `name`; false when the writer failed.
bool addFile(TarWriter& tar, const QString& path, const QString& name, bool* changed = nullptr,
             const std::function<void(struct stat&)>& adjust = {}) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
  EXPECT_GE(fd, 0) << path.toStdString();
  struct stat st{};
  ::fstat(fd, &st);
  if (adjust) adjust(st);
  TarWriter::FileRead read;
  const bool ok = tar.addFile(QFile::encodeName(name), fd, st, &read);
  if (changed) *changed = read.changed;
  ::close(fd);
  return ok;
}

// Runs GNU tar with `arguments`; its exit code, its error output in `err`.
int gnuTar(const QStringList& arguments, QByteArray* err = nullptr, QByteArray* out = nullptr) {
  const tlr::test::ProgramRun tar = tlr::test::runProgram("/usr/bin/tar", arguments);
  EXPECT_TRUE(tar.failure.isEmpty()) << tar.failure.toStdString();
  if (err) *err = tar.err;
  if (out) *out = tar.out;
  return tar.exitCode;
}

}  // namespace

TEST(TarWriter, GnuTarReadsEveryNameModeTimeAndContent) {
  QTemporaryDir dir;
  const QString src = dir.path() + "/src";
  const QString deep150 = QString("d").repeated(60) + "/" + QString("e").repeated(60) + "/file-of-a-long-path.json";
  const QString deep300 = QString("f").repeated(120) + "/" + QString("g").repeated(120) + "/h/" +
                          QString("i").repeated(50) + ".md";
  writeBytes(src + "/a.json", "{\"a\":1}");
  writeBytes(src + "/empty", "");
  writeBytes(src + "/笔记.md", "notes");
  writeBytes(src + "/" + deep150, "150");
  writeBytes(src + "/" + deep300, "300");
  QByteArray big(3 * 1024 * 1024 + 17, '\0');
  for (qsizetype i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 1000);
  writeBytes(src + "/big.bin", big);
  // 2 GB with 8 KB of data, 1 GB in, and a hole to its end: stored and put
  // back with its holes, so it takes as little room after as before.
  const QString sparse = deep300 + ".sparse";
  const qint64 sparseSize = 2LL << 30, dataAt = 1LL << 30;
  QByteArray sparseData(8192, 'x');
  {
    const int out = ::open(QFile::encodeName(src + "/" + sparse).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(out, 0);
    ASSERT_EQ(::pwrite(out, sparseData.constData(), sparseData.size(), dataAt), sparseData.size());
    ASSERT_EQ(::ftruncate(out, sparseSize), 0);
    ::close(out);
  }
  ::chmod(QFile::encodeName(src + "/a.json").constData(), 0640);
  ::chmod(QFile::encodeName(src + "/empty").constData(), 04755);
  const qint64 then = QDateTime::fromString("2001-02-03T04:05:06Z", Qt::ISODate).toSecsSinceEpoch();

  const QString archive = dir.path() + "/a.tar";
  const int fd = ::open(QFile::encodeName(archive).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  {
    TarWriter tar(fd);
    ASSERT_TRUE(tar.addFolder("top", 0750, then));
    for (const QString& name : {QString("a.json"), QString("empty"), QString("笔记.md"), deep150, deep300,
                                QString("big.bin"), sparse}) {
      ASSERT_TRUE(addFile(tar, src + "/" + name, "top/" + name, nullptr, [&](struct stat& st) {
        st.st_mtim.tv_sec = then;
      })) << name.toStdString();
    }
    ASSERT_TRUE(tar.finish());
    EXPECT_TRUE(tar.error().isEmpty());
  }
  ::close(fd);
  EXPECT_EQ(QFileInfo(archive).size() % 10240, 0) << "whole records, as tar writes them";
  EXPECT_LT(QFileInfo(archive).size(), 8 << 20) << "the holes are not in the archive";

  const QString into = dir.path() + "/into";
  QDir().mkpath(into);
  QByteArray err;
  ASSERT_EQ(gnuTar({"-xpf", archive, "-C", into}, &err), 0) << err.toStdString();
  EXPECT_TRUE(err.isEmpty()) << err.toStdString();
  EXPECT_EQ(readBytes(into + "/top/a.json"), "{\"a\":1}");
  EXPECT_EQ(readBytes(into + "/top/empty"), "");
  EXPECT_EQ(readBytes(into + "/top/笔记.md"), "notes");
  EXPECT_EQ(readBytes(into + "/top/" + deep150), "150") << "a name split into prefix and name";
  EXPECT_EQ(readBytes(into + "/top/" + deep300), "300") << "a name only a pax record holds";
  EXPECT_EQ(readBytes(into + "/top/big.bin"), big);
  {
    const QByteArray path = QFile::encodeName(into + "/top/" + sparse);
    struct stat st{};
    ASSERT_EQ(::stat(path.constData(), &st), 0);
    EXPECT_EQ(st.st_size, sparseSize);
    EXPECT_LT(st.st_blocks * 512, 1 << 20) << "came back with its holes";
    const int in = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    QByteArray read(sparseData.size() + 2, '?');
    EXPECT_EQ(::pread(in, read.data(), read.size(), dataAt - 1), read.size());
    ::close(in);
    EXPECT_EQ(read, '\0' + sparseData + '\0');
  }
  EXPECT_EQ(modeOf(into + "/top/a.json"), 0640u);
  EXPECT_EQ(modeOf(into + "/top/empty"), 0755u) << "never a set-id bit";
  EXPECT_EQ(modeOf(into + "/top"), 0750u);
  EXPECT_EQ(QFileInfo(into + "/top/big.bin").lastModified().toSecsSinceEpoch(), then);
}

TEST(TarWriter, AFileThatChangesWhileItIsReadKeepsTheSizeItHadAndIsNamed) {
  QTemporaryDir dir;
  const QString grows = dir.path() + "/grows", shrinks = dir.path() + "/shrinks", steady = dir.path() + "/steady";
  writeBytes(grows, QByteArray(1000, 'g'));
  writeBytes(shrinks, QByteArray(1000, 's'));
  writeBytes(steady, QByteArray(1000, 'k'));
  const QString archive = dir.path() + "/a.tar";
  const int fd = ::open(QFile::encodeName(archive).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  bool grew = false, shrank = false, kept = false, rewritten = false;
  {
    TarWriter tar(fd);
    // Each file changes between its status and its reading.
    ASSERT_TRUE(addFile(tar, grows, "grows", &grew, [&](struct stat&) { writeBytes(grows, QByteArray(1500, 'g')); }));
    ASSERT_TRUE(addFile(tar, shrinks, "shrinks", &shrank, [&](struct stat&) { writeBytes(shrinks, "s"); }));
    ASSERT_TRUE(addFile(tar, steady, "steady", &kept));
    // Written in place at the same size: its time is not the one looked at.
    ASSERT_TRUE(addFile(tar, steady, "rewritten", &rewritten, [](struct stat& st) { st.st_mtim.tv_sec -= 10; }));
    ASSERT_TRUE(tar.finish());
  }
  ::close(fd);
  EXPECT_TRUE(grew);
  EXPECT_TRUE(shrank);
  EXPECT_FALSE(kept);
  EXPECT_TRUE(rewritten);
  const QString into = dir.path() + "/into";
  QDir().mkpath(into);
  QByteArray err;
  ASSERT_EQ(gnuTar({"-xf", archive, "-C", into}, &err), 0) << err.toStdString();
  EXPECT_EQ(readBytes(into + "/grows"), QByteArray(1000, 'g'));
  EXPECT_EQ(readBytes(into + "/shrinks"), "s" + QByteArray(999, '\0')) << "padded: the stream stays whole";
  EXPECT_EQ(readBytes(into + "/steady"), QByteArray(1000, 'k'));
}

TEST(TarWriter, AReaderThatWentAwayEndsTheStream) {
  // The broken pipe comes back as an error on this thread.
  sigset_t pipeSignal, old;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &old);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  QTemporaryDir dir;
  writeBytes(dir.path() + "/f", QByteArray(2 << 20, 'x'));
  {
    TarWriter tar(fds[1]);
    EXPECT_FALSE(addFile(tar, dir.path() + "/f", "f"));
    EXPECT_FALSE(tar.error().isEmpty());
    EXPECT_FALSE(tar.addFolder("later", 0700, 0)) << "every later call fails too";
    EXPECT_FALSE(tar.finish());
  }
  ::close(fds[1]);
  struct timespec none{};
  ::sigtimedwait(&pipeSignal, nullptr, &none);  // the pending SIGPIPE, if any
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
}
