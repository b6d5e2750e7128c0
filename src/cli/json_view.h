// The JSON view: instead of text lines, stdout carries one JSON object per line:
// {"event":"log","text":…} for every log line and {"event":"progress","text":…,"percent":…} for
// every progress text (percent null where the text holds none; an empty text clears the line). The result object follows from
// the front end when the command has ended.
#pragma once

#include <nlohmann/json.hpp>

#include "platform/win32.h"

using Json = nlohmann::ordered_json;

LRESULT CALLBACK JsonViewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The object as one line of UTF-8 JSON on stdout; text that is not UTF-8 is replaced, never refused.
void PrintJson(const Json& object);

// The object as one line of JSON text, without a line end.
std::string JsonLine(const Json& object);
