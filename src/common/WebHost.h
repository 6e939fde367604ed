#pragma once

#include <QString>

namespace morvane {

// Whether a host name could pass for another one: one of its labels mixes letters of
// scripts that are not written together (Latin with Cyrillic, as in "аpple" with a Cyrillic
// "а"). Latin, Han, Hiragana, Katakana, Bopomofo and Hangul keep the company they keep in
// Chinese, Japanese and Korean names; digits, hyphens and marks count for no script.
bool hostMixesScripts(const QString& host);

// The address as the program shows it: unchanged, except that a host that mixes scripts is
// written in its ASCII form ("xn--pple-43d.com"), as browsers show such hosts.
QString addressForDisplay(const QString& address);

} // namespace morvane
