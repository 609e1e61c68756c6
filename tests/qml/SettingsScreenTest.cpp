#include "tests/audio/FakePlugin.h"
#include "tests/qml/PillProbe.h"
#include "tests/qml/ScreenTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QSettings>
#include <QTemporaryDir>

using namespace snt::test;

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

const QByteArray calibration = "# microphone\n20\t-1.5\n1000\t0\n20000\t2.5\n";

} // namespace

// "设置" in the main window over the real bridge, with sound cards of scripted channel names:
// the channel pickers' names, the calibration files through Qt's own file dialog (accepted,
// refused and cancelled, from a working folder where a relative path leads nowhere), the palette
// pills, the Chinese text drawn, and the channels shown on a card that lacks the stored ones.
class SettingsScreenTest : public QObject
{
    Q_OBJECT

    MainWindowUnderTest m;
    std::shared_ptr<FakePlugin> card_ = std::make_shared<FakePlugin>("Fake");
    QTemporaryDir files{QDir::homePath() + "/cal files XXXXXX"};
    QTemporaryDir elsewhere;

    QQuickItem *item(const QString &name) const { return m.find(name, m.page()); }
    // The text a picker shows for its value.
    QString shown(const QString &picker) const
    {
        return m.find("pickerText", item(picker))->property("text").toString();
    }
    QObject *dialog() const { return m.find<QObject>("calibrationDialog", m.page()); }

    QString micPath() const { return m.bridge->calibrationInfo().value("micPath").toString(); }

    // Opens the microphone's file dialog from its picker, shows `folder` in it and opens `name`
    // there as a user does: a click on its row, then the dialog's accept.
    bool chooseFile(const QString &folder, const QString &name)
    {
        if (!pick(item("micFilePicker"), "导入校准文件…"))
            return false;
        QObject *files = dialog();
        if (!QTest::qWaitFor([&] { return files->property("visible").toBool(); }))
            return false;
        files->setProperty("currentFolder", QUrl::fromLocalFile(folder));
        QQuickItem *row = nullptr;
        QTest::qWaitFor([&] {
            for (int i = 0;
                 QQuickItem *delegate = m.find("fileDialogDelegate" + QString::number(i)); ++i) {
                if (delegate->property("fileName").toString() == name)
                    row = delegate;
            }
            return row != nullptr;
        });
        if (!row)
            return false;
        click(row);
        QMetaObject::invokeMethod(files, "accept");
        return QTest::qWaitFor([&] { return !files->property("visible").toBool(); });
    }

private slots:
    void initTestCase()
    {
        card_->rows = {
                audio::DeviceInfo{"a", "Card A", 48000, "Fake", {"", "02", " Line 3 "}, {"1", "2"}},
                audio::DeviceInfo{"b", "Card B", 48000, "Fake", {"Mic", "Ref"}, {"1", "2"}},
                audio::DeviceInfo{"c", "Mono Mic", 48000, "Fake", {"1"}, {}}};
        card_->defaultInput = "a";
        card_->defaultOutput = "a";
        QVERIFY(m.start([card = card_] { return card; }));
        QVERIFY(files.isValid() && files.path().contains(' '));
        QVERIFY(QDir::setCurrent(elsewhere.path()));
        m.bridge->go("设置");
        QTRY_VERIFY(m.page() && m.page()->objectName() == "SettingsScreen");
    }

    void cleanupTestCase() { m.stop(); }

    // Qt's file dialog speaks the interface's language and opens where the calibration files
    // are kept, not in the program's working folder.
    void fileDialogSpeaksChineseInTheCalibrationFolder()
    {
        QVERIFY(pick(item("micFilePicker"), "导入校准文件…"));
        QObject *files = dialog();
        QTRY_VERIFY(files->property("visible").toBool());
        QCOMPARE(files->property("currentFolder").toUrl(),
                 QUrl::fromLocalFile(QDir::homePath() + "/Documents/Tovan测量工作流/校准"));
        // The texts shown, the dialog's among them.
        QStringList texts;
        const std::function<void(QQuickItem *)> collect = [&](QQuickItem *under) {
            for (QQuickItem *child : under->childItems()) {
                if (child->isVisible() && child->inherits("QQuickText"))
                    texts << child->property("text").toString();
                collect(child);
            }
        };
        QTRY_VERIFY((collect(m.window->contentItem()), texts.contains("取消")));
        for (const QString &shown : {"打开", "取消", "文件类型"})
            QVERIFY2(texts.contains(shown), qPrintable(texts.join(' ')));
        for (const QString &english : {"Open", "Cancel", "Filter", "File name"})
            QVERIFY2(!texts.contains(english), qPrintable(texts.join(' ')));
        QMetaObject::invokeMethod(files, "reject");
        QTRY_VERIFY(!files->property("visible").toBool());
    }

    void channelPickersNameTheChannels_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QStringList>("data");
        QTest::addColumn<QStringList>("reference");
        QTest::newRow("empty, digits and a name")
                << "Card A" << QStringList{"输入 1", "输入 2", "Line 3"}
                << QStringList{"输入 1", "输入 2", "Line 3"};
        QTest::newRow("names") << "Card B" << QStringList{"Mic", "Ref"}
                               << QStringList{"Mic", "Ref"};
    }
    void channelPickersNameTheChannels()
    {
        QFETCH(QString, device);
        QFETCH(QStringList, data);
        QFETCH(QStringList, reference);
        QVERIFY(pick(item("devicePicker"), device));
        QCOMPARE(m.bridge->selectedAudioDevice(), device);
        QCOMPARE(optionLabels(item("dataChannelPicker")), data);
        QCOMPARE(optionLabels(item("referenceChannelPicker")), reference);
        QVERIFY(pick(item("dataChannelPicker"), data.last()));
        QCOMPARE(QSettings().value("audio/dataChannel").toInt(), data.size() - 1);
        QVERIFY(pick(item("referenceChannelPicker"), reference.first()));
        QCOMPARE(m.bridge->audioReferenceChannel(), 0);
    }

    // A device that is gone has no channels: "输入 1" stays offered for the measurement.
    void deviceWithoutChannels()
    {
        m.bridge->setSelectedAudioDevice("Gone");
        QTRY_COMPARE(optionLabels(item("dataChannelPicker")), QStringList{"输入 1"});
        QCOMPARE(optionLabels(item("referenceChannelPicker")), QStringList{});
        QVERIFY(pick(item("devicePicker"), "Card A"));
        QVERIFY(pick(item("dataChannelPicker"), "输入 1"));
    }

    // Upper-case names are offered by the calibration filter too.
    void dialogListsCalibrationFilesOfEitherCase()
    {
        QVERIFY(writeFile(files.filePath("MIC.TXT"), calibration));
        QVERIFY(writeFile(files.filePath("notes.doc"), "x"));
        QVERIFY(pick(item("micFilePicker"), "导入校准文件…"));
        QObject *files = dialog();
        QTRY_VERIFY(files->property("visible").toBool());
        QCOMPARE(files->property("title").toString(), QString("选择测量麦校准文件"));
        files->setProperty("currentFolder", QUrl::fromLocalFile(this->files.path()));
        QQuickItem *list = m.find("fileDialogListView");
        QVERIFY(list);
        QTRY_COMPARE(list->property("count").toInt(), 1);
        QMetaObject::invokeMethod(files, "reject");
        QTRY_VERIFY(!files->property("visible").toBool());
        QVERIFY(QFile::remove(this->files.filePath("notes.doc")));
    }

    // Set through the dialog from a folder whose name has a blank, cleared by "未选择", refused
    // with the bridge's words as a toast; a cancelled dialog changes nothing.
    void calibrationFileSetClearedAndRefused()
    {
        QVERIFY(pick(item("devicePicker"), "Card A"));
        QVERIFY(writeFile(files.filePath("mic 1.txt"), calibration));
        QVERIFY(chooseFile(files.path(), "mic 1.txt"));
        QTRY_VERIFY(micPath().endsWith("mic 1.txt"));
        QVERIFY(m.bridge->toastText().isEmpty());
        QTRY_COMPARE(m.find("pickerText", item("micFilePicker"))->property("text").toString(),
                     QString("mic 1.txt"));
        const QString chosen = micPath();

        QVERIFY(pick(item("micFilePicker"), "导入校准文件…"));
        QTRY_VERIFY(dialog()->property("visible").toBool());
        QMetaObject::invokeMethod(dialog(), "reject");
        QTRY_VERIFY(!dialog()->property("visible").toBool());
        QCOMPARE(micPath(), chosen);

        QVERIFY(writeFile(files.filePath("broken.txt"), "no numbers here\n"));
        QVERIFY(chooseFile(files.path(), "broken.txt"));
        QTRY_VERIFY(!m.bridge->toastText().isEmpty());
        QCOMPARE(m.bridge->toastText(), m.bridge->calibrationError());
        QCOMPARE(micPath(), chosen);

        QVERIFY(pick(item("micFilePicker"), "未选择"));
        QTRY_COMPARE(micPath(), QString());
    }

    // The pills switch the palette, its setting and the background; the heading is drawn in
    // the CJK face (its pixels change with the palette too).
    void palettePillsSwitchTheTheme()
    {
        const QPoint probe(30, 600);
        for (const auto &[pill, dark, bg] : {std::tuple{"lightPill", false, QColor("#FFFFFF")},
                                             std::tuple{"darkPill", true, QColor("#08090A")}}) {
            click(item(pill));
            QTRY_COMPARE(m.bridge->darkMode(), dark);
            QCOMPARE(QSettings().value("ui/theme").toString(), QString(dark ? "dark" : "light"));
            QTRY_COMPARE(m.window->grabWindow().pixelColor(probe), bg);
            // The chosen palette's pill is the primary one, filled in that palette.
            QVERIFY(item(pill)->property("primary").toBool());
            const QString fill = primaryFillProblem(m.window->grabWindow(), item(pill));
            QVERIFY2(fill.isEmpty(), qPrintable(fill));
        }
    }

    void chineseTextUsesTheCjkFace()
    {
        QQuickItem *heading = nullptr;
        for (QQuickItem *text : m.page()->findChildren<QQuickItem *>()) {
            if (text->property("text").toString() == "设置")
                heading = text;
        }
        QVERIFY(heading);
        const QFontInfo face(heading->property("font").value<QFont>());
        QCOMPARE(face.family(), QString("Noto Sans CJK SC"));
        // Drawn: the heading's box holds pixels of the text colour.
        const QRect box = heading->mapRectToScene(heading->boundingRect()).toRect();
        const QImage shot = m.window->grabWindow().copy(box);
        int lit = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                lit += qGray(shot.pixel(x, y)) > 200;
        QVERIFY(lit > 40);
    }

    // The measurement channel shown is one a run reads, never the stored index as a number: on a
    // card without the stored channel, that none is chosen; back on a card that has it, that
    // channel again, as the choice is kept.
    void measurementShownIsOneTheMenuOffers()
    {
        QVERIFY(pick(item("devicePicker"), "Card A"));
        QVERIFY(pick(item("dataChannelPicker"), "Line 3"));
        QVERIFY(pick(item("devicePicker"), "Card B"));
        QTRY_COMPARE(shown("dataChannelPicker"), QString("未选择"));
        QCOMPARE(QSettings().value("audio/dataChannel").toInt(), 2);
        QVERIFY(pick(item("devicePicker"), "Card A"));
        QTRY_COMPARE(shown("dataChannelPicker"), QString("Line 3"));

        QVERIFY(pick(item("devicePicker"), "Card B"));
        QVERIFY(pick(item("dataChannelPicker"), "Ref"));
        QTRY_COMPARE(shown("dataChannelPicker"), QString("Ref"));
        QVERIFY(pick(item("devicePicker"), "Mono Mic"));
        QTRY_COMPARE(shown("dataChannelPicker"), QString("未选择"));
        QCOMPARE(optionLabels(item("dataChannelPicker")), QStringList{"输入 1"});
    }

    // The reference shown is one a run reads, never the stored index as a number: on a card
    // without the stored channel the one the recording reads instead, and on a one-input card
    // (the system's default, nothing chosen yet) that none is chosen.
    void referenceShownIsOneTheMenuOffers()
    {
        QVERIFY(pick(item("devicePicker"), "Card A"));
        QVERIFY(pick(item("dataChannelPicker"), "输入 1"));
        QVERIFY(pick(item("referenceChannelPicker"), "Line 3"));
        QVERIFY(pick(item("devicePicker"), "Card B"));
        QTRY_COMPARE(shown("referenceChannelPicker"), QString("Ref"));
        QCOMPARE(QSettings().value("audio/referenceChannel").toInt(), 2);

        QSettings().remove("audio/inputDevice");
        QSettings().remove("audio/referenceChannel");
        card_->defaultInput = "c";
        m.bridge->go("主页");
        QTRY_VERIFY(m.page() && m.page()->objectName() != "SettingsScreen");
        m.bridge->go("设置");
        QTRY_VERIFY(m.page() && m.page()->objectName() == "SettingsScreen");
        QTRY_COMPARE(shown("devicePicker"), QString("Mono Mic"));
        QCOMPARE(shown("dataChannelPicker"), QString("输入 1"));
        QCOMPARE(optionLabels(item("referenceChannelPicker")), QStringList{"输入 1"});
        QCOMPARE(shown("referenceChannelPicker"), QString("未选择"));
    }
};

SNT_GUI_TEST_MAIN(SettingsScreenTest)
#include "SettingsScreenTest.moc"
