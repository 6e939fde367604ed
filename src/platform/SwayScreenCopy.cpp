#include "SwayScreenCopy.h"

#include "WaylandConnection.h"
#include "WaylandPipes.h"
#include "common/Log.h"

#include <algorithm>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <wlr-screencopy-unstable-v1-client-protocol.h>

namespace morvane {

namespace {

using namespace std::chrono_literals;

constexpr auto kCaptureBudget = 2000ms;
// An output of 16384 x 16384 at four bytes a pixel; anything larger is not a frame.
constexpr std::uint64_t kMaxBytes = std::uint64_t(16384) * 16384 * 4;

// The Qt format whose memory layout is the shared-memory format's, for the 32-bit formats
// compositors copy into; Format_Invalid for the others.
QImage::Format qtFormat(std::uint32_t format) {
    switch (format) {
    case WL_SHM_FORMAT_ARGB8888:
    case WL_SHM_FORMAT_XRGB8888:
        return QImage::Format_RGB32; // alpha, if any, is ignored: a screen is opaque
    case WL_SHM_FORMAT_ABGR8888:
    case WL_SHM_FORMAT_XBGR8888:
        return QImage::Format_RGBX8888;
    default:
        return QImage::Format_Invalid;
    }
}

// One frame's state, from the compositor's offer of buffers to ready or failed.
struct Frame {
    unsigned version = 1;
    std::uint32_t format = 0, width = 0, height = 0, stride = 0;
    bool offered = false; // a shared-memory buffer of a format the program reads
    bool offersDone = false;
    bool yInvert = false;
    bool ready = false;
    bool failed = false;
};

struct Mapping {
    void* data = MAP_FAILED;
    std::size_t size = 0;
    int fd = -1;
    ~Mapping() {
        if (data != MAP_FAILED) {
            ::munmap(data, size);
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

} // namespace

struct ScreenCopyListeners {
    static void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                       uint32_t version) {
        auto* self = static_cast<SwayScreenCopy*>(data);
        if (std::strcmp(interface, wl_shm_interface.name) == 0 && !self->shm_) {
            self->shm_ =
                static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
        } else if (std::strcmp(interface, zwlr_screencopy_manager_v1_interface.name) == 0 &&
                   !self->manager_) {
            self->manager_ = static_cast<zwlr_screencopy_manager_v1*>(wl_registry_bind(
                registry, name, &zwlr_screencopy_manager_v1_interface, std::min(version, 3U)));
        } else if (std::strcmp(interface, wl_output_interface.name) == 0 && version >= 4) {
            // Version 4 tells the output's name, which is how sway's IPC names it.
            auto* output =
                static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, 4));
            wl_output_add_listener(output, &ScreenCopyListeners::output, self);
            self->outputs_.append({output, name, {}});
        }
    }
    static void globalRemove(void* data, wl_registry*, uint32_t name) {
        auto* self = static_cast<SwayScreenCopy*>(data);
        for (qsizetype i = 0; i < self->outputs_.size(); ++i) {
            if (self->outputs_[i].global == name) {
                wl_output_destroy(self->outputs_[i].output);
                self->outputs_.removeAt(i);
                return;
            }
        }
    }

    static void outputName(void* data, wl_output* output, const char* name) {
        auto* self = static_cast<SwayScreenCopy*>(data);
        for (SwayScreenCopy::Output& known : self->outputs_) {
            if (known.output == output) {
                known.name = QString::fromUtf8(name).left(256);
            }
        }
    }
    static void geometry(void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t,
                         const char*, const char*, int32_t) {}
    static void mode(void*, wl_output*, uint32_t, int32_t, int32_t, int32_t) {}
    static void done(void*, wl_output*) {}
    static void scale(void*, wl_output*, int32_t) {}
    static void description(void*, wl_output*, const char*) {}

    static void buffer(void* data, zwlr_screencopy_frame_v1*, uint32_t format, uint32_t width,
                       uint32_t height, uint32_t stride) {
        auto* frame = static_cast<Frame*>(data);
        if (!frame->offered && qtFormat(format) != QImage::Format_Invalid) {
            *frame = {frame->version, format, width, height, stride,
                      true,           false,  false, false,  false};
        }
        // Before version 3 the one buffer event is the whole offer.
        frame->offersDone = frame->offersDone || frame->version < 3;
    }
    static void flags(void* data, zwlr_screencopy_frame_v1*, uint32_t flags) {
        static_cast<Frame*>(data)->yInvert = (flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
    }
    static void ready(void* data, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {
        static_cast<Frame*>(data)->ready = true;
    }
    static void failed(void* data, zwlr_screencopy_frame_v1*) {
        static_cast<Frame*>(data)->failed = true;
    }
    static void damage(void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t, uint32_t) {}
    static void dmabuf(void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {}
    static void bufferDone(void* data, zwlr_screencopy_frame_v1*) {
        static_cast<Frame*>(data)->offersDone = true;
    }

    static constexpr wl_registry_listener registry = {.global = global,
                                                      .global_remove = globalRemove};
    static constexpr wl_output_listener output = {.geometry = geometry,
                                                  .mode = mode,
                                                  .done = done,
                                                  .scale = scale,
                                                  .name = outputName,
                                                  .description = description};
    static constexpr zwlr_screencopy_frame_v1_listener frame = {.buffer = buffer,
                                                                .flags = flags,
                                                                .ready = ready,
                                                                .failed = failed,
                                                                .damage = damage,
                                                                .linux_dmabuf = dmabuf,
                                                                .buffer_done = bufferDone};
};

std::unique_ptr<SwayScreenCopy> SwayScreenCopy::open(QString* whyNot) {
    std::unique_ptr<WaylandConnection> connection = WaylandConnection::open();
    if (!connection) {
        if (whyNot) {
            *whyNot = QStringLiteral("no Wayland compositor to connect to");
        }
        return nullptr;
    }
    std::unique_ptr<SwayScreenCopy> copy(new SwayScreenCopy(std::move(connection)));
    if (!copy->bind(whyNot)) {
        return nullptr;
    }
    return copy;
}

SwayScreenCopy::SwayScreenCopy(std::unique_ptr<WaylandConnection> connection)
    : connection_(std::move(connection)) {}

bool SwayScreenCopy::bind(QString* whyNot) {
    auto fail = [whyNot](const char* why) {
        if (whyNot) {
            *whyNot = QString::fromLatin1(why);
        }
        return false;
    };
    registry_ = wl_display_get_registry(connection_->display());
    wl_registry_add_listener(registry_, &ScreenCopyListeners::registry, this);
    const FdDeadline deadline(1000ms);
    // The globals first, then what the outputs bound among them tell of themselves.
    if (!connection_->sync(deadline) || !connection_->sync(deadline)) {
        return fail("the Wayland compositor did not answer");
    }
    if (!manager_) {
        return fail("the Wayland compositor offers no screencopy (zwlr_screencopy_manager_v1)");
    }
    if (!shm_) {
        return fail("the Wayland compositor offers no shared memory (wl_shm)");
    }
    return true;
}

SwayScreenCopy::~SwayScreenCopy() {
    for (const Output& output : outputs_) {
        wl_output_destroy(output.output);
    }
    if (manager_) {
        zwlr_screencopy_manager_v1_destroy(manager_);
    }
    if (shm_) {
        wl_shm_destroy(shm_);
    }
    if (registry_) {
        wl_registry_destroy(registry_);
    }
}

QImage SwayScreenCopy::capture(const QString& outputName, const QRect& region) {
    failure_.clear();
    const auto output = std::find_if(outputs_.cbegin(), outputs_.cend(),
                                     [&](const Output& o) { return o.name == outputName; });
    if (region.isEmpty() || output == outputs_.cend() || connection_->failed()) {
        failure_ = connection_->failed()
                       ? QStringLiteral("与 sway 的连接已断开")
                       : QStringLiteral("sway 没有名为 %1 的输出").arg(outputName);
        return {};
    }
    Frame state;
    state.version = zwlr_screencopy_manager_v1_get_version(manager_);
    zwlr_screencopy_frame_v1* frame = zwlr_screencopy_manager_v1_capture_output_region(
        manager_, 0, output->output, region.x(), region.y(), region.width(), region.height());
    zwlr_screencopy_frame_v1_add_listener(frame, &ScreenCopyListeners::frame, &state);
    const FdDeadline deadline(kCaptureBudget);
    QImage image;
    wl_buffer* buffer = nullptr;
    Mapping mapping;
    const bool offered =
        connection_->waitUntil([&state] { return state.offersDone || state.failed; }, deadline);
    const std::uint64_t bytes = std::uint64_t(state.stride) * state.height;
    if (!offered || state.failed || !state.offered || state.width == 0 || state.height == 0 ||
        state.stride < state.width * 4 || bytes > kMaxBytes) {
        failure_ = !offered ? QStringLiteral("sway 没有及时送来画面")
                            : QStringLiteral("sway 没有提供可读取的画面缓冲区");
    } else {
        mapping.size = std::size_t(bytes);
        mapping.fd = ::memfd_create("morvane-screencopy", MFD_CLOEXEC);
        if (mapping.fd >= 0 && ::ftruncate(mapping.fd, off_t(mapping.size)) == 0) {
            mapping.data =
                ::mmap(nullptr, mapping.size, PROT_READ | PROT_WRITE, MAP_SHARED, mapping.fd, 0);
        }
        if (mapping.data == MAP_FAILED) {
            failure_ = QStringLiteral("无法为截图分配共享内存");
        } else {
            wl_shm_pool* pool = wl_shm_create_pool(shm_, mapping.fd, int32_t(mapping.size));
            buffer = wl_shm_pool_create_buffer(pool, 0, int32_t(state.width), int32_t(state.height),
                                               int32_t(state.stride), state.format);
            wl_shm_pool_destroy(pool);
            zwlr_screencopy_frame_v1_copy(frame, buffer);
            const bool ended =
                connection_->waitUntil([&state] { return state.ready || state.failed; }, deadline);
            if (!ended || !state.ready) {
                failure_ = !ended ? QStringLiteral("sway 没有及时送来画面")
                                  : QStringLiteral("sway 没能复制画面");
            } else {
                const QImage view(static_cast<const uchar*>(mapping.data), int(state.width),
                                  int(state.height), qsizetype(state.stride),
                                  qtFormat(state.format));
                // A deep copy: the mapping goes when this call returns.
                image = view.format() == QImage::Format_RGB32
                            ? view.copy()
                            : view.convertToFormat(QImage::Format_RGB32);
                if (state.yInvert) {
                    image = image.mirrored(false, true);
                }
            }
        }
    }
    zwlr_screencopy_frame_v1_destroy(frame);
    if (buffer) {
        wl_buffer_destroy(buffer);
    }
    connection_->flush();
    if (image.isNull()) {
        qCWarning(lcMorvane) << "sway screencopy of" << outputName << region << ":" << failure_;
        return {};
    }
    // A format with an alpha byte may leave it unset: the screen is opaque.
    if (qtFormat(state.format) == QImage::Format_RGB32) {
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                line[x] |= 0xff000000u;
            }
        }
    }
    if (image.size() != region.size()) {
        // A scaled output gives more pixels; the capture keeps the logical size.
        image = image.scaled(region.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return image;
}

} // namespace morvane
