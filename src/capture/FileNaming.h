#pragma once

#include <QString>
#include <functional>
#include <optional>

namespace morvane {

// Removes, in this order, every tab, \ / : * ? " < > and |. Nothing else changes: spaces,
// dots and every other character stay.
QString CleanTitle(const QString& title);

// Longest name a Linux file system takes, in bytes of UTF-8.
inline constexpr int kMaxFileNameBytes = 255;

// The capture file name for number n: title + "temp" + n + ".bmp". When that would exceed
// kMaxFileNameBytes, the title is shortened at a character boundary so that it fits.
QString captureFileName(const QString& cleanedTitle, int n);

// The name for the lowest number n >= from whose name is not taken; nothing when every
// number up to the largest 32-bit value is taken.
std::optional<QString> MakeCaptureFileName(const QString& cleanedTitle,
                                           const std::function<bool(const QString&)>& taken,
                                           int from = 1);

// Whether a name is taken in a folder: any directory entry of that name counts (a file, a
// folder, a link even when it dangles). Probes a few numbers directly; a folder that already
// holds many captures of the title is read once instead, so naming stays quick.
class FolderNames {
public:
    explicit FolderNames(QString folder);
    bool taken(const QString& name);

private:
    QString folder_;
    int probes_ = 0;
    std::optional<std::function<bool(const QString&)>> listing_;
};

} // namespace morvane
