#include "registry/RegistryCodec.h"

#include "platform/JsonWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <concepts>
#include <limits>
#include <type_traits>
#include <vector>

namespace tlr {

// ---------------------------------------------------------------------------
// Field tables. Each record lists its keys once, in declaration order; the
// decoder and the encoder both walk these tables, so the two never disagree.
// `v(key, member)` treats a std::optional member as an optional key and any
// other member as a required key.

namespace {

template <class R, class T>
concept RecordOf = std::same_as<std::remove_const_t<R>, T>;

using Entry = AgentEntry;

template <class V, RecordOf<Entry::Identify> R>
void fields(V& v, R& r) {
  v("bundleIds", r.bundleIds);
  v("executableNames", r.executableNames);
  v("argvMatches", r.argvMatches);
  v("argvAllOf", r.argvAllOf);
  v("argvExclude", r.argvExclude);
  v("oneShotArgs", r.oneShotArgs);
  v("oneShotCommands", r.oneShotCommands);
  v("sessionCommands", r.sessionCommands);
  v("optionsWithValue", r.optionsWithValue);
  v("optionsWithOptionalValue", r.optionsWithOptionalValue);
  v("optionsWithValues", r.optionsWithValues);
}

template <class V, RecordOf<Entry::Recover> R>
void fields(V& v, R& r) {
  v("strategy", r.strategy);
  v("appBundleId", r.appBundleId);
  v("command", r.command);
  v("workingDirectory", r.workingDirectory);
  v("urlScheme", r.urlScheme);
  v("plainCommand", r.plainCommand);
}

template <class V, RecordOf<Entry::Install::Requirement> R>
void fields(V& v, R& r) {
  v("command", r.command);
  v("hintUrl", r.hintUrl);
}

template <class V, RecordOf<Entry::Install> R>
void fields(V& v, R& r) {
  v("officialUrl", r.officialUrl);
  v("commands", r.commands);
  v("requires", r.requirements);
  v("useTerminal", r.useTerminal);
}

template <class V, RecordOf<Entry::Uninstall> R>
void fields(V& v, R& r) {
  v("paths", r.paths);
  v("userDataPaths", r.userDataPaths);
  v("preCommands", r.preCommands);
  v("postNote", r.postNote);
}

template <class V, RecordOf<Entry::RestartSpec> R>
void fields(V& v, R& r) {
  v("command", r.command);
  v("verifyCommand", r.verifyCommand);
  v("expectVerifyExitCode", r.expectVerifyExitCode);
  v("verifyOutputContains", r.verifyOutputContains);
  v("verifyOutputNotContains", r.verifyOutputNotContains);
  v("fallbackCommand", r.fallbackCommand);
}

template <class V, RecordOf<Entry::DoctorSpec::KnownIssue::Fix> R>
void fields(V& v, R& r) {
  v("kind", r.kind);
  v("title", r.title);
  v("command", r.command);
  v("file", r.file);
  v("set", r.set);
  v("reload", r.reload);
}

template <class V, RecordOf<Entry::DoctorSpec::KnownIssue> R>
void fields(V& v, R& r) {
  v("id", r.id);
  v("match", r.match);
  v("title", r.title);
  v("detail", r.detail);
  v("fix", r.fix);
}

template <class V, RecordOf<Entry::DoctorSpec> R>
void fields(V& v, R& r) {
  v("command", r.command);
  v("knownIssues", r.knownIssues);
  v("needsTerminal", r.needsTerminal);
}

template <class V, RecordOf<Entry::BackupSpec::DiscoverySpec> R>
void fields(V& v, R& r) {
  v("primaryHomes", r.primaryHomes);
  v("envVars", r.envVars);
  v("workspaceConventions", r.workspaceConventions);
  v("globalFiles", r.globalFiles);
  v("projectMarkers", r.projectMarkers);
  v("scanRoots", r.scanRoots);
}

template <class V, RecordOf<Entry::BackupSpec> R>
void fields(V& v, R& r) {
  v("discovery", r.discovery);
  v("includePaths", r.includePaths);
  v("excludePatterns", r.excludePatterns);
  v("projectScoped", r.projectScoped);
}

template <class V, RecordOf<Entry::ProtectionSpec::Resource> R>
void fields(V& v, R& r) {
  v("cpuLimit", r.cpuLimit);
  v("rssLimitMB", r.rssLimitMB);
  v("fdsLimit", r.fdsLimit);
  v("cooldownSeconds", r.cooldownSeconds);
}

template <class V, RecordOf<Entry::ProtectionSpec::ExclusiveResources> R>
void fields(V& v, R& r) {
  v("tcpPorts", r.tcpPorts);
  v("filePaths", r.filePaths);
}

template <class V, RecordOf<Entry::ProtectionSpec> R>
void fields(V& v, R& r) {
  v("hangThresholdSeconds", r.hangThresholdSeconds);
  v("expectsIdle", r.expectsIdle);
  v("killStrategy", r.killStrategy);
  v("autoRelaunchAfterKill", r.autoRelaunchAfterKill);
  v("resource", r.resource);
  v("exclusiveResources", r.exclusiveResources);
}

template <class V, RecordOf<Entry::DiagnosisSpec::Deps> R>
void fields(V& v, R& r) {
  v("checkCommand", r.checkCommand);
  v("repairCommands", r.repairCommands);
}

template <class V, RecordOf<Entry::DiagnosisSpec> R>
void fields(V& v, R& r) {
  v("configFiles", r.configFiles);
  v("deps", r.deps);
  v("netTargets", r.netTargets);
  v("diskTargets", r.diskTargets);
}

template <class V, RecordOf<Entry::Feedback> R>
void fields(V& v, R& r) {
  v("logPaths", r.logPaths);
  v("format", r.format);
  v("eventRules", r.eventRules);
}

template <class V, RecordOf<Entry::MCP> R>
void fields(V& v, R& r) {
  v("supported", r.supported);
  v("configPath", r.configPath);
  v("configFormat", r.configFormat);
  v("autoInject", r.autoInject);
}

template <class V, RecordOf<Entry::ErrorPatternRef> R>
void fields(V& v, R& r) {
  v("ref", r.ref);
  v("code", r.code);
  v("match", r.match);
  v("symptom", r.symptom);
  v("fix", r.fix);
}

template <class V, RecordOf<AgentEntry> R>
void fields(V& v, R& r) {
  v("id", r.id);
  v("displayName", r.displayName);
  v("displayNameZH", r.displayNameZH);
  v("displayNameEN", r.displayNameEN);
  v("vendor", r.vendor);
  v("kind", r.kind);
  v("family", r.family);
  v("serviceKind", r.serviceKind);
  v("identify", r.identify);
  v("recover", r.recover);
  v("feedback", r.feedback);
  v("mcp", r.mcp);
  v("iconAsset", r.iconAsset);
  v("notes", r.notes);
  v("defaultLockOnline", r.defaultLockOnline);
  v("dashboardUrl", r.dashboardUrl);
  v("tuiCommand", r.tuiCommand);
  v("launchdLabel", r.launchdLabel);
  v("launchdUninstallCommand", r.launchdUninstallCommand);
  v("uninstall", r.uninstall);
  v("install", r.install);
  v("hidden", r.hidden);
  v("userInvokeCommand", r.userInvokeCommand);
  v("setupCommand", r.setupCommand);
  v("iconBundleId", r.iconBundleId);
  v("restart", r.restart);
  v("doctor", r.doctor);
  v("backup", r.backup);
  v("protectionSpec", r.protectionSpec);
  v("diagnosis", r.diagnosis);
  v("errorPatterns", r.errorPatterns);
}

template <class V, RecordOf<RegistryFile::CommonErrorPattern> R>
void fields(V& v, R& r) {
  v("id", r.id);
  v("symptom", r.symptom);
  v("match", r.match);
  v("causes", r.causes);
  v("fix", r.fix);
  v("appliesTo", r.appliesTo);
}

template <class V, RecordOf<RegistryFile::SharedLayer::LayerDef> R>
void fields(V& v, R& r) {
  v("path", r.path);
  v("owners", r.owners);
  v("description", r.description);
}

template <class V, RecordOf<RegistryFile::SharedLayer> R>
void fields(V& v, R& r) {
  v("layers", r.layers);
}

template <class V, RecordOf<RegistryFile> R>
void fields(V& v, R& r) {
  v("schemaVersion", r.schemaVersion);
  v("updatedAt", r.updatedAt);
  v("agents", r.agents);
  v("commonErrorPatterns", r.commonErrorPatterns);
  v("sharedLayer", r.sharedLayer);
}

// ---------------------------------------------------------------------------
// Decoding

using Kind = RegistryDecodeError::Kind;

// The keys and indexes that lead to the value being decoded.
class Path {
 public:
  class Scope {
   public:
    Scope(Path& path, QString component) : path_(path) { path_.parts_.push_back(std::move(component)); }
    ~Scope() { path_.parts_.pop_back(); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    Path& path_;
  };

  static QString key(const QString& name) { return name; }
  static QString index(qsizetype i) { return QStringLiteral("[%1]").arg(i); }
  static QString mapKey(const QString& name) {
    QString escaped = name;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QStringLiteral("[\"%1\"]").arg(escaped);
  }

  QString text() const {
    QString out;
    for (const QString& part : parts_) {
      if (!out.isEmpty() && !part.startsWith(QLatin1Char('['))) out += QLatin1Char('.');
      out += part;
    }
    return out;
  }

 private:
  std::vector<QString> parts_;
};

// Qt keeps a JSON number that is a whole number within 64 bits as an exact
// integer; anything else (a fraction, a value beyond 64 bits) has no exact
// integer and is a type mismatch, never truncated.
std::optional<qint64> exactInteger(const QJsonValue& v) {
  if (!v.isDouble()) return std::nullopt;
  const qint64 n = v.toInteger(0);
  if (n != 0 || v.toInteger(1) == 0) return n;
  return std::nullopt;
}

QString describeFound(const QJsonValue& v) {
  switch (v.type()) {
    case QJsonValue::Null: return QStringLiteral("null");
    case QJsonValue::Bool: return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double:
      if (const auto n = exactInteger(v)) return QStringLiteral("the number %1").arg(*n);
      return QStringLiteral("the number %1").arg(v.toDouble(), 0, 'g', 17);
    case QJsonValue::String: return QStringLiteral("a string");
    case QJsonValue::Array: return QStringLiteral("a list");
    case QJsonValue::Object: return QStringLiteral("an object");
    case QJsonValue::Undefined: break;
  }
  return QStringLiteral("nothing");
}

template <class T> struct Expected;
template <> struct Expected<QString> { static QString name() { return QStringLiteral("a string"); } };
template <> struct Expected<bool> { static QString name() { return QStringLiteral("a Boolean"); } };
template <> struct Expected<qint64> { static QString name() { return QStringLiteral("a whole number in the signed 64-bit range"); } };
template <> struct Expected<qint32> { static QString name() { return QStringLiteral("a whole number in the signed 32-bit range"); } };

// "\"a\", \"b\" or \"c\"" for the raw values of an enumeration.
template <class E>
QString enumChoices() {
  QStringList quoted;
  for (const QString& raw : allRawValues<E>()) quoted << QLatin1Char('"') + raw + QLatin1Char('"');
  const QString last = quoted.takeLast();
  return quoted.isEmpty() ? last : quoted.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

template <class T> struct IsList : std::false_type {};
template <class T> struct IsList<QList<T>> : std::true_type {};
template <class T> struct IsMap : std::false_type {};
template <class T> struct IsMap<QMap<QString, T>> : std::true_type {};

// Decodes values into fields, stopping at the first fault.
class Decoder {
 public:
  explicit Decoder(Path& path) : path_(path) {}

  const std::optional<RegistryDecodeError>& error() const { return error_; }

  // Decodes `value` into `out`. Null is a fault here; optional keys deal with
  // null before they get here.
  template <class T>
  bool decode(const QJsonValue& value, T& out) {
    if (value.isNull() || value.isUndefined()) {
      return fail(Kind::valueNotFound, QStringLiteral("expected a value, found null"));
    }
    return decodeNonNull(value, out);
  }

  // Decodes the fields of `record` from `object`, in table order.
  template <class R>
  bool decodeRecord(const QJsonObject& object, R& record) {
    FieldReader reader{*this, object};
    fields(reader, record);
    return !error_;
  }

 private:
  struct FieldReader {
    Decoder& decoder;
    const QJsonObject& object;

    template <class T>
    void operator()(const char* key, T& field) {
      if (decoder.error_) return;
      const QString name = QString::fromLatin1(key);
      Path::Scope scope(decoder.path_, Path::key(name));
      const auto it = object.constFind(name);
      if (it == object.constEnd()) {
        decoder.fail(Kind::keyNotFound, QStringLiteral("the required key \"%1\" is missing").arg(name));
        return;
      }
      if (it->isNull()) {
        decoder.fail(Kind::valueNotFound, QStringLiteral("the required key \"%1\" is null").arg(name));
        return;
      }
      decoder.decodeNonNull(*it, field);
    }

    template <class T>
    void operator()(const char* key, std::optional<T>& field) {
      if (decoder.error_) return;
      const QString name = QString::fromLatin1(key);
      const auto it = object.constFind(name);
      if (it == object.constEnd() || it->isNull()) return;  // absent and null alike: empty
      Path::Scope scope(decoder.path_, Path::key(name));
      T value{};
      if (decoder.decodeNonNull(*it, value)) field = std::move(value);
    }
  };

  bool fail(Kind kind, QString detail) {
    if (!error_) error_ = RegistryDecodeError{kind, path_.text(), std::move(detail)};
    return false;
  }

  bool mismatch(const QString& expected, const QJsonValue& found) {
    return fail(Kind::typeMismatch, QStringLiteral("expected %1, found %2").arg(expected, describeFound(found)));
  }

  bool decodeNonNull(const QJsonValue& v, QString& out) {
    if (!v.isString()) return mismatch(Expected<QString>::name(), v);
    out = v.toString();
    return true;
  }

  bool decodeNonNull(const QJsonValue& v, bool& out) {
    if (!v.isBool()) return mismatch(Expected<bool>::name(), v);
    out = v.toBool();
    return true;
  }

  bool decodeNonNull(const QJsonValue& v, qint64& out) {
    const auto n = exactInteger(v);
    if (!n) return mismatch(Expected<qint64>::name(), v);
    out = *n;
    return true;
  }

  bool decodeNonNull(const QJsonValue& v, qint32& out) {
    const auto n = exactInteger(v);
    if (!n || *n < std::numeric_limits<qint32>::min() || *n > std::numeric_limits<qint32>::max()) {
      return mismatch(Expected<qint32>::name(), v);
    }
    out = static_cast<qint32>(*n);
    return true;
  }

  template <class E>
    requires std::is_enum_v<E>
  bool decodeNonNull(const QJsonValue& v, E& out) {
    const QString expected = QStringLiteral("one of ") + enumChoices<E>();
    if (!v.isString()) return mismatch(expected, v);
    const auto parsed = fromRawValue<E>(v.toString());
    if (!parsed) {
      return fail(Kind::typeMismatch,
                  QStringLiteral("expected %1, found \"%2\"").arg(expected, v.toString()));
    }
    out = *parsed;
    return true;
  }

  template <class L>
    requires IsList<L>::value
  bool decodeNonNull(const QJsonValue& v, L& out) {
    if (!v.isArray()) return mismatch(QStringLiteral("a list"), v);
    const QJsonArray array = v.toArray();
    L list;
    list.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
      Path::Scope scope(path_, Path::index(i));
      typename L::value_type element{};
      if (!decodeElement(array.at(i), element)) return false;
      list.push_back(std::move(element));
    }
    out = std::move(list);
    return true;
  }

  template <class M>
    requires IsMap<M>::value
  bool decodeNonNull(const QJsonValue& v, M& out) {
    if (!v.isObject()) return mismatch(QStringLiteral("an object"), v);
    const QJsonObject object = v.toObject();
    M map;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
      Path::Scope scope(path_, Path::mapKey(it.key()));
      typename M::mapped_type value{};
      if (!decode(it.value(), value)) return false;
      map.insert(it.key(), std::move(value));
    }
    out = std::move(map);
    return true;
  }

  template <class R>
    requires(std::is_class_v<R> && !IsList<R>::value && !IsMap<R>::value)
  bool decodeNonNull(const QJsonValue& v, R& out) {
    if (!v.isObject()) return mismatch(QStringLiteral("an object"), v);
    return decodeRecord(v.toObject(), out) && usable(out);
  }

  // Values of the right type that still cannot be used.
  template <class R>
  bool usable(const R&) {
    return true;
  }
  bool usable(const Entry::BackupSpec& backup) {
    if (!backup.excludePatterns) return true;
    Path::Scope key(path_, Path::key(QStringLiteral("excludePatterns")));
    for (qsizetype i = 0; i < backup.excludePatterns->size(); ++i) {
      const QString& pattern = backup.excludePatterns->at(i);
      if (const QString fault = AgentEntry::excludePatternFault(pattern); !fault.isEmpty()) {
        Path::Scope index(path_, Path::index(i));
        return fail(Kind::invalidValue, QStringLiteral("the exclusion pattern \"%1\" cannot be used: %2").arg(pattern, fault));
      }
    }
    return true;
  }

  // An event rule takes any value, null included; other elements need one.
  template <class T>
  bool decodeElement(const QJsonValue& v, T& out) {
    if constexpr (std::is_same_v<T, Entry::Feedback::EventRule>) {
      return true;
    } else {
      return decode(v, out);
    }
  }

  Path& path_;
  std::optional<RegistryDecodeError> error_;
};

template <class R>
DecodeResult<R> decodeObject(const QJsonObject& object) {
  Path path;
  Decoder decoder(path);
  R record{};
  if (!decoder.decodeRecord(object, record)) return *decoder.error();
  return record;
}

template <class R>
DecodeResult<R> decodeBytes(const QByteArray& json) {
  QJsonParseError parseError{};
  const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
  if (parseError.error != QJsonParseError::NoError) {
    return RegistryDecodeError{Kind::dataCorrupted, QString(),
                               QStringLiteral("the data is not valid JSON (%1 at offset %2)")
                                   .arg(parseError.errorString())
                                   .arg(parseError.offset)};
  }
  if (!doc.isObject()) {
    return RegistryDecodeError{Kind::typeMismatch, QString(),
                               QStringLiteral("expected an object, found a list")};
  }
  return decodeObject<R>(doc.object());
}

}  // namespace

// ---------------------------------------------------------------------------
// Encoding: JSON text written in table order (QJsonObject would sort keys).

namespace {

// Writes values and the fields of records, in table order.
class Encoder {
 public:
  explicit Encoder(JsonWriter& writer) : w_(writer) {}

  template <class T>
  void operator()(const char* key, const T& field) {
    w_.key(QString::fromLatin1(key));
    write(field);
  }

  template <class T>
  void operator()(const char* key, const std::optional<T>& field) {
    if (!field) return;
    w_.key(QString::fromLatin1(key));
    write(*field);
  }

  void write(const QString& s) { w_.string(s); }
  void write(bool b) { w_.boolean(b); }
  void write(qint64 n) { w_.integer(n); }
  void write(qint32 n) { w_.integer(n); }

  void write(const Entry::Feedback::EventRule&) {
    w_.beginObject();
    w_.endObject();
  }

  template <class E>
    requires std::is_enum_v<E>
  void write(E value) {
    w_.string(rawValue(value));
  }

  template <class L>
    requires IsList<L>::value
  void write(const L& list) {
    w_.beginArray();
    for (const auto& element : list) write(element);
    w_.endArray();
  }

  template <class M>
    requires IsMap<M>::value
  void write(const M& map) {
    w_.beginObject();
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
      w_.key(it.key());
      write(it.value());
    }
    w_.endObject();
  }

  template <class R>
    requires(std::is_class_v<R> && !IsList<R>::value && !IsMap<R>::value)
  void write(const R& record) {
    w_.beginObject();
    fields(*this, record);
    w_.endObject();
  }

 private:
  JsonWriter& w_;
};

template <class R>
QByteArray encodeRecord(const R& record, bool indented) {
  JsonWriter writer(indented);
  Encoder(writer).write(record);
  return writer.finish();
}

}  // namespace

// ---------------------------------------------------------------------------
// Key paths: the keys a record holds, or all it can hold, as dotted paths.

namespace {

class KeyWalker {
 public:
  KeyWalker(bool everyKey, QStringList& out) : everyKey_(everyKey), out_(out) {}

  template <class T>
  void operator()(const char* key, const T& field) {
    enter(key, field);
  }

  template <class T>
  void operator()(const char* key, const std::optional<T>& field) {
    if (field) {
      enter(key, *field);
    } else if (everyKey_) {
      enter(key, T{});
    }
  }

 private:
  template <class T>
  void enter(const char* key, const T& value) {
    const QString path = prefix_ + QString::fromLatin1(key);
    if (!out_.contains(path)) out_ << path;
    const QString saved = prefix_;
    prefix_ = path;
    descend(value);
    prefix_ = saved;
  }

  template <class T>
  void descend(const T& value) {
    if constexpr (requires(KeyWalker& w) { fields(w, value); }) {
      const QString saved = prefix_;
      prefix_ += QLatin1Char('.');
      fields(*this, value);
      prefix_ = saved;
    } else if constexpr (IsList<T>::value || IsMap<T>::value) {
      const QString saved = prefix_;
      prefix_ += QStringLiteral("[]");
      if constexpr (IsMap<T>::value) {
        if (everyKey_) descend(typename T::mapped_type{});
      } else {
        if (everyKey_) descend(typename T::value_type{});
      }
      for (const auto& element : value) descend(element);
      prefix_ = saved;
    }
  }

  bool everyKey_;
  QStringList& out_;
  QString prefix_;
};

}  // namespace

// ---------------------------------------------------------------------------

QString kindName(RegistryDecodeError::Kind kind) {
  switch (kind) {
    case Kind::keyNotFound: return QStringLiteral("keyNotFound");
    case Kind::valueNotFound: return QStringLiteral("valueNotFound");
    case Kind::typeMismatch: return QStringLiteral("typeMismatch");
    case Kind::dataCorrupted: return QStringLiteral("dataCorrupted");
    case Kind::invalidValue: return QStringLiteral("invalidValue");
  }
  return QString();
}

QString RegistryDecodeError::description() const {
  const QString where = path.isEmpty() ? QStringLiteral("the top level") : path;
  return QStringLiteral("%1 at %2: %3").arg(kindName(kind), where, detail);
}

namespace RegistryCodec {

DecodeResult<RegistryFile> decodeFile(const QByteArray& json) { return decodeBytes<RegistryFile>(json); }
DecodeResult<AgentEntry> decodeEntry(const QByteArray& json) { return decodeBytes<AgentEntry>(json); }

QByteArray encode(const RegistryFile& file, bool indented) { return encodeRecord(file, indented); }
QByteArray encode(const AgentEntry& entry, bool indented) { return encodeRecord(entry, indented); }

QStringList keyPaths(const AgentEntry& entry, bool everyKey) {
  QStringList paths;
  KeyWalker walker(everyKey, paths);
  fields(walker, entry);
  return paths;
}

}  // namespace RegistryCodec

}  // namespace tlr
