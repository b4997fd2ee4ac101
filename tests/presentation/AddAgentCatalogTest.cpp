#include "presentation/AddAgentCatalog.h"

#include "support/RegistryJson.h"

#include <gtest/gtest.h>

namespace catalog = tlr::AddAgentCatalog;

namespace {

QByteArray agentJson(const QByteArray& id, const QByteArray& extra = {}, const QByteArray& kind = "cli") {
  return R"({"id":")" + id + R"(","displayName":")" + id + R"(","vendor":"v","kind":")" + kind +
         R"(","identify":{})" + extra + "}";
}

QStringList ids(const QList<tlr::AgentEntry>& entries) {
  QStringList list;
  for (const auto& entry : entries) list.append(entry.id);
  return list;
}

const QByteArray kRecipe = R"(,"install":{"commands":[["true"]]})";

}  // namespace

TEST(AddAgentLists, KeepRegistryOrderAndSkipHiddenAndRecipelessEntries) {
  const auto registry = tlr::test::registryOfAgents({
      agentJson("c", kRecipe),
      agentJson("hidden", kRecipe + R"(,"hidden":true)"),
      agentJson("a", kRecipe),
      agentJson("no-recipe"),
      agentJson("installed-no-recipe"),
      agentJson("b", kRecipe),
  });
  const QSet<QString> installedIds{"b", "installed-no-recipe", "hidden", "not-in-registry"};
  EXPECT_EQ(ids(catalog::notInstalled(*registry, installedIds)), (QStringList{"c", "a"}));
  EXPECT_EQ(ids(catalog::installed(*registry, installedIds)), (QStringList{"installed-no-recipe", "b"}));

  EXPECT_TRUE(catalog::installed(*registry, {}).isEmpty());
  EXPECT_EQ(ids(catalog::notInstalled(*registry, {})), (QStringList{"c", "a", "b"}));
}

TEST(AddAgentInstallAction, AWebsiteThatParsesWinsOverCommands) {
  using Kind = catalog::InstallAction::Kind;
  auto action = [](const QByteArray& install) {
    return catalog::installActionFor(tlr::test::entryFromJson(
        R"("id":"x","displayName":"X","vendor":"v","kind":"cli","identify":{},"install":)" + install));
  };
  const auto both = action(R"({"officialUrl":"https://x.example/get","commands":[["true"]]})");
  EXPECT_EQ(both.kind, Kind::openWebsite);
  EXPECT_EQ(both.address, "https://x.example/get");
  EXPECT_EQ(action(R"({"officialUrl":"x.example/get","commands":[["true"]]})").kind, Kind::openInstallSheet);
  EXPECT_EQ(action(R"({"commands":[["true"]]})").kind, Kind::openInstallSheet);
  EXPECT_EQ(action(R"({"officialUrl":"not a url"})").kind, Kind::nothing);
  EXPECT_EQ(action(R"({"commands":[]})").kind, Kind::nothing);
  EXPECT_EQ(action(R"({})").kind, Kind::nothing);
}
