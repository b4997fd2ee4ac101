// Prints the maker-service install id of an application id:
//   tlr_install_id_tool APP_ID
#include "service/VornelAppSDK.h"

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const QByteArray id = tlr::VornelAppSDK::installId(QString::fromUtf8(argv[1])).toUtf8();
  std::fwrite(id.constData(), 1, static_cast<size_t>(id.size()), stdout);
  return 0;
}
