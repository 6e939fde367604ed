#pragma once

#include <QString>

namespace morvane {

// Web addresses read off the screen or the clipboard. Only http and https pages are ever
// opened: a file, data or script address found on the screen would be read or run as the
// user.

// Whether the address opens as a web page. A text that names its scheme ("name:" before any
// "/", unless what follows the colon is a port, as in "localhost:8000/x") is judged by that
// name: a browser's reading of what is typed into its address box turns some it cannot
// parse ("javascript://%0a...") into web addresses. Any other is judged as that reading
// completes it ("example.org/path" is http).
bool isWebAddress(const QString& address);

// An address shown on the screen, completed as a browser completes what is typed into its
// address bar ("example.org/path" is http://example.org/path). Only web addresses
// (isWebAddress) with a host are accepted, and a single word, which a browser takes for a
// search, is not; anything else gives an empty string. A user name and password in the
// address are dropped.
QString completeWebAddress(const QString& shown);

// The one http or https address the text holds, all of it: empty unless it is exactly that.
// A user name and password in it are dropped.
QString exactWebAddress(const QString& text);

// The address without any user name or password in it: opened as it stood, they would be
// sent to the host with every request. Saying that they were dropped names neither.
QString withoutUserInfo(const QString& address);

} // namespace morvane
