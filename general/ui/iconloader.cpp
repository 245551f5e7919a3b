#include "general/ui/iconloader.h"

#include <QGuiApplication>
#include <QImageReader>
#include <QScreen>

#include <cmath>

namespace halvorn::general {

QPixmap loadPixmap(const QString& path, qreal ratio)
{
    if (path.isEmpty())
        return {};
    QImageReader reader(path);
    const QSize designSize = reader.size();
    if (ratio > 1.0 && designSize.isValid())
        reader.setScaledSize(QSize(int(std::ceil(designSize.width() * ratio)),
                                   int(std::ceil(designSize.height() * ratio))));
    const QImage image = reader.read();
    if (image.isNull())
        return {};
    QPixmap pixmap = QPixmap::fromImage(image);
    if (ratio > 1.0 && designSize.isValid())
        pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

QIcon loadIcon(const QString& path)
{
    QIcon icon;
    qreal ratios[] = {1.0, 2.0, 1.0};
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        ratios[2] = screen->devicePixelRatio();
    for (qreal ratio : ratios) {
        const QPixmap pixmap = loadPixmap(path, ratio);
        if (!pixmap.isNull())
            icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace halvorn::general
