#include "platform/DesktopEntry.h"

#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace tlr {
namespace {

using test::TempHome;

// A temporary HOME whose second data folder ($XDG_DATA_DIRS) lies in it too,
// so entries of the machine never take part.
class DesktopIconsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oldDataDirs_ = qgetenv("XDG_DATA_DIRS");
    systemDir = home.path() + "/system-share";
    QDir().mkpath(systemDir);
    qputenv("XDG_DATA_DIRS", QFile::encodeName(systemDir));
    program = home.path() + "/bin/tlr-icon-app";
    QDir().mkpath(home.path() + "/bin");
    QFile::copy("/bin/true", program);
  }
  void TearDown() override {
    if (oldDataDirs_.isNull())
      qunsetenv("XDG_DATA_DIRS");
    else
      qputenv("XDG_DATA_DIRS", oldDataDirs_);
  }
  QString userEntry(const QString& id, const QString& body) {
    return home.writeFile(".local/share/applications/" + id + ".desktop", body.toUtf8());
  }
  QString systemFile(const QString& relative, const QByteArray& content) {
    const QString path = systemDir + "/" + relative;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
    return path;
  }
  static void touchLater(const QString& path, int seconds) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(QDateTime::currentDateTime().addSecs(seconds), QFileDevice::FileModificationTime));
  }

  TempHome home;
  QString systemDir;
  QString program;

 private:
  QByteArray oldDataDirs_;
};

TEST_F(DesktopIconsTest, AbsoluteIconOfAnInstalledEntry) {
  const QString png = home.writeFile("art/app.png", "png bytes");
  userEntry("com.tlr.Abs", "[Desktop Entry]\nExec=" + program + " %U\nIcon=" + png + "\n");
  const auto icon = DesktopIcons::installedAppIcon("com.tlr.Abs");
  ASSERT_TRUE(icon.has_value());
  EXPECT_EQ(icon->file, png);
  EXPECT_TRUE(icon->themeName.isEmpty());
  EXPECT_EQ(icon->entryPath, home.path() + "/.local/share/applications/com.tlr.Abs.desktop");
  // An absolute icon that is not there is no usable icon.
  userEntry("com.tlr.AbsGone", "[Desktop Entry]\nExec=" + program + "\nIcon=" + home.path() + "/art/none.png\n");
  EXPECT_FALSE(DesktopIcons::installedAppIcon("com.tlr.AbsGone").has_value());
}

TEST_F(DesktopIconsTest, NamedIconsComeFromTheHicolorFoldersLargestFirstThenTheThemeName) {
  systemFile("icons/hicolor/48x48/apps/tlr-named.png", "small");
  const QString big = systemFile("icons/hicolor/256x256/apps/tlr-named.png", "big");
  // The entry lives in the second data folder; its icon too.
  systemFile("applications/com.tlr.Named.desktop",
             ("[Desktop Entry]\nTryExec=" + program + "\nExec=whatever-else\nIcon=tlr-named\n").toUtf8());
  auto icon = DesktopIcons::installedAppIcon("com.tlr.Named");
  ASSERT_TRUE(icon.has_value());
  EXPECT_EQ(icon->file, big);
  EXPECT_GT(icon->fileModifiedNs, 0);

  // The file goes away: the next call notices and takes the next size.
  ASSERT_TRUE(QFile::remove(big));
  icon = DesktopIcons::installedAppIcon("com.tlr.Named");
  ASSERT_TRUE(icon.has_value());
  EXPECT_EQ(icon->file, systemDir + "/icons/hicolor/48x48/apps/tlr-named.png");

  // A name found nowhere is left to the icon theme.
  userEntry("com.tlr.Themed", "[Desktop Entry]\nExec=" + program + "\nIcon=tlr-no-such-icon-anywhere\n");
  icon = DesktopIcons::installedAppIcon("com.tlr.Themed");
  ASSERT_TRUE(icon.has_value());
  EXPECT_TRUE(icon->file.isEmpty());
  EXPECT_EQ(icon->themeName, "tlr-no-such-icon-anywhere");
}

TEST_F(DesktopIconsTest, HiddenMissingProgramOrNoIconGiveNothing) {
  const QString png = home.writeFile("art/app.png", "png");
  userEntry("com.tlr.Hidden", "[Desktop Entry]\nExec=" + program + "\nIcon=" + png + "\nHidden=true\n");
  userEntry("com.tlr.NoProgram", "[Desktop Entry]\nExec=/nonexistent/tlr-app %f\nIcon=" + png + "\n");
  // TryExec decides when present, even when Exec's program exists.
  userEntry("com.tlr.BadTry", "[Desktop Entry]\nTryExec=tlr-not-on-path\nExec=" + program + "\nIcon=" + png + "\n");
  userEntry("com.tlr.NoIcon", "[Desktop Entry]\nExec=" + program + "\n");
  // Icon= in another group does not count.
  userEntry("com.tlr.ActionIcon", "[Desktop Entry]\nExec=" + program + "\n[Desktop Action a]\nIcon=" + png + "\n");
  for (const char* id : {"com.tlr.Hidden", "com.tlr.NoProgram", "com.tlr.BadTry", "com.tlr.NoIcon",
                         "com.tlr.ActionIcon", "com.tlr.Absent", "", "../evil"})
    EXPECT_FALSE(DesktopIcons::installedAppIcon(id).has_value()) << id;

  // A hidden entry in the first folder hides the same id further on.
  systemFile("applications/com.tlr.Hidden.desktop",
             ("[Desktop Entry]\nExec=" + program + "\nIcon=" + png + "\n").toUtf8());
  EXPECT_FALSE(DesktopIcons::installedAppIcon("com.tlr.Hidden").has_value());
  // Once the program is there, the entry counts.
  userEntry("com.tlr.Later", "[Desktop Entry]\nExec=" + home.path() + "/bin/tlr-later\nIcon=" + png + "\n");
  EXPECT_FALSE(DesktopIcons::installedAppIcon("com.tlr.Later").has_value());
  QFile::copy("/bin/true", home.path() + "/bin/tlr-later");
  EXPECT_TRUE(DesktopIcons::installedAppIcon("com.tlr.Later").has_value());
}

TEST_F(DesktopIconsTest, AnEntryEditedInPlaceIsReadAgain) {
  const QString first = home.writeFile("art/first.png", "1");
  const QString second = home.writeFile("art/second.png", "2");
  const QString path = userEntry("com.tlr.Edit", "[Desktop Entry]\nExec=" + program + "\nIcon=" + first + "\n");
  ASSERT_EQ(DesktopIcons::installedAppIcon("com.tlr.Edit")->file, first);
  userEntry("com.tlr.Edit", "[Desktop Entry]\nExec=" + program + "\nIcon=" + second + "\n");
  touchLater(path, 5);  // a later time, as an editor leaves it
  ASSERT_EQ(DesktopIcons::installedAppIcon("com.tlr.Edit")->file, second);
  userEntry("com.tlr.Edit", "[Desktop Entry]\nExec=" + program + "\nIcon=" + first + "\nHidden=true\n");
  EXPECT_FALSE(DesktopIcons::installedAppIcon("com.tlr.Edit").has_value());
}

TEST(DesktopEntryParse, ExecWordsAndProgram) {
  const DesktopEntry e = DesktopEntry::parse(
      "# comment\n[Desktop Entry]\nExec=env A=1 \"/opt/My App/run\" --x %U 100%%\nTryExec= \nIcon=x\n"
      "Icon=second\n[Other]\nHidden=true\n");
  EXPECT_EQ(e.exec, (QStringList{"env", "A=1", "/opt/My App/run", "--x", "100%"}));
  EXPECT_EQ(DesktopEntry::programWord(e.exec), "/opt/My App/run");
  // env's options with their values are no program.
  const std::pair<QStringList, QString> programs[] = {
      {{"/usr/bin/env", "-u", "WAYLAND_DISPLAY", "A=1", "cursor", "--x"}, "cursor"},
      {{"env", "--chdir", "/srv", "-i", "zed-editor"}, "zed-editor"},
      {{"env", "--unset=A", "-", "B=2", "cursor"}, "cursor"},
      {{"env", "-S", "A=1 cursor --no-sandbox"}, "cursor"},
      {{"env", "-u", "A"}, ""},
      {{"cursor", "-u", "x"}, "cursor"},
  };
  for (const auto& [exec, program] : programs)
    EXPECT_EQ(DesktopEntry::programWord(exec).toStdString(), program.toStdString()) << exec.join(' ').toStdString();
  EXPECT_EQ(e.icon, "x");
  EXPECT_TRUE(e.tryExec.isEmpty());
  EXPECT_FALSE(e.hidden);
}

}  // namespace
}  // namespace tlr
