// Saves a PNG of one X window (or of the whole screen), for test reports and for
// looking at the program the way a person sees it.
//
//   xshot WINDOW-ID|root OUTPUT.png
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: xshot WINDOW-ID|root OUTPUT.png\n");
        return 2;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    const QString target = QString::fromLocal8Bit(argv[1]);
    WId window = 0;
    if (target != QLatin1String("root")) {
        bool ok = false;
        window = static_cast<WId>(target.toULongLong(&ok, 0));
        if (!ok) {
            std::fprintf(stderr, "xshot: not a window id: %s\n", argv[1]);
            return 2;
        }
    }
    const QPixmap picture = screen->grabWindow(window);
    if (picture.isNull() || !picture.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "xshot: could not save %s\n", argv[2]);
        return 1;
    }
    return 0;
}
