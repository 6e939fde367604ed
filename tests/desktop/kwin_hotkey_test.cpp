// The capture hotkey in a real KWin session: KDE's shortcut service carries it out whichever
// window has focus; keys come from KWin's fake input, as a keyboard's would.
#include "shell/FrmMain.h"
#include "shell/SettingsStore.h"
#include "support/KWinSession.h"
#include "support/RecordingNotifier.h"
#include "support/ShellInTempFolder.h"

#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace morvane;

namespace {

class KWinHotkey : public ::testing::Test, protected test::ShellInTempFolder {
protected:
    KWinHotkey() {
        QDir().mkpath(shots());
        SettingsStore(settingsPath).write(QStringLiteral("savepath"), shots());
        shell.setSessionKind(SessionKind::KWin);
        shell.setNotifier(notifier);
    }

    QString shots() const { return dir.filePath(QStringLiteral("shots")); }
    qsizetype captures() const { return QDir(shots()).entryList(QDir::Files).size(); }
    bool pressGives(const char* keys, qsizetype count) {
        test::kwin::pressKeys(QString::fromLatin1(keys));
        if (!QTest::qWaitFor([&] { return captures() >= count; }, 5000)) {
            return false;
        }
        QTest::qWait(300); // and no second capture
        return captures() == count;
    }
    // Gives a press that should do nothing the time it would take to do something.
    bool pressLeaves(const char* keys, qsizetype count) {
        test::kwin::pressKeys(QString::fromLatin1(keys));
        QTest::qWait(600);
        return captures() == count;
    }

    ~KWinHotkey() override {
        if (heldElsewhere_) {
            holdElsewhere(0); // the combination back for the tests after this one
        }
    }

    // Another component of the shortcut service takes the combination first (none: 0).
    void holdElsewhere(int keys) {
        heldElsewhere_ = keys != 0;
        const QStringList action{QStringLiteral("elsewhere"), QStringLiteral("held"),
                                 QStringLiteral("Elsewhere"), QStringLiteral("Held")};
        for (const char* method : {"doRegister", "setShortcut"}) {
            QDBusMessage call = QDBusMessage::createMethodCall(
                QStringLiteral("org.kde.kglobalaccel"), QStringLiteral("/kglobalaccel"),
                QStringLiteral("org.kde.KGlobalAccel"), QString::fromLatin1(method));
            if (QByteArray(method) == "doRegister") {
                call.setArguments({action});
            } else {
                call.setArguments(
                    {action, QVariant::fromValue(QList<int>{keys}), QVariant::fromValue(uint(6))});
            }
            ASSERT_EQ(QDBusConnection::sessionBus().call(call).type(), QDBusMessage::ReplyMessage);
        }
    }

    test::RecordingNotifier notifier;
    bool heldElsewhere_ = false;
};

} // namespace

TEST_F(KWinHotkey, RegisteredReplacedAndReleased) {
    ASSERT_TRUE(shell.startUp());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(shell.mainWindow()));
    EXPECT_TRUE(pressGives("ctrl+s", 1));
    // On the clipboard without any window of the program having focus.
    QProcess paste;
    paste.start(QStringLiteral("timeout"), {QStringLiteral("5"), QStringLiteral("wl-paste"),
                                            QStringLiteral("--type"), QStringLiteral("image/png")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return paste.state() == QProcess::NotRunning; }, 8000));
    const QString file =
        QDir(shots()).absoluteFilePath(QDir(shots()).entryList(QDir::Files).first());
    EXPECT_EQ(QImage::fromData(paste.readAllStandardOutput(), "PNG")
                  .convertToFormat(QImage::Format_RGB32),
              QImage(file, "BMP").convertToFormat(QImage::Format_RGB32));

    Frm_Main& w = *shell.mainWindow();
    w.Combo1->setEditText(QStringLiteral("Alt"));
    w.Combo2->setEditText(QStringLiteral("D"));
    QTest::mouseClick(w.Cmd_Yes, Qt::LeftButton);
    EXPECT_TRUE(pressLeaves("ctrl+s", 1)); // the old combination is given back
    EXPECT_TRUE(pressGives("alt+d", 2));

    shell.shutDown();
    EXPECT_TRUE(pressLeaves("alt+d", 2));
    EXPECT_TRUE(notifier.shown.isEmpty()) << qPrintable(notifier.shown.join('\n'));
}

TEST_F(KWinHotkey, ACombinationAnotherComponentHoldsIsAnnounced) {
    holdElsewhere(int(Qt::ControlModifier) | int(Qt::Key_S));
    ASSERT_TRUE(shell.startUp());
    ASSERT_EQ(notifier.shown.size(), 1);
    EXPECT_TRUE(notifier.shown.first().startsWith(QStringLiteral("抓图组合键不可用|")));
    EXPECT_TRUE(pressLeaves("ctrl+s", 0));

    Frm_Main& w = *shell.mainWindow();
    w.Combo2->setEditText(QStringLiteral("Q"));
    QTest::mouseClick(w.Cmd_Yes, Qt::LeftButton);
    EXPECT_TRUE(pressGives("ctrl+q", 1));
}
