// A program that leaks one allocation, made in a function a leak suppression can name, and nothing
// else: under LeakSanitizer it exits 0 only when the suppressions that name it were read.
#include <cstdlib>

// The only pointer to the allocation, dropped before the end.
void *volatile leaked = nullptr;

// Not inlined, and storing the pointer itself (a call in tail position would leave no frame of
// its own), so that the allocation's stack names it.
__attribute__((noinline)) void sntLeakProbeAllocation()
{
    leaked = std::malloc(64);
}

int main()
{
    sntLeakProbeAllocation();
    leaked = nullptr;
    return 0;
}
