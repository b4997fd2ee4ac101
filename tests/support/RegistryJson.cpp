#include "RegistryJson.h"

#include "registry/RegistryCodec.h"

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

}  // namespace tlr::test
