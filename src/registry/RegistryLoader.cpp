#include "registry/RegistryLoader.h"

#include "registry/AppResources.h"

#include <QFile>

namespace tlr {

RegistryLoadError::RegistryLoadError(Case c, QString message,
                                     std::optional<RegistryDecodeError> underlying)
    : case_(c), message_(std::move(message)), underlying_(std::move(underlying)) {}

RegistryLoadError RegistryLoadError::resourceMissing() {
  return RegistryLoadError(Case::resourceMissing, QString(), std::nullopt);
}

RegistryLoadError RegistryLoadError::readFailed(QString message) {
  return RegistryLoadError(Case::readFailed, std::move(message), std::nullopt);
}

RegistryLoadError RegistryLoadError::decodeFailed(RegistryDecodeError underlying) {
  return RegistryLoadError(Case::decodeFailed, QString(), std::move(underlying));
}

QString RegistryLoadError::description() const {
  switch (case_) {
    case Case::resourceMissing: return QStringLiteral("registry.json 不在 bundle Resources 里");
    case Case::readFailed: return message_;
    case Case::decodeFailed: return QStringLiteral("registry.json 解码失败: ") + underlying_->description();
  }
  return QString();
}

RegistryLoader::Result RegistryLoader::load() { return load(AppResources::bundle()); }

RegistryLoader::Result RegistryLoader::load(const ResourceBundle& bundle) {
  const auto path = bundle.url(QStringLiteral("registry"), QStringLiteral("json"));
  if (!path) return RegistryLoadError::resourceMissing();
  return loadFile(*path);
}

RegistryLoader::Result RegistryLoader::loadFile(const QString& path) {
  QFile file(path);
  if (!file.exists()) return RegistryLoadError::resourceMissing();
  const QByteArray data = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  if (file.error() != QFileDevice::NoError) {
    return RegistryLoadError::readFailed(
        QStringLiteral("The file \"%1\" couldn't be read: %2").arg(path, file.errorString()));
  }
  return loadData(data);
}

RegistryLoader::Result RegistryLoader::loadData(const QByteArray& json) {
  DecodeResult<RegistryFile> decoded = RegistryCodec::decodeFile(json);
  if (!decoded) return RegistryLoadError::decodeFailed(decoded.error());
  return std::make_shared<const AgentRegistry>(std::move(decoded).value());
}

}  // namespace tlr
