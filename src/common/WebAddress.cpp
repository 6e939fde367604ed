#include "WebAddress.h"

#include "common/Log.h"

#include <QUrl>
#include <algorithm>

namespace morvane {

namespace {

bool isWebScheme(const QString& scheme) {
    return scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0 ||
           scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

bool hasBlank(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.isSpace(); });
}

// The scheme a text names: a name and a colon before any "/", unless what follows the colon
// is a port ("localhost:8000/x", "[::1]:8000/x"). Empty when it names none.
QString namedScheme(const QString& text) {
    qsizetype from = 0;
    if (text.startsWith(QLatin1Char('['))) {
        from = text.indexOf(QLatin1Char(']'));
        if (from < 0) {
            return {}; // not an address at all; the parser refuses it
        }
    }
    const qsizetype colon = text.indexOf(QLatin1Char(':'), from);
    const qsizetype slash = text.indexOf(QLatin1Char('/'));
    if (colon < 0 || (slash >= 0 && slash < colon)) {
        return {};
    }
    qsizetype end = colon + 1;
    while (end < text.size() && text[end].isDigit()) {
        ++end;
    }
    const bool port =
        end > colon + 1 && (end == text.size() || text[end] == QLatin1Char('/') ||
                            text[end] == QLatin1Char('?') || text[end] == QLatin1Char('#'));
    return port ? QString() : text.left(colon);
}

QString dropUserInfo(QUrl url) {
    if (!url.userInfo().isEmpty()) {
        url.setUserInfo(QString());
        qCInfo(lcMorvane) << "web capture: user name and password dropped from the address"
                          << url.toString();
    }
    return url.toString();
}

} // namespace

bool isWebAddress(const QString& address) {
    const QString text = address.trimmed();
    const QString named = namedScheme(text);
    return isWebScheme(named.isEmpty() ? QUrl::fromUserInput(text).scheme() : named);
}

QString completeWebAddress(const QString& shown) {
    const QString text = shown.trimmed();
    if (text.isEmpty() || hasBlank(text) || !isWebAddress(text)) {
        return {};
    }
    const QUrl url = QUrl::fromUserInput(text);
    // A single word is a search to a browser, not a host.
    const QString host = url.host();
    if (!url.isValid() || host.isEmpty() ||
        (!host.contains(QLatin1Char('.')) && !host.contains(QLatin1Char(':')) &&
         host != QLatin1String("localhost"))) {
        return {};
    }
    return dropUserInfo(url);
}

QString exactWebAddress(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || hasBlank(trimmed)) {
        return {};
    }
    const QUrl url(trimmed, QUrl::StrictMode);
    return url.isValid() && isWebScheme(url.scheme()) && !url.host().isEmpty() ? dropUserInfo(url)
                                                                               : QString();
}

QString withoutUserInfo(const QString& address) {
    const QUrl url(address);
    return url.userInfo().isEmpty() ? address : dropUserInfo(url);
}

} // namespace morvane
