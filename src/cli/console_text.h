// The front end's edge between the core's UTF-16 text and the UTF-8 that the command line, JSON
// and files take.
#pragma once

#include <string>

std::string Utf8Of(const char16_t* text);
std::u16string Utf16Of(const std::string& text);

// Writes the UTF-8 text and a line end to stdout or stderr through the console.
void PrintLine(bool toError, const std::string& text);

// Writes the text to stdout or stderr as it is, without a line end.
void PrintText(bool toError, const std::string& text);
