#include "platform/DesktopEntry.h"

#include "platform/ArgumentReader.h"
#include "platform/ChildProcess.h"
#include "platform/FileOps.h"
#include "platform/Paths.h"

#include <QFile>
#include <QHash>

#include <algorithm>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace tlr {
namespace {

// Splits an Exec value into words: blanks separate them, double quotes group
// them, and inside quotes a backslash escapes the next character.
QStringList splitExec(const QString& value) {
  QStringList words;
  QString word;
  bool inWord = false, quoted = false;
  for (qsizetype i = 0; i < value.size(); ++i) {
    const QChar c = value[i];
    if (quoted) {
      if (c == '\\' && i + 1 < value.size()) {
        word += value[++i];
      } else if (c == '"') {
        quoted = false;
      } else {
        word += c;
      }
    } else if (c == '"') {
      quoted = inWord = true;
    } else if (c == ' ' || c == '\t') {
      if (inWord) words << word;
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words << word;
  return words;
}

// Removes field codes ("%U", "%f", ...): a word that is only a code goes, a
// code inside a word is cut out, and "%%" stands for "%".
QStringList withoutFieldCodes(const QStringList& words) {
  QStringList out;
  for (const QString& w : words) {
    if (w.size() == 2 && w[0] == '%' && w[1] != '%') continue;
    QString cleaned;
    for (qsizetype i = 0; i < w.size(); ++i) {
      if (w[i] == '%' && i + 1 < w.size()) {
        if (w[i + 1] == '%') cleaned += '%';
        ++i;
        continue;
      }
      cleaned += w[i];
    }
    out << cleaned;
  }
  return out;
}

// Far more than any real entry holds.
constexpr qint64 kEntryReadLimit = 1024 * 1024;

struct FileStamp {
  qint64 modifiedNs = 0;
  qint64 size = -1;
  bool operator==(const FileStamp&) const = default;
};

// The stamp of a plain file (links followed); nothing for anything else.
std::optional<FileStamp> stampOf(const QString& path) {
  struct stat info {};
  if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return FileStamp{qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec, qint64(info.st_size)};
}

bool isExecutableFile(const QString& path) {
  struct stat info {};
  return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(QFile::encodeName(path).constData(), X_OK) == 0;
}

// The program of an entry: TryExec when given, else Exec's first word; a
// bare name is looked up on PATH.
bool programInstalled(const DesktopEntry& entry) {
  const QString word = entry.tryExec.isEmpty() ? DesktopEntry::programWord(entry.exec) : entry.tryExec;
  if (word.isEmpty()) return false;
  if (word.contains('/')) return isExecutableFile(word);
  return !findExecutable(word, currentPath()).isEmpty();
}

// Sizes of the hicolor theme, the nearest to the 256-point image first.
constexpr const char* kHicolorSizes[] = {"256x256", "512x512", "scalable", "192x192", "128x128",
                                         "96x96",   "64x64",   "48x48",    "32x32"};

struct FoundFile {
  QString path;
  FileStamp stamp;
};

std::optional<FoundFile> findIconFile(const QString& name) {
  // A name may carry an extension although the standard says it should not.
  QString base = name;
  for (const char* ext : {".png", ".svg", ".xpm"})
    if (base.endsWith(QLatin1String(ext))) base.chop(4);
  for (const QString& dataDir : DesktopIcons::dataDirs()) {
    const QString theme = dataDir + QStringLiteral("/icons/hicolor/");
    for (const char* size : kHicolorSizes) {
      const bool scalable = qstrcmp(size, "scalable") == 0;
      const QString file = theme + QLatin1String(size) + QStringLiteral("/apps/") + base +
                           (scalable ? QStringLiteral(".svg") : QStringLiteral(".png"));
      if (auto stamp = stampOf(file)) return FoundFile{file, *stamp};
    }
  }
  for (const char* ext : {".png", ".svg", ".xpm"}) {
    const QString file = DesktopIcons::pixmapsDir() + '/' + base + QLatin1String(ext);
    if (auto stamp = stampOf(file)) return FoundFile{file, *stamp};
  }
  return std::nullopt;
}

// Parsed entries by path, each with the stamp it was read at and the icon
// file found for it last time.
class EntryCache {
 public:
  static EntryCache& instance() {
    static EntryCache cache;
    return cache;
  }

  // The entry at `path` (whose stamp is `stamp`), read again only when the
  // stamp changed. Nothing when it cannot be read.
  std::optional<DesktopEntry> entry(const QString& path, const FileStamp& stamp) {
    std::lock_guard lock(mutex_);
    auto it = cache_.find(path);
    if (it == cache_.end() || it->stamp != stamp) {
      const std::optional<QByteArray> content = FileOps::readRegularFile(path, kEntryReadLimit);
      if (!content) {
        cache_.remove(path);
        return std::nullopt;
      }
      it = cache_.insert(path, Cached{stamp, DesktopEntry::parse(*content), {}});
    }
    return it->entry;
  }

  // The icon file of the entry at `path`: the one found before while it is
  // still there, else a fresh search.
  std::optional<FoundFile> iconFile(const QString& path, const QString& name) {
    {
      std::lock_guard lock(mutex_);
      const auto it = cache_.constFind(path);
      if (it != cache_.cend() && it->icon) {
        if (auto stamp = stampOf(it->icon->path)) return FoundFile{it->icon->path, *stamp};
      }
    }
    std::optional<FoundFile> found = findIconFile(name);
    std::lock_guard lock(mutex_);
    if (auto it = cache_.find(path); it != cache_.end()) it->icon = found;
    return found;
  }

 private:
  struct Cached {
    FileStamp stamp;
    DesktopEntry entry;
    std::optional<FoundFile> icon;
  };
  std::mutex mutex_;
  QHash<QString, Cached> cache_;
};

}  // namespace

DesktopEntry DesktopEntry::parse(const QByteArray& content) {
  QHash<QString, QString> keys;
  bool inMain = false;
  for (const QByteArray& raw : content.split('\n')) {
    const QString line = QString::fromUtf8(raw).trimmed();
    if (line.isEmpty() || line.startsWith('#')) continue;
    if (line.startsWith('[')) {
      inMain = line == QLatin1String("[Desktop Entry]");
      continue;
    }
    const qsizetype eq = line.indexOf('=');
    if (!inMain || eq < 0) continue;
    const QString key = line.left(eq).trimmed();
    if (!keys.contains(key)) keys.insert(key, line.mid(eq + 1).trimmed());
  }
  DesktopEntry entry;
  entry.hidden = keys.value(QStringLiteral("Hidden")) == QLatin1String("true");
  entry.exec = withoutFieldCodes(splitExec(keys.value(QStringLiteral("Exec"))));
  entry.tryExec = keys.value(QStringLiteral("TryExec"));
  entry.icon = keys.value(QStringLiteral("Icon"));
  return entry;
}

QString DesktopEntry::programWord(const QStringList& exec) {
  if (exec.isEmpty() || ArgumentReader::programName(exec.first()) != QLatin1String("env")) return exec.value(0);
  // env's options that take a value ("-u NAME", "-C DIR", "-S 'program
  // arguments'"); "-" alone is its "-i".
  static const ArgumentGrammar env{{"-u", "--unset", "-C", "--chdir", "-S", "--split-string"}, {}, {}};
  const ArgumentReader read(exec.mid(1), env);
  const auto split = std::find_if(read.options().cbegin(), read.options().cend(), [](const ArgumentReader::Option& o) {
    return (o.name == QLatin1String("-S") || o.name == QLatin1String("--split-string")) && !o.values.isEmpty();
  });
  // "env -S 'NAME=value program --flag'": the program is in the string.
  if (split != read.options().cend()) return programWord(QStringList{QStringLiteral("env")} + split->values.first().split(QLatin1Char(' '), Qt::SkipEmptyParts));
  for (const ArgumentReader::Word& word : read.words())
    if (word.text != QLatin1String("-") && !word.text.contains(QLatin1Char('='))) return word.text;
  return {};
}

QStringList DesktopIcons::dataDirs() {
  QStringList dirs{Paths::dataHome()};
  QString dataDirs = QString::fromLocal8Bit(qgetenv("XDG_DATA_DIRS"));
  if (dataDirs.isEmpty()) dataDirs = QStringLiteral("/usr/local/share:/usr/share");
  dirs << dataDirs.split(':', Qt::SkipEmptyParts);
  return dirs;
}

QString DesktopIcons::pixmapsDir() { return QStringLiteral("/usr/share/pixmaps"); }

std::optional<qint64> DesktopIcons::fileModifiedNs(const QString& path) {
  const std::optional<FileStamp> stamp = stampOf(path);
  if (!stamp) return std::nullopt;
  return stamp->modifiedNs;
}

std::optional<DesktopIcons::AppIcon> DesktopIcons::installedAppIcon(const QString& bundleId) {
  if (bundleId.isEmpty() || bundleId.contains('/') || bundleId.contains(QChar(u'\0'))) return std::nullopt;
  for (const QString& dataDir : dataDirs()) {
    const QString path = dataDir + QStringLiteral("/applications/") + bundleId + QStringLiteral(".desktop");
    const std::optional<FileStamp> stamp = stampOf(path);
    if (!stamp) continue;
    // The first folder holding the id decides, also when its entry is
    // hidden or broken: that is the entry the desktop uses.
    const std::optional<DesktopEntry> entry = EntryCache::instance().entry(path, *stamp);
    if (!entry || entry->hidden || entry->icon.isEmpty() || !programInstalled(*entry)) return std::nullopt;
    AppIcon icon;
    icon.entryPath = path;
    if (entry->icon.startsWith('/')) {
      const std::optional<FileStamp> iconStamp = stampOf(entry->icon);
      if (!iconStamp) return std::nullopt;
      icon.file = entry->icon;
      icon.fileModifiedNs = iconStamp->modifiedNs;
      return icon;
    }
    if (entry->icon.contains('/')) return std::nullopt;  // a relative path names nothing
    if (const std::optional<FoundFile> found = EntryCache::instance().iconFile(path, entry->icon)) {
      icon.file = found->path;
      icon.fileModifiedNs = found->stamp.modifiedNs;
    } else {
      icon.themeName = entry->icon;
    }
    return icon;
  }
  return std::nullopt;
}

}  // namespace tlr
