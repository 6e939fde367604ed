// The save-folder picker as the main window's "..." button opens it. Runs in a private
// mount namespace (ctest starts it under `unshare -rm`), so that a volume of its own can
// stand for another drive.
#include "editor/Folders.h"
#include "editor/FrmApp.h"
#include "shell/FrmMain.h"
#include "shell/InstanceLock.h"
#include "shell/SettingsStore.h"
#include "shell/Shell.h"
#include "support/DesktopTools.h"
#include "support/RecordingPrompts.h"
#include "support/ShellInTempFolder.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/mount.h>

using namespace morvane;
using namespace morvane::test;

namespace {

class FolderPicker : public ::testing::Test, protected test::ShellInTempFolder {
protected:
    FolderPicker() {
        volume = QDir::cleanPath(dir.filePath(QStringLiteral("volume")));
        QDir().mkpath(volume);
        mounted =
            ::mount("tmpfs", QFile::encodeName(volume).constData(), "tmpfs", 0, "size=64k") == 0;
        QDir().mkpath(volume + QStringLiteral("/photos/2024"));
        QDir().mkpath(volume + QStringLiteral("/photos/older"));
        EXPECT_TRUE(shell.startUp());
        main = shell.mainWindow();
    }
    ~FolderPicker() override {
        shell.shutDown();
        if (mounted) {
            ::umount(QFile::encodeName(volume).constData());
        }
    }

    // Clicks "..." and runs act on the picker once it is up; the click returns when the
    // picker has closed (it is closed here if act left it open).
    void withPicker(const std::function<void(Frm_App&)>& act) {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            (void)QTest::qWaitFor(
                [&] { return shell.folderPicker() && shell.folderPicker()->isVisible(); }, 5000);
            Frm_App* picker = shell.folderPicker();
            if (picker) {
                ran = true;
                act(*picker);
                if (shell.folderPicker()) {
                    shell.folderPicker()->reject();
                }
            }
        });
        QTest::mouseClick(main->Cmd_App, Qt::LeftButton);
        EXPECT_TRUE(ran) << "the picker did not come up";
        EXPECT_EQ(shell.folderPicker(), nullptr);
    }

    // Clicks or double-clicks the folder list's entry for path.
    static void clickFolder(FolderList& list, const QString& path, bool twice) {
        for (int i = 0; i < list.count(); ++i) {
            if (list.item(i)->data(Qt::UserRole).toString() == path) {
                const QPoint at = list.visualItemRect(list.item(i)).center();
                QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
                if (twice) {
                    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at);
                }
                return;
            }
        }
        ADD_FAILURE() << "no entry for " << path.toStdString();
    }

    QString storedFolder() const {
        return settings.read(settings_keys::kSavePath, QStringLiteral("(none)"));
    }

    QString volume;
    bool mounted = false;
    Frm_Main* main = nullptr;
};

} // namespace

TEST_F(FolderPicker, SmallModalToolWindowWithItsControlsInPlace) {
    withPicker([&](Frm_App& picker) {
        EXPECT_EQ(picker.windowTitle(), QStringLiteral("保存路径"));
        EXPECT_TRUE(picker.isModal());
        EXPECT_EQ(picker.windowType(), Qt::Tool);
        EXPECT_FALSE(picker.windowFlags() & Qt::WindowMinMaxButtonsHint);
        EXPECT_EQ(picker.size(), QSize(177, 199)); // 2655 x 2985 twips
        EXPECT_EQ(picker.Drive1->geometry(), QRect(8, 8, 161, 20));
        EXPECT_EQ(picker.Dir1->geometry(), QRect(8, 40, 161, 132));
        EXPECT_EQ(picker.Command1->geometry(), QRect(8, 176, 73, 18));
        EXPECT_EQ(picker.Command2->geometry(), QRect(96, 176, 73, 18));
        EXPECT_EQ(picker.Command1->text(), QStringLiteral("确定"));
        EXPECT_EQ(picker.Command2->text(), QStringLiteral("退出"));
        // The tab order: the next widget that takes the focus with Tab.
        const auto nextTab = [](QWidget* from) {
            QWidget* next = from->nextInFocusChain();
            while (next != from && !(next->focusPolicy() & Qt::TabFocus)) {
                next = next->nextInFocusChain();
            }
            return next;
        };
        EXPECT_EQ(nextTab(picker.Drive1), picker.Dir1);
        EXPECT_EQ(nextTab(picker.Dir1), picker.Command1);
        EXPECT_EQ(nextTab(picker.Command1), picker.Command2);
        for (QPushButton* button : {picker.Command1, picker.Command2}) {
            EXPECT_FALSE(button->isDefault());
            EXPECT_FALSE(button->autoDefault());
        }
        // Esc and Enter outside the buttons close nothing.
        picker.Dir1->setFocus();
        QTest::keyClick(picker.Dir1, Qt::Key_Escape);
        QTest::keyClick(picker.Dir1, Qt::Key_Return);
        EXPECT_TRUE(picker.isVisible());
        // Enter on a button that has the focus presses it.
        picker.Command2->setFocus();
        QTest::keyClick(picker.Command2, Qt::Key_Return);
        EXPECT_FALSE(picker.isVisible());
    });
}

TEST_F(FolderPicker, FolderOnAnotherVolumeIsShownAndOnlyTheOpenedFolderIsTaken) {
    ASSERT_TRUE(mounted) << "mounting needs a private mount namespace";
    ASSERT_TRUE(mountedDrives().contains(volume));
    const QString photos = volume + QStringLiteral("/photos");
    main->Txt_App->setText(photos);
    withPicker([&](Frm_App& picker) {
        EXPECT_EQ(picker.Drive1->currentText(), volume);
        EXPECT_EQ(picker.Dir1->path(), photos);
        // A single click only highlights; "确定" takes the folder that was open.
        clickFolder(*picker.Dir1, photos + QStringLiteral("/older"), false);
        EXPECT_EQ(picker.Dir1->path(), photos);
        QTest::mouseClick(picker.Command1, Qt::LeftButton);
    });
    EXPECT_EQ(main->Txt_App->text(), photos);
    EXPECT_EQ(storedFolder(), QStringLiteral("(none)")) << "the picker stores nothing";

    // A double-click opens a folder; the next opening starts where the box now points.
    withPicker([&](Frm_App& picker) {
        clickFolder(*picker.Dir1, photos + QStringLiteral("/2024"), true);
        EXPECT_EQ(picker.Dir1->path(), photos + QStringLiteral("/2024"));
        QTest::mouseClick(picker.Command1, Qt::LeftButton);
    });
    EXPECT_EQ(main->Txt_App->text(), photos + QStringLiteral("/2024"));
    withPicker(
        [&](Frm_App& picker) { EXPECT_EQ(picker.Dir1->path(), photos + QStringLiteral("/2024")); });
    QTest::mouseClick(main->Cmd_Ok, Qt::LeftButton);
    EXPECT_EQ(storedFolder(), photos + QStringLiteral("/2024"));
}

TEST_F(FolderPicker, RootKeepsItsSlashAndOtherFoldersHaveNone) {
    main->Txt_App->setText(volume + QStringLiteral("/photos/"));
    withPicker([&](Frm_App& picker) {
        EXPECT_EQ(picker.Dir1->path(), volume + QStringLiteral("/photos"));
        clickFolder(*picker.Dir1, QStringLiteral("/"), true);
        EXPECT_EQ(picker.Dir1->path(), QStringLiteral("/"));
        EXPECT_EQ(picker.Dir1->currentItem()->data(Qt::UserRole).toString(), QStringLiteral("/"));
        QTest::mouseClick(picker.Command1, Qt::LeftButton);
    });
    EXPECT_EQ(main->Txt_App->text(), QStringLiteral("/"));
}

TEST_F(FolderPicker, ExitAndTheCloseBoxChangeNothing) {
    const QString text = QStringLiteral(" ") + volume + QStringLiteral("/photos ");
    main->Txt_App->setText(text);
    withPicker([&](Frm_App& picker) {
        clickFolder(*picker.Dir1, QStringLiteral("/"), true);
        QTest::mouseClick(picker.Command2, Qt::LeftButton);
    });
    EXPECT_EQ(main->Txt_App->text(), text);
    withPicker([&](Frm_App& picker) {
        clickFolder(*picker.Dir1, QStringLiteral("/"), true);
        picker.close();
    });
    EXPECT_EQ(main->Txt_App->text(), text);
}

TEST_F(FolderPicker, BlankOrMissingFolderOpensOnAFolderThatExists) {
    main->Txt_App->setText(QStringLiteral("   "));
    withPicker([&](Frm_App& picker) {
        EXPECT_EQ(picker.Dir1->path(), QDir::currentPath());
        EXPECT_EQ(picker.Drive1->currentText(), driveOf(QDir::currentPath(), mountedDrives()));
        QTest::mouseClick(picker.Command1, Qt::LeftButton);
    });
    EXPECT_EQ(main->Txt_App->text(), QDir::currentPath());

    main->Txt_App->setText(volume + QStringLiteral("/photos/gone/deeper"));
    withPicker([&](Frm_App& picker) {
        EXPECT_EQ(picker.Drive1->currentText(), volume);
        EXPECT_EQ(picker.Dir1->path(), volume + QStringLiteral("/photos"));
        // Choosing a drive moves the folder list to that drive.
        picker.Drive1->setCurrentIndex(picker.Drive1->findText(QStringLiteral("/")));
        EXPECT_EQ(picker.Dir1->path(), QDir::currentPath()); // the current folder's drive
        picker.Drive1->setCurrentIndex(picker.Drive1->findText(volume));
        EXPECT_EQ(picker.Dir1->path(), volume);
    });
    EXPECT_EQ(main->Txt_App->text(), volume + QStringLiteral("/photos/gone/deeper"));
}
