#pragma once

#include "registry/AgentRegistry.h"
#include "registry/RegistryCodec.h"

#include <QString>

#include <memory>
#include <variant>

namespace tlr {

class ResourceBundle;

// Why the registry could not be loaded.
class RegistryLoadError {
 public:
  enum class Case {
    resourceMissing,  // no "registry.json" in the bundle
    readFailed,       // the file exists but could not be read
    decodeFailed,     // the document breaks the format
  };

  static RegistryLoadError resourceMissing();
  static RegistryLoadError readFailed(QString message);
  static RegistryLoadError decodeFailed(RegistryDecodeError underlying);

  Case kind() const { return case_; }
  // "registry.json 不在 bundle Resources 里", the read error as the file
  // system gave it, or "registry.json 解码失败: " and the decoder's description.
  QString description() const;

 private:
  RegistryLoadError(Case c, QString message, std::optional<RegistryDecodeError> underlying);

  Case case_;
  QString message_;
  std::optional<RegistryDecodeError> underlying_;
};

// Loads registry.json from the resource bundle. Keeps nothing between calls:
// each load reads and decodes the file anew and builds a new registry.
class RegistryLoader {
 public:
  using Result = std::variant<std::shared_ptr<const AgentRegistry>, RegistryLoadError>;

  // From AppResources::bundle().
  static Result load();
  static Result load(const ResourceBundle& bundle);
  // From a file path (a missing file is resourceMissing).
  static Result loadFile(const QString& path);
  // From the bytes of a document.
  static Result loadData(const QByteArray& json);
};

}  // namespace tlr
