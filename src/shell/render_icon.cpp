// Renders the program's SVG icon into square PNGs for the icon theme, one per size:
//   render-icon ICON.svg OUT_DIR SIZE...   writes OUT_DIR/SIZExSIZE/olm-chimewise.png
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char* argv[]) {
  // Drawing needs no display; the offscreen platform keeps the build free of one.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QStringList args = QGuiApplication::arguments();
  if (args.size() < 4) {
    std::fprintf(stderr, "usage: render-icon ICON.svg OUT_DIR SIZE...\n");
    return 2;
  }
  QSvgRenderer svg(args[1]);
  if (!svg.isValid()) {
    std::fprintf(stderr, "render-icon: %s is not a readable SVG picture\n", qPrintable(args[1]));
    return 1;
  }
  const QString name = QFileInfo(args[1]).completeBaseName() + QStringLiteral(".png");
  for (qsizetype i = 3; i < args.size(); ++i) {
    bool ok = false;
    const int size = args[i].toInt(&ok);
    if (!ok || size < 1 || size > 4096) {
      std::fprintf(stderr, "render-icon: %s is not a size\n", qPrintable(args[i]));
      return 2;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter);
    painter.end();
    const QString dir = QStringLiteral("%1/%2x%2").arg(args[2]).arg(size);
    if (!QDir().mkpath(dir) || !image.save(dir + u'/' + name, "PNG")) {
      std::fprintf(stderr, "render-icon: could not write %s/%s\n", qPrintable(dir), qPrintable(name));
      return 1;
    }
  }
  return 0;
}
