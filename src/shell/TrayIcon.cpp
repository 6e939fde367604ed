#include "TrayIcon.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QSystemTrayIcon>

#include <algorithm>

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

// Only one message shows at a time, so those kept are said together; the latest few.
constexpr qsizetype kMaxPending = 3;

// How long a failure message stays, and the "done" picture after a saved capture.
constexpr int kMessageMs = 10000;
constexpr int kDoneMs = 1000;

// The program icon with a white tick on a green disc in its lower right corner.
QIcon doneIcon(const QIcon& normal) {
    QPixmap picture = normal.pixmap(48, 48);
    if (picture.isNull()) {
        picture = QPixmap(48, 48);
        picture.fill(Qt::transparent);
    }
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF disc(picture.width() * 0.4, picture.height() * 0.4, picture.width() * 0.58,
                      picture.height() * 0.58);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 170, 60));
    painter.drawEllipse(disc);
    painter.setPen(QPen(Qt::white, disc.width() / 7, Qt::SolidLine, Qt::RoundCap));
    const QPointF tick[] = {disc.topLeft() + QPointF(disc.width() * 0.25, disc.height() * 0.52),
                            disc.topLeft() + QPointF(disc.width() * 0.43, disc.height() * 0.7),
                            disc.topLeft() + QPointF(disc.width() * 0.75, disc.height() * 0.32)};
    painter.drawPolyline(tick, 3);
    painter.end();
    return QIcon(picture);
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

    normal_ = main_.windowIcon();
    done_ = doneIcon(normal_);
    doneTimer_.setSingleShot(true);
    doneTimer_.setInterval(kDoneMs);
    connect(&doneTimer_, &QTimer::timeout, this, [this] {
        showsDone_ = false;
        icon_->setIcon(normal_);
    });
    countdown_.setInterval(1000);
    connect(&countdown_, &QTimer::timeout, this, &TrayIcon::updateToolTip);

    icon_ = std::make_unique<QSystemTrayIcon>(normal_);
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

void TrayIcon::notify(const QString& title, const QString& text) {
    pending_.append({title, text});
    if (pending_.size() > kMaxPending) {
        pending_.removeFirst();
    }
    // With no notification area the message would go nowhere: it is kept until one appears
    // and the icon docks there. (Qt moves a message shown before the icon docked along with
    // the icon.)
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        showPending();
    }
}

void TrayIcon::showPending() {
    if (pending_.isEmpty()) {
        return;
    }
    if (pending_.size() == 1) {
        icon_->showMessage(pending_[0].first, pending_[0].second, QSystemTrayIcon::Warning,
                           kMessageMs);
    } else {
        QStringList lines;
        for (const auto& [title, text] : pending_) {
            lines << title + QStringLiteral("：") + text;
        }
        icon_->showMessage(QStringLiteral("Morvane"), lines.join(QLatin1Char('\n')),
                           QSystemTrayIcon::Warning, kMessageMs);
    }
    pending_.clear();
}

void TrayIcon::showSaved(const QString& path) {
    lastFile_ = path;
    updateToolTip();
    showsDone_ = true;
    icon_->setIcon(done_);
    doneTimer_.start();
}

void TrayIcon::startCountdown(const QTimer& delay) {
    delay_ = &delay;
    countdown_.start();
    updateToolTip();
}

void TrayIcon::stopCountdown() {
    delay_ = nullptr;
    countdown_.stop();
    updateToolTip();
}

void TrayIcon::updateToolTip() {
    QString tip = QStringLiteral("Morvane");
    if (delay_ && delay_->isActive()) {
        // The count ticks on whole seconds after arming; rounding absorbs the coarse timers'
        // few milliseconds either way.
        const int seconds = std::max(1, qRound(delay_->remainingTime() / 1000.0));
        tip += QStringLiteral("\n%1 秒后抓图").arg(seconds);
    } else if (delay_) {
        // The delay has fired or was stopped: the count ends with it.
        delay_ = nullptr;
        countdown_.stop();
    }
    if (!lastFile_.isEmpty()) {
        tip += QStringLiteral("\n已保存：") + lastFile_;
    }
    icon_->setToolTip(tip);
}

bool TrayIcon::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && !pending_.isEmpty() && isEmbeddedIconWindow(watched)) {
        // Docked: once it has its place, the kept messages are said beside it.
        QTimer::singleShot(0, this, &TrayIcon::showPending);
    }
    if (event->type() == QEvent::MouseButtonRelease && isEmbeddedIconWindow(watched) &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
        openMenuAtPointer();
    }
    return false;
}

} // namespace morvane
