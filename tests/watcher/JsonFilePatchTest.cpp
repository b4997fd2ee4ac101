#include "watcher/JsonFilePatch.h"

#include "platform/ChildProcess.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using tlr::JsonFilePatch;
namespace json = tlr::ExactJson;

namespace {

std::optional<json::Value> parseFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
  const auto parsed = json::parse(f.readAll());
  return parsed ? std::optional<json::Value>(parsed.value()) : std::nullopt;
}

QString textAt(const json::Value& v, const QString& key) {
  const json::Value* m = v.member(key);
  return m ? m->text() : QString();
}

}  // namespace

// Only the bytes of the value set change: a fix once rewrote the whole file,
// dropping the byte order mark, CRLF, tabs, escapes and one-line arrays.
TEST(JsonFilePatchApply, ChangesOnlyTheBytesOfTheValueAndKeepsACopy) {
  struct Case {
    const char* what;
    QByteArray original;
    QList<JsonFilePatch::Change> changes;
    QByteArray expected;
  };
  const QList<Case> cases{
      {"numbers keep their text, missing levels are made",
       R"({"id": 9007199254740993, "a": 5, "keep": {"n": -9223372036854775808, "f": 2.50}, "z": true})",
       {{{"a", "b", "c"}, "x"}, {{"keep", "mode"}, "fast"}, {{}, "skip"}},
       R"({"id": 9007199254740993, "a": {"b": {"c": "x"}}, "keep": {"n": -9223372036854775808, "f": 2.50, "mode": "fast"}, "z": true})"},
      {"byte order mark, CRLF, tabs and a one-line array",
       "\xEF\xBB\xBF{\r\n\t\"model\": \"old\",\r\n\t\"list\": [1, 2, 3]\r\n}\r\n", {{{"model"}, "new"}},
       "\xEF\xBB\xBF{\r\n\t\"model\": \"new\",\r\n\t\"list\": [1, 2, 3]\r\n}\r\n"},
      {"a new member on a line of its own, spaced as the last one",
       "{\r\n\t\"a\": [1,2],\r\n\t\"b\": {\r\n\t\t\"c\": 1\r\n\t}\r\n}", {{{"b", "d"}, "x"}, {{"e"}, "y"}},
       "{\r\n\t\"a\": [1,2],\r\n\t\"b\": {\r\n\t\t\"c\": 1,\r\n\t\t\"d\": \"x\"\r\n\t},\r\n\t\"e\": \"y\"\r\n}"},
      {"escapes stay as written", R"({"name": "caf\u00e9", "url": "http:\/\/x", "mode": "slow"})",
       {{{"mode"}, "fast"}}, R"({"name": "caf\u00e9", "url": "http:\/\/x", "mode": "fast"})"},
      {"a key written with escapes, and a text that needs them", R"({"mo\u0064e": "slow"})",
       {{{"mode"}, "a\"b\\"}}, R"({"mo\u0064e": "a\"b\\"})"},
      {"a repeated key changes where its last value stands", R"({"m": "a", "m": "b"})", {{{"m"}, "c"}},
       R"({"m": "a", "m": "c"})"},
      {"braces inside texts", R"({"x": {"s": "}{\"[", "t": 1}, "y": 2})", {{{"x", "t"}, "z"}},
       R"({"x": {"s": "}{\"[", "t": "z"}, "y": 2})"},
      {"after an object holding braces in a text", R"({"x": {"s": "}]"}, "y": [{"u": "}"}], "z": "old"})",
       {{{"z"}, "new"}, {{"w"}, "added"}},
       R"({"x": {"s": "}]"}, "y": [{"u": "}"}], "z": "new", "w": "added"})"},
      {"a value of another kind in the way", R"({"a": [], "b": {}})", {{{"a", "b"}, "v"}, {{"b", "c"}, "w"}},
       R"({"a": {"b": "v"}, "b": {"c": "w"}})"},
  };
  tlr::test::TempHome home;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const QString path = home.writeFile("cfg.json", c.original);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    const auto report = JsonFilePatch::apply(path, c.changes);
    ASSERT_EQ(report.outcome, JsonFilePatch::Outcome::patched) << report.detail.toStdString();
    QFile patched(path), copy(path + ".tlrbak");
    ASSERT_TRUE(patched.open(QIODevice::ReadOnly) && copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(patched.readAll(), c.expected);
    EXPECT_EQ(copy.readAll(), c.original);
    // A private file stays private, and so does its copy.
    const auto groupOrOther = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther |
                              QFile::WriteOther | QFile::ExeOther;
    EXPECT_FALSE(QFileInfo(path).permissions() & groupOrOther);
    EXPECT_FALSE(QFileInfo(path + ".tlrbak").permissions() & groupOrOther);
  }
}

TEST(JsonFilePatchApply, NothingIsWrittenUnlessTheFileHoldsAnObject) {
  tlr::test::TempHome home;
  const QString path = home.writeFile("cfg.json", "[1, 2]");
  const QString backup = home.writeFile("cfg.json.tlrbak", "earlier");
  EXPECT_EQ(JsonFilePatch::apply(path, {{{"a"}, "x"}}).outcome, JsonFilePatch::Outcome::notAnObject);
  home.writeFile("bad.json", "{\"a\": 01}");
  const auto bad = JsonFilePatch::apply(home.path() + "/bad.json", {{{"a"}, "x"}});
  EXPECT_EQ(bad.outcome, JsonFilePatch::Outcome::parseFailed);
  EXPECT_FALSE(bad.detail.isEmpty());
  EXPECT_EQ(JsonFilePatch::apply(home.path() + "/none.json", {{{"a"}, "x"}}).outcome,
            JsonFilePatch::Outcome::fileNotFound);
  EXPECT_EQ(tlr::test::readFile(path), "[1, 2]");
  EXPECT_EQ(tlr::test::readFile(backup), "earlier");
  EXPECT_FALSE(QFile::exists(home.path() + "/bad.json.tlrbak"));
}

TEST(JsonFilePatchApply, ALinkedFileIsRewrittenThroughTheLink) {
  tlr::test::TempHome home;
  const QString target = home.writeFile("dotfiles/cfg.json", R"({"a": 1})");
  const QString link = home.path() + "/cfg.json";
  ASSERT_TRUE(QFile::link(target, link));
  ASSERT_EQ(JsonFilePatch::apply(link, {{{"a"}, "2"}}).outcome, JsonFilePatch::Outcome::patched);
  EXPECT_TRUE(QFileInfo(link).isSymLink());
  EXPECT_EQ(textAt(*parseFile(target), "a"), "2");
  EXPECT_EQ(tlr::test::readFile(link + ".tlrbak"), R"({"a": 1})");
}

TEST(JsonFilePatchApply, ALinkAtTheBackupPathGoesItselfAndItsTargetIsKept) {
  tlr::test::TempHome home;
  const QString path = home.writeFile("cfg.json", R"({"a": 1})");
  const QString precious = home.writeFile("precious.txt", "the user's own text\n");
  ASSERT_TRUE(QFile::link(precious, path + ".tlrbak"));
  ASSERT_EQ(JsonFilePatch::apply(path, {{{"a"}, "2"}}).outcome, JsonFilePatch::Outcome::patched);
  EXPECT_EQ(tlr::test::readFile(precious), "the user's own text\n");
  EXPECT_FALSE(QFileInfo(path + ".tlrbak").isSymLink());
  EXPECT_EQ(tlr::test::readFile(path + ".tlrbak"), R"({"a": 1})");
  EXPECT_EQ(textAt(*parseFile(path), "a"), "2");
}

TEST(JsonFilePatchApply, ATargetWithANulOrOfAnotherKindIsNeverTouched) {
  tlr::test::TempHome home;
  // Cut at the NUL, the path would name this file.
  const QString cut = home.writeFile("cfg.json", R"({"a": 1})");
  const auto nul = JsonFilePatch::apply(cut + QChar(0) + "/x.json", {{{"a"}, "2"}});
  EXPECT_EQ(nul.outcome, JsonFilePatch::Outcome::readFailed);
  EXPECT_TRUE(nul.detail.contains("NUL")) << nul.detail.toStdString();
  EXPECT_EQ(tlr::test::readFile(cut), R"({"a": 1})");
  EXPECT_FALSE(QFile::exists(cut + ".tlrbak"));

  // A FIFO is neither waited on nor read.
  const QString fifo = home.path() + "/fifo.json";
  ASSERT_EQ(tlr::runChild({.program = "mkfifo", .arguments = {fifo}}).exitCode(), 0);
  EXPECT_EQ(JsonFilePatch::apply(fifo, {{{"a"}, "2"}}).outcome, JsonFilePatch::Outcome::readFailed);
  EXPECT_FALSE(QFile::exists(fifo + ".tlrbak"));
}

// The process ends at each step in turn; the file must hold its old or its
// new content, whole, and any copy must be whole too.
TEST(JsonFilePatchCrash, ACrashAtAnyStepLeavesValidFiles) {
  struct Case {
    const char* step;
    const char* expectedModel;
    const char* expectedBackupModel;
  };
  for (const Case& c : {Case{"backupWritten", "old", "older"}, Case{"backupInPlace", "old", "old"},
                        Case{"contentWritten", "old", "old"}, Case{"contentInPlace", "new", "old"}}) {
    SCOPED_TRACE(c.step);
    tlr::test::TempHome home;
    const QString path = home.writeFile("cfg.json", R"({"model": "old", "id": 9007199254740993})");
    home.writeFile("cfg.json.tlrbak", R"({"model": "older"})");

    tlr::ChildSpec spec;
    spec.program = tlr::test::toolPath("tlr_json_patch_crash");
    spec.arguments = {path, c.step, "model", "new"};
    spec.timeout = std::chrono::seconds(10);
    const auto r = tlr::runChild(spec);
    ASSERT_TRUE(r.exited()) << r.startError.toStdString();
    ASSERT_EQ(r.exitCode(), 42) << r.err.toStdString();

    const auto file = parseFile(path);
    ASSERT_TRUE(file);
    EXPECT_EQ(textAt(*file, "model"), c.expectedModel);
    EXPECT_EQ(textAt(*file, "id"), "9007199254740993");
    const auto backup = parseFile(path + ".tlrbak");
    ASSERT_TRUE(backup);
    EXPECT_EQ(textAt(*backup, "model"), c.expectedBackupModel);
  }
}
