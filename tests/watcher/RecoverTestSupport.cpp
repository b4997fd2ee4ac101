#include "RecoverTestSupport.h"

#include "registry/RegistryCodec.h"

#include <QFile>

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

OnlyFakesOnPath::OnlyFakesOnPath(const FakeBin& bin) : saved_(qgetenv("PATH")) {
  qputenv("PATH", QFile::encodeName(bin.path()));
}

OnlyFakesOnPath::~OnlyFakesOnPath() { qputenv("PATH", saved_); }

}  // namespace tlr::test
