#include "RawTar.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace tlr::test {
namespace {

void put(QByteArray& block, int offset, int width, const QByteArray& value) {
  for (int i = 0; i < width && i < value.size(); ++i) block[offset + i] = value[i];
}

QByteArray octal(qint64 value, int width) {
  return QByteArray::number(value, 8).rightJustified(width - 1, '0');
}

}  // namespace

void RawTar::header(const QString& name, char type, qint64 size, unsigned mode, const QString& link, unsigned major,
                    unsigned minor) {
  QByteArray block(512, '\0');
  put(block, 0, 100, name.toUtf8());
  put(block, 100, 8, octal(mode, 8));
  put(block, 108, 8, octal(0, 8));
  put(block, 116, 8, octal(0, 8));
  put(block, 124, 12, octal(size, 12));
  put(block, 136, 12, octal(1700000000, 12));
  put(block, 148, 8, QByteArray(8, ' '));
  block[156] = type;
  put(block, 157, 100, link.toUtf8());
  put(block, 257, 6, QByteArray("ustar\0", 6));
  put(block, 263, 2, "00");
  put(block, 265, 32, "root");
  put(block, 297, 32, "root");
  put(block, 329, 8, octal(major, 8));
  put(block, 337, 8, octal(minor, 8));
  unsigned sum = 0;
  for (char c : block) sum += static_cast<unsigned char>(c);
  put(block, 148, 8, octal(sum, 7) + QByteArray(1, '\0'));
  data_ += block;
}

void RawTar::file(const QString& name, const QByteArray& content, unsigned mode) {
  header(name, '0', content.size(), mode);
  data_ += content;
  data_ += QByteArray((512 - content.size() % 512) % 512, '\0');
}

void RawTar::folder(const QString& name) { header(name, '5', 0, 0755); }
void RawTar::symlink(const QString& name, const QString& target) { header(name, '2', 0, 0777, target); }
void RawTar::hardLink(const QString& name, const QString& target) { header(name, '1', 0, 0644, target); }
void RawTar::charDevice(const QString& name, unsigned major, unsigned minor) {
  header(name, '3', 0, 0666, {}, major, minor);
}
void RawTar::fifo(const QString& name) { header(name, '6', 0, 0644); }

QByteArray RawTar::gzipped() const {
  const ProgramRun gzip = runProgram(QStringLiteral("gzip"), {QStringLiteral("-c"), QStringLiteral("-n")},
                                     data_ + QByteArray(1024, '\0'));
  EXPECT_EQ(gzip.exitCode, 0) << gzip.failure.toStdString() << gzip.err.toStdString();
  return gzip.out;
}

}  // namespace tlr::test
