#include "platform/JsonWriter.h"

#include <cstdio>

namespace tlr {

JsonWriter::JsonWriter(bool indented) : indented_(indented) {}

JsonWriter::JsonWriter(bool indented, std::function<bool(QByteArrayView)> sink)
    : sink_(std::move(sink)), indented_(indented) {}

QByteArray JsonWriter::finish() {
  if (indented_) out_ += '\n';
  if (!sink_) return std::move(out_);
  handOver(true);
  return {};
}

void JsonWriter::key(const QString& name) {
  separate();
  writeString(name.toUtf8());
  out_ += indented_ ? ": " : ":";
  afterKey_ = true;
}

void JsonWriter::string(const QString& s) {
  beforeValue();
  writeString(s.toUtf8());
}

void JsonWriter::utf8(QByteArrayView text) {
  beforeValue();
  writeString(text);
}

void JsonWriter::integer(qint64 n) {
  beforeValue();
  out_ += QByteArray::number(n);
}

void JsonWriter::boolean(bool b) {
  beforeValue();
  out_ += b ? "true" : "false";
}

void JsonWriter::open(char bracket) {
  beforeValue();
  out_ += bracket;
  empty_.push_back(true);
}

void JsonWriter::close(char bracket) {
  const bool wasEmpty = empty_.back();
  empty_.pop_back();
  if (!wasEmpty) newline();
  out_ += bracket;
}

void JsonWriter::separate() {
  if (empty_.empty()) return;
  if (!empty_.back()) out_ += ',';
  empty_.back() = false;
  newline();
  if (sink_ && out_.size() >= (64 << 10)) handOver(false);
}

void JsonWriter::beforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  separate();
}

void JsonWriter::newline() {
  if (!indented_) return;
  out_ += '\n';
  out_ += QByteArray(static_cast<qsizetype>(empty_.size()) * 2, ' ');
}

void JsonWriter::writeString(QByteArrayView utf8) {
  out_ += '"';
  escape(out_, utf8);
  out_ += '"';
}

void JsonWriter::escape(QByteArray& out, QByteArrayView utf8) {
  const char* run = utf8.data();
  const char* const end = run + utf8.size();
  for (const char* p = run; p < end; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(run, p - run);
    run = p + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: {
        char escaped[7];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
        out += escaped;
      }
    }
  }
  out.append(run, end - run);
}

void JsonWriter::handOver(bool all) {
  if (failed_ || (!all && out_.isEmpty())) {
    out_.clear();
    return;
  }
  if (!sink_(out_)) failed_ = true;
  out_.clear();
}

}  // namespace tlr
