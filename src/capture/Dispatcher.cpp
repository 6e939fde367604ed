#include "Dispatcher.h"

#include "capture/BrowserView.h"
#include "capture/CaptureFile.h"
#include "capture/FileNaming.h"
#include "capture/Grabber.h"
#include "common/Log.h"
#include "common/Prompts.h"
#include "common/WebAddress.h"

#include <QUrl>
#include <exception>
#include <unordered_set>

namespace morvane {

namespace {

// Window texts are matched and named as text; NUL bytes in them mean nothing.
QString textOf(Desktop& desktop, WindowId window) {
    QByteArray bytes = desktop.windowText(window);
    bytes.replace('\0', QByteArray());
    return QString::fromUtf8(bytes);
}

// Leading and trailing spaces off; tabs and other blanks stay.
QString trimSpaces(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == QLatin1Char(' ')) {
        ++first;
    }
    while (last > first && text[last - 1] == QLatin1Char(' ')) {
        --last;
    }
    return text.mid(first, last - first);
}

// Class names are compared as a 20-byte buffer holds them: at most 19 bytes.
bool isThunderForm(const QByteArray& className) {
    QByteArray name = className.left(19);
    name.replace('\0', QByteArray());
    return name == "ThunderFormDC";
}

// Bounds the parent climb: owner links on X can form a loop, which must not hang a capture.
constexpr int kMaxClimb = 256;

} // namespace

std::optional<AccessibleTarget> accessibleTarget(const AccessibleHit& hit, CaptureMode mode,
                                                 QRect windowRect) {
    if (hit.chain.isEmpty()) {
        return std::nullopt;
    }
    const AccessibleElement& control = hit.chain.first();
    const QRect controlRect = control.rect.intersected(windowRect);
    if (controlRect.isEmpty()) {
        return std::nullopt;
    }
    if (mode == CaptureMode::Control) {
        return AccessibleTarget{controlRect, control.name.isEmpty() ? control.text : control.name};
    }
    for (qsizetype i = 1; i < hit.chain.size(); ++i) {
        const QRect rect = hit.chain[i].rect.intersected(windowRect);
        if (rect != controlRect && rect.contains(controlRect)) {
            return AccessibleTarget{rect, hit.chain[i].name};
        }
    }
    return std::nullopt;
}

WindowId captureTarget(Desktop& desktop, CaptureMode mode, WindowId underPointer) {
    WindowId target = underPointer;
    if (mode == CaptureMode::Container) {
        if (const WindowId parent = desktop.parentOf(target); parent > 0) {
            target = parent;
        }
    } else if (mode == CaptureMode::Window) {
        std::unordered_set<WindowId> seen{target};
        for (int step = 0; step < kMaxClimb; ++step) {
            if (isThunderForm(desktop.className(target))) {
                break;
            }
            const WindowId parent = desktop.parentOf(target);
            if (parent == 0 || !seen.insert(parent).second) {
                break;
            }
            target = parent;
        }
    }
    return target;
}

Dispatcher::Dispatcher(CaptureHost& host, Desktop& desktop, Prompts& prompts,
                       ClipboardSink& clipboard, WebAddressOpener* webOpener)
    : host_(host), desktop_(desktop), prompts_(prompts), clipboard_(clipboard),
      webOpener_(webOpener) {}

void Dispatcher::DoCapture() {
    lastFile_.clear();
    try {
        runRequest();
    } catch (const std::exception& error) {
        // Whatever failed (a capture too large to hold, say), the request ends and says so.
        qCWarning(lcMorvane) << "capture request failed:" << error.what();
        report(CaptureOutcome::nothing(
            QStringLiteral("抓图时出错（%1）").arg(QString::fromLocal8Bit(error.what()))));
    } catch (...) {
        qCWarning(lcMorvane) << "capture request failed";
        report(CaptureOutcome::nothing(QStringLiteral("抓图时出错")));
    }
    // Every request, however it ended, leaves no delayed capture armed.
    host_.disarmDelayedCapture();
}

void Dispatcher::runRequest() {
    // The page under the stitch would be photographed half scrolled, or another page loaded
    // under it; and the pointer is then over the program's own window, whose look-up on the
    // accessibility bus could only run out its time.
    if (webOpener_ && webOpener_->pageCaptureRunning()) {
        qCInfo(lcMorvane) << "capture request ignored: a page capture is running";
        return;
    }
    const QString folder = host_.saveFolder();
    if (trimSpaces(folder).isEmpty()) {
        qCInfo(lcMorvane) << "capture request ended: no save folder";
        prompts_.message(QStringLiteral("请设置保存路径"));
        return;
    }

    const QPoint pointer = desktop_.pointerPosition();
    TargetWnd = desktop_.windowAt(pointer);
    const WindowId underPointer = TargetWnd;

    const CaptureMode mode = host_.captureMode();
    if (mode == CaptureMode::WebPage) {
        openWebAddress(pointer);
        return;
    }
    TargetWnd = captureTarget(desktop_, mode, TargetWnd);
    QString title = CleanTitle(textOf(desktop_, TargetWnd));

    const bool withPointer = host_.pointerOverlay();
    QImage picture = mode == CaptureMode::FullScreen
                         ? GrabFullScreen(desktop_, pointer, withPointer)
                         : GrabWindowRect(desktop_, TargetWnd, pointer, withPointer);
    if (picture.isNull()) {
        qCWarning(lcMorvane) << "capture request ended: the grab gave no picture of window"
                             << TargetWnd;
        const QString why = desktop_.grabFailure();
        report(CaptureOutcome::nothing(why.isEmpty() ? QStringLiteral("未能取得屏幕图像") : why));
        return;
    }
    // The pixels are taken; only now is the bus asked which part of them is the target.
    if ((mode == CaptureMode::Control || mode == CaptureMode::Container) && accessibility_) {
        cropToAccessible(picture, title, underPointer, pointer, mode);
    }
    // The file first: what the clipboard and the main window do with the picture can wait
    // until it is complete. A folder that refuses the file, or a title with every number
    // taken, leaves the capture on the clipboard only; the routine logs why and the report
    // tells the user.
    CaptureFileResult result;
    try {
        result = writeCaptureFile(folder, title, picture);
    } catch (...) {
        // Even a write that could not be attempted leaves the picture to paste.
        clipboard_.setImage(picture);
        host_.holdPicture(picture);
        throw;
    }
    if (result.written()) {
        lastFile_ = result.path;
    }
    clipboard_.setImage(picture);
    host_.holdPicture(picture);
    report(CaptureOutcome::of(result));
}

void Dispatcher::report(const CaptureOutcome& outcome) {
    if (report_) {
        report_(outcome);
    }
}

void Dispatcher::cropToAccessible(QImage& picture, QString& title, WindowId underPointer,
                                  QPoint pointer, CaptureMode mode) {
    const QRect windowRect = desktop_.windowRect(underPointer);
    const QRect grabbed = desktop_.windowRect(TargetWnd);
    const std::optional<AccessibleHit> hit =
        accessibility_->elementAt(underPointer, windowRect, pointer);
    const std::optional<AccessibleTarget> target =
        hit ? accessibleTarget(*hit, mode, windowRect) : std::nullopt;
    if (!target || !grabbed.contains(target->rect) || picture.size() != grabbed.size()) {
        return; // the X window stands
    }
    picture = picture.copy(target->rect.translated(-grabbed.topLeft()));
    const QString windowTitle = CleanTitle(textOf(desktop_, underPointer));
    const QString name = CleanTitle(target->name);
    title = name.isEmpty() ? windowTitle : name;
}

QString Dispatcher::addressUnderPointer(QPoint pointer) {
    QString windowText = trimSpaces(textOf(desktop_, TargetWnd));
    if (windowText.contains(QLatin1Char('\\')) || windowText.contains(QLatin1String("//"))) {
        return withoutUserInfo(windowText);
    }
    if (accessibility_) {
        const std::optional<AccessibleHit> hit =
            accessibility_->elementAt(TargetWnd, desktop_.windowRect(TargetWnd), pointer);
        if (hit && !hit->chain.isEmpty() && hit->chain.first().editable) {
            const AccessibleElement& entry = hit->chain.first();
            // A browser that shows the address without its scheme may tell the page's
            // full address; it is taken when it is the one the entry shows.
            QString shown = completeWebAddress(entry.text);
            QString full = exactWebAddress(entry.document);
            if (!full.isEmpty() && !shown.isEmpty() &&
                QUrl(full).matches(QUrl(shown), QUrl::RemoveScheme | QUrl::StripTrailingSlash)) {
                return full;
            }
            if (!shown.isEmpty()) {
                return shown;
            }
            qCInfo(lcMorvane) << "web capture: the entry under the pointer holds no address:"
                              << entry.text;
        }
    }
    // The user may just have copied the address from any browser's address bar.
    for (const bool selection : {false, true}) {
        QString copied = exactWebAddress(clipboard_.text(selection));
        if (!copied.isEmpty()) {
            return copied;
        }
    }
    return {};
}

void Dispatcher::openWebAddress(QPoint pointer) {
    const QString address = addressUnderPointer(pointer);
    if (address.isEmpty()) {
        qCInfo(lcMorvane) << "web capture request ended: no address under the pointer:"
                          << textOf(desktop_, TargetWnd);
        prompts_.message(QStringLiteral("请将鼠标悬停在网页浏览器的地址栏上"),
                         MessageScope::System);
        // A browser that keeps its address bar off the bus (Chromium unless started with
        // --force-renderer-accessibility) still gives its address through the clipboard:
        // say so once.
        if (!browserHintGiven_ && report_ && isInWebBrowser(desktop_, TargetWnd)) {
            browserHintGiven_ = true;
            report_(CaptureOutcome::hint(kCopyAddressHint));
        }
        return;
    }
    if (!webOpener_) {
        qCWarning(lcMorvane) << "web capture request ended: no browser window to open" << address;
        return;
    }
    webOpener_->openAddress(address);
}

} // namespace morvane
