// The clipboard of a KWin session through data control, against KWin itself and other
// clients: the pictures wl-paste reads, and the texts wl-copy and a client of the tests offer.
#include "platform/WaylandClipboard.h"
#include "support/Pictures.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace morvane;

namespace {

// Runs a tool to its end while the event loop runs, so that the clipboard can answer it. An
// event loop rather than QTest::qWaitFor, which sleeps 10 ms between its rounds and so would
// slow every pipeful of a paste down to its pace.
QByteArray runServing(const QString& program, const QStringList& arguments) {
    QProcess tool;
    QEventLoop loop;
    QObject::connect(&tool, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&tool, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    tool.start(program, arguments);
    loop.exec();
    EXPECT_EQ(tool.state(), QProcess::NotRunning) << program.toStdString() << " did not end";
    EXPECT_EQ(tool.exitCode(), 0) << program.toStdString() << ": "
                                  << tool.readAllStandardError().toStdString();
    return tool.readAllStandardOutput();
}

class KWinClipboard : public ::testing::Test {
protected:
    void SetUp() override {
        QString whyNot;
        clipboard = WaylandClipboard::create(&whyNot);
        ASSERT_TRUE(clipboard) << whyNot.toStdString();
    }

    std::unique_ptr<WaylandClipboard> clipboard;
};

} // namespace

TEST_F(KWinClipboard, PicturesArePastedAsPngAndEachReplacesTheLast) {
    // Noise does not compress: several times the pipe's buffer, so that the program writes
    // while the reader reads, and an early end of the reader meets an unfinished write.
    QImage noise(1280, 800, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < noise.height(); ++y) {
        random.fillRange(reinterpret_cast<quint32*>(noise.scanLine(y)),
                         static_cast<qsizetype>(noise.width()));
        for (int x = 0; x < noise.width(); ++x) {
            noise.setPixel(x, y, noise.pixel(x, y) | 0xff000000);
        }
    }
    const QImage small = test::patternPicture(300, 200).mirrored(true, false);
    for (const QImage& picture : {noise, small}) {
        QElapsedTimer timer;
        timer.start();
        clipboard->setImage(picture);
        const qint64 setMs = timer.restart();
        const QByteArray png = runServing("timeout", {"5", "wl-paste", "--type", "image/png"});
        std::printf("%dx%d: set in %lld ms, pasted in %lld ms (%lld bytes)\n", picture.width(),
                    picture.height(), setMs, timer.elapsed(), static_cast<long long>(png.size()));
        EXPECT_EQ(QImage::fromData(png, "PNG").convertToFormat(QImage::Format_RGB32), picture);
        EXPECT_EQ(runServing("timeout", {"5", "wl-paste", "--list-types"}), "image/png\n");
        // A reader that stops early leaves the program running and the picture offered.
        runServing("sh", {"-c", "timeout 5 wl-paste --type image/png | head -c 100 >/dev/null"});
        // The program's own picture is no address.
        EXPECT_EQ(clipboard->text(false), QString());
    }
}

TEST_F(KWinClipboard, AnotherClientsTextIsRead) {
    const QString address = QStringLiteral("https://example.org/pfad?q=1");
    runServing("timeout", {"5", "wl-copy", address});
    // wl-copy serves from a process of its own that may take the selection a moment later.
    EXPECT_TRUE(QTest::qWaitFor([&] { return clipboard->text(false) == address; }, 3000))
        << clipboard->text(false).toStdString();
    EXPECT_EQ(clipboard->text(true), QString());
}

// What clipboard_offer is started with: [--primary] TYPE:CONTENT or a bare TYPE that is never
// delivered, and the text that must be read from that selection.
struct OfferCase {
    const char* name;
    QStringList offers;
    QString expected;
};

class KWinClipboardOffer : public KWinClipboard, public ::testing::WithParamInterface<OfferCase> {};

TEST_P(KWinClipboardOffer, OnlyWhatIsDeliveredAndNotSecretIsRead) {
    QProcess owner;
    owner.start(MORVANE_CLIPBOARD_OFFER, GetParam().offers);
    ASSERT_TRUE(QTest::qWaitFor([&] { return owner.canReadLine(); }, 5000))
        << owner.readAllStandardError().toStdString();
    ASSERT_EQ(owner.readLine(), "ready\n");
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(clipboard->text(GetParam().offers.first() == "--primary"), GetParam().expected);
    EXPECT_LT(timer.elapsed(), 1000);
}

INSTANTIATE_TEST_SUITE_P(
    , KWinClipboardOffer,
    ::testing::Values(
        OfferCase{
            "Primary", {"--primary", "UTF8_STRING:https://example.org/"}, "https://example.org/"},
        OfferCase{"MarkedSecret",
                  {"x-kde-passwordManagerHint:secret", "text/plain;charset=utf-8:hunter2"},
                  {}},
        OfferCase{"MarkedOtherwise",
                  {"x-kde-passwordManagerHint:accepted", "text/plain:https://example.org/"},
                  "https://example.org/"},
        OfferCase{"MarkNeverDelivered", {"x-kde-passwordManagerHint", "UTF8_STRING:hunter2"}, {}},
        OfferCase{"TextNeverDelivered", {"text/plain;charset=utf-8"}, {}}),
    [](const auto& param) { return std::string(param.param.name); });
