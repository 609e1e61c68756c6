#include "app/CalibrationFolder.h"
#include "files/DataFolder.h"
#include "tests/app/store/StoreTestFiles.h"
#include "tests/support/TestMain.h"

#include <QVariantMap>

namespace {

QString inFolder(const QString &relative)
{
    return CalibrationFolder::path() + QLatin1Char('/') + relative;
}

// "label=file name of the value" per entry, the first and last ("未选择", import) left out.
QStringList listed(int kind, const QString &current = QString())
{
    const QVariantList entries = CalibrationFolder::pickerEntries(kind, current);
    QStringList shown;
    for (const QVariant &entry : entries.mid(1, entries.size() - 2)) {
        const QVariantMap map = entry.toMap();
        shown.append(map.value("label").toString() + "="
                     + map.value("value").toString().section('/', -2));
    }
    return shown;
}

const auto usedNowhere = [](const QString &) {
    return false;
};
const auto usedEverywhere = [](const QString &) {
    return true;
};

} // namespace

class CalibrationFolderTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { QDir(documentsRoot()).removeRecursively(); }

    // Without files only the two fixed choices. Files belong to a kind by sub-folder or name
    // prefix; one entry per name without case, the sub-folder's copy preferred unless the other
    // is the current one; entries in the order of their lower-case names; a current file that is
    // gone stays, marked.
    void filesAreListedByKindAndName()
    {
        const QVariantList empty = CalibrationFolder::pickerEntries(0, QString());
        QCOMPARE(empty,
                 (QVariantList{QVariantMap{{"value", ""}, {"label", "未选择"}, {"short", "未选择"}},
                               QVariantMap{{"value", "__import__"},
                                           {"label", "导入校准文件…"},
                                           {"short", "导入校准文件…"}}}));
        for (const char *file :
             {"测量麦/A.txt", "测量麦_B.cal", "手雷/C.csv", "other.txt", "测量麦_X.txt",
              "测量麦/测量麦_x.TXT", "测量麦/deep/D.txt", "测量麦/skip.doc"})
            QVERIFY(putBytes(inFolder(file), "20 0\n20000 0\n"));
        QCOMPARE(listed(0), (QStringList{"A.txt=测量麦/A.txt", "D.txt=deep/D.txt",
                                         "B.cal=校准/测量麦_B.cal", "x.TXT=测量麦/测量麦_x.TXT"}));
        QCOMPARE(listed(1), QStringList{"C.csv=手雷/C.csv"});
        QVERIFY(listed(2).isEmpty());
        QCOMPARE(listed(0, inFolder("测量麦_X.txt")).last(),
                 QStringLiteral("X.txt=校准/测量麦_X.txt"));

        const QString gone = QDir::homePath() + "/elsewhere/E.txt";
        QVERIFY(listed(1, gone).contains("E.txt（文件不存在）=elsewhere/E.txt"));
        // A missing current file does not push out a present file of its name.
        QCOMPARE(listed(1, QDir::homePath() + "/elsewhere/c.csv"), QStringList{"C.csv=手雷/C.csv"});
    }

    // An import copies into the slot's sub-folder; the same content is reused, also when the
    // file is picked from the folder itself; another content of the same name replaces a copy
    // nothing else uses, and goes in beside one that is used.
    void importsKeepEveryCopyThatIsUsed()
    {
        const QString source = QDir::homePath() + "/maker/mic.txt";
        QVERIFY(putBytes(source, "20 1\n20000 1\n"));
        const QString copy = inFolder("测量麦/mic.txt");
        QCOMPARE(CalibrationFolder::import(0, source, usedEverywhere), copy);
        QCOMPARE(fileBytes(copy), fileBytes(source));
        QCOMPARE(CalibrationFolder::import(0, source, usedEverywhere), copy);
        QCOMPARE(CalibrationFolder::import(0, copy, usedEverywhere), copy);
        QCOMPARE(CalibrationFolder::import(1, source, usedEverywhere), inFolder("手雷/mic.txt"));

        const QString other = QDir::homePath() + "/second maker/mic.txt";
        QVERIFY(putBytes(other, "20 2\n20000 2\n"));
        QCOMPARE(CalibrationFolder::import(0, other, usedEverywhere),
                 inFolder("测量麦/mic (2).txt"));
        QCOMPARE(fileBytes(copy), fileBytes(source));
        QCOMPARE(CalibrationFolder::import(0, other, usedEverywhere),
                 inFolder("测量麦/mic (2).txt"));
        QCOMPARE(CalibrationFolder::import(0, other, usedNowhere), copy);
        QCOMPARE(fileBytes(copy), fileBytes(other));
        QCOMPARE(QDir(inFolder("测量麦")).entryList(QDir::Files).size(), 2);
    }

    // A copy that cannot be made leaves the earlier copy as it was and keeps the source's path.
    void failedImportsKeepTheEarlierCopy()
    {
        const QString earlier = inFolder("测量麦/mic.txt");
        QVERIFY(putBytes(earlier, "20 1\n20000 1\n"));
        const QString source = QDir::homePath() + "/mic.txt";
        QVERIFY(putBytes(source, QByteArray(4096, '1')));
        {
            const FileSizeLimit fullDisk(1024);
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("failed"));
            QCOMPARE(CalibrationFolder::import(0, source, usedNowhere), source);
        }
        {
            const ReadOnlyFolder readOnly(inFolder("测量麦"));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot write"));
            QCOMPARE(CalibrationFolder::import(0, source, usedNowhere), source);
        }
        QCOMPARE(fileBytes(earlier), QByteArray("20 1\n20000 1\n"));
        QCOMPARE(QDir(inFolder("测量麦")).entryList(QDir::Files), QStringList{"mic.txt"});
        QVERIFY(putBytes(inFolder("手雷"), "a file where the folder belongs"));
        QCOMPARE(CalibrationFolder::import(1, source, usedNowhere), source);
    }
};

SNT_TEST_MAIN(CalibrationFolderTest)
#include "CalibrationFolderTest.moc"
