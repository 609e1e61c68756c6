#include "app/SchemeEditing.h"

#include "eq/CornerEstimation.h"

#include <algorithm>
#include <cmath>

using snt::eq::Corner;
using snt::eq::SchemeBand;

namespace schemeedit {

namespace {

// Where a new band goes, in order of preference (Hz).
constexpr float candidateHz[] = {1000, 2000, 500, 4000, 250, 8000, 125, 16000};
// A candidate this close (natural log of the ratio) to a band counts as taken.
constexpr double takenDistance = 0.12;
constexpr float newBandGainDb = 3.0f;
constexpr double valueTolerance = 0.0001;
constexpr double hzTolerance = 0.001;
constexpr int maxOrder = 8;
constexpr double lowestHighPassCardHz = 20.0;
constexpr double highestLowPassCardHz = 24000.0;

bool inList(const QList<SchemeBand> &bands, int index)
{
    return index >= 0 && index < bands.size();
}

bool sameValue(float stored, double wanted)
{
    return std::abs(double(stored) - wanted) < valueTolerance;
}

// What an edit stores: the band's own value where the edit leaves it as it is (the screen sends
// the fields not edited as they are, and a computed band may lie above 20 kHz), else the wanted
// value within its range.
double editedValue(float stored, double wanted, double lowest, double highest)
{
    return sameValue(stored, wanted) ? double(stored) : std::clamp(wanted, lowest, highest);
}

// A Linkwitz-Riley filter is two Butterworths in series: its order is even.
int evenForLinkwitzRiley(const QString &kind, int order)
{
    return kind == QLatin1String("LR") && order % 2 != 0 ? std::min(order + 1, maxOrder) : order;
}

void addCard(QVariantMap &cards, const QString &side, const Corner &corner, double offHz)
{
    cards.insert(side + QStringLiteral("Value"), snt::eq::filterFrequencyText(corner));
    cards.insert(side + QStringLiteral("Unit"), snt::eq::frequencyText(corner));
    cards.insert(side + QStringLiteral("Slope"), snt::eq::slopeText(corner));
    cards.insert(side + QStringLiteral("Hz"), corner.hz > 0.0 ? corner.hz : offHz);
    cards.insert(side + QStringLiteral("SlopeDb"), corner.on ? corner.order * 6 : 0);
    cards.insert(side + QStringLiteral("Type"),
                 corner.kind.isEmpty() ? QStringLiteral("BW") : corner.kind);
    cards.insert(side + QStringLiteral("On"), corner.on);
}

} // namespace

bool addBand(QList<SchemeBand> &bands)
{
    if (bands.size() >= maxBands)
        return false;
    const auto taken = [&bands](float candidate) {
        return std::any_of(bands.cbegin(), bands.cend(), [candidate](const SchemeBand &band) {
            return band.freq > 0.0f && std::abs(std::log(candidate / band.freq)) < takenDistance;
        });
    };
    const float *free = std::find_if_not(std::begin(candidateHz), std::end(candidateHz), taken);
    const float hz = free == std::end(candidateHz) ? candidateHz[0] : *free;
    bands.prepend({hz, newBandGainDb, 1.0f, true});
    return true;
}

bool removeBand(QList<SchemeBand> &bands, int index)
{
    if (!inList(bands, index))
        return false;
    bands.removeAt(index);
    return true;
}

bool setBandEnabled(QList<SchemeBand> &bands, int index, bool enabled)
{
    if (!inList(bands, index) || bands[index].enabled == enabled)
        return false;
    bands[index].enabled = enabled;
    return true;
}

bool updateBand(QList<SchemeBand> &bands, int index, double freq, double q, double gainDb)
{
    if (!inList(bands, index) || !std::isfinite(freq) || !std::isfinite(q)
        || !std::isfinite(gainDb))
        return false;
    SchemeBand &band = bands[index];
    freq = editedValue(band.freq, freq, 20.0, 20000.0);
    q = editedValue(band.q, q, 0.1, 20.0);
    gainDb = editedValue(band.gain, gainDb, -18.0, 18.0);
    if (sameValue(band.freq, freq) && sameValue(band.q, q) && sameValue(band.gain, gainDb))
        return false;
    band.freq = float(freq);
    band.q = float(q);
    band.gain = float(gainDb);
    return true;
}

bool updateCorner(Corner &corner, double hz, double slopeDbOct)
{
    if (!std::isfinite(hz) || !std::isfinite(slopeDbOct))
        return false;
    if (slopeDbOct <= 0.0) {
        if (!corner.on)
            return false;
        corner.on = false;
        return true;
    }
    hz = std::clamp(hz, 10.0, 24000.0);
    if (corner.kind.isEmpty())
        corner.kind = QStringLiteral("BW");
    const int nearest = int(std::clamp(std::floor(slopeDbOct / 6.0 + 0.5), 1.0, double(maxOrder)));
    const int order = evenForLinkwitzRiley(corner.kind, nearest);
    if (corner.on && std::abs(corner.hz - hz) < hzTolerance && corner.order == order)
        return false;
    corner.hz = hz;
    corner.order = order;
    corner.on = true;
    return true;
}

bool updateCornerType(Corner &corner, const QString &type)
{
    QString kind = type.toUpper();
    if (kind != QLatin1String("LR") && kind != QLatin1String("BS"))
        kind = QStringLiteral("BW");
    if (corner.kind == kind)
        return false;
    corner.kind = kind;
    corner.order = evenForLinkwitzRiley(kind, corner.order);
    return true;
}

QString formatGain(double gainDb)
{
    return QStringLiteral("%1%2 dB")
            .arg(gainDb >= 0.0 ? QStringLiteral("+") : QStringLiteral("\u2212"))
            .arg(std::abs(gainDb), 0, 'f', 1);
}

QVariantList bandList(const QList<SchemeBand> &bands)
{
    QVariantList list;
    for (qsizetype i = 0; i < bands.size(); ++i) {
        list.append(QVariantMap{{QStringLiteral("index"), int(i + 1)},
                                {QStringLiteral("freq"), bands[i].freq},
                                {QStringLiteral("gain"), bands[i].gain},
                                {QStringLiteral("q"), bands[i].q},
                                {QStringLiteral("enabled"), bands[i].enabled}});
    }
    return list;
}

QVariantMap cornerCards(const Corner &highPass, const Corner &lowPass)
{
    QVariantMap cards{{QStringLiteral("blocked"), false},
                      {QStringLiteral("blockedReason"), QString()},
                      {QStringLiteral("gain"), formatGain(0.0)}};
    addCard(cards, QStringLiteral("hpf"), highPass, lowestHighPassCardHz);
    addCard(cards, QStringLiteral("lpf"), lowPass, highestLowPassCardHz);
    return cards;
}

QVariantMap blockedCornerCards(const QString &blockedReason)
{
    QVariantMap cards{{QStringLiteral("blocked"), true},
                      {QStringLiteral("blockedReason"), blockedReason},
                      {QStringLiteral("gain"), formatGain(0.0)}};
    const QString dash = QStringLiteral("—");
    for (const QString &side : {QStringLiteral("hpf"), QStringLiteral("lpf")}) {
        cards.insert(side + QStringLiteral("Value"), dash);
        cards.insert(side + QStringLiteral("Unit"), QString());
        cards.insert(side + QStringLiteral("Slope"), dash);
        cards.insert(side + QStringLiteral("SlopeDb"), 0);
        cards.insert(side + QStringLiteral("Type"), QStringLiteral("BW"));
        cards.insert(side + QStringLiteral("On"), false);
    }
    cards.insert(QStringLiteral("hpfHz"), lowestHighPassCardHz);
    cards.insert(QStringLiteral("lpfHz"), highestLowPassCardHz);
    return cards;
}

} // namespace schemeedit
