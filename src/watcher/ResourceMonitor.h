#pragma once

#include "platform/ProcessUsage.h"
#include "registry/AgentRegistry.h"
#include "watcher/ProcessScanner.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <optional>

namespace tlr {

class EventStore;

// Notices agents that use too much CPU or memory for too long. Every 10
// seconds it samples each monitored agent's process, compares the CPU share
// and resident memory with limits by kind (overridden per agent by the
// registry's protectionSpec.resource), and when a limit has been exceeded
// for its sustain time, outside the cool-down of that agent's measure,
// records a runawayDetected event and logs a line. It only observes: it
// never signals, throttles or restarts. Lives on the main thread.
class ResourceMonitor final : public QObject {
  Q_OBJECT

 public:
  struct Thresholds {
    double cpuLimit = 0;  // percent of one core
    qint64 rssLimitMB = 0;
    qint64 cpuSustainSeconds = 0;
    qint64 rssSustainSeconds = 0;
    qint64 cooldownSeconds = 0;

    bool operator==(const Thresholds&) const = default;
  };

  using UsageReader = std::function<std::optional<ProcessUsage>(pid_t)>;
  // Monotonic seconds.
  using Clock = std::function<double()>;

  static constexpr int samplePeriod = 10;

  // `eventStore` is held weakly: once it is gone, alerts are only logged.
  explicit ResourceMonitor(EventStore& eventStore, QObject* parent = nullptr);
  ResourceMonitor(EventStore& eventStore, UsageReader reader, Clock clock, QObject* parent = nullptr);

  static Thresholds defaultThresholds(AgentEntry::Kind kind);
  // The kind's defaults with the registry entry's resource overrides.
  static Thresholds thresholds(const AgentEntry& running, const AgentRegistry& registry);

  // Starts the 10-second sampling; a second call changes nothing.
  void start();
  // Replaces the monitored agents with the scan's (one record per agent).
  // Agents that dropped out lose their counters and cool-downs.
  void setAgents(const QList<RunningAgent>& running, const AgentRegistry& registry);
  // One sampling tick (what the timer runs).
  void sampleAll();

  bool isMonitoring(const QString& agentId) const { return monitored_.contains(agentId); }

 private:
  struct OverState {
    qint64 seconds = 0;
    std::optional<double> lastAlert;  // clock seconds
  };
  struct Monitored {
    pid_t pid = 0;
    Thresholds thresholds;
    // The previous reading of this pid, for the CPU share between samples.
    std::optional<ProcessUsage> lastUsage;
    double lastUsageAt = 0;
  };

  // One measure against its limit; true when an alert is due.
  bool checkOver(QHash<QString, OverState>& states, const QString& agentId, bool over, qint64 sustainSeconds,
                 qint64 cooldownSeconds, double now);
  void emitRunaway(const QString& agentId, const QString& kind, qint64 value);

  QPointer<EventStore> eventStore_;
  UsageReader reader_;
  Clock clock_;
  QTimer timer_;
  QHash<QString, OverState> cpuOverState_;
  QHash<QString, OverState> rssOverState_;
  QHash<QString, Monitored> monitored_;
  QStringList order_;  // monitored agent ids in scan order
};

}  // namespace tlr
