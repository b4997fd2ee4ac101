#include "core/json/JsonEdit.h"

#include "core/json/ExactJson.h"

#include <vector>

namespace tlr::JsonEdit {
namespace {

// Positions in a document already known to be valid JSON.
class Scanner {
 public:
  explicit Scanner(const QByteArray& d) : d_(d) {}

  static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

  qsizetype skipSpace(qsizetype i) const {
    while (i < d_.size() && isSpace(d_[i])) ++i;
    return i;
  }

  // `i` at a string's opening quote: just past its closing one.
  qsizetype stringEnd(qsizetype i) const {
    for (++i; i < d_.size(); ++i) {
      if (d_[i] == '\\')
        ++i;
      else if (d_[i] == '"')
        return i + 1;
    }
    return d_.size();
  }

  // `i` at a value's first byte: just past its last one.
  qsizetype valueEnd(qsizetype i) const {
    const char first = d_[i];
    if (first == '"') return stringEnd(i);
    if (first == '{' || first == '[') {
      int depth = 0;
      for (; i < d_.size(); ++i) {
        const char c = d_[i];
        if (c == '"') {
          i = stringEnd(i) - 1;
        } else if (c == '{' || c == '[') {
          ++depth;
        } else if ((c == '}' || c == ']') && --depth == 0) {
          return i + 1;
        }
      }
      return d_.size();
    }
    while (i < d_.size() && !isSpace(d_[i]) && d_[i] != ',' && d_[i] != ']' && d_[i] != '}') ++i;
    return i;
  }

  struct Member {
    QString key;
    qsizetype keyStart = 0, valueStart = 0, valueEnd = 0;
  };
  struct Object {
    qsizetype open = 0, close = 0;
    std::vector<Member> members;
  };

  // `i` at an object's "{".
  Object object(qsizetype i) const {
    Object o;
    o.open = i;
    i = skipSpace(i + 1);
    while (i < d_.size() && d_[i] != '}') {
      Member m;
      m.keyStart = i;
      const qsizetype keyEnd = stringEnd(i);
      m.key = ExactJson::parse(d_.mid(i, keyEnd - i)).value_or(ExactJson::Value()).text();
      i = skipSpace(skipSpace(keyEnd) + 1);  // past the ":"
      m.valueStart = i;
      m.valueEnd = valueEnd(i);
      o.members.push_back(m);
      i = skipSpace(m.valueEnd);
      if (i < d_.size() && d_[i] == ',') i = skipSpace(i + 1);
    }
    o.close = i;
    return o;
  }

  // The white space that stands right before `i`.
  QByteArray spaceBefore(qsizetype i) const {
    qsizetype start = i;
    while (start > 0 && isSpace(d_[start - 1])) --start;
    return d_.mid(start, i - start);
  }

 private:
  const QByteArray& d_;
};

QByteArray encoded(const QString& text) { return ExactJson::serializePretty(ExactJson::Value::string(text)).chopped(1); }

// `keys` (not empty) and `value` as a new value: `"value"` or
// `{"k": {"l": "value"}}`.
QByteArray nested(const QStringList& keys, const QString& value) {
  QByteArray out = encoded(value);
  for (qsizetype i = keys.size() - 1; i >= 0; --i) out = "{" + encoded(keys[i]) + ": " + out + "}";
  return out;
}

struct Splice {
  qsizetype at = 0, length = 0;
  QByteArray text;
};

Splice splice(const QByteArray& d, const Scanner& scan, qsizetype objectAt, const QStringList& keys,
              const QString& value) {
  const Scanner::Object object = scan.object(objectAt);
  const Scanner::Member* found = nullptr;
  for (const Scanner::Member& m : object.members) {
    if (m.key == keys.first()) found = &m;
  }
  if (found) {
    if (keys.size() > 1 && d[found->valueStart] == '{')
      return splice(d, scan, found->valueStart, keys.mid(1), value);
    return {found->valueStart, found->valueEnd - found->valueStart,
            keys.size() == 1 ? encoded(value) : nested(keys.mid(1), value)};
  }
  const QByteArray member = encoded(keys.first()) + ": " + nested(keys.mid(1), value);
  if (object.members.empty()) return {object.open + 1, 0, member};
  // After the last member, spaced as that member is from what precedes it.
  const Scanner::Member& last = object.members.back();
  QByteArray space = scan.spaceBefore(last.keyStart);
  if (space.isEmpty()) space = " ";
  return {last.valueEnd, 0, "," + space + member};
}

}  // namespace

std::optional<QByteArray> setString(const QByteArray& document, const QStringList& keys, const QString& value) {
  const Expected<ExactJson::Value, QString> root = ExactJson::parse(document);
  if (!root || !root.value().isObject()) return std::nullopt;
  if (keys.isEmpty()) return document;
  const Scanner scan(document);
  const qsizetype start = scan.skipSpace(document.startsWith("\xEF\xBB\xBF") ? 3 : 0);
  const Splice edit = splice(document, scan, start, keys, value);
  QByteArray out = document;
  out.replace(edit.at, edit.length, edit.text);
  return out;
}

}  // namespace tlr::JsonEdit
