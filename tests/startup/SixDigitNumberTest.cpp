// The batch's curve numbers against Qt's own 'g' formatting, which the curve text must match
// byte for byte: over every range of magnitude, at the edges of the six digits, and where a
// number lies (nearly) halfway between two six-digit ones.
#include "startup/SixDigitNumber.h"
#include "tests/support/TestMain.h"

#include <QString>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

using namespace snt::startup;

namespace {

// The values whose text differs from Qt's, at most `shown` of them, each with both texts.
QStringList mismatches(const std::vector<double> &values, int shown = 10)
{
    QStringList found;
    for (const double value : values) {
        QByteArray text;
        appendSixDigitNumber(text, value);
        const QByteArray expected = QString::number(value, 'g', 6).toLatin1();
        if (text != expected && found.size() < shown)
            found.append(QString("%1: %2, Qt %3")
                                 .arg(value, 0, 'g', 17)
                                 .arg(QString::fromLatin1(text), QString::fromLatin1(expected)));
    }
    return found;
}

// `value` and the few doubles either side of it.
void addWithNeighbours(std::vector<double> &values, double value)
{
    double below = value;
    double above = value;
    values.push_back(value);
    for (int step = 0; step < 3; ++step) {
        below = std::nextafter(below, -std::numeric_limits<double>::infinity());
        above = std::nextafter(above, std::numeric_limits<double>::infinity());
        values.push_back(below);
        values.push_back(above);
    }
}

} // namespace

class SixDigitNumberTest : public QObject
{
    Q_OBJECT

private slots:
    void writtenAsQtWritesThem_data()
    {
        QTest::addColumn<std::vector<double>>("values");
        std::mt19937_64 random(20261207);
        std::vector<double> everyMagnitude;
        std::uniform_real_distribution<double> exponent(-320.0, 308.0);
        for (int i = 0; i < 100000; ++i) {
            const double magnitude = std::pow(10.0, exponent(random));
            everyMagnitude.push_back(i % 2 ? -magnitude : magnitude);
        }
        QTest::newRow("every magnitude") << everyMagnitude;

        // What a curve holds: single-precision frequencies, levels and coherences.
        std::vector<double> curveValues;
        std::uniform_real_distribution<float> hz(1.0f, 24000.0f);
        std::uniform_real_distribution<float> db(-120.0f, 40.0f);
        std::uniform_real_distribution<float> coherence(0.0f, 1.0f);
        for (int i = 0; i < 50000; ++i)
            curveValues.insert(curveValues.end(), {hz(random), db(random), coherence(random)});
        QTest::newRow("curve values") << curveValues;

        // Powers of ten and the largest six-digit numbers below them, where the digits carry
        // into another exponent and the form switches between fixed and scientific.
        std::vector<double> edges{std::numeric_limits<double>::denorm_min(),
                                  std::numeric_limits<double>::min(),
                                  std::numeric_limits<double>::max(),
                                  0.0,
                                  -0.0,
                                  std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN()};
        for (int power = -30; power <= 30; ++power) {
            addWithNeighbours(edges, std::pow(10.0, power));
            addWithNeighbours(edges, 9.999995 * std::pow(10.0, power));
            addWithNeighbours(edges, -9.999994 * std::pow(10.0, power));
        }
        QTest::newRow("powers of ten") << edges;

        // Halfway between two six-digit numbers: exactly (whole numbers and halves a double
        // holds), and a few doubles off, where only exact digits tell the way.
        std::vector<double> halfway;
        std::uniform_int_distribution<int> sixDigits(100000, 999999);
        for (int i = 0; i < 20000; ++i) {
            const double digits = sixDigits(random) + 0.5;
            addWithNeighbours(halfway, digits);
            addWithNeighbours(halfway, digits * 10.0);
            addWithNeighbours(halfway, digits / 1000.0);
            addWithNeighbours(halfway, -digits * std::pow(2.0, -20));
        }
        QTest::newRow("halfway") << halfway;
    }

    void writtenAsQtWritesThem()
    {
        QFETCH(std::vector<double>, values);
        const QStringList found = mismatches(values);
        QVERIFY2(found.isEmpty(), qPrintable(found.join('\n')));
    }
};

SNT_TEST_MAIN(SixDigitNumberTest)
#include "SixDigitNumberTest.moc"
