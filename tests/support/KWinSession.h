#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>

// Helpers for tests that run inside tests/desktop/with-kwin: input through the fake-input tool
// that with-kwin names in MORVANE_KWIN_INPUT, and questions to KWin through its scripting.
// Each helper that fails adds a test failure saying why, and returns false or an empty string.
namespace morvane::test::kwin {

// The pointer to a global position, in logical pixels.
bool movePointer(QPoint at);
// The left button pressed and released where the pointer is.
bool click();
// A combination such as "ctrl+s": the names the input tool knows.
bool pressKeys(const QString& combination);
// Any command line of the input tool, e.g. {"move", "10", "10", "click"}.
bool input(const QStringList& commands);

// Runs the JavaScript as a KWin script and returns the text it hands to reply(text), a
// function defined for it; waits up to 5 s for the reply, then unloads the script. E.g.
//     runKWinScript("reply(workspace.cursorPos.x + ' ' + workspace.cursorPos.y);")
// The reply's wait is a nested event loop (QSignalSpy::wait) that ends with the call.
QString runKWinScript(const QString& js);

} // namespace morvane::test::kwin
