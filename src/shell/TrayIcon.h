#pragma once

#include <QObject>
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
class TrayIcon : public QObject {
    Q_OBJECT

public:
    explicit TrayIcon(QWidget& mainWindow);
    ~TrayIcon() override;

    QSystemTrayIcon& icon() { return *icon_; }
    QMenu& menu() { return *view_; }

    // The main window back in normal state, shown.
    void restoreMainWindow();
    void openMenuAtPointer();

    QAction* show;
    QAction* hide;
    QAction* exit;

signals:
    void exitRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& main_;
    std::unique_ptr<QMenu> view_;
    std::unique_ptr<QSystemTrayIcon> icon_;
};

} // namespace morvane
