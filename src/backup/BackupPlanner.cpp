#include "backup/BackupPlanner.h"

#include "core/agents/AgentDataDiscovery.h"

#include <QDir>

namespace tlr {
namespace {

QString trimSlashes(const QString& s) {
  qsizetype from = 0;
  qsizetype to = s.size();
  while (from < to && s[from] == '/') ++from;
  while (to > from && s[to - 1] == '/') --to;
  return s.mid(from, to - from);
}

QString lastComponent(const QString& path) {
  const QString trimmed = trimSlashes(path);
  return trimmed.mid(trimmed.lastIndexOf('/') + 1);
}

}  // namespace

ExcludeMatcher::ExcludeMatcher(const QStringList& patterns) {
  patterns_.reserve(static_cast<size_t>(patterns.size()));
  for (const QString& text : patterns) {
    Pattern p;
    p.isGlob = text.contains('*');
    p.isPath = text.contains('/');
    if (p.isGlob) {
      p.pieces = text.split('*');
    } else {
      p.plain = text;
    }
    anyPath_ = anyPath_ || p.isPath;
    patterns_.push_back(std::move(p));
  }
}

// A glob split at its stars into pieces: the text must start with the first
// piece, end with the last, and hold the ones between in order. Taking the
// leftmost place for each middle piece is enough, since a star can absorb
// anything left over.
bool ExcludeMatcher::globMatch(const QStringList& pieces, QStringView name) {
  const QString& head = pieces.front();
  const QString& tail = pieces.back();
  if (name.size() < head.size() + tail.size()) return false;
  if (!name.startsWith(head) || !name.endsWith(tail)) return false;
  qsizetype at = head.size();
  const qsizetype end = name.size() - tail.size();
  for (qsizetype i = 1; i + 1 < pieces.size(); ++i) {
    const QString& piece = pieces[i];
    if (piece.isEmpty()) continue;
    const qsizetype found = name.indexOf(piece, at);
    if (found < 0 || found + piece.size() > end) return false;
    at = found + piece.size();
  }
  return true;
}

bool ExcludeMatcher::hits(const Pattern& p, QStringView text) {
  return p.isGlob ? globMatch(p.pieces, text) : p.plain == text;
}

bool ExcludeMatcher::matchesName(QStringView name) const {
  for (const Pattern& p : patterns_) {
    if (!p.isPath && hits(p, name)) return true;
  }
  return false;
}

bool ExcludeMatcher::anyComponentMatches(QStringView relative) const {
  for (const QStringView component : relative.tokenize(u'/', Qt::SkipEmptyParts)) {
    if (matchesName(component)) return true;
  }
  return false;
}

// A file: a path pattern matches its path, as it is or with the "/" in
// front. A folder (`rooted` then ends in "/"): "<head>*" hits everything
// below it when "<head>" reaches the folder's path and its "/", the last
// star taking whatever follows.
bool ExcludeMatcher::pathHit(QStringView rooted, bool folder) const {
  if (!anyPath_) return false;
  for (const Pattern& p : patterns_) {
    if (!p.isPath || (folder && !(p.isGlob && p.pieces.back().isEmpty()))) continue;
    if (hits(p, rooted.sliced(1)) || hits(p, rooted)) return true;
  }
  return false;
}

bool ExcludeMatcher::excludes(const QString& file, const QString& root) const {
  if (patterns_.empty()) return false;
  const QString relative = BackupPlanner::relativePath(file, root);
  if (relative.isEmpty()) return matchesName(lastComponent(file));
  return excludesRelative(relative);
}

bool ExcludeMatcher::excludesRelative(const QString& relative) const {
  if (patterns_.empty()) return false;
  return anyComponentMatches(relative) || pathHit(QString(QLatin1Char('/') + relative), false);
}

bool ExcludeMatcher::excludesFolder(const QString& relative) const {
  if (patterns_.empty() || relative.isEmpty()) return false;
  return anyComponentMatches(relative) || pathHit(QString(QLatin1Char('/') + relative + QLatin1Char('/')), true);
}

bool ExcludeMatcher::excludesInWalk(QStringView rooted, bool folder) const {
  if (patterns_.empty()) return false;
  const QStringView path = folder ? rooted.chopped(1) : rooted;
  return matchesName(path.sliced(path.lastIndexOf(u'/') + 1)) || pathHit(rooted, folder);
}

QStringList BackupPlanner::universalExcludes() {
  return {QStringLiteral("TLR-Backups"), QStringLiteral("Tollamere-Backups")};
}

BackupPlan BackupPlanner::plan(const AgentEntry& entry) {
  BackupPlan p;
  p.agentId = entry.id;
  for (const DiscoveredPath& found : AgentDataDiscovery::discover(entry)) p.roots << found.path();
  p.excludes = universalExcludes();
  if (entry.backup && entry.backup->excludePatterns) p.excludes << *entry.backup->excludePatterns;
  return p;
}

bool BackupPlanner::shouldExclude(const QString& file, const QString& root, const QStringList& patterns) {
  return ExcludeMatcher(patterns).excludes(file, root);
}

QString BackupPlanner::relativePath(const QString& file, const QString& root) {
  QString base = root;
  while (base.size() > 1 && base.endsWith('/')) base.chop(1);
  if (base.isEmpty()) return {};
  if (base == QLatin1String("/")) return trimSlashes(file.startsWith('/') ? file : QString());
  if (!file.startsWith(base)) return {};
  const QString rest = file.mid(base.size());
  if (!rest.isEmpty() && !rest.startsWith('/')) return {};  // "/a/bc" is not below "/a/b"
  return trimSlashes(rest);
}

}  // namespace tlr
