#include "TrayIcon.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QMouseEvent>
#include <QSystemTrayIcon>

namespace morvane {

namespace {

// On an X11 notification area Qt shows the icon in a small window of this class.
bool isEmbeddedIconWindow(const QObject* object) {
    return object->inherits("QSystemTrayIconSys");
}

bool embeddedIconShown() {
    for (const QWidget* widget : QApplication::topLevelWidgets()) {
        if (isEmbeddedIconWindow(widget)) {
            return true;
        }
    }
    return false;
}

} // namespace

TrayIcon::TrayIcon(QWidget& mainWindow) : main_(mainWindow), view_(std::make_unique<QMenu>()) {
    view_->setTitle(QStringLiteral("菜单"));
    show = view_->addAction(QStringLiteral("显    示"));
    hide = view_->addAction(QStringLiteral("隐    藏"));
    exit = view_->addAction(QStringLiteral("退    出"));
    connect(show, &QAction::triggered, this, &TrayIcon::restoreMainWindow);
    connect(hide, &QAction::triggered, &main_, &QWidget::hide);
    connect(exit, &QAction::triggered, this, &TrayIcon::exitRequested);

    icon_ = std::make_unique<QSystemTrayIcon>(main_.windowIcon());
    icon_->setToolTip(QStringLiteral("Morvane"));
    // No context menu is handed to Qt: on an X11 notification area it would open the menu
    // when the right button goes down, and the menu belongs to its release.
    connect(icon_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick) {
                    restoreMainWindow();
                } else if (reason == QSystemTrayIcon::Context && !embeddedIconShown()) {
                    // A notification area that asks over D-Bus reports the finished click.
                    openMenuAtPointer();
                }
            });
    qApp->installEventFilter(this);
    icon_->show();
}

TrayIcon::~TrayIcon() {
    qApp->removeEventFilter(this);
    icon_->hide();
}

void TrayIcon::restoreMainWindow() {
    main_.setWindowState(main_.windowState() & ~Qt::WindowMinimized);
    main_.show();
    main_.raise();
    main_.activateWindow();
}

void TrayIcon::openMenuAtPointer() {
    view_->popup(QCursor::pos());
}

bool TrayIcon::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease && isEmbeddedIconWindow(watched) &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
        openMenuAtPointer();
    }
    return false;
}

} // namespace morvane
