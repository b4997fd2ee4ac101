#include "core/json/ExactJson.h"

#include <gtest/gtest.h>

using namespace tlr::ExactJson;

namespace {

QByteArray roundTrip(const QByteArray& text) {
  const auto v = parse(text);
  EXPECT_TRUE(v) << v.error().toStdString();
  return v ? serializePretty(v.value()) : QByteArray();
}

}  // namespace

TEST(ExactJsonNumbers, KeepTheirTextExactly) {
  const QByteArray out = roundTrip(R"({"big":9007199254740993,"min":-9223372036854775808,)"
                                   R"("huge":123456789012345678901234567890,"f":1.50,"e":1E400,"z":-0})");
  EXPECT_EQ(out,
            "{\n  \"big\": 9007199254740993,\n  \"min\": -9223372036854775808,\n"
            "  \"huge\": 123456789012345678901234567890,\n  \"f\": 1.50,\n  \"e\": 1E400,\n  \"z\": -0\n}\n");
}

TEST(ExactJsonLayout, MembersKeepTheirOrderAndNestingIsIndented) {
  EXPECT_EQ(roundTrip(R"({"z":[1,{"b":null,"a":true}],"a":{},"m":[]})"),
            "{\n  \"z\": [\n    1,\n    {\n      \"b\": null,\n      \"a\": true\n    }\n  ],\n"
            "  \"a\": {},\n  \"m\": []\n}\n");
  EXPECT_EQ(roundTrip("\xEF\xBB\xBF [ ] "), "[]\n");
  EXPECT_EQ(roundTrip(R"({"k":1,"k":2,"j":3})"), "{\n  \"k\": 2,\n  \"j\": 3\n}\n");
}

// A U+FEFF at the start of a string, or right after an escape, used to be
// dropped: a fix that edits the user's file changed their strings.
TEST(ExactJsonStrings, EscapesAndEveryCharacterSurviveARoundTrip) {
  const QByteArray text = R"(["a\"b\\c\/d\n\t\u0001", "\u00e9\ud83d\ude00", "\ud800x", ")"
                          "\xEF\xBB\xBF" "bom\\n\xEF\xBB\xBF\"]";
  const auto parsed = parse(text);
  ASSERT_TRUE(parsed) << parsed.error().toStdString();
  const Value& v = parsed.value();
  EXPECT_EQ(v.items()[0].text(), QString("a\"b\\c/d\n\t") + QChar(1));
  EXPECT_EQ(v.items()[1].text(), QString::fromUtf8("é😀"));
  EXPECT_EQ(v.items()[3].text(), QStringLiteral("\uFEFFbom\n\uFEFF"));
  EXPECT_TRUE(serializePretty(v).contains("\"\xEF\xBB\xBF" "bom\\n\xEF\xBB\xBF\""));
  const QByteArray out = serializePretty(v);
  EXPECT_TRUE(out.contains(R"("a\"b\\c/d\n\t\u0001")")) << out.toStdString();
  EXPECT_TRUE(out.contains("\"\xC3\xA9\xF0\x9F\x98\x80\""));
  EXPECT_TRUE(out.contains(R"("\ud800x")"));  // a lone surrogate is kept, escaped
  EXPECT_EQ(parse(out).value(), v);
}

TEST(ExactJsonErrors, MalformedDocumentsAreRejectedWithAnOffset) {
  for (const QByteArray& bad :
       {QByteArray(""), QByteArray("{"), QByteArray("{\"a\":1,}"), QByteArray("[1,]"), QByteArray("01"),
        QByteArray("-"), QByteArray("1."), QByteArray("1e"), QByteArray("\"a\nb\""), QByteArray("\"\xff\""),
        QByteArray("\"\\x\""), QByteArray("\"\\u12g4\""), QByteArray("\"\\u\xB2\xB2\xB3\xB9\""), QByteArray("\"\\u\x10\x11\x12\x13\""), QByteArray("{} {}"), QByteArray("tru"),
        QByteArray("{'a':1}"), QByteArray("NaN")}) {
    const auto parsed = parse(bad);
    ASSERT_FALSE(parsed) << bad.toStdString();
    EXPECT_TRUE(parsed.error().contains("at byte")) << parsed.error().toStdString();
  }
}

TEST(ExactJsonErrors, NestingIsBounded) {
  const QByteArray ok = QByteArray(kMaxDepth, '[') + QByteArray(kMaxDepth, ']');
  EXPECT_TRUE(parse(ok));
  const QByteArray deep = QByteArray(1'000'000, '[') + QByteArray(1'000'000, ']');
  const auto parsed = parse(deep);
  ASSERT_FALSE(parsed);
  EXPECT_TRUE(parsed.error().startsWith("nesting too deep"));
}

TEST(ExactJsonObjects, SetMemberReplacesInPlaceOrAppends) {
  Value obj = Value::object({{"a", Value::numberText("1")}, {"b", Value()}});
  obj.setMember("a", Value::string("x"));
  obj.setMember("c", Value::boolean(false));
  ASSERT_EQ(obj.members().size(), 3u);
  EXPECT_EQ(obj.members()[0].first, "a");
  EXPECT_EQ(obj.member("a")->text(), "x");
  EXPECT_EQ(obj.members()[2].first, "c");
  EXPECT_EQ(obj.member("zz"), nullptr);
}
