// A trace of a run's phases for the benchmarks: with KORVANE_TRACE naming a
// file, each mark appends "<milliseconds since the process started> <phase>"
// to it. Without the variable a mark is one test of a flag.
#pragma once

namespace krv {

void TraceMark(const char* phase);
// A mark with the process's peak working set so far, in bytes ("peak working
// set <bytes>"), for the benchmarks of memory.
void TracePeakMemory();

} // namespace krv
