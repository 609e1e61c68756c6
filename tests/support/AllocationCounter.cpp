// Replaces the global allocation functions of the test program it is linked into: every
// allocation made inside a real-time section is counted (realtime::violations()). Linked as a
// source of the test executable itself, so it takes precedence over the library's.
#include "common/RealTime.h"

#include <cstdlib>
#include <new>

namespace {

void *allocate(std::size_t size)
{
    if (realtime::inSection())
        realtime::countAllocation();
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

} // namespace

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
    if (realtime::inSection())
        realtime::countAllocation();
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
