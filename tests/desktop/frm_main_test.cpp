// The main window: its controls, settings and closing, in this process on the private desktop.
#include "common/Prompts.h"
#include "shell/FrmMain.h"
#include "shell/InstanceLock.h"
#include "shell/SettingsStore.h"
#include "shell/Shell.h"
#include "support/Pictures.h"
#include "support/RecordingPrompts.h"
#include "support/ShellInTempFolder.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace morvane;

namespace {

QStringList items(const QComboBox* combo) {
    QStringList result;
    for (int i = 0; i < combo->count(); ++i) {
        result << combo->itemText(i);
    }
    return result;
}

class MainWindowTest : public ::testing::Test, protected test::ShellInTempFolder {
protected:
    void writeSettings(const QByteArray& bytes) {
        QFile file(settingsPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    Frm_Main& start() {
        EXPECT_TRUE(shell.startUp());
        Frm_Main* window = shell.mainWindow();
        EXPECT_NE(window, nullptr);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
        return *window;
    }
};

} // namespace

TEST_F(MainWindowTest, FirstStartShowsDefaultsAndWritesNothing) {
    Frm_Main& w = start();
    EXPECT_EQ(w.Combo1->currentText(), QStringLiteral("Ctrl"));
    EXPECT_EQ(w.Combo2->currentText(), QStringLiteral("S"));
    EXPECT_EQ(w.Txt_App->text(), QCoreApplication::applicationDirPath());
    EXPECT_TRUE(w.Opt_All->isChecked());
    for (QRadioButton* other : {w.Opt_Part, w.Opt_Frame, w.Opt_Pro, w.Opt_Web}) {
        EXPECT_FALSE(other->isChecked()) << other->text().toStdString();
    }
    EXPECT_FALSE(w.Chk_Time->isChecked());
    EXPECT_FALSE(w.Timer1->isActive());
    EXPECT_TRUE(prompts.messages.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(settingsPath));
}

TEST_F(MainWindowTest, ListsHoldExactlyTheModifiersAndLettersAndAcceptTypedText) {
    Frm_Main& w = start();
    EXPECT_EQ(items(w.Combo1), QStringList({QStringLiteral("Ctrl"), QStringLiteral("Alt"),
                                            QStringLiteral("Shift")}));
    QStringList letters;
    for (char c = 'A'; c <= 'Z'; ++c) {
        letters << QString(QLatin1Char(c));
    }
    EXPECT_EQ(items(w.Combo2), letters);

    // Typed text stays as typed: no completion to "Ctrl", nothing added to the list.
    w.Combo1->lineEdit()->clear();
    QTest::keyClicks(w.Combo1->lineEdit(), QStringLiteral("ctrl"));
    QTest::keyClick(w.Combo1->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(w.Combo1->currentText(), QStringLiteral("ctrl"));
    EXPECT_EQ(w.Combo1->count(), 3);
    w.Combo2->lineEdit()->clear();
    QTest::keyClicks(w.Combo2->lineEdit(), QStringLiteral("F5"));
    EXPECT_EQ(w.Combo2->currentText(), QStringLiteral("F5"));
}

TEST_F(MainWindowTest, StoredOddValuesAreShownExactly) {
    SettingsStore(settingsPath).write(QStringLiteral("key1"), QStringLiteral("ctrl"));
    SettingsStore(settingsPath).write(QStringLiteral("key2"), QStringLiteral(" s "));
    SettingsStore(settingsPath).write(QStringLiteral("savepath"), QStringLiteral(" /tmp/x "));
    Frm_Main& w = start();
    EXPECT_EQ(w.Combo1->currentText(), QStringLiteral("ctrl"));
    EXPECT_EQ(w.Combo2->currentText(), QStringLiteral(" s "));
    EXPECT_EQ(w.Txt_App->text(), QStringLiteral(" /tmp/x "));

    SettingsStore(settingsPath)
        .write(QStringLiteral("savepath"), QStringLiteral("/home/me/截图=甲;乙#丙"));
    // A fresh window reads the same store.
    Frm_Main second(settings, prompts);
    second.loadSettings();
    EXPECT_EQ(second.Txt_App->text(), QStringLiteral("/home/me/截图=甲;乙#丙"));
}

TEST_F(MainWindowTest, GarbageSettingsFileGivesDefaultsAndIsNotRewritten) {
    const QByteArray garbage("\xff\xfe[config\nkey1==\n\x01 junk", 21);
    writeSettings(garbage);
    Frm_Main& w = start();
    EXPECT_EQ(w.Combo1->currentText(), QStringLiteral("Ctrl"));
    EXPECT_EQ(w.Combo2->currentText(), QStringLiteral("S"));
    shell.shutDown();
    EXPECT_EQ(test::fileBytes(settingsPath), garbage);
}

TEST_F(MainWindowTest, OkButtonsEachWriteOnlyTheirOwnKeys) {
    writeSettings("[config]\nkey1=ctrl\n");
    Frm_Main& w = start();

    w.Txt_App->setText(QStringLiteral(" /srv/截图 "));
    QTest::mouseClick(w.Cmd_Ok, Qt::LeftButton);
    SettingsStore reread(settingsPath);
    EXPECT_EQ(reread.read(QStringLiteral("savepath"), {}), QStringLiteral(" /srv/截图 "));
    EXPECT_EQ(reread.read(QStringLiteral("key1"), {}), QStringLiteral("ctrl"));
    EXPECT_EQ(reread.read(QStringLiteral("key2"), QStringLiteral("absent")),
              QStringLiteral("absent"));

    // Unchanged texts are written all the same.
    QTest::mouseClick(w.Cmd_Yes, Qt::LeftButton);
    EXPECT_EQ(reread.read(QStringLiteral("key1"), {}), QStringLiteral("ctrl"));
    EXPECT_EQ(reread.read(QStringLiteral("key2"), QStringLiteral("absent")), QStringLiteral("S"));
    EXPECT_TRUE(w.isVisible());
}

TEST_F(MainWindowTest, SecondInstanceIsToldOnceAndDoesNothingElse) {
    InstanceLock running(lockPath);
    ASSERT_TRUE(running.acquire());
    EXPECT_FALSE(shell.startUp());
    EXPECT_EQ(prompts.messages, QStringList({QStringLiteral("程序已运行")}));
    EXPECT_EQ(shell.mainWindow(), nullptr);
    EXPECT_TRUE(shell.isShutDown());
    EXPECT_EQ(endings, 1);
    EXPECT_FALSE(QFileInfo::exists(settingsPath));
}

TEST_F(MainWindowTest, ControlsSitWhereTheTwipsLayoutPutsThemAt96Dpi) {
    Frm_Main& w = start();
    ASSERT_DOUBLE_EQ(w.twipsPerPixel().x, 15.0) << "the private X server runs at 96 DPI";
    EXPECT_EQ(w.size(), QSize(488, 184));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(w.pos(), QPoint((screen.width() - 488) / 2, (screen.height() - 184) / 2));
    EXPECT_EQ(w.Ige_exit->geometry(), QRect(464, 0, 18, 18));
    EXPECT_EQ(w.Ige_min->geometry(), QRect(440, 0, 18, 18));
    EXPECT_EQ(w.Cmd_Yes->geometry(), QRect(256, 37, 65, 20));
    EXPECT_EQ(w.Frame1->geometry(), QRect(8, 64, 471, 111));
    // Inside the frame, places are relative to the frame.
    EXPECT_EQ(w.Cmd_Ok->parentWidget(), w.Frame1);
    EXPECT_EQ(w.Cmd_Ok->geometry(), QRect(376, 80, 71, 20));
    EXPECT_EQ(w.Cmd_App->geometry(), QRect(336, 80, 29, 18));
    EXPECT_EQ(w.Opt_Web->geometry(), QRect(24, 48, 73, 25));
    EXPECT_EQ(w.Txt_App->geometry(), QRect(64, 80, 269, 18));
    EXPECT_EQ(w.Combo1->geometry().topLeft(), QPoint(96, 37));
    EXPECT_EQ(w.Combo1->width(), 69);
    // The grabber's work surface lies wholly below the visible client area.
    EXPECT_GE(w.Picture1->geometry().top(), w.height());
    // The stand-in face keeps every label's text, underline included, inside the label.
    for (QLabel* text : {w.Label1, w.Label4, w.Label5, w.Label6, w.Label7}) {
        EXPECT_GE(text->height(), text->fontMetrics().lineSpacing()) << text->text().toStdString();
    }
}

TEST_F(MainWindowTest, MinimisingHidesAndClosingShutsDown) {
    Frm_Main& w = start();
    w.showMinimized();
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.isHidden(); }, 5000));
    EXPECT_FALSE(shell.isShutDown());

    // Restored at once, while the window manager may still be answering the minimise.
    w.showNormal();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QTest::qWait(300);
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.windowState() & Qt::WindowMinimized);
    w.close();
    EXPECT_TRUE(shell.isShutDown());
    EXPECT_EQ(endings, 1);
    EXPECT_TRUE(w.isHidden());
    EXPECT_FALSE(QFileInfo::exists(settingsPath));
}
