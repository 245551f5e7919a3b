#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace halvorn::general {

// Loads the compiled-in images (most of them SVG, named without a suffix)
// at the pixel ratio of the screen, so that they stay sharp on high-DPI
// screens where a plain QPixmap(path) would be scaled up.

// The image at its design size, rendered for the device pixel ratio `ratio`.
// Null when the path cannot be read.
QPixmap loadPixmap(const QString& path, qreal ratio);

// An icon with renderings at 1x, 2x and the primary screen's ratio.
QIcon loadIcon(const QString& path);

} // namespace halvorn::general
