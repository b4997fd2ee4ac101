#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace tlr {

// The keys of a freedesktop desktop entry's "[Desktop Entry]" group that
// Tollamere uses. Keys of other groups (actions) are ignored; of a key given
// twice the first counts.
struct DesktopEntry {
  bool hidden = false;  // Hidden=true: the entry counts as deleted
  QStringList exec;     // the Exec line as words, field codes removed
  QString tryExec;      // TryExec=, empty when absent
  QString icon;         // Icon=: an absolute path or an icon-theme name

  // Parses the text of a .desktop file. Never fails: unreadable lines are
  // passed over.
  static DesktopEntry parse(const QByteArray& content);
  // The program word of `exec`: "env [-u NAME] NAME=value ... program"
  // names the program after env's options and the assignments (within the
  // string of "env -S '…'"). Empty when there is none.
  static QString programWord(const QStringList& exec);
};

// The icon of an installed desktop application, found through its desktop
// entry. Called on the interface thread on every redraw, so it costs only
// stat calls and, when an entry file changed, one small read: parsed entries
// are kept by path and modification time.
class DesktopIcons {
 public:
  struct AppIcon {
    QString entryPath;
    // The icon file (absolute path) when one was found on disk; empty when
    // only a theme name is left (`themeName`), for the interface's icon theme.
    QString file;
    qint64 fileModifiedNs = 0;  // the file's modification time, for image caches
    QString themeName;
  };

  // The icon of the application with desktop-entry id `bundleId`: the entry
  // "<id>.desktop" in the first application folder that holds one
  // ($XDG_DATA_HOME/applications, then each $XDG_DATA_DIRS/applications).
  // Nothing when there is no entry, it is hidden, its program (TryExec, else
  // Exec's first word) is not an executable on PATH, or it names no icon.
  // The icon is Icon= as an absolute path, else <name>.png/.svg in the
  // hicolor theme folders of the same data folders (largest first), else in
  // `pixmapsDir()`; otherwise the name is handed back as `themeName`.
  static std::optional<AppIcon> installedAppIcon(const QString& bundleId);

  // The data folders searched: $XDG_DATA_HOME, then each of $XDG_DATA_DIRS
  // (default /usr/local/share:/usr/share).
  static QStringList dataDirs();
  // The legacy icon folder, /usr/share/pixmaps.
  static QString pixmapsDir();
  // The modification time (nanoseconds since the epoch) of a plain file,
  // links followed: one stat call. Nothing for anything else.
  static std::optional<qint64> fileModifiedNs(const QString& path);
};

}  // namespace tlr
