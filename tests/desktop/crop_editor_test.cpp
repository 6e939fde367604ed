// The crop container and its editor, driven with mouse events on a known picture.
#include "editor/FileDialogs.h"
#include "editor/FrmCut.h"
#include "editor/MDIForm1.h"
#include "editor/PictureBoxes.h"
#include "editor/PictureLoader.h"
#include "shell/FrmMain.h"
#include "shell/InstanceLock.h"
#include "shell/SettingsStore.h"
#include "shell/Shell.h"
#include "support/DesktopTools.h"
#include "support/Pictures.h"
#include "support/RecordingFileDialogs.h"
#include "support/RecordingNotifier.h"
#include "support/RecordingPrompts.h"
#include "support/ShellInTempFolder.h"
#include "support/Widgets.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <sys/mount.h>

using namespace morvane;
using namespace morvane::test;

namespace {

constexpr int kPictureWidth = 300;
constexpr int kPictureHeight = 200;

class CropEditor : public ::testing::Test {
protected:
    CropEditor() {
        // A folder name with a trailing space: the dialogs get the save folder untrimmed.
        folder = dir.filePath(QStringLiteral("pictures "));
        QDir().mkpath(folder);
        picturePath = folder + QStringLiteral("/shot.bmp");
        writeFile(picturePath, patternBmp(kPictureWidth, kPictureHeight));
        saveFolder.setText(folder);
        container.setReport([this](const CaptureOutcome& outcome) { outcomes << outcome; });
    }

    // Opens the container on the picture and shows it.
    Frm_Cut& open() {
        dialogs.answers << picturePath;
        EXPECT_TRUE(container.MDIForm_Load());
        container.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&container));
        return *container.editor();
    }

    // A drag on the picture area with the button, from one pixel through the others.
    void drag(QPoint from, std::initializer_list<QPoint> through,
              Qt::MouseButton button = Qt::LeftButton) {
        QWidget* area = container.editor()->Picture1;
        QTest::mousePress(area, button, {}, from);
        for (QPoint at : through) {
            QTest::mouseMove(area, at);
        }
        QTest::mouseRelease(area, button, {}, through.size() ? *(through.end() - 1) : from);
    }

    bool buttonsEnabled() const {
        EXPECT_EQ(container.Cmd_Save->isEnabled(), container.Cmd_SaveTo->isEnabled());
        return container.Cmd_Save->isEnabled();
    }

    QImage crop() const {
        return container.editor()->cropPicture().convertToFormat(QImage::Format_RGB32);
    }

    // Whether a selection was refused: preview and rectangle hidden, buttons off.
    void expectRefused(const char* what) {
        const Frm_Cut& editor = *container.editor();
        EXPECT_FALSE(buttonsEnabled()) << what;
        EXPECT_FALSE(editor.Picture2->isVisible()) << what;
        EXPECT_FALSE(editor.Shape1->isVisible()) << what;
        EXPECT_EQ(editor.shapeWidth(), 0.0f) << what;
        EXPECT_EQ(editor.shapeHeight(), 0.0f) << what;
    }

    QTemporaryDir dir;
    QString folder;
    QString picturePath;
    QLineEdit saveFolder;
    RecordingFileDialogs dialogs;
    RecordingPrompts prompts;
    MDIForm1 container{dialogs, prompts, [this] { return saveFolder.text(); }};
    QList<CaptureOutcome> outcomes;
};

// A write of the crop that failed: reported with its file and the system's reason, and
// without the clipboard, which does not hold a crop.
void expectNotWritten(const QList<CaptureOutcome>& outcomes, const QString& path) {
    ASSERT_EQ(outcomes.size(), 1);
    EXPECT_EQ(outcomes[0].kind, CaptureOutcome::Kind::NotWritten);
    EXPECT_EQ(outcomes[0].path, path);
    EXPECT_FALSE(outcomes[0].reason.isEmpty());
    EXPECT_FALSE(outcomes[0].onClipboard);
}

} // namespace

TEST_F(CropEditor, OpensThePictureAtNaturalSizeWithSavingOff) {
    Frm_Cut& editor = open();
    ASSERT_EQ(dialogs.requests.size(), 1);
    EXPECT_FALSE(dialogs.requests[0].save);
    EXPECT_EQ(dialogs.requests[0].initialFolder, folder);
    EXPECT_EQ(dialogs.requests[0].filter, QStringLiteral("*.BMP|*.BMP"));

    EXPECT_EQ(container.windowTitle(), QStringLiteral("图片截图"));
    EXPECT_FALSE(container.windowIcon().isNull());
    EXPECT_EQ(editor.Picture1->size(), QSize(kPictureWidth, kPictureHeight));
    EXPECT_EQ(editor.size(), QSize(kPictureWidth, kPictureHeight));
    // The editor's frameless window is exactly the picture area.
    ASSERT_EQ(container.mdiArea->subWindowList().size(), 1);
    EXPECT_EQ(container.mdiArea->subWindowList()[0]->size(), QSize(kPictureWidth, kPictureHeight));
    EXPECT_FALSE(editor.Picture2->isVisible());
    EXPECT_FALSE(editor.Shape1->isVisible());
    EXPECT_FALSE(buttonsEnabled());
    EXPECT_EQ(container.Cmd_Save->text(), QStringLiteral("保存"));
    EXPECT_EQ(container.Cmd_SaveTo->text(), QStringLiteral("另存为"));
    EXPECT_EQ(container.Picture1->height(), 33); // 495 twips
    EXPECT_EQ(container.Cmd_Save->nextInFocusChain(), container.Cmd_SaveTo);
}

TEST_F(CropEditor, SaveButtonsStandAtTheRightEndAfterEveryResize) {
    open();
    // The rule measures the outer width, frame included. The window manager frames the window
    // a moment after it is shown and announces the frame on it (_NET_FRAME_EXTENTS); Qt reads
    // the frame again only after the next configure, which a first resize brings. So: wait for
    // the announcement, resize once, and wait until Qt knows the frame.
    const QStringList extents = {QStringLiteral("-id"), QString::number(container.winId()),
                                 QStringLiteral("_NET_FRAME_EXTENTS")};
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return test::runTool(QStringLiteral("xprop"), extents).contains('='); }, 20000))
        << "the window manager did not frame the window";
    container.resize(container.width() + 10, container.height());
    ASSERT_TRUE(QTest::qWaitFor(
        [this] { return container.frameGeometry().width() > container.width(); }, 20000))
        << "Qt did not learn the frame";
    for (const QSize size : {QSize(700, 500), QSize(400, 300), QSize(60, 300)}) {
        container.resize(size);
        int saveTo = 0;
        int save = 0;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                const int outer = container.frameGeometry().width() * 15;
                saveTo = twipsToPixels(outer - 855 - 300, 15);
                save = twipsToPixels(outer - 855 - 300 - 855 - 100, 15);
                return container.width() == size.width() && container.Cmd_SaveTo->x() == saveTo &&
                       container.Cmd_Save->x() == save;
            },
            20000))
            << size.width() << ": " << container.Cmd_SaveTo->x() << " for " << saveTo << " (width "
            << container.width() << ", frame " << container.frameGeometry().width() << ")";
        EXPECT_EQ(container.Cmd_SaveTo->y(), 3); // tops never change (50 twips)
    }
    EXPECT_LT(container.Cmd_Save->x(), 0) << "narrower than the buttons: negative lefts";
}

TEST_F(CropEditor, DragCutsTheCropAndShowsItAtThePressPoint) {
    Frm_Cut& editor = open();
    // The worked example: a press at pixel (10, 20), a last move 100 and 50 pixels on.
    drag(QPoint(10, 20), {QPoint(40, 30), QPoint(80, 90), QPoint(110, 70)});
    EXPECT_EQ(editor.StartX, 150.0f);
    EXPECT_EQ(editor.StartY, 300.0f);
    EXPECT_EQ(editor.shapeWidth(), 1500.0f);
    EXPECT_EQ(editor.shapeHeight(), 750.0f);
    EXPECT_TRUE(editor.MouseIsUp);
    EXPECT_EQ(crop(), patternPicture(kPictureWidth, kPictureHeight).copy(10, 20, 100, 50));
    EXPECT_TRUE(editor.Picture2->isVisible());
    EXPECT_EQ(editor.Picture2->geometry(), QRect(10, 20, 100, 50));
    EXPECT_TRUE(editor.Shape1->isVisible());
    EXPECT_TRUE(buttonsEnabled());
    // The picture itself is untouched.
    EXPECT_EQ(editor.Picture1->picture().convertToFormat(QImage::Format_RGB32),
              patternPicture(kPictureWidth, kPictureHeight));

    // A second selection replaces the crop; a press inside the preview starts nothing.
    drag(QPoint(200, 100), {QPoint(230, 140)});
    EXPECT_EQ(crop(), patternPicture(kPictureWidth, kPictureHeight).copy(200, 100, 30, 40));
    QTest::mousePress(editor.Picture2, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(editor.Picture2, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(editor.StartX, 3000.0f);
    EXPECT_TRUE(editor.Picture2->isVisible());
    EXPECT_TRUE(buttonsEnabled());
}

TEST_F(CropEditor, RightAndMiddleButtonsSelectLikeTheLeft) {
    Frm_Cut& editor = open();
    // (QTest takes a null point for the widget's centre: the corner is (0, 1).)
    drag(QPoint(0, 1), {QPoint(20, 31)}, Qt::RightButton);
    EXPECT_EQ(crop(), patternPicture(kPictureWidth, kPictureHeight).copy(0, 1, 20, 30));
    drag(QPoint(5, 6), {QPoint(8, 9)}, Qt::MiddleButton);
    EXPECT_EQ(crop(), patternPicture(kPictureWidth, kPictureHeight).copy(5, 6, 3, 3));
    EXPECT_TRUE(editor.Picture2->isVisible());
    EXPECT_TRUE(buttonsEnabled());
}

TEST_F(CropEditor, SelectionsTooSmallOrTooLargeAreRefused) {
    open();
    const auto acceptAnother = [this] {
        drag(QPoint(50, 50), {QPoint(60, 60)});
        ASSERT_TRUE(buttonsEnabled());
    };
    acceptAnother();
    drag(QPoint(100, 100), {});
    expectRefused("press and release without a move");
    acceptAnother();
    drag(QPoint(100, 100), {QPoint(150, 60)});
    expectRefused("dragged upwards");
    acceptAnother();
    drag(QPoint(100, 100), {QPoint(20, 150)});
    expectRefused("dragged to the left");
    acceptAnother();
    drag(QPoint(100, 100), {QPoint(101, 150)});
    expectRefused("one pixel wide");
    acceptAnother();
    drag(QPoint(100, 100), {QPoint(150, 101)});
    expectRefused("one pixel high");
    drag(QPoint(100, 100), {QPoint(102, 102)});
    EXPECT_TRUE(buttonsEnabled()) << "two pixels are a selection";
    EXPECT_EQ(crop(), patternPicture(kPictureWidth, kPictureHeight).copy(100, 100, 2, 2));
    drag(QPoint(0, 10), {QPoint(kPictureWidth, 20)});
    expectRefused("the full width");
    acceptAnother();
    drag(QPoint(10, 0), {QPoint(20, kPictureHeight + 40)});
    expectRefused("the full height and beyond");
    drag(QPoint(0, 1), {QPoint(kPictureWidth - 1, kPictureHeight)});
    EXPECT_TRUE(buttonsEnabled()) << "one pixel less than the picture";
}

TEST_F(CropEditor, RectanglePastTheRightOrBottomEdgeIsCutThere) {
    Frm_Cut& editor = open();
    // W = 150 pixels < 300 and H = 40 < 200 pass the test; the picture ends 50 pixels on.
    drag(QPoint(250, 150), {QPoint(400, 190)});
    EXPECT_TRUE(buttonsEnabled());
    EXPECT_EQ(crop(), patternPicture(kPictureWidth, kPictureHeight).copy(250, 150, 50, 40));
    EXPECT_EQ(editor.Picture2->geometry(), QRect(250, 150, 50, 40));
    drag(QPoint(20, 180), {QPoint(60, 299)});
    EXPECT_EQ(crop(), patternPicture(kPictureWidth, kPictureHeight).copy(20, 180, 40, 20));
}

TEST_F(CropEditor, DoubleClickDismissesThePreviewAndSaveStillWritesTheCrop) {
    Frm_Cut& editor = open();
    drag(QPoint(10, 20), {QPoint(110, 70)});
    const QImage cut = crop();
    QTest::mouseDClick(editor.Picture2, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_FALSE(editor.Picture2->isVisible());
    EXPECT_FALSE(editor.Shape1->isVisible());
    EXPECT_TRUE(buttonsEnabled());

    QTest::mouseClick(container.Cmd_Save, Qt::LeftButton);
    // "保存" writes over the opened file without asking; the editor keeps the whole picture.
    EXPECT_EQ(dialogs.requests.size(), 1);
    EXPECT_EQ(fileBytes(picturePath), referenceBmp24(cut));
    EXPECT_EQ(decodedBmp(fileBytes(picturePath)),
              patternPicture(kPictureWidth, kPictureHeight).copy(10, 20, 100, 50));
    EXPECT_EQ(editor.Picture1->size(), QSize(kPictureWidth, kPictureHeight));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("shot.bmp")});
    // The file "保存" wrote is the opened file now: saving again replaces it, not refused.
    drag(QPoint(0, 0), {QPoint(50, 40)});
    QTest::mouseClick(container.Cmd_Save, Qt::LeftButton);
    EXPECT_EQ(fileBytes(picturePath), referenceBmp24(crop()));
    EXPECT_TRUE(prompts.messages.isEmpty());
    EXPECT_TRUE(outcomes.isEmpty()) << "a save that worked is silent";
}

TEST_F(CropEditor, SaveRefusesAFileReplacedSinceItWasOpened) {
    open();
    drag(QPoint(10, 20), {QPoint(110, 70)});
    // In a shared folder, another user swaps the opened file for a link to a private file.
    const QString secret = dir.filePath(QStringLiteral("secret.bmp"));
    ASSERT_TRUE(writeFile(secret, "private"));
    ASSERT_TRUE(QFile::remove(picturePath));
    ASSERT_TRUE(QFile::link(secret, picturePath));
    QTest::mouseClick(container.Cmd_Save, Qt::LeftButton);
    EXPECT_EQ(fileBytes(secret), QByteArray("private"));
    EXPECT_EQ(prompts.messages,
              QStringList{QStringLiteral("文件已被替换，未保存：") + picturePath});
    EXPECT_TRUE(outcomes.isEmpty()) << "the message box says it";
}

TEST_F(CropEditor, SaveIntoAReadOnlyFolderKeepsTheOpenedFileWhole) {
    // The picture's folder becomes a read-only file system of its own once it is open.
    const QByteArray original = fileBytes(picturePath);
    ASSERT_EQ(::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=1m"), 0)
        << "the crop tests run in a private mount namespace";
    ASSERT_TRUE(writeFile(picturePath, original));
    Frm_Cut& editor = open();
    ASSERT_EQ(::mount(nullptr, QFile::encodeName(folder).constData(), nullptr,
                      MS_REMOUNT | MS_RDONLY, nullptr),
              0);
    drag(QPoint(10, 20), {QPoint(110, 70)});
    ASSERT_TRUE(buttonsEnabled());
    QTest::mouseClick(container.Cmd_Save, Qt::LeftButton);
    // It is reported, the file is as it was, nothing is left beside it, the crop stays.
    expectNotWritten(outcomes, picturePath);
    EXPECT_TRUE(prompts.messages.isEmpty());
    EXPECT_EQ(fileBytes(picturePath), original);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("shot.bmp")});
    EXPECT_TRUE(buttonsEnabled());
    EXPECT_TRUE(editor.Picture2->isVisible());
    ::umount(QFile::encodeName(folder).constData());
}

TEST_F(CropEditor, SaveAsWritesExactlyTheChosenNameAndNothingWhenCancelled) {
    open();
    drag(QPoint(10, 20), {QPoint(110, 70)});
    const QByteArray expected = referenceBmp24(crop());
    const QByteArray original = fileBytes(picturePath);

    QTest::mouseClick(container.Cmd_SaveTo, Qt::LeftButton); // no answer: cancelled
    ASSERT_EQ(dialogs.requests.size(), 2);
    EXPECT_TRUE(dialogs.requests[1].save);
    EXPECT_EQ(dialogs.requests[1].initialFolder, folder);
    EXPECT_EQ(dialogs.requests[1].filter, QStringLiteral("*.BMP|*.BMP"));
    dialogs.answers << QStringLiteral("   ");
    QTest::mouseClick(container.Cmd_SaveTo, Qt::LeftButton); // blank: cancelled as well
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("shot.bmp")});

    // A name without an extension is written as it is; an existing file is replaced.
    const QString noExtension = folder + QStringLiteral("/crop ");
    const QString existing = folder + QStringLiteral("/older.BMP");
    ASSERT_TRUE(writeFile(existing, "an older file"));
    dialogs.answers << noExtension << existing;
    QTest::mouseClick(container.Cmd_SaveTo, Qt::LeftButton);
    QTest::mouseClick(container.Cmd_SaveTo, Qt::LeftButton);
    EXPECT_EQ(fileBytes(noExtension), expected);
    EXPECT_EQ(fileBytes(existing), expected);
    EXPECT_EQ(fileBytes(picturePath), original);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name).size(), 3);
    EXPECT_TRUE(outcomes.isEmpty()) << "cancelled and written: nothing to report";

    // A name in a folder that does not exist writes nothing and is reported.
    const QString nowhere = folder + QStringLiteral("/missing/crop.png");
    dialogs.answers << nowhere;
    QTest::mouseClick(container.Cmd_SaveTo, Qt::LeftButton);
    expectNotWritten(outcomes, nowhere);
}

TEST_F(CropEditor, RealFileDialogsOpenInTheSaveFolderAndTakeATypedName) {
    QtFileDialogs real(false);
    ASSERT_TRUE(writeFile(folder + QStringLiteral("/other.Bmp"), patternBmp(2, 2)));
    ASSERT_TRUE(writeFile(folder + QStringLiteral("/note.png"), "x"));
    QString shownFolder;
    QStringList shownFilters;
    QString shownType;
    QStringList listed;
    QString acceptText;
    ModalAnswer answer;
    // Types the name into the dialog once it is up, and confirms it with Enter; records
    // what the dialog shows. A dialog without the expected parts is left to be rejected.
    const auto answerWith = [&](const QString& name) {
        answer.next<QFileDialog>([&, name](QFileDialog& dialog) {
            shownFolder = dialog.directory().absolutePath();
            shownFilters = dialog.nameFilters();
            const auto* type = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            const auto* box = dialog.findChild<QDialogButtonBox*>();
            const auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
            auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (!type || !box || box->buttons().isEmpty() || !view || !edit) {
                return;
            }
            shownType = type->currentText();
            acceptText = box->buttons().value(0)->text();
            // The files the dialog lists, once it has read the folder.
            listed.clear();
            (void)QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) >= 2; },
                                  5000);
            for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row) {
                listed << view->model()->index(row, 0, view->rootIndex()).data().toString();
            }
            listed.sort();
            if (!name.isEmpty()) {
                edit->setText(name);
                QTest::keyClick(edit, Qt::Key_Return);
            }
        });
    };

    answerWith(QStringLiteral("shot.bmp"));
    EXPECT_EQ(real.openFile(nullptr, saveFolder.text(), kBitmapFilter), picturePath);
    ASSERT_TRUE(answer.answered()) << "no file dialog came up";
    EXPECT_EQ(shownFolder, folder);
    EXPECT_EQ(shownFilters, QStringList{qtNameFilter(kBitmapFilter)});
    EXPECT_EQ(shownType, QStringLiteral("*.BMP"));
    EXPECT_EQ(listed, (QStringList{QStringLiteral("other.Bmp"), QStringLiteral("shot.bmp")}))
        << "bitmaps in any letter case, nothing else";
    EXPECT_TRUE(acceptText.startsWith(QStringLiteral("打开"))) << acceptText.toStdString();

    // The save dialog: a typed name gets no extension, and no question is asked.
    answerWith(QStringLiteral("typed"));
    EXPECT_EQ(real.saveFile(nullptr, saveFolder.text(), kBitmapFilter),
              folder + QStringLiteral("/typed"));
    EXPECT_TRUE(answer.answered());
    answerWith(QStringLiteral("note.png"));
    EXPECT_EQ(real.saveFile(nullptr, saveFolder.text(), kBitmapFilter),
              folder + QStringLiteral("/note.png"));
    EXPECT_TRUE(answer.answered());
    answerWith(QString());
    EXPECT_EQ(real.openFile(nullptr, saveFolder.text(), kBitmapFilter), QString());
    EXPECT_TRUE(answer.answered());
}

namespace {

// The container as the main window's link opens it.
class CropThroughMainWindow : public ::testing::Test, protected test::ShellInTempFolder {
protected:
    CropThroughMainWindow() {
        shell.setFileDialogs(dialogs);
        shell.setNotifier(notifier);
        EXPECT_TRUE(shell.startUp());
        shell.mainWindow()->Txt_App->setText(dir.path());
        picturePath = dir.filePath(QStringLiteral("a.bmp"));
        writeFile(picturePath, patternBmp(64, 48));
    }
    ~CropThroughMainWindow() override { shell.shutDown(); }

    // Clicks the "图片裁剪" link.
    void clickLink() {
        QLabel* link = shell.mainWindow()->Label6;
        QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(3, 3));
    }

    QString picturePath;
    RecordingFileDialogs dialogs;
    RecordingNotifier notifier;
};

} // namespace

TEST_F(CropThroughMainWindow, CancelClosesSilentlyAndAPictureThatCannotBeReadIsAnnounced) {
    clickLink(); // cancelled
    EXPECT_EQ(dialogs.requests.size(), 1);
    EXPECT_EQ(dialogs.requests[0].initialFolder, dir.path());
    EXPECT_EQ(shell.cropContainer(), nullptr);
    EXPECT_TRUE(notifier.shown.isEmpty()) << "a cancelled dialog is not a failure";

    const QString notAPicture = dir.filePath(QStringLiteral("text.bmp"));
    ASSERT_TRUE(writeFile(notAPicture, "no picture here"));
    const QString truncated = dir.filePath(QStringLiteral("short.bmp"));
    ASSERT_TRUE(writeFile(truncated, patternBmp(64, 48).chopped(10)));
    dialogs.answers << notAPicture << truncated << dir.filePath(QStringLiteral("missing.bmp"))
                    << dir.path();
    for (int i = 0; i < 4; ++i) {
        clickLink();
        EXPECT_EQ(shell.cropContainer(), nullptr) << i;
    }
    EXPECT_EQ(dialogs.requests.size(), 5);
    EXPECT_TRUE(prompts.messages.isEmpty());
    const auto told = [](const QString& path, const QString& why) {
        return QStringLiteral("抓图失败|无法打开图片 %1：%2。").arg(path, why);
    };
    EXPECT_EQ(notifier.shown, (QStringList{told(notAPicture, picture_reasons::kNotAPicture),
                                           told(truncated, picture_reasons::kCutShort),
                                           told(dir.filePath(QStringLiteral("missing.bmp")),
                                                picture_reasons::kMissing),
                                           told(dir.path(), picture_reasons::kNotAFile)}));
    for (QWidget* window : QApplication::topLevelWidgets()) {
        EXPECT_FALSE(window->isVisible() && qobject_cast<MDIForm1*>(window));
    }
}

TEST_F(CropThroughMainWindow, SecondClickWhileOpenAsksNothingAndClosingEndsIt) {
    dialogs.answers << picturePath;
    clickLink();
    MDIForm1* container = shell.cropContainer();
    ASSERT_NE(container, nullptr);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(container));
    EXPECT_EQ(container->editor()->Picture1->size(), QSize(64, 48));
    clickLink();
    EXPECT_EQ(shell.cropContainer(), container);
    EXPECT_EQ(dialogs.requests.size(), 1);

    // The close box ends container and editor; the next click asks for a file again.
    container->close();
    QApplication::processEvents();
    EXPECT_EQ(shell.cropContainer(), nullptr);
    clickLink();
    EXPECT_EQ(dialogs.requests.size(), 2);
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(CropThroughMainWindow, SaveThatCannotWriteIsAnnouncedWithItsFolder) {
    dialogs.answers << picturePath;
    clickLink();
    MDIForm1* container = shell.cropContainer();
    ASSERT_NE(container, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(container));
    QWidget* area = container->editor()->Picture1;
    QTest::mousePress(area, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(area, QPoint(40, 30));
    QTest::mouseRelease(area, Qt::LeftButton, {}, QPoint(40, 30));
    ASSERT_TRUE(container->Cmd_SaveTo->isEnabled());
    // Inside the save folder, yet not a capture: the folder named is the file's own, and
    // the crop is not on the clipboard, so the message does not say it is.
    const QString folder = dir.filePath(QStringLiteral("missing"));
    dialogs.answers << folder + QStringLiteral("/crop.bmp");
    QTest::mouseClick(container->Cmd_SaveTo, Qt::LeftButton);
    EXPECT_EQ(
        notifier.shown,
        QStringList{QStringLiteral("截图未保存|无法写入文件夹 %1：文件夹不存在。").arg(folder)});
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(CropThroughMainWindow, ShutdownDuringTheOpenDialogEndsTheContainerOnce) {
    // The program is shut down (the tray menu's exit, say) while the editor's dialog is open.
    struct ShuttingDown final : FileDialogs {
        Shell* shell = nullptr;
        QString answer;
        QString openFile(QWidget*, const QString&, const QString&) override {
            shell->shutDown();
            return answer;
        }
        QString saveFile(QWidget*, const QString&, const QString&) override { return {}; }
    } shuttingDown;
    shuttingDown.shell = &shell;
    shuttingDown.answer = picturePath;
    shell.setFileDialogs(shuttingDown);
    clickLink();
    EXPECT_EQ(shell.cropContainer(), nullptr);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (QWidget* window : QApplication::topLevelWidgets()) {
        EXPECT_FALSE(qobject_cast<MDIForm1*>(window));
    }
    EXPECT_EQ(endings, 1);
}

TEST_F(CropThroughMainWindow, ShutdownClosesTheOpenContainer) {
    dialogs.answers << picturePath;
    clickLink();
    ASSERT_NE(shell.cropContainer(), nullptr);
    shell.shutDown();
    EXPECT_EQ(shell.cropContainer(), nullptr);
    EXPECT_EQ(fileBytes(picturePath), patternBmp(64, 48)) << "nothing is written on closing";
}
