#pragma once

// Counting replacements of the global allocation functions, for the test and benchmark programs
// that build AllocationCounter.cpp as a source of their own (so that it takes precedence over
// the standard library's). Every allocation made inside a real-time section is counted there
// (realtime::violations()); a program may also have every allocation reported to a hook of its
// own, called on the allocating thread.
namespace snt::test {

using AllocationHook = void (*)();
void setAllocationHook(AllocationHook hook);

} // namespace snt::test
