#include "ShutdownSignals.h"

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace morvane {

namespace {

constexpr std::array kSignals = {SIGTERM, SIGINT, SIGHUP};

// Written by the handler, read by the event loop.
int signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t signalled = 0;

extern "C" void onShutdownSignal(int signal) {
    if (signalled != 0) {
        // The orderly shutdown is already asked for and has not ended: the user insists.
        ::_exit(128 + signal);
    }
    signalled = signal;
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    // The pipe cannot be full: at most one byte is ever written.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

bool ShutdownSignals::install() {
    if (signalPipe[0] >= 0) {
        return true;
    }
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        signalPipe[0] = signalPipe[1] = -1;
        return false;
    }
    struct sigaction action = {};
    action.sa_handler = onShutdownSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : kSignals) {
        sigaddset(&action.sa_mask, signal);
    }
    for (const int signal : kSignals) {
        struct sigaction before = {};
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) {
            continue;
        }
        ::sigaction(signal, &action, nullptr);
    }
    return true;
}

ShutdownSignals::ShutdownSignals(QObject* parent) : QObject(parent) {
    if (signalPipe[0] < 0) {
        return;
    }
    notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ShutdownSignals::readPipe);
}

void ShutdownSignals::readPipe() {
    unsigned char byte = 0;
    int signal = 0;
    while (::read(signalPipe[0], &byte, 1) == 1) {
        signal = byte;
    }
    if (signal != 0) {
        emit requested(signal);
    }
}

} // namespace morvane
