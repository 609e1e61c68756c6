#include "bench/AllocationCount.h"

#include <cstdlib>
#include <new>

namespace {
thread_local bool counting = false;
thread_local long allocations = 0;

void *allocate(std::size_t size)
{
    if (counting)
        ++allocations;
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
} // namespace

namespace bench {

void startCountingAllocations()
{
    allocations = 0;
    counting = true;
}

long stopCountingAllocations()
{
    counting = false;
    return allocations;
}

} // namespace bench

void *operator new(std::size_t size)
{
    return allocate(size);
}
void *operator new[](std::size_t size)
{
    return allocate(size);
}
void operator delete(void *p) noexcept
{
    std::free(p);
}
void operator delete[](void *p) noexcept
{
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept
{
    std::free(p);
}
