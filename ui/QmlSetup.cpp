#include "ui/QmlSetup.h"

#include "ui/CurveChartItem.h"
#include "ui/IconImageProvider.h"
#include "ui/StepClock.h"

#include <QCoreApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QThreadPool>
#include <QTranslator>

#include <mutex>

namespace snt::ui {

namespace {

const QString iconProvider = QStringLiteral("icon");

// The two labels of Qt Quick's file dialog that Qt's catalogue does not translate yet.
class FileDialogLabels : public QTranslator
{
public:
    using QTranslator::QTranslator;

    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *source, const char *, int) const override
    {
        if (qstrcmp(context, "FileDialog") != 0)
            return QString();
        if (qstrcmp(source, "File name") == 0)
            return QStringLiteral("文件名");
        if (qstrcmp(source, "Filter") == 0)
            return QStringLiteral("文件类型");
        return QString();
    }
};

// Qt's own texts (the file dialogs' buttons and labels, the text fields' menus) in the
// interface's language, whatever the system's: Qt's installed Simplified Chinese catalogue ("qt",
// which pulls in "qtbase" with the standard buttons), and the file dialog's labels it lacks. A
// missing catalogue leaves Qt's texts in English.
void installQtTranslations()
{
    QCoreApplication *app = QCoreApplication::instance();
    auto *qt = new QTranslator(app);
    if (qt->load(QStringLiteral("qt_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
    else
        delete qt;
    QCoreApplication::installTranslator(new FileDialogLabels(app));
}

// Qt's raster painting (every canvas and image, and frames rendered in software) hands each fill
// of 96 spans or more to the global thread pool in up to four parts and waits for them. On
// pictures the size of these screens a hand-off costs more than the fill, and on a busy machine
// the frame waits until four threads find a core (a turning venue with every core busy: 8 ms a
// frame instead of 3). With one pool thread the part runs where the waiting thread has just made
// room. The program runs nothing of its own on the global pool.
void limitPaintingHelpers()
{
    QThreadPool::globalInstance()->setMaxThreadCount(1);
}

void setUpProcess()
{
    installQtTranslations();
    limitPaintingHelpers();
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QFont::insertSubstitution(QStringLiteral("Microsoft YaHei UI"),
                              QStringLiteral("Noto Sans CJK SC"));
    qmlRegisterType<CurveChartItem>("Sonetra", 1, 0, "CurveChartItem");
    qmlRegisterType<StepClock>("Sonetra", 1, 0, "StepClock");
}

} // namespace

void setUpQmlEngine(QQmlEngine &engine)
{
    static std::once_flag once;
    std::call_once(once, setUpProcess);
    if (!engine.imageProvider(iconProvider))
        engine.addImageProvider(iconProvider, new IconImageProvider);
}

} // namespace snt::ui
