// Captures of real X windows on the private desktop: the files' pixels must be exactly
// the windows' colours, and the clipboard must hold the same picture.
#include "capture/Dispatcher.h"
#include "platform/X11Desktop.h"
#include "shell/FrmMain.h"
#include "shell/InstanceLock.h"
#include "shell/SettingsStore.h"
#include "shell/Shell.h"
#include "support/DesktopTools.h"
#include "support/RecordingCapture.h"
#include "support/RecordingPrompts.h"
#include "support/ShellInTempFolder.h"
#include "support/TestWindows.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace morvane;
using morvane::test::clipboardFromOutside;

namespace {

QImage loadBmp(const QString& path) {
    return QImage(path, "BMP").convertToFormat(QImage::Format_RGB32);
}

bool allPixels(const QImage& image, const QRect& area, QRgb colour) {
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (image.pixel(x, y) != colour) {
                return false;
            }
        }
    }
    return true;
}

class CaptureOnX : public ::testing::Test {
protected:
    CaptureOnX() {
        host.folder = dir.path();
        host.mode = CaptureMode::Control;
    }

    QTemporaryDir dir;
    test::TestWindows windows;
    X11Desktop desktop;
    test::RecordingHost host;
    test::RecordingPrompts prompts;
    QtClipboard clipboard;
    Dispatcher dispatcher{host, desktop, prompts, clipboard};
};

} // namespace

TEST_F(CaptureOnX, ControlContainerAndWindowModesOnRealWindows) {
    const WindowId owner = windows.create({.rect = QRect(100, 100, 400, 300),
                                           .colour = 0xff0000ff,
                                           .title = "Owner",
                                           .className = "OwnerClass"});
    const WindowId dialog = windows.create({.rect = QRect(700, 120, 300, 200),
                                            .colour = 0xff00ff00,
                                            .title = "Dia:log",
                                            .className = "DialogClass",
                                            .transientFor = owner});
    const WindowId button = windows.create({.rect = QRect(40, 50, 80, 30),
                                            .colour = 0xffff0000,
                                            .title = "OK",
                                            .className = "Button",
                                            .parent = dialog});
    const QRect buttonOnScreen = windows.screenRect(button);
    windows.warpPointer(buttonOnScreen.center());

    host.mode = CaptureMode::Control;
    dispatcher.DoCapture();
    ASSERT_EQ(dispatcher.lastFile(), dir.path() + QStringLiteral("/OKtemp1.bmp"));
    QImage picture = loadBmp(dispatcher.lastFile());
    EXPECT_EQ(picture.size(), QSize(80, 30));
    EXPECT_TRUE(allPixels(picture, picture.rect(), 0xffff0000));
    EXPECT_EQ(clipboardFromOutside(), picture);

    host.mode = CaptureMode::Container;
    dispatcher.DoCapture();
    EXPECT_EQ(dispatcher.lastFile(), dir.path() + QStringLiteral("/Dialogtemp1.bmp"));
    picture = loadBmp(dispatcher.lastFile());
    EXPECT_EQ(picture.size(), QSize(300, 200));
    EXPECT_TRUE(allPixels(picture, QRect(0, 0, 300, 40), 0xff00ff00));
    EXPECT_TRUE(allPixels(picture, QRect(40, 50, 80, 30), 0xffff0000));

    // The climb goes from the button through the dialog's frame to the owner it names,
    // and up to the owner's frame: the owner with its window-manager decorations.
    host.mode = CaptureMode::Window;
    dispatcher.DoCapture();
    EXPECT_EQ(dispatcher.lastFile(), dir.path() + QStringLiteral("/Ownertemp1.bmp"));
    picture = loadBmp(dispatcher.lastFile());
    const QRect frame = desktop.windowRect(dispatcher.TargetWnd);
    const QRect ownerClient = windows.screenRect(owner);
    EXPECT_TRUE(frame.contains(ownerClient));
    EXPECT_EQ(picture.size(), frame.size());
    EXPECT_TRUE(allPixels(picture, ownerClient.translated(-frame.topLeft()), 0xff0000ff));
}

TEST_F(CaptureOnX, ClipboardTextMarkedSecretByAPasswordManagerIsNotRead) {
    const auto offer = [](const char* text, bool secret, QClipboard::Mode mode) {
        auto* data = new QMimeData;
        data->setText(QString::fromUtf8(text));
        if (secret) {
            data->setData(QStringLiteral("x-kde-passwordManagerHint"), "secret");
        }
        QGuiApplication::clipboard()->setMimeData(data, mode);
    };
    offer("https://vault.example/", true, QClipboard::Clipboard);
    offer("https://vault.example/", true, QClipboard::Selection);
    EXPECT_EQ(clipboard.text(false), QString());
    EXPECT_EQ(clipboard.text(true), QString());
    offer("https://plain.example/", false, QClipboard::Clipboard);
    EXPECT_EQ(clipboard.text(false), QStringLiteral("https://plain.example/"));
}

TEST_F(CaptureOnX, WindowsReachingPastTheScreenAreCutToIt) {
    // At the top-right corner, away from the notification area at the bottom right.
    const WindowId edge = windows.create({.rect = QRect(1800, -100, 300, 200),
                                          .colour = 0xff123456,
                                          .title = "Edge",
                                          .overrideRedirect = true});
    (void)edge;
    windows.warpPointer(QPoint(1850, 50));
    dispatcher.DoCapture();
    const QImage picture = loadBmp(dispatcher.lastFile());
    ASSERT_EQ(picture.size(), QSize(120, 100));
    EXPECT_TRUE(allPixels(picture, picture.rect(), 0xff123456));

    // The largest window X allows: one screen's worth, not 4 GB.
    windows.create({.rect = QRect(-16000, -16000, 32767, 32767),
                    .colour = 0xff654321,
                    .title = "Huge",
                    .overrideRedirect = true});
    windows.warpPointer(QPoint(600, 500));
    dispatcher.DoCapture();
    ASSERT_EQ(dispatcher.lastFile(), dir.path() + QStringLiteral("/Hugetemp1.bmp"));
    const QImage huge = loadBmp(dispatcher.lastFile());
    ASSERT_EQ(huge.size(), QSize(1920, 1080));
    EXPECT_EQ(huge.pixel(600, 500), 0xff654321u);
}

TEST_F(CaptureOnX, PointerHotspotLandsOnThePointer) {
    const WindowId plain = windows.create({.rect = QRect(300, 300, 200, 200),
                                           .colour = 0xff000000,
                                           .title = "Plain",
                                           .overrideRedirect = true});
    (void)plain;
    const QPoint at(400, 400);
    windows.warpPointer(at);
    const auto pointer = desktop.pointerImage();
    ASSERT_TRUE(pointer) << "the X server gave no pointer image";
    ASSERT_TRUE(QRect(QPoint(), pointer->image.size()).contains(pointer->hotspot));

    host.overlay = true;
    dispatcher.DoCapture();
    const QImage picture = loadBmp(dispatcher.lastFile());
    ASSERT_EQ(picture.size(), QSize(200, 200));
    // Over black, each drawn pixel shows the pointer's own premultiplied colour.
    const QPoint corner = at - QPoint(300, 300) - pointer->hotspot;
    int compared = 0;
    for (int y = 0; y < pointer->image.height(); ++y) {
        for (int x = 0; x < pointer->image.width(); ++x) {
            const QPoint p = corner + QPoint(x, y);
            if (!picture.rect().contains(p)) {
                continue;
            }
            const QRgb expected = pointer->image.pixel(x, y);
            ASSERT_EQ(picture.pixel(p) & 0xffffff, expected & 0xffffff) << x << "," << y;
            ++compared;
        }
    }
    EXPECT_GT(compared, 0);

    // Without the box ticked the window is captured as it is.
    host.overlay = false;
    dispatcher.DoCapture();
    EXPECT_TRUE(allPixels(loadBmp(dispatcher.lastFile()), QRect(0, 0, 200, 200), 0xff000000));
}

class CaptureFromMainWindow : public ::testing::Test, protected test::ShellInTempFolder {};

TEST_F(CaptureFromMainWindow, DoCaptureReadsTheWindowsChoicesAndDisarmsTheDelay) {
    ASSERT_TRUE(shell.startUp());
    Frm_Main& w = *shell.mainWindow();
    test::TestWindows windows;
    windows.create({.rect = QRect(0, 0, 1920, 1080),
                    .colour = 0xff445566,
                    .title = "Backdrop",
                    .overrideRedirect = true});
    windows.warpPointer(QPoint(5, 5));

    // A blank folder: told, nothing captured, the delay disarmed all the same.
    w.Txt_App->setText(QStringLiteral("   "));
    prompts.answers << QStringLiteral("60") << QStringLiteral("60");
    w.Chk_Time->setChecked(true); // armed for a minute
    ASSERT_TRUE(w.Timer1->isActive());
    shell.dispatcher().DoCapture();
    EXPECT_EQ(prompts.messages, QStringList{QStringLiteral("请设置保存路径")});
    EXPECT_FALSE(w.Timer1->isActive());
    EXPECT_FALSE(w.Chk_Time->isChecked());

    // The full screen, named after the window under the pointer, held in Picture1.
    const QString folder = dir.filePath(QStringLiteral("shots"));
    ASSERT_TRUE(QDir().mkpath(folder));
    w.Txt_App->setText(folder);
    w.Chk_Time->setChecked(true);
    ASSERT_TRUE(w.Timer1->isActive());
    shell.dispatcher().DoCapture();
    EXPECT_EQ(shell.dispatcher().lastFile(), folder + QStringLiteral("/Backdroptemp1.bmp"));
    const QImage picture = loadBmp(shell.dispatcher().lastFile());
    EXPECT_EQ(picture.size(), QSize(1920, 1080));
    EXPECT_EQ(picture.pixel(5, 5), 0xff445566u);
    EXPECT_EQ(w.Picture1->picture.convertToFormat(QImage::Format_RGB32), picture);
    EXPECT_FALSE(w.Timer1->isActive());
    EXPECT_FALSE(w.Chk_Time->isChecked());
    EXPECT_EQ(prompts.messages.size(), 1);
}
