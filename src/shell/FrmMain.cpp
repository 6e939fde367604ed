#include "FrmMain.h"

#include "CaptionButtons.h"
#include "DelayArming.h"
#include "MainCaptureHost.h"
#include "MainLooks.h"
#include "SettingsStore.h"
#include "common/Fonts.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

namespace morvane {

namespace {

// Contact number shown by the contact link, and the site it names.
const QString kContactNumber = QStringLiteral("800012345");
const QString kContactSite = QStringLiteral("morvane.example");

} // namespace

using namespace looks;

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
    delay_ = std::make_unique<DelayArming>(*Chk_Time, *Timer1, prompts_);
    host_ = std::make_unique<MainCaptureHost>(*this);
}

Frm_Main::~Frm_Main() = default;

QString Frm_Main::contactLink() {
    return QStringLiteral("tencent://AddContact/?fromId=45&fromSubId=1&subcmd=all&uin=") +
           kContactNumber + QStringLiteral("&website=") + kContactSite;
}

void Frm_Main::loadPictures() {
    MainPictures pictures = loadMainPictures();
    skin_ = pictures.skin;
    setWindowIcon(QIcon(pictures.icon));
    Image1->setPixmap(pictures.icon);
    Image7 = pictures.close;
    Image8 = pictures.minimise;
    Image9 = pictures.closeLit;
    Image10 = pictures.minimiseLit;
    caption_ = new CaptionButtons(
        *this, {Label3, Image1, Label4, Ige_min, Ige_exit, &Image8, &Image10, &Image7, &Image9});
    for (QLabel* link : {Label6, Label7}) {
        link->setCursor(pictures.hand);
        link->installEventFilter(this);
    }
}

void Frm_Main::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    QPainter(this).drawPixmap(0, 0, skin_);
}

bool Frm_Main::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseMove && type != QEvent::MouseButtonPress &&
        type != QEvent::MouseButtonRelease && type != QEvent::MouseButtonDblClick) {
        return QWidget::eventFilter(watched, event);
    }
    // The links act on a left release inside them.
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (type == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton &&
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

void Frm_Main::buildControls() {
    // Rectangles in twips.
    const auto place = [this](QWidget* control, int left, int top, int width, int height) {
        looks::place(control, left, top, width, height, tpp_);
    };
    // Created bottom to top: the transparent title strip lies under the icon, the title
    // and the caption buttons.
    Label3 = transparentLabel(QStringLiteral(" "), this);
    place(Label3, 0, 0, 6135, 420);

    Image1 = new QLabel(this);
    Image1->setScaledContents(true);
    place(Image1, 120, 50, 360, 360);

    Label4 = transparentLabel(QStringLiteral("Morvane"), this);
    Label4->setFont(uiFont(10.5, true));
    setTextColour(Label4, kTitleYellow);
    place(Label4, 600, 100, 1350, 210);

    Ige_min = new QLabel(this);
    place(Ige_min, 6600, 0, 270, 270);
    Ige_exit = new QLabel(this);
    place(Ige_exit, 6960, 0, 270, 270);

    Label1 = transparentLabel(QStringLiteral("设置保存组合键"), this);
    setTextColour(Label1, kPaleGreen);
    place(Label1, 120, 600, 1260, 180);

    Combo1 = new QComboBox(this);
    Label2 = transparentLabel(QStringLiteral("+"), this);
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
    placeWithNaturalHeight(Combo1, 1440, 555, 1035, tpp_);
    placeWithNaturalHeight(Combo2, 2760, 555, 1005, tpp_);

    Cmd_Yes = new QPushButton(QStringLiteral("确定"), this);
    place(Cmd_Yes, 3840, 555, 975, 300);

    Label7 = transparentLabel(kContactNumber, this);
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

    Label6 = transparentLabel(QStringLiteral("图片裁剪"), Frame1);
    Label6->setFont(uiFont(9, false, true));
    setTextColour(Label6, kOptionGreen);
    place(Label6, 5880, 720, 720, 180);

    Label5 = transparentLabel(QStringLiteral("保存路径"), Frame1);
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
    centreOnPrimaryScreen(*this);
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

CaptureHost& Frm_Main::captureHost() {
    return *host_;
}

void Frm_Main::disarmDelayedCapture() {
    delay_->disarm();
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
    delay_->boxToggled();
}

void Frm_Main::Timer1_Timer() {
    if (delay_->due()) {
        emit captureRequested();
    }
}

void Frm_Main::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
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
