#include "platform/TarWriter.h"

#include "platform/FileTransfer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace tlr {
namespace {

constexpr qsizetype kBlock = 512;
constexpr qsizetype kRecord = 20 * kBlock;  // GNU tar's default record
constexpr qsizetype kBuffer = 1 << 20;
// The largest number an 11-digit octal field holds (8 GiB - 1 as a size).
constexpr qint64 kOctal11 = 077777777777LL;


// `value` as zero-padded octal digits filling `width - 1` places and a NUL.
void octal(char* field, int width, quint64 value) {
  field[width - 1] = '\0';
  for (int i = width - 2; i >= 0; --i) {
    field[i] = static_cast<char>('0' + (value & 7));
    value >>= 3;
  }
}

// The decimal digits of `value` at the end of `to` (room for 20); their count.
int decimal(char* to, quint64 value) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (int i = 0; i < n; ++i) to[i] = digits[n - 1 - i];
  return n;
}

// Appends one pax record to `records`: "<length> <key>=<value>\n", the
// length counting itself.
void appendPaxRecord(QByteArray& records, QByteArrayView key, QByteArrayView value) {
  const qsizetype body = 1 + key.size() + 1 + value.size() + 1;
  char digits[20];
  qsizetype length = body + 1;
  while (decimal(digits, static_cast<quint64>(length)) + body != length) length = decimal(digits, static_cast<quint64>(length)) + body;
  records.append(digits, decimal(digits, static_cast<quint64>(length)));
  records.append(' ').append(key).append('=').append(value).append('\n');
}

QByteArray paxRecord(QByteArrayView key, QByteArrayView value) {
  QByteArray record;
  appendPaxRecord(record, key, value);
  return record;
}

// Splits a name too long for ustar's name field at a slash into the prefix
// (at most 155 bytes) and the rest (at most 100). False when no slash fits.
bool splitName(QByteArrayView name, QByteArrayView* prefix, QByteArrayView* rest) {
  for (qsizetype slash = std::min<qsizetype>(name.size() - 1, 155); slash > 0; --slash) {
    if (name[slash] != '/') continue;
    if (name.size() - slash - 1 > 100) return false;
    *prefix = name.first(slash);
    *rest = name.sliced(slash + 1);
    return !rest->isEmpty();
  }
  return false;
}

}  // namespace

TarWriter::TarWriter(int fd) : fd_(fd), buffer_(new char[kBuffer]) {}

TarWriter::~TarWriter() = default;

char* TarWriter::room(qsizetype bytes) {
  if (!error_.isEmpty() || (used_ + bytes > kBuffer && !flush())) return nullptr;
  char* at = buffer_.get() + used_;
  used_ += bytes;
  total_ += bytes;
  return at;
}

bool TarWriter::flush() {
  if (!error_.isEmpty()) return false;
  qsizetype done = 0;
  while (done < used_) {
    const ssize_t n = ::write(fd_, buffer_.get() + done, used_ - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = QString::fromLocal8Bit(std::strerror(n < 0 ? errno : EIO));
      return false;
    }
    done += n;
  }
  used_ = 0;
  return true;
}

bool TarWriter::pad() {
  const qsizetype tail = total_ % kBlock;
  if (tail == 0) return error_.isEmpty();
  char* at = room(kBlock - tail);
  if (!at) return false;
  std::memset(at, 0, kBlock - tail);
  return true;
}

bool TarWriter::writePax(QByteArrayView records) {
  if (!writeHeader("PaxHeader", 'x', 0644, records.size(), {}, nullptr)) return false;
  for (qsizetype at = 0; at < records.size();) {
    const qsizetype piece = std::min<qsizetype>(records.size() - at, kBuffer);
    char* to = room(piece);
    if (!to) return false;
    std::memcpy(to, records.data() + at, piece);
    at += piece;
  }
  return pad();
}

namespace {

// Puts `text` into a header field of `width` bytes (cut at it); an empty
// view may carry no data pointer at all, so nothing is copied for it.
void putField(char* field, QByteArrayView text, qsizetype width) {
  const qsizetype length = std::min<qsizetype>(text.size(), width);
  if (length > 0) std::memcpy(field, text.data(), static_cast<std::size_t>(length));
}

}  // namespace

bool TarWriter::writeHeader(QByteArrayView fullName, char type, unsigned mode, qint64 size, const struct timespec& mtime,
                            const struct stat* st, QByteArrayView extraPax, QByteArrayView link) {
  QByteArrayView name = fullName, prefix;
  const qint64 seconds = mtime.tv_sec;
  if (type != 'x') {
    QByteArray& pax = pax_;
    pax.resize(0);  // the room stays for the next member
    pax.append(extraPax);
    if (name.size() > 100 && !splitName(fullName, &prefix, &name)) {
      appendPaxRecord(pax, "path", fullName);
      name = fullName.last(100);
      prefix = {};
    }
    if (link.size() > 100) appendPaxRecord(pax, "linkpath", link);
    char number[48];
    if (size > kOctal11) appendPaxRecord(pax, "size", QByteArrayView(number, decimal(number, static_cast<quint64>(size))));
    if (mtime.tv_nsec > 0 && mtime.tv_nsec < 1000000000L) {
      // The time to the nanosecond: "<seconds>.<fraction>", trailing zeros cut.
      int length = 0;
      if (seconds < 0) number[length++] = '-';
      length += decimal(number + length, seconds < 0 ? 0 - static_cast<quint64>(seconds) : static_cast<quint64>(seconds));
      number[length++] = '.';
      long fraction = mtime.tv_nsec;
      for (int i = 8; i >= 0; --i, fraction /= 10) number[length + i] = static_cast<char>('0' + fraction % 10);
      length += 9;
      while (number[length - 1] == '0') --length;
      appendPaxRecord(pax, "mtime", QByteArrayView(number, length));
    } else if (seconds < 0 || seconds > kOctal11) {
      int length = 0;
      if (seconds < 0) number[length++] = '-';
      length += decimal(number + length, seconds < 0 ? 0 - static_cast<quint64>(seconds) : static_cast<quint64>(seconds));
      appendPaxRecord(pax, "mtime", QByteArrayView(number, length));
    }
    if (!pax.isEmpty() && !writePax(pax)) return false;
  }
  char* h = room(kBlock);
  if (!h) return false;
  std::memset(h, 0, kBlock);
  putField(h, name, 100);
  octal(h + 100, 8, mode & 0777);  // never a set-id or sticky bit
  const quint64 uid = st && st->st_uid <= 07777777 ? st->st_uid : 0;
  const quint64 gid = st && st->st_gid <= 07777777 ? st->st_gid : 0;
  octal(h + 108, 8, uid);
  octal(h + 116, 8, gid);
  octal(h + 124, 12, static_cast<quint64>(size > kOctal11 ? 0 : size));
  octal(h + 136, 12, static_cast<quint64>(seconds < 0 || seconds > kOctal11 ? 0 : seconds));
  h[156] = type;
  putField(h + 157, link, 100);
  std::memcpy(h + 257, "ustar\0" "00", 8);
  putField(h + 345, prefix, 155);
  std::memset(h + 148, ' ', 8);
  unsigned sum = 0;
  for (qsizetype i = 0; i < kBlock; ++i) sum += static_cast<unsigned char>(h[i]);
  octal(h + 148, 7, sum);
  h[155] = ' ';
  return true;
}

bool TarWriter::addFolder(QByteArrayView name, unsigned mode, qint64 mtime, long mtimeNsec) {
  if (name.endsWith('/')) return writeHeader(name, '5', mode, 0, {mtime, mtimeNsec}, nullptr);
  QByteArray& slashed = folderName_;
  slashed.resize(0);
  slashed.append(name).append('/');
  return writeHeader(slashed, '5', mode, 0, {mtime, mtimeNsec}, nullptr);
}

bool TarWriter::addHardLink(QByteArrayView name, QByteArrayView target, const struct stat& st) {
  return writeHeader(name, '1', st.st_mode, 0, st.st_mtim, &st, {}, target);
}

bool TarWriter::zeros(qint64 count) {
  while (count > 0) {
    const qsizetype piece = static_cast<qsizetype>(std::min<qint64>(count, kBuffer));
    char* at = room(piece);
    if (!at) return false;
    std::memset(at, 0, piece);
    count -= piece;
  }
  return true;
}

bool TarWriter::copyData(int fd, qint64 offset, qint64 length, bool* changed) {
  qint64 left = length;
  while (left > 0) {
    if (used_ == kBuffer && !flush()) return false;
    const qsizetype want = static_cast<qsizetype>(std::min<qint64>(kBuffer - used_, left));
    const ssize_t n = ::pread(fd, buffer_.get() + used_, static_cast<size_t>(want), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // shorter than it was (or unreadable): zeros below
    used_ += n;
    total_ += n;
    left -= n;
    offset += n;
  }
  if (left > 0 && changed) *changed = true;
  return zeros(left);
}

bool TarWriter::addFile(QByteArrayView name, int fd, const struct stat& st, FileRead* read) {
  FileRead ignored;
  if (!read) read = &ignored;
  *read = {};
  bool* changed = &read->changed;
  std::optional<std::vector<std::pair<qint64, qint64>>> regions;
  if (st.st_size > 0 && static_cast<qint64>(st.st_blocks) * 512 < st.st_size) {
    regions = FileTransfer::dataRegions(fd, st.st_size);
    if (!regions) ::lseek(fd, 0, SEEK_SET);  // read whole, from the start
  }
  if (regions) {
    // The map ("<count>\n<offset>\n<length>\n..."), padded to a block,
    // then the regions' data one after another.
    QByteArray map = QByteArray::number(static_cast<qsizetype>(regions->size())) + '\n';
    qint64 data = 0;
    for (const auto& [offset, length] : *regions) {
      map += QByteArray::number(offset) + '\n' + QByteArray::number(length) + '\n';
      data += length;
    }
    map.append((kBlock - map.size() % kBlock) % kBlock, '\0');
    const qsizetype slash = name.lastIndexOf('/');
    const QByteArray stored =
        name.first(slash + 1).toByteArray() + "GNUSparseFile.0/" + name.sliced(slash + 1).toByteArray();
    const QByteArray pax = paxRecord("GNU.sparse.major", "1") + paxRecord("GNU.sparse.minor", "0") +
                           paxRecord("GNU.sparse.name", name) +
                           paxRecord("GNU.sparse.realsize", QByteArray::number(static_cast<qint64>(st.st_size)));
    if (!writeHeader(stored, '0', st.st_mode, map.size() + data, st.st_mtim, &st, pax)) return false;
    for (qsizetype at = 0; at < map.size(); at += kBlock) {
      char* to = room(kBlock);
      if (!to) return false;
      std::memcpy(to, map.constData() + at, kBlock);
    }
    for (const auto& [offset, length] : *regions) {
      if (!copyData(fd, offset, length, changed)) return false;
    }
    read->dataBytes = data;
    // Grown since: one byte past the end says so.
    char probe;
    if (::pread(fd, &probe, 1, st.st_size) == 1) *changed = true;
  } else {
    if (!writeHeader(name, '0', st.st_mode, st.st_size, st.st_mtim, &st)) return false;
    qint64 left = st.st_size;
    while (left > 0) {
      if (used_ == kBuffer && !flush()) return false;
      const qsizetype space = kBuffer - used_;
      // One byte more than the rest when there is room: getting it means the
      // file grew while it was read.
      const qsizetype want = static_cast<qsizetype>(std::min<qint64>(space, left + 1));
      const ssize_t n = ::read(fd, buffer_.get() + used_, static_cast<size_t>(want));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // shorter than it was (or unreadable): padded below
      const qint64 taken = std::min<qint64>(n, left);
      if (n > left) *changed = true;
      used_ += taken;
      total_ += taken;
      left -= taken;
    }
    if (left > 0) {
      *changed = true;
      if (!zeros(left)) return false;
    }
    read->dataBytes = st.st_size;
  }
  // Written in place while it was read: its time moved on.
  struct stat after{};
  if (::fstat(fd, &after) == 0 &&
      (after.st_size != st.st_size || after.st_mtim.tv_sec != st.st_mtim.tv_sec ||
       after.st_mtim.tv_nsec != st.st_mtim.tv_nsec))
    *changed = true;
  return pad();
}

bool TarWriter::finish() {
  const qsizetype end = 2 * kBlock + (kRecord - (total_ + 2 * kBlock) % kRecord) % kRecord;
  char* at = room(end);
  if (!at) return false;
  std::memset(at, 0, end);
  return flush();
}

}  // namespace tlr
