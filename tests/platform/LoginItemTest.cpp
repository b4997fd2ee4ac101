#include "platform/LoginItem.h"
#include "platform/Paths.h"

#include "support/TestSupport.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace tlr;
using tlr::test::TempHome;

TEST(LoginItemEntry, RegisteredMeansPresentAndNotHidden) {
  TempHome home;
  EXPECT_EQ(LoginItem::status(), LoginItem::Status::notRegistered);
  ASSERT_TRUE(LoginItem::registerApp("/opt/t/bin/tollamere"));
  EXPECT_EQ(LoginItem::status(), LoginItem::Status::enabled);
  home.writeFile(".config/autostart/tollamere.desktop",
                 "[Desktop Entry]\nExec=x\n  Hidden = true\n");
  EXPECT_EQ(LoginItem::status(), LoginItem::Status::notRegistered);
  home.writeFile(".config/autostart/tollamere.desktop",
                 "[Desktop Entry]\nExec=x\n[Desktop Action a]\nHidden=true\n");
  EXPECT_EQ(LoginItem::status(), LoginItem::Status::enabled) << "another group's key";
  ASSERT_TRUE(LoginItem::unregisterApp());
  ASSERT_TRUE(LoginItem::unregisterApp()) << "absent is fine";
  EXPECT_EQ(LoginItem::status(), LoginItem::Status::notRegistered);
}

TEST(LoginItemEntry, ExecValueQuotesWhatTheFormatReserves) {
  EXPECT_EQ(LoginItem::execValue("/opt/t/bin/tollamere"), "/opt/t/bin/tollamere");
  EXPECT_EQ(LoginItem::execValue("/home/a b/bin/tollamere"), "\"/home/a b/bin/tollamere\"");
  EXPECT_EQ(LoginItem::execValue("/x/100%/t"), "/x/100%%/t");
  // `$` is escaped for the Exec quoting, then the backslash for the string.
  EXPECT_EQ(LoginItem::execValue("/x/$HOME/t"), "\"/x/\\\\$HOME/t\"");
  EXPECT_FALSE(LoginItem::registerApp("/x/a\nb"));
}

TEST(LoginItemEntry, ProductionCopyNeedsBinAndTheInstalledBundle) {
  TempHome home;
  const QString exe = home.writeFile("usr/bin/tollamere", "x");
  EXPECT_FALSE(LoginItem::isProductionCopy(exe));
  QDir().mkpath(home.path() + "/usr/share/tollamere/Tollamere_Tollamere.bundle");
  EXPECT_TRUE(LoginItem::isProductionCopy(exe));
  EXPECT_FALSE(LoginItem::isProductionCopy(home.writeFile("usr/libexec/tollamere", "x")));
  EXPECT_FALSE(LoginItem::isProductionCopy(""));
}
