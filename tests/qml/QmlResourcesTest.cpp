#include "tests/support/GuiTestMain.h"
#include "ui/QmlSetup.h"

#include <QDirIterator>
#include <QImage>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QSvgRenderer>

using namespace snt::ui;

namespace {

QString errorsOf(const QQmlComponent &component)
{
    QStringList lines;
    for (const QQmlError &error : component.errors())
        lines << error.toString();
    return lines.join('\n');
}

} // namespace

// What the program loads from its resources: every QML file compiles on this Qt with the engine
// prepared as the program prepares it (so an import of a module this Qt lacks, or a component
// that does not exist, fails here and not at start-up with no window), and the icons the shell
// and the shared components draw, and the pictures of the import guides, are there in their
// forms.
class QmlResourcesTest : public QObject
{
    Q_OBJECT

    QQmlEngine m_engine;

private slots:
    void initTestCase() { setUpQmlEngine(m_engine); }

    void everyQmlFileCompiles_data()
    {
        QTest::addColumn<QUrl>("url");
        QDirIterator files(QStringLiteral(":/qml"), {QStringLiteral("*.qml")}, QDir::Files,
                           QDirIterator::Subdirectories);
        int count = 0;
        while (files.hasNext()) {
            const QString path = files.next();
            QTest::newRow(qPrintable(path)) << QUrl(QStringLiteral("qrc") + path);
            ++count;
        }
        QVERIFY(count > 30);
    }
    void everyQmlFileCompiles()
    {
        QFETCH(QUrl, url);
        QQmlComponent component(&m_engine, url);
        QVERIFY2(component.status() == QQmlComponent::Ready, qPrintable(errorsOf(component)));
    }

    // The check above would see the faults it is there for.
    void compilingCatchesMissingModulesAndTypes_data()
    {
        QTest::addColumn<QByteArray>("qml");
        QTest::newRow("module of a later Qt") << QByteArray("import QtQuick\n"
                                                            "import QtQuick.Effects\n"
                                                            "Item {}\n");
        QTest::newRow("absent component") << QByteArray("import QtQuick\n"
                                                        "Item { NoSuchComponent {} }\n");
    }
    void compilingCatchesMissingModulesAndTypes()
    {
        QFETCH(QByteArray, qml);
        QQmlComponent component(&m_engine);
        component.setData(qml, QUrl(QStringLiteral("qrc:/qml/Probe.qml")));
        QCOMPARE(component.status(), QQmlComponent::Error);
    }

    // The PNG form, where a picture has one, is the SVG drawn at twice its size.
    void picturesHaveTheirForms_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("png");
        for (const char *key :
             {"s-caret", "s-snt-home", "s-snt-warn", "s-rings", "s-moireg-fine", "s-dotgrid"})
            QTest::newRow(key) << QStringLiteral(":/icons/%1").arg(key)
                               << (QLatin1String(key) != "s-moireg-fine");
        for (const char *key : {"xta-curve", "xta-menu", "nst-curve", "nst-dialog", "nst-menu"})
            QTest::newRow(key) << QStringLiteral(":/tutorial/%1").arg(key) << true;
    }
    void picturesHaveTheirForms()
    {
        QFETCH(QString, path);
        QFETCH(bool, png);
        QSvgRenderer svg(path + QStringLiteral(".svg"));
        QVERIFY(svg.isValid());
        QVERIFY(!svg.defaultSize().isEmpty());
        const QImage raster(path + QStringLiteral(".png"));
        QCOMPARE(!raster.isNull(), png);
        if (png)
            QCOMPARE(raster.size(), svg.defaultSize() * 2);
    }
};

SNT_GUI_TEST_MAIN(QmlResourcesTest)
#include "QmlResourcesTest.moc"
