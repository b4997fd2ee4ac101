#pragma once

#include "core/texts/LocKey.h"
#include "core/texts/SettingsValues.h"
#include "platform/Defaults.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUuid>

#include <chrono>
#include <memory>
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

// What an event says, kept beside its details: a key of the text table
// ("evDetailUserRestart") and the values its text inserts, each a text, a
// whole number or another such key (the reason within a failure). The
// history says it again in the window's language. Events stored before
// keys were kept have none.
struct EventText {
  QString key;
  QJsonArray values;

  bool operator==(const EventText&) const = default;

  static EventText of(const LocKey& key);
  // `key` with its value at `index` said by `inner`.
  static EventText of(const LocKey& key, std::size_t index, const EventText& inner);
  // The text in `language`; nothing when the key or a value is not one
  // this version knows.
  std::optional<QString> say(AppLanguage language) const;
};

// One entry of the event log.
struct AgentEvent {
  QUuid id;
  QString agentId;
  AgentEventType type = AgentEventType::started;
  // Seconds since 2001-01-01 00:00:00 UTC, the way the log stores them.
  double timestamp = 0;
  // Absent and empty differ: an empty text is present.
  std::optional<QString> details;
  // What the details say, by key ("key" and "values" in the stored form).
  std::optional<EventText> text;

  bool operator==(const AgentEvent&) const = default;

  // A new event: a fresh random id and the current time.
  static AgentEvent make(const QString& agentId, AgentEventType type,
                         std::optional<QString> details = std::nullopt, std::optional<EventText> text = std::nullopt);
  // The current time as a timestamp.
  static double now();
  QDateTime date() const;
};

// The per-agent event log: newest first, at most maxPerAgent events for each
// agent id, kept in the user defaults under "TLR.events". Readers see an
// appended event at once; the log is written off the window thread, once
// for a burst of events (writeDelay after the first, and once more after a
// write that more events followed), and flush() or the destructor writes
// what is still pending at once. Of a stored log that cannot be read in full, the events
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
  // Writes what is pending.
  ~EventStore() override;

  // How long after an append the log is written, so that a burst of events
  // is written once.
  static constexpr std::chrono::milliseconds writeDelay{100};

  Defaults& defaults() const { return defaults_; }
  const QList<AgentEvent>& events() const { return events_; }

  // Adds the event, trims every agent to maxPerAgent, has the log stored and
  // writes one "[Event] " line.
  void append(const AgentEvent& event);
  // Stores the log now when an append has not been stored yet (at quit).
  void flush();
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
  struct Writer;

  void setEvents(QList<AgentEvent> events);
  // Hands the log as it is now to a pool thread, unless a write runs.
  void startWrite();

  Defaults& defaults_;
  QList<AgentEvent> events_;
  // Whether events_ is newest first with at most maxPerAgent for each agent,
  // as every append leaves it; a log loaded as stored may not be.
  bool inOrder_ = false;
  // Shared with the write under way; it also keeps the stored log that did
  // not decode until the first write sets it aside.
  std::shared_ptr<Writer> writer_;
  // Counts the appends; a write stores the log of one count.
  quint64 generation_ = 0;
  bool writing_ = false;
  QTimer writeTimer_;
};

}  // namespace tlr
