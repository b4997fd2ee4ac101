#pragma once

#include <QByteArrayView>
#include <QStringView>

// What a component of a path is: the one place that tells a step out of a
// folder from a name. Only a component that is exactly ".." leads to the
// folder above; names that begin, end or are made of dots otherwise
// ("..hidden", "...", "a..b") are ordinary names and go where they are.
namespace tlr::PathNames {

// `component` is exactly "..".
bool isParentStep(QByteArrayView component);
bool isParentStep(QStringView component);
// `component` is "." or "..": no name of its own.
bool isDotName(QByteArrayView component);
bool isDotName(QStringView component);
// Some "/"-separated component of `path` is exactly "..".
bool climbs(QByteArrayView path);
bool climbs(QStringView path);

}  // namespace tlr::PathNames
