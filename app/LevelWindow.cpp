#include "app/LevelWindow.h"

#include <numeric>

namespace {

constexpr double silenceDb = -90.0;
constexpr double lowestGapDb = -3.0;
constexpr double highestGapDb = 6.0;
constexpr qsizetype windowLength = 15;
constexpr int ticksToBecomeReady = 12;
constexpr int ticksToLoseReady = 30;

} // namespace

bool LevelWindow::add(double measurePeakDb, double referencePeakDb)
{
    if (measurePeakDb <= silenceDb || referencePeakDb <= silenceDb) {
        reset();
        return false;
    }
    gaps_.append(measurePeakDb - referencePeakDb);
    if (gaps_.size() > windowLength)
        gaps_.remove(0, gaps_.size() - windowLength);
    gapDb_ = std::accumulate(gaps_.cbegin(), gaps_.cend(), 0.0) / double(gaps_.size());

    const bool inside = gapDb_ >= lowestGapDb && gapDb_ <= highestGapDb;
    int &count = ready_ ? lostCount_ : readyCount_;
    count = inside != ready_ ? count + 1 : 0;
    if (count >= (ready_ ? ticksToLoseReady : ticksToBecomeReady)) {
        ready_ = !ready_;
        readyCount_ = 0;
        lostCount_ = 0;
    }
    return true;
}

void LevelWindow::reset()
{
    gaps_.clear();
    readyCount_ = 0;
    lostCount_ = 0;
    ready_ = false;
    gapDb_ = 0.0;
}
