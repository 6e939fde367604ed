#pragma once

#include <QByteArray>
#include <QRect>
#include <QString>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

struct DBusConnection;

namespace morvane {

// The time one look-up may take; every call on the bus gets what is left of it.
class Budget {
public:
    using Clock = std::chrono::steady_clock;
    explicit Budget(std::chrono::milliseconds total) : end_(Clock::now() + total) {}
    // Milliseconds left, at least 0.
    int leftMs() const;
    bool spent() const { return leftMs() <= 0; }

private:
    Clock::time_point end_;
};

// One element on the accessibility bus: the connection that serves it and its object path.
struct AtspiRef {
    QByteArray bus;
    QByteArray path;
    friend bool operator==(const AtspiRef&, const AtspiRef&) = default;
};

// What an element says of itself, for the capture's names and addresses.
struct AtspiDescription {
    QString name;
    QString roleName;
    bool editable = false;
    bool password = false;
    QString text; // never read from a password element
};

// An element's rectangle as the bus gives it, made safe for arithmetic: each coordinate
// and size is clamped to what any screen can hold, so that no hostile number overflows.
QRect clampedExtents(std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height);

// Whether the address may be connected to: only a plain local socket (unix:path= or
// unix:abstract=), never a transport that runs a program or reaches over the network.
bool isLocalSocketAddress(const QByteArray& address);

// An application's toolkit as it names itself: "GTK" and "4.8.3", say.
struct AtspiToolkit {
    QString name;
    QString version;
};

// A private connection to the accessibility bus, spoken to directly over D-Bus. Every call
// is a blocking call bounded by the look-up's budget, made on the calling thread; nothing
// is cached and no signal is subscribed to, so the connection costs nothing while idle.
// Applications are only ever asked through the bus: their own peer-to-peer addresses are
// never asked for, let alone connected to.
class AtspiBus {
public:
    // Connects to the bus at the address (a local socket only) within the time given.
    static std::optional<AtspiBus> connect(const QByteArray& address, const Budget& budget);
    AtspiBus(AtspiBus&& other) noexcept;
    AtspiBus& operator=(AtspiBus&& other) noexcept;
    AtspiBus(const AtspiBus&) = delete;
    AtspiBus& operator=(const AtspiBus&) = delete;
    ~AtspiBus();

    bool connected() const;

    // The applications the registry knows, each by its root element.
    std::optional<std::vector<AtspiRef>> applications(const Budget& budget);
    // The process behind each bus name, as the bus itself knows it (0 where it does not
    // say); asked all at once.
    std::vector<std::uint32_t> processes(const std::vector<AtspiRef>& applications,
                                         const Budget& budget);
    // An element's children (at most kMaxChildren); nothing once the time is spent, none
    // when the element answers with an error.
    std::optional<std::vector<AtspiRef>> children(const AtspiRef& element, const Budget& budget);
    // How an application gives its rectangles: on the screen, or relative to its own window.
    enum class Coords { Screen, Window };
    // Each element's rectangle, empty for one that is not showing (for Coords::Window, not
    // visible); asked all at once. Nothing once the time is spent.
    std::optional<std::vector<QRect>> extents(const std::vector<AtspiRef>& elements,
                                              const Budget& budget, Coords coords = Coords::Screen);
    // The toolkit an application says it is drawn with; empty where it does not say.
    AtspiToolkit toolkit(const AtspiRef& application, const Budget& budget);
    QString name(const AtspiRef& element, const Budget& budget);
    AtspiDescription describe(const AtspiRef& element, const Budget& budget);
    // The address of the page the frame shows: the "URI" or "DocURL" attribute of its first
    // showing web document with a non-empty rectangle.
    QString pageAddress(const AtspiRef& frame, const Budget& budget);

    // Drops whatever other connections sent meanwhile: nothing here is waiting for it.
    void discardIncoming();

    static constexpr int kMaxChildren = 1000;

private:
    explicit AtspiBus(DBusConnection* connection) : connection_(connection) {}
    DBusConnection* connection_ = nullptr;
};

} // namespace morvane
