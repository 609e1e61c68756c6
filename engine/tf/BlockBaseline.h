#pragma once

#include <deque>

// Decides whether an aligned sweep block is trusted enough to be measured. A block is skipped
// when its clock estimate jumps by more than 100 ppm from the last accepted block's (the phone
// cannot have changed its clock that fast), or when its coherence score falls below half the
// median of the recent accepted scores (a noise burst, a door slam). Five skips in a row mean
// the baseline itself is stale: it is cleared and built again from the next blocks.
class BlockBaseline
{
public:
    static constexpr double maxPpmJump = 100.0;
    static constexpr int maxScores = 8;
    static constexpr int minScoresToJudge = 3;
    static constexpr int maxConsecutiveSkips = 5;

    enum class Verdict { Accepted, PpmJump, LowScore };

    struct Judgement
    {
        Verdict verdict = Verdict::Accepted;
        double median = 0.0; // of the scores the block was judged against
        bool hadLastPpm = false;
        double lastPpm = 0.0; // the last accepted block's, when there was one
        bool baselineCleared = false; // this skip was the fifth in a row
    };

    // Judges a block with coherence score `score` (negative: could not be scored) and clock
    // estimate `ppm`, and updates the baseline.
    Judgement judge(double score, double ppm);

    // Forgets the scores, the last ppm and the skips in a row (not the total).
    void clear();
    void reset();
    int totalSkipped() const { return totalSkipped_; }

private:
    double median() const;

    std::deque<double> scores_;
    bool hasLastPpm_ = false;
    double lastPpm_ = 0.0;
    int totalSkipped_ = 0;
    int consecutiveSkipped_ = 0;
};
