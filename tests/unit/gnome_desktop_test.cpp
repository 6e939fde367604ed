#include "capture/Dispatcher.h"
#include "platform/GnomeHotkey.h"
#include "platform/KeyCodes.h"
#include "platform/PortalDesktop.h"
#include "platform/PortalScreenShot.h"
#include "support/RecordingCapture.h"
#include "support/RecordingPrompts.h"

#include <memory>

#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")
#include <gtest/gtest.h>

using namespace morvane;

namespace {

const char kMediaKeys[] = "org.gnome.settings-daemon.plugins.media-keys";
const char kCustom[] = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
const char kUserPath[] =
    "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/";

struct Unref {
    void operator()(gpointer p) const { g_object_unref(p); }
};
using Settings = std::unique_ptr<GSettings, Unref>;

Settings custom(const char* path) {
    return Settings(g_settings_new_with_path(kCustom, path));
}

QString text(const Settings& settings, const char* key) {
    gchar* value = g_settings_get_string(settings.get(), key);
    const QString result = QString::fromUtf8(value);
    g_free(value);
    return result;
}

QStringList customList() {
    const Settings mediaKeys(g_settings_new(kMediaKeys));
    gchar** values = g_settings_get_strv(mediaKeys.get(), "custom-keybindings");
    QStringList list;
    for (gchar** v = values; *v; ++v) {
        list.append(QString::fromUtf8(*v));
    }
    g_strfreev(values);
    return list;
}

} // namespace

TEST(GnomeAccelerator, NamesAndComparesCombinationsAsGnomeWritesThem) {
    EXPECT_EQ(GnomeHotkey::acceleratorName(kModControl, 'S'), "<Control>s");
    EXPECT_EQ(GnomeHotkey::acceleratorName(kModControl | kModAlt | kModShift, 0x70),
              "<Control><Alt><Shift>F1");
    EXPECT_EQ(GnomeHotkey::acceleratorName(kModControl, 0x07), ""); // no key
    const QByteArray same = GnomeHotkey::normalisedAccelerator("<Control><Shift>s");
    for (const char* spelling :
         {"<Shift><Primary>S", "<ctrl><shift>s", " <Control><Shift><Ctrl>s"}) {
        EXPECT_EQ(GnomeHotkey::normalisedAccelerator(spelling), same) << spelling;
    }
    EXPECT_NE(GnomeHotkey::normalisedAccelerator("<Control>s"), same);
    for (const char* none : {"", "<Control>", "<Control", "disabled"}) {
        EXPECT_NE(GnomeHotkey::normalisedAccelerator(none), same) << none;
    }
}

// The real GSettings with its memory backend (set for the unit tests): what the settings
// daemon would read.
TEST(GnomeHotkeyEntry, IsTakenOverReplacedAndRemovedLeavingTheUsersBindingsAlone) {
    const QString own = QString::fromLatin1(GnomeHotkey::entryPath());
    const Settings user = custom(kUserPath);
    g_settings_set_string(user.get(), "name", "Terminal");
    g_settings_set_string(user.get(), "binding", "<Primary><Alt>t");
    const Settings entry = custom(GnomeHotkey::entryPath());
    g_settings_set_string(entry.get(), "binding", "<Alt>q"); // left by a run that crashed
    g_settings_set_string(entry.get(), "command", "old --capture");
    const QByteArray ownPath = own.toUtf8();
    const gchar* list[] = {kUserPath, ownPath.constData(), nullptr};
    const Settings mediaKeys(g_settings_new(kMediaKeys));
    g_settings_set_strv(mediaKeys.get(), "custom-keybindings", list);

    GnomeHotkey hotkey("'/opt/my prog/morvane' --capture");
    ASSERT_TRUE(hotkey.grab(kModControl, 'S'));
    EXPECT_EQ(customList(), QStringList({QString::fromLatin1(kUserPath), own}));
    EXPECT_EQ(text(entry, "binding"), QStringLiteral("<Control>s"));
    EXPECT_EQ(text(entry, "command"), QStringLiteral("'/opt/my prog/morvane' --capture"));

    // Keys another binding holds are refused, and the entry stops holding the old ones.
    EXPECT_FALSE(hotkey.grab(kModControl | kModAlt, 'T'));
    EXPECT_EQ(customList(), QStringList({QString::fromLatin1(kUserPath)}));
    EXPECT_EQ(GnomeHotkey::holdersOf("<Ctrl><Alt>T"), QList<QByteArray>({"custom: Terminal"}));
    EXPECT_FALSE(hotkey.grab(kModAlt, 0x73)); // Alt+F4: the window manager's close

    ASSERT_TRUE(hotkey.grab(kModControl | kModShift, 'S'));
    EXPECT_EQ(customList().count(own), 1);
    hotkey.release();
    hotkey.release();
    EXPECT_EQ(customList(), QStringList({QString::fromLatin1(kUserPath)}));
    EXPECT_EQ(text(entry, "binding"), QString());
    EXPECT_EQ(text(user, "binding"), QStringLiteral("<Primary><Alt>t"));
}

TEST(PortalScreenShot, NamesTheRequestAndTheRefusal) {
    EXPECT_EQ(portalRequestPath(":1.42", "morvane7"),
              "/org/freedesktop/portal/desktop/request/1_42/morvane7");
    EXPECT_NE(portalRefusal(1), portalRefusal(2));
}

TEST(PortalDesktop, CutsTheScreensPartAtScreenSizeAndNamesWhatItCannotDo) {
    QImage desktop(200, 100, QImage::Format_RGB32); // a desktop drawn at scale 2
    desktop.fill(Qt::red);
    for (int y = 94; y < 100; ++y) {
        for (int x = 194; x < 200; ++x) {
            desktop.setPixelColor(x, y, Qt::blue); // the desktop's bottom-right corner
        }
    }
    const QImage part = PortalDesktop::cut(desktop, QSize(100, 50), QRect(90, 40, 20, 20));
    ASSERT_EQ(part.size(), QSize(20, 20));
    EXPECT_EQ(part.pixelColor(0, 0), QColor(Qt::red));
    EXPECT_GT(part.pixelColor(9, 9).blue(), 200);
    EXPECT_LT(part.pixelColor(9, 9).red(), 60);
    EXPECT_EQ(part.pixelColor(15, 15), QColor(Qt::black)); // beyond the desktop
    EXPECT_TRUE(PortalDesktop::cut(desktop, QSize(200, 100), QRect(190, 90, 10, 10)) ==
                desktop.copy(190, 90, 10, 10)); // at scale 1

    PortalDesktop gnome(QStringLiteral("GNOME"));
    gnome.pointerPosition();
    EXPECT_TRUE(gnome.windowRect(gnome.windowAt({1, 1})).isEmpty());
    EXPECT_TRUE(gnome.grabFailure().startsWith(QStringLiteral("GNOME 不让程序得知鼠标下的窗口")));
    EXPECT_FALSE(gnome.pointerImage());
}

// With no window to read an address from, web mode takes the one the user copied.
TEST(PortalDesktop, WebModeOpensTheCopiedAddress) {
    PortalDesktop desktop(QStringLiteral("GNOME"));
    test::RecordingHost host;
    host.folder = QStringLiteral("/tmp");
    host.mode = CaptureMode::WebPage;
    test::RecordingPrompts prompts;
    test::RecordingClipboard clipboard;
    clipboard.copied = QStringLiteral("https://example.org/page");
    test::RecordingOpener opener;
    Dispatcher dispatcher(host, desktop, prompts, clipboard, &opener);
    dispatcher.DoCapture();
    EXPECT_EQ(opener.addresses, QStringList({QStringLiteral("https://example.org/page")}));
}
