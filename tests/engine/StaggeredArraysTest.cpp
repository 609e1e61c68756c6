#include "engine/dsp/StaggeredArrays.h"
#include "tests/support/TestMain.h"

#include <cstdint>
#include <set>

namespace {

using Tables = StaggeredArrays<6>;

std::size_t placeInPage(const float *p)
{
    return reinterpret_cast<std::uintptr_t>(p) % 4096;
}

float valueOf(std::size_t array, std::size_t entry)
{
    return float(array * 1000003 + entry);
}

void fill(Tables &tables)
{
    for (std::size_t i = 0; i < 6; ++i)
        for (std::size_t j = 0; j < tables.size(i); ++j)
            tables[i][j] = valueOf(i, j);
}

// After fill(): arrays that shared an entry would show the later one's value in the earlier one.
bool holdsFill(const Tables &tables)
{
    for (std::size_t i = 0; i < 6; ++i)
        for (std::size_t j = 0; j < tables.size(i); ++j)
            if (tables[i][j] != valueOf(i, j))
                return false;
    return true;
}

bool allZero(const Tables &tables)
{
    for (std::size_t i = 0; i < 6; ++i)
        for (std::size_t j = 0; j < tables.size(i); ++j)
            if (tables[i][j] != 0.0f)
                return false;
    return true;
}

} // namespace

class StaggeredArraysTest : public QObject
{
    Q_OBJECT

private slots:
    // The arrays of the transform's sizes, from the smallest to the largest (where the allocator
    // gives page-aligned blocks), are disjoint, zero when made, and each starts at a place within
    // the page of its own, a whole cache line from the others.
    void arraysAreDisjointAndStaggered_data()
    {
        QTest::addColumn<quint32>("n");
        QTest::newRow("2") << 2u;
        QTest::newRow("1024") << 1024u;
        QTest::newRow("65536") << 65536u;
    }

    void arraysAreDisjointAndStaggered()
    {
        QFETCH(quint32, n);
        Tables tables;
        tables.resize({n, n, n, n, n / 2, n / 2});
        QVERIFY(allZero(tables));
        fill(tables);
        QVERIFY(holdsFill(tables));
        std::set<std::size_t> places;
        for (std::size_t i = 0; i < 6; ++i) {
            QCOMPARE(placeInPage(tables[i]) % 64, placeInPage(tables[0]) % 64);
            places.insert(placeInPage(tables[i]) / 64);
        }
        QCOMPARE(places.size(), std::size_t(6));
    }

    // Sizing again to the same lengths keeps what the arrays hold (a plan prepared twice keeps
    // its tables); other lengths start from zeros, even where the total stays the same.
    void resizeKeepsOrClears()
    {
        Tables tables;
        tables.resize({8, 8, 8, 8, 4, 4});
        fill(tables);
        tables.resize({8, 8, 8, 8, 4, 4});
        QVERIFY(holdsFill(tables));
        tables.resize({4, 4, 8, 8, 8, 8});
        QVERIFY(allZero(tables));
    }
};

SNT_TEST_MAIN(StaggeredArraysTest)
#include "StaggeredArraysTest.moc"
