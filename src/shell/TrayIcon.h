#pragma once

#include "common/Notifier.h"

#include <QIcon>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTimer>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace morvane {

// The program's icon in the notification area, with the tip "Morvane". A left double-click
// restores the main window; releasing the right button opens the menu "view" (show, hide,
// exit) at the pointer. Without a notification area the program runs without the icon;
// one that appears later gets it.
//
// The icon also tells what the program did while nobody watched. Failures come as passing
// messages, kept while there is no notification area to show them. A saved capture brings
// no message, which a following capture of the screen would catch: the tip names the file
// and the icon shows a "done" picture for about a second. While a delayed capture is armed
// the tip counts down its seconds.
class TrayIcon : public QObject, public Notifier {
    Q_OBJECT

public:
    explicit TrayIcon(QWidget& mainWindow);
    ~TrayIcon() override;

    QSystemTrayIcon& icon() { return *icon_; }
    QMenu& menu() { return *view_; }

    // The main window back in normal state, shown.
    void restoreMainWindow();
    void openMenuAtPointer();

    void notify(const QString& title, const QString& text) override;
    void showSaved(const QString& path);
    // Counts the delay timer's seconds down in the tip while it runs; once a second.
    void startCountdown(const QTimer& delay);
    void stopCountdown();
    bool showsDone() const { return showsDone_; }
    bool countingDown() const { return countdown_.isActive(); }

    QAction* show;
    QAction* hide;
    QAction* exit;

signals:
    void exitRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateToolTip();

    QWidget& main_;
    std::unique_ptr<QMenu> view_;
    std::unique_ptr<QSystemTrayIcon> icon_;

    QIcon normal_;
    QIcon done_;
    bool showsDone_ = false;
    QTimer doneTimer_;
    QTimer countdown_;
    const QTimer* delay_ = nullptr;
    QString lastFile_;
    // Messages said while there was no notification area.
    QList<QPair<QString, QString>> pending_;
    void showPending();
};

} // namespace morvane
