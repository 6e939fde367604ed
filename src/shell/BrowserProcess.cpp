#include "BrowserProcess.h"

#include "common/Log.h"
#include "common/Prompts.h"
#include "common/WebAddress.h"
#include "platform/Clipboard.h"
#include "shell/BrowserLink.h"

#include <QJsonObject>
#include <QProcess>
#include <QWidget>
#include <csignal>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace morvane {

namespace {

// How long a window asked to close at the program's end is waited for.
constexpr int kCloseWaitMs = 3000;
// The descriptor the window's process finds its end of the link on.
constexpr int kLinkFd = 3;

} // namespace

BrowserProcess::BrowserProcess(const WebCaptureContext& context, QString program)
    : context_(context), program_(std::move(program)) {}

BrowserProcess::~BrowserProcess() {
    closing_ = true;
    // Its end of the link closing tells the window to close, a capture cancelled.
    link_.reset();
    QList<QProcess*> running = findChildren<QProcess*>(Qt::FindDirectChildrenOnly);
    if (process_) {
        process_->disconnect(this);
        running << process_.get();
    }
    for (QProcess* process : running) {
        if (process->state() != QProcess::NotRunning && !process->waitForFinished(kCloseWaitMs)) {
            process->kill();
            process->waitForFinished(kCloseWaitMs);
        }
    }
}

void BrowserProcess::openAddress(const QString& address) {
    // An address read from another window is only opened as a web page.
    if (!isWebAddress(address)) {
        qCWarning(lcMorvane) << "web capture request refused: not a web address:" << address;
        context_.prompts->message(QStringLiteral("请将鼠标悬停在网页浏览器的地址栏上"),
                                  MessageScope::System);
        return;
    }
    if (!link_ && !start()) {
        return;
    }
    // The main window waits while the window is open; it is disabled at once, before the
    // web engine has started.
    setMainEnabled(false);
    const QString folder = context_.saveFolder ? context_.saveFolder() : QString();
    link_->send({{QStringLiteral("open"), address}, {QStringLiteral("folder"), folder}});
}

void BrowserProcess::closeBrowser() {
    if (link_) {
        closing_ = true;
        link_->send({{QStringLiteral("close"), true}});
    }
}

bool BrowserProcess::start() {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        qCWarning(lcMorvane) << "browser window not started: no socket pair";
        context_.prompts->message(QStringLiteral("无法打开浏览器窗口：系统资源不足"),
                                  MessageScope::System);
        return false;
    }
    const int theirs = ends[1];
    process_ = std::make_unique<QProcess>();
    process_->setProgram(program_);
    process_->setArguments({QString::fromLatin1(kBrowserWindowArgument)});
    process_->setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kBrowserLinkVariable), QString::number(kLinkFd));
    process_->setProcessEnvironment(environment);
    process_->setChildProcessModifier([theirs] {
        // dup2 leaves the copy open across exec; the window goes if the program does.
        ::dup2(theirs, kLinkFd);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    });
    process_->start();
    ::close(theirs);
    if (!process_->waitForStarted()) {
        qCWarning(lcMorvane) << "browser window not started:" << program_
                             << process_->errorString();
        ::close(ends[0]);
        process_.reset();
        context_.prompts->message(QStringLiteral("无法打开浏览器窗口：") + program_,
                                  MessageScope::System);
        return false;
    }
    connect(process_.get(), &QProcess::finished, this, &BrowserProcess::ended);
    link_ = std::make_unique<BrowserLink>(ends[0]);
    connect(link_.get(), &BrowserLink::received, this, &BrowserProcess::handle);
    // What no copy of the program sends: the process is ended, and its end reported.
    connect(link_.get(), &BrowserLink::ended, this, [this] {
        if (process_ && process_->state() != QProcess::NotRunning) {
            process_->kill();
        }
    });
    closing_ = false;
    gotPicture_ = false;
    return true;
}

void BrowserProcess::handle(const LinkMessage& message) {
    const QJsonObject& json = message.json;
    if (!message.picture.isNull()) {
        gotPicture_ = true;
        context_.clipboard->setImage(message.picture);
    } else if (const std::optional<CaptureOutcome> outcome = outcomeOf(json)) {
        gotPicture_ = false;
        if (context_.report) {
            context_.report(*outcome);
        }
    } else if (json.contains(QStringLiteral("capturing"))) {
        capturing_ = json.value(QStringLiteral("capturing")).toBool();
    } else if (json.contains(QStringLiteral("enabled"))) {
        if (json.value(QStringLiteral("enabled")).toBool()) {
            windowClosed();
        } else {
            setMainEnabled(false);
        }
    }
}

void BrowserProcess::windowClosed() {
    // The process ends by itself now: a request from here on starts a new one rather than
    // reach one on its way out. It is ended with this object if it has not gone by then.
    capturing_ = false;
    link_.reset();
    if (process_) {
        QProcess* leaving = process_.release();
        leaving->disconnect(this);
        leaving->setParent(this);
        if (leaving->state() == QProcess::NotRunning) {
            leaving->deleteLater();
        } else {
            connect(leaving, &QProcess::finished, leaving, &QObject::deleteLater);
        }
    }
    setMainEnabled(true);
}

void BrowserProcess::ended() {
    // Its last words may still wait in the link: a picture, an outcome, the capture's state.
    if (link_) {
        link_->drain();
    }
    const bool told = process_ && process_->exitStatus() == QProcess::NormalExit &&
                      process_->exitCode() == kBrowserToldStatus;
    const bool surprise =
        !closing_ && !told && process_ &&
        (process_->exitStatus() == QProcess::CrashExit || process_->exitCode() != 0 || capturing_);
    if (surprise) {
        qCWarning(lcMorvane) << "browser window's process ended unexpectedly:"
                             << process_->exitCode() << process_->errorString();
        const QString reason = QStringLiteral("浏览器窗口意外结束");
        if (context_.report && gotPicture_) {
            // The page is on the clipboard; its file may not have been written.
            context_.report({CaptureOutcome::Kind::NotWritten, {}, reason});
        } else if (context_.report) {
            context_.report(CaptureOutcome::nothing(
                capturing_ ? reason + QStringLiteral("，网页没有抓下") : reason));
        }
    }
    capturing_ = false;
    link_.reset();
    if (process_) {
        process_->disconnect(this);
        process_.release()->deleteLater();
    }
    setMainEnabled(true);
}

void BrowserProcess::setMainEnabled(bool enabled) {
    if (context_.mainWindow) {
        context_.mainWindow->setEnabled(enabled);
    }
}

} // namespace morvane
