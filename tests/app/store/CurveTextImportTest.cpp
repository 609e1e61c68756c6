#include "app/store/CurveTextImport.h"
#include "tests/app/store/StoreTestFiles.h"
#include "tests/support/TestMain.h"

#include <QLocale>

#include <cmath>

namespace {

QString writeCurve(const QByteArray &text)
{
    static int serial = 0;
    const QString path = QDir::homePath() + QStringLiteral("/curve-%1.txt").arg(++serial);
    return putBytes(path, text) ? path : QString();
}

// `count` lines "f<sep>level[<sep>phase[<sep>coherence]]" at 100, 200, ... Hz.
QByteArray lines(int count, const QByteArray &separator = "\t", int columns = 4)
{
    QByteArray text;
    for (int i = 1; i <= count; ++i) {
        const QByteArrayList fields{QByteArray::number(100 * i), QByteArray::number(-i),
                                    QByteArray::number(10 * i), "0.5"};
        text += fields.first(columns).join(separator) + '\n';
    }
    return text;
}

} // namespace

class CurveTextImportTest : public QObject
{
    Q_OBJECT

private slots:
    void layouts_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("columns");
        QTest::newRow("tabs, four columns") << lines(10) << 10 << 4;
        QTest::newRow("spaces, three columns") << lines(9, "   ", 3) << 9 << 3;
        QTest::newRow("two columns") << lines(8, " \t ", 2) << 8 << 2;
        QTest::newRow("windows lines") << lines(8).replace("\n", "\r\n") << 8 << 4;
        QTest::newRow("comments and blanks") << "# frequency_hz\tdb\tphase_deg\tcoherence\n\n   \n"
                                                        + lines(8) + "  # trailing note\n"
                                             << 8 << 4;
        QTest::newRow("extra columns") << lines(8).replace("\n", "\t9\t9\n") << 8 << 4;
        QTest::newRow("byte-order mark") << "\xEF\xBB\xBF" + lines(8) << 8 << 4;
        QTest::newRow("commas are not separators") << lines(20, ",") << 0 << 0;
        QTest::newRow("seven lines") << "# a\n# b\n" + lines(7) << 0 << 0;
        QTest::newRow("empty") << QByteArray() << 0 << 0;
    }

    void layouts()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, count);
        QFETCH(int, columns);
        ImportedCurve curve;
        curve.delayMs = -1.0; // a failed import leaves the curve untouched
        QCOMPARE(importCurveText(writeCurve(text), curve), count > 0);
        QCOMPARE(curve.delayMs, count > 0 ? 0.0 : -1.0);
        QList<float> freq, phase, coherence;
        for (int i = 1; i <= count; ++i) {
            freq << float(100 * i);
            phase << (columns >= 3 ? float(10 * i) : 0.0f);
            coherence << (columns >= 4 ? 0.5f : 1.0f);
            QVERIFY(std::abs(curve.magnitude.value(i - 1) - std::pow(10.0, -i / 20.0)) < 1e-6);
        }
        QVERIFY(curve.freq == freq && curve.phase == phase && curve.coherence == coherence);
        QCOMPARE(curve.magnitude.size(), count);
    }

    void unusableLinesAreSkipped()
    {
        // Levels beyond 200 dB either way no measurement gives.
        const QByteArray bad
                = "1000,-6\n1,000 -3\n0 -3\n-5 -3\n100 inf\nnan 3\n200 x\n300\n1e39 1\n"
                  "200 3e38\n300 -200.5\n";
        ImportedCurve curve;
        QVERIFY(importCurveText(writeCurve(bad + "1000 -6.02 45 1.7\n400 -3 bogus -0.5\n"
                                           + lines(7, "\t", 2) + "500 200\n"),
                                curve));
        QCOMPARE(curve.freq.size(), 10);
        QCOMPARE(curve.magnitude.last(), 1e10f);
        QCOMPARE(curve.freq.first(2), (QList<float>{1000.0f, 400.0f}));
        QVERIFY(std::abs(curve.magnitude[0] - 0.5f) < 1e-3f); // -6.02 dB is about one half
        QCOMPARE(curve.phase.first(2), (QList<float>{45.0f, 0.0f})); // bad phase falls back
        QCOMPARE(curve.coherence.first(2), (QList<float>{1.0f, 0.0f})); // clamped
        QVERIFY(!importCurveText(QDir::homePath() + QStringLiteral("/none.txt"), curve));
    }

    // Numbers in every spelling are read as the C locale reads them: first rounded to double,
    // then to float (the first spelling lies just above halfway between two floats, so rounding
    // straight to float would give the upper one), refused when float cannot hold them.
    void numbersReadAsTheCLocaleReadsThem()
    {
        const QStringList spellings{"1.0000000596046447753906251",
                                    "16777217",
                                    "007",
                                    "1e5",
                                    "1E+05",
                                    "2.5e-3",
                                    "0.123457",
                                    "1000.125",
                                    "123456789012345678901234567890",
                                    "1.0000001e30",
                                    "9.99999e-31",
                                    "0000000000000000000000000000000001",
                                    "+5",
                                    "5.",
                                    ".5",
                                    "1e-40",
                                    "3.5e38",
                                    "1e",
                                    "1.2.3",
                                    "0x10"};
        QByteArray text;
        QList<float> expected;
        QLocale c = QLocale::c();
        c.setNumberOptions(QLocale::RejectGroupSeparator);
        for (const QString &spelling : spellings) {
            text += spelling.toLatin1() + " -6\n";
            bool ok = false;
            const float value = c.toFloat(spelling, &ok);
            if (ok && std::isfinite(value) && value > 0.0f)
                expected << value;
        }
        ImportedCurve curve;
        QVERIFY(importCurveText(writeCurve(text + lines(8)), curve));
        QVERIFY(expected.size() >= 12);
        QCOMPARE(curve.freq.first(expected.size()), expected);
        QCOMPARE(curve.freq.size(), expected.size() + 8);
    }

    void delayNote_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<double>("delay");
        QTest::newRow("plain") << QByteArray("# Delay: 3.25 ms\n") << 3.25;
        QTest::newRow("other case") << QByteArray("# delay:2.5MS\n") << 2.5;
        QTest::newRow("two points") << QByteArray("# Delay: 1.2.3 ms\n") << 0.0;
        QTest::newRow("beyond 200 characters") << "#" + QByteArray(195, ' ') + "\n# Delay: 2.5 ms\n"
                                               << 0.0;
        QTest::newRow("counted in characters, not bytes")
                << "# " + QByteArray("延迟").repeated(60) + " Delay: 4 ms\n"
                << 4.0;
    }

    void delayNote()
    {
        QFETCH(QByteArray, header);
        QFETCH(double, delay);
        ImportedCurve curve;
        QVERIFY(importCurveText(writeCurve(header + lines(8)), curve));
        QCOMPARE(curve.delayMs, delay);
    }

    void phaseUnwrap_data()
    {
        QTest::addColumn<QList<float>>("read");
        QTest::addColumn<QList<float>>("unwrapped");
        QTest::newRow("across -180") << QList<float>{170, -170} << QList<float>{170, 190};
        QTest::newRow("a turn up") << QList<float>{10, 400} << QList<float>{10, 40};
        QTest::newRow("many turns down") << QList<float>{0, -3600 - 90} << QList<float>{0, -90};
        QTest::newRow("edges kept")
                << QList<float>{0, 180, 0, -180} << QList<float>{0, 180, 0, -180};
        QTest::newRow("just past the edges")
                << QList<float>{0, 540, 0, -540} << QList<float>{0, 180, 0, -180};
        QTest::newRow("fraction kept far out")
                << QList<float>{0, 1e10f + 0.0f, 7.5f + 360.0f * 1000.0f}
                << QList<float>{0, -80, 7.5};
        QTest::newRow("chain") << QList<float>{170, -170, -150, 170}
                               << QList<float>{170, 190, 210, 170};
    }

    void phaseUnwrap()
    {
        QFETCH(QList<float>, read);
        QFETCH(QList<float>, unwrapped);
        unwrapPhase(read);
        QCOMPARE(read, unwrapped);
    }

    // Stepping by single turns never ended on values this large; the import must finish.
    // The frequencies fall: file order is kept.
    void hugePhasesDoNotStall()
    {
        QByteArray text;
        const QByteArrayList phases{"0", "1e10", "-3e38", "3.4e38", "-1e20", "90", "1e9", "5"};
        for (int i = 0; i < phases.size(); ++i)
            text += QByteArray::number(800 - 100 * i) + " 0 " + phases[i] + "\n";
        ImportedCurve curve;
        QVERIFY(importCurveText(writeCurve(text), curve));
        QVERIFY(curve.freq.first() == 800.0f && curve.freq.last() == 100.0f);
        for (qsizetype i = 1; i < curve.phase.size(); ++i) {
            const double step = double(curve.phase[i]) - double(curve.phase[i - 1]);
            QVERIFY2(step >= -180.0 && step <= 180.0, qPrintable(QString::number(step)));
        }
    }
};

SNT_TEST_MAIN(CurveTextImportTest)
#include "CurveTextImportTest.moc"
