// A stand-in agent process that runs until a signal ends it:
//   tlr_fake_agent                 default signal actions
//   tlr_fake_agent ignore-term     SIGTERM is ignored (only SIGKILL ends it)
//   tlr_fake_agent usr1-exits      SIGUSR1 makes it exit with status 0
// Tests copy it under a unique name, which the registry then recognises.
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

namespace {

void exitCleanly(int) { ::_exit(0); }

}  // namespace

int main(int argc, char** argv) {
  // A fault signal should end it at once, without writing a core file.
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  if (argc > 1 && std::strcmp(argv[1], "ignore-term") == 0) std::signal(SIGTERM, SIG_IGN);
  if (argc > 1 && std::strcmp(argv[1], "usr1-exits") == 0) std::signal(SIGUSR1, exitCleanly);
  while (true) ::pause();
}
