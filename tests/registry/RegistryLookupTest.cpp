#include "registry/AgentRegistry.h"

#include "platform/Defaults.h"
#include "support/RegistryJson.h"
#include "support/TestSupport.h"

#include <QProcess>

#include <gtest/gtest.h>

using tlr::AgentEntry;
using tlr::AgentRegistry;

namespace {

// Entries named by displayName; ids repeat on purpose.
const QByteArray kLookupDocument = R"({"schemaVersion":1,"updatedAt":"x","agents":[
  {"id":"dup","displayName":"dup-first","vendor":"V","kind":"cli","identify":{}},
  {"id":"dup","displayName":"dup-second","vendor":"V","kind":"cli","identify":{"executableNames":["dup-tool"]}},
  {"id":"hid","displayName":"hidden","vendor":"V","kind":"cli","hidden":true,
   "identify":{"executableNames":["hidden-tool"],"argvMatches":["hidden.js"]}},
  {"id":"exe","displayName":"exe","vendor":"V","kind":"cli","hidden":false,"identify":{"executableNames":["Agent-CLI"]}},
  {"id":"js","displayName":"js","vendor":"V","kind":"cli","identify":{"argvMatches":["agent.js"],"argvExclude":["--version"]}},
  {"id":"gw","displayName":"gw","vendor":"V","kind":"cli","identify":{"argvAllOf":["serve","gateway"]}},
  {"id":"both","displayName":"both","vendor":"V","kind":"cli","identify":{"argvAllOf":["alpha","beta"],"argvMatches":["gamma"]}},
  {"id":"empty","displayName":"empty-patterns","vendor":"V","kind":"cli","identify":{"argvAllOf":[],"argvMatches":[""]}},
  {"id":"first","displayName":"shared-first","vendor":"V","kind":"cli","identify":{"argvMatches":["shared"]}},
  {"id":"second","displayName":"shared-second","vendor":"V","kind":"cli","identify":{"argvMatches":["shared","shared-more"]}}
]})";

enum class By { id, executableName, argv };

struct LookupRow {
  const char* name;
  By by;
  QStringList query;  // one element for id and executable name
  QString expected;   // displayName of the entry, empty for none
};

QString found(const std::optional<AgentEntry>& entry) { return entry ? entry->displayName : QString(); }

}  // namespace

TEST(RegistryLookup, LookupsFollowDocumentOrderAndTheirMatchingRules) {
  const AgentRegistry registry = *tlr::test::registryFromJson(kLookupDocument);
  const std::vector<LookupRow> rows = {
      {"first of two equal ids", By::id, {"dup"}, "dup-first"},
      {"hidden entry by id", By::id, {"hid"}, ""},
      {"unknown id", By::id, {"nope"}, ""},
      {"exact executable name", By::executableName, {"Agent-CLI"}, "exe"},
      {"name differing in capitals", By::executableName, {"agent-cli"}, ""},
      {"prefix of a listed name", By::executableName, {"Agent"}, ""},
      {"hidden entry by name", By::executableName, {"hidden-tool"}, ""},
      {"later entry by name", By::executableName, {"dup-tool"}, "dup-second"},
      {"whole-argument exclusion", By::argv, {"node", "/opt/agent.js", "--version"}, ""},
      {"exclusion needs the whole argument", By::argv, {"node", "/opt/agent.js", "--version=2"}, "js"},
      {"all-of in separate arguments", By::argv, {"python3", "-m", "tool", "gateway", "serve"}, "gw"},
      {"all-of inside one argument", By::argv, {"python3", "gateway-serve"}, "gw"},
      {"all-of partly held, no any-of", By::argv, {"python3", "gateway"}, ""},
      {"all-of failing, any-of holding", By::argv, {"x", "alpha", "gamma"}, "both"},
      {"all-of holding", By::argv, {"alpha-beta"}, "both"},
      {"all-of failing, any-of failing", By::argv, {"x", "alpha"}, ""},
      {"empty patterns never match", By::argv, {"", "anything"}, ""},
      {"first passing entry wins", By::argv, {"run", "shared-more"}, "shared-first"},
      {"hidden entry by argv", By::argv, {"node", "hidden.js"}, ""},
      {"no identification rules", By::argv, {"dup"}, ""},
  };
  for (const LookupRow& row : rows) {
    SCOPED_TRACE(row.name);
    switch (row.by) {
      case By::id: EXPECT_EQ(found(registry.lookup(row.query.at(0))), row.expected); break;
      case By::executableName: EXPECT_EQ(found(registry.lookupExecutableName(row.query.at(0))), row.expected); break;
      case By::argv: EXPECT_EQ(found(registry.lookupArgv(row.query)), row.expected); break;
    }
  }
}

TEST(RegistryLookup, HiddenEntriesStayInTheFileButNotInVisibleAgents) {
  const AgentRegistry registry = *tlr::test::registryFromJson(kLookupDocument);
  EXPECT_EQ(registry.file().agents.size(), 10);
  EXPECT_EQ(registry.visibleAgents().size(), 9);
  for (const AgentEntry& e : registry.visibleAgents()) EXPECT_NE(e.id, "hid");
}

TEST(RegistryLookup, HiddenCountIsLoggedOnceAndOnlyWhenSomethingIsHidden) {
  tlr::test::TempHome home;
  const QString hiddenDoc = home.writeFile("hidden.json",
      R"({"schemaVersion":1,"updatedAt":"x","agents":[{"id":"h","displayName":"H","vendor":"V","kind":"cli","hidden":true,"identify":{"executableNames":["h"]}}]})");
  const QString visibleDoc = home.writeFile("visible.json",
      R"({"schemaVersion":1,"updatedAt":"x","agents":[{"id":"v","displayName":"V","vendor":"V","kind":"cli","identify":{}}]})");
  auto run = [](const QString& path) {
    QProcess p;
    p.start(tlr::test::toolPath("tlr_registry_tool"), {path});
    EXPECT_TRUE(p.waitForFinished(10000));
    return QString::fromUtf8(p.readAllStandardOutput());
  };
  EXPECT_EQ(run(hiddenDoc), QStringLiteral("[Registry] 隐藏 1 个 agent（hidden=true）\nvisible=0 lookup=none\n"));
  EXPECT_EQ(run(visibleDoc), QStringLiteral("visible=1 lookup=none\n"));
}

TEST(RegistryDisplayName, FollowsTheStoredLanguageOnEveryCall) {
  tlr::test::TempHome home;
  auto& defaults = tlr::Defaults::shared();
  AgentEntry e;
  e.displayName = "Base";
  e.displayNameZH = "中文";
  e.displayNameEN = "";
  EXPECT_EQ(e.localizedDisplayName(), "中文") << "absent setting means Chinese";
  defaults.set("TLR.language", "en");
  EXPECT_EQ(e.localizedDisplayName(), "Base") << "empty English name falls back to displayName";
  e.displayNameEN = "English";
  EXPECT_EQ(e.localizedDisplayName(), "English");
  e.displayNameEN.reset();
  EXPECT_EQ(e.localizedDisplayName(), "Base") << "never the Chinese name for English";
  defaults.set("TLR.language", "fr");
  EXPECT_EQ(e.localizedDisplayName(), "Base");
  defaults.set("TLR.language", "zh");
  EXPECT_EQ(e.localizedDisplayName(), "中文");
}

TEST(RegistryAgentId, OnlyPlainFileNameComponentsAreSafe) {
  const std::vector<std::pair<QString, bool>> rows = {
      {"claude-code-cli", true}, {"a.b", true},      {"中文", true},
      {"", false},               {"a/b", false},     {"..", false},
      {".", false},              {"x..y", true},     {"..x", true},
      {"...", true},             {"/abs", false},    {QString(QChar(u'\0')) + "x", false},
  };
  for (const auto& [id, safe] : rows) {
    EXPECT_EQ(AgentEntry::isSafeFileComponent(id), safe) << id.toStdString();
  }
}
