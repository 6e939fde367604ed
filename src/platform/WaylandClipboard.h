#pragma once

#include "Clipboard.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QObject>
#include <map>
#include <memory>
#include <optional>

struct wl_registry;
struct wl_seat;
struct zwlr_data_control_manager_v1;
struct zwlr_data_control_device_v1;
struct zwlr_data_control_source_v1;
struct zwlr_data_control_offer_v1;

namespace morvane {

class FdDeadline;
class WaylandConnection;

// The clipboard of a Wayland session through the compositor's data-control protocol
// (zwlr_data_control_manager_v1, which KWin and wlroots compositors offer): the program owns
// and reads the selection without a window or keyboard focus, which Qt's own Wayland
// clipboard needs. It speaks on a connection of its own, whatever platform Qt runs on.
class WaylandClipboard final : public QObject, public ClipboardSink {
    Q_OBJECT

public:
    // Connected to the compositor WAYLAND_DISPLAY names. Nothing when there is none, it does
    // not answer in time, or it lacks data control or a seat; *whyNot then says which.
    static std::unique_ptr<WaylandClipboard> create(QString* whyNot = nullptr);
    ~WaylandClipboard() override;
    WaylandClipboard(const WaylandClipboard&) = delete;
    WaylandClipboard& operator=(const WaylandClipboard&) = delete;

    // Offers the picture as image/png until another client takes the clipboard or the next
    // picture replaces it; encoded once, when it is first asked for.
    void setImage(const QImage& image) override;
    // The text another client offers, read within 300 ms: nothing when none is offered, the
    // offer is marked secret by a password manager, or its owner does not deliver in time.
    // The primary selection needs version 2 of the protocol.
    QString text(bool selection) const override;

    // False once the compositor has closed the connection or withdrawn the seat's device:
    // setImage() then does nothing and text() gives nothing.
    bool connected() const { return device_ != nullptr; }

private:
    explicit WaylandClipboard(std::unique_ptr<WaylandConnection> connection);
    bool bind(QString* whyNot);

    QString readText(bool selection);
    // What the offer holds as the mime type, within the deadline; nothing when its owner does
    // not deliver it in time or it is longer than maxBytes.
    std::optional<QByteArray> receive(zwlr_data_control_offer_v1* offer, const QByteArray& mime,
                                      const FdDeadline& deadline, qsizetype maxBytes);

    void dropSource();
    void forgetOffer(zwlr_data_control_offer_v1*& offer);
    void dropDevice();

    friend struct WaylandListeners;

    // Destroyed last: every object below lives on it.
    std::unique_ptr<WaylandConnection> connection_;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    zwlr_data_control_manager_v1* manager_ = nullptr;
    unsigned managerVersion_ = 0;
    zwlr_data_control_device_v1* device_ = nullptr;

    // The picture the program offers, and the offer of it.
    zwlr_data_control_source_v1* source_ = nullptr;
    // The picture offered, until it is encoded; then its PNG bytes.
    const QByteArray& encodedPicture();
    QImage picture_;
    QByteArray png_;

    // The mime types of each offer the compositor announced, and which of them are the
    // clipboard and the primary selection now.
    std::map<zwlr_data_control_offer_v1*, QList<QByteArray>> offers_;
    zwlr_data_control_offer_v1* clipboardOffer_ = nullptr;
    zwlr_data_control_offer_v1* primaryOffer_ = nullptr;
};

} // namespace morvane
