#include "platform/LoginShell.h"

#include "support/TestSupport.h"

#include <QFileInfo>

#include <gtest/gtest.h>

using tlr::LoginShell;

TEST(LoginShellChoice, ZshFirstThenTheAccountShellThenSh) {
  tlr::test::FakeBin bin;
  const QString zsh = bin.add("zsh", "exit 0");
  const QString bash = bin.add("bash", "exit 0");

  const LoginShell withZsh = LoginShell::resolve(zsh, bash);
  EXPECT_EQ(withZsh.program, zsh);
  EXPECT_EQ(withZsh.options, QStringList{"-lc"});
  EXPECT_FALSE(withZsh.profileReplacesPath);

  const LoginShell account = LoginShell::resolve(bin.path() + "/no-zsh", bash);
  EXPECT_EQ(account.program, bash);
  EXPECT_EQ(account.options, QStringList{"-lc"});
  EXPECT_TRUE(account.profileReplacesPath);

  for (const QString& missing : {QString(), bin.path() + "/no-shell"}) {
    const LoginShell fallback = LoginShell::resolve(bin.path() + "/no-zsh", missing);
    EXPECT_EQ(fallback.program, "/bin/sh");
    EXPECT_EQ(fallback.options, QStringList{"-c"});
  }
}

TEST(LoginShellChoice, AnAccountShellThatQuotesDifferentlyIsPassedOver) {
  tlr::test::FakeBin bin;
  // fish reads '\'' and '\\' inside single quotes as escapes, so a word
  // ending in a backslash would swallow the quote that closes it; csh cannot
  // quote a line feed at all.
  for (const char* name : {"fish", "csh", "tcsh"}) {
    const LoginShell shell = LoginShell::resolve(bin.path() + "/no-zsh", bin.add(name, "exit 0"));
    EXPECT_EQ(shell.program, "/bin/sh") << name;
    EXPECT_EQ(shell.options, QStringList{"-c"});
  }
  const LoginShell zsh = LoginShell::resolve(bin.path() + "/no-zsh", bin.add("zsh", "exit 0"));
  EXPECT_EQ(zsh.program, bin.path() + "/zsh");
}

TEST(LoginShellChoice, AnAccountThatCannotLogInHasNoLoginShell) {
  tlr::test::TempHome home;
  const QString shells = home.writeFile("shells", "# login shells\n/bin/sh\n/bin/bash  \n");
  EXPECT_TRUE(tlr::isListedLoginShell("/bin/bash", shells));
  EXPECT_FALSE(tlr::isListedLoginShell("/usr/sbin/nologin", shells));
  EXPECT_FALSE(tlr::isListedLoginShell("/bin/false", shells));
  EXPECT_TRUE(tlr::isListedLoginShell("/usr/sbin/nologin", home.path() + "/no-such-list"));
}

TEST(LoginShellChoice, ShellQuotingKeepsEveryWordWhole) {
  EXPECT_EQ(tlr::shellQuote("it's"), "'it'\\''s'");
  EXPECT_EQ(tlr::shellQuote(""), "''");
}

TEST(LoginShellPath, OurFoldersComeFirstEvenWhenTheProfileReplacesPath) {
  if (!QFileInfo("/bin/bash").isExecutable()) GTEST_SKIP() << "no /bin/bash";
  tlr::test::TempHome home;
  // A login profile that throws the inherited PATH away, as many do.
  home.writeFile(".bash_profile", "PATH=/usr/bin:/bin\nexport PATH\n");
  const LoginShell shell = LoginShell::resolve(home.path() + "/no-zsh", "/bin/bash");
  const auto r = tlr::runChild(shell.childSpec("printf %s \"$PATH\"", "/tlr/first:/usr/bin"));
  ASSERT_TRUE(r.exited());
  EXPECT_TRUE(r.out.startsWith("/tlr/first:/usr/bin:")) << r.out.toStdString();
}

// Where the PATH block goes and what the hint names: the start file of the
// user's shell.
TEST(LoginShellStartFile, BashReadsBashrcZshZshrcAndAnyOtherShellProfile) {
  const QList<std::pair<QString, QString>> cases = {
      {"/bin/bash", "~/.bashrc"}, {"/usr/local/bin/bash", "~/.bashrc"}, {"/usr/bin/zsh", "~/.zshrc"},
      {"/bin/sh", "~/.profile"},  {"/bin/dash", "~/.profile"},         {"/usr/bin/fish", "~/.profile"},
      {"", "~/.profile"},         {"/bin/bash5", "~/.profile"}};
  for (const auto& [shell, file] : cases) EXPECT_EQ(tlr::shellStartFile(shell), file) << shell.toStdString();
}
