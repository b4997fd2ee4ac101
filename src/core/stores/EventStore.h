#pragma once

#include "platform/Defaults.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <optional>

namespace tlr {

enum class AgentEventType {
  started,
  exitedNormal,
  exitedAbnormal,
  recovered,
  throttled,
  restarted,
  killedByOOM,
  oomRecovered,
  lockOnlineEnabled,
  lockOnlineDisabled,
  hangDetected,
  runawayDetected,
  zombieRecovered,
};

// The stored text: the case name ("exitedNormal").
QString toString(AgentEventType type);
std::optional<AgentEventType> agentEventTypeFromString(const QString& text);

// One entry of the event log.
struct AgentEvent {
  QUuid id;
  QString agentId;
  AgentEventType type = AgentEventType::started;
  // Seconds since 2001-01-01 00:00:00 UTC, the way the log stores them.
  double timestamp = 0;
  // Absent and empty differ: an empty text is present.
  std::optional<QString> details;

  bool operator==(const AgentEvent&) const = default;

  // A new event: a fresh random id and the current time.
  static AgentEvent make(const QString& agentId, AgentEventType type,
                         std::optional<QString> details = std::nullopt);
  // The current time as a timestamp.
  static double now();
  QDateTime date() const;
};

// The per-agent event log: newest first, at most maxPerAgent events for each
// agent id, kept in the user defaults under "TLR.events" and written through
// on every append. Of a stored log that cannot be read in full, the events
// that decode are kept (none when it is not a JSON array of events) and a
// line says so; the first append moves the stored log whole to
// "TLR.events.undecodable" rather than losing it. An event's time must lie
// between 1970 and the year 9999, and its details are cut at 2000 characters.
// Lives on the main thread; observers learn of every change through
// eventsChanged.
class EventStore : public QObject {
  Q_OBJECT

 public:
  static constexpr int maxPerAgent = 50;
  static inline const QString defaultsKey = QStringLiteral("TLR.events");
  static inline const QString undecodableKey = QStringLiteral("TLR.events.undecodable");

  // The store of the current user's defaults.
  static EventStore& shared();
  // A store over `defaults`, loaded from it.
  explicit EventStore(Defaults& defaults, QObject* parent = nullptr);

  Defaults& defaults() const { return defaults_; }
  const QList<AgentEvent>& events() const { return events_; }

  // Adds the event, trims every agent to maxPerAgent, stores the log and
  // writes one "[Event] " line.
  void append(const AgentEvent& event);
  // The agent's newest event.
  std::optional<AgentEvent> lastEvent(const QString& agentId) const;
  // The agent's newest events, at most `limit`.
  QList<AgentEvent> recentEvents(const QString& agentId, int limit) const;

  // The stored form: a compact JSON array, newest first.
  static QByteArray encode(const QList<AgentEvent>& events);
  // The events that decode, and how many did not (-1: no JSON array at all).
  struct Decoded {
    QList<AgentEvent> events;
    qsizetype undecodable = 0;
  };
  static Decoded decode(const QByteArray& json);

 Q_SIGNALS:
  void eventsChanged(const QList<tlr::AgentEvent>& events);

 private:
  void setEvents(QList<AgentEvent> events);

  Defaults& defaults_;
  QList<AgentEvent> events_;
  // The stored log that did not decode, until the first append sets it aside.
  std::optional<QJsonValue> undecodable_;
};

}  // namespace tlr
