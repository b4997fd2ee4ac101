#include "core/system/SelfGuard.h"

#include "platform/Defaults.h"
#include "platform/LoginItem.h"
#include "platform/Paths.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using tlr::Defaults;
using tlr::LocKey;
using tlr::SelfGuardInstaller;
using tlr::SelfGuardStore;
using tlr::test::FakeBin;
using tlr::test::TempHome;
using tlr::test::waitUntil;
using Choice = SelfGuardStore::AlertChoice;

namespace {

// A temporary home with an installed-looking copy of the program and a
// recording systemctl first on PATH.
struct SelfGuardFixture {
  TempHome home;
  FakeBin bin;
  QString systemctlRecord;
  QString installedExe;
  QString buildExe;

  explicit SelfGuardFixture(int systemctlExit = 0) {
    systemctlRecord = bin.addRecorder("systemctl", systemctlExit);
    installedExe = home.writeFile("opt/tollamere/bin/tollamere", "program");
    QDir().mkpath(home.path() + "/opt/tollamere/share/tollamere/Tollamere_Tollamere.bundle");
    buildExe = home.writeFile("src/build/tollamere", "program");
  }
  QString systemctlCalls() const { return tlr::test::readFile(systemctlRecord); }
};

QString unitCall(const QString& verb) {
  return "--user\n" + verb + "\ncom.tollamere.app.service\n--\n";
}

}  // namespace

TEST(SelfGuardInstall, AnInstalledCopyRegistersItsAutostartEntry) {
  SelfGuardFixture f;
  SelfGuardInstaller installer(f.installedExe);
  ASSERT_TRUE(installer.isProductionApp());
  EXPECT_TRUE(installer.install());
  EXPECT_EQ(tlr::LoginItem::status(), tlr::LoginItem::Status::enabled);
  EXPECT_TRUE(tlr::test::readFile(tlr::Paths::autostartFile()).contains("\nExec=" + f.installedExe + "\n"));
  EXPECT_EQ(f.systemctlCalls(), unitCall("enable")) << "without a legacy unit, one call";

  EXPECT_TRUE(installer.uninstall());
  EXPECT_FALSE(QFile::exists(tlr::Paths::autostartFile()));
  EXPECT_EQ(f.systemctlCalls(), unitCall("enable")) << "unregistering leaves the services alone";

  // Without systemctl the log line names it (it named launchctl).
  ASSERT_TRUE(QFile::remove(f.bin.path() + "/systemctl"));
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", QFile::encodeName(f.bin.path()));
  testing::internal::CaptureStdout();
  EXPECT_TRUE(installer.install());
  const std::string out = testing::internal::GetCapturedStdout();
  qputenv("PATH", path);
  EXPECT_NE(out.find("[SelfGuard] systemctl --user enable com.tollamere.app.service failed: systemctl: "
                     "No such file or directory\n"),
            std::string::npos)
      << out;
}

TEST(SelfGuardInstall, TheLegacyUnitIsStoppedAndRemovedFirst) {
  SelfGuardFixture f(/*systemctlExit=*/1);  // no user manager: calls fail, nothing stops
  f.home.writeFile(".config/systemd/user/com.tollamere.app.service", "[Service]\n");
  SelfGuardInstaller installer(f.installedExe);
  EXPECT_TRUE(installer.install());
  EXPECT_FALSE(QFile::exists(installer.legacyPlistPath()));
  EXPECT_EQ(f.systemctlCalls(), unitCall("stop") + unitCall("enable") + unitCall("enable"));
}

TEST(SelfGuardInstall, ADevelopmentCopyTouchesNothing) {
  SelfGuardFixture f;
  f.home.writeFile(".config/systemd/user/com.tollamere.app.service", "[Service]\n");
  SelfGuardInstaller installer(f.buildExe);
  EXPECT_FALSE(installer.isProductionApp());
  EXPECT_FALSE(SelfGuardInstaller("").isProductionApp());
  EXPECT_FALSE(installer.install());
  EXPECT_FALSE(QFile::exists(tlr::Paths::autostartFile()));
  EXPECT_TRUE(QFile::exists(installer.legacyPlistPath()));
  EXPECT_TRUE(f.systemctlCalls().isEmpty());
}

TEST(SelfGuardStoreState, AStoredOnWithoutARegistrationIsCorrectedToOff) {
  for (const QByteArray& entry : {QByteArray(), QByteArray("[Desktop Entry]\nHidden=true\n")}) {
    SelfGuardFixture f;
    if (!entry.isEmpty()) f.home.writeFile(".config/autostart/tollamere.desktop", entry);
    Defaults::shared().set(SelfGuardStore::kEnabledKey, true);
    Defaults::shared().set(SelfGuardStore::kAskedKey, true);
    SelfGuardInstaller installer(f.installedExe);
    SelfGuardStore store(installer);
    EXPECT_FALSE(store.enabled());
    EXPECT_TRUE(store.asked()) << "asked is never changed here";
    EXPECT_EQ(Defaults::shared().boolean(SelfGuardStore::kEnabledKey), std::optional<bool>(false));
  }
}

TEST(SelfGuardStoreState, TurningOnAndOff) {
  SelfGuardFixture f;
  SelfGuardInstaller installer(f.installedExe);
  SelfGuardStore store(installer);
  int alerts = 0;
  store.setAlertPresenter([&](const SelfGuardStore::AlertText&) { return ++alerts, Choice::secondButton; });

  store.setEnabled(true);
  ASSERT_TRUE(waitUntil([&] { return store.enabled(); }));
  EXPECT_EQ(Defaults::shared().boolean(SelfGuardStore::kEnabledKey), std::optional<bool>(true));
  EXPECT_EQ(SelfGuardStore(installer).enabled(), true) << "a later start finds it registered";

  // Unregistering fails (a folder where the entry should be): off all the same.
  QFile::remove(tlr::Paths::autostartFile());
  QDir().mkpath(tlr::Paths::autostartFile() + "/stuck");
  int finished = 0;
  QObject::connect(&store, &SelfGuardStore::setEnabledFinished, [&] { ++finished; });
  store.setEnabled(false);
  ASSERT_TRUE(waitUntil([&] { return finished == 1; }));
  EXPECT_FALSE(store.enabled());
  EXPECT_EQ(Defaults::shared().boolean(SelfGuardStore::kEnabledKey), std::optional<bool>(false));
  EXPECT_EQ(alerts, 0);
}

TEST(SelfGuardStoreState, AFailedRegistrationShowsTheFailureAlertWhoseFirstButtonOpensTheFolder) {
  SelfGuardFixture f;
  FakeBin opener;
  const QString openRecord = opener.addRecorder("xdg-open");
  SelfGuardInstaller installer(f.buildExe);  // a development copy cannot register
  SelfGuardStore store(installer);
  QList<SelfGuardStore::AlertText> shown;
  store.setAlertPresenter([&](const SelfGuardStore::AlertText& t) {
    shown << t;
    return Choice::firstButton;
  });
  int finished = 0;
  QObject::connect(&store, &SelfGuardStore::setEnabledFinished, [&] { ++finished; });

  store.setEnabled(true);
  ASSERT_TRUE(waitUntil([&] { return finished == 1; }));

  // By its keys: the window says them in its language.
  const SelfGuardStore::AlertText failed{LocKey::selfGuardEnableFailedTitle(), LocKey::selfGuardEnableFailedBody(),
                                         LocKey::selfGuardOpenLoginItems(), LocKey::alertGotIt()};
  EXPECT_EQ(shown, QList<SelfGuardStore::AlertText>{failed});
  EXPECT_FALSE(store.enabled());
  EXPECT_FALSE(Defaults::shared().contains(SelfGuardStore::kEnabledKey));
  // The first button shows where login items live.
  // The record is there from its first line on: read once the call's last.
  ASSERT_TRUE(waitUntil([&] { return tlr::test::readFile(openRecord).contains("\n--\n"); }));
  EXPECT_TRUE(tlr::test::readFile(openRecord).startsWith(tlr::Paths::configHome() + "/autostart\n"));
}

TEST(SelfGuardStartupQuestion, AskedOnceInAnInstalledCopy) {
  SelfGuardFixture f;
  SelfGuardInstaller installer(f.installedExe);
  SelfGuardStore store(installer);
  QList<SelfGuardStore::AlertText> shown;
  store.setAlertPresenter([&](const SelfGuardStore::AlertText& t) {
    shown << t;
    return Choice::firstButton;
  });
  store.askAtStartupIfNeeded();
  const SelfGuardStore::AlertText question{LocKey::selfGuardFirstAlertTitle(), LocKey::selfGuardFirstAlertBody(),
                                           LocKey::selfGuardFirstAlertConfirm(), LocKey::selfGuardFirstAlertCancel()};
  EXPECT_EQ(shown, QList<SelfGuardStore::AlertText>{question});
  EXPECT_TRUE(store.asked());
  EXPECT_EQ(Defaults::shared().boolean(SelfGuardStore::kAskedKey), std::optional<bool>(true));
  ASSERT_TRUE(waitUntil([&] { return store.enabled(); })) << "accepting turns auto-start on";

  store.askAtStartupIfNeeded();
  SelfGuardStore later(installer);
  later.setAlertPresenter([&](const SelfGuardStore::AlertText& t) { return shown << t, Choice::firstButton; });
  later.askAtStartupIfNeeded();
  EXPECT_EQ(shown.size(), 1) << "never asked again";
}

TEST(SelfGuardStartupQuestion, TheChoiceIsLoggedOnlyAfterTheInstallerAnswered) {
  SelfGuardFixture f;
  SelfGuardInstaller installer(f.installedExe);
  SelfGuardStore store(installer);
  store.setAlertPresenter([](const SelfGuardStore::AlertText&) { return Choice::firstButton; });
  const QString choice = "[SelfGuard] 用户首次启动选择：开启\n";

  ::testing::internal::CaptureStdout();
  store.askAtStartupIfNeeded();
  // The install runs on the store's worker; its answer comes back through
  // the event loop, which has not turned yet.
  const QString asked = QString::fromStdString(::testing::internal::GetCapturedStdout());
  EXPECT_FALSE(asked.contains(choice)) << asked.toStdString();
  EXPECT_FALSE(store.enabled());

  ::testing::internal::CaptureStdout();
  const bool installed = waitUntil([&] { return store.enabled(); });
  waitUntil([] { return false; }, std::chrono::milliseconds(100));
  const QString answered = QString::fromStdString(::testing::internal::GetCapturedStdout());
  ASSERT_TRUE(installed);
  EXPECT_EQ(answered.count(choice), 1) << answered.toStdString();
}

TEST(SelfGuardStartupQuestion, NotNowChangesNothingAndADevelopmentCopyIsNeverAsked) {
  SelfGuardFixture f;
  SelfGuardInstaller installed(f.installedExe);
  SelfGuardStore store(installed);
  QList<SelfGuardStore::AlertText> shown;
  store.setAlertPresenter([&](const SelfGuardStore::AlertText& t) { return shown << t, Choice::secondButton; });
  store.askAtStartupIfNeeded();
  ASSERT_EQ(shown.size(), 1);
  EXPECT_EQ(shown[0].secondButton, LocKey::selfGuardFirstAlertCancel());
  EXPECT_TRUE(store.asked());
  EXPECT_FALSE(store.enabled());
  EXPECT_FALSE(QFile::exists(tlr::Paths::autostartFile()));

  SelfGuardFixture g;
  SelfGuardInstaller dev(g.buildExe);
  SelfGuardStore devStore(dev);
  int devShown = 0;
  devStore.setAlertPresenter([&](const SelfGuardStore::AlertText&) { return ++devShown, Choice::firstButton; });
  devStore.askAtStartupIfNeeded();
  EXPECT_EQ(devShown, 0);
  EXPECT_FALSE(devStore.asked());
  EXPECT_TRUE(g.systemctlCalls().isEmpty());
}
