#include "tests/support/AllocationCounter.h"

#include "common/RealTime.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<snt::test::AllocationHook> hook{nullptr};

void count()
{
    if (realtime::inSection())
        realtime::countAllocation();
    if (const snt::test::AllocationHook h = hook.load(std::memory_order_relaxed))
        h();
}

void *allocate(std::size_t size)
{
    count();
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

} // namespace

void snt::test::setAllocationHook(AllocationHook h)
{
    hook.store(h);
}

void *operator new(std::size_t size)
{
    return allocate(size);
}
void *operator new[](std::size_t size)
{
    return allocate(size);
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    count();
    return std::malloc(size ? size : 1);
}
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept
{
    return operator new(size, tag);
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
