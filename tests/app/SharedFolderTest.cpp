#include "app/AppCore.h"
#include "app/QmlBridge.h"
#include "files/DataFolder.h"
#include "tests/app/StoreBridgeSupport.h"
#include "tests/support/RenameHook.h"
#include "tests/support/TestMain.h"

#include <QSettings>
#include <QSignalSpy>

#include <fcntl.h>
#include <optional>
#include <unistd.h>

using namespace storebridge;

namespace {

QString fileOf(const QString &project)
{
    return project.isEmpty() ? curvePackRootFile()
                             : projectsDir() + QLatin1Char('/') + project + QStringLiteral(".json");
}

// The pack of that name as the store file at `path` holds it.
QJsonObject packIn(const QString &path, const QString &name)
{
    const QJsonArray packs = QJsonDocument::fromJson(fileBytes(path))["packs"].toArray();
    for (const QJsonValue &pack : packs) {
        if (pack["name"] == name)
            return pack.toObject();
    }
    return {};
}

// Another program writing a store file in place, as editors, shell redirections, copy tools and
// sync clients do: it empties the file, or writes half of it, or deletes it, and writes the rest
// later, through the same open file.
class InPlaceWriter
{
public:
    enum class Start { Emptied, HalfWritten, Deleted };

    InPlaceWriter(const QString &path, const QByteArray &text, Start start)
        : path_(path)
        , text_(text)
    {
        if (start == Start::Deleted) {
            QFile::remove(path);
            return;
        }
        fd_ = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (start == Start::HalfWritten)
            written_ = ::write(fd_, text.constData(), text.size() / 2);
    }
    ~InPlaceWriter()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    InPlaceWriter(const InPlaceWriter &) = delete;
    InPlaceWriter &operator=(const InPlaceWriter &) = delete;

    bool finish()
    {
        if (fd_ < 0)
            return putBytes(path_, text_);
        const qsizetype rest = text_.size() - written_;
        const bool whole = ::write(fd_, text_.constData() + written_, rest) == rest;
        return ::close(std::exchange(fd_, -1)) == 0 && whole;
    }

private:
    QString path_;
    QByteArray text_;
    int fd_ = -1;
    qsizetype written_ = 0;
};

} // namespace

// The data folder shared with other programs that write it while the program runs (a sync
// client, a second copy, an editor, a script), through the bridge as a user works: nothing of
// either side is lost, and the user is told when a change was not saved.
class SharedFolderTest : public QObject
{
    Q_OBJECT

    // Projects 甲 (甲一, 甲二) and 乙 (乙一) and the pack 根一 in no project, each with a capture,
    // and the curve window open.
    void fillFolder(QmlBridge &bridge)
    {
        QVERIFY(bridge.createProjectInWindow(QStringLiteral("甲")));
        QVERIFY(bridge.createProjectInWindow(QStringLiteral("乙")));
        for (const auto &[name, project] : {std::pair{"甲一", "甲"}, std::pair{"甲二", "甲"},
                                            std::pair{"乙一", "乙"}, std::pair{"根一", ""}})
            QVERIFY(!storedPack(bridge.core(), QString::fromUtf8(name), logGrid(8, 100, 800),
                                QList<float>(8, -6.0f), QString::fromUtf8(project))
                             .name.isEmpty());
        bridge.setCurveWindowOpen(true);
    }

    // A computed result saved as a pack in no project, bound to the delivery screen's bands.
    void saveResult(QmlBridge &bridge)
    {
        QVERIFY(bridge.loadCurveFile(writeSpeakerCurve()));
        bridge.startCompute();
        QTRY_VERIFY_WITH_TIMEOUT(!bridge.computing(), computeWaitMs);
        bridge.saveSelectedPack();
        QVERIFY(bridge.core().result().pack.bound());
    }

    // Sets the gain of the delivery screen's first band, as a user does.
    static void editGain(QmlBridge &bridge, double gain)
    {
        const QVariantMap band = bridge.eqBands().value(0).toMap();
        bridge.updateEqBand(0, band.value("freq").toDouble(), band.value("q").toDouble(), gain);
    }

    static double firstGain(QmlBridge &bridge)
    {
        return bridge.eqBands().value(0).toMap().value("gain").toDouble();
    }

    static void reopenWindow(QmlBridge &bridge)
    {
        bridge.setCurveWindowOpen(false);
        bridge.setCurveWindowOpen(true);
    }

    // The lists are read while the root file is emptied: as the window opens, or after the
    // delayed save of an edit to `gain` met the file so.
    static void readWhileEmptied(QmlBridge &bridge, bool byRefusal, double gain)
    {
        if (!byRefusal) {
            reopenWindow(bridge);
            QTRY_VERIFY2(bridge.toastText().startsWith("「curve_packs_root.json」是空的"),
                         qPrintable(bridge.toastText()));
            return;
        }
        const QSignalSpy saved(&bridge.core(), &AppCore::curvePacksSaved);
        editGain(bridge, gain);
        QTRY_COMPARE_WITH_TIMEOUT(saved.size(), 1, 30000);
        QVERIFY(!saved[0][0].toBool());
    }

private slots:
    void initTestCase() { QVERIFY(storebridge::useProgramSettingsAndOneMicrophone()); }

    void init()
    {
        QDir(documentsRoot()).removeRecursively();
        QSettings().clear();
    }

    // Another program is in the middle of writing 甲.json (emptied, half written, or deleted to
    // be written anew) while the user moves 乙一 into 甲: the move writes nothing and says so.
    // Another program creating 丁.json while an unrelated save runs keeps what it writes there.
    // Once it has finished, each side has everything and no pack is listed twice.
    void aFileMetMidWriteIsNotWrittenOver_data()
    {
        QTest::addColumn<QString>("project"); // of the file the other program writes
        QTest::addColumn<int>("start");
        using Start = InPlaceWriter::Start;
        QTest::newRow("甲 emptied") << "甲" << int(Start::Emptied);
        QTest::newRow("甲 half written") << "甲" << int(Start::HalfWritten);
        QTest::newRow("甲 deleted and written anew") << "甲" << int(Start::Deleted);
        QTest::newRow("丁 created empty") << "丁" << int(Start::Emptied);
        QTest::newRow("丁 created half written") << "丁" << int(Start::HalfWritten);
    }

    void aFileMetMidWriteIsNotWrittenOver()
    {
        QFETCH(QString, project);
        QFETCH(int, start);
        QmlBridge bridge;
        fillFolder(bridge);
        const bool read = project == QStringLiteral("甲");
        const QString path = fileOf(project);
        const QByteArray theirs
                = read ? withPackAdded(path, foreignPack(QStringLiteral("外来 01")))
                       : QJsonDocument(QJsonObject{{"name", project},
                                                   {"packs", QJsonArray{foreignPack("外来 01")}}})
                                  .toJson(QJsonDocument::Compact);
        const QByteArray other = fileBytes(fileOf("乙"));
        const QByteArray root = fileBytes(fileOf(QString()));

        InPlaceWriter writer(path, theirs, InPlaceWriter::Start(start));
        const bool moved = bridge.movePack(listIndex(bridge, "乙一"), -1, read ? project : "");
        QCOMPARE(moved, !read);
        if (read) {
            QTRY_VERIFY2(bridge.toastText().startsWith("「甲.json」")
                                 && bridge.toastText().contains("没有存"),
                         qPrintable(bridge.toastText()));
            QCOMPARE(fileBytes(fileOf("乙")), other);
            QCOMPARE(fileBytes(fileOf(QString())), root);
        }
        QVERIFY(writer.finish());
        QCOMPARE(fileBytes(path), theirs);

        reopenWindow(bridge);
        const QStringList packs{"甲一", "甲二", "外来 01"};
        QCOMPARE(listedIn(bridge, project), read ? packs : QStringList{"外来 01"});
        QCOMPARE(listedIn(bridge, "乙"), read ? QStringList{"乙一"} : QStringList());
        QCOMPARE(listedIn(bridge, QString()),
                 (read ? QStringList{"根一"} : QStringList{"根一", "乙一"}));
    }

    // A second edit of a band comes while the delayed save of the first, which keeps another
    // program's pack, runs: the second edit is saved too, beside the other program's pack.
    void anEditDuringAMergingSaveIsSaved()
    {
        QmlBridge bridge;
        saveResult(bridge);
        const QString bound = bridge.core().result().pack.name;
        QVERIFY(addForeignPack(fileOf(QString()), QStringLiteral("外来 01")));
        const QSignalSpy saved(&bridge.core(), &AppCore::curvePacksSaved);
        const double first = firstGain(bridge) - 2.0;
        const double second = first - 0.25;
        {
            const renamehook::Hold hold(QStringLiteral("/curve_packs_root.json"));
            editGain(bridge, first);
            QTRY_VERIFY_WITH_TIMEOUT(hold.holding(), 30000);
            editGain(bridge, second);
        }
        QTRY_COMPARE_WITH_TIMEOUT(saved.size(), 2, 30000);
        QVERIFY(saved[0][0].toBool() && saved[1][0].toBool());
        const QJsonValue gain = packIn(fileOf(QString()), bound)["bands"][0]["gain"];
        QCOMPARE(float(gain.toDouble()), float(second));
        QCOMPARE(packNamesIn(fileOf(QString())), (QStringList{bound, "外来 01"}));
        QCOMPARE(listedIn(bridge, QString()), (QStringList{bound, "外来 01"}));
        QCOMPARE(firstGain(bridge), second);
    }

    // A deletion, a move into 甲 or a renaming of 甲 handled after the delayed save of a band
    // edit kept another program's pack in 甲.json, but before that save's outcome reached the
    // bridge: the pack stays, and so does the edit.
    void savesBeforeABackgroundOutcomeKeepItsMerge_data()
    {
        QTest::addColumn<QString>("action");
        for (const char *action : {"deletion", "move in", "project renamed"})
            QTest::newRow(action) << QString::fromLatin1(action);
    }

    void savesBeforeABackgroundOutcomeKeepItsMerge()
    {
        QFETCH(QString, action);
        QmlBridge bridge;
        fillFolder(bridge);
        saveResult(bridge);
        const QString bound = bridge.core().result().pack.name;
        QVERIFY(bridge.movePack(listIndex(bridge, bound), -1, QStringLiteral("甲")));
        QVERIFY(addForeignPack(fileOf("甲"), QStringLiteral("外来 01")));
        const double edited = firstGain(bridge) - 2.0;
        QStringList expected{"甲一", "甲二", bound, "外来 01"};
        {
            renamehook::Hold hold(QStringLiteral("/甲.json"));
            editGain(bridge, edited);
            QTRY_VERIFY_WITH_TIMEOUT(hold.holding(), 30000);
            hold.release();
            // No turn of the event loop until the action is done: the save's outcome waits.
            if (action == "deletion") {
                QVERIFY(bridge.deleteCurvePack(listIndex(bridge, "甲一")));
                expected.removeOne("甲一");
            } else if (action == "move in") {
                QVERIFY(bridge.movePack(listIndex(bridge, "根一"), -1, QStringLiteral("甲")));
                expected << "根一";
            } else {
                QVERIFY(bridge.renameProject(QStringLiteral("甲"), QStringLiteral("丙")));
            }
        }
        const QString path = fileOf(action == "project renamed" ? "丙" : "甲");
        QCOMPARE(packNamesIn(path), expected);
        QCOMPARE(float(packIn(path, bound)["bands"][0]["gain"].toDouble()), float(edited));
    }

    // After a save that kept another program's pack, the saves that follow leave it as that
    // program wrote it: a number beyond single precision, a key this program does not know.
    void anotherProgramsPackStaysAsItWroteIt_data()
    {
        QTest::addColumn<QJsonObject>("pack");
        QJsonObject beyond = foreignPack(QStringLiteral("外来 01"));
        beyond.insert("delayMs2", 1e39);
        beyond.insert("levelRefDb", 1e39);
        beyond.insert("levelRefSet", true);
        QJsonObject keyed = foreignPack(QStringLiteral("外来 01"));
        keyed.insert("x-note", "二楼左侧");
        QJsonObject banded = foreignPack(QStringLiteral("外来 01"));
        banded.insert(
                "bands",
                QJsonArray{QJsonObject{{"freq", 250}, {"gain", 1e39}, {"q", 1.4}, {"x-band", "左"}},
                           QJsonObject{{"freq", 1e-320}, {"gain", 2}}});
        QTest::newRow("numbers beyond single precision") << beyond;
        QTest::newRow("a key of its own") << keyed;
        QTest::newRow("keys and numbers of its own in its bands") << banded;
    }

    void anotherProgramsPackStaysAsItWroteIt()
    {
        QFETCH(QJsonObject, pack);
        QmlBridge bridge;
        fillFolder(bridge);
        for (const char *name : {"根二", "根三"})
            QVERIFY(!storedPack(bridge.core(), QString::fromUtf8(name), logGrid(8, 100, 800),
                                QList<float>(8, -6.0f))
                             .name.isEmpty());
        QVERIFY(putBytes(fileOf(QString()), withPackAdded(fileOf(QString()), pack)));
        QVERIFY(bridge.deleteCurvePack(listIndex(bridge, "根一")));
        QCOMPARE(packIn(fileOf(QString()), "外来 01"), pack);
        QVERIFY(bridge.deleteCurvePack(listIndex(bridge, "根二")));
        QCOMPARE(packIn(fileOf(QString()), "外来 01"), pack);
        QVERIFY(bridge.movePack(listIndex(bridge, "根三"), -1, QStringLiteral("甲")));
        QCOMPARE(packIn(fileOf(QString()), "外来 01"), pack);
        // A move changes where it is, not what it holds.
        QVERIFY(bridge.movePack(listIndex(bridge, "外来 01"), -1, QStringLiteral("乙")));
        QCOMPARE(packIn(fileOf("乙"), "外来 01"), pack);
    }

    // Keys another program put in a file stay: the root file's through a move into it, a
    // project file's through the project saved anew (created again under its name).
    void keysOfAnotherProgramStay_data()
    {
        QTest::addColumn<QString>("project");
        QTest::newRow("root file, a move into it") << QString();
        QTest::newRow("project file, the project saved") << "甲";
    }

    void keysOfAnotherProgramStay()
    {
        QFETCH(QString, project);
        QmlBridge bridge;
        fillFolder(bridge);
        const QString path = fileOf(project);
        QJsonObject file = QJsonDocument::fromJson(fileBytes(path)).object();
        file.insert("x-sync", QJsonObject{{"rev", 7}});
        QVERIFY(putBytes(path, QJsonDocument(file).toJson()));
        if (project.isEmpty())
            QVERIFY(bridge.movePack(listIndex(bridge, "甲一"), -1, QString()));
        else
            bridge.createProject(project);
        const QJsonObject after = QJsonDocument::fromJson(fileBytes(path)).object();
        QCOMPARE(after.value("x-sync"), QJsonValue(QJsonObject{{"rev", 7}}));
        QCOMPARE(packNamesIn(path),
                 (project.isEmpty() ? QStringList{"根一", "甲一"} : QStringList{"甲一", "甲二"}));
    }

    // Python's json module writes NaN where JSON has no number: a file holding one cannot be
    // read. The window names it when it opens, and a move into it is refused and changes nothing.
    void aFileWithNaNIsNamedAndKept()
    {
        QmlBridge bridge;
        fillFolder(bridge);
        QJsonObject theirs = foreignPack(QStringLiteral("外来 01"));
        theirs.insert("delayMs", "@NaN@");
        const QByteArray text = withPackAdded(fileOf("甲"), theirs).replace("\"@NaN@\"", "NaN");
        QVERIFY(putBytes(fileOf("甲"), text));
        reopenWindow(bridge);
        QTRY_VERIFY2(bridge.toastText().contains("「甲.json」读不出来"),
                     qPrintable(bridge.toastText()));
        for (const char *name : {"乙一", "根一"}) {
            bridge.clearToast();
            QVERIFY(!bridge.movePack(listIndex(bridge, name), -1, QStringLiteral("甲")));
            QTRY_VERIFY2(bridge.toastText().startsWith("「甲.json」读不出来"),
                         qPrintable(bridge.toastText()));
        }
        QCOMPARE(fileBytes(fileOf("甲")), text);
        QCOMPARE(QDir(projectsDir()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"乙.json", "甲.json"}));
        QCOMPARE(listedIn(bridge, "乙"), QStringList{"乙一"});
        QCOMPARE(listedIn(bridge, QString()), QStringList{"根一"});
    }

    // Another program's pack in 甲.json names 根一's capture (a copy of it, or 根一 itself moved
    // there by a second copy of the program, which the deletion then meets: it deletes nothing):
    // deleting 根一 keeps the capture, and the other pack still shows its curve.
    void aCaptureAnotherFilesPackNamesStays_data()
    {
        QTest::addColumn<bool>("moved");
        QTest::newRow("a copy in another file") << false;
        QTest::newRow("moved there by a second copy") << true;
    }

    void aCaptureAnotherFilesPackNamesStays()
    {
        QFETCH(bool, moved);
        QmlBridge bridge;
        fillFolder(bridge);
        QJsonObject copy = packIn(fileOf(QString()), "根一");
        const QString capture = rawDir() + QLatin1Char('/') + copy.value("rawFile").toString();
        QVERIFY(QFile::exists(capture));
        if (moved)
            QVERIFY(putBytes(fileOf(QString()), R"({"packs": []})"));
        else
            copy.insert("name", "根一 副本");
        QVERIFY(putBytes(fileOf("甲"), withPackAdded(fileOf("甲"), copy)));
        QCOMPARE(bridge.deleteCurvePack(listIndex(bridge, "根一")), !moved);
        QVERIFY(QFile::exists(capture));
        reopenWindow(bridge);
        const QString there = moved ? QStringLiteral("根一") : QStringLiteral("根一 副本");
        QCOMPARE(listedIn(bridge, "甲"), (QStringList{"甲一", "甲二", there}));
        QVERIFY(!bridge.curvePackDetail(listIndex(bridge, there))
                         .value("before")
                         .toList()
                         .isEmpty());
    }

    // The files are read while another program has emptied the root file, which holds the
    // delivery screen's pack: as the curve window opens, or after the delayed save of an edit was
    // refused. Each edit until the other program is done is refused aloud; once the file is whole
    // again, typing again the value the screen shows saves it. A result saved while the file is
    // emptied again takes a name it does not hold.
    void editsAfterAReadMidWriteAreSavedOrRefusedAloud_data()
    {
        QTest::addColumn<bool>("byRefusal");
        QTest::newRow("read as the window opened") << false;
        QTest::newRow("read after a refused save") << true;
    }

    void editsAfterAReadMidWriteAreSavedOrRefusedAloud()
    {
        QFETCH(bool, byRefusal);
        QmlBridge bridge;
        saveResult(bridge);
        const QString bound = bridge.core().result().pack.name;
        const QString root = fileOf(QString());
        const QSignalSpy saved(&bridge.core(), &AppCore::curvePacksSaved);
        const double typed = firstGain(bridge) - 2.0;
        {
            InPlaceWriter writer(root, fileBytes(root), InPlaceWriter::Start::Emptied);
            readWhileEmptied(bridge, byRefusal, typed + 1.0);
            QCOMPARE(listedIn(bridge, QString()), QStringList());
            bridge.clearToast();
            editGain(bridge, typed);
            QVERIFY2(bridge.toastText().contains("「" + bound + "」")
                             && bridge.toastText().contains("没有存"),
                     qPrintable(bridge.toastText()));
            QVERIFY(writer.finish());
        }
        reopenWindow(bridge);
        QCOMPARE(listedIn(bridge, QString()), QStringList{bound});
        editGain(bridge, typed);
        QTRY_COMPARE_WITH_TIMEOUT(saved.size(), byRefusal ? 2 : 1, 30000);
        QVERIFY(saved.last()[0].toBool());
        QCOMPARE(float(packIn(root, bound)["bands"][0]["gain"].toDouble()), float(typed));

        InPlaceWriter writer(root, fileBytes(root), InPlaceWriter::Start::Emptied);
        reopenWindow(bridge);
        bridge.core().forgetPack();
        bridge.saveSelectedPack();
        QVERIFY(!bridge.core().result().pack.bound());
        QVERIFY(writer.finish());
        bridge.saveSelectedPack();
        const QStringList names = packNamesIn(root);
        QCOMPARE(names.size(), 2);
        QVERIFY2(names[0] == bound && names[1] != bound, qPrintable(names.join(", ")));
    }

    // 甲.json grows past what the store reads, or this user may no longer read it: a move of
    // 根一 into 乙 leaves 甲's packs where they are, and a move into 甲 writes nothing and says
    // why. Once 甲.json can be read again, each pack is listed once, where it was.
    void aFileThatCannotBeReadKeepsItsPacks_data()
    {
        QTest::addColumn<bool>("tooLarge");
        QTest::newRow("grown past the size read") << true;
        QTest::newRow("not readable for this user") << false;
    }

    void aFileThatCannotBeReadKeepsItsPacks()
    {
        QFETCH(bool, tooLarge);
        QmlBridge bridge;
        fillFolder(bridge);
        const QByteArray first = fileBytes(fileOf("甲"));
        {
            std::optional<UnreadableFile> unreadable;
            if (tooLarge)
                QVERIFY(putBytes(fileOf("甲"), first + QByteArray(65 << 20, ' ')));
            else
                unreadable.emplace(fileOf("甲"));
            QVERIFY(bridge.movePack(listIndex(bridge, "根一"), -1, QStringLiteral("乙")));
            QCOMPARE(packNamesIn(fileOf(QString())), QStringList());
            bridge.clearToast();
            QVERIFY(!bridge.movePack(listIndex(bridge, "乙一"), -1, QStringLiteral("甲")));
            QTRY_VERIFY2(bridge.toastText().startsWith("「甲.json」读不了"),
                         qPrintable(bridge.toastText()));
            QCOMPARE(packNamesIn(fileOf("乙")), (QStringList{"乙一", "根一"}));
            QCOMPARE(packNamesIn(fileOf(QString())), QStringList());
        }
        if (tooLarge)
            QVERIFY(putBytes(fileOf("甲"), first));
        reopenWindow(bridge);
        QCOMPARE(listedIn(bridge, "甲"), (QStringList{"甲一", "甲二"}));
        QCOMPARE(listedIn(bridge, "乙"), (QStringList{"乙一", "根一"}));
        QCOMPARE(listedIn(bridge, QString()), QStringList());
    }

    // A project file of no bytes or only white space (left by `touch`, or by a writer that gave
    // up) that the window read so is the program's: it takes a move and the project's settings,
    // and its deletion removes it. 乙.json emptied after the window read it takes no change, and
    // is named when the window opens again.
    void aBlankProjectFileIsTheProgramsToWrite_data()
    {
        QTest::addColumn<QByteArray>("blank");
        QTest::newRow("no bytes") << QByteArray();
        QTest::newRow("white space") << QByteArray(" \n\t\n");
    }

    void aBlankProjectFileIsTheProgramsToWrite()
    {
        QFETCH(QByteArray, blank);
        QmlBridge bridge;
        fillFolder(bridge);
        for (const char *project : {"丙", "丁", "戊"})
            QVERIFY(putBytes(fileOf(project), blank));
        reopenWindow(bridge);
        QVERIFY(bridge.movePack(listIndex(bridge, "根一"), -1, QStringLiteral("丙")));
        QCOMPARE(packNamesIn(fileOf("丙")), QStringList{"根一"});
        bridge.createProject(QStringLiteral("丁"));
        QCOMPARE(QJsonDocument::fromJson(fileBytes(fileOf("丁")))["roomType"],
                 QJsonValue(bridge.roomType()));
        bridge.deleteProject(projectIndex(bridge, "戊"));
        QVERIFY(!QFile::exists(fileOf("戊")));

        QVERIFY(putBytes(fileOf("乙"), blank));
        for (int round = 0; round < 2; ++round) {
            bridge.clearToast();
            QVERIFY(!bridge.movePack(listIndex(bridge, "甲一"), -1, QStringLiteral("乙")));
            QTRY_VERIFY2(bridge.toastText().startsWith("「乙.json」是空的")
                                 && bridge.toastText().contains("等那个程序写完再做一次"),
                         qPrintable(bridge.toastText()));
            bridge.clearToast();
            reopenWindow(bridge);
            QTRY_VERIFY2(bridge.toastText().startsWith("「乙.json」是空的"),
                         qPrintable(bridge.toastText()));
        }
        QCOMPARE(fileBytes(fileOf("乙")), blank);
        QCOMPARE(listedIn(bridge, "甲"), (QStringList{"甲一", "甲二"}));
    }

    // Another program writes 乙.json right after the save of a move put 甲.json in place and
    // before it puts 乙.json in place: what it wrote is kept, with or without exchanges of files.
    // A sync client applying a batch writes 乙.json and then 甲.json into the save as well: what
    // it wrote into 甲.json after the save put it there stays, beside the move.
    void aWriteBetweenTheRenamesOfASaveIsKept_data()
    {
        QTest::addColumn<bool>("exchanges");
        QTest::addColumn<bool>("intoBoth");
        QTest::newRow("exchanged") << true << false;
        QTest::newRow("renamed after a check") << false << false;
        QTest::newRow("exchanged, a batch into both") << true << true;
        QTest::newRow("renamed after a check, a batch into both") << false << true;
    }

    void aWriteBetweenTheRenamesOfASaveIsKept()
    {
        QFETCH(bool, exchanges);
        QFETCH(bool, intoBoth);
        QmlBridge bridge;
        fillFolder(bridge);
        renamehook::refuseExchanges(!exchanges);
        renamehook::afterNextRename(QStringLiteral("/甲.json"), [intoBoth] {
            QVERIFY(addForeignPack(fileOf("乙"), QStringLiteral("外来 01")));
            if (intoBoth)
                QVERIFY(addForeignPack(fileOf("甲"), QStringLiteral("外来 02")));
        });
        const bool moved = bridge.movePack(listIndex(bridge, "乙一"), -1, QStringLiteral("甲"));
        renamehook::refuseExchanges(false);
        QVERIFY(moved);
        QStringList first{"甲一", "甲二", "乙一"};
        if (intoBoth)
            first << "外来 02";
        QCOMPARE(packNamesIn(fileOf("甲")), first);
        QCOMPARE(packNamesIn(fileOf("乙")), QStringList{"外来 01"});
        QCOMPARE(listedIn(bridge, "乙"), QStringList{"外来 01"});
    }

    // Another program is in the middle of writing 甲.json (emptied, or deleted to be written
    // anew) while the user deletes 甲二, or saves the result kept as 甲三 again for another
    // scheme: the change writes nothing, so it removes nothing, and once the other program is
    // done the pack shows its curves. Deleting 根一 while another program writes 乙.json anew with
    // a copy of 根一 keeps the capture that copy names.
    void aRefusedChangeRemovesNoCapture_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("start");
        using Start = InPlaceWriter::Start;
        for (const char *action : {"deletion", "saved again"}) {
            QTest::addRow("%s, 甲 emptied", action) << action << int(Start::Emptied);
            QTest::addRow("%s, 甲 deleted", action) << action << int(Start::Deleted);
        }
        QTest::newRow("deletion of 根一, 乙 emptied") << "copy" << int(Start::Emptied);
    }

    void aRefusedChangeRemovesNoCapture()
    {
        QFETCH(QString, action);
        QFETCH(int, start);
        QmlBridge bridge;
        fillFolder(bridge);
        QString pack = action == "copy" ? QStringLiteral("根一") : QStringLiteral("甲二");
        if (action == "saved again") {
            saveResult(bridge);
            pack = bridge.core().result().pack.name;
            QVERIFY(bridge.movePack(listIndex(bridge, pack), -1, QStringLiteral("甲")));
        }
        const QString written = action == "copy" ? QStringLiteral("乙") : QStringLiteral("甲");
        QJsonObject copy = packIn(fileOf(QString()), "根一");
        copy.insert("name", "根一 副本");
        const QString there = action == "copy" ? copy.value("name").toString() : pack;
        const QString capture
                = rawDir() + QLatin1Char('/')
                  + packIn(fileOf(action == "copy" ? "" : "甲"), pack)["rawFile"].toString();
        InPlaceWriter writer(
                fileOf(written),
                withPackAdded(fileOf(written), action == "copy" ? copy : foreignPack("外来 01")),
                InPlaceWriter::Start(start));
        if (action == "saved again")
            bridge.enterScheme(1);
        else
            QCOMPARE(bridge.deleteCurvePack(listIndex(bridge, pack)), action == "copy");
        QVERIFY(QFile::exists(capture));
        QVERIFY(writer.finish());
        reopenWindow(bridge);
        QVERIFY(listedIn(bridge, written).contains(there));
        QVERIFY(!bridge.curvePackDetail(listIndex(bridge, there))
                         .value("before")
                         .toList()
                         .isEmpty());
    }
};

SNT_TEST_MAIN(SharedFolderTest)
#include "SharedFolderTest.moc"
