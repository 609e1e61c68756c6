#include "tests/support/AllocationCounter.h"

#include "common/RealTime.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <new>

// The heap functions count the call and pass it on to the implementation that would have served
// it without us: the next one in the program's symbol lookup order (the C library's, or a
// sanitizer's that checks every block), found through the dynamic linker on the first call.
// They run before a sanitizer has set itself up (it allocates while it does), so they are not
// instrumented themselves and count nothing until the program's own initialisation has begun.
#define SNT_UNINSTRUMENTED __attribute__((no_sanitize("address", "undefined")))

namespace {

using Malloc = void *(*)(std::size_t);
using Calloc = void *(*)(std::size_t, std::size_t);
using Realloc = void *(*)(void *, std::size_t);
using AlignedAlloc = void *(*)(std::size_t, std::size_t);
using PosixMemalign = int (*)(void **, std::size_t, std::size_t);
using Free = void (*)(void *);

struct Heap
{
    Malloc malloc = nullptr;
    Calloc calloc = nullptr;
    Realloc realloc = nullptr;
    AlignedAlloc alignedAlloc = nullptr;
    PosixMemalign posixMemalign = nullptr;
    AlignedAlloc memalign = nullptr;
    Free free = nullptr;
};

// The first heap call comes while the program starts, on its only thread: the functions are
// looked up then. The dynamic linker may itself allocate during the lookup; that memory comes
// from a static arena and is never given back.
Heap next;
bool lookingUp = false;
alignas(std::max_align_t) char arena[16384];
std::size_t arenaUsed = 0;

SNT_UNINSTRUMENTED bool fromArena(const void *p)
{
    return p >= arena && p < arena + sizeof arena;
}

SNT_UNINSTRUMENTED void *arenaAllocate(std::size_t size)
{
    const std::size_t aligned
            = (size + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1);
    if (aligned > sizeof arena - arenaUsed)
        return nullptr;
    void *p = arena + arenaUsed;
    arenaUsed += aligned;
    return p; // static storage: already zero
}

template<typename F>
SNT_UNINSTRUMENTED F lookUp(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// False while the lookup is under way: the caller serves itself from the arena.
SNT_UNINSTRUMENTED bool ready()
{
    if (next.free)
        return true;
    if (lookingUp)
        return false;
    lookingUp = true;
    Heap found;
    found.malloc = lookUp<Malloc>("malloc");
    found.calloc = lookUp<Calloc>("calloc");
    found.realloc = lookUp<Realloc>("realloc");
    found.alignedAlloc = lookUp<AlignedAlloc>("aligned_alloc");
    found.posixMemalign = lookUp<PosixMemalign>("posix_memalign");
    found.memalign = lookUp<AlignedAlloc>("memalign");
    found.free = lookUp<Free>("free");
    if (!found.malloc || !found.calloc || !found.realloc || !found.alignedAlloc
        || !found.posixMemalign || !found.memalign || !found.free)
        std::abort();
    next = found;
    lookingUp = false;
    return true;
}

std::atomic<snt::test::AllocationHook> hook{nullptr};
// Set once the program's static initialisation runs (a sanitizer is set up by then). Read with
// the compiler's builtin: std::atomic's members would bring instrumented code along.
bool counting = false;
const struct StartCounting
{
    StartCounting() { __atomic_store_n(&counting, true, __ATOMIC_RELEASE); }
} startCounting;

SNT_UNINSTRUMENTED bool started()
{
    return __atomic_load_n(&counting, __ATOMIC_ACQUIRE);
}

SNT_UNINSTRUMENTED void countAllocation()
{
    if (!started())
        return;
    if (realtime::inSection())
        realtime::countHeapCall();
    if (const snt::test::AllocationHook h = hook.load(std::memory_order_relaxed))
        h();
}

SNT_UNINSTRUMENTED void countFree()
{
    if (started() && realtime::inSection())
        realtime::countHeapCall();
}

void *allocate(std::size_t size)
{
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

} // namespace

void snt::test::setAllocationHook(AllocationHook h)
{
    hook.store(h);
}

extern "C" {

SNT_UNINSTRUMENTED void *malloc(std::size_t size)
{
    if (!ready())
        return arenaAllocate(size);
    countAllocation();
    return next.malloc(size);
}

SNT_UNINSTRUMENTED void *calloc(std::size_t count, std::size_t size)
{
    if (!ready())
        return size == 0 || count <= sizeof arena / size ? arenaAllocate(count * size) : nullptr;
    countAllocation();
    return next.calloc(count, size);
}

SNT_UNINSTRUMENTED void *realloc(void *p, std::size_t size)
{
    if (!ready())
        return p ? nullptr : arenaAllocate(size);
    countAllocation();
    if (!fromArena(p))
        return next.realloc(p, size);
    // A block from the arena moves to the real heap; the arena keeps its copy.
    void *moved = next.malloc(size);
    if (moved)
        std::memcpy(moved, p,
                    std::min<std::size_t>(size, arena + sizeof arena - static_cast<char *>(p)));
    return moved;
}

SNT_UNINSTRUMENTED void *aligned_alloc(std::size_t alignment, std::size_t size)
{
    if (!ready())
        return nullptr;
    countAllocation();
    return next.alignedAlloc(alignment, size);
}

SNT_UNINSTRUMENTED int posix_memalign(void **p, std::size_t alignment, std::size_t size)
{
    if (!ready())
        return ENOMEM;
    countAllocation();
    return next.posixMemalign(p, alignment, size);
}

SNT_UNINSTRUMENTED void *memalign(std::size_t alignment, std::size_t size)
{
    if (!ready())
        return nullptr;
    countAllocation();
    return next.memalign(alignment, size);
}

SNT_UNINSTRUMENTED void free(void *p)
{
    if (!p || fromArena(p))
        return;
    countFree();
    if (ready())
        next.free(p);
}

} // extern "C"

// The C++ allocation functions go through malloc and free above, which count them.
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
