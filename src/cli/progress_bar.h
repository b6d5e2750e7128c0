// The progress bar that the console draws for a progress text on a terminal.
#pragma once

#include <cstddef>

constexpr int kBarWidth = 30;
constexpr size_t kBarCapacity = kBarWidth + 2 + 8;

// The first number followed by "%" in the progress text, or -1.
int PercentIn(const char16_t* text, size_t length);

// "[#####.....]  39%  " into bar (kBarCapacity code units) for a text that holds a percentage;
// returns its length, 0 when the text holds none.
size_t FormatBar(const char16_t* text, size_t length, char16_t* bar);
