#include "common/RealTime.h"

#include <atomic>

namespace realtime {
namespace {

thread_local int depth = 0;
std::atomic<uint64_t> heapCalls{0};
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
    return {heapCalls.load(), lockWaits.load()};
}

void resetViolations()
{
    heapCalls.store(0);
    lockWaits.store(0);
}

void countHeapCall()
{
    heapCalls.fetch_add(1, std::memory_order_relaxed);
}

void countLockWait()
{
    lockWaits.fetch_add(1, std::memory_order_relaxed);
}

} // namespace realtime
