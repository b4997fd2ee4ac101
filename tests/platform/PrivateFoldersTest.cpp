#include "platform/FileOps.h"
#include "platform/Paths.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace tlr {
namespace {

// A folder anyone may write to, as /tmp is, named by XDG_RUNTIME_DIR (as a
// careless session sets it) for the life of the object.
class SharedRuntimeFolder {
 public:
  explicit SharedRuntimeFolder(const QString& path) : path_(path), saved_(qgetenv("XDG_RUNTIME_DIR")) {
    QDir().mkpath(path);
    ::chmod(QFile::encodeName(path).constData(), 01777);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path));
  }
  ~SharedRuntimeFolder() {
    if (saved_.isNull())
      qunsetenv("XDG_RUNTIME_DIR");
    else
      qputenv("XDG_RUNTIME_DIR", saved_);
  }
  QString ours() const { return path_ + "/Tollamere"; }

 private:
  QString path_;
  QByteArray saved_;
};

// Another user, for a folder made theirs (root only can give it away).
constexpr uid_t kOtherUser = 65534;

}  // namespace

// With XDG_RUNTIME_DIR=/tmp, another user's /tmp/Tollamere held the setup
// sentinel (which that user could forge), the backup image's mount point and
// its owner record. A private folder that is not ours alone is never used:
// the folder is made in a private place of ours instead, and the log says so
// once.
TEST(PrivateFolders, APlaceThatIsNotOursAloneIsNeverUsed) {
  test::TempHome home;
  const SharedRuntimeFolder shared(home.path() + "/tmp");
  const QString appFolder = home.path() + "/.local/share/Tollamere";

  // Free, the place is ours: made 0700.
  EXPECT_EQ(Paths::runtimeFolder(), shared.ours());
  EXPECT_EQ(test::modeOf(shared.ours()), 0700u);
  EXPECT_EQ(Paths::volumesRoot(), shared.ours() + "/Volumes");

  // A link put there, even to a folder of ours: another user could have
  // chosen where it leads.
  ASSERT_TRUE(QDir(shared.ours()).removeRecursively());
  const QString elsewhere = home.path() + "/elsewhere";
  ASSERT_TRUE(QDir().mkpath(elsewhere));
  ASSERT_TRUE(QFile::link(elsewhere, shared.ours()));
  QString runtime;
  const QByteArray said = test::capture(STDOUT_FILENO, [&] { runtime = Paths::runtimeFolder(); });
  EXPECT_EQ(runtime, appFolder);
  EXPECT_TRUE(said.startsWith("[Files] " + QFile::encodeName(shared.ours()))) << said.constData();
  EXPECT_TRUE(said.contains(QFile::encodeName(appFolder))) << said.constData();
  EXPECT_EQ(test::capture(STDOUT_FILENO, [&] { runtime = Paths::runtimeFolder(); }), "") << "said once";
  EXPECT_EQ(Paths::volumesRoot(), appFolder + "/Volumes");
  EXPECT_TRUE(QDir(elsewhere).isEmpty());
  ASSERT_TRUE(QFile::remove(shared.ours()));

  // Another user's folder, open to all.
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a folder to another user";
  ASSERT_TRUE(QDir().mkpath(shared.ours()));
  ASSERT_EQ(::chown(QFile::encodeName(shared.ours()).constData(), kOtherUser, kOtherUser), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(shared.ours()).constData(), 0777), 0);
  EXPECT_EQ(Paths::runtimeFolder(), appFolder);
  EXPECT_EQ(test::modeOf(shared.ours()), 0777u) << "another user's folder is not ours to change";
  EXPECT_TRUE(QDir(shared.ours()).isEmpty());
  EXPECT_FALSE(FileOps::makeOwnFolder(shared.ours()));

  // The same for every private folder: the application folder, say, under a
  // shared XDG_DATA_HOME.
  qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + "/tmp"));
  EXPECT_EQ(Paths::appSupport(), home.path() + "/.tollamere/data");
  EXPECT_EQ(test::modeOf(home.path() + "/.tollamere"), 0700u);
  EXPECT_EQ(test::modeOf(home.path() + "/.tollamere/data"), 0700u);
  EXPECT_EQ(Paths::runtimeFolder(), home.path() + "/.tollamere/data");
}

}  // namespace tlr
