#include "platform/UserHome.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

using namespace tlr;

TEST(UserHome, AccountsComeFromThePasswordDatabaseByIdAndByName) {
  const passwd* pw = ::getpwuid(::getuid());
  ASSERT_NE(pw, nullptr);
  const QString name = QString::fromLocal8Bit(pw->pw_name);
  const QString home = QString::fromLocal8Bit(pw->pw_dir);
  const QString shell = pw->pw_shell ? QString::fromLocal8Bit(pw->pw_shell) : QString();

  const std::optional<AccountEntry> byId = accountOfUid(::getuid());
  ASSERT_TRUE(byId.has_value());
  EXPECT_EQ(byId->name, name);
  EXPECT_EQ(byId->home, home);
  EXPECT_EQ(byId->shell, shell);
  const std::optional<AccountEntry> byName = accountNamed(name);
  ASSERT_TRUE(byName.has_value());
  EXPECT_EQ(byName->home, home);
  EXPECT_EQ(homeOfUser(name), home);
  EXPECT_EQ(expandUserTilde("~" + name + "/notes"), home + "/notes");

  EXPECT_FALSE(accountNamed("tlr-no-such-account").has_value());
  EXPECT_FALSE(accountNamed(QString()).has_value());
  EXPECT_EQ(homeOfUser("tlr-no-such-account"), QString());
  EXPECT_EQ(expandUserTilde("~tlr-no-such-account/x"), "~tlr-no-such-account/x");
}
