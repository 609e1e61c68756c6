#include "ui/IconImageProvider.h"

#include <QColor>
#include <QFile>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QUrlQuery>

#include <cmath>

namespace snt::ui {

namespace {

QColor tintFrom(const QString &query)
{
    QString text = QUrlQuery(query).queryItemValue(QStringLiteral("tint"), QUrl::FullyDecoded);
    static const QRegularExpression bareHex(QStringLiteral("^([0-9a-fA-F]{6}|[0-9a-fA-F]{8})$"));
    if (bareHex.match(text).hasMatch())
        text.prepend(QLatin1Char('#'));
    return QColor::fromString(text);
}

// The requested size with the icon's proportions: fitted inside when both sides are asked for,
// scaled to the one side given otherwise, the icon's own size when none is.
QSize renderSize(QSizeF natural, const QSize &requested)
{
    if (natural.isEmpty())
        return requested.isValid() ? requested : QSize();
    const bool wide = requested.width() > 0;
    const bool high = requested.height() > 0;
    if (wide && high)
        natural.scale(requested, Qt::KeepAspectRatio);
    else if (wide)
        natural *= requested.width() / natural.width();
    else if (high)
        natural *= requested.height() / natural.height();
    return QSize(std::max(1, int(std::ceil(natural.width() - 1e-9))),
                 std::max(1, int(std::ceil(natural.height() - 1e-9))));
}

} // namespace

IconImageProvider::IconImageProvider(const QString &folder)
    : QQuickImageProvider(QQuickImageProvider::Image)
    , m_folder(folder)
{ }

QImage IconImageProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize)
{
    const qsizetype mark = id.indexOf(QLatin1Char('?'));
    const QString key = id.left(mark);
    // A key names a file in the icon folder, never a path out of it.
    if (key.isEmpty() || key.contains(QLatin1Char('/')) || key.startsWith(QLatin1Char('.')))
        return {};
    const QString path = m_folder + QLatin1Char('/') + key + QStringLiteral(".svg");
    if (!QFile::exists(path))
        return {};
    QSvgRenderer renderer(path);
    if (!renderer.isValid())
        return {};
    const QSize natural = renderer.defaultSize();
    if (size)
        *size = natural;
    const QSize pixels = renderSize(QSizeF(natural), requestedSize);
    if (pixels.isEmpty())
        return {};
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    const QColor tint = mark < 0 ? QColor() : tintFrom(id.mid(mark + 1));
    if (tint.isValid() && tint.alpha() > 0) {
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), tint);
    }
    return image;
}

} // namespace snt::ui
