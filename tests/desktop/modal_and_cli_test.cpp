// The hotkey while one of the program's modal windows is open, the delay box, the look of
// the save-folder controls, first layouts once the window manager's frame is known, the
// format a save-as name asks for, and the program's command line and display checks.
#include "common/Prompts.h"
#include "common/WindowFrame.h"
#include "editor/FrmApp.h"
#include "editor/FrmCut.h"
#include "editor/MDIForm1.h"
#include "editor/PictureBoxes.h"
#include "shell/FrmMain.h"
#include "shell/InstanceLock.h"
#include "shell/SettingsStore.h"
#include "shell/Shell.h"
#include "support/DesktopTools.h"
#include "support/Pictures.h"
#include "support/RecordingFileDialogs.h"
#include "support/RecordingPrompts.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

using namespace morvane;
using namespace morvane::test;

namespace {

void press(const QString& keys) {
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("key"), keys});
    ASSERT_TRUE(QTest::qWaitFor([&] { return xdotool.state() == QProcess::NotRunning; }, 10000));
}

int visibleDialogs() {
    int count = 0;
    for (const QWidget* widget : QApplication::topLevelWidgets()) {
        count += qobject_cast<const QDialog*>(widget) && widget->isVisible() ? 1 : 0;
    }
    return count;
}

// The program with the real message and input boxes, a save folder and the crop editor's
// real file dialogs.
struct RealBoxes {
    QTemporaryDir dir;
    QString shots = dir.filePath(QStringLiteral("shots"));
    SettingsStore settings{dir.filePath(QStringLiteral("Morvane.conf"))};
    QtPrompts prompts;
    InstanceLock lock{dir.filePath(QStringLiteral("morvane.lock"))};
    Shell shell{settings, prompts, lock, [] {}};
    qsizetype captures() const { return QDir(shots).entryList(QDir::Files).size(); }
};

struct ModalCase {
    const char* name;
    bool blankFolder;
    std::function<void(Frm_Main&)> open; // opens the modal window; may return before it closes
};

class ModalHotkey : public ::testing::TestWithParam<ModalCase> {};

} // namespace

TEST_P(ModalHotkey, PressesWhileAModalWindowIsOpenDoNothing) {
    RealBoxes p;
    QDir().mkpath(p.shots);
    p.settings.write(QStringLiteral("savepath"), GetParam().blankFolder ? QString() : p.shots);
    ASSERT_TRUE(p.shell.startUp());
    Frm_Main& w = *p.shell.mainWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    // Once the modal window is up, three presses, then every box is closed (the delay box
    // with "3"). Nothing here waits: it runs again inside any box a press opens.
    int mostDialogs = 0;
    int settled = 0;
    QProcess keys;
    QTimer watcher;
    watcher.setInterval(50);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        mostDialogs = std::max(mostDialogs, visibleDialogs());
        if (keys.state() == QProcess::NotRunning && keys.program().isEmpty()) {
            if (QApplication::activeModalWidget()) {
                keys.start(QStringLiteral("xdotool"),
                           {QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("150"),
                            QStringLiteral("ctrl+s"), QStringLiteral("ctrl+s"),
                            QStringLiteral("ctrl+s")});
            }
            return;
        }
        if (keys.state() != QProcess::NotRunning || ++settled < 8) {
            return;
        }
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* input = qobject_cast<QInputDialog*>(widget); input && input->isVisible()) {
                input->setTextValue(QStringLiteral("3"));
                input->accept();
            } else if (auto* dialog = qobject_cast<QDialog*>(widget);
                       dialog && dialog->isVisible()) {
                dialog->done(QDialog::Rejected);
            }
        }
        watcher.stop();
    });
    watcher.start();
    GetParam().open(w);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !watcher.isActive(); }, 15000));
    EXPECT_TRUE(QTest::qWaitFor([] { return !QApplication::activeModalWidget(); }, 5000));

    EXPECT_EQ(mostDialogs, 1) << "a press opened another box";
    EXPECT_EQ(p.captures(), 0) << "a press captured behind the modal window";
    // No timer runs behind an unticked box.
    EXPECT_EQ(w.Timer1->isActive(), w.Chk_Time->isChecked());
    w.Chk_Time->setChecked(false);
    p.shell.shutDown();
}

INSTANTIATE_TEST_SUITE_P(
    Windows, ModalHotkey,
    ::testing::Values(
        ModalCase{"SetTheFolderMessage", true, [](Frm_Main&) { press(QStringLiteral("ctrl+s")); }},
        ModalCase{"DelayBox", false, [](Frm_Main& w) { w.Chk_Time->setChecked(true); }},
        ModalCase{"FolderPicker", false,
                  [](Frm_Main& w) { QTest::mouseClick(w.Cmd_App, Qt::LeftButton); }},
        ModalCase{"CropOpenDialog", false,
                  [](Frm_Main& w) { QTest::mouseClick(w.Label6, Qt::LeftButton); }}),
    [](const auto& param) { return std::string(param.param.name); });

namespace {

// Unticks the box while the delay is asked for, as a capture ending meanwhile does.
class UntickingPrompts final : public Prompts {
public:
    void message(const QString&, MessageScope) override {}
    QString input(const QString&, const QString&, const QString&) override {
        box->setChecked(false);
        return QStringLiteral("3");
    }
    QCheckBox* box = nullptr;
};

} // namespace

TEST(ModalDelay, BoxUntickedWhileTheDelayIsAskedArmsNothing) {
    QTemporaryDir dir;
    SettingsStore settings(dir.filePath(QStringLiteral("Morvane.conf")));
    UntickingPrompts prompts;
    Frm_Main w(settings, prompts);
    prompts.box = w.Chk_Time;
    w.Chk_Time->setChecked(true);
    EXPECT_FALSE(w.Chk_Time->isChecked());
    EXPECT_FALSE(w.Timer1->isActive());
}

TEST(FrameLook, SaveFolderControlsHaveTheDefaultLookAndOptionsTheFramesBackground) {
    QTemporaryDir dir;
    SettingsStore settings(dir.filePath(QStringLiteral("Morvane.conf")));
    RecordingPrompts prompts;
    Frm_Main w(settings, prompts);
    w.Txt_App->setText(QStringLiteral("/home/user/pictures"));
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const QImage shot = w.grab().toImage();

    // Inside its outline, each of the three looks exactly as the same control on a plain
    // window: no colour of the frame reaches its text, face or caption.
    QWidget plain;
    QLineEdit text(w.Txt_App->text(), &plain);
    QPushButton browse(w.Cmd_App->text(), &plain);
    QPushButton ok(w.Cmd_Ok->text(), &plain);
    const std::pair<QWidget*, QWidget*> twins[] = {
        {w.Txt_App, &text}, {w.Cmd_App, &browse}, {w.Cmd_Ok, &ok}};
    for (const auto& [control, twin] : twins) {
        twin->setGeometry(control->geometry());
        twin->setFocusPolicy(Qt::NoFocus);
    }
    w.Opt_All->setFocus(); // none of the three has the focus
    for (const auto& [control, twin] : twins) {
        const QRect inner = control->rect().adjusted(3, 3, -3, -3);
        const QImage seen = shot.copy(inner.translated(control->mapTo(&w, QPoint())));
        const QImage expected = twin->grab().toImage().convertToFormat(shot.format()).copy(inner);
        EXPECT_EQ(seen, expected) << control->metaObject()->className() << " at " << control->x();
    }

    // Past the end of its text, each option and check box shows the frame's own background,
    // the same as just beside it.
    for (QWidget* button : std::initializer_list<QWidget*>{
             w.Opt_Part, w.Opt_Frame, w.Opt_Pro, w.Opt_All, w.Opt_Web, w.Chk_Cursor, w.Chk_Time}) {
        const QRect r(button->mapTo(&w, QPoint()), button->size());
        for (int y = r.top(); y <= r.bottom(); ++y) {
            ASSERT_EQ(shot.pixel(r.right() - 1, y), shot.pixel(r.right() + 3, y))
                << qPrintable(button->objectName()) << " " << button->geometry().x() << "," << y;
        }
    }
}

// A crop container with a 120 x 80 picture opened in its editor, and shown.
struct CropWindows {
    QTemporaryDir dir;
    RecordingFileDialogs dialogs;
    RecordingPrompts prompts;
    std::unique_ptr<MDIForm1> container;

    void open() {
        const QString picture = dir.filePath(QStringLiteral("shot.bmp"));
        ASSERT_TRUE(writeFile(picture, patternBmp(120, 80)));
        dialogs.answers << picture;
        container = std::make_unique<MDIForm1>(dialogs, prompts, [this] { return dir.path(); });
        ASSERT_TRUE(container->MDIForm_Load());
        container->show();
    }
};

TEST(FirstLayout, SaveAsStandsInPlaceAndThePickerIsCentredWithoutAResize) {
    CropWindows windows;
    ASSERT_NO_FATAL_FAILURE(windows.open());
    const QTemporaryDir& dir = windows.dir;
    MDIForm1& container = *windows.container;
    // Each wait is for the window manager's doing, however long it takes under load: the
    // frame announced, then the window shown in it, which lays the container out once more.
    // The frame is measured as the program measures it: QWidget::frameGeometry() can keep a
    // frame of nothing for good when Qt's first configure comes before the announcement.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return outerGeometry(container).width() > container.width(); }, 10000));
    const auto saveToLeft = [&] {
        return twipsToPixels(outerGeometry(container).width() * 15 - 855 - 300, 15);
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return container.Cmd_SaveTo->x() == saveToLeft(); }, 10000))
        << container.Cmd_SaveTo->x() << " for " << saveToLeft();

    // The picker's frame centred over its owner's.
    QWidget owner(nullptr, Qt::Window | Qt::FramelessWindowHint);
    owner.setGeometry(500, 300, 488, 184);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    QLineEdit folder(dir.path());
    Frm_App picker(folder, &owner);
    QPoint offset(999, 999);
    QTimer::singleShot(0, [&] {
        (void)QTest::qWaitFor(
            [&] {
                offset = outerGeometry(picker).center() - outerGeometry(owner).center();
                return outerGeometry(picker).height() > picker.height() &&
                       offset.manhattanLength() <= 1;
            },
            10000);
        picker.reject();
    });
    picker.exec();
    EXPECT_LE(offset.manhattanLength(), 1) << offset.x() << "," << offset.y();
}

TEST(SaveAsFormat, PngAndJpegNamesGetTheirFormatsAndOtherNamesABitmap) {
    CropWindows windows;
    ASSERT_NO_FATAL_FAILURE(windows.open());
    const QTemporaryDir& dir = windows.dir;
    MDIForm1& container = *windows.container;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&container));
    QWidget* area = container.editor()->Picture1;
    QTest::mousePress(area, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseMove(area, QPoint(70, 50));
    QTest::mouseRelease(area, Qt::LeftButton, {}, QPoint(70, 50));
    const QImage crop = container.editor()->cropPicture().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(crop.size(), QSize(60, 40));

    const std::pair<const char*, QByteArray> cases[] = {{"a.png", "\x89PNG"},
                                                        {"b.PNG", "\x89PNG"},
                                                        {"c.jpg", "\xFF\xD8\xFF"},
                                                        {"d.JPeG", "\xFF\xD8\xFF"},
                                                        {"e.bmp", "BM"},
                                                        {"f.png.txt", "BM"},
                                                        {"g", "BM"}};
    for (const auto& [name, magic] : cases) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        windows.dialogs.answers << path;
        QTest::mouseClick(container.Cmd_SaveTo, Qt::LeftButton);
        const QByteArray bytes = fileBytes(path);
        EXPECT_TRUE(bytes.startsWith(magic)) << name;
        const QImage read = QImage::fromData(bytes).convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(read.size(), crop.size()) << name;
        if (!QByteArray(name).toLower().contains(".jp")) {
            EXPECT_EQ(read, crop) << name << ": lossless formats keep every pixel";
        }
    }
}

namespace {

struct CommandLineCase {
    const char* name;
    QStringList arguments;
    QStringList environment; // NAME=value to set, or NAME alone to remove
    int status;
    QByteArray output; // the start of what it prints (standard output, else error)
};

class CommandLine : public ::testing::TestWithParam<CommandLineCase> {};

QProcessEnvironment environmentWith(const QStringList& changes, const QTemporaryDir& dir) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    for (const QString& change : changes) {
        const auto equals = change.indexOf(QLatin1Char('='));
        if (equals < 0) {
            env.remove(change);
        } else {
            env.insert(change.left(equals), change.mid(equals + 1));
        }
    }
    return env;
}

} // namespace

TEST_P(CommandLine, PrintsOrRefusesAndEndsWithoutAWindow) {
    QTemporaryDir dir;
    QProcess program;
    program.setProcessEnvironment(environmentWith(GetParam().environment, dir));
    program.start(QStringLiteral(MORVANE_PROGRAM), GetParam().arguments);
    ASSERT_TRUE(program.waitForFinished(10000)) << "it started instead of ending";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), GetParam().status);
    const QByteArray out = program.readAllStandardOutput();
    const QByteArray printed = out.isEmpty() ? program.readAllStandardError() : out;
    EXPECT_TRUE(printed.startsWith(GetParam().output)) << printed.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLine,
    ::testing::Values(
        CommandLineCase{"Help", {QStringLiteral("--help")}, {}, 0, "Usage: morvane"},
        CommandLineCase{"Version", {QStringLiteral("--version")}, {}, 0, "Morvane 0.1\n"},
        CommandLineCase{"UnknownOption", {QStringLiteral("--full")}, {}, 2, "morvane: Unknown"},
        CommandLineCase{"Argument", {QStringLiteral("x.bmp")}, {}, 2, "morvane: Unexpected"},
        CommandLineCase{"NoDisplay",
                        {},
                        {QStringLiteral("DISPLAY"), QStringLiteral("QT_QPA_PLATFORM")},
                        1,
                        "Morvane needs an X11 display (DISPLAY is not set)\n"},
        CommandLineCase{"DisplayWithoutServer",
                        {},
                        {QStringLiteral("DISPLAY=:9876")},
                        1,
                        "Morvane needs an X11 display (cannot connect to DISPLAY=:9876)\n"},
        // Asked before any display: the display is no matter, the missing bus is.
        CommandLineCase{"CaptureWithoutSessionBus",
                        {QStringLiteral("-c")},
                        {QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("DISPLAY")},
                        1,
                        "morvane: no session bus to reach Morvane on"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(CommandLineWayland, RunsOnXAndSaysOnceWhatItCanSee) {
    QTemporaryDir dir;
    QProcess program;
    program.setProcessEnvironment(environmentWith(
        {QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("WAYLAND_DISPLAY=wayland-morvane"),
         QStringLiteral("XDG_SESSION_TYPE=wayland")},
        dir));
    program.start(QStringLiteral(MORVANE_PROGRAM), {});
    ASSERT_TRUE(program.waitForStarted());
    // The main window and one box, both titled "Morvane".
    EXPECT_TRUE(waitUntil(
        [&] {
            return visibleWindows(program.processId(), QStringLiteral("^Morvane$")).size() == 2;
        },
        10000));
    program.kill();
    program.waitForFinished(5000);
    EXPECT_TRUE(program.readAllStandardError().contains("Wayland session"));
}
