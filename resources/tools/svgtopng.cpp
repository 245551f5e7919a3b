// Renders an SVG file to a PNG of a given pixel size:
//   tivaro_svgtopng input.svg output.png width height
// Used to produce the PNG button images that must exist as PNG files; see
// render-pngs.sh beside this file.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTextStream err(stderr);
    if (args.size() != 5) {
        err << "usage: tivaro_svgtopng input.svg output.png width height\n";
        return 2;
    }
    bool widthOk = false;
    bool heightOk = false;
    const int width = args.at(3).toInt(&widthOk);
    const int height = args.at(4).toInt(&heightOk);
    if (!widthOk || !heightOk || width <= 0 || height <= 0) {
        err << "width and height must be positive numbers\n";
        return 2;
    }
    QSvgRenderer renderer(args.at(1));
    if (!renderer.isValid()) {
        err << "cannot read " << args.at(1) << '\n';
        return 1;
    }
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    if (!image.save(args.at(2), "PNG")) {
        err << "cannot write " << args.at(2) << '\n';
        return 1;
    }
    return 0;
}
