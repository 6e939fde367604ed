#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace morvane {

// The UTF-8 text of X Compound Text (ISO 2022 with the charsets X clients write: ASCII,
// the ISO 8859 parts, GB 2312, JIS X 0208, KS C 5601, and UTF-8 segments). Bytes that
// cannot be read, such as an unknown charset or a cut-off escape, become U+FFFD; the
// result is always valid UTF-8.
QByteArray compoundTextToUtf8(QByteArrayView text);

} // namespace morvane
