#include "FrmCut.h"

#include "CropGeometry.h"
#include "FileDialogs.h"
#include "MDIForm1.h"
#include "PictureBoxes.h"
#include "PictureLoader.h"
#include "common/Log.h"

#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>

namespace morvane {

namespace {

// Design client size in twips, until a picture gives the editor its own.
constexpr int kDesignWidthTwips = 5610;
constexpr int kDesignHeightTwips = 4650;

} // namespace

Frm_Cut::Frm_Cut(MDIForm1& container, FileDialogs& dialogs, std::function<QString()> saveFolder,
                 TwipsPerPixel tpp, QWidget* parent)
    : QWidget(parent), container_(container), dialogs_(dialogs), saveFolder_(std::move(saveFolder)),
      tpp_(tpp) {
    setObjectName(QStringLiteral("Frm_Cut"));
    setBackgroundRole(QPalette::Dark); // the workspace colour
    setAutoFillBackground(true);
    resize(twipsToPixels(kDesignWidthTwips, tpp_.x), twipsToPixels(kDesignHeightTwips, tpp_.y));

    Picture1 = new SizingPictureBox(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setGeometry(twipsRectToPixels(0, 0, 5535, 4575, tpp_));
    Picture2 = new SizingPictureBox(Picture1);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    Picture2->setGeometry(twipsRectToPixels(2880, 2760, 1455, 1215, tpp_));
    Picture2->hide();
    // The outline lies above the preview: the crop shows the very pixels beneath it, so the
    // outline is what tells that a crop is shown.
    Shape1 = new RectangleShape(Picture1);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->setGeometry(twipsRectToPixels(0, 0, 15, 15, tpp_));
    Shape1->hide();

    Picture1->installEventFilter(this);
    Picture2->installEventFilter(this);
    connect(Picture1, &SizingPictureBox::resized, this, &Frm_Cut::fitToPicture);
    connect(Picture2, &SizingPictureBox::resized, this, &Frm_Cut::fitToPicture);
}

QImage Frm_Cut::cropPicture() const {
    return Picture2->picture();
}

bool Frm_Cut::Form_Load() {
    openedFile_.clear();
    // The dialog runs events: the editor may be closed and deleted before it returns.
    const QPointer<Frm_Cut> alive(this);
    const QString chosen = dialogs_.openFile(nullptr, saveFolder_(), kBitmapFilter);
    if (!alive) {
        return false;
    }
    openedFile_ = chosen;
    if (openedFile_.trimmed().isEmpty()) {
        qCInfo(lcMorvane) << "crop editor: no file chosen";
        return false;
    }
    QString why;
    const QImage picture = loadPicture(openedFile_, &openedIdentity_, &why);
    if (picture.isNull()) {
        qCInfo(lcMorvane) << "crop editor: not a picture it can open:" << openedFile_ << why;
        container_.report({CaptureOutcome::Kind::NoPicture, openedFile_,
                           QStringLiteral("无法打开图片 %1：%2").arg(openedFile_, why)});
        return false;
    }
    Picture1->setPicture(picture);
    fitToPicture();
    return true;
}

void Frm_Cut::fitToPicture() {
    // The editor has no border, so its window is exactly the picture area. Inside the
    // container the frameless sub-window is what has to change size.
    QWidget* window = this;
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget())) {
        window = sub;
    }
    window->resize(Picture1->size());
    resize(Picture1->size());
}

bool Frm_Cut::eventFilter(QObject* watched, QEvent* event) {
    const auto type = event->type();
    if (watched == Picture1) {
        // Only mouse events are QMouseEvents: the cast waits for the type.
        const auto position = [event] { return static_cast<QMouseEvent*>(event)->position(); };
        switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: // the second press of a double-click
            Picture1_MouseDown(position());
            return true;
        case QEvent::MouseMove:
            Picture1_MouseMove(position());
            return true;
        case QEvent::MouseButtonRelease:
            Picture1_MouseUp();
            return true;
        default:
            break;
        }
    } else if (watched == Picture2 && type == QEvent::MouseButtonDblClick) {
        Picture2_DblClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void Frm_Cut::Picture1_MouseDown(QPointF position) {
    const auto x = static_cast<float>(position.x() * tpp_.x);
    const auto y = static_cast<float>(position.y() * tpp_.y);
    MouseIsDown = true;
    StartX = x;
    StartY = y;
    setShape(x, y, 0.0f, 0.0f);
    Shape1->hide();
    // The preview moves to the press point with no size: an earlier crop disappears, its
    // picture stays.
    Picture2->setGeometry(Shape1->geometry());
    Picture2->show();
    MouseIsUp = false;
}

void Frm_Cut::Picture1_MouseMove(QPointF position) {
    if (MouseIsUp || !MouseIsDown) {
        return;
    }
    const float dx = static_cast<float>(position.x() * tpp_.x) - StartX;
    const float dy = static_cast<float>(position.y() * tpp_.y) - StartY;
    // The rectangle only grows right and down from the press point.
    setShape(shapeLeft_, shapeTop_, dx > 0.0f ? dx : 0.0f, dy > 0.0f ? dy : 0.0f);
    Shape1->show();
}

void Frm_Cut::Picture1_MouseUp() {
    MouseIsUp = true;
    const auto pictureWidth = static_cast<float>(Picture1->width() * tpp_.x);
    const auto pictureHeight = static_cast<float>(Picture1->height() * tpp_.y);
    if (!selectionAccepted(shapeWidth_, shapeHeight_, pictureWidth, pictureHeight) || !cutCrop()) {
        refuseSelection();
        return;
    }
    enableSaveButtons(true);
}

bool Frm_Cut::cutCrop() {
    const auto clip = clipRectangle(shapeLeft_, shapeTop_, shapeWidth_, shapeHeight_, tpp_);
    if (!clip) {
        return false;
    }
    const QImage& picture = Picture1->picture();
    const QRect cut = cutAtPictureEdges(*clip, picture.size());
    if (cut.isEmpty()) {
        return false;
    }
    const QImage crop = picture.copy(cut);
    if (crop.isNull()) {
        return false;
    }
    // The preview keeps its top-left corner at the press point and takes the crop's size.
    Picture2->setPicture(crop);
    return true;
}

void Frm_Cut::refuseSelection() {
    Picture2->hide();
    enableSaveButtons(false);
    hideSelection();
}

void Frm_Cut::Picture2_DblClick() {
    // The save buttons keep their state and still save the crop the preview holds.
    Picture2->hide();
    hideSelection();
}

void Frm_Cut::hideSelection() {
    Shape1->hide();
    setShape(shapeLeft_, shapeTop_, 0.0f, 0.0f);
}

void Frm_Cut::setShape(float left, float top, float width, float height) {
    shapeLeft_ = left;
    shapeTop_ = top;
    shapeWidth_ = width;
    shapeHeight_ = height;
    Shape1->setGeometry(twipsToPixels(left, tpp_.x), twipsToPixels(top, tpp_.y),
                        twipsToPixels(width, tpp_.x), twipsToPixels(height, tpp_.y));
}

void Frm_Cut::enableSaveButtons(bool enabled) {
    container_.Cmd_Save->setEnabled(enabled);
    container_.Cmd_SaveTo->setEnabled(enabled);
}

} // namespace morvane
