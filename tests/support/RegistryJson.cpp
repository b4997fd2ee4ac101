#include "RegistryJson.h"

#include "registry/RegistryCodec.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace tlr::test {

std::shared_ptr<const AgentRegistry> registryFromJson(const QByteArray& json) {
  DecodeResult<RegistryFile> decoded = RegistryCodec::decodeFile(json);
  EXPECT_TRUE(decoded.ok()) << (decoded.ok() ? "" : decoded.error().description().toStdString());
  if (!decoded.ok()) return std::make_shared<const AgentRegistry>(RegistryFile{});
  return std::make_shared<const AgentRegistry>(std::move(decoded).value());
}

AgentEntry entryFromJson(const QByteArray& members) {
  DecodeResult<AgentEntry> decoded = RegistryCodec::decodeEntry("{" + members + "}");
  EXPECT_TRUE(decoded.ok()) << (decoded.ok() ? "" : decoded.error().description().toStdString());
  return decoded.ok() ? std::move(decoded).value() : AgentEntry{};
}

std::shared_ptr<const AgentRegistry> registryOfAgents(const QList<QByteArray>& agents) {
  QByteArray joined;
  for (const QByteArray& a : agents) joined += (joined.isEmpty() ? "" : ",") + a;
  return registryFromJson(R"({"schemaVersion":1,"updatedAt":"x","agents":[)" + joined + "]}");
}

QByteArray oneAgentDocument(const QString& executableName, const QJsonObject& members) {
  QJsonObject agent{
      {QStringLiteral("id"), QStringLiteral("fake")},
      {QStringLiteral("displayName"), QStringLiteral("Fake Agent")},
      {QStringLiteral("vendor"), QStringLiteral("test labs")},
      {QStringLiteral("kind"), QStringLiteral("cli")},
      {QStringLiteral("identify"), QJsonObject{{QStringLiteral("executableNames"), QJsonArray{executableName}}}},
  };
  for (auto it = members.begin(); it != members.end(); ++it) agent.insert(it.key(), it.value());
  return QJsonDocument(QJsonObject{{QStringLiteral("schemaVersion"), 1},
                                   {QStringLiteral("updatedAt"), QStringLiteral("2025-01-01")},
                                   {QStringLiteral("agents"), QJsonArray{agent}}})
      .toJson();
}

QJsonObject shippedEntryObject(const QString& id, const QString& executableName) {
  QFile file(QStringLiteral(TLR_SOURCE_RESOURCES "/registry.json"));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly));
  for (const QJsonValue& agent : QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("agents")).toArray()) {
    QJsonObject entry = agent.toObject();
    if (entry.value(QStringLiteral("id")).toString() != id) continue;
    QJsonObject identify = entry.value(QStringLiteral("identify")).toObject();
    identify.insert(QStringLiteral("executableNames"), QJsonArray{executableName});
    identify.insert(QStringLiteral("argvMatches"), QJsonArray{QStringLiteral("node_modules/") + executableName + QLatin1Char('/')});
    identify.remove(QStringLiteral("argvAllOf"));
    entry.insert(QStringLiteral("identify"), identify);
    return entry;
  }
  ADD_FAILURE() << "no shipped entry " << id.toStdString();
  return {};
}

AgentEntry shippedEntry(const QString& id, const QString& executableName) {
  return entryFromJson(QJsonDocument(shippedEntryObject(id, executableName)).toJson(QJsonDocument::Compact).mid(1).chopped(1));
}

}  // namespace tlr::test
