// Reads or writes one key of the user defaults in a separate process:
//   tlr_defaults_tool set KEY JSON     (JSON is any JSON value, e.g. '["a"]')
//   tlr_defaults_tool get KEY          (prints the stored value as JSON)
#include "platform/Defaults.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  auto& defaults = tlr::Defaults::shared();
  const QString key = QString::fromUtf8(argv[2]);
  if (std::strcmp(argv[1], "set") == 0 && argc == 4) {
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray("[") + argv[3] + "]");
    if (!doc.isArray() || doc.array().size() != 1) return 2;
    defaults.set(key, doc.array().at(0));
    return defaults.flush() ? 0 : 1;
  }
  if (std::strcmp(argv[1], "get") == 0) {
    const QJsonValue v = defaults.value(key);
    if (v.isUndefined()) return 3;
    const QByteArray text = QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact);
    std::fwrite(text.constData() + 1, 1, static_cast<size_t>(text.size() - 2), stdout);
    return 0;
  }
  return 2;
}
