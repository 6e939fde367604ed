#include "shell/BrowserLink.h"
#include "shell/BrowserProcess.h"
#include "support/RecordingCapture.h"
#include "support/RecordingPrompts.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace morvane {
namespace {

// A picture's message: its line, then its rows.
QByteArray pictureBytes(const QImage& picture) {
    return linkLine(pictureHeader(picture)) +
           QByteArray(reinterpret_cast<const char*>(picture.constBits()), picture.sizeInBytes());
}

TEST(LinkReader, MessagesAndPicturesSurviveAnySplitOfTheStream) {
    QImage picture(3, 2, QImage::Format_RGB32);
    for (int i = 0; i < 6; ++i) {
        picture.setPixel(i % 3, i / 3, 0xff000000u | (0x10101u * static_cast<unsigned>(i)));
    }
    const CaptureOutcome saved{CaptureOutcome::Kind::Saved, QStringLiteral("/tmp/a b\n/temp1.bmp"),
                               QString()};
    const QByteArray stream = linkLine({{QStringLiteral("capturing"), true}}) +
                              pictureBytes(picture) + linkLine(outcomeMessage(saved));
    for (const qsizetype piece : {qsizetype{1}, qsizetype{7}, stream.size()}) {
        LinkReader reader;
        std::vector<LinkMessage> got;
        for (qsizetype at = 0; at < stream.size(); at += piece) {
            for (LinkMessage& m :
                 reader.feed(stream.constData() + at, std::min(piece, stream.size() - at))) {
                got.push_back(std::move(m));
            }
        }
        ASSERT_EQ(got.size(), 3U) << "pieces of " << piece;
        EXPECT_TRUE(got[0].json.value(QStringLiteral("capturing")).toBool());
        EXPECT_EQ(got[1].picture, picture);
        const std::optional<CaptureOutcome> outcome = outcomeOf(got[2].json);
        ASSERT_TRUE(outcome);
        EXPECT_EQ(outcome->kind, CaptureOutcome::Kind::Saved);
        EXPECT_EQ(outcome->path, saved.path);
        EXPECT_FALSE(reader.broken());
    }
}

// What no copy of the program sends ends the link, and nothing after it is read.
class BrokenLink : public ::testing::TestWithParam<QByteArray> {};

TEST_P(BrokenLink, EndsTheLink) {
    LinkReader reader;
    const QByteArray bytes = GetParam() + linkLine({{QStringLiteral("enabled"), true}});
    EXPECT_TRUE(reader.feed(bytes.constData(), bytes.size()).empty());
    EXPECT_TRUE(reader.broken());
}

INSTANTIATE_TEST_SUITE_P(
    Streams, BrokenLink,
    ::testing::Values(QByteArray("not json\n"), QByteArray("[1,2]\n"),
                      QByteArray("{\"picture\":{\"w\":0,\"h\":5}}\n"),
                      QByteArray("{\"picture\":{\"w\":-4,\"h\":-5}}\n"),
                      QByteArray("{\"picture\":{\"w\":100000,\"h\":100000}}\n"),
                      QByteArray(2 << 20, 'x')));

// A browser window's process that ends by itself: its end is reported, saying whether the
// page's picture had reached the clipboard, and the main window takes requests again.
struct UnexpectedEnd {
    const char* script; // the window's process, written to its link on descriptor 3
    CaptureOutcome::Kind kind;
    const char* reason; // nothing when no outcome is reported
    bool picture;
};

class BrowserProcessEnd : public ::testing::TestWithParam<UnexpectedEnd> {};

TEST_P(BrowserProcessEnd, IsReported) {
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("window"));
    {
        QFile file(program);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("#!/bin/sh\n") + GetParam().script + "\n");
        file.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    }
    test::RecordingPrompts prompts;
    test::RecordingClipboard clipboard;
    std::vector<CaptureOutcome> outcomes;
    WebCaptureContext context;
    context.prompts = &prompts;
    context.clipboard = &clipboard;
    context.saveFolder = [] { return QStringLiteral("/nowhere"); };
    context.report = [&](const CaptureOutcome& outcome) { outcomes.push_back(outcome); };
    BrowserProcess browser(context, program);
    browser.openAddress(QStringLiteral("http://example.test/"));
    QElapsedTimer waited;
    waited.start();
    while (outcomes.empty() && waited.elapsed() < (GetParam().reason ? 10000 : 1000)) {
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    ASSERT_EQ(outcomes.size(), GetParam().reason ? 1U : 0U);
    if (outcomes.empty()) {
        return;
    }
    EXPECT_EQ(outcomes[0].kind, GetParam().kind);
    EXPECT_EQ(outcomes[0].reason, QString::fromUtf8(GetParam().reason));
    EXPECT_EQ(clipboard.images.size(), GetParam().picture ? 1U : 0U);
    EXPECT_FALSE(browser.pageCaptureRunning());
    EXPECT_TRUE(prompts.messages.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Ends, BrowserProcessEnd,
    ::testing::Values(
        UnexpectedEnd{"exit 1", CaptureOutcome::Kind::NoPicture, "浏览器窗口意外结束", false},
        // It has told the user itself.
        UnexpectedEnd{"exit 3", CaptureOutcome::Kind::NoPicture, nullptr, false},
        UnexpectedEnd{"echo '{\"capturing\":true}' >&3; kill -9 $$",
                      CaptureOutcome::Kind::NoPicture, "浏览器窗口意外结束，网页没有抓下", false},
        UnexpectedEnd{"echo '{\"capturing\":false}' >&3; echo '{\"picture\":{\"w\":1,\"h\":1}}' "
                      ">&3; printf 'abcd' >&3; exit 1",
                      CaptureOutcome::Kind::NotWritten, "浏览器窗口意外结束", true},
        UnexpectedEnd{"echo '{\"capturing\":true}' >&3; echo garbage >&3; sleep 30",
                      CaptureOutcome::Kind::NoPicture, "浏览器窗口意外结束，网页没有抓下", false}));

} // namespace
} // namespace morvane
