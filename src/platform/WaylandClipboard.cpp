#include "WaylandClipboard.h"

#include "WaylandConnection.h"
#include "WaylandPipes.h"
#include "common/Log.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImageWriter>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <wayland-client.h>
#include <wlr-data-control-unstable-v1-client-protocol.h>

namespace morvane {

namespace {

using namespace std::chrono_literals;

// How long a read of the clipboard may take in all: the compositor's answer, the password
// manager's mark and the text itself.
constexpr auto kReadBudget = 300ms;
// A web address is far shorter; a larger text is not read to its end.
constexpr qsizetype kMaxText = 1 << 20;
constexpr qsizetype kMaxMark = 64;

const QByteArray kPng = QByteArrayLiteral("image/png");
const QByteArray kSecretMark = QByteArrayLiteral("x-kde-passwordManagerHint");
// What Wayland and X11 clients offer text as, best first; all of them are read as UTF-8.
const std::array<QByteArray, 5> kTextTypes = {
    QByteArrayLiteral("text/plain;charset=utf-8"), QByteArrayLiteral("UTF8_STRING"),
    QByteArrayLiteral("text/plain"), QByteArrayLiteral("TEXT"), QByteArrayLiteral("STRING")};

} // namespace

// The protocol's callbacks, each handing its event to the clipboard it was registered with.
struct WaylandListeners {
    static void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                       uint32_t version) {
        auto* self = static_cast<WaylandClipboard*>(data);
        if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->seat_) {
            self->seat_ =
                static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        } else if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0 &&
                   !self->manager_) {
            self->managerVersion_ = std::min(version, 2U);
            self->manager_ = static_cast<zwlr_data_control_manager_v1*>(wl_registry_bind(
                registry, name, &zwlr_data_control_manager_v1_interface, self->managerVersion_));
        }
    }
    static void globalRemove(void*, wl_registry*, uint32_t) {
        // A seat that goes away ends its device, which says so with finished.
    }

    static void offerType(void* data, zwlr_data_control_offer_v1* offer, const char* mime) {
        static_cast<WaylandClipboard*>(data)->offers_[offer].append(QByteArray(mime));
    }

    static void dataOffer(void* data, zwlr_data_control_device_v1*,
                          zwlr_data_control_offer_v1* offer) {
        auto* self = static_cast<WaylandClipboard*>(data);
        self->offers_[offer];
        static const zwlr_data_control_offer_v1_listener listener = {.offer = offerType};
        zwlr_data_control_offer_v1_add_listener(offer, &listener, self);
    }
    static void selection(void* data, zwlr_data_control_device_v1*,
                          zwlr_data_control_offer_v1* offer) {
        auto* self = static_cast<WaylandClipboard*>(data);
        if (self->clipboardOffer_ != offer) {
            self->forgetOffer(self->clipboardOffer_);
        }
        self->clipboardOffer_ = offer;
    }
    static void primarySelection(void* data, zwlr_data_control_device_v1*,
                                 zwlr_data_control_offer_v1* offer) {
        auto* self = static_cast<WaylandClipboard*>(data);
        if (self->primaryOffer_ != offer) {
            self->forgetOffer(self->primaryOffer_);
        }
        self->primaryOffer_ = offer;
    }
    static void finished(void* data, zwlr_data_control_device_v1*) {
        auto* self = static_cast<WaylandClipboard*>(data);
        qCWarning(lcMorvane) << "clipboard: the compositor withdrew the seat's clipboard";
        self->dropDevice();
    }

    static void send(void* data, zwlr_data_control_source_v1* source, const char* mime,
                     int32_t fd) {
        auto* self = static_cast<WaylandClipboard*>(data);
        if (source != self->source_ || kPng != mime) {
            ::close(fd);
            return;
        }
        new PipeWriter(fd, self->encodedPicture(), self);
    }
    static void cancelled(void* data, zwlr_data_control_source_v1* source) {
        auto* self = static_cast<WaylandClipboard*>(data);
        if (source == self->source_) {
            self->dropSource();
        } else {
            zwlr_data_control_source_v1_destroy(source);
        }
    }

    static constexpr wl_registry_listener registry = {.global = global,
                                                      .global_remove = globalRemove};
    static constexpr zwlr_data_control_device_v1_listener device = {.data_offer = dataOffer,
                                                                    .selection = selection,
                                                                    .finished = finished,
                                                                    .primary_selection =
                                                                        primarySelection};
    static constexpr zwlr_data_control_source_v1_listener source = {.send = send,
                                                                    .cancelled = cancelled};
};

std::unique_ptr<WaylandClipboard> WaylandClipboard::create(QString* whyNot) {
    std::unique_ptr<WaylandConnection> connection = WaylandConnection::open();
    if (!connection) {
        if (whyNot) {
            *whyNot = QStringLiteral("no Wayland compositor to connect to");
        }
        return nullptr;
    }
    std::unique_ptr<WaylandClipboard> clipboard(new WaylandClipboard(std::move(connection)));
    if (!clipboard->bind(whyNot)) {
        return nullptr;
    }
    return clipboard;
}

WaylandClipboard::WaylandClipboard(std::unique_ptr<WaylandConnection> connection)
    : connection_(std::move(connection)) {
    connect(connection_.get(), &WaylandConnection::lost, this, [this] {
        dropSource();
        dropDevice();
    });
}

bool WaylandClipboard::bind(QString* whyNot) {
    auto fail = [whyNot](const char* why) {
        if (whyNot) {
            *whyNot = QString::fromLatin1(why);
        }
        return false;
    };
    registry_ = wl_display_get_registry(connection_->display());
    wl_registry_add_listener(registry_, &WaylandListeners::registry, this);
    const FdDeadline deadline(3000ms);
    if (!connection_->sync(deadline)) {
        return fail("the Wayland compositor did not answer");
    }
    if (!manager_) {
        return fail("the Wayland compositor offers no data control "
                    "(zwlr_data_control_manager_v1)");
    }
    if (!seat_) {
        return fail("the Wayland compositor has no seat");
    }
    device_ = zwlr_data_control_manager_v1_get_data_device(manager_, seat_);
    zwlr_data_control_device_v1_add_listener(device_, &WaylandListeners::device, this);
    if (!connection_->sync(deadline)) {
        return fail("the Wayland compositor did not answer");
    }
    return true;
}

WaylandClipboard::~WaylandClipboard() {
    // The pipe writers, children of this object, close their pipes after it.
    dropSource();
    dropDevice();
    if (manager_) {
        zwlr_data_control_manager_v1_destroy(manager_);
    }
    if (seat_) {
        wl_seat_destroy(seat_);
    }
    if (registry_) {
        wl_registry_destroy(registry_);
    }
}

void WaylandClipboard::setImage(const QImage& image) {
    if (!device_ || image.isNull()) {
        return;
    }
    dropSource();
    // Encoded when a client first asks for it: a screen's picture takes some 100 ms to
    // encode, which the capture does not wait for, and most captures are never pasted.
    picture_ = image;
    source_ = zwlr_data_control_manager_v1_create_data_source(manager_);
    zwlr_data_control_source_v1_add_listener(source_, &WaylandListeners::source, this);
    zwlr_data_control_source_v1_offer(source_, kPng.constData());
    zwlr_data_control_device_v1_set_selection(device_, source_);
    connection_->flush();
}

const QByteArray& WaylandClipboard::encodedPicture() {
    if (png_.isEmpty() && !picture_.isNull()) {
        QElapsedTimer timer;
        timer.start();
        QBuffer buffer(&png_);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        // zlib's fastest level (Qt's 0 to 100 stand for zlib's 0 to 9): a screen's picture
        // encodes in about three quarters of the time of the default, and comes out a few
        // per cent larger.
        writer.setCompression(20);
        if (!writer.write(picture_)) {
            qCWarning(lcMorvane) << "clipboard: the picture could not be encoded as PNG";
            png_.clear();
        } else {
            qCInfo(lcMorvane) << "clipboard: a PNG of" << png_.size() << "bytes encoded in"
                              << timer.elapsed() << "ms";
        }
        picture_ = QImage(); // encoded once; the bytes serve every later paste
    }
    return png_;
}

QString WaylandClipboard::text(bool selection) const {
    // Reading talks to the compositor and keeps the bookkeeping of its offers up to date; to
    // the program it changes nothing.
    return const_cast<WaylandClipboard*>(this)->readText(selection);
}

QString WaylandClipboard::readText(bool selection) {
    const char* which = selection ? "primary selection" : "clipboard";
    const FdDeadline deadline(kReadBudget);
    if (!device_ || (selection && managerVersion_ < 2) || !connection_->sync(deadline)) {
        return {};
    }
    zwlr_data_control_offer_v1* offer = selection ? primaryOffer_ : clipboardOffer_;
    if (!offer || (!selection && source_)) {
        return {}; // nothing, or the program's own picture
    }
    // A copy: a connection that fails while reading drops the offers.
    const QList<QByteArray> types = offers_[offer];
    if (types.contains(kSecretMark)) {
        // A mark that cannot be read is taken for the secret it most likely guards.
        const std::optional<QByteArray> mark = receive(offer, kSecretMark, deadline, kMaxMark);
        if (!mark || *mark == "secret") {
            qCInfo(lcMorvane) << "web capture: the" << which
                              << "holds a password manager's secret; not read";
            return {};
        }
    }
    for (const QByteArray& type : kTextTypes) {
        if (types.contains(type)) {
            const std::optional<QByteArray> bytes = receive(offer, type, deadline, kMaxText);
            if (!bytes) {
                qCInfo(lcMorvane) << "web capture: the" << which
                                  << "text did not come in time; not read";
                return {};
            }
            return QString::fromUtf8(*bytes);
        }
    }
    return {};
}

std::optional<QByteArray> WaylandClipboard::receive(zwlr_data_control_offer_v1* offer,
                                                    const QByteArray& mime,
                                                    const FdDeadline& deadline,
                                                    qsizetype maxBytes) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return std::nullopt;
    }
    zwlr_data_control_offer_v1_receive(offer, mime.constData(), fds[1]);
    // The request carries a duplicate of the write end; once it is sent, the owner of the
    // offer holds the only one, and its closing ends the read.
    const bool sent = connection_->flush();
    ::close(fds[1]);
    if (!sent) {
        ::close(fds[0]);
        return std::nullopt;
    }
    return readAllBefore(fds[0], deadline, maxBytes);
}

void WaylandClipboard::dropSource() {
    if (source_) {
        zwlr_data_control_source_v1_destroy(source_);
        source_ = nullptr;
    }
    png_.clear();
    picture_ = QImage();
}

void WaylandClipboard::forgetOffer(zwlr_data_control_offer_v1*& offer) {
    if (offer) {
        offers_.erase(offer);
        zwlr_data_control_offer_v1_destroy(offer);
        offer = nullptr;
    }
}

void WaylandClipboard::dropDevice() {
    forgetOffer(clipboardOffer_);
    forgetOffer(primaryOffer_);
    for (const auto& [offer, types] : offers_) {
        zwlr_data_control_offer_v1_destroy(offer);
    }
    offers_.clear();
    if (device_) {
        zwlr_data_control_device_v1_destroy(device_);
        device_ = nullptr;
    }
}

} // namespace morvane
