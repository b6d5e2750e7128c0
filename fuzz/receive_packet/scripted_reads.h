// ReadFile and WriteFile for the fuzz harness: each read hands out the next scripted piece of the
// line, so the fuzzer decides where the byte stream splits into reads.
#pragma once

#include <cstdint>
#include <vector>

// The pieces the next reads return, in order (an empty piece is a read that timed out with
// nothing). Once they are used up, reads fail.
void ScriptReads(std::vector<std::vector<uint8_t>> pieces);
