#include "FrmApp.h"

#include "Folders.h"
#include "common/WindowFrame.h"

#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QWindow>

namespace morvane {

Frm_App::Frm_App(QLineEdit& saveFolder, QWidget* parent)
    : QDialog(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      saveFolder_(saveFolder) {
    setObjectName(QStringLiteral("Frm_App"));
    setWindowTitle(QStringLiteral("保存路径"));
    setModal(true);
    tpp_ = primaryScreenTwipsPerPixel();
    setFixedSize(twipsToPixels(kClientWidthTwips, tpp_.x),
                 twipsToPixels(kClientHeightTwips, tpp_.y));

    Drive1 = new QComboBox(this);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    Drive1->setGeometry(twipsRectToPixels(120, 120, 2415, 300, tpp_));
    Dir1 = new FolderList(this);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    Dir1->setGeometry(twipsRectToPixels(120, 600, 2415, 1980, tpp_));
    Command1 = new QPushButton(QStringLiteral("确定"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(twipsRectToPixels(120, 2640, 1095, 275, tpp_));
    Command2 = new QPushButton(QStringLiteral("退出"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setGeometry(twipsRectToPixels(1440, 2640, 1095, 275, tpp_));
    // Neither button answers Enter or Esc unless it has the focus.
    for (QPushButton* button : {Command1, Command2}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    setTabOrder(Drive1, Dir1);
    setTabOrder(Dir1, Command1);
    setTabOrder(Command1, Command2);

    // The lists start on the current drive and folder.
    drives_ = mountedDrives();
    Drive1->addItems(drives_);
    const QString current = QDir::currentPath();
    Drive1->setCurrentIndex(static_cast<int>(drives_.indexOf(driveOf(current, drives_))));
    Dir1->setPath(current);

    connect(Drive1, &QComboBox::currentIndexChanged, this, &Frm_App::Drive1_Change);
    connect(Command1, &QPushButton::clicked, this, &Frm_App::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Frm_App::Command2_Click);
    Form_Load();
}

void Frm_App::Form_Load() {
    const QString text = saveFolder_.text();
    if (text.trimmed().isEmpty()) {
        return;
    }
    // The whole text, untrimmed: a text that does not name a folder opens on the nearest
    // existing folder above it, on that folder's drive.
    const QString folder = nearestExistingFolder(text);
    setDrive(folder);
    Dir1->setPath(folder);
}

void Frm_App::setDrive(const QString& path) {
    const auto index = drives_.indexOf(driveOf(path, drives_));
    if (index >= 0) {
        Drive1->setCurrentIndex(static_cast<int>(index));
    }
}

void Frm_App::Drive1_Change() {
    // A drive's own current folder is its root, except for the drive of the process's
    // current folder.
    const QString drive = Drive1->currentText();
    const QString current = QDir::currentPath();
    Dir1->setPath(driveOf(current, drives_) == drive ? current : drive);
}

void Frm_App::Command1_Click() {
    saveFolder_.setText(Dir1->path());
    accept();
}

void Frm_App::Command2_Click() {
    reject();
}

void Frm_App::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    centreOverOwner();
    // The window manager's frame is known only once the window is on the screen: the window
    // is centred again when it is exposed with a frame it was not centred with.
    if (QWindow* window = windowHandle()) {
        window->installEventFilter(this);
    }
}

bool Frm_App::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Expose && watched == windowHandle()) {
        centreOverOwner();
    }
    return QDialog::eventFilter(watched, event);
}

void Frm_App::centreOverOwner() {
    const QWidget* owner = parentWidget();
    if (!owner) {
        return;
    }
    const QRect outer = outerGeometry(*this);
    const QRect inner = geometry();
    const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(),
                         outer.right() - inner.right(), outer.bottom() - inner.bottom());
    // Once centred with the final frame, a move by the user is left alone.
    if (centredWithFrame_ && *centredWithFrame_ == frame) {
        return;
    }
    centredWithFrame_ = frame;
    QRect placed = outer;
    placed.moveCenter(outerGeometry(*owner).center());
    moveOuterTo(*this, placed.topLeft());
}

void Frm_App::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key == Qt::Key_Escape) {
        event->accept(); // not a cancel button: Esc closes nothing
        return;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            button->click();
        }
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace morvane
