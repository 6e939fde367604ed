#include "WaylandPipes.h"

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

namespace morvane {

ssize_t writeWithoutSigpipe(int fd, const char* data, size_t size) {
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &before);
    // A SIGPIPE already pending belongs to someone else and stays pending.
    sigset_t pending;
    sigpending(&pending);
    const bool pendingBefore = sigismember(&pending, SIGPIPE) == 1;

    ssize_t written = -1;
    do {
        written = ::write(fd, data, size);
    } while (written < 0 && errno == EINTR);
    const int error = errno;

    if (written < 0 && error == EPIPE && !pendingBefore) {
        const timespec now = {};
        while (sigtimedwait(&pipeOnly, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    errno = error;
    return written;
}

PipeWriter::PipeWriter(int fd, QByteArray bytes, QObject* parent)
    : QObject(parent), fd_(fd), bytes_(std::move(bytes)) {
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0) {
        // Written blocking, it could hold the whole program: not written at all.
        finish();
        return;
    }
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Write, this);
    connect(notifier_, &QSocketNotifier::activated, this, &PipeWriter::writeMore);
}

PipeWriter::~PipeWriter() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void PipeWriter::writeMore() {
    while (written_ < bytes_.size()) {
        const ssize_t n = writeWithoutSigpipe(fd_, bytes_.constData() + written_,
                                              static_cast<size_t>(bytes_.size() - written_));
        if (n < 0 && errno == EAGAIN) {
            return; // the reader is behind; the notifier says when the pipe takes more
        }
        if (n <= 0) {
            break; // the reader has gone (EPIPE) or the pipe failed: the rest is not wanted
        }
        written_ += n;
    }
    finish();
}

void PipeWriter::finish() {
    if (notifier_) {
        notifier_->setEnabled(false);
    }
    ::close(fd_);
    fd_ = -1;
    deleteLater();
}

FdDeadline::FdDeadline(std::chrono::milliseconds budget)
    : end_(std::chrono::steady_clock::now() + budget) {}

bool FdDeadline::waitReadable(int fd) const {
    using namespace std::chrono;
    for (;;) {
        const auto left = duration_cast<milliseconds>(end_ - steady_clock::now()).count();
        if (left <= 0) {
            return false;
        }
        pollfd watched = {.fd = fd, .events = POLLIN};
        const int ready = ::poll(&watched, 1, static_cast<int>(left));
        if (ready > 0) {
            return true; // readable, or hung up: read() tells which
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

std::optional<QByteArray> readAllBefore(int fd, const FdDeadline& deadline, qsizetype maxBytes) {
    QByteArray bytes;
    std::array<char, 16384> chunk{};
    std::optional<QByteArray> result;
    for (;;) {
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n > 0) {
            bytes.append(chunk.data(), n);
            if (bytes.size() > maxBytes) {
                break;
            }
            continue;
        }
        if (n == 0) {
            result = std::move(bytes);
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN || !deadline.waitReadable(fd)) {
            break;
        }
    }
    ::close(fd);
    return result;
}

} // namespace morvane
