#pragma once

#include <QByteArray>

namespace morvane {

// A window's title as the desktop answers it: at most 254 bytes, never ending inside a
// UTF-8 character. Bytes that are not UTF-8 at all are cut at the limit.
QByteArray limitUtf8(QByteArray text);

} // namespace morvane
