#include "engine/tf/BlockBaseline.h"

#include <algorithm>
#include <cmath>
#include <vector>

BlockBaseline::Judgement BlockBaseline::judge(double score, double ppm)
{
    Judgement judgement;
    judgement.median = median();
    judgement.hadLastPpm = hasLastPpm_;
    judgement.lastPpm = lastPpm_;
    if (hasLastPpm_ && std::abs(ppm - lastPpm_) > maxPpmJump)
        judgement.verdict = Verdict::PpmJump;
    else if (int(scores_.size()) >= minScoresToJudge && score >= 0.0
             && score < 0.5 * judgement.median)
        judgement.verdict = Verdict::LowScore;

    if (judgement.verdict != Verdict::Accepted) {
        ++totalSkipped_;
        if (++consecutiveSkipped_ >= maxConsecutiveSkips) {
            clear();
            judgement.baselineCleared = true;
        }
        return judgement;
    }
    if (score >= 0.0) {
        scores_.push_back(score);
        if (int(scores_.size()) > maxScores)
            scores_.pop_front();
    }
    lastPpm_ = ppm;
    hasLastPpm_ = true;
    consecutiveSkipped_ = 0;
    return judgement;
}

double BlockBaseline::median() const
{
    if (scores_.empty())
        return 0.0;
    std::vector<double> sorted(scores_.begin(), scores_.end());
    std::sort(sorted.begin(), sorted.end());
    return sorted[sorted.size() / 2];
}

void BlockBaseline::clear()
{
    scores_.clear();
    hasLastPpm_ = false;
    lastPpm_ = 0.0;
    consecutiveSkipped_ = 0;
}

void BlockBaseline::reset()
{
    clear();
    totalSkipped_ = 0;
}
