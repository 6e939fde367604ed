#include "common/WebHost.h"

#include <gtest/gtest.h>

using namespace morvane;

namespace {

struct Shown {
    const char* name;
    const char* address; // UTF-8
    const char* shown;   // UTF-8
};

class WebHostShown : public ::testing::TestWithParam<Shown> {};

} // namespace

TEST_P(WebHostShown, MixedHostsInTheirAsciiFormTheRestAsGiven) {
    EXPECT_EQ(addressForDisplay(QString::fromUtf8(GetParam().address)).toStdString(),
              GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, WebHostShown,
    ::testing::Values(
        // A Cyrillic "а" among Latin letters, written either way.
        Shown{"CyrillicInLatin", "http://xn--pple-43d.com/", "http://xn--pple-43d.com/"},
        Shown{"CyrillicInLatinDecoded", "http://\u0430pple.com/", "http://xn--pple-43d.com/"},
        // A Greek omicron, with the rest of the address kept: user, port, path, query, part.
        Shown{"GreekInLatinWithEverything", "https://me@g\u03bfogle.com:8443/a/b?q=1#top",
              "https://me@xn--gogle-rce.com:8443/a/b?q=1#top"},
        // Only one label mixes; the whole host is shown in ASCII.
        Shown{"OneLabelOfMany", "http://www.p\u0430ypal.\u4f8b\u5b50.cn/",
              "http://www.xn--pypal-4ve.xn--fsqu00a.cn/"},
        // A top-level domain Qt shows in ASCII only: the host is judged all the same.
        Shown{"UnlistedTopLevelDomain", "http://\u0430pple.test/", "http://xn--pple-43d.test/"},
        Shown{"AllLatin", "http://example.org/path", "http://example.org/path"},
        Shown{"AllHan", "http://\u4f8b\u5b50.\u4e2d\u56fd/", "http://\u4f8b\u5b50.\u4e2d\u56fd/"},
        Shown{"AllCyrillic", "http://\u043f\u0440\u0438\u043c\u0435\u0440.\u0440\u0444/",
              "http://\u043f\u0440\u0438\u043c\u0435\u0440.\u0440\u0444/"},
        // Scripts written together: Latin with Han, Han with kana, Han with Hangul; digits
        // and hyphens belong to no script.
        Shown{"LatinWithHan", "http://qq\u6e38\u620f.com/", "http://qq\u6e38\u620f.com/"},
        Shown{"HanWithKana", "http://\u65e5\u672c\u3054-2.jp/", "http://\u65e5\u672c\u3054-2.jp/"},
        Shown{"HanWithHangul", "http://\ud55c\uad6d\u4eba.kr/", "http://\ud55c\uad6d\u4eba.kr/"},
        // Kana with Hangul is no language's name.
        Shown{"KanaWithHangul", "http://\u3053\ud55c.com/", "http://xn--28jz380c.com/"},
        Shown{"NotAnAddress", "not an address", "not an address"},
        Shown{"IpAddress", "http://[::1]:8080/x", "http://[::1]:8080/x"}),
    [](const auto& p) { return std::string(p.param.name); });
