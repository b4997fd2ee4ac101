#include "watcher/ExitSignalClassifier.h"

#include <csignal>

namespace tlr {

QString toString(ExitIntent intent) {
  switch (intent) {
    case ExitIntent::normalExit: return QStringLiteral("normalExit");
    case ExitIntent::crash: return QStringLiteral("crash");
    case ExitIntent::oom: return QStringLiteral("oom");
    case ExitIntent::forceKilled: return QStringLiteral("forceKilled");
    case ExitIntent::abnormalExit: return QStringLiteral("abnormalExit");
    case ExitIntent::unknown: return QStringLiteral("unknown");
  }
  return QStringLiteral("unknown");
}

namespace ExitSignalClassifier {
namespace {

constexpr int kStoppedEncoding = 0x7F;

bool isFaultSignal(int sig) {
  switch (sig) {
    case SIGILL: case SIGTRAP: case SIGABRT: case SIGFPE: case SIGBUS: case SIGSEGV: case SIGSYS:
      return true;
    default:
      return false;
  }
}

bool isFinishSignal(int sig) { return sig == SIGHUP || sig == SIGINT || sig == SIGQUIT || sig == SIGTERM; }

}  // namespace

ExitIntent classify(const RawExitInfo& info, const OomCounted& oomCounted) {
  const int status = info.exitStatus;
  const int sig = status & 0x7F;  // the core-dump bit 0x80 plays no part
  if (sig == 0 || sig == kStoppedEncoding)
    return (status & 0xFF00) != 0 ? ExitIntent::abnormalExit : ExitIntent::normalExit;
  if (isFaultSignal(sig)) return ExitIntent::crash;
  if (isFinishSignal(sig)) return ExitIntent::normalExit;
  if (sig == SIGKILL)
    return oomCounted && oomCounted() ? ExitIntent::oom : ExitIntent::forceKilled;
  return ExitIntent::unknown;
}

ExitIntent classify(const RawExitInfo& info, uint64_t ourSignals, const OomCounted& oomCounted) {
  auto ours = [ourSignals](int sig) { return sig > 0 && sig < 64 && (ourSignals & (uint64_t{1} << sig)) != 0; };
  RawExitInfo read = info;
  const int sig = info.exitStatus & 0x7F;
  const int code = (info.exitStatus >> 8) & 0xFF;
  if (sig == 0 && code > 128 && ours(code - 128)) read.exitStatus = code - 128;
  const int readSig = read.exitStatus & 0x7F;
  if (ours(SIGKILL) && (readSig == SIGKILL || read.exitStatus == 0)) return ExitIntent::forceKilled;
  return classify(read, oomCounted);
}

}  // namespace ExitSignalClassifier
}  // namespace tlr
