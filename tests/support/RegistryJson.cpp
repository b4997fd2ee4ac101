#include "RegistryJson.h"

#include "registry/RegistryCodec.h"

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

}  // namespace tlr::test
