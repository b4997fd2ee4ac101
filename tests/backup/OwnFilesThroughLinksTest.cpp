// Every file Tollamere keeps of its own is written as a new file renamed onto
// its path: a symbolic link found there is replaced, never written through,
// and the file it points at (here a document outside the home folder) stays
// exactly as it was.
#include "backup/PasswordVault.h"
#include "core/netlog/NetworkLogger.h"
#include "platform/Defaults.h"
#include "platform/LoginItem.h"
#include "platform/Paths.h"
#include "platform/SingleInstance.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace tlr;
using tlr::test::LinkedDocument;

TEST(OwnFilesThroughLinks, EveryStoreReplacesALinkAndLeavesItsTargetAlone) {
  test::TempHome home;
  const QString folder = Paths::appSupport();
  // A JSON object, so that the settings read it as theirs before writing.
  LinkedDocument defaults(Paths::defaultsFile(), "{\"mine\": true}\n");
  LinkedDocument networkLog(folder + "/network-log.json");
  LinkedDocument autostart(Paths::autostartFile());
  LinkedDocument vault(PasswordVault::vaultURL());
  LinkedDocument lock(folder + "/" + SingleInstanceLock::kFileName);

  {
    Defaults settings(Paths::defaultsFile());
    settings.set("TLR.language", "en");
    EXPECT_TRUE(settings.flush());
  }
  NetworkLogger logger(folder + "/network-log.json");
  logger.log(NetworkEventKind::updateCheck, 10, true);
  logger.flush();
  const Expected<void, QString> registered = LoginItem::registerApp("/opt/t/bin/tollamere");
  EXPECT_TRUE(registered) << (registered ? QString() : registered.error()).toStdString();
  EXPECT_TRUE(PasswordVault::seal("pw"));
  const SingleInstanceLock::Result held = SingleInstanceLock::acquire(folder + "/" + SingleInstanceLock::kFileName);
  EXPECT_EQ(held.outcome, SingleInstanceLock::Outcome::acquired);
  EXPECT_TRUE(held.pidWritten);
  if (held.fd >= 0) ::close(held.fd);

  const std::pair<const char*, const LinkedDocument*> cases[] = {
      {"defaults.json", &defaults}, {"network-log.json", &networkLog}, {"autostart entry", &autostart},
      {".pwd.vault", &vault},       {"single-instance.lock", &lock},
  };
  for (const auto& [name, document] : cases) {
    EXPECT_TRUE(document->untouched()) << name;
    EXPECT_TRUE(document->replacedByAFile()) << name;
  }
  EXPECT_EQ(Defaults(Paths::defaultsFile()).string("TLR.language"), "en");
  EXPECT_EQ(test::readFile(folder + "/" + SingleInstanceLock::kFileName), QString::number(::getpid()) + '\n');
}
