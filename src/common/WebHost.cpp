#include "WebHost.h"

#include <QChar>
#include <QStringList>
#include <QUrl>
#include <algorithm>
#include <array>
#include <set>

namespace morvane {

namespace {

using Scripts = std::set<QChar::Script>;

// The sets of scripts one name may draw on: any single script, or one of these (the
// "highly restrictive" level of Unicode's security mechanisms).
bool allowedTogether(const Scripts& scripts) {
    if (scripts.size() <= 1) {
        return true;
    }
    static const std::array<Scripts, 3> kTogether = {{
        {QChar::Script_Latin, QChar::Script_Han, QChar::Script_Hiragana, QChar::Script_Katakana},
        {QChar::Script_Latin, QChar::Script_Han, QChar::Script_Bopomofo},
        {QChar::Script_Latin, QChar::Script_Han, QChar::Script_Hangul},
    }};
    return std::any_of(kTogether.begin(), kTogether.end(), [&](const Scripts& set) {
        return std::includes(set.begin(), set.end(), scripts.begin(), scripts.end());
    });
}

bool labelMixesScripts(const QString& label) {
    Scripts scripts;
    for (const char32_t c : label.toUcs4()) {
        const QChar::Script script = QChar::script(c);
        if (script != QChar::Script_Common && script != QChar::Script_Inherited &&
            script != QChar::Script_Unknown) {
            scripts.insert(script);
        }
    }
    return !allowedTogether(scripts);
}

} // namespace

bool hostMixesScripts(const QString& host) {
    const QStringList labels = host.split(QLatin1Char('.'));
    return std::any_of(labels.begin(), labels.end(), labelMixesScripts);
}

QString addressForDisplay(const QString& address) {
    const QUrl url(address);
    const QByteArray ascii = url.isValid() ? QUrl::toAce(url.host()) : QByteArray();
    // Judged in Unicode, whatever form the address came in and whatever its top-level domain.
    if (ascii.isEmpty() || !hostMixesScripts(QUrl::fromAce(ascii, QUrl::IgnoreIDNWhitelist))) {
        return address;
    }
    QString shown = url.scheme() + QLatin1String("://");
    if (!url.userInfo().isEmpty()) {
        shown += url.userInfo() + QLatin1Char('@');
    }
    shown += QString::fromLatin1(ascii);
    if (url.port() >= 0) {
        shown += QLatin1Char(':') + QString::number(url.port());
    }
    return shown + url.toString(QUrl::RemoveScheme | QUrl::RemoveAuthority);
}

} // namespace morvane
