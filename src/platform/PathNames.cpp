#include "platform/PathNames.h"

namespace tlr::PathNames {
namespace {

template <typename View, typename Char>
bool anyComponentIsParentStep(View path, Char slash) {
  qsizetype start = 0;
  while (start <= path.size()) {
    qsizetype end = path.indexOf(slash, start);
    if (end < 0) end = path.size();
    if (isParentStep(path.sliced(start, end - start))) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

bool isParentStep(QByteArrayView component) { return component == QByteArrayView(".."); }
bool isParentStep(QStringView component) { return component == u".."; }

bool isDotName(QByteArrayView component) { return component == QByteArrayView(".") || isParentStep(component); }
bool isDotName(QStringView component) { return component == u"." || isParentStep(component); }

bool climbs(QByteArrayView path) { return anyComponentIsParentStep(path, '/'); }
bool climbs(QStringView path) { return anyComponentIsParentStep(path, u'/'); }

}  // namespace tlr::PathNames
