#include "icons.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace {

QPixmap Render(QSvgRenderer& renderer, QSize size, qreal dpr)
{
    QPixmap pixmap(size * dpr);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    pixmap.setDevicePixelRatio(dpr);
    return pixmap;
}

} // namespace

QIcon LoadSvgIcon(const QString& path)
{
    QSvgRenderer renderer(path);
    if (!renderer.isValid())
        return {};
    QIcon icon;
    for (qreal dpr : {1.0, 2.0})
        icon.addPixmap(Render(renderer, renderer.defaultSize(), dpr));
    return icon;
}

QIcon LoadAppIcon()
{
    QSvgRenderer renderer(QStringLiteral(":/icons/kestro.svg"));
    if (!renderer.isValid())
        return {};
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(Render(renderer, QSize(size, size), 1.0));
    return icon;
}
