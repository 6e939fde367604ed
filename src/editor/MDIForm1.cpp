#include "MDIForm1.h"

#include "CropGeometry.h"
#include "FileDialogs.h"
#include "FrmCut.h"
#include "capture/BmpWriter.h"
#include "capture/ReplaceFile.h"
#include "common/Log.h"
#include "common/Prompts.h"
#include "common/WindowFrame.h"

#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

namespace morvane {

namespace {

constexpr int kBarHeightTwips = 495;

// The format that a file name asks for by its ending, in any case: PNG or JPEG, else none.
const char* formatForName(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("png")) {
        return "PNG";
    }
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg")) {
        return "JPEG";
    }
    return nullptr;
}

// A crop that could not be written to path, for the report.
CaptureOutcome notWritten(const QString& path, const QString& reason) {
    CaptureOutcome outcome{CaptureOutcome::Kind::NotWritten, path, reason};
    outcome.onClipboard = false;
    return outcome;
}

} // namespace

MDIForm1::MDIForm1(FileDialogs& dialogs, Prompts& prompts, std::function<QString()> saveFolder,
                   QWidget* parent)
    : QWidget(parent, Qt::Window), dialogs_(dialogs), prompts_(prompts),
      saveFolder_(std::move(saveFolder)), tpp_(primaryScreenTwipsPerPixel()) {
    setObjectName(QStringLiteral("MDIForm1"));
    setWindowTitle(QStringLiteral("图片截图"));
    setWindowIcon(QIcon(QStringLiteral(":/icon.png")));

    mdiArea = new QMdiArea(this);
    // A picture larger than the window is reached by scrolling.
    mdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The window may be made narrower than its buttons, as any sizeable window.
    mdiArea->setMinimumSize(1, 1);

    Picture1 = new QWidget(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setFixedHeight(twipsToPixels(kBarHeightTwips, tpp_.y));
    Cmd_Save = new QPushButton(QStringLiteral("保存"), Picture1);
    Cmd_Save->setObjectName(QStringLiteral("Cmd_Save"));
    Cmd_Save->setGeometry(twipsRectToPixels(6240, 50, 855, 375, tpp_));
    Cmd_Save->setEnabled(false);
    Cmd_SaveTo = new QPushButton(QStringLiteral("另存为"), Picture1);
    Cmd_SaveTo->setObjectName(QStringLiteral("Cmd_SaveTo"));
    Cmd_SaveTo->setGeometry(twipsRectToPixels(7200, 50, 855, 375, tpp_));
    Cmd_SaveTo->setEnabled(false);
    setTabOrder(Cmd_Save, Cmd_SaveTo);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(mdiArea, 1);
    layout->addWidget(Picture1);
    resize(twipsToPixels(kClientWidthTwips, tpp_.x), twipsToPixels(kClientHeightTwips, tpp_.y));

    connect(Cmd_Save, &QPushButton::clicked, this, &MDIForm1::Cmd_Save_Click);
    connect(Cmd_SaveTo, &QPushButton::clicked, this, &MDIForm1::Cmd_SaveTo_Click);
}

MDIForm1::~MDIForm1() = default;

void MDIForm1::report(const CaptureOutcome& outcome) const {
    if (report_) {
        report_(outcome);
    }
}

Frm_Cut* MDIForm1::editor() const {
    return editor_;
}

bool MDIForm1::MDIForm_Load() {
    editor_ = new Frm_Cut(*this, dialogs_, saveFolder_, tpp_);
    editorWindow_ = mdiArea->addSubWindow(editor_, Qt::SubWindow | Qt::FramelessWindowHint);
    editorWindow_->move(0, 0);
    // The editor has no caption and no close box, so no window menu with their shortcuts.
    editorWindow_->setSystemMenu(nullptr);
    // The editor's file dialog runs events: the container may be unloaded meanwhile.
    const QPointer<MDIForm1> alive(this);
    if (!editor_->Form_Load() || !alive || !editor_) {
        return false;
    }
    editorWindow_->show();
    return true;
}

void MDIForm1::Cmd_Save_Click() {
    if (!editor_) {
        return;
    }
    const QString path = editor_->openedFile();
    const QImage crop = editor_->cropPicture();
    if (crop.isNull()) {
        qCWarning(lcMorvane) << "crop not saved, nothing to write:" << path;
        return;
    }
    // In a folder others may write to, the opened file can have been replaced, by a link to
    // some other file of this user, say: the crop must not land there. The check is made on
    // the folder's descriptor just before the new file is renamed into place.
    const ReplaceResult result = replaceFile(
        path, [&crop](QIODevice& out) { return writeBmp24(out, crop); }, editor_->openedIdentity());
    switch (result.outcome) {
    case ReplaceResult::Outcome::Replaced:
        editor_->openedFileReplaced(result.identity); // the next "保存" replaces this one
        break;
    case ReplaceResult::Outcome::TargetChanged:
        prompts_.message(QStringLiteral("文件已被替换，未保存：") + path);
        break;
    case ReplaceResult::Outcome::Failed:
        // The opened file stays as it was, and so does the crop: it can be saved elsewhere.
        report(notWritten(path, result.error));
        break;
    }
}

void MDIForm1::Cmd_SaveTo_Click() {
    if (!editor_) {
        return;
    }
    const QString path = dialogs_.saveFile(this, saveFolder_(), kBitmapFilter);
    if (path.trimmed().isEmpty()) {
        qCInfo(lcMorvane) << "crop not saved: save dialog cancelled";
        return;
    }
    const QImage crop = editor_->cropPicture();
    if (crop.isNull()) {
        qCWarning(lcMorvane) << "crop not saved, nothing to write:" << path;
        return;
    }
    // Exactly the name chosen: no extension is added. A name ending in .png, .jpg or .jpeg
    // gets that format; any other name a bitmap. Either goes into a new file beside the name
    // that replaces it only once it is whole, so a failed write leaves an old file as it was.
    const char* format = formatForName(path);
    const ReplaceResult result = replaceFile(path, [&](QIODevice& out) {
        return format ? crop.save(&out, format) : writeBmp24(out, crop);
    });
    if (!result.replaced()) {
        report(notWritten(path, result.error));
    }
}

void MDIForm1::MDIForm_Resize() {
    const auto outerWidth = static_cast<float>(outerGeometry(*this).width() * tpp_.x);
    const SaveButtonLefts lefts =
        saveButtonLefts(outerWidth, static_cast<float>(Cmd_SaveTo->width() * tpp_.x),
                        static_cast<float>(Cmd_Save->width() * tpp_.x));
    Cmd_SaveTo->move(twipsToPixels(lefts.saveTo, tpp_.x), Cmd_SaveTo->y());
    Cmd_Save->move(twipsToPixels(lefts.save, tpp_.x), Cmd_Save->y());
}

void MDIForm1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    MDIForm_Resize();
}

void MDIForm1::showEvent(QShowEvent* event) {
    if (!centred_) {
        centred_ = true;
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = outerGeometry(*this);
            frame.moveCenter(screen->availableGeometry().center());
            moveOuterTo(*this, frame.topLeft());
        }
    }
    QWidget::showEvent(event);
    MDIForm_Resize();
    // The window manager's frame, and with it the outer width, is known only once the window
    // is on the screen: it is laid out again when the window is exposed.
    if (QWindow* window = windowHandle()) {
        window->installEventFilter(this);
    }
}

bool MDIForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Expose && watched == windowHandle()) {
        MDIForm_Resize();
    }
    return QWidget::eventFilter(watched, event);
}

void MDIForm1::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    // The window manager's frame, and with it the outer width, becomes known only once the
    // window is on the screen: often with a move, and at the latest when the window is
    // exposed in its frame.
    MDIForm_Resize();
}

} // namespace morvane
