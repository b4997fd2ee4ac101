#include "platform/UserPrograms.h"

#include "support/TestSupport.h"

#include <QDir>

#include <gtest/gtest.h>

using tlr::test::TempHome;

// npm and agents installed through nvm, volta or fnm were never found: their
// folders are looked in, newest Node version first, and so is every folder
// the user's login shell puts on PATH.
TEST(UserPrograms, VersionManagersAndTheLoginShellsPathAreLookedIn) {
  TempHome home;
  const QString h = home.path();
  for (const char* folder :
       {"/.nvm/versions/node/v9.11.2/bin", "/.nvm/versions/node/v22.3.0/bin", "/.nvm/versions/node/v20.1.0/bin",
        "/.volta/bin", "/.local/share/fnm/aliases/default/bin", "/.local/share/fnm/node-versions/v18.0.0/installation/bin",
        "/.fnm/node-versions/v16.0.0/installation/bin", "/shell-bin"})
    ASSERT_TRUE(QDir().mkpath(h + folder));
  // A login shell of either family adds its folder.
  for (const char* profile : {".profile", ".zprofile", ".bash_profile"})
    home.writeFile(profile, "PATH=\"$HOME/shell-bin:$PATH\"; export PATH\n");

  EXPECT_EQ(tlr::UserPrograms::managerFolders(),
            (QStringList{h + "/.nvm/versions/node/v22.3.0/bin", h + "/.nvm/versions/node/v20.1.0/bin",
                         h + "/.nvm/versions/node/v9.11.2/bin", h + "/.volta/bin",
                         h + "/.local/share/fnm/aliases/default/bin",
                         h + "/.local/share/fnm/node-versions/v18.0.0/installation/bin",
                         h + "/.fnm/node-versions/v16.0.0/installation/bin"}));
  const QStringList shell = tlr::UserPrograms::loginShellFolders();
  ASSERT_FALSE(shell.isEmpty());
  EXPECT_EQ(shell.first(), h + "/shell-bin");
  EXPECT_TRUE(shell.contains("/usr/bin"));

  // One list of every folder, the user's own first, then the managers', the
  // login shell's and what npm and pipx named; the system's come last, after
  // the inherited PATH, and every folder is named once.
  tlr::UserPrograms::setToolFolders({h + "/npm-prefix/bin", h + "/.volta/bin", "/usr/bin"});
  const QStringList all = tlr::UserPrograms::folders();
  EXPECT_EQ(all.mid(0, 6), (QStringList{h + "/.npm-global/bin", h + "/.local/bin", h + "/.cargo/bin", "/usr/local/bin",
                                        "/home/linuxbrew/.linuxbrew/bin", h + "/.nvm/versions/node/v22.3.0/bin"}));
  EXPECT_EQ(all.last(), h + "/npm-prefix/bin");
  EXPECT_EQ(all.count(h + "/.volta/bin"), 1);
  EXPECT_LT(all.indexOf(h + "/.volta/bin"), all.indexOf(h + "/shell-bin"));
  EXPECT_FALSE(all.contains("/usr/bin"));
  EXPECT_FALSE(all.contains("/bin"));
  const QString path = tlr::UserPrograms::searchPath("/opt/own/bin:/bin:" + h + "/.local/bin");
  EXPECT_EQ(path, all.join(':') + ":/opt/own/bin:/bin:/usr/bin");
  tlr::UserPrograms::setToolFolders({});
  EXPECT_EQ(tlr::UserPrograms::searchPath("/opt/own/bin"), tlr::UserPrograms::folders().join(':') + ":/opt/own/bin:/usr/bin:/bin");

  // $NVM_DIR moves nvm's folders.
  ASSERT_TRUE(QDir().mkpath(h + "/elsewhere/versions/node/v21.0.0/bin"));
  qputenv("NVM_DIR", QFile::encodeName(h + "/elsewhere"));
  EXPECT_EQ(tlr::UserPrograms::managerFolders().first(), h + "/elsewhere/versions/node/v21.0.0/bin");
  qunsetenv("NVM_DIR");
}
