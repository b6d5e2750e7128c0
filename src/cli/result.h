// The result object that ends every command's JSON output and that --record appends:
// {"event":"result","command":…,"port":…,"ok":…,"status":<the Last Status>,"exit":…,
//  "seconds":…,"device":{"version":…,"id":…,"flash_size":…}|null,"image":{"bytes":…,"sha256":…}|null}
#pragma once

#include <string>

#include "cli/command_line.h"
#include "cli/json_view.h"

// The outcome of the command that just ran in this process.
Json ResultObject(const Request& request, int exitStatus, double seconds);

// Appends the result with "time" (UTC, ISO 8601) and "host" as one line to the file at path;
// false, with the reason on stderr, when it could not be written.
bool AppendRecord(const std::string& path, Json result);

// A run that found no board because there was none (yet) on its port: a station waits on for the
// next board, and such a run leaves no record.
bool WaitedForBoard(const Json& result);

// Ends a command with its result: appends it to the record file when one is asked for (a record
// that cannot be written turns success into failure; a station's run that waited for its board
// is not recorded), prints it in JSON mode, and returns the exit status it carries.
int Conclude(const Request& request, Json result);
