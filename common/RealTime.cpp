#include "common/RealTime.h"

#include <atomic>

namespace realtime {
namespace {

thread_local int depth = 0;
std::atomic<uint64_t> allocations{0};
std::atomic<uint64_t> lockWaits{0};

} // namespace

Section::Section()
{
    ++depth;
}

Section::~Section()
{
    --depth;
}

bool inSection()
{
    return depth > 0;
}

Violations violations()
{
    return {allocations.load(), lockWaits.load()};
}

void resetViolations()
{
    allocations.store(0);
    lockWaits.store(0);
}

void countAllocation()
{
    allocations.fetch_add(1, std::memory_order_relaxed);
}

void countLockWait()
{
    lockWaits.fetch_add(1, std::memory_order_relaxed);
}

} // namespace realtime
