#include "core/texts/LocKey.h"

#include "core/texts/TextFill.h"

#include <QHash>

#include <algorithm>
#include <utility>

namespace tlr {

const std::array<LocKey::Id, LocKey::kCount>& LocKey::allIds() {
#define TLR_LOC_ROW(name, ...) Id::name,
  static constexpr std::array<Id, kCount> ids{
#include "core/texts/LocTable.h"
  };
  return ids;
}

const char* LocKey::name(Id id) {
#define TLR_LOC_ROW(name, ...) #name,
  static constexpr std::array<const char*, kCount> names{
#include "core/texts/LocTable.h"
  };
  const auto index = static_cast<std::size_t>(id);
  return index < names.size() ? names[index] : "";
}

bool LocKey::carriesValues(Id id) {
#define TLR_LOC_ROW(name, params, ...) (LocParams<void params>::count > 0),
  static constexpr std::array<bool, kCount> valued{
#include "core/texts/LocTable.h"
  };
  const auto index = static_cast<std::size_t>(id);
  return index < valued.size() && valued[index];
}

std::optional<LocKey> LocKey::fromStored(const QString& name, std::array<Value, 3> values) {
  static const QHash<QString, Id> byName = [] {
    QHash<QString, Id> ids;
    for (Id id : allIds()) ids.insert(QString::fromLatin1(LocKey::name(id)), id);
    return ids;
  }();
  const auto found = byName.constFind(name);
  if (found == byName.cend()) return std::nullopt;
  const bool given = std::any_of(values.begin(), values.end(),
                                 [](const Value& v) { return !std::holds_alternative<std::monostate>(v); });
  if (given != carriesValues(*found)) return std::nullopt;
  return LocKey(*found, std::move(values[0]), std::move(values[1]), std::move(values[2]));
}

LocKey LocKey::plain(Id id) { return carriesValues(id) ? LocKey(Id::empty) : LocKey(id); }

QString LocKey::text(std::size_t index) const {
  if (index >= values_.size()) return QString();
  const auto* value = std::get_if<QString>(&values_[index]);
  return value ? *value : QString();
}

qint64 LocKey::integer(std::size_t index) const {
  if (index >= values_.size()) return 0;
  const auto* value = std::get_if<qint64>(&values_[index]);
  return value ? *value : 0;
}

std::array<QString, 3> LocKey::formattedValues() const {
  std::array<QString, 3> out;
  for (std::size_t i = 0; i < values_.size(); ++i) {
    const Value& value = values_[i];
    if (const auto* s = std::get_if<QString>(&value))
      out[i] = *s;
    else if (const auto* n = std::get_if<qint64>(&value))
      out[i] = QString::number(*n);
    else if (const auto* d = std::get_if<double>(&value))
      out[i] = formatOneDecimal(*d);
  }
  return out;
}

}  // namespace tlr
