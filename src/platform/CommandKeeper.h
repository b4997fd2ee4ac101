#pragma once

#include <sys/types.h>

// The keeper of a command (see OwnCommands): a small process of ours,
// forked by runChild, that starts the command, holds every process it starts
// and reports how it ended. Everything here but lifeLine() runs in a process
// forked from a threaded one, so it makes only calls that are safe after
// such a fork (system calls, no allocation).
namespace tlr::CommandKeeper {

// The read end of a pipe whose write end only this process holds: every
// keeper sees its end when we end, however we end. Made afresh in a forked
// copy of us, whose keepers must see its end, not ours. Called before the
// fork, never in a keeper; -1 when no pipe can be made.
int lifeLine();

// In the forked keeper, first: a process group of its own (which the
// command shares unless it runs in a terminal of its own), a subreaper of
// all the command starts when `subreaper`, the signals a command sends its
// own group let pass by, SIGCHLD held for keep(). False when `parent`, who
// forked it, is gone already.
bool become(pid_t parent, bool subreaper);

// In the command, forked by the keeper `keeper`: it ends with its keeper,
// and gets the signals' defaults and an empty signal mask back. False when
// the keeper is gone already.
bool releaseCommand(pid_t keeper);

// The keeper's life once it has started `command`, with the life line as
// its standard input and the status pipe as its standard output: it reaps
// every child (the command, and as a subreaper every process of it that
// lost its parent), writes the command's wait status (an int) to the status
// pipe, and ends once no child is left. When we end, it ends the command
// with everything it started. A keeper that ends without writing the status
// was killed before the command ended (by the command itself, say).
[[noreturn]] void keep(pid_t command, bool subreaper);

}  // namespace tlr::CommandKeeper
