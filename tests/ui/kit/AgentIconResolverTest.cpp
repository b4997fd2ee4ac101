#include "ui/kit/AgentIconResolver.h"

#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

namespace tlr {
namespace {

// Desktop entries in a temporary XDG data folder, resource images in a
// temporary bundle.
class AgentIconResolverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oldDataDirs_ = qgetenv("XDG_DATA_DIRS");
    qputenv("XDG_DATA_DIRS", QFile::encodeName(home.path() + "/no-system-share"));
    program = home.path() + "/bin/tlr-icon-prog";
    QDir().mkpath(home.path() + "/bin");
    QFile::copy("/bin/true", program);
    QDir().mkpath(home.path() + "/bundle/icons");
  }
  void TearDown() override {
    if (oldDataDirs_.isNull())
      qunsetenv("XDG_DATA_DIRS");
    else
      qputenv("XDG_DATA_DIRS", oldDataDirs_);
  }
  // A solid square PNG at `path`.
  static void writePng(const QString& path, int side, QColor color) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage image(side, side, QImage::Format_ARGB32);
    image.fill(color);
    ASSERT_TRUE(image.save(path, "PNG"));
  }
  // An installed application whose icon is a PNG of `color`.
  void installApp(const QString& id, QColor color) {
    const QString png = home.path() + "/art/" + id + ".png";
    writePng(png, 64, color);
    home.writeFile(".local/share/applications/" + id + ".desktop",
                   ("[Desktop Entry]\nExec=" + program + "\nIcon=" + png + "\n").toUtf8());
  }
  ResourceBundle bundle() const { return ResourceBundle(home.path() + "/bundle"); }
  static QColor colorOf(const AgentIconResolver::Resolved& r) { return r.image.toImage().pixelColor(10, 10); }

  test::TempHome home;
  QString program;

 private:
  QByteArray oldDataDirs_;
};

AgentEntry entryWith(std::optional<QStringList> bundleIds, std::optional<QString> iconBundleId = std::nullopt) {
  AgentEntry e;
  e.id = "agent";
  e.displayName = "Agent";
  e.identify.bundleIds = std::move(bundleIds);
  e.iconBundleId = std::move(iconBundleId);
  return e;
}

TEST_F(AgentIconResolverTest, TheFirstInstalledApplicationGivesItsIconScaledTo256) {
  installApp("com.tlr.Second", Qt::red);
  installApp("com.tlr.Other", Qt::blue);
  const auto r = AgentIconResolver::resolve(entryWith(QStringList{"com.tlr.First", "com.tlr.Second"}, "com.tlr.Other"),
                                            "agent", bundle());
  ASSERT_TRUE(r.has_value());
  EXPECT_TRUE(r->isAppIcon);
  EXPECT_EQ(r->image.size(), QSize(256, 256));
  EXPECT_EQ(colorOf(*r), QColor(Qt::red));

  // With none of its own installed, the application named for the icon.
  const auto other = AgentIconResolver::resolve(entryWith(QStringList{"com.tlr.First"}, "com.tlr.Other"), "agent",
                                                bundle());
  ASSERT_TRUE(other.has_value());
  EXPECT_TRUE(other->isAppIcon);
  EXPECT_EQ(colorOf(*other), QColor(Qt::blue));
}

TEST_F(AgentIconResolverTest, UnusableApplicationsPassOnToTheResourceImage) {
  writePng(home.path() + "/bundle/icons/fallback.png", 40, Qt::green);
  const QString png = home.path() + "/art/x.png";
  writePng(png, 64, Qt::red);
  home.writeFile(".local/share/applications/com.tlr.Hidden.desktop",
                 ("[Desktop Entry]\nExec=" + program + "\nIcon=" + png + "\nHidden=true\n").toUtf8());
  home.writeFile(".local/share/applications/com.tlr.NoExe.desktop",
                 ("[Desktop Entry]\nExec=/nonexistent/tlr\nIcon=" + png + "\n").toUtf8());
  home.writeFile(".local/share/applications/com.tlr.NoIcon.desktop",
                 ("[Desktop Entry]\nExec=" + program + "\n").toUtf8());
  home.writeFile(".local/share/applications/com.tlr.UnknownTheme.desktop",
                 ("[Desktop Entry]\nExec=" + program + "\nIcon=tlr-unknown-theme-icon\n").toUtf8());
  home.writeFile(".local/share/applications/com.tlr.Broken.desktop",
                 ("[Desktop Entry]\nExec=" + program + "\nIcon=" + home.path() + "/art/broken.png\n").toUtf8());
  home.writeFile("art/broken.png", "not an image");
  // An empty iconBundleId is passed over like an absent one.
  const auto r = AgentIconResolver::resolve(
      entryWith(QStringList{"com.tlr.Hidden", "com.tlr.NoExe", "com.tlr.NoIcon", "com.tlr.UnknownTheme",
                            "com.tlr.Broken"},
                QString()),
      "fallback", bundle());
  ASSERT_TRUE(r.has_value());
  EXPECT_FALSE(r->isAppIcon);
  EXPECT_EQ(r->image.size(), QSize(40, 40));  // resource images keep their size
  EXPECT_EQ(colorOf(*r), QColor(Qt::green));
}

TEST_F(AgentIconResolverTest, NothingWhenNoStepFindsAnImage) {
  home.writeFile("bundle/unreadable.png", "garbage");
  EXPECT_FALSE(AgentIconResolver::resolve(entryWith(std::nullopt), "missing", bundle()).has_value());
  EXPECT_FALSE(AgentIconResolver::resolve(entryWith(std::nullopt), "unreadable", bundle()).has_value());
  EXPECT_FALSE(AgentIconResolver::resolve(entryWith(std::nullopt), "../bundle/unreadable", bundle()).has_value());
  EXPECT_FALSE(AgentIconResolver::resolve(entryWith(std::nullopt), "agent", ResourceBundle()).has_value());
}

TEST_F(AgentIconResolverTest, AChangedIconFileIsReadAgain) {
  installApp("com.tlr.Changing", Qt::red);
  const auto e = entryWith(QStringList{"com.tlr.Changing"});
  ASSERT_EQ(colorOf(*AgentIconResolver::resolve(e, "agent", bundle())), QColor(Qt::red));
  const QString png = home.path() + "/art/com.tlr.Changing.png";
  writePng(png, 64, Qt::yellow);
  QFile f(png);
  ASSERT_TRUE(f.open(QIODevice::ReadWrite));
  ASSERT_TRUE(f.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
  f.close();
  EXPECT_EQ(colorOf(*AgentIconResolver::resolve(e, "agent", bundle())), QColor(Qt::yellow));
  // Uninstalled: the next lookup finds nothing of it.
  QFile::remove(program);
  EXPECT_FALSE(AgentIconResolver::resolve(e, "agent", bundle()).has_value());
}

TEST(AgentIconFileName, IconAssetWithoutItsPrefixElseTheId) {
  AgentEntry e;
  e.id = "the-id";
  EXPECT_EQ(AgentIconResolver::iconFileName(e), "the-id");
  e.iconAsset = QString();
  EXPECT_EQ(AgentIconResolver::iconFileName(e), "the-id");
  e.iconAsset = "agent-claude";
  EXPECT_EQ(AgentIconResolver::iconFileName(e), "claude");
  e.iconAsset = "claude-agent-x";
  EXPECT_EQ(AgentIconResolver::iconFileName(e), "claude-agent-x");
}

}  // namespace
}  // namespace tlr
