// The trace file: one line per command received, per reply and per ignored frame, flushed as
// written so that a test can read it while melor-sim runs.
//
// Every line is an event name followed by key=value fields, separated by single spaces:
//   rx n=3 cmd=read code=0x01 len=8 words=128 addr=0x9d000200 at=12.345
//   rx n=9 cmd=final code=0x08 len=8 image=0x00000104 at=20.001
//   tx n=3 cmd=read code=0x01 len=520 wire=531 fault=bad-data at=12.350
//   tx n=4 cmd=program code=0x15 len=1 wire=7 refused=out-of-flash at=13.000
//   silent n=1 cmd=query reason=answer-after at=0.512     (also no-answer-due, fault)
//   hangup n=7 cmd=program fault=hang-up at=30.100
//   ignored reason=bad-checksum len=4 at=1.000
//   link state=up at=0.020
// n counts the commands received, from 1; len is a payload length; wire the reply's bytes on the
// line; at the milliseconds since melor-sim started.
#pragma once

#include <cstdio>
#include <string>

struct Trace {
  std::FILE* file = nullptr;
};

bool OpenTrace(Trace& trace, const std::string& path);
// Writes `fields` as one line, with the time appended; does nothing without a trace file.
void TraceLine(Trace& trace, const std::string& fields);
void CloseTrace(Trace& trace);

std::string Hex8(unsigned value);   // "0x0f"
std::string Hex32(unsigned value);  // "0x9d000000"
