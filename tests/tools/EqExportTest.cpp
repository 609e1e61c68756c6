#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    QJsonObject answer;
};

QJsonObject band(double hz, double gain, double q, bool enabled = true)
{
    return {{"frequency_hz", hz},
            {"gain_db", gain},
            {"q", q},
            {"enabled", enabled},
            {"filter_type", "peak"}};
}

QJsonObject corner(double hz, const QString &type)
{
    return {{"frequency_hz", hz}, {"filter_type", type}};
}

QJsonArray bands(int count)
{
    QJsonArray list;
    for (int i = 0; i < count; ++i)
        list.append(band(100.0 + 100.0 * i, -1.5, 2.0));
    return list;
}

} // namespace

class EqExportTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString desktop() const { return dir_.filePath("Desktop"); }

    QString writeRequest(const QByteArray &content)
    {
        const QString path = dir_.filePath("request.json");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) < 0)
            qFatal("cannot write the request");
        return path;
    }

    QString writeRequest(QJsonObject request)
    {
        if (!request.contains("desktop"))
            request.insert("desktop", desktop());
        return writeRequest(QJsonDocument(request).toJson(QJsonDocument::Compact));
    }

    static Run run(const QStringList &arguments, const QProcessEnvironment &environment
                                                 = QProcessEnvironment::systemEnvironment())
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(EQ_EXPORT_PROGRAM, arguments);
        Run result;
        if (!process.waitForFinished(20000))
            return result;
        result.exitCode = process.exitCode();
        result.out = process.readAllStandardOutput();
        result.err = process.readAllStandardError();
        result.answer = QJsonDocument::fromJson(result.out).object();
        return result;
    }

    static QByteArray clipboardText()
    {
        QProcess xclip;
        xclip.start("xclip", {"-o", "-selection", "clipboard"});
        xclip.waitForFinished(5000);
        return xclip.readAllStandardOutput();
    }

    static QByteArray crlf(const char *lines) { return QByteArray(lines).replace("\n", "\r\n"); }

private slots:
    void init()
    {
        QDir(desktop()).removeRecursively();
        QDir().mkpath(desktop());
    }

    void helpDescribesBothFormats()
    {
        const Run help = run({"--help"});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.contains("XTA OUTPUT FILTERS"));
        QVERIFY(help.out.contains("[NST OUTPUT CHANNEL]"));
        QVERIFY(help.out.contains("Exit codes"));
    }

    void refusesBadRequests_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        const QByteArray good = QJsonDocument(QJsonObject{{"target", "nst"},
                                                          {"desktop", "DESKTOP"},
                                                          {"filters", bands(2)}})
                                        .toJson(QJsonDocument::Compact);
        QByteArray large = good;
        large.insert(1, QByteArray(300 * 1024, ' '));
        const auto replaced = [&good](const char *from, const char *to) {
            return QByteArray(good).replace(from, to);
        };
        QTest::newRow("no argument") << good << QStringList() << 2;
        QTest::newRow("two arguments") << good << QStringList{"REQUEST", "REQUEST"} << 2;
        QTest::newRow("missing file") << good << QStringList{"/nonexistent/request.json"} << 3;
        QTest::newRow("over the size bound") << large << QStringList{"REQUEST"} << 3;
        QTest::newRow("not JSON") << QByteArray("{\"target\":\"nst\",") << QStringList{"REQUEST"}
                                  << 3;
        QTest::newRow("array") << QByteArray("[]") << QStringList{"REQUEST"} << 3;
        QTest::newRow("unknown target")
                << replaced("\"nst\"", "\"abc\"") << QStringList{"REQUEST"} << 3;
        QTest::newRow("no filters") << replaced("filters", "filter") << QStringList{"REQUEST"} << 3;
        QTest::newRow("frequency as text")
                << replaced("\"frequency_hz\":100", "\"frequency_hz\":\"100\"")
                << QStringList{"REQUEST"} << 3;
        QTest::newRow("Q of 0") << replaced("\"q\":2", "\"q\":0") << QStringList{"REQUEST"} << 3;
        QTest::newRow("unknown corner") << replaced(
                "\"target\"", "\"hpf\":{\"frequency_hz\":80,\"filter_type\":\"lr6\"},\"target\"")
                                        << QStringList{"REQUEST"} << 3;
    }

    void refusesBadRequests()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        const QString path = writeRequest(content.replace("DESKTOP", desktop().toUtf8()));
        arguments.replaceInStrings("REQUEST", path);
        const Run refused = run(arguments);
        QCOMPARE(refused.exitCode, exitCode);
        QCOMPARE(refused.out.count('\n'), 1);
        QCOMPARE(refused.answer.value("ok"), QJsonValue(false));
        QVERIFY(!refused.answer.value("message").toString().isEmpty());
        QVERIFY(refused.err.startsWith("eq_export: "));
        QVERIFY(QDir(desktop()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }

    void nstFileByteForByteAndNeverOverwritten()
    {
        QJsonArray filters{band(1000, -3.5, 1.4), band(250, 2, 0.7, false), band(63.5, 4.25, 5)};
        const QString request = writeRequest(QJsonObject{
                {"target", "nst"}, {"filters", filters}, {"hpf", corner(80, "butter24")}});
        const QByteArray expected = crlf("[NST OUTPUT CHANNEL]\n"
                                         "HPF=BUTTER,24,80\n"
                                         "LPF=OFF\n"
                                         "PEQ1=1000,-3.5,1.4\n"
                                         "PEQ2=63.5,4.25,5\n"
                                         "PEQ3=OFF\nPEQ4=OFF\nPEQ5=OFF\nPEQ6=OFF\nPEQ7=OFF\n"
                                         "PEQ8=OFF\nPEQ9=OFF\nPEQ10=OFF\nPEQ11=OFF\nPEQ12=OFF\n"
                                         "PEQ13=OFF\nPEQ14=OFF\nPEQ15=OFF\nPEQ16=OFF\n");
        QStringList paths;
        for (int i = 0; i < 2; ++i) {
            const Run done = run({request});
            QCOMPARE(done.exitCode, 0);
            QVERIFY(done.err.isEmpty());
            QCOMPARE(done.answer.value("supported").toInt(), 2);
            QCOMPARE(done.answer.value("removed").toInt(), 0);
            QCOMPARE(done.answer.value("total").toInt(), 2);
            paths.append(done.answer.value("path").toString());
            QFile file(paths.last());
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), expected);
        }
        QCOMPARE(paths, QStringList({desktop() + "/NST-EQ.txt", desktop() + "/NST-EQ-2.txt"}));
        QCOMPARE(QDir(desktop()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    void nstKeepsSixteenBands()
    {
        const QString request = writeRequest(QJsonObject{{"target", "nst"},
                                                         {"filters", bands(18)},
                                                         {"hpf", corner(40, "lr48")},
                                                         {"lpf", corner(18000, "bessel36")}});
        const Run done = run({request});
        QCOMPARE(done.exitCode, 0);
        QCOMPARE(done.answer.value("supported").toInt(), 16);
        QCOMPARE(done.answer.value("removed").toInt(), 2);
        QCOMPARE(done.answer.value("total").toInt(), 18);
        QFile file(done.answer.value("path").toString());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.contains("HPF=LR,48,40\r\nLPF=BESSEL,36,18000\r\n"));
        QVERIFY(text.endsWith("PEQ16=1600,-1.5,2\r\n"));
    }

    void nstUnwritableFolderFails()
    {
        QFile blocker(dir_.filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        const QString request
                = writeRequest(QJsonObject{{"target", "nst"},
                                           {"desktop", blocker.fileName() + "/Desktop"},
                                           {"filters", bands(1)}});
        const Run failed = run({request});
        QCOMPARE(failed.exitCode, 4);
        QCOMPARE(failed.answer.value("ok"), QJsonValue(false));
    }

    void xtaOnTheClipboardAfterTheConverterEnded_data()
    {
        QTest::addColumn<int>("bandCount");
        QTest::addColumn<bool>("withCorners");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<int>("supported");
        QTest::newRow("two bands, both corners")
                << 2 << true
                << crlf("XTA OUTPUT FILTERS\n1 HPF BUTTER 6 35.5\n2 PEQ 100 -1.5 2\n"
                        "3 PEQ 200 -1.5 2\n4 OFF\n5 OFF\n6 OFF\n7 OFF\n8 OFF\n9 LPF LR 36 12000\n")
                << 2;
        QTest::newRow("nine bands, both corners: seven kept")
                << 9 << true
                << crlf("XTA OUTPUT FILTERS\n1 HPF BUTTER 6 35.5\n2 PEQ 100 -1.5 2\n"
                        "3 PEQ 200 -1.5 2\n4 PEQ 300 -1.5 2\n5 PEQ 400 -1.5 2\n6 PEQ 500 -1.5 2\n"
                        "7 PEQ 600 -1.5 2\n8 PEQ 700 -1.5 2\n9 LPF LR 36 12000\n")
                << 7;
    }

    void xtaOnTheClipboardAfterTheConverterEnded()
    {
        QFETCH(int, bandCount);
        QFETCH(bool, withCorners);
        QFETCH(QByteArray, expected);
        QFETCH(int, supported);
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            SNT_SKIP("the clipboard needs an X display (the test runs on an X server of its own)");
        QJsonObject request{{"target", "xta"}, {"filters", bands(bandCount)}};
        if (withCorners) {
            request.insert("hpf", corner(35.5, "butter6"));
            request.insert("lpf", corner(12000, "lr36"));
        }
        const Run done = run({writeRequest(request)});
        QCOMPARE(done.exitCode, 0);
        QCOMPARE(done.answer.value("supported").toInt(), supported);
        QCOMPARE(done.answer.value("removed").toInt(), bandCount - supported);
        QCOMPARE(done.answer.value("total").toInt(), bandCount);
        QVERIFY(!done.answer.contains("path"));
        QCOMPARE(clipboardText(), expected);
    }

    void xtaWithoutADisplayIsRefused()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        const Run refused = run(
                {writeRequest(QJsonObject{{"target", "xta"}, {"filters", bands(1)}})}, environment);
        QCOMPARE(refused.exitCode, 4);
        QVERIFY(refused.answer.value("message").toString().contains("display"));
    }
};

SNT_TEST_MAIN(EqExportTest)
#include "EqExportTest.moc"
