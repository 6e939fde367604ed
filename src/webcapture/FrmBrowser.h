#pragma once

#include "WebModule.h"
#include "platform/ChildWindowMark.h"
#include "webcapture/PageCapture.h"
#include "webcapture/PagePlan.h"

#include <QElapsedTimer>
#include <QWidget>
#include <memory>
#include <optional>

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QShortcut;
class QTimer;
class QToolBar;
class QWebEngineView;

namespace morvane {

class PageScript;

// The program's own browser window: a toolbar, an address box and the page's view. Its
// "滚动抓图" button captures the whole page, scrolling it view by view (PageCapture); the
// window keeps the page still for it, shows its progress in the caption and tells how it ended.
class frmBrowser : public QWidget {
    Q_OBJECT

public:
    explicit frmBrowser(const WebCaptureContext& context);
    ~frmBrowser() override;

    // Navigates to the text of the address box.
    void cboAddress_Click();
    void tbToolBar_ButtonClick(const QString& key);
    void StartPageCapture();

    QToolBar* tbToolBar;
    QPushButton* Command1;
    QWidget* picAddress;
    QLabel* lblAddress;
    QComboBox* cboAddress;
    QFrame* viewFrame;
    QWebEngineView* brwWebBrowser;
    QTimer* timTimer;

    // The file the last capture wrote; empty when none.
    QString lastFile() const { return lastFile_; }
    bool isCapturing() const { return capturing_; }
    // Ends a running capture without a file: Esc, the "Stop" button and closing the window.
    void cancelCapture();
    // Closed, and about to be deleted: a new request needs a new window.
    bool isClosed() const { return closed_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Asks the page which of its root and body scrolls; chooseScrollElement (PagePlan)
    // decides from the answer. Nothing changes when the page does not answer.
    void ChooseScrollElement(PageScripts& scripts);
    void applyScrollProbe(const QVariant& answer);
    // Tells how a capture ended; nothing: the page has no element that scrolls.
    void endCapture(const std::optional<PageCaptureResult>& result);
    void writePage(const QImage& page);
    void showProgress(int percent);
    QRect viewOnScreen();
    void placeViewWindow();
    void keepOnTop(bool onTop);
    void timTimer_Timer();

    WebCaptureContext context_;
    QString scrollElement_; // a script expression naming the scrolling element, or empty
    bool capturing_ = false;
    bool loadPending_ = false;
    bool closed_ = false;
    bool closeAfterCapture_ = false;
    PageScript* running_ = nullptr; // the running capture's scripts, which a cancel ends
    QShortcut* escape_ = nullptr;
    QElapsedTimer progressShownAt_; // since the caption last changed
    int progressShown_ = -1;
    // The view's place, marked as a child window of the class a browser's view has.
    ChildWindowMark viewMark_{QByteArrayLiteral("Shell Embedding")};
    QString lastFile_;
    // False from the start of the destructor on, for answers that come while the window's
    // children (the page among them) are destroyed.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace morvane
