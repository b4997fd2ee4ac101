#pragma once

#include <QByteArray>
#include <QString>

#include "platform/Expected.h"

#include <optional>
#include <utility>
#include <vector>

// JSON for files that belong to someone else: a number keeps the exact text it
// was written with (a 64-bit identifier stays exact, 1.50 stays 1.50), and an
// object keeps its members in the order of the file. Parsing is strict
// (RFC 8259, UTF-8, an optional byte order mark) and nesting is bounded, so no
// input can exhaust the stack.
namespace tlr::ExactJson {

class Value {
 public:
  enum class Type { null, boolean, number, string, array, object };
  using Member = std::pair<QString, Value>;

  Value() = default;  // null
  static Value boolean(bool b);
  // `text` must already be a valid JSON number.
  static Value numberText(const QString& text);
  static Value string(const QString& text);
  static Value array(std::vector<Value> items = {});
  static Value object(std::vector<Member> members = {});

  Type type() const { return type_; }
  bool isObject() const { return type_ == Type::object; }
  bool toBool() const { return bool_; }
  // The number's text as written, or the string's content.
  const QString& text() const { return text_; }
  const std::vector<Value>& items() const { return items_; }
  const std::vector<Member>& members() const { return members_; }

  // Object members by key: the member, or null when there is none.
  const Value* member(const QString& key) const;
  Value* member(const QString& key);
  // Replaces the member's value where it stands, or appends a new member.
  void setMember(const QString& key, Value value);

  bool operator==(const Value& other) const = default;

 private:
  Type type_ = Type::null;
  bool bool_ = false;
  QString text_;
  std::vector<Value> items_;
  std::vector<Member> members_;
};

// The deepest nesting of arrays and objects that parse() accepts.
inline constexpr int kMaxDepth = 512;

// Parses a whole document (a top-level value of any kind), or says why it is
// no JSON, with the byte offset. A repeated key in an object keeps its first
// position and its last value.
Expected<Value, QString> parse(const QByteArray& document);

// Pretty-printed UTF-8: two-space indentation, one member or element per line,
// a line feed at the end. Numbers are written exactly as held.
QByteArray serializePretty(const Value& value);

}  // namespace tlr::ExactJson
