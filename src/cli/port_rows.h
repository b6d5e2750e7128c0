// The console shared by the runs on several ports: every line goes out whole under one lock, and
// on a terminal that takes escape sequences each port that shows progress has its bar row below
// the lines, redrawn in place. Without one (no terminal, or TERM=dumb) each progress text is one
// line on stderr.
#pragma once

#include <string>
#include <vector>

// One row for each prefix ("[COM3] "), in the order given.
void InitPortRows(const std::vector<std::string>& prefixes);

// Callers hold the console while they print, so that the lines of two ports never mix.
void LockConsole();
void UnlockConsole();

// A line on stdout (or stderr), above the bars.
void PrintAboveBars(const std::string& line, bool toError = false);

// The port's progress text (UTF-8); an empty text takes its bar away.
void ShowPortProgress(size_t port, const std::string& text);

// Takes every bar away, for the lines that close the run.
void EraseBars();
