// The hand-over to the converter program, driven with stand-in converters (shell scripts under
// the converter's name) that answer well, cut bands, print nothing or garbage, refuse, crash,
// hang with a child of their own, cannot run or are missing.
#include "app/ConverterExport.h"
#include "app/SchemeEqList.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const QString xtaDone = "EQ 已复制。去 XTA 右键，选 Paste Output Channel Filters。";
const QString nstDone = "预设已生成到桌面。去 NST 右键，选 Load Output Channel Settings。";
const QString failed = "导出没成功：转换程序出错";

ProcessorEqList sampleList()
{
    return schemeEqList({{1000, -3.5f, 1.414f, true}}, {true, "LR", 4, 80}, {});
}

} // namespace

class ConverterExportTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir folder_;
    QTemporaryDir temp_;
    ConverterExport converter_{folder_.path()};
    QString verbSeen_;

    QString path(const char *name) const { return folder_.filePath(name); }

    void installConverter(const QByteArray &script, bool executable = true)
    {
        QFile::remove(path("eq_export.exe"));
        QFile file(path("eq_export.exe"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\nDIR='" + folder_.path().toUtf8() + "'\n" + script + "\n");
        file.setPermissions(executable ? file.permissions() | QFileDevice::ExeOwner
                                       : QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

    QVariantMap exportTo(const QString &target)
    {
        return converter_.exportEq(target, "/home/x/Desktop",
                                   [this](const QString &verb, ProcessorEqList &list, QString &) {
                                       verbSeen_ = verb;
                                       list = sampleList();
                                       return true;
                                   });
    }

    int requestFilesLeft() const
    {
        return int(QDir(temp_.path()).entryList({"tovan_eq_export_*"}, QDir::Files).size());
    }

private slots:
    void initTestCase() { qputenv("TMPDIR", temp_.path().toUtf8()); }

    void answers_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QVariantMap>("expected");
        QTest::addColumn<QString>("logged");
        QTest::newRow("xta, two bands cut")
                << " XTA "
                << QByteArray("echo '{\"ok\":true,\"supported\":7,\"removed\":2,\"total\":9}'")
                << QVariantMap{{"ok", true},
                               {"message", xtaDone},
                               {"warning",
                                "XTA 只有 9 段。当前分频占用 2 段，只写进 7 段，2 段被裁掉。"},
                               {"supported", 7},
                               {"removed", 2},
                               {"total", 9},
                               {"path", ""}}
                << "";
        QTest::newRow("xta, nothing cut")
                << "xta"
                << QByteArray("echo '{\"ok\":true,\"supported\":9,\"removed\":0,\"total\":9}'")
                << QVariantMap{{"ok", true},     {"message", xtaDone}, {"warning", ""},
                               {"supported", 9}, {"removed", 0},       {"total", 9},
                               {"path", ""}}
                << "";
        QTest::newRow("nst with its file")
                << "Nst"
                << QByteArray("echo '  {\"ok\":true,\"supported\":16,\"removed\":1,\"total\":17,"
                              "\"path\":\"/d/NST-EQ.txt\"}  '")
                << QVariantMap{{"ok", true},
                               {"message", nstDone},
                               {"warning", "NST 只有 16 段，只写进 16 段，1 段被裁掉。"},
                               {"supported", 16},
                               {"removed", 1},
                               {"total", 17},
                               {"path", "/d/NST-EQ.txt"}}
                << "";
        const QVariantMap quietFailure{{"ok", false}, {"quiet", true}, {"message", failed}};
        QTest::newRow("prints nothing") << "nst" << QByteArray("exit 0") << quietFailure << "";
        QTest::newRow("garbage") << "xta" << QByteArray("echo '{\"ok\":tru'") << quietFailure << "";
        QTest::newRow("ok as text")
                << "xta" << QByteArray("echo '{\"ok\":\"true\"}'") << quietFailure << "";
        QTest::newRow("ok false, reason on stderr")
                << "xta" << QByteArray("echo '{\"ok\":false}'; echo boom >&2; exit 3")
                << quietFailure << "exit code 3 stderr: boom";
        QTest::newRow("crash after a good answer")
                << "nst" << QByteArray("echo '{\"ok\":true}'; kill -SEGV $$") << quietFailure
                << "exit status 1";
        QTest::newRow("unknown target")
                << "dbx" << QByteArray("exit 0")
                << QVariantMap{{"ok", false}, {"message", "未知的处理器类型"}} << "";
    }

    void answers()
    {
        QFETCH(QString, target);
        QFETCH(QByteArray, script);
        QFETCH(QVariantMap, expected);
        QFETCH(QString, logged);
        installConverter(script);
        if (!logged.isEmpty())
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QRegularExpression::escape(logged)));
        QCOMPARE(exportTo(target), expected);
        QCOMPARE(requestFilesLeft(), 0);
    }

    void requestFileAsTheConverterReadsIt()
    {
        installConverter("cp \"$1\" \"$DIR/request.json\"; echo \"$1\" > \"$DIR/name\";"
                         "echo '{\"ok\":true}'");
        QCOMPARE(exportTo("nst").value("ok"), QVariant(true));
        QCOMPARE(verbSeen_, QString("生成"));
        QFile request(path("request.json"));
        QVERIFY(request.open(QIODevice::ReadOnly));
        QCOMPARE(
                request.readAll(),
                QByteArray(R"({"desktop":"/home/x/Desktop","filters":[{"enabled":true,)"
                           R"("filter_type":"peak","frequency_hz":1000,"gain_db":-3.5,"q":1.414}],)"
                           R"("hpf":{"filter_type":"lr24","frequency_hz":80},"target":"nst"})"));
        QFile name(path("name"));
        QVERIFY(name.open(QIODevice::ReadOnly));
        QVERIFY(QRegularExpression("^" + QRegularExpression::escape(temp_.path())
                                   + "/tovan_eq_export_\\w{6}\\.json\n$")
                        .match(QString::fromUtf8(name.readAll()))
                        .hasMatch());
        QCOMPARE(requestFilesLeft(), 0);
    }

    void refusalsBeforeTheConverterRuns()
    {
        installConverter("echo '{\"ok\":true}'");
        const QVariantMap refused = converter_.exportEq(
                "xta", "", [this](const QString &verb, ProcessorEqList &, QString &error) {
                    error = "没有可以" + verb + "的";
                    return false;
                });
        QCOMPARE(refused, (QVariantMap{{"ok", false}, {"message", "没有可以导出的"}}));

        installConverter("echo '{\"ok\":true}'", false);
        QCOMPARE(exportTo("xta"), (QVariantMap{{"ok", false},
                                               {"quiet", true},
                                               {"message", "导出没成功：转换程序启动不了"}}));
        QFile::remove(path("eq_export.exe"));
        QCOMPARE(exportTo("xta"),
                 (QVariantMap{{"ok", false}, {"message", "导出组件缺失（eq_export.exe）"}}));
        QCOMPARE(requestFilesLeft(), 0);
    }

    // Timers keep running while the converter works, and a second export asked for meanwhile is
    // refused with the note that one is under way.
    void waitServesTimersAndRefusesASecondCall()
    {
        installConverter("sleep 0.5; echo '{\"ok\":true}'");
        QVariantMap nested;
        bool busyDuringWait = false;
        QTimer::singleShot(50, this, [&] {
            busyDuringWait = converter_.busy();
            nested = exportTo("nst");
        });
        QCOMPARE(exportTo("xta").value("ok"), QVariant(true));
        QVERIFY(busyDuringWait);
        QCOMPARE(nested,
                 (QVariantMap{{"ok", false}, {"quiet", true}, {"message", "正在生成… 请稍后"}}));
        QVERIFY(!converter_.busy());
    }

    void hangingConverterIsKilledWithItsChild()
    {
        installConverter("sleep 60 & echo $! > \"$DIR/child\"; wait");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no answer in time"));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(exportTo("xta"), (QVariantMap{{"ok", false},
                                               {"quiet", true},
                                               {"message", "导出没成功：转换程序没有回应"}}));
        QVERIFY(clock.elapsed() >= ConverterExport::answerTimeoutMs);
        QVERIFY(clock.elapsed() < ConverterExport::answerTimeoutMs + 5000);
        QCOMPARE(requestFilesLeft(), 0);
        QFile child(path("child"));
        QVERIFY(child.open(QIODevice::ReadOnly));
        const QString stat = "/proc/" + QString::fromUtf8(child.readAll()).trimmed() + "/stat";
        // Gone, or a corpse waiting for its new parent to collect it: nothing runs any more.
        QTRY_VERIFY(!QFile::exists(stat) || [&stat] {
            QFile file(stat);
            return file.open(QIODevice::ReadOnly) && file.readAll().contains(") Z ");
        }());
    }
};

SNT_TEST_MAIN(ConverterExportTest)
#include "ConverterExportTest.moc"
