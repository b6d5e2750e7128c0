// Counting the heap allocations a stretch of code makes, for showing that the loader makes none.
#pragma once

#include <cstddef>

// Starts counting from 0.
void StartCountingAllocations();

// Stops counting; returns the number of allocations since StartCountingAllocations.
size_t StopCountingAllocations();
