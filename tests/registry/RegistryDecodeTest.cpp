#include "registry/RegistryCodec.h"

#include <gtest/gtest.h>

using tlr::AgentEntry;
using tlr::RegistryDecodeError;
using tlr::RegistryFile;
namespace Codec = tlr::RegistryCodec;
using Kind = RegistryDecodeError::Kind;

namespace {

const QByteArray kMinimalEntry =
    R"({"id":"a","displayName":"A","vendor":"V","kind":"cli","identify":{})";

// A document whose only entry is the minimal entry plus `extra` fields.
QByteArray docWith(const QByteArray& extra) {
  QByteArray entry = kMinimalEntry;
  if (!extra.isEmpty()) entry += "," + extra;
  return R"({"schemaVersion":1,"updatedAt":"x","agents":[)" + entry + "}]}";
}

QByteArray docWithAgents(const QByteArray& agents) {
  return R"({"schemaVersion":1,"updatedAt":"x","agents":[)" + agents + "]}";
}

RegistryFile decodeOk(const QByteArray& json) {
  auto result = Codec::decodeFile(json);
  EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().description().toStdString());
  return result.ok() ? std::move(result).value() : RegistryFile{};
}

// Every key of every record, in declaration order, in the encoder's compact
// form, so decoding and encoding again must give the same text.
const QByteArray kFullDocument =
    R"({"schemaVersion":9007199254740993,"updatedAt":"2025-01-01","agents":[{)"
    R"("id":"full","displayName":"Full","displayNameZH":"全","displayNameEN":"Full EN","vendor":"V",)"
    R"("kind":"ide-plugin","family":"f","serviceKind":"gateway",)"
    R"("identify":{"bundleIds":["b"],"executableNames":["e"],"argvMatches":["m"],"argvAllOf":["a1","a2"],"argvExclude":["--x"],"oneShotArgs":["-p"],"oneShotCommands":["exec"],)"
    R"("sessionCommands":["resume"],"optionsWithValue":["-m"],"optionsWithOptionalValue":["-r"],"optionsWithValues":["--add-dir"]},)"
    R"("recover":{"strategy":"open-url-scheme","appBundleId":"app","command":["c","-1"],"workingDirectory":"~/w","urlScheme":"s://","plainCommand":["c"]},)"
    R"("feedback":{"logPaths":["/l"],"format":"json","eventRules":[{},{}]},)"
    R"("mcp":{"supported":false,"configPath":"~/m.json","configFormat":"json","autoInject":true},)"
    R"("iconAsset":"i","notes":"n \"quoted\"\n\ttab \\ \u0001","defaultLockOnline":false,"dashboardUrl":"http://x",)"
    R"("tuiCommand":["t"],"launchdLabel":"l","launchdUninstallCommand":["u"],)"
    R"("uninstall":{"paths":["~/p"],"userDataPaths":[],"preCommands":[["pc","1"],[]],"postNote":"pn"},)"
    R"("install":{"officialUrl":"https://o","commands":[["npm","i"]],"requires":[{"command":"npm","hintUrl":"h"},{"command":"/bin/sh"}],"useTerminal":false},)"
    R"("hidden":false,"userInvokeCommand":["ui"],"setupCommand":["su"],"iconBundleId":"ib",)"
    R"("restart":{"command":["r"],"verifyCommand":["v"],"expectVerifyExitCode":-2147483648,"verifyOutputContains":"ok","verifyOutputNotContains":"","fallbackCommand":["fb"]},)"
    R"("doctor":{"command":["d"],"knownIssues":[{"id":"k","match":"^x$","title":"T","detail":"D",)"
    R"("fix":{"kind":"patch-json","title":"FT","command":["fc"],"file":"~/f.json","set":{"a.b.c":"1","z":""},"reload":["rl"]}}],"needsTerminal":true},)"
    R"("backup":{"discovery":{"primaryHomes":["~/h"],"envVars":["E"],"workspaceConventions":["~/w"],"globalFiles":["~/g"],"projectMarkers":["M"],"scanRoots":["~/s"]},)"
    R"("includePaths":["~/i"],"excludePatterns":["*.log"],"projectScoped":["ps"]},)"
    R"("protectionSpec":{"hangThresholdSeconds":5,"expectsIdle":true,"killStrategy":"k","autoRelaunchAfterKill":false,)"
    R"("resource":{"cpuLimit":150,"rssLimitMB":0,"fdsLimit":-1,"cooldownSeconds":1800},"exclusiveResources":{"tcpPorts":[18789],"filePaths":["~/x"]}},)"
    R"("diagnosis":{"configFiles":["~/c"],"deps":{"checkCommand":["cc"],"repairCommands":[["r1"],["r2","x"]]},"netTargets":["n:1"],"diskTargets":["/d"]},)"
    R"("errorPatterns":[{"ref":"r","code":"c","match":"m","symptom":"s","fix":"f"},{}]}],)"
    R"("commonErrorPatterns":[{"id":"p","symptom":"s","match":"m","causes":["c"],"fix":"f","appliesTo":["full"]}],)"
    R"("sharedLayer":{"layers":{"one":{"path":"~/one","owners":["full"],"description":"d"},"two":{"path":"~/two","owners":[]}}}})";

}  // namespace

// ---------------------------------------------------------------------------

TEST(RegistryAccepted, FullDocumentRoundTripsWithKeysInDeclarationOrder) {
  const RegistryFile file = decodeOk(kFullDocument);
  EXPECT_EQ(QString::fromUtf8(Codec::encode(file, /*indented=*/false)), QString::fromUtf8(kFullDocument));

  // The indented form decodes to the same document.
  const RegistryFile again = decodeOk(Codec::encode(file, /*indented=*/true));
  EXPECT_EQ(QString::fromUtf8(Codec::encode(again, false)), QString::fromUtf8(kFullDocument));

  EXPECT_EQ(file.schemaVersion, 9007199254740993LL) << "64-bit integers are kept exactly";
  const AgentEntry& e = file.agents.at(0);
  EXPECT_EQ(e.kind, AgentEntry::Kind::idePlugin);
  EXPECT_EQ(e.serviceKind, AgentEntry::ServiceKind::gateway);
  EXPECT_EQ(e.recover->strategy, AgentEntry::Recover::Strategy::openUrlScheme);
  EXPECT_EQ(e.restart->expectVerifyExitCode, std::numeric_limits<qint32>::min());
  EXPECT_EQ(e.doctor->knownIssues->at(0).fix.set->value("a.b.c"), "1");
  EXPECT_EQ(e.install->requirements->at(1).command, "/bin/sh");
  EXPECT_FALSE(e.install->requirements->at(1).hintUrl.has_value());
  EXPECT_EQ(e.notes, QStringLiteral("n \"quoted\"\n\ttab \\ \u0001"));
  // Every key the codec knows is in this document: a key added to the
  // codec is added here too.
  EXPECT_EQ(Codec::keyPaths(e), Codec::keyPaths(AgentEntry{}, /*everyKey=*/true));
}

TEST(RegistryAccepted, MinimalEntryLeavesEveryOptionalFieldEmpty) {
  const auto decoded = Codec::decodeEntry(kMinimalEntry + "}");
  ASSERT_TRUE(decoded.ok());
  const AgentEntry& e = decoded.value();
  EXPECT_EQ(e.id, "a");
  EXPECT_EQ(e.kind, AgentEntry::Kind::cli);
  // Every optional key of the codec, at every level, stays empty.
  EXPECT_EQ(Codec::keyPaths(e), (QStringList{"id", "displayName", "vendor", "kind", "identify"}));
  EXPECT_EQ(QString::fromUtf8(Codec::encode(e, false)), QString::fromUtf8(kMinimalEntry + "}"));
}

TEST(RegistryAccepted, NullAndAbsentAreEmptyButFalseAndEmptyListAreValues) {
  const RegistryFile withNulls = decodeOk(docWith(
      R"("serviceKind":null,"hidden":null,"recover":null,"backup":{"includePaths":null,"discovery":null})"));
  const AgentEntry& n = withNulls.agents.at(0);
  EXPECT_FALSE(n.serviceKind.has_value());
  EXPECT_FALSE(n.hidden.has_value());
  EXPECT_FALSE(n.recover.has_value());
  ASSERT_TRUE(n.backup.has_value()) << "\"backup\": {} is a value";
  EXPECT_FALSE(n.backup->includePaths.has_value());
  EXPECT_FALSE(n.backup->discovery.has_value());

  const RegistryFile withValues = decodeOk(docWith(R"("hidden":false,"backup":{"includePaths":[]})"));
  const AgentEntry& v = withValues.agents.at(0);
  EXPECT_EQ(v.hidden, std::optional<bool>(false));
  ASSERT_TRUE(v.backup->includePaths.has_value());
  EXPECT_TRUE(v.backup->includePaths->isEmpty());
  EXPECT_TRUE(Codec::encode(v, false).contains(R"("hidden":false)"));
  EXPECT_FALSE(Codec::encode(n, false).contains("hidden"));
}

TEST(RegistryAccepted, UnknownKeysAreIgnoredAtEveryLevel) {
  const RegistryFile file = decodeOk(
      R"({"extra":{"deep":[1]},"schemaVersion":2,"updatedAt":"","agents":[)"
      R"({"id":"a","display_name":"no","displayName":"A","vendor":"V","kind":"cli",)"
      R"("identify":{"bundleIDs":["x"],"argvMatches":["m"]},)"
      R"("recover":{"strategy":"exec-cli","future":true},"unknown":null}]})");
  ASSERT_EQ(file.agents.size(), 1);
  const AgentEntry& e = file.agents.at(0);
  EXPECT_EQ(e.displayName, "A");
  EXPECT_FALSE(e.identify.bundleIds.has_value()) << "keys are case-sensitive";
  EXPECT_EQ(e.identify.argvMatches, std::optional<QStringList>(QStringList{"m"}));
  const QByteArray encoded = Codec::encode(file, false);
  EXPECT_FALSE(encoded.contains("extra") || encoded.contains("future") || encoded.contains("display_name"));
}

TEST(RegistryAccepted, EventRulesTakeAnyValueAndEncodeAsEmptyObjects) {
  const RegistryFile file = decodeOk(
      docWith(R"("feedback":{"logPaths":[],"format":"text","eventRules":[{},{"own":1},null,3]})"));
  EXPECT_EQ(file.agents.at(0).feedback->eventRules.size(), 4);
  EXPECT_TRUE(Codec::encode(file, false).contains(R"("eventRules":[{},{},{},{}])"));
}

TEST(RegistryAccepted, WholeNumbersWrittenAsFloatsAreIntegers) {
  const RegistryFile file = decodeOk(docWith(R"("protectionSpec":{"resource":{"cpuLimit":1e3,"rssLimitMB":2.0}})"));
  EXPECT_EQ(file.agents.at(0).protectionSpec->resource->cpuLimit, 1000);
  EXPECT_EQ(file.agents.at(0).protectionSpec->resource->rssLimitMB, 2);
}

TEST(RegistryAccepted, EmptyAgentsAndDuplicateIdsDecode) {
  EXPECT_TRUE(decodeOk(docWithAgents("")).agents.isEmpty());
  const QByteArray two = kMinimalEntry + "}," + kMinimalEntry + "}";
  EXPECT_EQ(decodeOk(docWithAgents(two)).agents.size(), 2);
}

// ---------------------------------------------------------------------------

struct RejectRow {
  const char* name;
  QByteArray json;
  Kind kind;
  QString path;
};

TEST(RegistryRejected, EveryMalformedDocumentNamesItsFaultAndPath) {
  const QByteArray fix = R"("fix":{"kind":"shell","title":"t"})";
  const std::vector<RejectRow> rows = {
      {"not JSON", "{\"schemaVersion\":", Kind::dataCorrupted, ""},
      {"top level is a list", "[]", Kind::typeMismatch, ""},
      {"schemaVersion as text", R"({"schemaVersion":"1","updatedAt":"x","agents":[]})", Kind::typeMismatch, "schemaVersion"},
      {"updatedAt missing", R"({"schemaVersion":1,"agents":[]})", Kind::keyNotFound, "updatedAt"},
      {"agents null", R"({"schemaVersion":1,"updatedAt":"x","agents":null})", Kind::valueNotFound, "agents"},
      {"agents not a list", R"({"schemaVersion":1,"updatedAt":"x","agents":{}})", Kind::typeMismatch, "agents"},
      {"entry not an object", docWithAgents("\"a\""), Kind::typeMismatch, "agents[0]"},
      {"displayName null", docWithAgents(R"({"id":"a","displayName":null,"vendor":"V","kind":"cli","identify":{}})"), Kind::valueNotFound, "agents[0].displayName"},
      {"kind in capitals", docWithAgents(R"({"id":"a","displayName":"A","vendor":"V","kind":"CLI","identify":{}})"), Kind::typeMismatch, "agents[0].kind"},
      {"kind unknown word", docWithAgents(R"({"id":"a","displayName":"A","vendor":"V","kind":"daemon","identify":{}})"), Kind::typeMismatch, "agents[0].kind"},
      {"identify missing", docWithAgents(R"({"id":"a","displayName":"A","vendor":"V","kind":"cli"})"), Kind::keyNotFound, "agents[0].identify"},
      {"identify null", docWithAgents(R"({"id":"a","displayName":"A","vendor":"V","kind":"cli","identify":null})"), Kind::valueNotFound, "agents[0].identify"},
      {"serviceKind unknown", docWith(R"("serviceKind":"daemon")"), Kind::typeMismatch, "agents[0].serviceKind"},
      {"hidden as text", docWith(R"("hidden":"true")"), Kind::typeMismatch, "agents[0].hidden"},
      {"tuiCommand as one string", docWith(R"("tuiCommand":"claude")"), Kind::typeMismatch, "agents[0].tuiCommand"},
      {"argvMatches element a number", docWithAgents(R"({"id":"a","displayName":"A","vendor":"V","kind":"cli","identify":{"argvMatches":["a",1]}})"), Kind::typeMismatch, "agents[0].identify.argvMatches[1]"},
      {"recover without strategy", docWith(R"("recover":{})"), Kind::keyNotFound, "agents[0].recover.strategy"},
      {"strategy in capitals", docWith(R"("recover":{"strategy":"Open-App"})"), Kind::typeMismatch, "agents[0].recover.strategy"},
      {"plainCommand as one string", docWith(R"("recover":{"strategy":"exec-cli","command":["c","-c"],"plainCommand":"c"})"), Kind::typeMismatch, "agents[0].recover.plainCommand"},
      {"requirement without command", docWith(R"("install":{"requires":[{"hintUrl":"h"}]})"), Kind::keyNotFound, "agents[0].install.requires[0].command"},
      {"useTerminal as number", docWith(R"("install":{"useTerminal":1})"), Kind::typeMismatch, "agents[0].install.useTerminal"},
      {"preCommands element a string", docWith(R"("uninstall":{"preCommands":[["a"],"b"]})"), Kind::typeMismatch, "agents[0].uninstall.preCommands[1]"},
      {"restart without command", docWith(R"("restart":{"verifyCommand":["v"]})"), Kind::keyNotFound, "agents[0].restart.command"},
      {"exit code a fraction", docWith(R"("restart":{"command":["r"],"expectVerifyExitCode":1.5})"), Kind::typeMismatch, "agents[0].restart.expectVerifyExitCode"},
      {"exit code beyond 32 bits", docWith(R"("restart":{"command":["r"],"expectVerifyExitCode":1099511627776})"), Kind::typeMismatch, "agents[0].restart.expectVerifyExitCode"},
      {"doctor command as string", docWith(R"("doctor":{"command":"d"})"), Kind::typeMismatch, "agents[0].doctor.command"},
      {"known issue without fix", docWith(R"("doctor":{"command":["d"],"knownIssues":[{"id":"k","match":"m","title":"t"}]})"), Kind::keyNotFound, "agents[0].doctor.knownIssues[0].fix"},
      {"fix without title", docWith(R"("doctor":{"command":["d"],"knownIssues":[{"id":"k","match":"m","title":"t","fix":{"kind":"shell"}}]})"), Kind::keyNotFound, "agents[0].doctor.knownIssues[0].fix.title"},
      {"set value a number", docWith(R"("doctor":{"command":["d"],"knownIssues":[{"id":"k","match":"m","title":"t","fix":{"kind":"patch-json","title":"t","set":{"a.b":1}}}]})"), Kind::typeMismatch, R"(agents[0].doctor.knownIssues[0].fix.set["a.b"])"},
      {"cpuLimit as text", docWith(R"("protectionSpec":{"resource":{"cpuLimit":"150"}})"), Kind::typeMismatch, "agents[0].protectionSpec.resource.cpuLimit"},
      {"cpuLimit a fraction", docWith(R"("protectionSpec":{"resource":{"cpuLimit":1.5}})"), Kind::typeMismatch, "agents[0].protectionSpec.resource.cpuLimit"},
      {"integer beyond 64 bits", docWith(R"("protectionSpec":{"hangThresholdSeconds":18446744073709551616})"), Kind::typeMismatch, "agents[0].protectionSpec.hangThresholdSeconds"},
      {"tcpPorts element a string", docWith(R"("protectionSpec":{"exclusiveResources":{"tcpPorts":["80"]}})"), Kind::typeMismatch, "agents[0].protectionSpec.exclusiveResources.tcpPorts[0]"},
      {"repairCommands not a list of lists", docWith(R"("diagnosis":{"deps":{"repairCommands":["r"]}})"), Kind::typeMismatch, "agents[0].diagnosis.deps.repairCommands[0]"},
      {"mcp without supported", docWith(R"("mcp":{"configPath":"p"})"), Kind::keyNotFound, "agents[0].mcp.supported"},
      {"feedback without eventRules", docWith(R"("feedback":{"logPaths":[],"format":"text"})"), Kind::keyNotFound, "agents[0].feedback.eventRules"},
      {"feedback format unknown", docWith(R"("feedback":{"logPaths":[],"format":"xml","eventRules":[]})"), Kind::typeMismatch, "agents[0].feedback.format"},
      {"errorPatterns element a string", docWith(R"("errorPatterns":["x"])"), Kind::typeMismatch, "agents[0].errorPatterns[0]"},
      {"backup discovery list element null", docWith(R"("backup":{"discovery":{"envVars":[null]}})"), Kind::valueNotFound, "agents[0].backup.discovery.envVars[0]"},
      {"exclusion pattern empty", docWith(R"("backup":{"excludePatterns":["*.log",""]})"), Kind::invalidValue, "agents[0].backup.excludePatterns[1]"},
      {"exclusion pattern with a double star", docWith(R"("backup":{"excludePatterns":["**/cache"]})"), Kind::invalidValue, "agents[0].backup.excludePatterns[0]"},
      {"exclusion pattern leading out", docWith(R"("backup":{"excludePatterns":["../x/*"]})"), Kind::invalidValue, "agents[0].backup.excludePatterns[0]"},
      {"exclusion pattern leaving out everything", docWith(R"("backup":{"excludePatterns":["*/*"]})"), Kind::invalidValue, "agents[0].backup.excludePatterns[0]"},
      {"exclusion pattern with a line break", docWith(R"("backup":{"excludePatterns":["a\nb"]})"), Kind::invalidValue, "agents[0].backup.excludePatterns[0]"},
      {"common pattern without symptom", R"({"schemaVersion":1,"updatedAt":"x","agents":[],"commonErrorPatterns":[{"id":"p"}]})", Kind::keyNotFound, "commonErrorPatterns[0].symptom"},
      {"layer without owners", R"({"schemaVersion":1,"updatedAt":"x","agents":[],"sharedLayer":{"layers":{"l":{"path":"p"}}}})", Kind::keyNotFound, R"(sharedLayer.layers["l"].owners)"},
  };
  for (const RejectRow& row : rows) {
    SCOPED_TRACE(row.name);
    const auto result = Codec::decodeFile(row.json);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(tlr::kindName(result.error().kind), tlr::kindName(row.kind));
    EXPECT_EQ(result.error().path, row.path);
    EXPECT_TRUE(result.error().description().startsWith(tlr::kindName(row.kind)))
        << result.error().description().toStdString();
  }
}

// ---------------------------------------------------------------------------

TEST(RegistryFirstFault, TheFirstFaultInDecodingOrderIsReported) {
  auto pathOf = [](const QByteArray& json) {
    const auto result = Codec::decodeFile(json);
    return result.ok() ? QStringLiteral("<accepted>") : result.error().path;
  };
  const QByteArray bad = R"({"id":"b","displayName":"B","vendor":"V","kind":"nope","identify":{}})";
  // Faults in the first and third entries: the first one counts.
  EXPECT_EQ(pathOf(docWithAgents(bad + "," + kMinimalEntry + "}," + bad)), "agents[0].kind");
  EXPECT_EQ(pathOf(docWithAgents(kMinimalEntry + "}," + kMinimalEntry + "}," + bad)), "agents[2].kind");
  // Field order, not the order of keys in the text: `hidden` is written
  // first but decoded after `recover`, whose nested record is decoded whole.
  EXPECT_EQ(pathOf(docWithAgents(
                R"({"hidden":"x","recover":{"strategy":"exec-cli","command":[1]},"id":"a","displayName":"A","vendor":"V","kind":"cli","identify":{}})")),
            "agents[0].recover.command[0]");
  EXPECT_EQ(pathOf(docWithAgents(R"({"kind":"bad","vendor":5,"id":"a","displayName":"A","identify":{}})")),
            "agents[0].vendor");
  // Document fields before the entries.
  EXPECT_EQ(pathOf(R"({"agents":[{"kind":"bad"}],"updatedAt":"x"})"), "schemaVersion");
  EXPECT_EQ(pathOf(docWithAgents(bad).replace("]}", R"(],"commonErrorPatterns":[{}]})")), "agents[0].kind");
}
