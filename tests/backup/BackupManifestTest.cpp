#include "backup/BackupManifest.h"

#include "platform/Crypto.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

using tlr::BackupManifest;

namespace {

BackupManifest sample() {
  BackupManifest m;
  m.createdAt = QDateTime(QDate(2026, 3, 1), QTime(9, 30, 0), Qt::UTC);
  m.device = {"工作站 α", "1a2b3c4d", "Linux 6.18.44"};
  BackupManifest::AgentBackup a;
  a.id = "codex-cli";
  a.displayName = "Codex CLI";
  a.fileCount = 2;
  a.totalBytes = 9007199254740993LL;  // beyond a double's exact integers
  a.stats = {1, 20, 3};
  // Names that need escaping in JSON, and one written with "\xNN" for bytes
  // that are not UTF-8.
  a.files = {"skills/a/b.md", "AGENTS.md", "quote\" back\\slash", "line\nbreak\ttab\x01", "笔记 ✓.md",
             "caf\\xE9.json"};
  m.agents = {a};
  m.totalBytes = 1234;
  m.archiveSha256 = QString(64, 'a');
  return m;
}

// The manifest with one member of one object replaced (or removed when
// `value` is undefined); `object` is "" for the top level, else "device",
// "agent" or "stats".
QByteArray edited(const QString& object, const QString& key, const QJsonValue& value) {
  QJsonObject top = QJsonDocument::fromJson(sample().encode()).object();
  auto apply = [&](QJsonObject& o) {
    if (value.isUndefined()) {
      o.remove(key);
    } else {
      o.insert(key, value);
    }
  };
  if (object.isEmpty()) {
    apply(top);
  } else if (object == "device") {
    QJsonObject d = top["device"].toObject();
    apply(d);
    top["device"] = d;
  } else {
    QJsonArray agents = top["agents"].toArray();
    QJsonObject a = agents[0].toObject();
    if (object == "agent") {
      apply(a);
    } else {
      QJsonObject s = a["stats"].toObject();
      apply(s);
      a["stats"] = s;
    }
    agents[0] = a;
    top["agents"] = agents;
  }
  return QJsonDocument(top).toJson();
}

}  // namespace

TEST(BackupManifestJson, RoundTripsWithSortedKeysAndExactIntegers) {
  const BackupManifest m = sample();
  const QByteArray json = m.encode();
  const auto back = BackupManifest::decode(json);
  ASSERT_TRUE(back.ok()) << back.error().toStdString();
  EXPECT_EQ(back.value(), m);

  const QString text = QString::fromUtf8(json);
  auto order = [&](const QStringList& keys) {
    qsizetype last = -1;
    for (const QString& k : keys) {
      const qsizetype at = text.indexOf('"' + k + "\":");
      EXPECT_GT(at, last) << k.toStdString();
      last = at;
    }
  };
  order({"agents", "displayName", "fileCount", "files", "id", "stats", "memoryBytes", "skills", "tasks",
         "totalBytes", "archiveSha256", "createdAt", "device", "macHashShort", "name", "osVersion",
         "schemaVersion"});
  EXPECT_TRUE(text.contains("\"createdAt\": \"2026-03-01T09:30:00Z\"")) << text.toStdString();
  EXPECT_TRUE(text.contains("9007199254740993"));
  EXPECT_TRUE(text.contains('\n'));
}

TEST(BackupManifestJson, WritesDatesInUtcWithWholeSeconds) {
  BackupManifest m = sample();
  m.createdAt = QDateTime(QDate(2026, 3, 1), QTime(17, 30, 5, 750), QTimeZone(8 * 3600));
  const auto back = BackupManifest::decode(m.encode());
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(BackupManifest::isoDate(back.value().createdAt), "2026-03-01T09:30:05Z");
}

TEST(BackupManifestJson, DecodingIsStrict) {
  struct Case {
    const char* what;
    QByteArray json;
  };
  const QList<Case> bad = {
      {"missing archiveSha256", edited("", "archiveSha256", QJsonValue::Undefined)},
      {"missing device.osVersion", edited("device", "osVersion", QJsonValue::Undefined)},
      {"missing stats.tasks", edited("stats", "tasks", QJsonValue::Undefined)},
      {"missing agents[0].files", edited("agent", "files", QJsonValue::Undefined)},
      {"fractional integer", edited("", "totalBytes", 1.5)},
      {"fractional nested integer", edited("stats", "skills", 0.25)},
      {"string for integer", edited("", "schemaVersion", "1")},
      {"number for string", edited("agent", "id", 7)},
      {"null for string", edited("", "archiveSha256", QJsonValue::Null)},
      {"object for array", edited("", "agents", QJsonObject())},
      {"fractional seconds", edited("", "createdAt", "2026-03-01T09:30:00.250Z")},
      {"offset instead of Z", edited("", "createdAt", "2026-03-01T09:30:00+00:00")},
      {"impossible date", edited("", "createdAt", "2026-02-30T09:30:00Z")},
      {"date only", edited("", "createdAt", "2026-03-01")},
      {"not JSON", "{\"agents\": ["},
      {"not an object", "[1]"},
  };
  for (const Case& c : bad) {
    const auto r = BackupManifest::decode(c.json);
    EXPECT_FALSE(r.ok()) << c.what;
  }
  const auto missing = BackupManifest::decode(edited("stats", "tasks", QJsonValue::Undefined));
  ASSERT_FALSE(missing.ok());
  EXPECT_TRUE(missing.error().contains("agents[0].stats.tasks")) << missing.error().toStdString();
}

TEST(BackupManifestJson, IgnoresUnknownKeysAndAcceptsWholeNumbersWrittenAsDecimals) {
  const auto extra = BackupManifest::decode(edited("device", "model", "x"));
  ASSERT_TRUE(extra.ok());
  EXPECT_EQ(extra.value(), sample());
  const auto whole = BackupManifest::decode(edited("", "totalBytes", 1234.0));
  ASSERT_TRUE(whole.ok());
  EXPECT_EQ(whole.value().totalBytes, 1234);
}

TEST(BackupManifestDigest, MatchesPublishedValues) {
  EXPECT_EQ(BackupManifest::sha256Hex("abc"),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(BackupManifest::sha256Hex(""),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(BackupManifestDigest, FilesAreHashedWholeAcrossChunkBoundaries) {
  QTemporaryDir dir;
  const qint64 chunk = BackupManifest::kHashChunkBytes;
  ASSERT_EQ(chunk, 4194304);
  for (qint64 size : {qint64(0), qint64(1), chunk - 1, chunk, chunk + 1, 2 * chunk + 3}) {
    QByteArray content(size, '\0');
    for (qint64 i = 0; i < size; ++i) content[i] = char((i * 131 + size) % 251);
    const QString path = dir.path() + QString("/f%1").arg(size);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
    f.close();
    const auto digest = BackupManifest::digestOfFile(path);
    ASSERT_TRUE(digest.ok());
    EXPECT_EQ(digest.value().sha256, BackupManifest::sha256Hex(content)) << size;
    EXPECT_EQ(digest.value().size, size);
    EXPECT_EQ(BackupManifest::sha256HexOfFile(path).value(), digest.value().sha256);
  }
}

TEST(BackupManifestDigest, AFileThatCannotBeReadIsAnErrorNamingItsPath) {
  QTemporaryDir dir;
  const QString missing = dir.path() + "/nope.tar.gz";
  const auto r = BackupManifest::sha256HexOfFile(missing);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().domain, "BackupManifest");
  EXPECT_EQ(r.error().code, 1);
  EXPECT_TRUE(r.error().description.endsWith(missing));
  // A folder opens but cannot be read: no digest of "nothing" comes back.
  EXPECT_FALSE(BackupManifest::sha256HexOfFile(dir.path()).ok());
}

TEST(BackupManifestDevice, ShortHashAndVersionHaveTheirForms) {
  const QString hash = BackupManifest::currentMacHashShort();
  EXPECT_EQ(hash.size(), 8);
  for (QChar c : hash) EXPECT_TRUE(c.isDigit() || (c >= 'a' && c <= 'f')) << hash.toStdString();
  EXPECT_EQ(hash, BackupManifest::currentMacHashShort());
  EXPECT_EQ(BackupManifest::macHashShort(std::nullopt),
            BackupManifest::sha256Hex("unknownBrindlecove-v4-snapshot").left(8));
  EXPECT_NE(BackupManifest::macHashShort(QString("0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9")),
            BackupManifest::macHashShort(std::nullopt));
  EXPECT_TRUE(BackupManifest::currentOSVersion().startsWith("Linux "));
  EXPECT_EQ(BackupManifest::currentOSVersion().count('.'), 2);
}

TEST(BackupManifestJson, RootsAreOptionalPlacesOrNamedPlaces) {
  EXPECT_FALSE(QJsonDocument::fromJson(sample().encode())["agents"][0].toObject().contains("roots"))
      << "no key when the record has none";
  BackupManifest withRoots = sample();
  withRoots.agents[0].roots = QList<BackupManifest::AgentBackup::Root>{
      {"skills", "~/.codex/skills", {}, {}},
      {"agent", "/srv/agent", {}, {}},
      {"agent~2", "~/Code/agent", {}, {}},
      // Stored once for several agents, inside another agent's entry.
      {"rules", "~/.codex/rules", "codex/.codex/rules", 4096}};
  const QByteArray json = withRoots.encode();
  // A root named by its place's last component is written as the place
  // alone, as older manifests wrote every root; a renamed one as an object.
  const QJsonArray roots = QJsonDocument::fromJson(json)["agents"][0]["roots"].toArray();
  ASSERT_EQ(roots.size(), 4);
  EXPECT_EQ(roots[0].toString(), "~/.codex/skills");
  EXPECT_EQ(roots[2].toObject(), (QJsonObject{{"name", "agent~2"}, {"place", "~/Code/agent"}}));
  EXPECT_EQ(roots[3].toObject(), (QJsonObject{{"diskBytes", 4096}, {"name", "rules"}, {"place", "~/.codex/rules"},
                                              {"stored", "codex/.codex/rules"}}));
  const auto decoded = BackupManifest::decode(json);
  ASSERT_TRUE(decoded.ok());
  EXPECT_EQ(decoded.value(), withRoots);
  EXPECT_FALSE(BackupManifest::decode(edited("agent", "roots", QJsonArray{1})).ok());
  EXPECT_FALSE(BackupManifest::decode(edited("agent", "roots", "~/.codex")).ok());
  EXPECT_FALSE(BackupManifest::decode(edited("agent", "roots", QJsonArray{QJsonObject{{"name", "../x"}, {"place", "~/x"}}})).ok())
      << "a name is one entry, never a path";
  EXPECT_FALSE(BackupManifest::decode(edited("agent", "roots", QJsonArray{QJsonObject{{"name", "x"}}})).ok());
  // Where a root is stored is a path inside the archive's top folder, never
  // one leading out of it.
  for (const char* stored : {"../codex/x", "codex/../../x", "/codex/x", "codex", "codex//x", ""}) {
    EXPECT_FALSE(BackupManifest::decode(edited("agent", "roots",
                                               QJsonArray{QJsonObject{{"name", "x"}, {"place", "~/x"}, {"stored", stored}}}))
                     .ok())
        << stored;
  }
}
