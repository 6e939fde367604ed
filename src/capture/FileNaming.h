#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace morvane {

// Removes, in this order, every tab, \ / : * ? " < > and |, then every other control
// character (U+0001-U+001F, U+007F-U+009F), the bidirectional marks, embeddings, overrides
// and isolates (U+061C, U+200E, U+200F, U+202A-U+202E, U+2066-U+2069) and the line and
// paragraph separators (U+2028, U+2029), and last the dots a name would start with (it
// would be hidden). Nothing else changes: spaces, other dots and every other character stay.
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

// Whether any directory entry stands at the path, a dangling link included: what an
// exclusive create would find in its way.
bool entryExists(const QString& path);

// Whether a name is taken in a folder: any directory entry of that name counts (a file, a
// folder, a link even when it dangles). Probes a few numbers directly; a folder that already
// holds many captures of the title is read once instead, so naming stays quick.
class FolderNames {
public:
    FolderNames(QString folder, QString cleanedTitle);

    // The capture name with the lowest free number.
    std::optional<QString> firstFree();
    // A name that turned out to be taken after all: another program created it first.
    void markTaken(const QString& name);
    bool taken(const QString& name);

private:
    void readFolder();
    // The number in title + "temp" + number + ".bmp", given as bytes; 0 when not one.
    int captureNumber(const char* name, std::size_t length) const;
    bool numberTaken(int n) const;
    // Notes a capture number of this title as taken; false for a number out of range.
    bool noteNumber(int n);

    QString folder_;
    QString title_;
    std::string prefix_; // title + "temp", as bytes
    bool titleFitsWhole_ = true;
    int probes_ = 0;
    bool listed_ = false;
    bool unreadable_ = false;
    std::vector<bool> numbers_;              // this title's capture numbers that exist
    std::unordered_set<std::string> others_; // every other entry, and names lost to races
};

} // namespace morvane
