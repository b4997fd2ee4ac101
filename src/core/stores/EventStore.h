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
#include <QHash>
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
// appended event at once. The log is held in the defaults event by event
// (Defaults::insertElement), so an append hands the defaults the text of
// one event, and the defaults write it on their own thread, a burst in one
// write: what an append costs does not grow with the log. flush() (at quit)
// waits until the defaults have written it. Of a stored log that cannot be
// read in full, the events that decode are kept (none when it is not a JSON
// array of events) and a line says so; the first append moves the stored
// log whole to "TLR.events.undecodable" rather than losing it. An event's
// time must lie between 1970 and the year 9999, and its details are cut at
// 2000 characters. Lives on the main thread; observers learn of every change
// through eventsChanged.
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
  // Waits until the defaults have written the log.
  ~EventStore() override;

  Defaults& defaults() const { return defaults_; }
  const QList<AgentEvent>& events() const { return events_; }

  // Adds the event, trims every agent to maxPerAgent, has the log stored and
  // writes one "[Event] " line.
  void append(const AgentEvent& event);
  // Waits until every append has been written (at quit).
  void flush();
  // The agent's newest event (the first of it in events()).
  std::optional<AgentEvent> lastEvent(const QString& agentId) const;
  // The agent's newest events, at most `limit`.
  QList<AgentEvent> recentEvents(const QString& agentId, int limit) const;

  // The stored form: a compact JSON array, newest first.
  static QByteArray encode(const QList<AgentEvent>& events);
  // One element of it.
  static QByteArray encode(const AgentEvent& event);
  // The events that decode, and how many did not (-1: no JSON array at all).
  struct Decoded {
    QList<AgentEvent> events;
    qsizetype undecodable = 0;
  };
  static Decoded decode(const QByteArray& json);

 Q_SIGNALS:
  void eventsChanged(const QList<tlr::AgentEvent>& events);

 private:
  // Before the first append: puts a loaded log in order and hands the
  // defaults the log element by element.
  void takeOver();
  // Notes `event`, at `index` of events_, as its agent's first when it is.
  void noteFirst(const AgentEvent& event);

  Defaults& defaults_;
  QList<AgentEvent> events_;
  // Whether events_ is newest first with at most maxPerAgent for each agent,
  // and the defaults hold it element by element, as every append leaves it;
  // a log loaded as stored may be neither.
  bool inOrder_ = false;
  // Until the first append: the stored text of each loaded event, and the
  // stored log when part of it did not decode (set aside then).
  QList<QByteArray> loadedTexts_;
  std::optional<QJsonValue> undecodable_;
  // Whether the defaults hold, element by element, exactly the loaded events.
  bool storedAsLoaded_ = false;
  // Each agent's count and first event in events_.
  QHash<QString, int> counts_;
  QHash<QString, AgentEvent> first_;
};

}  // namespace tlr
