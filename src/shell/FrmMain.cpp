#include "FrmMain.h"

#include "SettingsStore.h"
#include "capture/DelayedCapture.h"
#include "common/Fonts.h"
#include "common/Log.h"
#include "common/Prompts.h"

#include <QApplication>
#include <QBitmap>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <algorithm>

namespace morvane {

namespace {

const QColor kSkinBlue(0, 162, 232);
const QColor kFrameTeal(0, 128, 128);
const QColor kFrameTitleGreen(0, 192, 0);
const QColor kOptionGreen(0, 255, 0);
const QColor kPaleGreen(192, 255, 192);
const QColor kTitleYellow(255, 255, 192);

// Contact number shown by the contact link, and the site it names.
const QString kContactNumber = QStringLiteral("800012345");
const QString kContactSite = QStringLiteral("morvane.example");

void setTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    palette.setColor(QPalette::ButtonText, colour);
    widget->setPalette(palette);
}

void setBackground(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// Option buttons and check boxes of the capture settings frame share one look: green text
// on the frame's own background, which they leave unpainted so that it shows through.
template <typename Button> Button* frameButton(const QString& caption, QWidget* parent) {
    auto* button = new Button(caption, parent);
    setTextColour(button, kOptionGreen);
    return button;
}

// The application's colours with every role fixed, so that none of the colours of the
// container the control sits in reaches it.
void keepDefaultLook(QWidget* widget) {
    QPalette palette = QApplication::palette(widget);
    palette.setResolveMask(~QPalette::ResolveMask(0));
    widget->setPalette(palette);
}

QLabel* label(const QString& caption, QWidget* parent) {
    auto* result = new QLabel(caption, parent);
    result->setAttribute(Qt::WA_TranslucentBackground);
    return result;
}

} // namespace

Frm_Main::Frm_Main(SettingsStore& settings, Prompts& prompts, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), settings_(settings),
      prompts_(prompts) {
    setWindowTitle(QStringLiteral("Morvane"));
    tpp_ = primaryScreenTwipsPerPixel();
    setFixedSize(twipsToPixels(kClientWidthTwips, tpp_.x),
                 twipsToPixels(kClientHeightTwips, tpp_.y));
    setBackground(this, kSkinBlue);
    buildControls();
    loadPictures();
}

QString Frm_Main::contactLink() {
    return QStringLiteral("tencent://AddContact/?fromId=45&fromSubId=1&subcmd=all&uin=") +
           kContactNumber + QStringLiteral("&website=") + kContactSite;
}

void Frm_Main::loadPictures() {
    skin_ = QPixmap(QStringLiteral(":/skin.bmp"));
    const QPixmap icon(QStringLiteral(":/icon.png"));
    setWindowIcon(QIcon(icon));
    Image1->setPixmap(icon);
    Image7 = QPixmap(QStringLiteral(":/close.jpg"));
    Image8 = QPixmap(QStringLiteral(":/minimise.jpg"));
    Image9 = QPixmap(QStringLiteral(":/close-hot.jpg"));
    Image10 = QPixmap(QStringLiteral(":/minimise-hot.jpg"));
    showCaptionPictures(&Image8, &Image7);

    const QCursor hand(QBitmap(QStringLiteral(":/hand.xbm")),
                       QBitmap(QStringLiteral(":/hand-mask.xbm")), 5, 0);
    Label6->setCursor(hand);
    Label7->setCursor(hand);

    // Moves over the background, the title strip and the caption buttons light the
    // buttons; presses on the icon, the title and the strip drag the window.
    setMouseTracking(true);
    for (QLabel* control : {Label3, Ige_min, Ige_exit}) {
        control->setMouseTracking(true);
    }
    for (QLabel* control : {Label3, Image1, Label4, Ige_min, Ige_exit, Label6, Label7}) {
        control->installEventFilter(this);
    }
}

void Frm_Main::showCaptionPictures(const QPixmap* minimise, const QPixmap* close) {
    if (minimise) {
        Ige_min->setPixmap(*minimise);
    }
    if (close) {
        Ige_exit->setPixmap(*close);
    }
}

void Frm_Main::DragForm(Qt::MouseButton button) {
    // Only a window in its normal state moves, and only with the left button.
    if (button != Qt::LeftButton || (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized))) {
        return;
    }
    if (QWindow* window = windowHandle()) {
        window->startSystemMove();
    }
}

void Frm_Main::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    QPainter(this).drawPixmap(0, 0, skin_);
}

void Frm_Main::mouseMoveEvent(QMouseEvent* event) {
    // Moves over other controls reach here too; only the bare background counts.
    if (!childAt(event->position().toPoint())) {
        showCaptionPictures(&Image8, &Image7);
    }
    QWidget::mouseMoveEvent(event);
}

bool Frm_Main::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseMove && type != QEvent::MouseButtonPress &&
        type != QEvent::MouseButtonRelease && type != QEvent::MouseButtonDblClick) {
        return QWidget::eventFilter(watched, event);
    }
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const bool left = mouse->button() == Qt::LeftButton;
    if (watched == windowHandle()) {
        // The window is disabled (the browser window is open), so its controls take no
        // clicks; the close button in its caption still closes it, and the shutdown closes
        // the browser window first.
        if (!isEnabled() && type == QEvent::MouseButtonRelease && left &&
            Ige_exit->geometry().contains(mouse->position().toPoint())) {
            close();
            return true;
        }
        return QWidget::eventFilter(watched, event);
    }
    if (type == QEvent::MouseMove) {
        if (watched == Label3) {
            showCaptionPictures(&Image8, &Image7);
        } else if (watched == Ige_min) {
            showCaptionPictures(&Image10, &Image7);
        } else if (watched == Ige_exit) {
            showCaptionPictures(&Image8, &Image9);
        }
        return true;
    }
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) {
        if (watched == Ige_min && left) {
            showCaptionPictures(&Image8, nullptr);
        } else if (watched == Ige_exit && left) {
            showCaptionPictures(nullptr, &Image7);
        } else if (watched == Image1 || watched == Label3 || watched == Label4) {
            DragForm(mouse->button());
        }
        return true;
    }
    // Release: the control that took the press gets it, wherever the pointer is now.
    if (watched == Ige_min && left) {
        showCaptionPictures(&Image8, &Image7);
        showMinimized();
    } else if (watched == Ige_exit && left) {
        close();
    } else if (left &&
               static_cast<QWidget*>(watched)->rect().contains(mouse->position().toPoint())) {
        if (watched == Label6) {
            emit cropContainerRequested();
        } else if (watched == Label7) {
            // Nothing is said when no program handles the link.
            QDesktopServices::openUrl(QUrl(contactLink()));
        }
    }
    return true;
}

void Frm_Main::place(QWidget* control, int left, int top, int width, int height) {
    QRect inPixels = twipsRectToPixels(left, top, width, height, tpp_);
    // Label heights were measured for a bitmap face whose underline sits inside a 12-pixel
    // cell; the stand-in face is taller, so a label grows to its line height rather than
    // cut off its underline. Labels are transparent, so nothing else changes.
    if (const auto* text = qobject_cast<QLabel*>(control); text && !text->text().isEmpty()) {
        inPixels.setHeight(std::max(inPixels.height(), text->fontMetrics().lineSpacing()));
    }
    control->setGeometry(inPixels);
}

void Frm_Main::placeWithNaturalHeight(QWidget* control, int left, int top, int width) {
    const QRect inPixels = twipsRectToPixels(left, top, width, 0, tpp_);
    control->setGeometry(inPixels.x(), inPixels.y(), inPixels.width(),
                         control->sizeHint().height());
}

void Frm_Main::buildControls() {
    // Created bottom to top: the transparent title strip lies under the icon, the title
    // and the caption buttons.
    Label3 = label(QStringLiteral(" "), this);
    place(Label3, 0, 0, 6135, 420);

    Image1 = new QLabel(this);
    Image1->setScaledContents(true);
    place(Image1, 120, 50, 360, 360);

    Label4 = label(QStringLiteral("Morvane"), this);
    Label4->setFont(uiFont(10.5, true));
    setTextColour(Label4, kTitleYellow);
    place(Label4, 600, 100, 1350, 210);

    Ige_min = new QLabel(this);
    place(Ige_min, 6600, 0, 270, 270);
    Ige_exit = new QLabel(this);
    place(Ige_exit, 6960, 0, 270, 270);

    Label1 = label(QStringLiteral("设置保存组合键"), this);
    setTextColour(Label1, kPaleGreen);
    place(Label1, 120, 600, 1260, 180);

    Combo1 = new QComboBox(this);
    Label2 = label(QStringLiteral("+"), this);
    Label2->setFont(uiFont(12, true));
    place(Label2, 2520, 555, 135, 240);
    Combo2 = new QComboBox(this);
    for (QComboBox* combo : {Combo1, Combo2}) {
        combo->setEditable(true);
        // Typed text stays exactly as typed: no completion from the list, and Enter
        // does not add the text to the list.
        combo->setCompleter(nullptr);
        combo->setInsertPolicy(QComboBox::NoInsert);
    }
    placeWithNaturalHeight(Combo1, 1440, 555, 1035);
    placeWithNaturalHeight(Combo2, 2760, 555, 1005);

    Cmd_Yes = new QPushButton(QStringLiteral("确定"), this);
    place(Cmd_Yes, 3840, 555, 975, 300);

    Label7 = label(kContactNumber, this);
    Label7->setFont(uiFont(10.5, true, true));
    setTextColour(Label7, kPaleGreen);
    place(Label7, 5520, 600, 1440, 210);

    Frame1 = new QGroupBox(QStringLiteral("抓图设置"), this);
    setBackground(Frame1, kFrameTeal);
    setTextColour(Frame1, kFrameTitleGreen);
    place(Frame1, 120, 960, 7065, 1665);

    Opt_Part = frameButton<QRadioButton>(QStringLiteral("控件抓图"), Frame1);
    place(Opt_Part, 360, 240, 1455, 375);
    Opt_Frame = frameButton<QRadioButton>(QStringLiteral("容器抓图"), Frame1);
    place(Opt_Frame, 2160, 240, 1455, 375);
    Opt_Pro = frameButton<QRadioButton>(QStringLiteral("窗体抓图"), Frame1);
    place(Opt_Pro, 3720, 240, 1455, 375);
    Opt_All = frameButton<QRadioButton>(QStringLiteral("全屏抓图"), Frame1);
    place(Opt_All, 5640, 240, 1095, 375);
    Opt_Web = frameButton<QRadioButton>(QStringLiteral("网页抓图"), Frame1);
    place(Opt_Web, 360, 720, 1095, 375);
    Opt_Web->setToolTip(
        QStringLiteral("鼠标停在浏览器的地址栏上按热键，即在本程序的浏览器窗口中打开该网页；"
                       "取不到地址时，打开剪贴板中唯一的 http/https 网址"));
    Chk_Cursor = frameButton<QCheckBox>(QStringLiteral("鼠标指针"), Frame1);
    place(Chk_Cursor, 2280, 720, 1095, 255);
    Chk_Time = frameButton<QCheckBox>(QStringLiteral("定时抓图"), Frame1);
    place(Chk_Time, 3840, 720, 1095, 255);

    Label6 = label(QStringLiteral("图片裁剪"), Frame1);
    Label6->setFont(uiFont(9, false, true));
    setTextColour(Label6, kOptionGreen);
    place(Label6, 5880, 720, 720, 180);

    Label5 = label(QStringLiteral("保存路径"), Frame1);
    setTextColour(Label5, kOptionGreen);
    place(Label5, 120, 1200, 720, 180);

    Txt_App = new QLineEdit(Frame1);
    place(Txt_App, 960, 1200, 4035, 270);
    Cmd_App = new QPushButton(QStringLiteral("..."), Frame1);
    place(Cmd_App, 5040, 1200, 430, 275);
    Cmd_Ok = new QPushButton(QStringLiteral("确定"), Frame1);
    place(Cmd_Ok, 5640, 1200, 1065, 300);
    for (QWidget* control : {static_cast<QWidget*>(Txt_App), static_cast<QWidget*>(Cmd_App),
                             static_cast<QWidget*>(Cmd_Ok)}) {
        keepDefaultLook(control);
    }

    // One shot: a delayed capture fires once, and cannot fire again while the capture it
    // started still shows a message.
    Timer1 = new QTimer(this);
    Timer1->setInterval(0);
    Timer1->setSingleShot(true);

    // Work surface of the screen grabber; it lies below the visible client area.
    Picture1 = new PictureBox(this);
    place(Picture1, 3360, 3480, 1815, 1455);

    connect(Cmd_Yes, &QPushButton::clicked, this, &Frm_Main::Cmd_Yes_Click);
    connect(Cmd_Ok, &QPushButton::clicked, this, &Frm_Main::Cmd_Ok_Click);
    connect(Cmd_App, &QPushButton::clicked, this, &Frm_Main::Cmd_App_Click);
    // Every change of the box counts, the program's own unticking included.
    connect(Chk_Time, &QCheckBox::toggled, this, &Frm_Main::Chk_Time_Click);
    connect(Timer1, &QTimer::timeout, this, &Frm_Main::Timer1_Timer);
}

void Frm_Main::loadSettings() {
    Combo1->addItems({QStringLiteral("Ctrl"), QStringLiteral("Alt"), QStringLiteral("Shift")});
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        Combo2->addItem(QString(QLatin1Char(letter)));
    }
    Combo1->setEditText(settings_.read(settings_keys::kModifier, QStringLiteral("Ctrl")));
    Combo2->setEditText(settings_.read(settings_keys::kKey, QStringLiteral("S")));
    // The default is only shown: it is stored when the user confirms it with Cmd_Ok.
    Txt_App->setText(settings_.contains(settings_keys::kSavePath)
                         ? settings_.read(settings_keys::kSavePath, QString())
                         : defaultSaveFolder(QCoreApplication::applicationDirPath()));
    Opt_All->setChecked(true);
    Chk_Time->setChecked(false);
    // Keyboard focus starts on the chosen capture mode rather than in a text box, whose
    // blinking caret would wake the program twice a second while it waits.
    Opt_All->setFocus();
}

void Frm_Main::centreOnScreen() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->geometry().center());
        move(frame.topLeft());
    }
}

void Frm_Main::Cmd_Yes_Click() {
    const bool modifierStored = settings_.write(settings_keys::kModifier, Combo1->currentText());
    const bool keyStored = settings_.write(settings_keys::kKey, Combo2->currentText());
    if (!modifierStored || !keyStored) {
        emit settingsNotStored();
    }
    emit hotkeyApplied();
    show();
}

QString Frm_Main::saveFolder() const {
    return Txt_App->text();
}

CaptureMode Frm_Main::captureMode() const {
    // The web mode is looked at first; no other choice means the whole screen.
    if (Opt_Web->isChecked()) {
        return CaptureMode::WebPage;
    }
    if (Opt_Part->isChecked()) {
        return CaptureMode::Control;
    }
    if (Opt_Frame->isChecked()) {
        return CaptureMode::Container;
    }
    if (Opt_Pro->isChecked()) {
        return CaptureMode::Window;
    }
    return CaptureMode::FullScreen;
}

bool Frm_Main::pointerOverlay() const {
    return Chk_Cursor->isChecked();
}

void Frm_Main::holdPicture(const QImage& picture) {
    Picture1->picture = picture;
}

void Frm_Main::disarmDelayedCapture() {
    Timer1->stop();
    Chk_Time->setChecked(false);
}

void Frm_Main::Cmd_Ok_Click() {
    if (!settings_.write(settings_keys::kSavePath, Txt_App->text())) {
        emit settingsNotStored();
    }
}

void Frm_Main::Cmd_App_Click() {
    emit folderPickerRequested();
}

void Frm_Main::Chk_Time_Click() {
    if (!Chk_Time->isChecked()) {
        Timer1->stop();
        return;
    }
    const QString typed = prompts_.input(QStringLiteral("请输入延时（单位秒）"),
                                         QStringLiteral("延时"), QStringLiteral("5"));
    // The box may have been unticked while the input box was open (by a capture that ended
    // meanwhile, say): nothing is armed behind an unticked box.
    if (!Chk_Time->isChecked()) {
        qCInfo(lcMorvane) << "delay not armed: the box was unticked while the delay was asked";
        return;
    }
    const std::optional<int> ms = delayMilliseconds(readLeadingNumber(typed));
    if (!ms) {
        // The timer holds 0 to 65,535 milliseconds; anything else arms nothing.
        Chk_Time->setChecked(false);
        prompts_.message(QStringLiteral("延时须在 0 到 65.535 秒之间"));
        return;
    }
    Timer1->setInterval(*ms);
    Timer1->start();
    if (*ms == 0) {
        Chk_Time->setChecked(false); // a delay of nothing arms nothing
    }
}

void Frm_Main::Timer1_Timer() {
    if (!Chk_Time->isChecked()) {
        qCWarning(lcMorvane) << "delayed capture dropped: the box is not ticked";
        return;
    }
    emit captureRequested();
}

void Frm_Main::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange && !isEnabled() && windowHandle()) {
        // The native window's mouse events come before the disabled widgets drop them.
        windowHandle()->installEventFilter(this);
    }
    // A minimised window is hidden; the notification-area icon brings it back. Without a
    // notification area no icon could, so the window stays minimised in the task bar.
    // The hide waits for the event to finish. The native window goes with it: the window manager
    // keeps answering the minimise for a while, and a late answer to the old window
    // would otherwise minimise it again right after it is restored. A fresh native window,
    // made when it is next shown, comes back normal.
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized) &&
        QSystemTrayIcon::isSystemTrayAvailable()) {
        QTimer::singleShot(0, this, [this] {
            if (windowState() & Qt::WindowMinimized) {
                hide();
                destroy();
                setWindowState(windowState() & ~Qt::WindowMinimized);
            }
        });
    }
}

void Frm_Main::closeEvent(QCloseEvent* event) {
    // Closing the main window always unloads it; it is never refused.
    event->accept();
    emit unloadRequested();
}

} // namespace morvane
