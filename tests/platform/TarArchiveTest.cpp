#include "platform/TarArchive.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace tlr;

namespace {

using tlr::test::writeBytes;
using tlr::test::readBytes;

// Packs a small tree and checks that plain `tar -xzf` reads the archive.
void packAndCheckStandard(const QString& base) {
  writeBytes(base + "/src/.stage/agent/a.json", "{\"a\":1}");
  writeBytes(base + "/src/.stage/agent/deep/b.bin", QByteArray(300000, 'x'));
  const QString archive = base + "/src/.stage.tar.gz";
  const auto packed = TarArchive::pack(base + "/src", ".stage", archive);
  ASSERT_TRUE(packed.ok()) << packed.errorOutput.toStdString() << packed.startError.toStdString();
  struct stat st;
  ASSERT_EQ(::stat(QFile::encodeName(archive).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "the archive is made under umask 077";

  QDir().mkpath(base + "/plain");
  QProcess tar;
  tar.start("/usr/bin/tar", {"-xzf", archive, "-C", base + "/plain"});
  ASSERT_TRUE(tar.waitForFinished(30000));
  EXPECT_EQ(tar.exitCode(), 0) << tar.readAllStandardError().toStdString();
  EXPECT_EQ(readBytes(base + "/plain/.stage/agent/a.json"), "{\"a\":1}");
  EXPECT_EQ(readBytes(base + "/plain/.stage/agent/deep/b.bin").size(), 300000);
}

}  // namespace

TEST(TarArchive, PacksAStandardGzipArchiveWithAndWithoutParallelGzip) {
  QTemporaryDir dir;
  if (!TarArchive::parallelGzip().isEmpty()) {
    SCOPED_TRACE("with pigz");
    QDir().mkpath(dir.path() + "/pigz");
    packAndCheckStandard(dir.path() + "/pigz");
  }
  // Without pigz on PATH tar's own gzip is used.
  QDir().mkpath(dir.path() + "/bin");
  ASSERT_TRUE(QFile::link("/usr/bin/gzip", dir.path() + "/bin/gzip"));
  const QByteArray oldPath = qgetenv("PATH");
  qputenv("PATH", QFile::encodeName(dir.path() + "/bin"));
  EXPECT_TRUE(TarArchive::parallelGzip().isEmpty());
  QDir().mkpath(dir.path() + "/plain-gzip");
  packAndCheckStandard(dir.path() + "/plain-gzip");
  qputenv("PATH", oldPath);
}

TEST(TarArchive, ExtractsChosenMembersWithTheirModesButNotTheirOwner) {
  QTemporaryDir dir;
  const QString src = dir.path() + "/src";
  writeBytes(src + "/.stage/one/f", "1");
  writeBytes(src + "/.stage/two/g", "2");
  QFile::setPermissions(src + "/.stage/one/f",
                        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::ExeOwner);
  ::chmod(QFile::encodeName(src + "/.stage/one/f").constData(), 04755);
  ::chown(QFile::encodeName(src + "/.stage/one/f").constData(), 12345, 12345);
  const QString archive = dir.path() + "/a.tar.gz";
  ASSERT_TRUE(TarArchive::pack(src, ".stage", archive).ok());

  const QString into = dir.path() + "/into";
  QDir().mkpath(into);
  const auto result = TarArchive::extract(archive, into, {".stage/one"});
  ASSERT_TRUE(result.ok()) << result.errorOutput.toStdString();
  EXPECT_TRUE(QFileInfo::exists(into + "/.stage/one/f"));
  EXPECT_FALSE(QFileInfo::exists(into + "/.stage/two")) << "only the chosen member is unpacked";
  struct stat st;
  ASSERT_EQ(::stat(QFile::encodeName(into + "/.stage/one/f").constData(), &st), 0);
  EXPECT_EQ(st.st_uid, ::geteuid()) << "ownership is never taken from the archive";
  EXPECT_EQ(st.st_mode & 07777, 0755u) << "the archive's permission bits, whatever the umask; the set-id bit "
                                          "of another owner's file is not kept";
}

TEST(TarArchive, AFileWithTwoNamesIsStoredWholeUnderEach) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/src/.stage/a/f", "content");
  QDir().mkpath(dir.path() + "/src/.stage/b");
  ASSERT_EQ(::link(QFile::encodeName(dir.path() + "/src/.stage/a/f").constData(),
                   QFile::encodeName(dir.path() + "/src/.stage/b/f").constData()),
            0);
  const QString archive = dir.path() + "/a.tar.gz";
  ASSERT_TRUE(TarArchive::pack(dir.path() + "/src", ".stage", archive).ok());
  // Unpacking only the second name gives the whole file.
  QDir().mkpath(dir.path() + "/into");
  const auto result = TarArchive::extract(archive, dir.path() + "/into", {".stage/b"});
  ASSERT_TRUE(result.ok()) << result.errorOutput.toStdString();
  EXPECT_EQ(readBytes(dir.path() + "/into/.stage/b/f"), "content");
}

TEST(TarArchive, ALargeErrorOutputIsDrainedAndReported) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/src/.stage/x", "x");
  const QString archive = dir.path() + "/a.tar.gz";
  ASSERT_TRUE(TarArchive::pack(dir.path() + "/src", ".stage", archive).ok());
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

TEST(TarArchive, ADamagedArchiveFailsWithTarsText) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/bad.tar.gz", "this is not gzip data at all");
  QDir().mkpath(dir.path() + "/into");
  const auto result = TarArchive::extract(dir.path() + "/bad.tar.gz", dir.path() + "/into");
  EXPECT_TRUE(result.started);
  EXPECT_NE(result.exitCode, 0);
  EXPECT_FALSE(result.errorOutput.isEmpty());
}
