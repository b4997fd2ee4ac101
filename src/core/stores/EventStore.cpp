#include "core/stores/EventStore.h"

#include "core/stores/SharedStore.h"
#include "core/texts/LocTexts.h"
#include "platform/Log.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>

namespace tlr {
namespace {

// 2001-01-01 00:00:00 UTC in seconds since 1970.
constexpr double kReferenceDateOffset = 978307200.0;
// The times an event can have: from 1970 to the end of the year 9999, in
// seconds from the reference date. A stored time outside is not a time.
constexpr double kEarliestTimestamp = -kReferenceDateOffset;
constexpr double kLatestTimestamp = 253402300799.0 - kReferenceDateOffset;
// Details longer than this are cut when stored or read: what an event says
// is a line, and the log must stay small.
constexpr qsizetype kMaxDetails = 2000;

std::optional<QString> boundedDetails(std::optional<QString> details) {
  if (details && details->size() > kMaxDetails) {
    const qsizetype kept = details->at(kMaxDetails - 1).isHighSurrogate() ? kMaxDetails - 1 : kMaxDetails;
    details = details->left(kept) + QStringLiteral("…");
  }
  return details;
}

constexpr std::array<std::pair<AgentEventType, const char*>, 13> kTypeNames{{
    {AgentEventType::started, "started"},
    {AgentEventType::exitedNormal, "exitedNormal"},
    {AgentEventType::exitedAbnormal, "exitedAbnormal"},
    {AgentEventType::recovered, "recovered"},
    {AgentEventType::throttled, "throttled"},
    {AgentEventType::restarted, "restarted"},
    {AgentEventType::killedByOOM, "killedByOOM"},
    {AgentEventType::oomRecovered, "oomRecovered"},
    {AgentEventType::lockOnlineEnabled, "lockOnlineEnabled"},
    {AgentEventType::lockOnlineDisabled, "lockOnlineDisabled"},
    {AgentEventType::hangDetected, "hangDetected"},
    {AgentEventType::runawayDetected, "runawayDetected"},
    {AgentEventType::zombieRecovered, "zombieRecovered"},
}};

QString uuidText(const QUuid& id) { return id.toString(QUuid::WithoutBraces).toUpper(); }

// The 8-4-4-4-12 hexadecimal form, either case.
std::optional<QUuid> uuidFromText(const QString& text) {
  if (text.size() != 36) return std::nullopt;
  for (qsizetype i = 0; i < 36; ++i) {
    const char16_t c = text[i].unicode();
    const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
    const bool hex = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    if (hyphen ? c != u'-' : !hex) return std::nullopt;
  }
  return QUuid::fromString(text);
}

std::optional<AgentEvent> decodeEvent(const QJsonValue& value) {
  if (!value.isObject()) return std::nullopt;
  const QJsonObject o = value.toObject();
  const QJsonValue id = o.value(QLatin1String("id")), agentId = o.value(QLatin1String("agentId")),
                   type = o.value(QLatin1String("type")), timestamp = o.value(QLatin1String("timestamp")),
                   details = o.value(QLatin1String("details"));
  if (!id.isString() || !agentId.isString() || !type.isString() || !timestamp.isDouble()) return std::nullopt;
  // NaN fails both comparisons.
  if (!(timestamp.toDouble() >= kEarliestTimestamp && timestamp.toDouble() <= kLatestTimestamp)) return std::nullopt;
  if (!details.isUndefined() && !details.isNull() && !details.isString()) return std::nullopt;
  const auto uuid = uuidFromText(id.toString());
  const auto eventType = agentEventTypeFromString(type.toString());
  if (!uuid || !eventType) return std::nullopt;
  AgentEvent event{*uuid, agentId.toString(), *eventType, timestamp.toDouble(), std::nullopt, std::nullopt};
  if (details.isString()) event.details = boundedDetails(details.toString());
  // A key this version cannot read leaves the event as it was stored
  // before keys were kept.
  const QJsonValue key = o.value(QLatin1String("key")), values = o.value(QLatin1String("values"));
  if (key.isString() && (values.isUndefined() || values.isArray()))
    event.text = EventText{key.toString(), values.toArray()};
  return event;
}

bool newerFirst(const AgentEvent& a, const AgentEvent& b) { return a.timestamp > b.timestamp; }

constexpr int kMaxTextDepth = 3;

QJsonObject textObject(const EventText& text) {
  QJsonObject o{{QStringLiteral("key"), text.key}};
  if (!text.values.isEmpty()) o.insert(QStringLiteral("values"), text.values);
  return o;
}

std::optional<QString> say(const EventText& text, AppLanguage language, int depth) {
  if (depth > kMaxTextDepth || text.values.size() > 3) return std::nullopt;
  std::array<LocKey::Value, 3> values;
  for (qsizetype i = 0; i < text.values.size(); ++i) {
    const QJsonValue v = text.values[i];
    if (v.isString()) {
      values[i] = v.toString();
    } else if (v.isDouble()) {
      const double n = v.toDouble();
      if (n != std::floor(n) || std::abs(n) > 9007199254740992.0) return std::nullopt;
      values[i] = static_cast<qint64>(n);
    } else if (v.isObject() && v.toObject().value(QLatin1String("key")).isString()) {
      const QJsonObject o = v.toObject();
      const auto inner = say(EventText{o.value(QLatin1String("key")).toString(), o.value(QLatin1String("values")).toArray()},
                             language, depth + 1);
      if (!inner) return std::nullopt;
      values[i] = *inner;
    } else {
      return std::nullopt;
    }
  }
  const std::optional<LocKey> key = LocKey::fromStored(text.key, std::move(values));
  if (!key) return std::nullopt;
  return LocTexts::text(language, *key);
}

}  // namespace

EventText EventText::of(const LocKey& key) {
  EventText text{QString::fromLatin1(LocKey::name(key.id())), {}};
  QJsonArray values;
  for (const LocKey::Value& value : key.values()) {
    if (const auto* s = std::get_if<QString>(&value))
      values.append(*s);
    else if (const auto* n = std::get_if<qint64>(&value))
      values.append(static_cast<double>(*n));
    else if (const auto* d = std::get_if<double>(&value))
      values.append(*d);
    else
      break;
  }
  text.values = values;
  return text;
}

EventText EventText::of(const LocKey& key, std::size_t index, const EventText& inner) {
  EventText text = of(key);
  if (index < static_cast<std::size_t>(text.values.size())) text.values[static_cast<qsizetype>(index)] = textObject(inner);
  return text;
}

std::optional<QString> EventText::say(AppLanguage language) const { return tlr::say(*this, language, 0); }

QString toString(AgentEventType type) {
  for (const auto& [t, name] : kTypeNames)
    if (t == type) return QString::fromLatin1(name);
  return {};
}

std::optional<AgentEventType> agentEventTypeFromString(const QString& text) {
  for (const auto& [t, name] : kTypeNames)
    if (text == QLatin1String(name)) return t;
  return std::nullopt;
}

double AgentEvent::now() {
  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration<double>(sinceEpoch).count() - kReferenceDateOffset;
}

QDateTime AgentEvent::date() const {
  // Kept within the times an event can have, so the conversion is defined
  // whatever the number holds.
  const double seconds = std::isnan(timestamp) ? 0 : std::clamp(timestamp, kEarliestTimestamp, kLatestTimestamp);
  return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>((seconds + kReferenceDateOffset) * 1000.0), Qt::UTC);
}

AgentEvent AgentEvent::make(const QString& agentId, AgentEventType type, std::optional<QString> details,
                            std::optional<EventText> text) {
  return AgentEvent{QUuid::createUuid(), agentId, type, now(), boundedDetails(std::move(details)), std::move(text)};
}

EventStore& EventStore::shared() {
  return sharedPerDefaults<EventStore>([](Defaults& d) { return std::make_unique<EventStore>(d); });
}

EventStore::EventStore(Defaults& defaults, QObject* parent) : QObject(parent), defaults_(defaults) {
  // What decodes is kept; the stored log itself, when any of it does not
  // decode, stays where it is until the next append sets it aside whole.
  const QJsonValue stored = defaults_.value(defaultsKey);
  if (stored.isUndefined() || stored.isNull()) return;
  qsizetype undecodable = -1;
  QJsonArray array;
  if (stored.isString()) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(stored.toString().toUtf8(), &error);
    if (error.error == QJsonParseError::NoError && doc.isArray()) {
      array = doc.array();
      undecodable = 0;
    }
  }
  // Each event keeps its stored text, and the defaults go on with the log
  // as it is, element by element.
  const std::optional<QList<QByteArray>> texts =
      undecodable == 0 ? defaults_.elementsOf(defaultsKey) : std::optional<QList<QByteArray>>{};
  storedAsLoaded_ = texts && texts->size() == array.size();
  for (qsizetype i = 0; undecodable >= 0 && i < array.size(); ++i) {
    std::optional<AgentEvent> event = decodeEvent(array[i]);
    if (!event) {
      ++undecodable;
      continue;
    }
    loadedTexts_ << (storedAsLoaded_ ? (*texts)[i] : encode(*event));
    events_ << std::move(*event);
  }
  for (const AgentEvent& e : std::as_const(events_))
    if (!first_.contains(e.agentId)) first_.insert(e.agentId, e);
  if (undecodable == 0) return;
  storedAsLoaded_ = false;
  undecodable_ = stored;
  log("[Event] ", (undecodable < 0 ? QStringLiteral("事件记录无法解码，从空记录开始")
                                    : QStringLiteral("事件记录中 %1 条无法解码，保留其余 %2 条")
                                          .arg(undecodable)
                                          .arg(events_.size())) +
                      QStringLiteral("；原记录将在下次记录时原样移到 ") + undecodableKey);
}

EventStore::~EventStore() { flush(); }

QByteArray EventStore::encode(const AgentEvent& e) {
  QJsonObject o{{QStringLiteral("id"), uuidText(e.id)},
                {QStringLiteral("agentId"), e.agentId},
                {QStringLiteral("type"), toString(e.type)},
                {QStringLiteral("timestamp"), e.timestamp}};
  if (e.details) o.insert(QStringLiteral("details"), *e.details);
  if (e.text) {
    const QJsonObject text = textObject(*e.text);
    for (auto it = text.begin(); it != text.end(); ++it) o.insert(it.key(), it.value());
  }
  return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray EventStore::encode(const QList<AgentEvent>& events) {
  QByteArray text = "[";
  for (qsizetype i = 0; i < events.size(); ++i) {
    if (i > 0) text += ',';
    text += encode(events[i]);
  }
  return text + ']';
}

EventStore::Decoded EventStore::decode(const QByteArray& json) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
  if (error.error != QJsonParseError::NoError || !doc.isArray()) return {{}, -1};
  Decoded decoded;
  for (const QJsonValue& v : doc.array()) {
    if (auto event = decodeEvent(v))
      decoded.events << std::move(event).value();
    else
      ++decoded.undecodable;
  }
  return decoded;
}

namespace {

// The positions of `events` newest first, at most maxPerAgent of each
// agent; events of one time keep the order they have in `events`.
QList<qsizetype> normalizedOrder(const QList<AgentEvent>& events) {
  QStringList order;
  QHash<QString, QList<qsizetype>> groups;
  for (qsizetype i = 0; i < events.size(); ++i) {
    auto it = groups.find(events[i].agentId);
    if (it == groups.end()) {
      order << events[i].agentId;
      it = groups.insert(events[i].agentId, {});
    }
    it->append(i);
  }
  const auto newer = [&](qsizetype a, qsizetype b) { return newerFirst(events[a], events[b]); };
  QList<qsizetype> kept;
  kept.reserve(events.size());
  for (const QString& agentId : std::as_const(order)) {
    QList<qsizetype>& group = groups[agentId];
    std::stable_sort(group.begin(), group.end(), newer);
    kept += group.mid(0, EventStore::maxPerAgent);
  }
  std::stable_sort(kept.begin(), kept.end(), newer);
  return kept;
}

// Whether `events` is newest first with at most maxPerAgent of each agent.
bool isNormalized(const QList<AgentEvent>& events) {
  QHash<QString, int> counts;
  for (qsizetype i = 0; i < events.size(); ++i) {
    if (i > 0 && newerFirst(events[i], events[i - 1])) return false;
    if (++counts[events[i].agentId] > EventStore::maxPerAgent) return false;
  }
  return true;
}

}  // namespace

void EventStore::takeOver() {
  // The stored log, part of which did not decode, is set aside before
  // anything replaces it.
  if (undecodable_) defaults_.set(undecodableKey, *undecodable_);
  if (!storedAsLoaded_ || !isNormalized(events_)) {
    QList<AgentEvent> events;
    QList<QByteArray> texts;
    for (const qsizetype i : normalizedOrder(events_)) {
      events << events_[i];
      texts << loadedTexts_[i];
    }
    events_ = std::move(events);
    // The defaults hold the stored log element by element already when all
    // of it decoded and it was in order; otherwise they are handed it once.
    defaults_.setElements(defaultsKey, std::move(texts));
  }
  undecodable_.reset();
  loadedTexts_.clear();
  counts_.clear();
  first_.clear();
  for (const AgentEvent& e : std::as_const(events_)) {
    ++counts_[e.agentId];
    if (!first_.contains(e.agentId)) first_.insert(e.agentId, e);
  }
  inOrder_ = true;
}

void EventStore::append(const AgentEvent& event) {
  if (!inOrder_) takeOver();
  // The event goes after every one at least as new (where a stable sort of
  // the whole log would put it), and its agent's oldest goes when it has one
  // too many: a burst of exits costs the window thread little however long
  // the log.
  const qsizetype at = std::partition_point(events_.cbegin(), events_.cend(),
                                            [&](const AgentEvent& e) { return !newerFirst(event, e); }) -
                       events_.cbegin();
  events_.insert(at, event);
  defaults_.insertElement(defaultsKey, at, encode(event));
  int& count = counts_[event.agentId];
  if (++count > maxPerAgent) {
    // The agent's oldest, found from the end, where the oldest events are.
    qsizetype oldest = events_.size() - 1;
    while (events_[oldest].agentId != event.agentId) --oldest;
    events_.removeAt(oldest);
    defaults_.removeElement(defaultsKey, oldest);
    --count;
    if (oldest != at) noteFirst(event);
  } else {
    noteFirst(event);
  }
  Q_EMIT eventsChanged(events_);

  QString line = event.agentId + QStringLiteral(" · ") + toString(event.type);
  if (event.details) line += QStringLiteral(" · ") + *event.details;
  log("[Event] ", line);
}

void EventStore::noteFirst(const AgentEvent& event) {
  // Events of one time keep their order: the new one comes after them.
  const auto found = first_.constFind(event.agentId);
  if (found == first_.cend() || newerFirst(event, *found)) first_.insert(event.agentId, event);
}

void EventStore::flush() { static_cast<void>(defaults_.flush()); }

std::optional<AgentEvent> EventStore::lastEvent(const QString& agentId) const {
  const auto found = first_.constFind(agentId);
  if (found == first_.cend()) return std::nullopt;
  return *found;
}

QList<AgentEvent> EventStore::recentEvents(const QString& agentId, int limit) const {
  QList<AgentEvent> out;
  for (const AgentEvent& e : events_) {
    if (out.size() >= limit) break;
    if (e.agentId == agentId) out << e;
  }
  return out;
}

}  // namespace tlr
