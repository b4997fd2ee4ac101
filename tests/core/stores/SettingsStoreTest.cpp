#include "core/stores/SettingsStore.h"
#include "core/texts/Lang.h"
#include "platform/Defaults.h"
#include "platform/Paths.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <optional>
#include <thread>
#include <vector>

using tlr::AppearancePreference;
using tlr::AppLanguage;
using tlr::Defaults;
using tlr::Lang;
using tlr::SettingsStore;
using tlr::test::TempHome;

namespace {

// What is on disk, read independently of the process's shared defaults,
// once they have written what they hold.
QJsonObject storedOnDisk() {
  EXPECT_TRUE(Defaults::shared().flush());
  return Defaults(tlr::Paths::defaultsFile()).snapshot();
}

void store(const QString& key, const QJsonValue& value) { Defaults::shared().set(key, value); }

// The tool's exit code and output; a run that did not exit by itself fails
// the test.
tlr::test::ProgramRun runSettingsTool(const QStringList& args) {
  tlr::test::ProgramRun run = tlr::test::runProgram(tlr::test::toolPath("tlr_settings_tool"), args);
  EXPECT_TRUE(run.failure.isEmpty()) << run.failure.toStdString() << " (" << args.join(' ').toStdString() << ")";
  return run;
}

}  // namespace

TEST(SettingsStoreCreation, EmptyDefaultsGiveTheDefaultsAndWriteNothing) {
  TempHome home;
  SettingsStore settings;
  EXPECT_EQ(settings.appearance(), AppearancePreference::system);
  EXPECT_EQ(settings.language(), AppLanguage::zh);
  EXPECT_TRUE(settings.showInDock());
  EXPECT_EQ(Lang::current(), AppLanguage::zh);
  EXPECT_FALSE(QFile::exists(tlr::Paths::defaultsFile())) << "creating the store writes nothing";
}

TEST(SettingsStoreCreation, StoredAppearanceMustMatchExactly) {
  TempHome home;
  const std::vector<std::pair<QJsonValue, AppearancePreference>> cases{
      {"dark", AppearancePreference::dark},    {"light", AppearancePreference::light},
      {"system", AppearancePreference::system}, {"Dark", AppearancePreference::system},
      {"dim", AppearancePreference::system},   {true, AppearancePreference::system},
  };
  for (const auto& [stored, expected] : cases) {
    store(tlr::kAppearanceKey, stored);
    EXPECT_EQ(SettingsStore().appearance(), expected) << stored.toVariant().toString().toStdString();
  }
}

TEST(SettingsStoreCreation, OnlyExactlyEnIsEnglish) {
  TempHome home;
  const std::vector<std::pair<QJsonValue, AppLanguage>> cases{
      {"en", AppLanguage::en}, {"zh", AppLanguage::zh},  {"EN", AppLanguage::zh},
      {" en", AppLanguage::zh}, {"en-US", AppLanguage::zh}, {1, AppLanguage::zh},
  };
  for (const auto& [stored, expected] : cases) {
    store(tlr::kLanguageKey, stored);
    EXPECT_EQ(SettingsStore().language(), expected) << stored.toVariant().toString().toStdString();
    EXPECT_EQ(Lang::current(), expected) << stored.toVariant().toString().toStdString();
  }
}

TEST(SettingsStoreCreation, DockSettingUsesTheBooleanReading) {
  TempHome home;
  const std::vector<std::pair<QJsonValue, bool>> cases{
      {false, false}, {true, true}, {0, false},     {2, true},     {"NO", false},
      {"YES", true},  {"true", true}, {"0", false}, {"01", true}, {QJsonValue::Null, false},
  };
  for (const auto& [stored, expected] : cases) {
    store(tlr::kShowInDockKey, stored);
    EXPECT_EQ(SettingsStore::storedShowInDock(), expected) << stored.toVariant().toString().toStdString();
    EXPECT_EQ(SettingsStore().showInDock(), expected) << stored.toVariant().toString().toStdString();
  }
}

TEST(SettingsStoreAssignment, EachAssignmentIsStoredAsItsRawValue) {
  TempHome home;
  SettingsStore settings;
  settings.setAppearance(AppearancePreference::dark);
  settings.setLanguage(AppLanguage::en);
  settings.setShowInDock(false);
  const QJsonObject disk = storedOnDisk();
  EXPECT_EQ(disk.value(tlr::kAppearanceKey), QJsonValue("dark"));
  EXPECT_EQ(disk.value(tlr::kLanguageKey), QJsonValue("en"));
  EXPECT_EQ(disk.value(tlr::kShowInDockKey), QJsonValue(false)) << "stored as a Boolean, not a text";

  SettingsStore reopened;
  EXPECT_EQ(reopened.appearance(), AppearancePreference::dark);
  EXPECT_EQ(reopened.language(), AppLanguage::en);
  EXPECT_FALSE(reopened.showInDock());
}

TEST(SettingsStoreAssignment, ObserversAreToldAfterTheValueIsStored) {
  TempHome home;
  SettingsStore settings;
  QStringList seen;
  QObject::connect(&settings, &SettingsStore::languageChanged, [&](AppLanguage announced) {
    seen << tlr::rawValue(announced) + "/" + tlr::rawValue(settings.language()) + "/" +
                tlr::rawValue(Lang::current()) + "/" + storedOnDisk().value(tlr::kLanguageKey).toString();
  });
  QObject::connect(&settings, &SettingsStore::appearanceChanged, [&](AppearancePreference) {
    seen << tlr::rawValue(settings.appearance()) + "/" + storedOnDisk().value(tlr::kAppearanceKey).toString();
  });
  QObject::connect(&settings, &SettingsStore::showInDockChanged, [&](bool) {
    seen << QString(settings.showInDock() ? "shown" : "hidden") + "/" +
                QString(storedOnDisk().value(tlr::kShowInDockKey).toBool() ? "shown" : "hidden");
  });

  settings.setLanguage(AppLanguage::en);
  settings.setLanguage(AppLanguage::zh);
  settings.setAppearance(AppearancePreference::light);
  settings.setShowInDock(false);
  EXPECT_EQ(seen, (QStringList{"en/en/en/en", "zh/zh/zh/zh", "light/light", "hidden/hidden"}));
}

TEST(SettingsStoreAssignment, WindowHandlersFollowEveryAssignment) {
  TempHome home;
  store(tlr::kAppearanceKey, "dark");
  SettingsStore settings;
  std::vector<AppearancePreference> applied;
  std::vector<bool> policies;
  settings.setAppearanceHandler([&](AppearancePreference a) { applied.push_back(a); });
  EXPECT_EQ(applied, std::vector{AppearancePreference::dark}) << "registering applies the current appearance";

  settings.setActivationPolicyHandler([&](bool show) { policies.push_back(show); });
  EXPECT_TRUE(policies.empty()) << "start-up applies the Dock policy itself";
  settings.applyActivationPolicy();
  settings.setShowInDock(false);
  settings.setShowInDock(false);
  settings.setAppearance(AppearancePreference::system);
  settings.setAppearance(AppearancePreference::system);
  EXPECT_EQ(policies, (std::vector<bool>{true, false, false}));
  EXPECT_EQ(applied, (std::vector{AppearancePreference::dark, AppearancePreference::system,
                                  AppearancePreference::system}));
}

// Each event with a text asks for the language on the window thread, while
// the event log was being written under the same lock: up to 30 ms a time,
// 454 ms for one exit's line in a storm of crashes. The language comes while
// a write of the settings is held on its way to the disk.
TEST(SettingsStoreAssignment, TheLanguageIsReadWhileTheSettingsAreBeingWritten) {
  TempHome home;
  SettingsStore settings;
  settings.setLanguage(AppLanguage::en);
  Defaults& defaults = Defaults::shared();
  ASSERT_TRUE(defaults.flush());
  std::promise<void> entered;
  std::promise<void> release;
  const std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> held{false};
  defaults.setWriteHook([&] {
    if (held.exchange(true)) return;
    entered.set_value();
    released.wait();
  });
  std::thread writer([&] { defaults.set(QStringLiteral("TLR.events"), QString(100000, QLatin1Char('e'))); });
  ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  auto language = std::async(std::launch::async, [] { return Lang::current(); });
  const bool answered = language.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  release.set_value();
  writer.join();
  defaults.setWriteHook({});
  EXPECT_TRUE(answered) << "the language waited for the write";
  EXPECT_EQ(language.get(), AppLanguage::en);
  EXPECT_TRUE(defaults.flush());
}

TEST(SettingsStoreProcesses, SettingsRoundTripBetweenProcesses) {
  TempHome home;
  ASSERT_EQ(runSettingsTool({"set", "language", "en"}).exitCode, 0);
  ASSERT_EQ(runSettingsTool({"set", "appearance", "light"}).exitCode, 0);
  const tlr::test::ProgramRun hide = runSettingsTool({"set", "showInDock", "false"});
  ASSERT_EQ(hide.exitCode, 0);
  EXPECT_EQ(hide.out, "[Settings] activationPolicy → .accessory (menu bar only)\n");

  Defaults::shared().reload();
  EXPECT_EQ(Lang::current(), AppLanguage::en);
  SettingsStore here;
  EXPECT_EQ(here.language(), AppLanguage::en);
  EXPECT_EQ(here.appearance(), AppearancePreference::light);
  EXPECT_FALSE(here.showInDock());

  here.setLanguage(AppLanguage::zh);
  here.setAppearance(AppearancePreference::dark);
  ASSERT_TRUE(Defaults::shared().flush());
  EXPECT_EQ(runSettingsTool({"get"}).out, "appearance=dark language=zh showInDock=false lang=zh\n");

  EXPECT_EQ(runSettingsTool({"apply-policy"}).out,
            "[Settings] activationPolicy → .accessory (menu bar only)\n");
  EXPECT_EQ(runSettingsTool({"set", "showInDock", "true"}).out,
            "[Settings] activationPolicy → .regular (Dock + menu bar)\n");
  EXPECT_EQ(runSettingsTool({"set", "language", "EN"}).exitCode, 2) << "only the exact raw values are accepted";
}
