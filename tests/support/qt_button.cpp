// A Qt 6 window for the accessibility and KWin tests: a button inside a group box, at a fixed
// place. Prints the button's and the group's rectangles (x y w h, root coordinates; on Wayland
// the window's own) and "ready" once the window is shown, then "clicked" for each click of the
// button and "ctrl+s" for each Ctrl+S, until it is ended.
//     qt_button TITLE X Y
#include <QApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 4) {
        return 2;
    }
    QWidget window;
    window.setWindowTitle(QString::fromLocal8Bit(argv[1]));
    auto* group = new QGroupBox(QStringLiteral("Group"));
    auto* button = new QPushButton(QStringLiteral("Gamma"));
    (new QHBoxLayout(group))->addWidget(button);
    (new QHBoxLayout(&window))->addWidget(group);
    QObject::connect(button, &QPushButton::clicked, [] {
        std::printf("clicked\n");
        std::fflush(stdout);
    });
    QObject::connect(new QShortcut(QKeySequence(QStringLiteral("Ctrl+S")), &window),
                     &QShortcut::activated, [] {
                         std::printf("ctrl+s\n");
                         std::fflush(stdout);
                     });
    window.move(QString::fromLocal8Bit(argv[2]).toInt(), QString::fromLocal8Bit(argv[3]).toInt());
    window.show();
    QTimer::singleShot(500, &window, [&] {
        for (const QWidget* widget :
             {static_cast<QWidget*>(button), static_cast<QWidget*>(group)}) {
            const QPoint origin = widget->mapToGlobal(QPoint(0, 0));
            std::printf("%d %d %d %d\n", origin.x(), origin.y(), widget->width(), widget->height());
        }
        std::printf("ready\n");
        std::fflush(stdout);
    });
    return app.exec();
}
