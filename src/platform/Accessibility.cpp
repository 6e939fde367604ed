// libatspi's headers come first: glib's use the names that Qt's keywords take.
#include <atspi/atspi.h>

#include "Accessibility.h"

#include "XcbReply.h"
#include "common/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QFileInfo>
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <xcb/xcb.h>

namespace morvane {

namespace {

using Clock = std::chrono::steady_clock;

const QString kBusService = QStringLiteral("org.a11y.Bus");
const QString kBusPath = QStringLiteral("/org/a11y/bus");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kStatus = QStringLiteral("org.a11y.Status");

// How long one question to the session bus about the accessibility bus may take.
constexpr int kSessionCallMs = 300;

// libatspi asks the bus, when it joins, for every application's element and state changes
// (to keep its cache current). Those would wake the look-up thread whenever any application
// on the desktop changes anything, though the program asks only while it captures and then
// reads the elements afresh; so the bus is told to stop sending them. The rules are libatspi's
// own, word for word: the bus removes a rule only when it matches exactly.
void stopEventDelivery() {
    DBusConnection* bus = atspi_get_a11y_bus();
    if (!bus) {
        return;
    }
    for (const char* rule :
         {"type='signal',interface='org.a11y.atspi.Cache',member='AddAccessible'",
          "type='signal',interface='org.a11y.atspi.Cache',member='RemoveAccessible'",
          "type='signal',interface='org.a11y.atspi.Event.Object',member='ChildrenChanged'",
          "type='signal',interface='org.a11y.atspi.Event.Object',member='PropertyChange'",
          "type='signal',interface='org.a11y.atspi.Event.Object',member='StateChanged'"}) {
        DBusError error;
        dbus_error_init(&error);
        dbus_bus_remove_match(bus, rule, &error);
        if (dbus_error_is_set(&error)) {
            qCInfo(lcMorvane) << "accessibility bus: events still delivered:" << rule
                              << error.message;
            dbus_error_free(&error);
        }
    }
}

// Holds a GObject reference for the look-up's life.
struct Unref {
    void operator()(gpointer object) const {
        if (object) {
            g_object_unref(object);
        }
    }
};
using AccessibleRef = std::unique_ptr<AtspiAccessible, Unref>;

QString takeString(gchar* text) {
    QString result = text ? QString::fromUtf8(text) : QString();
    g_free(text);
    return result;
}

// Every bus call gets as its time-out what is left of the look-up's time.
class Budget {
public:
    explicit Budget(std::chrono::milliseconds total) : end_(Clock::now() + total) {}

    // False once the time is spent; else arms the next call with the rest.
    bool arm() const {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        atspi_set_timeout(static_cast<gint>(left), static_cast<gint>(left));
        return true;
    }
    bool spent() const { return Clock::now() >= end_; }

private:
    Clock::time_point end_;
};

// One application's elements as the descent sees them, each question bounded by the budget.
class AtspiTree {
public:
    using Node = AtspiAccessible*;

    explicit AtspiTree(const Budget& budget) : budget_(budget) {}

    std::optional<std::vector<Node>> children(Node node) {
        if (!budget_.arm()) {
            return std::nullopt;
        }
        GError* error = nullptr;
        const gint count = std::min(atspi_accessible_get_child_count(node, &error), kMaxChildren);
        if (error) {
            g_error_free(error);
            return budget_.spent() ? std::nullopt
                                   : std::optional<std::vector<Node>>(std::vector<Node>{});
        }
        std::vector<Node> result;
        for (gint i = 0; i < count; ++i) {
            if (!budget_.arm()) {
                return std::nullopt;
            }
            AtspiAccessible* child = atspi_accessible_get_child_at_index(node, i, &error);
            if (error) {
                g_clear_error(&error);
                continue;
            }
            if (child) {
                held_.emplace_back(child);
                result.push_back(child);
            }
        }
        return result;
    }

    std::optional<QRect> extents(Node node) {
        if (!budget_.arm()) {
            return std::nullopt;
        }
        AtspiStateSet* states = atspi_accessible_get_state_set(node);
        const bool showing = states && atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
        if (states) {
            g_object_unref(states);
        }
        if (budget_.spent()) {
            return std::nullopt;
        }
        if (!showing) {
            return QRect();
        }
        AtspiComponent* component = atspi_accessible_get_component_iface(node);
        if (!component || !budget_.arm()) {
            if (component) {
                g_object_unref(component);
            }
            return budget_.spent() ? std::nullopt : std::optional<QRect>(QRect());
        }
        GError* error = nullptr;
        AtspiRect* r = atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, &error);
        g_object_unref(component);
        QRect rect;
        if (r) {
            rect = QRect(r->x, r->y, r->width, r->height);
            g_free(r);
        }
        if (error) {
            g_error_free(error);
            if (budget_.spent()) {
                return std::nullopt;
            }
        }
        return rect;
    }

private:
    // Bounds the children asked of one element (a table may hold many thousands).
    static constexpr gint kMaxChildren = 1000;
    const Budget& budget_;
    std::vector<AccessibleRef> held_;
};

// The process that owns the window: _NET_WM_PID of the window or of its nearest ancestor
// that has one. 0 when none says.
std::uint32_t windowProcess(xcb_connection_t* connection, xcb_atom_t pidAtom, WindowId window) {
    constexpr int kMaxClimb = 64;
    for (int step = 0; step < kMaxClimb && window != 0; ++step) {
        const auto pid =
            xcbReply(connection, xcb_get_property_reply,
                     xcb_get_property(connection, 0, window, pidAtom, XCB_ATOM_CARDINAL, 0, 1));
        if (pid && pid->format == 32 && xcb_get_property_value_length(pid.get()) == 4) {
            return *static_cast<const std::uint32_t*>(xcb_get_property_value(pid.get()));
        }
        const auto tree =
            xcbReply(connection, xcb_query_tree_reply, xcb_query_tree(connection, window));
        if (!tree || tree->parent == tree->root) {
            break;
        }
        window = tree->parent;
    }
    return 0;
}

// Fills in what the capture names files after and reads addresses from.
AccessibleElement describe(AtspiAccessible* node, QRect rect, const Budget& budget) {
    AccessibleElement element{.rect = rect};
    GError* error = nullptr;
    if (budget.arm()) {
        element.name = takeString(atspi_accessible_get_name(node, &error));
        g_clear_error(&error);
    }
    if (budget.arm()) {
        element.role = takeString(atspi_accessible_get_role_name(node, &error));
        g_clear_error(&error);
    }
    if (budget.arm()) {
        AtspiStateSet* states = atspi_accessible_get_state_set(node);
        element.editable = states && atspi_state_set_contains(states, ATSPI_STATE_EDITABLE);
        if (states) {
            g_object_unref(states);
        }
    }
    if (AtspiText* text = atspi_accessible_get_text_iface(node)) {
        if (budget.arm()) {
            element.text = takeString(atspi_text_get_text(text, 0, -1, &error));
            g_clear_error(&error);
        }
        g_object_unref(text);
    }
    return element;
}

// The address of the page a browser's frame shows: the "URI" (Chromium) or "DocURL"
// (Firefox) attribute of its showing web document, whose rectangle is not empty (other
// tabs' documents have none). One collection query, so the browser walks its own tree.
QString pageAddress(AtspiAccessible* frame, AtspiTree& tree, const Budget& budget) {
    AtspiCollection* collection = atspi_accessible_get_collection_iface(frame);
    if (!collection || !budget.arm()) {
        if (collection) {
            g_object_unref(collection);
        }
        return {};
    }
    AtspiStateSet* showing = atspi_state_set_new(nullptr);
    atspi_state_set_add(showing, ATSPI_STATE_SHOWING);
    GArray* roles = g_array_new(FALSE, FALSE, sizeof(AtspiRole));
    const AtspiRole document = ATSPI_ROLE_DOCUMENT_WEB;
    g_array_append_val(roles, document);
    AtspiMatchRule* rule = atspi_match_rule_new(
        showing, ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_ALL, roles,
        ATSPI_Collection_MATCH_ANY, nullptr, ATSPI_Collection_MATCH_ALL, FALSE);
    g_object_unref(showing);
    g_array_unref(roles);
    // A browser window shows one page, but may hold frames' and hidden tabs' documents.
    constexpr gint kMaxDocuments = 16;
    GError* error = nullptr;
    GArray* matches = atspi_collection_get_matches(
        collection, rule, ATSPI_Collection_SORT_ORDER_CANONICAL, kMaxDocuments, TRUE, &error);
    g_object_unref(rule);
    g_object_unref(collection);
    if (error) {
        qCInfo(lcMorvane) << "accessibility look-up: no documents in the frame:" << error->message;
        g_error_free(error);
    }
    QString address;
    for (guint i = 0; matches && i < matches->len; ++i) {
        const AccessibleRef candidate(g_array_index(matches, AtspiAccessible*, i));
        if (!address.isEmpty() || tree.extents(candidate.get()).value_or(QRect()).isEmpty()) {
            continue;
        }
        AtspiDocument* page = atspi_accessible_get_document_iface(candidate.get());
        for (const char* attribute : {"URI", "DocURL"}) {
            if (page && address.isEmpty() && budget.arm()) {
                address = takeString(atspi_document_get_document_attribute_value(
                    page, const_cast<gchar*>(attribute), &error));
                g_clear_error(&error);
            }
        }
        if (page) {
            g_object_unref(page);
        }
    }
    if (matches) {
        g_array_free(matches, TRUE);
    }
    return address;
}

} // namespace

struct AtspiLookup::XConnection {
    xcb_connection_t* connection = nullptr;
    xcb_atom_t pidAtom = XCB_NONE;
    ~XConnection() {
        if (connection) {
            xcb_disconnect(connection);
        }
    }
};

AtspiLookup::AtspiLookup(std::chrono::milliseconds deadline) : deadline_(deadline) {}

namespace {

// The look-up itself, on the bus thread: the application of the process, its frame over the
// window, and the descent from there.
std::optional<AccessibleHit> lookUp(std::uint32_t pid, QRect windowRect, QPoint point,
                                    const Budget& budget) {
    AccessibleRef desktop(atspi_get_desktop(0));
    // The registry is asked afresh which applications there are: one that joined a moment
    // ago may not be known yet otherwise.
    atspi_accessible_clear_cache(desktop.get());
    AtspiTree tree(budget);

    // The application is the one whose connection belongs to the window's process; the bus
    // itself answers that, so an application that has stopped is never waited on here.
    AccessibleRef application;
    const auto applications = tree.children(desktop.get());
    for (AtspiAccessible* candidate : applications.value_or(std::vector<AtspiAccessible*>{})) {
        GError* error = nullptr;
        if (!budget.arm()) {
            break;
        }
        const guint candidatePid = atspi_accessible_get_process_id(candidate, &error);
        g_clear_error(&error);
        if (candidatePid == pid) {
            application.reset(ATSPI_ACCESSIBLE(g_object_ref(candidate)));
            break;
        }
    }
    if (!application) {
        qCInfo(lcMorvane) << "accessibility look-up: no application on the bus for process" << pid
                          << (budget.spent() ? "(out of time)" : "");
        return std::nullopt;
    }
    // Its elements are read afresh: a cached answer may describe the window as it was.
    atspi_accessible_clear_cache(application.get());

    // Of its frames, the one that covers most of the X window under the point.
    AtspiAccessible* frame = nullptr;
    QRect frameRect;
    qint64 best = 0;
    const auto frames = tree.children(application.get());
    for (AtspiAccessible* candidate : frames.value_or(std::vector<AtspiAccessible*>{})) {
        const std::optional<QRect> rect = tree.extents(candidate);
        if (!rect) {
            break;
        }
        const QRect common = rect->intersected(windowRect);
        const qint64 area = qint64(common.width()) * common.height();
        if (rect->contains(point) && area > best) {
            best = area;
            frame = candidate;
            frameRect = *rect;
        }
    }
    if (!frame) {
        qCInfo(lcMorvane) << "accessibility look-up: no frame of process" << pid << "at" << point
                          << (budget.spent() ? "(out of time)" : "");
        return std::nullopt;
    }
    const auto path = deepestAt(tree, frame, point);
    if (!path || path->size() < 2) {
        qCInfo(lcMorvane) << "accessibility look-up: nothing inside the frame at" << point
                          << (path ? "" : "(out of time)");
        return std::nullopt;
    }
    AccessibleHit hit;
    for (auto node = path->rbegin(); node != path->rend(); ++node) {
        const QRect rect = *node == frame ? frameRect : tree.extents(*node).value_or(QRect());
        if (hit.chain.isEmpty()) {
            hit.chain.append(describe(*node, rect, budget));
        } else {
            // A container is named by its name alone.
            GError* error = nullptr;
            const QString name =
                budget.arm() ? takeString(atspi_accessible_get_name(*node, &error)) : QString();
            g_clear_error(&error);
            hit.chain.append(AccessibleElement{.rect = rect, .name = name});
        }
    }
    if (hit.chain.first().editable) {
        hit.chain.first().document = pageAddress(frame, tree, budget);
    }
    if (budget.spent()) {
        qCInfo(lcMorvane) << "accessibility look-up: out of time describing the element";
        return std::nullopt;
    }
    return hit;
}

} // namespace

// The thread that owns libatspi: it waits in its own GLib loop (no polling) and runs one
// look-up at a time. The capture waits for an answer until the deadline and no longer; an
// answer that comes later is dropped, and while the thread is still busy with it, later
// look-ups are answered with nothing at once.
struct AtspiLookup::Worker {
    GMainContext* context = g_main_context_new();
    GMainLoop* loop = g_main_loop_new(context, FALSE);
    std::thread thread;
    std::mutex mutex;
    std::condition_variable changed;
    bool ready = false;  // libatspi set up on the thread
    bool failed = false; // and that did not work
    bool busy = false;
    std::uint64_t asked = 0;
    std::uint64_t answered = 0;
    std::optional<AccessibleHit> answer;

    struct Job {
        Worker* worker;
        std::uint64_t serial;
        std::uint32_t pid;
        QRect windowRect;
        QPoint point;
        std::chrono::milliseconds deadline;
    };

    static gboolean run(gpointer data) {
        const std::unique_ptr<Job> job(static_cast<Job*>(data));
        const Budget budget(job->deadline);
        std::optional<AccessibleHit> hit = lookUp(job->pid, job->windowRect, job->point, budget);
        Worker& worker = *job->worker;
        const std::lock_guard lock(worker.mutex);
        worker.answer = std::move(hit);
        worker.answered = job->serial;
        worker.busy = false;
        worker.changed.notify_all();
        return G_SOURCE_REMOVE;
    }

    void start() {
        thread = std::thread([this] {
            g_main_context_push_thread_default(context);
            atspi_set_timeout(kSessionCallMs, kSessionCallMs);
            const bool joined = atspi_init() >= 0;
            if (joined) {
                atspi_set_main_context(context);
                stopEventDelivery();
            }
            {
                const std::lock_guard lock(mutex);
                ready = true;
                failed = !joined;
                changed.notify_all();
            }
            if (joined) {
                g_main_loop_run(loop);
            }
            g_main_context_pop_thread_default(context);
        });
    }

    ~Worker() {
        if (thread.joinable()) {
            // A look-up still running ends within its own time-outs.
            g_main_context_invoke(
                context,
                [](gpointer data) {
                    g_main_loop_quit(static_cast<GMainLoop*>(data));
                    return G_SOURCE_REMOVE;
                },
                loop);
            g_main_loop_quit(loop);
            thread.join();
        }
        g_main_loop_unref(loop);
        g_main_context_unref(context);
    }
};

AtspiLookup::~AtspiLookup() = default; // the worker ends before the X connection

bool AtspiLookup::join() {
    if (state_ != State::Unjoined) {
        return state_ == State::Joined;
    }
    state_ = State::Unavailable;
    // libatspi would start a session bus of its own (D-Bus autolaunch) where none runs, and
    // wait on the session bus without a time limit: the address is asked here, bounded,
    // and handed to it.
    if (qEnvironmentVariableIsEmpty("AT_SPI_BUS_ADDRESS")) {
        QDBusConnection session = QDBusConnection::sessionBus();
        if (!session.isConnected()) {
            qCInfo(lcMorvane) << "no D-Bus session: controls are found through X11 only";
            return false;
        }
        const QDBusMessage reply =
            session.call(QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService,
                                                        QStringLiteral("GetAddress")),
                         QDBus::Block, kSessionCallMs);
        const QString address =
            reply.arguments().isEmpty() ? QString() : reply.arguments().first().toString();
        if (reply.type() != QDBusMessage::ReplyMessage || address.isEmpty()) {
            qCInfo(lcMorvane) << "no accessibility bus: controls are found through X11 only"
                              << reply.errorMessage();
            return false;
        }
        qputenv("AT_SPI_BUS_ADDRESS", address.toUtf8());
    }
    worker_ = std::make_unique<Worker>();
    worker_->start();
    x_ = std::make_unique<XConnection>();
    x_->connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x_->connection)) {
        qCWarning(lcMorvane) << "accessibility look-up: no X connection";
        return false;
    }
    const auto atom = xcbReply(x_->connection, xcb_intern_atom_reply,
                               xcb_intern_atom(x_->connection, 0, 11, "_NET_WM_PID"));
    x_->pidAtom = atom ? atom->atom : XCB_NONE;
    state_ = State::Joined;
    return true;
}

std::optional<AccessibleHit> AtspiLookup::elementAt(WindowId window, QRect windowRect,
                                                    QPoint point) {
    const auto end = Clock::now() + deadline_;
    if (!join()) {
        return std::nullopt;
    }
    const std::uint32_t pid = windowProcess(x_->connection, x_->pidAtom, window);
    if (pid == 0) {
        qCInfo(lcMorvane) << "accessibility look-up: window" << window << "names no process";
        return std::nullopt;
    }
    Worker& worker = *worker_;
    std::unique_lock lock(worker.mutex);
    if (!worker.changed.wait_until(lock, end, [&] { return worker.ready; }) || worker.failed) {
        qCInfo(lcMorvane) << "accessibility look-up: the bus is not joined"
                          << (worker.ready ? "" : "yet");
        return std::nullopt;
    }
    if (worker.busy) {
        qCInfo(lcMorvane) << "accessibility look-up: an earlier one has not ended yet";
        return std::nullopt;
    }
    worker.busy = true;
    const std::uint64_t serial = ++worker.asked;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    g_main_context_invoke(worker.context, &Worker::run,
                          new Worker::Job{&worker, serial, pid, windowRect, point, left});
    if (!worker.changed.wait_until(lock, end, [&] { return worker.answered == serial; })) {
        qCInfo(lcMorvane) << "accessibility look-up: no answer within" << deadline_.count() << "ms";
        return std::nullopt;
    }
    return std::move(worker.answer);
}

AccessibilitySwitch::AccessibilitySwitch() : alive_(std::make_shared<bool>(true)) {
    QDBusConnection session = QDBusConnection::sessionBus();
    if (!session.isConnected()) {
        qCInfo(lcMorvane) << "no D-Bus session: accessibility left as it is";
        return;
    }
    QDBusMessage get =
        QDBusMessage::createMethodCall(kBusService, kBusPath, kProperties, QStringLiteral("Get"));
    get << kStatus << QStringLiteral("IsEnabled");
    auto* watcher = new QDBusPendingCallWatcher(session.asyncCall(get, 2000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [this, alive = alive_](QDBusPendingCallWatcher* call) {
                         call->deleteLater();
                         const QDBusPendingReply<QDBusVariant> reply = *call;
                         if (!*alive) {
                             return;
                         }
                         if (reply.isError()) {
                             qCInfo(lcMorvane) << "accessibility state unknown, left as it is:"
                                               << reply.error().message();
                             return;
                         }
                         if (reply.value().variant().toBool()) {
                             return; // on already: someone else's to turn off
                         }
                         QDBusMessage set = QDBusMessage::createMethodCall(
                             kBusService, kBusPath, kProperties, QStringLiteral("Set"));
                         set << kStatus << QStringLiteral("IsEnabled")
                             << QVariant::fromValue(QDBusVariant(true));
                         turnedOn_ = QDBusConnection::sessionBus().send(set);
                         qCInfo(lcMorvane) << "accessibility turned on for the desktop";
                     });
}

AccessibilitySwitch::~AccessibilitySwitch() {
    *alive_ = false;
    if (!turnedOn_) {
        return;
    }
    QDBusMessage set =
        QDBusMessage::createMethodCall(kBusService, kBusPath, kProperties, QStringLiteral("Set"));
    set << kStatus << QStringLiteral("IsEnabled") << QVariant::fromValue(QDBusVariant(false));
    const QDBusMessage reply =
        QDBusConnection::sessionBus().call(set, QDBus::Block, kSessionCallMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCWarning(lcMorvane) << "accessibility could not be turned back off:"
                             << reply.errorMessage();
    }
}

} // namespace morvane
