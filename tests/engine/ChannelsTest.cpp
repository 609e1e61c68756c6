#include "engine/AverageMeasurement.h"
#include "engine/ChannelManager.h"
#include "engine/ChannelPalette.h"
#include "engine/WindowFunctionNames.h"
#include "tests/support/TestMain.h"

#include <QSettings>
#include <memory>

class ChannelsTest : public QObject
{
    Q_OBJECT

private slots:
    // Display names differ from the enumerator keys by their spaces.
    void paletteAndWindowNames()
    {
        QCOMPARE(channelPalette().size(), qsizetype(ChannelManager::channelCount));
        QCOMPARE(channelPalette().last(), QStringLiteral("#607080"));
        QCOMPARE(windowFunctionNames().size(), 7);
        QCOMPARE(windowFunctionNames().value(WindowFunction::FlatTop), QStringLiteral("Flat Top"));
        QCOMPARE(windowFunctionNames().value(WindowFunction::BlackmanHarris),
                 QStringLiteral("Blackman Harris"));
    }

    void replaceConfirmationIsRemembered()
    {
        QVERIFY(ChannelManager().showReplaceConfirm());
        QSettings settings(QStringLiteral("Sonetra"), QStringLiteral("ChannelManager"));
        settings.setValue(QStringLiteral("showReplaceConfirm"), false);
        settings.sync();
        ChannelManager manager;
        QVERIFY(!manager.showReplaceConfirm());
        QCOMPARE(manager.color(19), channelPalette().at(19));
    }

    // The user interface creates both through the meta-object system.
    void typesCanBeCreatedThroughTheMetaObject()
    {
        std::unique_ptr<QObject> manager(ChannelManager::staticMetaObject.newInstance());
        QVERIFY(qobject_cast<ChannelManager *>(manager.get()));
        std::unique_ptr<QObject> average(AverageMeasurement::staticMetaObject.newInstance());
        QVERIFY(qobject_cast<AverageMeasurement *>(average.get()));
    }
};

SNT_TEST_MAIN(ChannelsTest)
#include "ChannelsTest.moc"
