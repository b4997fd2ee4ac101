#pragma once

#include <QString>

// How paths below the home folder are shown to the user.
namespace tlr::HomePath {

// `path` with the home folder written as "~", but only when `path` is the
// home folder itself or lies below it: with home "/home/al",
// "/home/al/x" → "~/x" and "/home/alice/x" stays as it is. A trailing "/"
// of `home` does not count; an empty home or "/" abbreviates nothing.
QString abbreviate(const QString& path, const QString& home);

// A registry path ("~/x", "~" or any other) as the user reads it: the tilde
// expanded against the current home folder, then the home folder abbreviated
// again as above, so "~/x" → "~/x" and an absolute path below home gains "~".
QString display(const QString& registryPath);

}  // namespace tlr::HomePath
