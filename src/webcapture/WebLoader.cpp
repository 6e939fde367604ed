#include "WebLoader.h"

#include "common/Log.h"
#include "common/Prompts.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QOpenGLContext>
#include <QStringList>
#include <sys/stat.h>

// Qt's own (exported, though not in its public headers): the context that every OpenGL context
// made after it shares with.
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);

namespace morvane {

void shareOpenGLContexts() {
    if (QOpenGLContext::globalShareContext()) {
        return;
    }
    auto* context = new QOpenGLContext(qApp);
    if (context->create()) {
        qt_gl_set_global_share_context(context);
    } else {
        delete context; // no OpenGL at all: the page is drawn in software all the same
    }
}

namespace {

// Where the module may be, both relative to the program's own folder: the private library
// folder of an installation (MORVANE_MODULE_FROM_PROGRAM, e.g.
// "../lib/x86_64-linux-gnu/morvane"), then beside the program, as in the build folder.
// No absolute folder is built in: a build folder named in the binary could later be
// created by anyone, and whatever sat there would run inside the program.
QStringList moduleCandidates() {
    const QString folder = QCoreApplication::applicationDirPath();
    const QString name = QStringLiteral("/morvane_web.so");
    return {QFileInfo(folder + QStringLiteral("/" MORVANE_MODULE_FROM_PROGRAM) + name)
                .absoluteFilePath(),
            folder + name};
}

std::unique_ptr<WebBrowser> fail(Prompts* prompts, const QString& reason) {
    qCWarning(lcMorvane) << "web capture request ended: web module not loaded:" << reason;
    if (prompts) {
        prompts->message(QStringLiteral("网页抓图模块无法加载：") + reason);
    }
    return nullptr;
}

} // namespace

std::unique_ptr<WebBrowser> loadWebBrowser(const WebCaptureContext& context) {
    return loadWebBrowserFrom(moduleCandidates(), context);
}

std::unique_ptr<WebBrowser> loadWebBrowserFrom(const QStringList& candidates,
                                               const WebCaptureContext& context) {
    QString path;
    for (const QString& candidate : candidates) {
        if (QFileInfo::exists(candidate)) {
            path = candidate;
            break;
        }
    }
    if (path.isEmpty()) {
        return fail(context.prompts,
                    QStringLiteral("找不到 ") + candidates.join(QStringLiteral("、")));
    }
    // The loader reads whatever it opens until it has a library: a pipe would keep it waiting
    // for a writer, a device for ever.
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return fail(context.prompts, path + QStringLiteral(" 不是普通文件"));
    }
    shareOpenGLContexts();
    QLibrary module(path);
    if (!module.load()) {
        return fail(context.prompts, module.errorString());
    }
    const auto create = reinterpret_cast<CreateWebBrowser>(module.resolve(kCreateWebBrowser));
    if (!create) {
        return fail(context.prompts,
                    path + QStringLiteral(" 中没有入口 ") + QString::fromLatin1(kCreateWebBrowser));
    }
    std::unique_ptr<WebBrowser> browser(create(&context));
    if (!browser) {
        return fail(context.prompts, path + QStringLiteral(" 没有建立浏览器窗口"));
    }
    qCInfo(lcMorvane) << "web module loaded from" << path;
    return browser;
}

} // namespace morvane
