#pragma once

#include <QByteArray>
#include <QObject>
#include <chrono>
#include <optional>
#include <sys/types.h>

class QSocketNotifier;

namespace morvane {

// write() that cannot end the process: a reader that has gone gives EPIPE, and the SIGPIPE
// the kernel raises for it is kept blocked in this thread and taken back before the mask is
// restored. The process's own handling of SIGPIPE is left alone, so programs it starts
// inherit the default.
ssize_t writeWithoutSigpipe(int fd, const char* data, size_t size);

// Hands bytes to another client through the write end of a pipe, as fast as it reads, from
// the event loop: the descriptor is made non-blocking and a QSocketNotifier says when it takes
// more. Owns the descriptor from construction and closes it when everything is written, the
// reader has gone, or the writer is destroyed first (its parent going down); then it deletes
// itself.
class PipeWriter final : public QObject {
public:
    PipeWriter(int fd, QByteArray bytes, QObject* parent);
    ~PipeWriter() override;
    PipeWriter(const PipeWriter&) = delete;
    PipeWriter& operator=(const PipeWriter&) = delete;

private:
    void writeMore();
    void finish();

    int fd_;
    QByteArray bytes_;
    qsizetype written_ = 0;
    QSocketNotifier* notifier_ = nullptr;
};

// A nested wait of the calling thread on one descriptor at a time, all of them together no
// longer than one deadline: poll() on that descriptor alone, no event loop, so nothing else of
// the program runs meanwhile. Lifetime: made on the stack of the one call that waits (a
// clipboard read) and gone when it returns; it holds no descriptor of its own.
class FdDeadline {
public:
    explicit FdDeadline(std::chrono::milliseconds budget);

    // Until fd has something to read or its writer has gone: false when the deadline came
    // first or poll() failed.
    bool waitReadable(int fd) const;

private:
    std::chrono::steady_clock::time_point end_;
};

// Everything the writer of the pipe sends until it closes its end, at most maxBytes. Nothing
// when the deadline comes first (a writer that never writes or never closes), the writer
// sends more than maxBytes, or reading fails. Takes fd, which must be non-blocking, and closes it.
std::optional<QByteArray> readAllBefore(int fd, const FdDeadline& deadline, qsizetype maxBytes);

} // namespace morvane
