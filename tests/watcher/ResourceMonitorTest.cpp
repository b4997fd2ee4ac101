#include "core/stores/EventStore.h"
#include "registry/RegistryLoader.h"
#include "support/TestSupport.h"
#include "watcher/ResourceMonitor.h"

#include <gtest/gtest.h>

#include <QHash>

using namespace tlr;

namespace {

AgentEntry agent(const QString& id, AgentEntry::Kind kind) {
  AgentEntry entry;
  entry.id = id;
  entry.displayName = id;
  entry.kind = kind;
  return entry;
}

// A registry of cli agents "a" and "b" with these resource settings.
std::shared_ptr<const AgentRegistry> registryWith(const char* resourceOfA, const char* resourceOfB = "{}") {
  const auto loaded = RegistryLoader::loadData(QStringLiteral(R"({"schemaVersion":1,"updatedAt":"x","agents":[
    {"id":"a","displayName":"A","vendor":"v","kind":"cli","identify":{"executableNames":["a"]},
     "protectionSpec":{"resource":%1}},
    {"id":"b","displayName":"B","vendor":"v","kind":"cli","identify":{"executableNames":["b"]},
     "protectionSpec":{"resource":%2}}]})")
                                                   .arg(QLatin1String(resourceOfA), QLatin1String(resourceOfB))
                                                   .toUtf8());
  return std::get<std::shared_ptr<const AgentRegistry>>(loaded);
}

RunningAgent running(const AgentEntry& entry, pid_t pid) {
  RunningAgent r;
  r.entry = entry;
  r.pid = pid;
  return r;
}

// A monitor over scripted processes: each sample advances the clock by the
// sampling period and each process by the CPU share and memory set for it.
class ResourceMonitorTest : public ::testing::Test {
 protected:
  ResourceMonitorTest()
      : defaults_(home_.path() + "/defaults.json"),
        store_(defaults_),
        monitor_(store_, [this](pid_t pid) { return usage(pid); }, [this] { return now_; }) {}

  void setLoad(pid_t pid, double cpuPercent, qint64 rssMB) {
    load_[pid] = {cpuPercent, rssMB};
  }
  void tick() {
    now_ += ResourceMonitor::samplePeriod;
    for (auto it = load_.begin(); it != load_.end(); ++it)
      cpuSeconds_[it.key()] += it->cpu / 100.0 * ResourceMonitor::samplePeriod;
    monitor_.sampleAll();
  }
  QList<AgentEvent> runaways() const { return store_.events(); }

  test::TempHome home_;
  Defaults defaults_;
  EventStore store_;
  ResourceMonitor monitor_;
  AgentRegistry registry_{RegistryFile{}};

 private:
  struct Load {
    double cpu = 0;
    qint64 rssMB = 0;
  };
  std::optional<ProcessUsage> usage(pid_t pid) const {
    if (!load_.contains(pid)) return std::nullopt;
    // Each pid stands for one process, started at a time of its own.
    return ProcessUsage{cpuSeconds_.value(pid), load_[pid].rssMB * 1024, static_cast<quint64>(pid)};
  }
  double now_ = 1000;
  QHash<pid_t, Load> load_;
  QHash<pid_t, double> cpuSeconds_;
};

}  // namespace

TEST_F(ResourceMonitorTest, CliAgentSpinningAfterIdlingIsCaughtAtTheThirdSampleAbove) {
  const AgentEntry cli = agent("spinner", AgentEntry::Kind::cli);
  monitor_.setAgents({running(cli, 100)}, registry_);
  setLoad(100, 0, 10);
  tick();  // first reading: nothing to compare CPU time with yet
  tick();
  setLoad(100, 95, 10);
  tick();
  tick();
  EXPECT_TRUE(runaways().isEmpty());
  tick();
  ASSERT_EQ(runaways().size(), 1);
  EXPECT_EQ(runaways()[0].type, AgentEventType::runawayDetected);
  EXPECT_EQ(runaways()[0].agentId, "spinner");
  EXPECT_EQ(runaways()[0].text, EventText::of(LocKey::resourceRunawayDetails("CPU", 95)));
  // Still spinning: the sustain time passes again and again, but the next
  // alert waits for the end of the 1800-second cool-down.
  for (int i = 0; i < 179; ++i) tick();
  EXPECT_EQ(runaways().size(), 1) << "the cool-down holds the next alert back";
  tick();
  EXPECT_EQ(runaways().size(), 2);
}

TEST_F(ResourceMonitorTest, AgentAlreadySpinningWhenItJoinsIsCaughtAfterTheSustainTime) {
  const AgentEntry cli = agent("busy", AgentEntry::Kind::cli);
  setLoad(100, 0, 10);
  monitor_.setAgents({running(cli, 100)}, registry_);
  tick();
  // Relaunched under a new pid, spinning from the start: the old process's
  // reading is no measure for the new one.
  setLoad(200, 95, 10);
  monitor_.setAgents({running(cli, 200)}, registry_);
  tick();
  tick();
  EXPECT_TRUE(runaways().isEmpty());
  tick();
  EXPECT_EQ(runaways().size(), 1) << "three samples above the limit are the 30 seconds of its sustain time";
}

TEST_F(ResourceMonitorTest, DipOrAlertRestartsTheCountAndLimitItselfIsNotAbove) {
  const AgentEntry cli = agent("a", AgentEntry::Kind::cli);
  monitor_.setAgents({running(cli, 7)}, *registryWith(R"({"cooldownSeconds":0})"));
  setLoad(7, 95, 10);
  tick();
  tick();
  tick();
  setLoad(7, 90, 10);  // exactly the limit
  tick();
  setLoad(7, 95, 10);
  tick();
  tick();
  EXPECT_TRUE(runaways().isEmpty());
  tick();
  EXPECT_EQ(runaways().size(), 1);
  // No cool-down: the next alert takes a whole sustain time again.
  tick();
  tick();
  EXPECT_EQ(runaways().size(), 1);
  tick();
  EXPECT_EQ(runaways().size(), 2);
}

TEST_F(ResourceMonitorTest, DesktopAppHasHigherLimitsAndMemoryIsCheckedFromTheFirstSample) {
  const AgentEntry app = agent("editor", AgentEntry::Kind::desktopApp);
  monitor_.setAgents({running(app, 9)}, registry_);
  setLoad(9, 350, 9000);
  for (int i = 0; i < 11; ++i) tick();
  EXPECT_TRUE(runaways().isEmpty());
  tick();
  ASSERT_EQ(runaways().size(), 1);
  // Memory is named by its own key, so the history says it in its language.
  EXPECT_EQ(runaways()[0].text,
            EventText::of(LocKey::resourceRunawayDetails({}, 9000), 0, EventText::of(LocKey::detailFieldMemory())));
}

TEST_F(ResourceMonitorTest, AgentLeavingTheScanForgetsItsCoolDown) {
  const AgentEntry cli = agent("a", AgentEntry::Kind::cli);
  monitor_.setAgents({running(cli, 5)}, registry_);
  setLoad(5, 95, 10);
  for (int i = 0; i < 4; ++i) tick();
  ASSERT_EQ(runaways().size(), 1);
  monitor_.setAgents({}, registry_);
  EXPECT_FALSE(monitor_.isMonitoring("a"));
  monitor_.setAgents({running(cli, 5)}, registry_);
  for (int i = 0; i < 4; ++i) tick();
  EXPECT_EQ(runaways().size(), 2);
}

TEST(ResourceMonitorThresholds, RegistryOverridesOnlyWhatItSets) {
  const auto registry = registryWith(R"({"cpuLimit":150})", R"({"rssLimitMB":2048,"cooldownSeconds":300})");
  const QList<AgentEntry> agents = registry->visibleAgents();
  ASSERT_EQ(agents.size(), 2);
  using Thresholds = ResourceMonitor::Thresholds;
  EXPECT_EQ(ResourceMonitor::thresholds(agents[0], *registry), (Thresholds{150.0, 4096, 30, 60, 1800}));
  EXPECT_EQ(ResourceMonitor::thresholds(agents[1], *registry), (Thresholds{90.0, 2048, 30, 60, 300}));
}

TEST(ProcessUsageReading, OwnProcessIsReadAndAReusedPidGivesNoShare) {
  const std::optional<ProcessUsage> self = readProcessUsage(::getpid());
  ASSERT_TRUE(self.has_value());
  EXPECT_GT(self->residentKiB, 0);
  ProcessUsage other = *self;
  other.startTicks += 1;
  EXPECT_FALSE(self->cpuPercentSince(other, 10).has_value());
  ProcessUsage later = *self;
  later.cpuSeconds += 5;
  EXPECT_DOUBLE_EQ(*later.cpuPercentSince(*self, 10), 50.0);
  EXPECT_FALSE(readProcessUsage(-1).has_value());
}
