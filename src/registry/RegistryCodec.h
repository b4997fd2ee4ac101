#pragma once

#include "registry/AgentEntry.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <utility>
#include <variant>

namespace tlr {

// Why a registry document (or one entry) could not be decoded.
struct RegistryDecodeError {
  enum class Kind {
    keyNotFound,    // a required key is missing
    valueNotFound,  // null where a value is required
    typeMismatch,   // wrong JSON type, unknown enumeration text, number out of range
    dataCorrupted,  // not well-formed JSON
    invalidValue,   // the right type, but a value that cannot be used (an exclusion pattern)
  };
  Kind kind = Kind::dataCorrupted;
  // Keys and indexes that led to the fault, e.g. "agents[2].identify.argvMatches[0]";
  // map keys are written as ["key"]. Empty for the document itself.
  QString path;
  // What was expected and found.
  QString detail;

  // "<kind> at <path>: <detail>".
  QString description() const;
};

QString kindName(RegistryDecodeError::Kind kind);

// Either a decoded value or the first decoding fault.
template <class T>
class DecodeResult {
 public:
  DecodeResult(T value) : state_(std::move(value)) {}  // NOLINT(implicit)
  DecodeResult(RegistryDecodeError error) : state_(std::move(error)) {}  // NOLINT(implicit)

  bool ok() const { return std::holds_alternative<T>(state_); }
  explicit operator bool() const { return ok(); }
  const T& value() const& { return std::get<T>(state_); }
  T&& value() && { return std::get<T>(std::move(state_)); }
  const RegistryDecodeError& error() const { return std::get<RegistryDecodeError>(state_); }

 private:
  std::variant<T, RegistryDecodeError> state_;
};

namespace RegistryCodec {

// Decodes a whole document. Unknown keys are ignored, absent and null optional
// keys stay empty, and the first fault in field order rejects the document.
DecodeResult<RegistryFile> decodeFile(const QByteArray& json);
// Decodes one entry on its own, under the same rules.
DecodeResult<AgentEntry> decodeEntry(const QByteArray& json);

// JSON text with every record's keys in declaration order: required fields
// always, optional fields only when they hold a value.
QByteArray encode(const RegistryFile& file, bool indented = true);
QByteArray encode(const AgentEntry& entry, bool indented = true);

// The keys of an entry as dotted paths, in declaration order, each once
// ("identify.argvMatches", "doctor.knownIssues[].fix.kind"): the keys that
// hold a value, or with `everyKey` every key the codec reads and writes.
QStringList keyPaths(const AgentEntry& entry, bool everyKey = false);

}  // namespace RegistryCodec

}  // namespace tlr
