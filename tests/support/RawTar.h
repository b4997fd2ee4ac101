#pragma once

#include <QByteArray>
#include <QString>

namespace tlr::test {

// A tar archive written member by member, for archives that tar itself
// would not make (absolute names, "..", links to anywhere, devices).
class RawTar {
 public:
  void file(const QString& name, const QByteArray& content, unsigned mode = 0644);
  void folder(const QString& name);
  void symlink(const QString& name, const QString& target);
  void hardLink(const QString& name, const QString& target);
  void charDevice(const QString& name, unsigned major, unsigned minor);
  void fifo(const QString& name);
  // The archive, gzip-compressed.
  QByteArray gzipped() const;

 private:
  void header(const QString& name, char type, qint64 size, unsigned mode, const QString& link = {},
              unsigned major = 0, unsigned minor = 0);
  QByteArray data_;
};

}  // namespace tlr::test
