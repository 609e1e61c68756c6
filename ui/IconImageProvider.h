#pragma once

#include <QQuickImageProvider>

namespace snt::ui {

// Serves the icons as "image://icon/<key>" and, recoloured, as "image://icon/<key>?tint=<colour>":
// the SVG "<folder>/<key>.svg" rendered at the requested size (aspect kept) and, for a tint that
// is not fully transparent, filled with the tint wherever the icon has ink, keeping its alpha.
// The colour is anything QColor reads; "#" may be left out of a hex colour (or written %23) since
// it cannot stand bare in a URL. Done on the CPU so that tinted icons show under every scene graph
// backend, the software one included.
class IconImageProvider : public QQuickImageProvider
{
public:
    explicit IconImageProvider(const QString &folder = QStringLiteral(":/icons"));

    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;

private:
    QString m_folder;
};

} // namespace snt::ui
