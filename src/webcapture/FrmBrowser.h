#pragma once

#include "WebModule.h"
#include "platform/ChildWindowMark.h"
#include "webcapture/PagePlan.h"

#include <QElapsedTimer>
#include <QImage>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>
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
class QEventLoop;
class QJsonObject;

namespace morvane {

// The program's own browser window: a toolbar, an address box and the page's view. Its
// "滚动抓图" button captures the whole page, scrolling it view by view.
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

    // Document properties of the scrolling element, read and written through the page's
    // script engine; nothing when the page did not answer in time.
    std::optional<int> readMetric(const char* property);
    void writeMetric(const char* property, int value);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Where a capture stopped early, when it did.
    enum class Stop { None, Cancelled, Navigated, Unsteady, Failed, Refused };

    std::optional<QVariant> runScript(const QString& script, int timeoutMs = 5000);
    // Waits, handling events (the user's too while capturing), until done() holds or the time
    // is up; a cancel ends the wait at once.
    bool waitUntil(const std::function<bool()>& done, int timeoutMs);
    // Sends a script to the page without waiting for its answer.
    void sendScript(const QString& script);
    void ChooseScrollElement();
    void applyScrollProbe(const QVariant& answer);
    bool CapturePage(QImage& page);
    Stop copyPage(QImage& page, const QJsonObject& view);
    void showProgress(int done, int total);
    QRect viewOnScreen();
    void placeViewWindow();
    void keepOnTop(bool onTop);
    void timTimer_Timer();

    WebCaptureContext context_;
    QString scrollElement_; // a script expression naming the scrolling element, or empty
    bool capturing_ = false;
    bool loadPending_ = false;
    bool closed_ = false;
    bool cancelled_ = false;
    bool closeAfterCapture_ = false;
    Stop stop_ = Stop::None;
    QEventLoop* waiting_ = nullptr; // the wait a cancel ends
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
