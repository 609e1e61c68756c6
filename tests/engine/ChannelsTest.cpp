#include "engine/AverageMeasurement.h"
#include "engine/ChannelManager.h"
#include "engine/ChannelPalette.h"
#include "engine/WindowFunctionNames.h"
#include "tests/support/TestMain.h"

#include <QMetaEnum>
#include <QSettings>
#include <memory>

class ChannelsTest : public QObject {
    Q_OBJECT

private slots:
    void palette()
    {
        const QStringList& colors = channelPalette();
        QCOMPARE(colors.size(), 20);
        QCOMPARE(colors.first(), QStringLiteral("#c84040"));
        QCOMPARE(colors.at(9), QStringLiteral("#408080"));
        QCOMPARE(colors.at(10), QStringLiteral("#e06080"));
        QCOMPARE(colors.last(), QStringLiteral("#607080"));
    }

    // Display names differ from the enumerator keys by their spaces.
    void windowNames()
    {
        const auto& names = windowFunctionNames();
        QCOMPARE(names.size(), 7);
        QCOMPARE(names.value(WindowFunction::FlatTop), QStringLiteral("Flat Top"));
        QCOMPARE(names.value(WindowFunction::BlackmanHarris), QStringLiteral("Blackman Harris"));
        QCOMPARE(names.value(WindowFunction::Exponental), QStringLiteral("Exponental"));
        const QMetaEnum keys = QMetaEnum::fromType<WindowFunction::Type>();
        QCOMPARE(keys.keyCount(), 7);
        QCOMPARE(QByteArray(keys.valueToKey(WindowFunction::FlatTop)), QByteArray("FlatTop"));
    }

    void channelManagerStartsWithThePalette()
    {
        QSettings(QStringLiteral("Sonetra"), QStringLiteral("ChannelManager")).clear();
        ChannelManager manager;
        for (int i = 0; i < ChannelManager::channelCount; ++i) {
            QCOMPARE(manager.color(i), channelPalette().at(i));
            QVERIFY(manager.isVisible(i));
            QVERIFY(manager.isEmpty(i));
        }
        QCOMPARE(manager.color(19), QStringLiteral("#607080"));
        QVERIFY(manager.showReplaceConfirm());
    }

    void replaceConfirmationIsRemembered()
    {
        QSettings settings(QStringLiteral("Sonetra"), QStringLiteral("ChannelManager"));
        settings.setValue(QStringLiteral("showReplaceConfirm"), false);
        settings.sync();
        ChannelManager manager;
        QVERIFY(!manager.showReplaceConfirm());
        settings.clear();
    }

    void typesCanBeCreatedThroughTheMetaObject()
    {
        std::unique_ptr<QObject> manager(ChannelManager::staticMetaObject.newInstance());
        QVERIFY(qobject_cast<ChannelManager*>(manager.get()));
        std::unique_ptr<QObject> average(AverageMeasurement::staticMetaObject.newInstance());
        auto* a = qobject_cast<AverageMeasurement*>(average.get());
        QVERIFY(a);
        QCOMPARE(a->count(), 256);
        QCOMPARE(a->color(), QStringLiteral("#000000"));
        QVERIFY(!a->hasMembers());
        QVERIFY(a->values().isEmpty());
    }
};

SNT_TEST_MAIN(ChannelsTest)
#include "ChannelsTest.moc"
