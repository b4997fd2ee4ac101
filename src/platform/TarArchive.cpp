#include "platform/TarArchive.h"

#include "platform/ChildProcess.h"
#include "platform/TarUnpacker.h"
#include "platform/TarWriter.h"
#include "platform/UniqueFd.h"

#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <algorithm>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tlr::TarArchive {
namespace {

// Pieces handed to a sink or read from an archive.
constexpr qsizetype kPiece = 1 << 20;

struct Pipe {
  UniqueFd read, write;
};

// A pipe whose ends are not inherited, made as large as the system allows
// (a mebibyte by default): fewer switches between the tool and us.
bool makePipe(Pipe& pipe) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  pipe.read.reset(fds[0]);
  pipe.write.reset(fds[1]);
  ::fcntl(fds[1], F_SETPIPE_SZ, static_cast<int>(kPiece));
  return true;
}

QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// A write to a pipe whose reader is gone fails with EPIPE on this thread
// instead of raising SIGPIPE, which would end the process where nobody
// ignores it.
void keepBrokenPipeOnThisThread() {
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

// Writes all of `data` to `fd`; false once the reader is gone.
bool writeAll(int fd, const char* data, qsizetype size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= n;
  }
  return true;
}

QString gzipProgram() {
  const QString pigz = parallelGzip();
  return pigz.isEmpty() ? QStringLiteral("gzip") : pigz;
}

ChildSpec toolSpec(const QString& program, const QStringList& arguments) {
  ChildSpec spec;
  spec.program = program;
  spec.arguments = arguments;
  spec.umask = 077;
  // Only the error text of a failure is wanted; a flood is read and dropped.
  spec.outputLimit = 1 << 20;
  return spec;
}

void takeChild(const ChildResult& child, Result& result) {
  result.started = child.started;
  result.startError = child.startError;
  if (child.started && child.exited()) result.exitCode = child.exitCode();
  result.errorOutput = child.err;
}

}  // namespace

QString parallelGzip() {
  // Looked up on PATH, so a test can take it away; a found program is passed
  // to tar by its full path.
  const QString found = findExecutable(QStringLiteral("pigz"), currentPath());
  return found.isEmpty() ? QString() : QFileInfo(found).absoluteFilePath();
}

Result pack(const std::function<bool(TarWriter&)>& produce, const std::function<bool(QByteArrayView)>& sink) {
  Result result;
  Pipe toGzip, fromGzip;
  if (!makePipe(toGzip) || !makePipe(fromGzip)) {
    result.startError = errnoText(errno);
    return result;
  }
  bool produced = false, sunk = true;
  // The tar stream, made while gzip compresses what came before.
  std::thread producer([&, out = std::move(toGzip.write)] {
    keepBrokenPipeOnThisThread();
    TarWriter writer(out.get());
    produced = produce(writer) && writer.finish();
  });
  // The compressed pieces, handed on while gzip goes on.
  std::thread consumer([&, in = std::move(fromGzip.read)]() mutable {
    std::unique_ptr<char[]> buffer(new char[kPiece]);
    qsizetype filled = 0;
    while (true) {
      const ssize_t n = ::read(in.get(), buffer.get() + filled, static_cast<size_t>(kPiece - filled));
      if (n < 0 && errno == EINTR) continue;
      if (n > 0) filled += n;
      if (filled > 0 && (filled == kPiece || n <= 0)) {
        if (!sink(QByteArrayView(buffer.get(), filled))) {
          // gzip and then the producer see their reader gone and stop.
          sunk = false;
          return;
        }
        filled = 0;
      }
      if (n <= 0) return;
    }
  });
  ChildSpec spec = toolSpec(gzipProgram(), {});
  spec.inputFd = toGzip.read.release();
  spec.outputFd = fromGzip.write.release();
  takeChild(runChild(spec), result);
  producer.join();
  consumer.join();
  result.streamed = produced && sunk;
  return result;
}

namespace {

Result extractWith(const QString& archivePath, const QString& intoDir, int intoDirFd, const QStringList& members,
                   const std::function<void(QByteArrayView)>& onRead, const QList<TarUnpacker::Standing>& standing) {
  Result result;
  UniqueFd archive(archivePath.contains(QChar(0))
                       ? -1
                       : ::open(QFile::encodeName(archivePath).constData(),
                                O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
  struct stat st{};
  if (!archive || ::fstat(archive.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    result.startError = archivePath + QStringLiteral(": ") + errnoText(archive ? EINVAL : errno);
    return result;
  }
  // archive -> (hashed here) -> gzip -> tar: gzip is run here rather than
  // by tar, which would put a process of its own between it and a pipe.
  Pipe toGzip, toTar;
  if (!makePipe(toGzip) || !makePipe(toTar)) {
    result.startError = errnoText(errno);
    return result;
  }
  bool readWhole = false;
  std::thread feeder([&, out = std::move(toGzip.write)]() mutable {
    keepBrokenPipeOnThisThread();
    std::unique_ptr<char[]> buffer(new char[kPiece]);
    while (true) {
      const ssize_t n = ::read(archive.get(), buffer.get(), static_cast<size_t>(kPiece));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return;
      if (n == 0) break;
      if (onRead) onRead(QByteArrayView(buffer.get(), n));
      // Once gzip stopped reading, the rest is still read for `onRead`.
      if (out && !writeAll(out.get(), buffer.get(), n)) out.reset();
    }
    readWhole = true;
  });
  ChildSpec gzipSpec = toolSpec(gzipProgram(), {QStringLiteral("-dc")});
  gzipSpec.inputFd = toGzip.read.release();
  gzipSpec.outputFd = toTar.write.release();
  ChildResult unzipped;
  std::thread gzip([&unzipped, spec = std::move(gzipSpec)] { unzipped = runChild(spec); });

  // The tar stream is unpacked here, through the folders it makes.
  UniqueFd into(intoDirFd >= 0 ? ::fcntl(intoDirFd, F_DUPFD_CLOEXEC, 0)
                               : ::open(QFile::encodeName(intoDir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  QList<QByteArray> wanted;
  for (const QString& member : members) wanted << QFile::encodeName(member);
  TarUnpacker unpacker(into.get(), wanted);
  unpacker.keepIdentical(standing);
  bool unpacked = false;
  if (into) {
    unpacked = unpacker.unpack(toTar.read.get());
  } else {
    result.errorOutput = QFile::encodeName(intoDir) + ": " + std::strerror(errno) + '\n';
  }
  // Cancelled or done, gzip ends at its next write.
  toTar.read.reset();
  gzip.join();
  feeder.join();
  result.started = unzipped.started;
  result.startError = unzipped.startError;
  const bool gunzipped = unzipped.exited() && unzipped.exitCode() == 0;
  result.exitCode = !unzipped.started ? -1 : (unpacked && into ? (gunzipped ? 0 : (unzipped.exited() ? unzipped.exitCode() : -1)) : 2);
  result.errorOutput = unzipped.err + result.errorOutput + unpacker.errors();
  result.streamed = readWhole;
  result.diskFull = !result.ok() && unpacker.diskFull();
  result.folderModes = unpacker.folderModes();
  result.kept = unpacker.kept();
  return result;
}

}  // namespace

Result extract(const QString& archivePath, const QString& intoDir, const QStringList& members,
               const std::function<void(QByteArrayView)>& onRead) {
  return extractWith(archivePath, intoDir, -1, members, onRead, {});
}

Result extractInto(const QString& archivePath, int intoDirFd, const QStringList& members,
                   const std::function<void(QByteArrayView)>& onRead, const QList<TarUnpacker::Standing>& standing) {
  return extractWith(archivePath, QString(), intoDirFd, members, onRead, standing);
}

}  // namespace tlr::TarArchive
