// Web mode in a real KWin session: the address is read off the window under the pointer, the
// program's own browser window opens on Wayland, and the page is stitched from the view's
// own rendering, since no Wayland client may read the screen.
#include "capture/Dispatcher.h"
#include "shell/FrmMain.h"
#include "support/KWinSession.h"
#include "support/PageServer.h"
#include "support/ShellInTempFolder.h"
#include "support/Widgets.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QToolBar>
#include <gtest/gtest.h>

using namespace morvane;

namespace {

QRgb blockColour(int block) {
    return qRgb((block * 37) % 256, (block * 91 + 40) % 256, (block * 53 + 90) % 256);
}

// A page of 100-row blocks of flat colours, as wide as the view.
QByteArray stripes(int blocks) {
    QByteArray html = "<!DOCTYPE html><html><head><title>Page</title><style>"
                      "html,body{margin:0;padding:0}div{height:100px}</style></head><body>";
    for (int block = 0; block < blocks; ++block) {
        html += "<div style='background:" +
                QStringLiteral("#%1")
                    .arg(blockColour(block) & 0xffffff, 6, 16, QLatin1Char('0'))
                    .toUtf8() +
                "'></div>";
    }
    return html + "</body></html>";
}

class KWinWeb : public ::testing::Test, protected test::ShellInTempFolder {
protected:
    KWinWeb() {
        QDir().mkpath(shots);
        shell.setSessionKind(SessionKind::KWin);
    }
    QString shots = dir.filePath(QStringLiteral("shots"));
};

} // namespace

TEST_F(KWinWeb, AnAddressUnderThePointerIsOpenedAndItsPageStitchedExactly) {
    test::PageServer server(stripes(30));
    ASSERT_TRUE(shell.startUp());
    Frm_Main& w = *shell.mainWindow();
    w.Txt_App->setText(shots);
    w.Opt_Web->setChecked(true);

    // Another program's window whose title is the address, as some browsers show it.
    QWidget addressBar;
    addressBar.setWindowTitle(server.url().toString());
    addressBar.resize(500, 80);
    addressBar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&addressBar));
    // KWin places the window; the pointer goes where KWin says it is, once KWin has it.
    QStringList xy;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            xy = test::kwin::runKWinScript(
                     "var c = workspace.clientList(); for (var i = 0; i < c.length; ++i)"
                     " if (c[i].caption == '" +
                     server.url().toString() +
                     "') {"
                     " var f = c[i].frameGeometry; reply(Math.round(f.x + 20) + ' ' +"
                     " Math.round(f.y + 20)); } reply('');")
                     .split(QLatin1Char(' '), Qt::SkipEmptyParts);
            return xy.size() == 2;
        },
        10000));
    test::kwin::movePointer(QPoint(xy[0].toInt(), xy[1].toInt()));
    shell.dispatcher().DoCapture();
    addressBar.close();

    QWidget* browser = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            browser = test::browserWindow();
            return browser && browser->windowTitle() == QStringLiteral("Page");
        },
        20000));
    QTest::qWait(300);
    QAction* stitch = nullptr;
    for (QAction* action : browser->findChild<QToolBar*>()->actions()) {
        if (action->data().toString() == QLatin1String("gdzt")) {
            stitch = action;
        }
    }
    ASSERT_NE(stitch, nullptr);
    stitch->trigger();
    const QString file = shots + QStringLiteral("/temp1.bmp");
    EXPECT_EQ(prompts.messages, QStringList{QStringLiteral("完成抓图\r\n输出到") + file});
    const QImage saved = QImage(file, "BMP").convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(saved.height(), 3000);
    int wrong = 0;
    for (int y = 0; y < saved.height(); ++y) {
        for (int x = 0; x < saved.width(); x += 7) {
            wrong += (saved.pixel(x, y) & 0xffffff) != (blockColour(y / 100) & 0xffffff);
        }
    }
    EXPECT_EQ(wrong, 0);
}
