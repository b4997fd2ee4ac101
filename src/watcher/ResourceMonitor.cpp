#include "watcher/ResourceMonitor.h"

#include "core/stores/EventStore.h"
#include "core/stores/SettingsStore.h"
#include "core/texts/LocKey.h"
#include "platform/Log.h"

#include <chrono>
#include <cmath>

namespace tlr {
namespace {

const QString kCpuKind = QStringLiteral("CPU");
const QString kMemoryKind = QStringLiteral("内存");

double steadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

ResourceMonitor::ResourceMonitor(EventStore& eventStore, QObject* parent)
    : ResourceMonitor(eventStore, &readProcessUsage, &steadySeconds, parent) {}

ResourceMonitor::ResourceMonitor(EventStore& eventStore, UsageReader reader, Clock clock, QObject* parent)
    : QObject(parent), eventStore_(&eventStore), reader_(std::move(reader)), clock_(std::move(clock)) {
  timer_.setInterval(samplePeriod * 1000);
  connect(&timer_, &QTimer::timeout, this, &ResourceMonitor::sampleAll);
}

ResourceMonitor::Thresholds ResourceMonitor::defaultThresholds(AgentEntry::Kind kind) {
  if (kind == AgentEntry::Kind::desktopApp) return {400.0, 8192, 120, 120, 1800};
  return {90.0, 4096, 30, 60, 1800};
}

ResourceMonitor::Thresholds ResourceMonitor::thresholds(const AgentEntry& running, const AgentRegistry& registry) {
  Thresholds limits = defaultThresholds(running.kind);
  const std::optional<AgentEntry> entry = registry.lookup(running.id);
  if (!entry || !entry->protectionSpec || !entry->protectionSpec->resource) return limits;
  const AgentEntry::ProtectionSpec::Resource& resource = *entry->protectionSpec->resource;
  if (resource.cpuLimit) limits.cpuLimit = static_cast<double>(*resource.cpuLimit);
  if (resource.rssLimitMB) limits.rssLimitMB = *resource.rssLimitMB;
  if (resource.cooldownSeconds) limits.cooldownSeconds = *resource.cooldownSeconds;
  return limits;
}

void ResourceMonitor::start() {
  if (!timer_.isActive()) timer_.start();
}

void ResourceMonitor::setAgents(const QList<RunningAgent>& running, const AgentRegistry& registry) {
  QHash<QString, Monitored> next;
  QStringList order;
  for (const RunningAgent& agent : running) {
    const QString& id = agent.entry.id;
    Monitored monitored{agent.pid, thresholds(agent.entry, registry), std::nullopt, 0};
    // Keep the last reading of a process still monitored, so its CPU share
    // is measured across scans.
    const auto previous = monitored_.constFind(id);
    if (previous != monitored_.cend() && previous->pid == agent.pid) {
      monitored.lastUsage = previous->lastUsage;
      monitored.lastUsageAt = previous->lastUsageAt;
    } else {
      // A process new to the monitor is read once now, so that its first
      // sample already has a CPU share: otherwise an overload would take one
      // sample period longer than its sustain time to be noticed.
      monitored.lastUsage = reader_(agent.pid);
      monitored.lastUsageAt = clock_();
    }
    if (!next.contains(id)) order << id;
    next.insert(id, monitored);
  }
  for (const QString& id : std::as_const(order_)) {
    if (next.contains(id)) continue;
    cpuOverState_.remove(id);
    rssOverState_.remove(id);
  }
  monitored_ = std::move(next);
  order_ = std::move(order);
}

void ResourceMonitor::sampleAll() {
  for (const QString& id : std::as_const(order_)) {
    Monitored& agent = monitored_[id];
    const std::optional<ProcessUsage> usage = reader_(agent.pid);
    if (!usage) continue;
    const double now = clock_();
    // Without an earlier reading (the process could not be read when it
    // joined) there is nothing to measure the CPU time against yet.
    std::optional<double> cpu;
    if (agent.lastUsage) cpu = usage->cpuPercentSince(*agent.lastUsage, now - agent.lastUsageAt);
    agent.lastUsage = usage;
    agent.lastUsageAt = now;
    const qint64 rssMB = usage->residentKiB / 1024;
    const Thresholds& limits = agent.thresholds;

    if (cpu && checkOver(cpuOverState_, id, *cpu > limits.cpuLimit, limits.cpuSustainSeconds,
                         limits.cooldownSeconds, now))
      emitRunaway(id, kCpuKind, static_cast<qint64>(std::trunc(*cpu)));
    if (checkOver(rssOverState_, id, rssMB > limits.rssLimitMB, limits.rssSustainSeconds, limits.cooldownSeconds,
                  now))
      emitRunaway(id, kMemoryKind, rssMB);
  }
}

bool ResourceMonitor::checkOver(QHash<QString, OverState>& states, const QString& agentId, bool over,
                                qint64 sustainSeconds, qint64 cooldownSeconds, double now) {
  if (!over) {
    const auto state = states.find(agentId);
    if (state != states.end() && state->seconds > 0) state->seconds = 0;
    return false;
  }
  OverState& state = states[agentId];
  state.seconds += samplePeriod;
  if (state.seconds < sustainSeconds) return false;
  if (state.lastAlert && now - *state.lastAlert < static_cast<double>(cooldownSeconds)) return false;
  state.seconds = 0;
  state.lastAlert = now;
  return true;
}

void ResourceMonitor::emitRunaway(const QString& agentId, const QString& kind, qint64 value) {
  if (eventStore_) {
    const QString details = SettingsStore::shared().text(LocKey::resourceRunawayDetails(kind, value));
    // Memory is named by its own key, so the history says it in its language.
    const EventText text = kind == QStringLiteral("内存")
                               ? EventText::of(LocKey::resourceRunawayDetails({}, value), 0,
                                               EventText::of(LocKey::detailFieldMemory()))
                               : EventText::of(LocKey::resourceRunawayDetails(kind, value));
    eventStore_->append(AgentEvent::make(agentId, AgentEventType::runawayDetected, details, text));
  }
  log("[ResourceMonitor] ", QStringLiteral("runaway: %1 %2 = %3").arg(agentId, kind, QString::number(value)));
}

}  // namespace tlr
