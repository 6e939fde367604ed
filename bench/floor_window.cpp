// The floor for start-up time and memory: the least a Qt Widgets program must do to show
// one borderless window of the main window's size.
#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint);
    window.setWindowTitle(QStringLiteral("Floor"));
    window.setFixedSize(488, 184);
    window.show();
    return QApplication::exec();
}
