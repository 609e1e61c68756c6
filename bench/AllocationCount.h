#pragma once

// Counts the heap allocations (operator new) the calling thread makes between start and stop.
// A benchmark that links AllocationCount.cpp gets the counting operator new for its whole
// program; other threads allocate as usual and are not counted.
namespace bench {

void startCountingAllocations();
// The allocations since the matching start.
long stopCountingAllocations();

} // namespace bench
