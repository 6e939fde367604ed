// The browser module's loading when something else lies in its place: each case ends at once
// with a message that says why.
#include "support/RecordingPrompts.h"
#include "webcapture/WebLoader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace morvane;

namespace {

struct NotAModule {
    const char* name;
    const char* library; // a built stand-in; empty: made in the folder by the case
    const char* reason;  // after the path
};

class WebCaptureModule : public ::testing::TestWithParam<NotAModule> {};

} // namespace

TEST_P(WebCaptureModule, IsRefusedWithItsReason) {
    QTemporaryDir dir;
    QString path = QString::fromUtf8(GetParam().library);
    if (path.isEmpty()) {
        path = dir.filePath(QStringLiteral("morvane_web.so"));
        const QString name = QString::fromLatin1(GetParam().name);
        if (name == QLatin1String("Pipe")) {
            ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (name == QLatin1String("Folder")) {
            ASSERT_TRUE(QDir().mkdir(path));
        }
    }
    test::RecordingPrompts prompts;
    WebCaptureContext context;
    context.prompts = &prompts;
    EXPECT_EQ(loadWebBrowserFrom({path}, context), nullptr);
    const QString reason = QString::fromUtf8(GetParam().reason);
    EXPECT_EQ(prompts.messages,
              QStringList{QStringLiteral("网页抓图模块无法加载：") +
                          (reason.startsWith(QLatin1Char(' ')) ? path : QString()) + reason})
        << prompts.messages.join(QLatin1Char('\n')).toStdString();
}

// Named without a prefix, so that the web group's filter runs it.
INSTANTIATE_TEST_SUITE_P(, WebCaptureModule,
                         ::testing::Values(NotAModule{"Pipe", "", " 不是普通文件"},
                                           NotAModule{"Folder", "", " 不是普通文件"},
                                           NotAModule{"NoEntry", MORVANE_MODULE_WITHOUT_ENTRY,
                                                      " 中没有入口 morvane_create_web_browser"},
                                           NotAModule{"EntryMakesNothing",
                                                      MORVANE_MODULE_MAKING_NOTHING,
                                                      " 没有建立浏览器窗口"}),
                         [](const auto& p) { return std::string(p.param.name); });
