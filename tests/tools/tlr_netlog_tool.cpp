// Logs network events through the shared logger and ends at once:
//   tlr_netlog_tool exit COUNT        returns from main right after logging
//   tlr_netlog_tool flush-_exit COUNT  flush(), then _exit(0): no destructors run
#include "core/netlog/NetworkLogger.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const int count = std::atoi(argv[2]);
  auto& logger = tlr::NetworkLogger::shared();
  for (int i = 0; i < count; ++i) logger.log(tlr::NetworkEventKind::updateCheck, i, true);
  if (std::strcmp(argv[1], "flush-_exit") == 0) {
    logger.flush();
    ::_exit(0);
  }
  return 0;
}
