#include "WebLoader.h"

#include "common/Log.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QOpenGLContext>

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

std::unique_ptr<WebBrowser> loadWebBrowser(const WebCaptureContext& context) {
    shareOpenGLContexts();
    // Next to the program, or where the build put it.
    QLibrary module(QCoreApplication::applicationDirPath() + QStringLiteral("/morvane_web"));
    if (!module.load()) {
        module.setFileName(QStringLiteral(MORVANE_MODULE_DIR "/morvane_web"));
        if (!module.load()) {
            qCWarning(lcMorvane) << "web module not loaded:" << module.errorString();
            return nullptr;
        }
    }
    const auto create = reinterpret_cast<CreateWebBrowser>(module.resolve(kCreateWebBrowser));
    if (!create) {
        qCWarning(lcMorvane) << "web module has no" << kCreateWebBrowser << ":"
                             << module.errorString();
        return nullptr;
    }
    return std::unique_ptr<WebBrowser>(create(&context));
}

} // namespace morvane
