// Several boards at once, and station mode: the request runs as one child process per port (the
// same program, one port each, its results as JSON lines), whose lines this process prefixes with
// the port, whose progress it draws, and whose results it sums up. With --repeat every port's run
// starts again when it ends, until Ctrl-C.
#pragma once

#include "cli/command_line.h"

// Returns the exit status: 0 only when every port succeeded (in station mode: when no counted
// run failed), the interrupt's status when Ctrl-C or SIGTERM ended runs that were under way.
int RunOnEveryPort(const Request& request);
