// Draws the program's pictures into resources/, so that they can be made again:
//   skin.bmp        487 x 336, 24-bit: a 23-pixel blue title strip over RGB(0, 162, 232)
//   icon.png        48 x 48, 32-bit: the program icon (a camera lens in a frame)
//   icons/hicolor/  the same icon for the desktop's icon theme, at its usual sizes and as SVG,
//                   named by the application id org.morvane.Morvane
//   close.jpg       18 x 18: white cross on green      (close-hot.jpg: on lighter green)
//   minimise.jpg    18 x 18: white bar on green        (minimise-hot.jpg: on lighter green)
//   hand.xbm        32 x 32 monochrome pointing hand, and hand-mask.xbm; hot spot (5, 0)
//
//   make_pictures RESOURCES-FOLDER
#include <QBitmap>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

QImage skin() {
    QImage image(487, 336, QImage::Format_RGB888);
    image.fill(QColor(0, 162, 232));
    QPainter p(&image);
    QLinearGradient strip(0, 0, 0, 23);
    strip.setColorAt(0.0, QColor(120, 200, 250));
    strip.setColorAt(0.6, QColor(30, 140, 220));
    strip.setColorAt(1.0, QColor(10, 90, 170));
    p.fillRect(0, 0, 487, 20, strip);
    p.fillRect(0, 20, 487, 3, QColor(0, 70, 140)); // the darker band at the strip's foot
    return image;
}

// Drawn on a 48-unit grid and scaled to the size asked for.
QImage icon(int size = 48) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 48.0, size / 48.0);
    p.setBrush(QColor(20, 60, 110));
    p.setPen(QPen(QColor(240, 240, 240), 2));
    p.drawRoundedRect(QRectF(3, 10, 42, 30), 6, 6);
    p.fillRect(QRectF(10, 6, 12, 6), QColor(240, 240, 240));
    p.setBrush(QColor(0, 162, 232));
    p.drawEllipse(QPointF(24, 25), 10, 10);
    p.setBrush(QColor(255, 255, 255, 200));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(20, 21), 3, 3);
    return image;
}

// The icon above as SVG, shape for shape.
const char* const kIconSvg =
    R"(<svg xmlns="http://www.w3.org/2000/svg" width="48" height="48" viewBox="0 0 48 48">
  <rect x="3" y="10" width="42" height="30" rx="6" fill="#143c6e" stroke="#f0f0f0" stroke-width="2"/>
  <rect x="10" y="6" width="12" height="6" fill="#f0f0f0"/>
  <circle cx="24" cy="25" r="10" fill="#00a2e8" stroke="#f0f0f0" stroke-width="2"/>
  <circle cx="20" cy="21" r="3" fill="#ffffff" fill-opacity="0.78"/>
</svg>
)";

bool saveThemeIcons(const QString& folder) {
    const QString name = QStringLiteral("/apps/org.morvane.Morvane");
    const QString theme = folder + QStringLiteral("icons/hicolor/");
    bool ok = true;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString sized = theme + QStringLiteral("%1x%1").arg(size);
        ok = QDir().mkpath(sized + QStringLiteral("/apps")) &&
             icon(size).save(sized + name + QStringLiteral(".png"), "PNG") && ok;
    }
    QFile svg(theme + QStringLiteral("scalable") + name + QStringLiteral(".svg"));
    ok = QDir().mkpath(theme + QStringLiteral("scalable/apps")) && svg.open(QIODevice::WriteOnly) &&
         svg.write(kIconSvg) > 0 && ok;
    return ok;
}

QImage button(bool cross, bool hot) {
    QImage image(18, 18, QImage::Format_RGB888);
    image.fill(hot ? QColor(90, 210, 90) : QColor(20, 150, 40));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap));
    if (cross) {
        p.drawLine(QPointF(5, 5), QPointF(13, 13));
        p.drawLine(QPointF(13, 5), QPointF(5, 13));
    } else {
        p.drawLine(QPointF(5, 12), QPointF(13, 12));
    }
    return image;
}

// The hand's outline, with the tip of the index finger at (5, 0).
QPainterPath hand() {
    QPainterPath path;
    path.moveTo(4, 1);
    path.quadTo(5, -0.5, 7, 1);
    path.lineTo(7, 11);
    path.lineTo(9, 10);
    path.lineTo(11, 11);
    path.lineTo(13, 11);
    path.lineTo(15, 12);
    path.lineTo(17, 13);
    path.lineTo(18, 14);
    path.lineTo(18, 22);
    path.lineTo(16, 27);
    path.lineTo(7, 27);
    path.lineTo(2, 19);
    path.lineTo(1, 16);
    path.lineTo(2, 15);
    path.lineTo(4, 16);
    path.closeSubpath();
    return path;
}

// 24 x 24 toolbar icons of the browser window, drawn as simple white-on-blue signs.
QImage toolIcon(const QString& kind) {
    QImage image(24, 24, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 120, 200));
    p.drawRoundedRect(QRectF(1, 1, 22, 22), 4, 4);
    p.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    if (kind == QLatin1String("back") || kind == QLatin1String("forward")) {
        const bool back = kind == QLatin1String("back");
        const qreal tip = back ? 6 : 18;
        const qreal tail = back ? 18 : 6;
        p.drawLine(QPointF(tail, 12), QPointF(tip, 12));
        p.drawLine(QPointF(tip, 12), QPointF((tip + tail) / 2, 6));
        p.drawLine(QPointF(tip, 12), QPointF((tip + tail) / 2, 18));
    } else if (kind == QLatin1String("stop")) {
        p.drawLine(QPointF(7, 7), QPointF(17, 17));
        p.drawLine(QPointF(17, 7), QPointF(7, 17));
    } else if (kind == QLatin1String("refresh")) {
        p.drawArc(QRectF(6, 6, 12, 12), 30 * 16, 300 * 16);
        p.drawLine(QPointF(17, 4), QPointF(17, 9));
    } else if (kind == QLatin1String("home")) {
        p.drawPolyline(QPolygonF({QPointF(5, 12), QPointF(12, 5), QPointF(19, 12)}));
        p.drawPolyline(
            QPolygonF({QPointF(7, 11), QPointF(7, 18), QPointF(17, 18), QPointF(17, 11)}));
    } else if (kind == QLatin1String("search")) {
        p.drawEllipse(QRectF(5, 5, 10, 10));
        p.drawLine(QPointF(14, 14), QPointF(19, 19));
    } else { // capture: a page with a downward arrow
        p.drawRect(QRectF(6, 4, 12, 16));
        p.drawLine(QPointF(12, 8), QPointF(12, 16));
        p.drawLine(QPointF(12, 16), QPointF(9, 13));
        p.drawLine(QPointF(12, 16), QPointF(15, 13));
    }
    return image;
}

} // namespace

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_pictures RESOURCES-FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]) + QLatin1Char('/');
    bool ok = skin().save(folder + QStringLiteral("skin.bmp"), "BMP");
    ok = icon().save(folder + QStringLiteral("icon.png"), "PNG") && ok;
    ok = saveThemeIcons(folder) && ok;
    ok = button(true, false).save(folder + QStringLiteral("close.jpg"), "JPEG", 95) && ok;
    ok = button(true, true).save(folder + QStringLiteral("close-hot.jpg"), "JPEG", 95) && ok;
    ok = button(false, false).save(folder + QStringLiteral("minimise.jpg"), "JPEG", 95) && ok;
    ok = button(false, true).save(folder + QStringLiteral("minimise-hot.jpg"), "JPEG", 95) && ok;

    // Monochrome pointer: the bitmap is black where set; the mask says where it shows.
    QBitmap shape(32, 32);
    QBitmap mask(32, 32);
    shape.fill(Qt::color0);
    mask.fill(Qt::color0);
    {
        QPainter m(&mask);
        m.setPen(QPen(Qt::color1, 1));
        m.setBrush(Qt::color1);
        m.drawPath(hand()); // the white inside and its black outline
        QPainter s(&shape);
        s.setPen(QPen(Qt::color1, 1));
        s.setBrush(Qt::NoBrush);
        s.drawPath(hand());
    }
    ok = shape.save(folder + QStringLiteral("hand.xbm"), "XBM") && ok;
    ok = mask.save(folder + QStringLiteral("hand-mask.xbm"), "XBM") && ok;
    for (const char* kind : {"back", "forward", "stop", "refresh", "home", "search", "capture"}) {
        const QString name = QString::fromLatin1(kind);
        ok = toolIcon(name).save(folder + QStringLiteral("web-") + name + QStringLiteral(".png"),
                                 "PNG") &&
             ok;
    }
    if (!ok) {
        std::fprintf(stderr, "make_pictures: could not write every picture into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
