// The whole-page capture on the private X server: a page drawn from exact colours is opened
// from another window's title, captured view by view, and compared pixel by pixel.
#include "shell/FrmMain.h"
#include "shell/InstanceLock.h"
#include "shell/SettingsStore.h"
#include "shell/Shell.h"
#include "support/RecordingPrompts.h"
#include "support/TestWindows.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <gtest/gtest.h>

using namespace morvane;

namespace {

QWidget* browserWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("morvane::FrmBrowser") && widget->isVisible()) {
            return widget;
        }
    }
    return nullptr;
}

QRgb blockColour(int block) {
    return qRgb((block * 37) % 256, (block * 91 + 40) % 256, (block * 53 + 90) % 256);
}

} // namespace

TEST(WebCapture, TallPageIsStitchedExactly) {
    QTemporaryDir dir;
    const QString shots = dir.filePath(QStringLiteral("shots"));
    QDir().mkpath(shots);
    QFile(shots + QStringLiteral("/temp1.bmp")).open(QIODevice::WriteOnly);
    QFile(shots + QStringLiteral("/temp3.bmp")).open(QIODevice::WriteOnly);

    // 50 blocks of 100 rows, each its own colour, as wide as the view.
    QByteArray html =
        "<!DOCTYPE html><html><head><title>Blocks</title><style>html,body{margin:0;padding:0}"
        "div{height:100px}</style></head><body>";
    for (int block = 0; block < 50; ++block) {
        html += QStringLiteral("<div style='background:#%1'></div>")
                    .arg(blockColour(block) & 0xffffff, 6, 16, QLatin1Char('0'))
                    .toUtf8();
    }
    html += "</body></html>";
    const QString page = dir.filePath(QStringLiteral("page.html"));
    {
        QFile file(page);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(html);
    }

    SettingsStore settings(dir.filePath(QStringLiteral("Morvane.conf")));
    test::RecordingPrompts prompts;
    InstanceLock lock(dir.filePath(QStringLiteral("morvane.lock")));
    Shell shell(settings, prompts, lock, [] {});
    ASSERT_TRUE(shell.startUp());
    FrmMain& w = *shell.mainWindow();
    w.Txt_App->setText(shots);
    w.Opt_Web->setChecked(true);

    // Another browser's address bar: a window whose text is the address.
    test::TestWindows windows;
    const WindowId addressBar =
        windows.create({.rect = QRect(0, 0, 600, 40),
                        .title = QUrl::fromLocalFile(page).toString().toUtf8(),
                        .overrideRedirect = true});
    windows.warpPointer(QPoint(10, 10));
    shell.dispatcher().DoCapture();
    windows.destroy(addressBar);
    ASSERT_TRUE(QTest::qWaitFor([] { return browserWindow() != nullptr; }, 10000));
    QWidget* browser = browserWindow();
    EXPECT_FALSE(w.isEnabled());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !browser->windowTitle().isEmpty() &&
                   browser->windowTitle() == QStringLiteral("Blocks");
        },
        20000))
        << "title: " << browser->windowTitle().toStdString()
        << " address: " << browser->findChild<QComboBox*>()->currentText().toStdString();
    QTest::qWait(300);

    QAction* capture = nullptr;
    for (QAction* action : browser->findChild<QToolBar*>()->actions()) {
        if (action->data().toString() == QLatin1String("gdzt")) {
            capture = action;
        }
    }
    ASSERT_NE(capture, nullptr);
    EXPECT_EQ(capture->toolTip(), QStringLiteral("滚动抓图"));
    capture->trigger();

    const QString file = shots + QStringLiteral("/temp2.bmp");
    ASSERT_TRUE(QFile::exists(file));
    EXPECT_EQ(prompts.messages, QStringList{QStringLiteral("完成抓图\r\n输出到") + file});
    const QImage saved = QImage(file, "BMP").convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(saved.height(), 5000);
    int wrong = 0;
    for (int y = 0; y < 5000; ++y) {
        for (int x = 0; x < saved.width(); x += 7) {
            if ((saved.pixel(x, y) & 0xffffff) != (blockColour(y / 100) & 0xffffff) &&
                ++wrong < 5) {
                ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex
                              << saved.pixel(x, y);
            }
        }
    }
    EXPECT_EQ(wrong, 0);
    if (wrong) {
        // Which rows are off, as ranges.
        QString rows;
        int start = -1;
        for (int y = 0; y <= 5000; ++y) {
            const bool bad =
                y < 5000 && (saved.pixel(5, y) & 0xffffff) != (blockColour(y / 100) & 0xffffff);
            if (bad && start < 0)
                start = y;
            if (!bad && start >= 0) {
                rows += QStringLiteral("%1-%2 ").arg(start).arg(y - 1);
                start = -1;
            }
        }
        ADD_FAILURE() << "bad rows: " << rows.toStdString() << " width " << saved.width();
    }
    EXPECT_EQ(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32), saved);
    EXPECT_TRUE(QTest::qWaitFor([] { return browserWindow() == nullptr; }, 5000));
    EXPECT_TRUE(w.isEnabled());
}
