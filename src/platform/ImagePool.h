#pragma once

#include <QImage>
#include <QSize>

namespace morvane {

// A QImage whose pixel memory is recycled: when the last copy of the image is gone, its
// buffer waits for the next capture instead of going back to the system. Screen grabs of
// several megabytes follow each other; reusing their buffers saves the page faults of fresh
// memory and keeps the program's size steady however many captures it makes. Buffers of
// more than kLargestPooled bytes are not kept.
QImage pooledImage(QSize size, QImage::Format format);

inline constexpr qsizetype kLargestPooled = qsizetype{64} << 20;

} // namespace morvane
