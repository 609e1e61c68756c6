#include "tests/processor/SimProcessor.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

using snt::test::SimProcessor;

namespace {

QJsonObject slotNames(const QList<int> &slots_)
{
    QJsonObject names;
    for (int slot : slots_)
        names.insert(QString::number(slot), QString("P%1").arg(slot));
    return names;
}

QList<int> range(int first, int last)
{
    QList<int> values;
    for (int v = first; v <= last; ++v)
        values.append(v);
    return values;
}

QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QString desktopFile(int number)
{
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)
           + QString("/预设-%1.Parm").arg(number);
}

} // namespace

class PresetTest : public QObject
{
    Q_OBJECT

private:
    SimProcessor sim_;
    ProcessorClient client_;
    QTemporaryDir files_;

    // The device holds presets in `taken` (besides the two defaults); the client has read them.
    void deviceWith(const QList<int> &taken, const QString &wordForm = "unsigned")
    {
        sim_.set({{"word_form", wordForm}});
        sim_.command("slots", {{"slots", slotNames(QList<int>{0, 1} + taken)}});
        client_.refreshAll();
        sim_.command("clear_log");
    }

    // The commands the client sent since the last clear, by name.
    QStringList commandNames()
    {
        QStringList names;
        for (const QJsonObject &body : sim_.bodies())
            names.append(body.keys().join('+'));
        return names;
    }

    QVariantMap result(bool ok, const QString &message, int slot = -1)
    {
        QVariantMap map{{"ok", ok}, {"message", message}};
        if (slot >= 0)
            map.insert("slot", slot);
        return map;
    }

    QString writeFile(const QString &name, const QByteArray &content)
    {
        QFile file(files_.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(content);
        return file.fileName();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(sim_.start());
        QVERIFY(snt::test::connectTo(client_, sim_));
    }

    void init()
    {
        sim_.command("reset_device");
        sim_.command("clear_faults");
        deviceWith({});
    }

    void validityWords_data()
    {
        QTest::addColumn<QList<int>>("taken");
        QTest::addColumn<QString>("form");
        QTest::addColumn<int>("newSlot");
        QTest::newRow("word value 12") << QList<int>{2, 3} << "unsigned" << 4;
        QTest::newRow("bit 31 unsigned") << QList<int>{2, 31, 40} << "unsigned" << 3;
        QTest::newRow("bit 31 signed") << QList<int>{2, 31, 63} << "signed" << 3;
        QTest::newRow("words as text") << QList<int>{2, 3, 4, 31, 70} << "text" << 5;
        QTest::newRow("only slot 79 free") << range(2, 78) << "signed" << 79;
    }

    void validityWords()
    {
        QFETCH(QList<int>, taken);
        QFETCH(QString, form);
        QFETCH(int, newSlot);
        deviceWith(taken, form);
        const QVariantMap presets = client_.readPresets();
        QCOMPARE(presets.value("current").toString(), QString("默认"));
        const QVariantList list = presets.value("list").toList();
        QCOMPARE(list.size(), 77);
        for (const QVariant &entry : list) {
            const QVariantMap row = entry.toMap();
            const int slot = row.value("slot").toInt();
            QCOMPARE(row.value("valid").toBool(), taken.contains(slot));
            QCOMPARE(row.value("name").toString(),
                     taken.contains(slot) ? QString("P%1").arg(slot) : QString());
        }
        for (int slot : {0, 1, 79})
            QCOMPARE(client_.presetValid(slot), slot < 2 || taken.contains(slot));
        QVERIFY(!client_.presetValid(80));
        QVERIFY(!client_.presetValid(-1));

        QCOMPARE(client_.saveNewPreset(" 现场 "), result(true, "已保存：现场", newSlot));
        QCOMPARE(commandNames(), (QStringList{"SAVENAME", "STARTUP"}));
        QCOMPARE(sim_.bodies().value(0),
                 (QJsonObject{{"SAVENAME", QJsonObject{{"id", newSlot}, {"name", "现场"}}}}));
        QCOMPARE(sim_.state().value("startup").toInt(), newSlot);
    }

    void fullSlots()
    {
        deviceWith(range(2, 79));
        QCOMPARE(client_.saveNewPreset("x"), result(false, "预设位置满了，先删几个。"));
        QVERIFY(sim_.bodies().isEmpty());
    }

    // A processor that answers a save without its words: the next save must not reuse the slot.
    void savedSlotIsTaken()
    {
        deviceWith({2});
        sim_.set({{"preset_reply_keys", false}});
        QCOMPARE(client_.saveNewPreset("A").value("slot").toInt(), 3);
        QCOMPARE(client_.saveNewPreset("B").value("slot").toInt(), 4);
        const QJsonObject slots_ = sim_.state().value("slots").toObject();
        QCOMPARE(slots_.value("2").toString(), QString("P2"));
        QCOMPARE(slots_.value("3").toString(), QString("A"));
        QCOMPARE(slots_.value("4").toString(), QString("B"));
        QCOMPARE(client_.readPresets().value("list").toList().value(1).toMap().value("name"),
                 QVariant("A"));
    }

    void saveChecks()
    {
        QCOMPARE(client_.savePreset(80, "x"), result(false, "预设号不对。"));
        QCOMPARE(client_.savePreset(5, "   "), result(true, "已保存到 未命名"));
        QCOMPARE(sim_.state().value("slots").toObject().value("5").toString(), QString("未命名"));
        ProcessorClient offline;
        QCOMPARE(offline.savePreset(5, "x"), result(false, "先连接处理器。"));
    }

    void loadAndReset()
    {
        deviceWith({5});
        QCOMPARE(client_.loadPreset(5), result(true, "已调用预设 6"));
        QCOMPARE(commandNames(), (QStringList{"LOAD", "STARTUP", "CURSOR"}));
        QCOMPARE(client_.readPresets().value("current").toString(), QString("P5"));
        QCOMPARE(sim_.state().value("startup").toInt(), 5);
        sim_.command("clear_log");
        QCOMPARE(client_.resetDevice(), result(true, "设备已恢复默认。"));
        QCOMPARE(commandNames(), (QStringList{"LOAD", "CURSOR"}));
        QCOMPARE(sim_.bodies().value(0), (QJsonObject{{"LOAD", QJsonObject{{"id", 1}}}}));
        QCOMPARE(sim_.state().value("startup").toInt(), 5);
        QCOMPARE(client_.loadPreset(6), result(false, "这一格还没有预设。"));
        QCOMPARE(client_.setStartupPreset(5), result(true, "开机档已设为预设 6"));
    }

    void deleteKeepsTheOthers_data()
    {
        QTest::addColumn<QList<int>>("taken");
        QTest::addColumn<int>("slot");
        QTest::addColumn<QJsonArray>("words");
        QTest::newRow("slot 5 of 0, 1, 2, 5, 40")
                << QList<int>{2, 5, 40} << 5 << QJsonArray{7, 256, 0, 0, 0, 0, 0, 0, 0, 0};
        QTest::newRow("bit 31 goes out negative")
                << QList<int>{2, 31, 79} << 2
                << QJsonArray{-2147483645, 0, 32768, 0, 0, 0, 0, 0, 0, 0};
    }

    void deleteKeepsTheOthers()
    {
        QFETCH(QList<int>, taken);
        QFETCH(int, slot);
        QFETCH(QJsonArray, words);
        deviceWith(taken, "signed");
        QCOMPARE(client_.deletePreset(slot), result(true, QString("已删除预设 %1").arg(slot + 1)));
        QCOMPARE(commandNames(), (QStringList{"CURSOR", "SAVEDELETE"}));
        QCOMPARE(sim_.bodies().value(1).value("SAVEDELETE").toArray(), words);
        QVERIFY(!client_.presetValid(slot));
    }

    // A delete sends the slots to keep: it must never go out built from missing words.
    void deleteRefusals_data()
    {
        QTest::addColumn<int>("slot");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("default preset") << 1 << QString() << "默认预设不能删。";
        QTest::newRow("empty slot") << 6 << QString() << "这一格还没有预设。";
        QTest::newRow("read fails") << 5 << "status"
                                    << "没成功：HTTP 204";
        QTest::newRow("read lacks the words") << 5 << "strip"
                                              << "设备没报告哪些预设格有预设，没删。";
        QTest::newRow("slot gone meanwhile") << 5 << "gone"
                                             << "这一格还没有预设。";
    }

    void deleteRefusals()
    {
        QFETCH(int, slot);
        QFETCH(QString, fault);
        QFETCH(QString, message);
        deviceWith({5});
        if (fault == "status")
            sim_.fault("CURSOR", "status", {{"status", 204}});
        else if (fault == "strip")
            sim_.fault("CURSOR", "strip", {{"prefixes", QJsonArray{"PRESETINFO"}}});
        else if (fault == "gone")
            sim_.command("slots", {{"slots", slotNames({0, 1})}});
        QCOMPARE(client_.deletePreset(slot), result(false, message));
        QVERIFY(!commandNames().contains("SAVEDELETE"));
    }

    void exportIsByteExact()
    {
        QByteArray content;
        for (int b = 0; b < 256; ++b)
            content.append(char(b));
        content.append(QString("预设\r\n").toUtf8());
        sim_.set({{"export", QString(content.toBase64())}});
        QDir(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)).removeRecursively();
        QCOMPARE(client_.exportPreset(4), result(true, "已导出到桌面：预设-5.Parm"));
        QCOMPARE(fileContent(desktopFile(5)), content);
        const QList<QJsonObject> requests = sim_.log("http");
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests[0].value("path").toString(), QString("/save0_export.cgi"));
        QCOMPARE(requests[0].value("body").toString(), QString(R"({"PRESETEXPORT":{}})"));
        QCOMPARE(requests[1].value("method").toString(), QString("GET"));
        QCOMPARE(requests[1].value("path").toString(), QString("/data_export/SAVE0.txt"));
        for (const QJsonObject &request : requests)
            QCOMPARE(request.value("query").toString(), QString());
    }

    // Whatever goes wrong, an earlier export on the desktop stays as it was.
    void exportFailuresKeepTheOldFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QJsonObject>("fields");
        QTest::addColumn<QString>("message");
        const QString file = "/data_export/SAVE0.txt";
        QTest::newRow("trigger refused")
                << "/save0_export.cgi"
                << "status" << QJsonObject{{"status", 204}} << "导出失败：HTTP 204";
        QTest::newRow("file missing")
                << file << "status" << QJsonObject{{"status", 404}} << "导出失败：HTTP 404";
        QTest::newRow("file empty") << file << "status" << QJsonObject{{"status", 200}}
                                    << "导出失败：设备给的导出文件是空的。";
        QTest::newRow("file cut off")
                << file << "reset" << QJsonObject() << "导出失败：连接被设备断开，重试一下";
        QTest::newRow("3 of 100 bytes, then a reset")
                << file << "cut" << QJsonObject{{"bytes", 3}, {"length", 100}} << "导出失败：";
        QTest::newRow("3 of 100 bytes, then a clean end")
                << file << "cut" << QJsonObject{{"bytes", 3}, {"length", 100}, {"end", "close"}}
                << "导出失败：";
        QTest::newRow("no length, 3 bytes, then a reset")
                << file << "cut" << QJsonObject{{"bytes", 3}, {"length", QJsonValue::Null}}
                << "导出失败：";
    }

    void exportFailuresKeepTheOldFile()
    {
        QFETCH(QString, path);
        QFETCH(QString, kind);
        QFETCH(QJsonObject, fields);
        QFETCH(QString, message);
        sim_.set({{"export", QString(QByteArray("old export").toBase64())}});
        QVERIFY(client_.exportPreset(0).value("ok").toBool());
        sim_.fault(path, kind, fields);
        const QVariantMap answer = client_.exportPreset(0);
        QEXPECT_FAIL("no length, 3 bytes, then a reset",
                     "Qt's sockets read a reset as the end of a body that announced no length",
                     Abort);
        QCOMPARE(answer.value("ok").toBool(), false);
        QVERIFY2(answer.value("message").toString().startsWith(message),
                 qPrintable(answer.value("message").toString()));
        QCOMPARE(fileContent(desktopFile(1)), QByteArray("old export"));
    }

    // Without a length the body ends where the processor cleanly ends the connection.
    void exportWithoutLengthEndsAtTheClose()
    {
        const QByteArray content = "settings without a length";
        sim_.set({{"export", QString(content.toBase64())}});
        sim_.fault("/data_export/SAVE0.txt", "cut",
                   {{"bytes", content.size()}, {"length", QJsonValue::Null}, {"end", "close"}});
        QCOMPARE(client_.exportPreset(6), result(true, "已导出到桌面：预设-7.Parm"));
        QCOMPARE(fileContent(desktopFile(7)), content);
    }

    void importNamedWithBlanksAndChinese()
    {
        deviceWith({2});
        const QByteArray content = R"({"GAINgain28": -7.5, "DELAYtime30": 1.25})";
        const QString path = writeFile("我的 现场 预设.v2.Parm", content);
        const QString url = QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
        QVERIFY(url.contains("%20"));
        QCOMPARE(client_.importPreset(url), result(true, "已导入并载入：我的 现场 预设.v2", 3));

        const QJsonObject upload = sim_.log("import").value(0);
        QCOMPARE(upload.value("filename").toString(), QString("我的 现场 预设.v2.Parm"));
        QCOMPARE(QByteArray::fromBase64(upload.value("content_b64").toString().toLatin1()),
                 content);
        QCOMPARE(sim_.log("http").value(0).value("query").toString(), client_.wsiQuery());
        QCOMPARE(commandNames(), (QStringList{"SAVENAME", "STARTUP", "LOAD"}));
        QCOMPARE(sim_.bodies().value(0).value("SAVENAME").toObject().value("name").toString(),
                 QString("我的 现场 预设.v2"));
        QCOMPARE(client_.paramCache().value("GAINgain28").toDouble(), -7.5);
        QCOMPARE(sim_.state().value("running_name").toString(), QString("我的 现场 预设.v2"));
    }

    // An import answer without the slots' words keeps what the cache knew about them.
    void importWithoutWordsKeepsTheSlots()
    {
        deviceWith({2, 3});
        sim_.fault("/test.fcgi/api/preset/import", "strip",
                   {{"prefixes", QJsonArray{"PRESETINFO", "PRESETNAME"}}});
        const QString path = writeFile("a.Parm", R"({"GAINgain16": 1})");
        QCOMPARE(client_.importPreset(path).value("slot").toInt(), 4);
        QCOMPARE(sim_.state().value("slots").toObject().value("2").toString(), QString("P2"));
    }

    // A validity word that is no number says nothing about its slots: the import keeps what the
    // client knew of them and saves into a slot that is really free.
    void importWithWordsNotNumbers_data()
    {
        QTest::addColumn<QJsonValue>("word");
        QTest::newRow("text") << QJsonValue("none");
        QTest::newRow("null") << QJsonValue(QJsonValue::Null);
        QTest::newRow("array") << QJsonValue(QJsonArray{12});
        QTest::newRow("fraction") << QJsonValue(12.5);
        QTest::newRow("bool") << QJsonValue(true);
    }

    void importWithWordsNotNumbers()
    {
        QFETCH(QJsonValue, word);
        deviceWith({2, 3});
        sim_.fault("/test.fcgi/api/preset/import", "override",
                   {{"values", QJsonObject{{"PRESETINFOpreset_valid10", word},
                                           {"PRESETINFOpreset_valid20", word},
                                           {"PRESETINFOpreset_valid30", word}}}});
        const QString path = writeFile("live.Parm", R"({"GAINgain16": -4})");
        QCOMPARE(client_.importPreset(path), result(true, "已导入并载入：live", 4));
        const QJsonObject slots_ = sim_.state().value("slots").toObject();
        QCOMPARE(slots_.value("2").toString(), QString("P2"));
        QCOMPARE(slots_.value("3").toString(), QString("P3"));
        QCOMPARE(slots_.value("4").toString(), QString("live"));
        QVERIFY(client_.presetValid(2));
        QVERIFY(client_.presetValid(4));
    }

    // Where the processor never said which slots are free, nothing is saved into a slot: the
    // import runs without one and says so, a new preset and a delete are refused.
    void slotsNobodyKnowsAreNotFree()
    {
        sim_.fault("CURSOR", "override",
                   {{"values", QJsonObject{{"PRESETINFOpreset_valid10", "?"}}}, {"times", 1}});
        deviceWith({2, 3, 5});
        const QString path = writeFile("show.Parm", R"({"GAINgain16": -9})");
        sim_.fault("/test.fcgi/api/preset/import", "strip",
                   {{"prefixes", QJsonArray{"PRESETINFO"}}});
        QCOMPARE(client_.importPreset(path),
                 result(true, "导入进来了，但设备没报告哪些预设格是空的，没存进预设格。"));
        QCOMPARE(client_.paramCache().value("GAINgain16").toInt(), -9);
        QCOMPARE(client_.saveNewPreset("x"), result(false, "设备没报告哪些预设格是空的，没存。"));
        QCOMPARE(client_.savePreset(2, "x"),
                 result(false, "设备没报告这一格是不是空的，里面可能存着预设「P2」，没存。"));
        QCOMPARE(client_.savePreset(4, "x"),
                 result(false, "设备没报告这一格是不是空的，里面可能存着一个预设，没存。"));
        QCOMPARE(client_.deletePreset(5), result(false, "这一格还没有预设。"));
        QCOMPARE(commandNames(), QStringList());
        QCOMPARE(sim_.state().value("slots").toObject(), slotNames({0, 1, 2, 3, 5}));
    }

    // A quote or a line break in a file name (both allowed on Linux) reaches the processor
    // percent-encoded inside the one header line of the part.
    void importFileNamesEscaped_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("sent");
        QTest::newRow("double quote") << "say \"hi\".Parm"
                                      << "say %22hi%22.Parm";
        QTest::newRow("CR LF") << "two\r\nlines.Parm"
                               << "two%0D%0Alines.Parm";
        QTest::newRow("per cent kept") << "100%.Parm"
                                       << "100%.Parm";
    }

    void importFileNamesEscaped()
    {
        QFETCH(QString, name);
        QFETCH(QString, sent);
        const QString path = writeFile(name, R"({"GAINgain17": 1})");
        QVERIFY(QFile::exists(path));
        const QVariantMap answer = client_.importPreset(path);
        QCOMPARE(answer.value("ok").toBool(), true);
        const QJsonObject upload = sim_.log("import").value(0);
        QCOMPARE(upload.value("part_headers").toArray(),
                 QJsonArray{"Content-Disposition: form-data; name=\"file\"; filename=\"" + sent
                            + "\""});
        QCOMPARE(upload.value("filename").toString(), sent);
        QCOMPARE(sim_.bodies().value(0).value("SAVENAME").toObject().value("name").toString(),
                 QFileInfo(name).completeBaseName());
    }

    void importWhoseSaveFails()
    {
        sim_.fault("SAVENAME", "error");
        const QString path = writeFile("b.Parm", R"({"GAINgain16": 2})");
        QCOMPARE(client_.importPreset(path),
                 result(true, "导入进来了，但没存进预设格：设备没接受这条操作。"));
        QCOMPARE(client_.paramCache().value("GAINgain16").toInt(), 2);
    }

    void importFailures_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QJsonObject>("fields");
        QTest::addColumn<QString>("message");
        QTest::newRow("no such file")
                << "missing" << QString() << QJsonObject() << "这个文件打不开。";
        QTest::newRow("file the device refuses")
                << "not settings" << QString() << QJsonObject() << "这个文件设备不认。";
        QTest::newRow("empty answer") << R"({"a":1})"
                                      << "status" << QJsonObject{{"status", 200}} << "导入没成功。";
        QTest::newRow("answer not JSON")
                << R"({"a":1})"
                << "body" << QJsonObject{{"body", "<html>"}} << "这个文件设备不认。";
        QTest::newRow("server error") << R"({"a":1})"
                                      << "status" << QJsonObject{{"status", 500}, {"body", "{}"}}
                                      << "导入没成功：HTTP 500";
    }

    void importFailures()
    {
        QFETCH(QString, file);
        QFETCH(QString, kind);
        QFETCH(QJsonObject, fields);
        QFETCH(QString, message);
        if (!kind.isEmpty())
            sim_.fault("/test.fcgi/api/preset/import", kind, fields);
        const QString path = file == "missing" ? files_.filePath("missing.Parm")
                                               : writeFile("c.Parm", file.toUtf8());
        const QJsonObject cache = client_.paramCache();
        const QVariantMap answer = client_.importPreset(path);
        QCOMPARE(answer.value("ok").toBool(), false);
        QVERIFY2(answer.value("message").toString().startsWith(message),
                 qPrintable(answer.value("message").toString()));
        QCOMPARE(client_.paramCache(), cache);
        QVERIFY(sim_.bodies().isEmpty());
    }
};

SNT_TEST_MAIN(PresetTest)
#include "PresetTest.moc"
