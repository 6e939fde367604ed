#include "Dispatcher.h"

#include "capture/CaptureFile.h"
#include "capture/FileNaming.h"
#include "capture/Grabber.h"
#include "common/Log.h"
#include "common/Prompts.h"

#include <QClipboard>
#include <QGuiApplication>
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

void QtClipboard::setImage(const QImage& image) {
    QGuiApplication::clipboard()->setImage(image, QClipboard::Clipboard);
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
        // Whatever failed (a capture too large to hold, say), the request ends quietly.
        qCWarning(lcMorvane) << "capture request failed:" << error.what();
    } catch (...) {
        qCWarning(lcMorvane) << "capture request failed";
    }
    // Every request, however it ended, leaves no delayed capture armed.
    host_.disarmDelayedCapture();
}

void Dispatcher::runRequest() {
    const QString folder = host_.saveFolder();
    if (trimSpaces(folder).isEmpty()) {
        qCInfo(lcMorvane) << "capture request ended: no save folder";
        prompts_.message(QStringLiteral("请设置保存路径"));
        return;
    }

    const QPoint pointer = desktop_.pointerPosition();
    TargetWnd = desktop_.windowAt(pointer);

    const CaptureMode mode = host_.captureMode();
    if (mode == CaptureMode::WebPage) {
        openWebAddress();
        return;
    }
    TargetWnd = captureTarget(desktop_, mode, TargetWnd);
    const QString title = CleanTitle(textOf(desktop_, TargetWnd));

    const bool withPointer = host_.pointerOverlay();
    const QImage picture = mode == CaptureMode::FullScreen
                               ? GrabFullScreen(desktop_, pointer, withPointer)
                               : GrabWindowRect(desktop_, TargetWnd, pointer, withPointer);
    if (picture.isNull()) {
        qCWarning(lcMorvane) << "capture request ended: the grab gave no picture of window"
                             << TargetWnd;
        return;
    }
    clipboard_.setImage(picture);
    host_.holdPicture(picture);

    // A folder that refuses the file, or a title with every number taken, leaves the
    // capture on the clipboard only; the routine logs why and the report tells the user.
    const CaptureFileResult result = writeCaptureFile(folder, title, picture);
    if (result.written()) {
        lastFile_ = result.path;
    }
    if (fileReport_) {
        fileReport_(result);
    }
}

void Dispatcher::openWebAddress() {
    const QString address = trimSpaces(textOf(desktop_, TargetWnd));
    if (!address.contains(QLatin1Char('\\')) && !address.contains(QLatin1String("//"))) {
        qCInfo(lcMorvane) << "web capture request ended: no address under the pointer:" << address;
        prompts_.message(QStringLiteral("请将鼠标悬停在网页浏览器的地址栏上"),
                         MessageScope::System);
        return;
    }
    if (!webOpener_) {
        qCWarning(lcMorvane) << "web capture request ended: no browser window to open" << address;
        return;
    }
    webOpener_->openAddress(address);
}

} // namespace morvane
