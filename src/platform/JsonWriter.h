#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <vector>

namespace tlr {

// Writes JSON text member by member, in the order given (QJsonObject would
// sort the keys; a caller that wants them sorted writes them so), indented
// by two spaces a level or on one line. Either collected into one text, or
// handed to a sink in pieces of about 64 KB as it is made, so a large
// document is never whole in memory.
class JsonWriter {
 public:
  explicit JsonWriter(bool indented);
  // Hands the text to `sink`; false from it stops the writing (failed()).
  JsonWriter(bool indented, std::function<bool(QByteArrayView)> sink);

  // Ends the text (a line break when indented): the whole text, or, with a
  // sink, what is left handed to it and an empty text.
  QByteArray finish();
  bool failed() const { return failed_; }

  // Appends `utf8` to `out` as the inside of a JSON string: quotes,
  // backslashes and control characters escaped, the rest as it is.
  static void escape(QByteArray& out, QByteArrayView utf8);

  void beginObject() { open('{'); }
  void endObject() { close('}'); }
  void beginArray() { open('['); }
  void endArray() { close(']'); }

  void key(const QString& name);
  void string(const QString& s);
  // A string given as UTF-8 text.
  void utf8(QByteArrayView text);
  void integer(qint64 n);
  void boolean(bool b);
  // A key and its value.
  void member(const QString& name, const QString& s) {
    key(name);
    string(s);
  }
  void member(const QString& name, qint64 n) {
    key(name);
    integer(n);
  }

 private:
  void open(char bracket);
  void close(char bracket);
  // Comma and line break before a key or an array element.
  void separate();
  void beforeValue();
  void newline();
  void writeString(QByteArrayView utf8);
  void handOver(bool all);

  std::function<bool(QByteArrayView)> sink_;
  QByteArray out_;
  bool indented_;
  bool afterKey_ = false;
  bool failed_ = false;
  std::vector<bool> empty_;
};

}  // namespace tlr
