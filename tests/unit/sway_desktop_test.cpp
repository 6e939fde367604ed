#include "capture/Dispatcher.h"
#include "platform/KeyCodes.h"
#include "platform/SwayDesktop.h"
#include "platform/SwayHotkey.h"
#include "platform/SwayIpc.h"

#include <gtest/gtest.h>

using namespace morvane;

namespace {

// sway's tree, cut to the fields the program reads: a scratchpad, an output showing
// workspace 1 with a tiled terminal (and a hidden tab) and two floating windows, the later
// raised one an X dialog of the other; workspace 2 is not shown.
const QByteArray kTree = R"({"type": "root", "nodes": [
  {"type": "output", "name": "__i3", "rect": {"x": 0, "y": 0, "width": 1280, "height": 800},
   "nodes": [{"type": "workspace", "name": "__i3_scratch", "nodes": [], "floating_nodes": []}]},
  {"type": "output", "name": "HEADLESS-1", "current_workspace": "1",
   "rect": {"x": 0, "y": 0, "width": 1280, "height": 800}, "nodes": [
    {"type": "workspace", "name": "1", "nodes": [
      {"type": "con", "layout": "tabbed", "nodes": [
        {"type": "con", "id": 5, "name": "Terminal", "app_id": "foot", "pid": 40,
         "shell": "xdg_shell", "visible": true, "focused": true,
         "rect": {"x": 0, "y": 25, "width": 640, "height": 775},
         "deco_rect": {"x": 0, "y": 0, "width": 640, "height": 25},
         "window_rect": {"x": 2, "y": 0, "width": 636, "height": 773},
         "geometry": {"x": 0, "y": 0, "width": 636, "height": 773}, "nodes": []},
        {"type": "con", "id": 6, "name": "Hidden tab", "app_id": "foot", "pid": 41,
         "shell": "xdg_shell", "visible": false,
         "rect": {"x": 0, "y": 25, "width": 640, "height": 775}, "nodes": []}]}],
     "floating_nodes": [
      {"type": "floating_con", "id": 7, "name": "Editor", "app_id": null, "pid": 50,
       "shell": "xwayland", "window": 4194305, "visible": true,
       "window_properties": {"class": "Gvim", "title": "Editor"},
       "rect": {"x": 100, "y": 100, "width": 400, "height": 300},
       "deco_rect": {"x": 100, "y": 75, "width": 400, "height": 25},
       "window_rect": {"x": 2, "y": 0, "width": 396, "height": 298},
       "geometry": {"x": 0, "y": 0, "width": 396, "height": 298}, "nodes": []},
      {"type": "floating_con", "id": 8, "name": "Find", "app_id": null, "pid": -1,
       "shell": "xwayland", "window": 4194310, "visible": true,
       "window_properties": {"class": "Gvim", "transient_for": 4194305},
       "rect": {"x": 150, "y": 150, "width": 200, "height": 100},
       "deco_rect": {"x": 0, "y": 0, "width": 0, "height": 0},
       "window_rect": {"x": 0, "y": 0, "width": 200, "height": 100},
       "geometry": {"x": 0, "y": 0, "width": 200, "height": 100}, "nodes": []},
      {"type": "floating_con", "id": 9, "name": "Shadowed", "app_id": "gedit", "pid": 60,
       "shell": "xdg_shell", "visible": true,
       "rect": {"x": 700, "y": 400, "width": 300, "height": 200},
       "deco_rect": {"x": 700, "y": 400, "width": 0, "height": 0},
       "window_rect": {"x": 0, "y": 0, "width": 300, "height": 200},
       "geometry": {"x": 26, "y": 23, "width": 300, "height": 200}, "nodes": []}]},
    {"type": "workspace", "name": "2", "nodes": [
      {"type": "con", "id": 10, "name": "Elsewhere", "app_id": "x", "shell": "xdg_shell",
       "visible": false, "rect": {"x": 0, "y": 0, "width": 9, "height": 9}, "nodes": []}],
     "floating_nodes": []}]}]})";

} // namespace

TEST(SwayTree, ShownWindowsTopmostFirstWithFramesSurfacesAndOwners) {
    const std::optional<SwaySnapshot> snapshot = parseSwayTree(kTree);
    ASSERT_TRUE(snapshot);
    ASSERT_EQ(snapshot->outputs.size(), 1);
    EXPECT_EQ(snapshot->outputs[0].name, QStringLiteral("HEADLESS-1"));
    QStringList names;
    for (const SwayWindow& window : snapshot->windows) {
        names << window.name;
    }
    // The floating ones above the tiled, the last raised first; hidden ones left out.
    EXPECT_EQ(names, QStringList({"Shadowed", "Find", "Editor", "Terminal"}));
    const SwayWindow& terminal = snapshot->windows[3];
    EXPECT_EQ(terminal.frame, QRect(0, 0, 640, 800)); // the title bar above sway's rect
    EXPECT_EQ(terminal.surface, QPoint(2, 25));
    EXPECT_TRUE(terminal.focused);
    EXPECT_EQ(terminal.appClass, "foot");
    const SwayWindow& editor = snapshot->windows[2];
    EXPECT_EQ(editor.frame, QRect(100, 75, 400, 325));
    EXPECT_EQ(editor.appClass, "Gvim");
    EXPECT_EQ(snapshot->windows[1].owner, 7);
    EXPECT_EQ(snapshot->windows[1].pid, 0u);
    EXPECT_EQ(snapshot->windows[0].surface, QPoint(674, 377)); // the client's shadow outside
    for (const char* broken : {"", "[]", R"({"type": "con", "nodes": []})", R"({"type": "root")"}) {
        EXPECT_FALSE(parseSwayTree(broken)) << broken;
    }
}

TEST(SwayDesktopWindows, TheFocusedWindowIsUnderThePointer) {
    SwayDesktop desktop(nullptr);
    desktop.setSnapshot(*parseSwayTree(kTree));
    const QPoint pointer = desktop.pointerPosition();
    EXPECT_EQ(pointer, QRect(0, 0, 640, 800).center());
    const WindowId terminal = desktop.windowAt(pointer);
    EXPECT_EQ(desktop.windowText(terminal), "Terminal");
    EXPECT_EQ(desktop.windowProcess(terminal), 40u);
    const WindowId find = desktop.windowAt(QPoint(160, 160));
    EXPECT_EQ(desktop.windowText(find), "Find");
    EXPECT_EQ(desktop.windowText(desktop.parentOf(find)), "Editor");
    EXPECT_EQ(captureTarget(desktop, CaptureMode::Window, find), desktop.parentOf(find));
    EXPECT_EQ(desktop.accessibleOrigin(terminal), QPoint(2, 25));
    EXPECT_EQ(desktop.windowAt(QPoint(1200, 700)), 0u);
    EXPECT_EQ(desktop.windowRect(0), QRect(0, 0, 1280, 800));
    EXPECT_EQ(desktop.windowRect(99), QRect());
}

TEST(SwayCommands, TheFirstRefusalIsTheError) {
    EXPECT_EQ(swayCommandError(R"([{"success": true}, {"success": true}])"), QString());
    EXPECT_EQ(swayCommandError(R"([{"success": true}, {"success": false, "error": "No"}])"),
              QStringLiteral("No"));
    EXPECT_FALSE(swayCommandError("").isEmpty());
    EXPECT_FALSE(swayCommandError("[]").isEmpty());
}

TEST(SwayBindings, KeysAreNamedAsSwayNamesThem) {
    EXPECT_EQ(SwayHotkey::bindingName(kModControl | kModShift, 0x53), "Ctrl+Shift+s");
    EXPECT_EQ(SwayHotkey::bindingName(kModAlt, 0x71), "Alt+F2");
    EXPECT_EQ(SwayHotkey::bindingName(0, 0x2C), "Print");
    EXPECT_EQ(SwayHotkey::bindingName(kModControl, 0x61), "Ctrl+KP_1");
    EXPECT_EQ(SwayHotkey::bindingName(kModControl, 0x4E2D), "");
}

TEST(SwayBindings, TheUsersConfigurationIsReadWithItsVariablesAndAliases) {
    const QByteArray config = R"(set $mod Mod1
set $modifier Control
bindsym $mod+Shift+q kill
bindsym --release $modifier+Print exec grim
# bindsym Ctrl+F1 exec commented
mode "resize" {
    bindsym Ctrl+F2 resize shrink width 10px
}
bindsym {
    Ctrl+F3 exec none
}
)";
    EXPECT_TRUE(SwayHotkey::configBinds(config, "Alt+Shift+q"));
    EXPECT_TRUE(SwayHotkey::configBinds(config, "Shift+Alt+Q"));
    EXPECT_TRUE(SwayHotkey::configBinds(config, "Ctrl+Print"));
    EXPECT_FALSE(SwayHotkey::configBinds(config, "Ctrl+F1"));
    EXPECT_FALSE(SwayHotkey::configBinds(config, "Ctrl+F2")); // only in another mode
    EXPECT_FALSE(SwayHotkey::configBinds(config, "Ctrl+q"));
}
