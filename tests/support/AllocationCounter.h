#pragma once

// Counting replacements of the C heap functions (malloc, calloc, realloc, aligned_alloc,
// posix_memalign, memalign and free) and of the global allocation functions, for the test and
// benchmark programs that build AllocationCounter.cpp as a source of their own (so that they take
// precedence over the C library's, the sanitizers' and the standard library's). Qt's containers
// and strings call malloc and free directly, never operator new: only a counter at this level sees
// them. Every heap call made inside a real-time section is counted there
// (realtime::violations()); a program may also have every allocation reported to a hook of its
// own, called on the allocating thread.
namespace snt::test {

using AllocationHook = void (*)();
void setAllocationHook(AllocationHook hook);

} // namespace snt::test
