#include "registry/AgentEntry.h"

#include "platform/Defaults.h"
#include "platform/PathNames.h"

#include <array>
#include <utility>

namespace tlr {

namespace {

template <class E, std::size_t N>
using RawTable = std::array<std::pair<E, const char*>, N>;

constexpr RawTable<AgentEntry::Kind, 3> kKinds{{
    {AgentEntry::Kind::desktopApp, "desktop-app"},
    {AgentEntry::Kind::cli, "cli"},
    {AgentEntry::Kind::idePlugin, "ide-plugin"},
}};
constexpr RawTable<AgentEntry::ServiceKind, 2> kServiceKinds{{
    {AgentEntry::ServiceKind::repl, "repl"},
    {AgentEntry::ServiceKind::gateway, "gateway"},
}};
constexpr RawTable<AgentEntry::Recover::Strategy, 3> kStrategies{{
    {AgentEntry::Recover::Strategy::openApp, "open-app"},
    {AgentEntry::Recover::Strategy::execCli, "exec-cli"},
    {AgentEntry::Recover::Strategy::openUrlScheme, "open-url-scheme"},
}};
constexpr RawTable<AgentEntry::Feedback::Format, 3> kFormats{{
    {AgentEntry::Feedback::Format::jsonl, "jsonl"},
    {AgentEntry::Feedback::Format::text, "text"},
    {AgentEntry::Feedback::Format::json, "json"},
}};

template <class E, std::size_t N>
QString toRaw(const RawTable<E, N>& table, E value) {
  for (const auto& [c, raw] : table) {
    if (c == value) return QString::fromLatin1(raw);
  }
  return QString();
}

template <class E, std::size_t N>
std::optional<E> fromRaw(const RawTable<E, N>& table, const QString& raw) {
  for (const auto& [c, text] : table) {
    if (raw == QLatin1String(text)) return c;
  }
  return std::nullopt;
}

template <class E, std::size_t N>
QStringList allRaw(const RawTable<E, N>& table) {
  QStringList out;
  for (const auto& entry : table) out << QString::fromLatin1(entry.second);
  return out;
}

bool nonEmpty(const std::optional<QString>& s) { return s && !s->isEmpty(); }

}  // namespace

QString rawValue(AgentEntry::Kind kind) { return toRaw(kKinds, kind); }
QString rawValue(AgentEntry::ServiceKind kind) { return toRaw(kServiceKinds, kind); }
QString rawValue(AgentEntry::Recover::Strategy strategy) { return toRaw(kStrategies, strategy); }
QString rawValue(AgentEntry::Feedback::Format format) { return toRaw(kFormats, format); }

template <>
QStringList allRawValues<AgentEntry::Kind>() { return allRaw(kKinds); }
template <>
QStringList allRawValues<AgentEntry::ServiceKind>() { return allRaw(kServiceKinds); }
template <>
QStringList allRawValues<AgentEntry::Recover::Strategy>() { return allRaw(kStrategies); }
template <>
QStringList allRawValues<AgentEntry::Feedback::Format>() { return allRaw(kFormats); }

template <>
std::optional<AgentEntry::Kind> fromRawValue<AgentEntry::Kind>(const QString& raw) {
  return fromRaw(kKinds, raw);
}
template <>
std::optional<AgentEntry::ServiceKind> fromRawValue<AgentEntry::ServiceKind>(const QString& raw) {
  return fromRaw(kServiceKinds, raw);
}
template <>
std::optional<AgentEntry::Recover::Strategy> fromRawValue<AgentEntry::Recover::Strategy>(
    const QString& raw) {
  return fromRaw(kStrategies, raw);
}
template <>
std::optional<AgentEntry::Feedback::Format> fromRawValue<AgentEntry::Feedback::Format>(
    const QString& raw) {
  return fromRaw(kFormats, raw);
}

QString AgentEntry::localizedDisplayName() const {
  // Absent means Chinese; a stored value that is not a text is neither "en"
  // nor "zh".
  const QJsonValue stored = Defaults::shared().value(QStringLiteral("TLR.language"));
  const QString language = stored.isUndefined() ? QStringLiteral("zh") : stored.toString();
  if (language == QLatin1String("en") && nonEmpty(displayNameEN)) return *displayNameEN;
  if (language == QLatin1String("zh") && nonEmpty(displayNameZH)) return *displayNameZH;
  return displayName;
}

bool AgentEntry::isSafeFileComponent(const QString& id) {
  return !id.isEmpty() && !id.contains(QLatin1Char('/')) && !PathNames::isDotName(id) && !id.contains(QChar(u'\0'));
}

QString AgentEntry::excludePatternFault(const QString& pattern) {
  if (pattern.isEmpty()) return QStringLiteral("an empty pattern");
  for (const QChar c : pattern) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7f) return QStringLiteral("a control character");
  }
  for (const QString& component : pattern.split('/')) {
    if (PathNames::isDotName(component))
      return QStringLiteral("a \"%1\" component").arg(component);
  }
  if (pattern.contains(QLatin1String("**"))) return QStringLiteral("\"**\" (a star stops at \"/\")");
  if (QString(pattern).remove('*').remove('/').isEmpty()) return QStringLiteral("a pattern that leaves out every file");
  return {};
}

}  // namespace tlr
