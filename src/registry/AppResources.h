#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace tlr {

// A folder of read-only resources ("registry.json", icon files). An invalid
// bundle (no folder found) answers no resource.
class ResourceBundle {
 public:
  ResourceBundle() = default;
  explicit ResourceBundle(QString folder) : folder_(std::move(folder)) {}

  bool isValid() const { return !folder_.isEmpty(); }
  const QString& path() const { return folder_; }
  // The path of "<name>.<extension>" in the bundle when that file exists.
  std::optional<QString> url(const QString& name, const QString& extension) const;

 private:
  QString folder_;
};

// Where the application's resource bundle "Tollamere_Tollamere.bundle" is.
class AppResources {
 public:
  static constexpr const char* kBundleName = "Tollamere_Tollamere.bundle";

  // The places searched, in order; the first that exists as a folder wins.
  struct SearchPlaces {
    QString executablePath;  // the running program
    QString buildDir;        // the build folder of a development build
  };

  // Computed once on first use (thread-safe) and kept for the process.
  static const ResourceBundle& bundle();

  // The search itself: the installed bundle
  // "<prefix>/share/tollamere/Tollamere_Tollamere.bundle", with the prefix
  // being the folder above the executable's "bin" (so a build never picks up
  // an older installed copy); then the bundle beside the executable; then,
  // only for a development copy (an executable inside `buildDir`), the one
  // in `buildDir`. A copy anywhere else never reads the build folder's.
  static ResourceBundle locate(const SearchPlaces& places);
  // The places of this process.
  static SearchPlaces defaultPlaces();
};

}  // namespace tlr
