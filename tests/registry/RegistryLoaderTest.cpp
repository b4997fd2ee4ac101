#include "registry/AppResources.h"
#include "registry/RegistryLoader.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <unistd.h>

#include <gtest/gtest.h>

using tlr::AgentEntry;
using tlr::AppResources;
using tlr::RegistryLoadError;
using tlr::RegistryLoader;
using tlr::ResourceBundle;

namespace {

const QString kBundle = QString::fromLatin1(AppResources::kBundleName);

// A temporary folder tree for bundle layouts.
class Layout {
 public:
  QString path(const QString& relative) const { return dir_.filePath(relative); }
  QString folder(const QString& relative) const {
    QDir().mkpath(path(relative));
    return QDir::cleanPath(path(relative));
  }
  QString file(const QString& relative, const QByteArray& content = "x") const {
    QDir().mkpath(QFileInfo(path(relative)).absolutePath());
    QFile f(path(relative));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
    return path(relative);
  }

 private:
  QTemporaryDir dir_;
};

QString errorText(const RegistryLoader::Result& result) {
  const auto* error = std::get_if<RegistryLoadError>(&result);
  return error ? error->description() : QString();
}

std::shared_ptr<const tlr::AgentRegistry> registryOf(const RegistryLoader::Result& result) {
  const auto* registry = std::get_if<std::shared_ptr<const tlr::AgentRegistry>>(&result);
  EXPECT_TRUE(registry) << errorText(result).toStdString();
  return registry ? *registry : nullptr;
}

}  // namespace

TEST(ResourceBundleSearch, InstalledBundleWinsThenBesideTheExecutableThenBuildFolder) {
  Layout t;
  const QString exe = t.file("prefix/bin/tollamere");
  const QString installed = t.folder("prefix/share/tollamere/" + kBundle);
  const QString beside = t.folder("prefix/bin/" + kBundle);
  const QString build = t.folder("build/" + kBundle);
  const AppResources::SearchPlaces all{exe, t.path("build")};

  EXPECT_EQ(AppResources::locate(all).path(), installed);
  QDir(installed).removeRecursively();
  EXPECT_EQ(AppResources::locate(all).path(), beside);
  QDir(beside).removeRecursively();
  // The registry decides which commands run: a copy outside the build
  // folder never reads the build folder's bundle.
  EXPECT_FALSE(AppResources::locate(all).isValid());

  // A development copy, anywhere inside the build folder, does.
  const QString devExe = t.file("build/tests/tollamere");
  EXPECT_EQ(AppResources::locate({devExe, t.path("build")}).path(), build);
  QDir(build).removeRecursively();
  EXPECT_FALSE(AppResources::locate({devExe, t.path("build")}).isValid());
}

TEST(ResourceBundleSearch, OnlyFoldersCountAndOnlyABinFolderNamesAPrefix) {
  Layout t;
  // The executable is not in "bin": no prefix is derived from it.
  const QString exe = t.file("build/out/tollamere");
  t.folder("build/share/tollamere/" + kBundle);
  t.file("build/out/" + kBundle);  // a file, not a bundle
  const QString build = t.folder("build/" + kBundle);
  EXPECT_EQ(AppResources::locate({exe, t.path("build")}).path(), build);
  EXPECT_FALSE(AppResources::locate({QString(), QString()}).isValid());
}

TEST(ResourceBundleSearch, TheProcessBundleIsComputedOnceAndFindsTheBuildBundle) {
  const ResourceBundle& first = AppResources::bundle();
  EXPECT_EQ(&first, &AppResources::bundle());
  ASSERT_TRUE(first.isValid());
  EXPECT_TRUE(first.url("registry", "json").has_value());
  EXPECT_FALSE(first.url("no-such-resource", "json").has_value());
}

TEST(RegistryLoading, ReportsEachFailureWithItsText) {
  Layout t;
  const ResourceBundle empty(t.folder("empty/" + kBundle));
  EXPECT_EQ(errorText(RegistryLoader::load(empty)), "registry.json 不在 bundle Resources 里");
  EXPECT_EQ(errorText(RegistryLoader::load(ResourceBundle())), "registry.json 不在 bundle Resources 里");

  const ResourceBundle broken(t.folder("broken/" + kBundle));
  t.file("broken/" + kBundle + "/registry.json", "{not json");
  EXPECT_TRUE(errorText(RegistryLoader::load(broken)).startsWith("registry.json 解码失败: dataCorrupted"));

  t.file("bad/" + kBundle + "/registry.json",
         R"({"schemaVersion":1,"updatedAt":"x","agents":[{"id":"a","displayName":"A","vendor":"V","kind":"cli","identify":{"argvMatches":[1]}}]})");
  const auto result = RegistryLoader::load(ResourceBundle(t.path("bad/" + kBundle)));
  EXPECT_EQ(errorText(result),
            "registry.json 解码失败: typeMismatch at agents[0].identify.argvMatches[0]: expected a string, found the number 1");
  EXPECT_EQ(std::get<RegistryLoadError>(result).kind(), RegistryLoadError::Case::decodeFailed);
}

TEST(RegistryLoading, AnUnreadableFileGivesTheReadErrorUnwrapped) {
  // Permissions stop nobody when the tests run as root, so the document is a
  // link to a file every reader gets an I/O error from.
  Layout t;
  t.folder("locked/" + kBundle);
  const QString path = t.path("locked/" + kBundle + "/registry.json");
  ASSERT_TRUE(QFile::link("/proc/self/mem", path));
  const auto result = RegistryLoader::load(ResourceBundle(t.path("locked/" + kBundle)));
  ASSERT_TRUE(std::holds_alternative<RegistryLoadError>(result));
  EXPECT_EQ(std::get<RegistryLoadError>(result).kind(), RegistryLoadError::Case::readFailed);
  EXPECT_FALSE(errorText(result).startsWith("registry.json"));
  EXPECT_TRUE(errorText(result).contains(path));
}

TEST(ShippedRegistry, DecodesFromTheSourceTreeAndTheBuildBundle) {
  for (const QString& folder : {QStringLiteral(TLR_SOURCE_RESOURCES), QStringLiteral(TLR_BUNDLE_DIR)}) {
    SCOPED_TRACE(folder.toStdString());
    const auto registry = registryOf(RegistryLoader::load(ResourceBundle(folder)));
    ASSERT_TRUE(registry);
    QSet<QString> ids;
    QSet<AgentEntry::Kind> kinds;
    for (const AgentEntry& e : registry->visibleAgents()) {
      EXPECT_TRUE(AgentEntry::isSafeFileComponent(e.id)) << e.id.toStdString();
      EXPECT_FALSE(ids.contains(e.id)) << "duplicate id " << e.id.toStdString();
      ids.insert(e.id);
      kinds.insert(e.kind);
    }
    for (const char* id : {"claude-code-cli", "codex-cli", "gemini-cli", "aider", "openclaw"}) {
      EXPECT_TRUE(ids.contains(QString::fromLatin1(id))) << id;
    }
    EXPECT_EQ(kinds, (QSet<AgentEntry::Kind>{AgentEntry::Kind::desktopApp, AgentEntry::Kind::cli,
                                             AgentEntry::Kind::idePlugin}));
    EXPECT_EQ(registry->lookup("openclaw")->serviceKind, AgentEntry::ServiceKind::gateway);
    EXPECT_EQ(registry->lookupExecutableName("claude")->id, "claude-code-cli");
    EXPECT_EQ(registry->lookupArgv({"node", "/usr/lib/node_modules/@openai/codex/bin/codex.js"})->id, "codex-cli");
  }
}

TEST(ShippedRegistry, UninstallRemovesWhatAnNpmInstallPutIntoTheHomePrefix) {
  // The installer points npm at ~/.npm-global; the uninstaller's "npm
  // uninstall -g" runs without that prefix and cannot see the package there.
  const auto registry = registryOf(RegistryLoader::load(ResourceBundle(QStringLiteral(TLR_SOURCE_RESOURCES))));
  ASSERT_TRUE(registry);
  for (const AgentEntry& e : registry->visibleAgents()) {
    if (!e.install || !e.install->commands) continue;
    for (const tlr::Command& command : *e.install->commands) {
      if (command.size() < 4 || command.mid(0, 3) != QStringList{"npm", "install", "-g"}) continue;
      QString package = command.last();
      const qsizetype version = package.indexOf(QLatin1Char('@'), 1);
      if (version > 0) package.truncate(version);
      const QString folder = "~/.npm-global/lib/node_modules/" + package;
      EXPECT_TRUE(e.uninstall && e.uninstall->paths && e.uninstall->paths->contains(folder))
          << e.id.toStdString() << " lacks " << folder.toStdString();
    }
  }
}
