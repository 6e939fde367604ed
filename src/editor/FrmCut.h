#pragma once

#include "common/Twips.h"
#include "editor/PictureLoader.h"

#include <QImage>
#include <QString>
#include <QWidget>
#include <functional>

namespace morvane {

class FileDialogs;
class MDIForm1;
class RectangleShape;
class SizingPictureBox;

// The crop editor: the only child of the crop container. It opens a picture file when it
// is loaded, shows the picture at its natural size, lets the user drag out a rectangle on
// it and cuts that part out as the crop, shown in place over the selection. The selection
// is held in twips and turned into picture pixels only when the crop is cut; nothing is
// copied while the mouse is dragged.
class Frm_Cut : public QWidget {
    Q_OBJECT

public:
    // saveFolder gives the main window's save folder, read when the open dialog is shown.
    Frm_Cut(MDIForm1& container, FileDialogs& dialogs, std::function<QString()> saveFolder,
            TwipsPerPixel tpp, QWidget* parent = nullptr);

    // Asks for a picture file and shows it. False when the dialog was cancelled or the
    // file could not be read as a picture (reported through the container, with the reason);
    // the caller then closes container and editor.
    bool Form_Load();

    // The file that was opened: where "保存" writes the crop.
    const QString& openedFile() const { return openedFile_; }
    // The file that was read when it was opened, or that "保存" wrote there since: "保存"
    // writes only while the opened path still leads to it (another user in a shared folder
    // may replace it by a link).
    const FileIdentity& openedIdentity() const { return openedIdentity_; }
    void openedFileReplaced(const FileIdentity& written) { openedIdentity_ = written; }
    // The crop: the picture the preview holds (also after the preview was dismissed).
    QImage cropPicture() const;

    // The selection, in Picture1's twips.
    float shapeLeft() const { return shapeLeft_; }
    float shapeTop() const { return shapeTop_; }
    float shapeWidth() const { return shapeWidth_; }
    float shapeHeight() const { return shapeHeight_; }

    SizingPictureBox* Picture1; // the picture; receives the mouse
    RectangleShape* Shape1;     // the selection rectangle
    SizingPictureBox* Picture2; // the crop preview, over the selection

    float StartX = 0.0f;      // the last press, in twips: the selection's left edge
    float StartY = 0.0f;      // ... and its top edge
    bool MouseIsDown = false; // set by every press; never cleared
    bool MouseIsUp = false;   // set by every release, cleared by every press

    // Mouse handlers of the picture area (positions in Picture1's pixels) and the preview.
    void Picture1_MouseDown(QPointF position);
    void Picture1_MouseMove(QPointF position);
    void Picture1_MouseUp();
    void Picture2_DblClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Makes the editor window as large as the picture area.
    void fitToPicture();
    // Cuts the crop out of the picture into the preview; false when the rectangle cannot be
    // cut.
    bool cutCrop();
    void refuseSelection();
    void hideSelection();
    void setShape(float left, float top, float width, float height);
    void enableSaveButtons(bool enabled);

    MDIForm1& container_;
    FileDialogs& dialogs_;
    std::function<QString()> saveFolder_;
    TwipsPerPixel tpp_;
    QString openedFile_;
    FileIdentity openedIdentity_;
    float shapeLeft_ = 0.0f;
    float shapeTop_ = 0.0f;
    float shapeWidth_ = 0.0f;
    float shapeHeight_ = 0.0f;
};

} // namespace morvane
