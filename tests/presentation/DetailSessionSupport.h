#pragma once

#include "core/agents/SetupCatalog.h"
#include "core/stores/DoctorResultStore.h"
#include "core/stores/EventStore.h"
#include "core/stores/LockOnlineStore.h"
#include "core/stores/SettingsStore.h"
#include "platform/Defaults.h"
#include "presentation/AgentDetailSession.h"
#include "presentation/DashboardActions.h"
#include "presentation/DashboardAgentItem.h"

#include "support/RegistryJson.h"
#include "support/TestSupport.h"

#include <QTimeZone>

#include <gtest/gtest.h>

namespace tlr::test {

// The dashboard's side of an agent's detail: records every call and keeps
// each completion until the test answers it.
struct RecordingCallbacks {
  QStringList calls;
  QList<AgentActions::LaunchCompletion> launches;
  QList<AgentActions::StopCompletion> stops;
  QList<AgentActions::DoctorCompletion> doctors;
  QList<AgentActions::FixCompletion> fixes;
  QList<AgentDoctor::KnownIssue> fixedIssues;

  AgentDetailCallbacks make() {
    AgentDetailCallbacks c;
    c.onClose = [this] { calls << "close"; };
    c.onSetup = [this] { calls << "setup"; };
    c.onRestart = [this] { calls << "restart"; };
    c.onDoctor = [this](AgentActions::DoctorCompletion done) {
      calls << "doctor";
      doctors << std::move(done);
    };
    c.onApplyDoctorFix = [this](const AgentDoctor::KnownIssue& issue, AgentActions::FixCompletion done) {
      calls << "fix " + issue.id;
      fixedIssues << issue;
      fixes << std::move(done);
    };
    c.onLaunch = [this](AgentActions::LaunchCompletion done) {
      calls << "launch";
      launches << std::move(done);
    };
    c.onStop = [this](AgentActions::StopCompletion done) {
      calls << "stop";
      stops << std::move(done);
    };
    return c;
  }
  int count(const QString& call) const { return calls.count(call); }
};

// A temporary HOME with its own stores, fakes first on PATH (terminal,
// systemctl, xdg-open), and the interface language chosen per test.
class DetailStoresFixture : public ::testing::Test {
 protected:
  TempHome home;
  FakeBin bin;
  Defaults defaults{home.path() + QStringLiteral("/detail-defaults.json")};
  EventStore events{defaults};
  LockOnlineStore lockOnline{defaults, events, [](const QString&) { return false; }};
  QDateTime now = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
  DoctorResultStore doctorResults{[this] { return now; }};
  RecordingCallbacks callbacks;

  void SetUp() override {
    bin.addRecorder(QStringLiteral("x-terminal-emulator"));
    bin.addRecorder(QStringLiteral("systemctl"));
    bin.addRecorder(QStringLiteral("xdg-open"));
    setLanguage(AppLanguage::en);
  }

  static void setLanguage(AppLanguage language) { SettingsStore::shared().setLanguage(language); }

  AgentDetailSession::Stores stores() {
    AgentDetailSession::Stores s;
    s.lockOnline = &lockOnline;
    s.events = &events;
    s.doctorResults = &doctorResults;
    s.timeZone = QTimeZone("Asia/Shanghai");
    return s;
  }

  static DashboardAgentItem item(const QByteArray& entryJson, bool running = false) {
    DashboardAgentItem row;
    row.entry = entryFromJson(entryJson);
    row.id = row.entry.id;
    row.isRunning = running;
    row.bigStatusText = running ? QStringLiteral("Running") : QStringLiteral("Stopped");
    // As the dashboard's model would have worked it out.
    row.setupAction = SetupCatalog::action(row.entry);
    return row;
  }
};

}  // namespace tlr::test
