// The band responses that the lanes of one computation share: searches that meet in one cache,
// one after the other or at the same time, find exactly the bands each finds on its own.
#include "eq/LadderSearch.h"
#include "SyntheticCurves.h"
#include "eq/BandRules.h"
#include "eq/CurvePreparation.h"
#include "eq/OctaveSmoothing.h"
#include "eq/PeqSearch.h"
#include "tests/support/TestMain.h"

#include <thread>
#include <vector>

using namespace snt::eq;

namespace {

// Deviations from a rough curve of several flat and tilted targets, as the lanes fit them: their
// peaks and troughs lie at many of the same grid frequencies.
QList<QList<double>> laneDeviations()
{
    const QList<float> &grid = standardGrid();
    const Measured rough = synthetic::curve(synthetic::roughFeatures());
    const QList<float> measured = smoothToGrid(rough.freq, toDb(rough.magnitude), grid, 6);
    QList<QList<double>> deviations;
    for (const double tilt : {0.0, 1.5, -2.0, 3.0}) {
        QList<double> deviation;
        for (qsizetype k = 0; k < grid.size(); ++k)
            deviation.append(measured[k] - tilt * std::log2(grid[k] / 1000.0) / 5.0);
        deviations.append(deviation);
    }
    return deviations;
}

QList<Band> searchAlone(const QList<double> &deviation)
{
    return searchPeq(standardGrid(), deviation, 60.0, 20000.0, 8, false);
}

} // namespace

class LadderSearchTest : public QObject
{
    Q_OBJECT

private slots:
    void searchesOneAfterAnotherReuseResponses()
    {
        const QList<QList<double>> deviations = laneDeviations();
        LadderResponseCache shared(standardGrid());
        for (int round = 0; round < 2; ++round) {
            for (const QList<double> &deviation : deviations) {
                const QList<Band> bands
                        = searchPeq(standardGrid(), deviation, 60.0, 20000.0, 8, false, &shared);
                QCOMPARE(bands, searchAlone(deviation));
                QVERIFY(!bands.isEmpty());
            }
        }
    }

    void searchesAtTheSameTimeShareResponses()
    {
        const QList<QList<double>> deviations = laneDeviations();
        QList<QList<Band>> alone;
        for (const QList<double> &deviation : deviations)
            alone.append(searchAlone(deviation));

        LadderResponseCache shared(standardGrid());
        std::vector<QList<Band>> found(size_t(deviations.size()));
        std::vector<std::thread> lanes;
        for (qsizetype lane = 0; lane < deviations.size(); ++lane) {
            lanes.emplace_back([&, lane] {
                found[size_t(lane)] = searchPeq(standardGrid(), deviations[lane], 60.0, 20000.0, 8,
                                                false, &shared);
            });
        }
        for (std::thread &lane : lanes)
            lane.join();
        for (qsizetype lane = 0; lane < deviations.size(); ++lane)
            QCOMPARE(found[size_t(lane)], alone[lane]);
    }

    // A pair's response from the shared table is the band's own, to the bit.
    void tableHoldsEachBandsResponse()
    {
        const QList<float> &grid = standardGrid();
        LadderResponseCache cache(grid);
        const Ladder fine{-1, -1.0, 0.1, 91, 0.1, 56};
        LadderResponses &table = cache.at(1000.39, fine);
        QCOMPARE(&cache.at(1000.39, fine), &table);
        for (const auto &[i, j] : {std::pair{0, 0}, std::pair{90, 55}, std::pair{37, 12}}) {
            const double *response = table.response(i, j);
            for (qsizetype k = 0; k < grid.size(); ++k)
                QCOMPARE(response[k],
                         peakingGainDb(grid[k], 1000.39, table.gainAt(i), table.qAt(j)));
        }
    }
};

SNT_TEST_MAIN(LadderSearchTest)
#include "LadderSearchTest.moc"
