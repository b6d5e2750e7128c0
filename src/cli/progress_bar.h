// The progress bar that the console draws for a progress text on a terminal, and the width its
// row may take.
#pragma once

#include <cstddef>

constexpr int kBarWidth = 30;
constexpr size_t kBarCapacity = kBarWidth + 2 + 8;

// The first number followed by "%" in the progress text, or -1.
int PercentIn(const char16_t* text, size_t length);

// "[#####.....]  39%  " into bar (kBarCapacity code units) for a text that holds a percentage;
// returns its length, 0 when the text holds none.
size_t FormatBar(const char16_t* text, size_t length, char16_t* bar);

// The columns a row redrawn in place on stderr may take: one less than the terminal's width, so
// that no row reaches the last column, where some consoles wrap at once; 79 when it does not say.
// A row that wrapped would leave its first part behind when it is erased.
size_t BarRowColumns();

// How many of the text's code units fit in columns (a surrogate pair takes one column, and is
// never split).
size_t UnitsWithin(const char16_t* text, size_t length, size_t columns);
