#include "watcher/HangWatcher.h"

#include "core/stores/EventStore.h"
#include "core/texts/LocTexts.h"
#include "platform/DirectoryWatcher.h"
#include "platform/FileOps.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/Utf8.h"
#include "registry/AgentRegistry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tlr {
namespace {

constexpr const char* kTag = "[HangWatcher] ";
constexpr qint64 kReadLimit = 8192;

// A report's first non-empty line, and whether it is complete (a line feed
// ends it), from the report's first bytes.
struct FirstLine {
  QByteArray bytes;
  bool complete = false;
};

std::optional<FirstLine> firstLineOf(const QByteArray& head) {
  qsizetype start = 0;
  while (start < head.size() && head[start] == '\n') ++start;
  if (start == head.size()) return std::nullopt;
  const qsizetype end = head.indexOf('\n', start);
  if (end < 0) return FirstLine{head.mid(start), false};
  return FirstLine{head.mid(start, end - start), true};
}

// Drops a character cut off at the end of `bytes` by a read limit.
void dropCutCharacter(QByteArray& bytes) {
  qsizetype lead = bytes.size();
  int continuations = 0;
  while (lead > 0 && continuations < 3 && (static_cast<uchar>(bytes[lead - 1]) & 0xC0) == 0x80) {
    --lead;
    ++continuations;
  }
  if (lead == 0) return;
  const uchar first = static_cast<uchar>(bytes[lead - 1]);
  const int length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
  if (length > continuations + 1) bytes.truncate(lead - 1);
}

// The process name that a line names, if it names one.
std::optional<QString> processNameIn(const QString& line) {
  static const QString key = QStringLiteral("\"procName\"");
  const qsizetype keyAt = line.indexOf(key);
  if (keyAt < 0) return std::nullopt;
  const qsizetype open = line.indexOf('"', keyAt + key.size());
  if (open < 0) return std::nullopt;
  const qsizetype close = line.indexOf('"', open + 1);
  if (close < 0) return std::nullopt;
  return line.mid(open + 1, close - open - 1);
}

}  // namespace

HangWatcher::HangWatcher(EventStore& eventStore)
    : HangWatcher(eventStore, Paths::diagnosticReports()) {}

HangWatcher::HangWatcher(EventStore& eventStore, QString reportsFolder)
    : eventStore_(&eventStore), diagnosticReportsDir_(std::move(reportsFolder)) {}

HangWatcher::~HangWatcher() = default;

void HangWatcher::updateRegistry(const AgentRegistry& registry) {
  QHash<QString, QString> table;
  for (const AgentEntry& entry : registry.visibleAgents()) {
    for (const QString& name : entry.identify.executableNames.value_or(QStringList{}))
      table.insert(name.toLower(), entry.id);
  }
  processNameToAgentId_ = std::move(table);
}

void HangWatcher::start() {
  if (source_) return;
  // Ours only: nobody else may drop reports in it. A failure shows in the
  // watch that follows.
  static_cast<void>(FileOps::makeOwnFolder(diagnosticReportsDir_));
  auto watcher = std::make_unique<DirectoryWatcher>();
  if (!watcher->start(diagnosticReportsDir_, [this] { handleDirChange(); })) {
    log(kTag, QStringLiteral("无法打开 DiagnosticReports 目录监听"));
    return;
  }
  seenFiles_ = currentHangFiles();
  source_ = std::move(watcher);
  log(kTag, QStringLiteral("开始监听 ") + diagnosticReportsDir_);
}

QSet<QString> HangWatcher::currentHangFiles() const {
  QSet<QString> files;
  const QDir dir(diagnosticReportsDir_);
  for (const QString& name : dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
    if (name.contains(QLatin1String("-hang"))) files.insert(dir.filePath(name));
  }
  return files;
}

namespace {

// What tells one state of a report file from another: a report still being
// written changes it.
QString stampOf(const QString& path) {
  const QFileInfo info(path);
  return QString::number(info.size()) + '/' + QString::number(info.lastModified().toMSecsSinceEpoch());
}

}  // namespace

void HangWatcher::handleDirChange() {
  const QSet<QString> current = currentHangFiles();
  QSet<QString> seen;
  QHash<QString, QString> incomplete;
  // The listing is only read here; what is decided goes into new sets.
  for (const QString& path : current) {
    if (seenFiles_.contains(path)) {
      seen.insert(path);
      continue;
    }
    // A report that was not complete at its last look is read again only
    // once it has changed.
    const QString stamp = stampOf(path);
    if (incompleteFiles_.value(path) == stamp) {
      incomplete.insert(path, stamp);
      continue;
    }
    if (inspectHangFile(path))
      seen.insert(path);
    else
      incomplete.insert(path, stamp);
  }
  seenFiles_ = std::move(seen);
  incompleteFiles_ = std::move(incomplete);
}

bool HangWatcher::inspectHangFile(const QString& path) {
  // Only a plain file is read, opened without waiting: a FIFO named like a
  // report would otherwise stop the main thread until someone writes to it.
  // Anything else, or a file that cannot be read, is not a report.
  const std::optional<QByteArray> read = FileOps::readRegularFile(path, kReadLimit);
  if (!read) return true;
  const QByteArray& head = *read;
  // Empty, or its first line not finished yet (or cut inside a character):
  // still being written, so it counts once it is complete. Only the first
  // line is decoded: the rest of a long report may be cut anywhere by the
  // read limit.
  const std::optional<FirstLine> line = firstLineOf(head);
  if (!line) return false;
  const bool cutByLimit = !line->complete && head.size() >= kReadLimit;
  const bool whole = line->complete || cutByLimit;
  QByteArray bytes = line->bytes;
  if (cutByLimit) dropCutCharacter(bytes);
  const std::optional<QString> text = decodeStrictUtf8(bytes);
  if (!text) return whole;
  const std::optional<QString> processName = processNameIn(*text);
  if (!processName) return whole;
  const auto agent = processNameToAgentId_.constFind(processName->toLower());
  if (agent == processNameToAgentId_.cend()) return true;
  log(kTag, QStringLiteral("检测到 hang: %1 → agent %2").arg(*processName, *agent));
  // The details are Chinese whatever the interface speaks; the window says
  // the event by its key.
  const LocKey reported = LocKey::evDetailHangReported();
  if (eventStore_)
    eventStore_->append(AgentEvent::make(*agent, AgentEventType::hangDetected,
                                         LocTexts::text(AppLanguage::zh, reported), EventText::of(reported)));
  return true;
}

}  // namespace tlr
