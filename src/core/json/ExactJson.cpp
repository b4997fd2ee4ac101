#include "core/json/ExactJson.h"

#include "platform/Utf8.h"

namespace tlr::ExactJson {

Value Value::boolean(bool b) {
  Value v;
  v.type_ = Type::boolean;
  v.bool_ = b;
  return v;
}

Value Value::numberText(const QString& text) {
  Value v;
  v.type_ = Type::number;
  v.text_ = text;
  return v;
}

Value Value::string(const QString& text) {
  Value v;
  v.type_ = Type::string;
  v.text_ = text;
  return v;
}

Value Value::array(std::vector<Value> items) {
  Value v;
  v.type_ = Type::array;
  v.items_ = std::move(items);
  return v;
}

Value Value::object(std::vector<Member> members) {
  Value v;
  v.type_ = Type::object;
  v.members_ = std::move(members);
  return v;
}

const Value* Value::member(const QString& key) const {
  for (const Member& m : members_) {
    if (m.first == key) return &m.second;
  }
  return nullptr;
}

Value* Value::member(const QString& key) {
  return const_cast<Value*>(std::as_const(*this).member(key));
}

void Value::setMember(const QString& key, Value value) {
  if (Value* existing = member(key)) {
    *existing = std::move(value);
    return;
  }
  members_.emplace_back(key, std::move(value));
}

namespace {

class Parser {
 public:
  explicit Parser(const QByteArray& data) : data_(data) {
    if (data_.startsWith("\xEF\xBB\xBF")) pos_ = 3;
  }

  std::optional<Value> document() {
    skipSpace();
    std::optional<Value> v = value(0);
    if (!v) return std::nullopt;
    skipSpace();
    if (pos_ != data_.size()) return fail("unexpected data after the value");
    return v;
  }

  QString error() const { return error_; }

 private:
  std::nullopt_t fail(const char* what) {
    if (error_.isEmpty()) error_ = QStringLiteral("%1 at byte %2").arg(QLatin1String(what)).arg(pos_);
    return std::nullopt;
  }

  bool atEnd() const { return pos_ >= data_.size(); }
  char peek() const { return atEnd() ? '\0' : data_[pos_]; }

  void skipSpace() {
    while (!atEnd()) {
      const char c = data_[pos_];
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
      ++pos_;
    }
  }

  bool literal(const char* word) {
    const qsizetype n = qstrlen(word);
    if (data_.mid(pos_, n) != word) return false;
    pos_ += n;
    return true;
  }

  std::optional<Value> value(int depth) {
    if (atEnd()) return fail("unexpected end of data");
    switch (peek()) {
      case '{': return objectValue(depth + 1);
      case '[': return arrayValue(depth + 1);
      case '"': {
        auto s = stringToken();
        if (!s) return std::nullopt;
        return Value::string(*s);
      }
      case 't': if (literal("true")) return Value::boolean(true); break;
      case 'f': if (literal("false")) return Value::boolean(false); break;
      case 'n': if (literal("null")) return Value(); break;
      default:
        if (peek() == '-' || (peek() >= '0' && peek() <= '9')) return numberValue();
    }
    return fail("unexpected character");
  }

  std::optional<Value> objectValue(int depth) {
    if (depth > kMaxDepth) return fail("nesting too deep");
    ++pos_;  // {
    Value obj = Value::object();
    skipSpace();
    if (peek() == '}') {
      ++pos_;
      return obj;
    }
    while (true) {
      skipSpace();
      if (peek() != '"') return fail("expected a member name");
      auto key = stringToken();
      if (!key) return std::nullopt;
      skipSpace();
      if (peek() != ':') return fail("expected ':'");
      ++pos_;
      skipSpace();
      auto v = value(depth);
      if (!v) return std::nullopt;
      obj.setMember(*key, std::move(*v));
      skipSpace();
      if (peek() == ',') {
        ++pos_;
        continue;
      }
      if (peek() == '}') {
        ++pos_;
        return obj;
      }
      return fail("expected ',' or '}'");
    }
  }

  std::optional<Value> arrayValue(int depth) {
    if (depth > kMaxDepth) return fail("nesting too deep");
    ++pos_;  // [
    std::vector<Value> items;
    skipSpace();
    if (peek() == ']') {
      ++pos_;
      return Value::array(std::move(items));
    }
    while (true) {
      skipSpace();
      auto v = value(depth);
      if (!v) return std::nullopt;
      items.push_back(std::move(*v));
      skipSpace();
      if (peek() == ',') {
        ++pos_;
        continue;
      }
      if (peek() == ']') {
        ++pos_;
        return Value::array(std::move(items));
      }
      return fail("expected ',' or ']'");
    }
  }

  bool digits() {
    const qsizetype start = pos_;
    while (!atEnd() && peek() >= '0' && peek() <= '9') ++pos_;
    return pos_ > start;
  }

  std::optional<Value> numberValue() {
    const qsizetype start = pos_;
    if (peek() == '-') ++pos_;
    if (peek() == '0') {
      ++pos_;
    } else if (!digits()) {
      return fail("invalid number");
    }
    if (peek() == '.') {
      ++pos_;
      if (!digits()) return fail("invalid number");
    }
    if (peek() == 'e' || peek() == 'E') {
      ++pos_;
      if (peek() == '+' || peek() == '-') ++pos_;
      if (!digits()) return fail("invalid number");
    }
    return Value::numberText(QString::fromLatin1(data_.mid(start, pos_ - start)));
  }

  std::optional<int> hex4() {
    if (pos_ + 4 > data_.size()) return std::nullopt;
    int v = 0;
    for (int i = 0; i < 4; ++i) {
      const char raw = data_[pos_ + i];
      const char c = static_cast<char>(raw | 0x20);  // lower case of a letter
      if (raw >= '0' && raw <= '9') {
        v = v * 16 + (raw - '0');
      } else if (c >= 'a' && c <= 'f') {
        v = v * 16 + (c - 'a' + 10);
      } else {
        return std::nullopt;
      }
    }
    pos_ += 4;
    return v;
  }

  std::optional<QString> stringToken() {
    ++pos_;  // opening quote
    QString out;
    qsizetype runStart = pos_;
    auto flushRun = [&]() -> bool {
      if (pos_ == runStart) return true;
      const std::optional<QString> piece = decodeStrictUtf8(QByteArrayView(data_).sliced(runStart, pos_ - runStart));
      if (!piece) return false;
      out += *piece;
      return true;
    };
    while (true) {
      if (atEnd()) return fail("unterminated string");
      const unsigned char c = static_cast<unsigned char>(data_[pos_]);
      if (c == '"') {
        if (!flushRun()) return fail("invalid UTF-8 in string");
        ++pos_;
        return out;
      }
      if (c < 0x20) return fail("control character in string");
      if (c != '\\') {
        ++pos_;
        continue;
      }
      if (!flushRun()) return fail("invalid UTF-8 in string");
      ++pos_;
      if (atEnd()) return fail("unterminated string");
      const char e = data_[pos_++];
      switch (e) {
        case '"': out += QLatin1Char('"'); break;
        case '\\': out += QLatin1Char('\\'); break;
        case '/': out += QLatin1Char('/'); break;
        case 'b': out += QLatin1Char('\b'); break;
        case 'f': out += QLatin1Char('\f'); break;
        case 'n': out += QLatin1Char('\n'); break;
        case 'r': out += QLatin1Char('\r'); break;
        case 't': out += QLatin1Char('\t'); break;
        case 'u': {
          auto code = hex4();
          if (!code) return fail("invalid \\u escape");
          // Kept as the UTF-16 unit it names, so a lone surrogate survives a
          // round trip.
          out += QChar(static_cast<char16_t>(*code));
          break;
        }
        default: return fail("invalid escape");
      }
      runStart = pos_;
    }
  }

  const QByteArray& data_;
  qsizetype pos_ = 0;
  QString error_;
};

void writeString(QByteArray& out, const QString& s) {
  out += '"';
  QString run;
  auto flush = [&] {
    out += run.toUtf8();
    run.clear();
  };
  auto escapeUnit = [&](char16_t u) {
    flush();
    out += QStringLiteral("\\u%1").arg(static_cast<int>(u), 4, 16, QLatin1Char('0')).toLatin1();
  };
  for (qsizetype i = 0; i < s.size(); ++i) {
    const QChar c = s[i];
    const char16_t u = c.unicode();
    if (c.isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate()) {
      run += c;
      run += s[++i];
      continue;
    }
    if (c.isSurrogate()) {
      escapeUnit(u);
      continue;
    }
    switch (u) {
      case '"': run += QStringLiteral("\\\""); break;
      case '\\': run += QStringLiteral("\\\\"); break;
      case '\n': run += QStringLiteral("\\n"); break;
      case '\r': run += QStringLiteral("\\r"); break;
      case '\t': run += QStringLiteral("\\t"); break;
      case '\b': run += QStringLiteral("\\b"); break;
      case '\f': run += QStringLiteral("\\f"); break;
      default:
        if (u < 0x20) {
          escapeUnit(u);
        } else {
          run += c;
        }
    }
  }
  flush();
  out += '"';
}

void writeValue(QByteArray& out, const Value& v, int indent) {
  const QByteArray pad(2 * (indent + 1), ' ');
  const QByteArray closePad(2 * indent, ' ');
  switch (v.type()) {
    case Value::Type::null: out += "null"; return;
    case Value::Type::boolean: out += v.toBool() ? "true" : "false"; return;
    case Value::Type::number: out += v.text().toLatin1(); return;
    case Value::Type::string: writeString(out, v.text()); return;
    case Value::Type::array: {
      if (v.items().empty()) {
        out += "[]";
        return;
      }
      out += "[\n";
      for (size_t i = 0; i < v.items().size(); ++i) {
        out += pad;
        writeValue(out, v.items()[i], indent + 1);
        out += i + 1 < v.items().size() ? ",\n" : "\n";
      }
      out += closePad + "]";
      return;
    }
    case Value::Type::object: {
      if (v.members().empty()) {
        out += "{}";
        return;
      }
      out += "{\n";
      for (size_t i = 0; i < v.members().size(); ++i) {
        out += pad;
        writeString(out, v.members()[i].first);
        out += ": ";
        writeValue(out, v.members()[i].second, indent + 1);
        out += i + 1 < v.members().size() ? ",\n" : "\n";
      }
      out += closePad + "}";
      return;
    }
  }
}

}  // namespace

Expected<Value, QString> parse(const QByteArray& document) {
  Parser parser(document);
  std::optional<Value> v = parser.document();
  if (!v) return Unexpected(parser.error());
  return std::move(*v);
}

QByteArray serializePretty(const Value& value) {
  QByteArray out;
  writeValue(out, value, 0);
  out += '\n';
  return out;
}

}  // namespace tlr::ExactJson
