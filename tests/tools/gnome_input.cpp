// Injects input into a GNOME Shell (mutter) session through mutter's remote-desktop D-Bus
// interface, for tests.
//     gnome_input COMMAND...
// Commands, carried out in order on one remote-desktop session, each a method call whose reply
// says mutter has taken it:
//     keys COMBO   e.g. ctrl+s: the leading keys pressed, the last pressed and released, the
//                  leading ones released in reverse; names ctrl shift alt super a-z 0-9
//                  f1-f12 return escape tab space print
//     move X Y     the pointer to X Y (logical pixels): mutter moves a remote pointer only
//                  relative to where it is, so it is first pushed into the top left corner
//     by DX DY     the pointer moved by DX DY
//     click        the left button pressed and released
//     sleep MS     a pause
//     hold         (last) keeps the session, printing "holding" once it has started, until
//                  SIGTERM or SIGINT; with MORVANE_GNOME_INPUT_SOCKET set it listens there, and
//                  later runs of the tool hand their commands over instead of opening sessions
//                  of their own. A new session adds a keyboard and a pointer to mutter's seat,
//                  and clients that see them come miss the first key and early clicks; the
//                  held one is the only session, so the devices stay put.
// Exit status: 0 done, 2 bad command line, 3 no session bus, 4 mutter refused a call (or
// offers no remote-desktop interface), 5 the holding tool did not answer.
#include "gnome_remote_desktop.h"

#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using gnome_input::keysym;
using gnome_input::Session;

struct Command {
    enum Kind { Keys, Move, By, Click, Sleep, Hold } kind = Click;
    int x = 0;
    int y = 0;
    std::vector<uint32_t> keysyms;
};

bool parseInt(const char* text, int& value) {
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < -1000000 || parsed > 1000000) {
        return false;
    }
    value = static_cast<int>(parsed);
    return true;
}

bool parse(int argc, char* argv[], std::vector<Command>& commands) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        Command command;
        if (word == "keys") {
            command.kind = Command::Keys;
            if (i + 1 >= argc) {
                std::fprintf(stderr, "gnome_input: keys needs a combination such as ctrl+s\n");
                return false;
            }
            const std::string combo = argv[++i];
            size_t start = 0;
            while (start <= combo.size()) {
                const size_t plus = combo.find('+', start);
                const std::string name = combo.substr(
                    start, plus == std::string::npos ? std::string::npos : plus - start);
                const uint32_t sym = keysym(name);
                if (sym == 0) {
                    std::fprintf(stderr, "gnome_input: unknown key '%s'\n", name.c_str());
                    return false;
                }
                command.keysyms.push_back(sym);
                if (plus == std::string::npos) {
                    break;
                }
                start = plus + 1;
            }
        } else if (word == "move" || word == "by") {
            command.kind = word == "move" ? Command::Move : Command::By;
            if (i + 2 >= argc || !parseInt(argv[i + 1], command.x) ||
                !parseInt(argv[i + 2], command.y)) {
                std::fprintf(stderr, "gnome_input: %s needs two whole numbers\n", argv[i]);
                return false;
            }
            i += 2;
        } else if (word == "click") {
            command.kind = Command::Click;
        } else if (word == "hold") {
            command.kind = Command::Hold;
            if (i + 1 < argc) {
                std::fprintf(stderr, "gnome_input: hold must be the last command\n");
                return false;
            }
        } else if (word == "sleep") {
            command.kind = Command::Sleep;
            if (i + 1 >= argc || !parseInt(argv[i + 1], command.x) || command.x < 0) {
                std::fprintf(stderr, "gnome_input: sleep needs milliseconds\n");
                return false;
            }
            ++i;
        } else {
            std::fprintf(stderr, "gnome_input: unknown command '%s'\n", argv[i]);
            return false;
        }
        commands.push_back(command);
    }
    if (commands.empty()) {
        std::fprintf(stderr, "usage: gnome_input COMMAND... (keys COMBO, move X Y, by DX DY, "
                             "click, sleep MS)\n");
        return false;
    }
    return true;
}

bool run(Session& session, const Command& command) {
    switch (command.kind) {
    case Command::Keys: {
        const auto& keys = command.keysyms;
        for (size_t i = 0; i < keys.size(); ++i) {
            if (!session.key(keys[i], true)) {
                return false;
            }
        }
        for (size_t i = keys.size(); i-- > 0;) {
            if (!session.key(keys[i], false)) {
                return false;
            }
        }
        return true;
    }
    case Command::Move:
        // Far beyond any monitor: the pointer stops at the top left corner of the layout.
        return session.motion(-1000000, -1000000) && session.motion(command.x, command.y);
    case Command::By:
        return session.motion(command.x, command.y);
    case Command::Click:
        return session.button(true) && session.button(false);
    case Command::Sleep:
        std::this_thread::sleep_for(std::chrono::milliseconds(command.x));
        return true;
    case Command::Hold:
        return true; // carried out by main
    }
    return false;
}

// The socket of the holding tool: MORVANE_GNOME_INPUT_SOCKET, when set.
bool socketAddress(sockaddr_un& address) {
    const char* path = std::getenv("MORVANE_GNOME_INPUT_SOCKET");
    address = {};
    address.sun_family = AF_UNIX;
    if (!path || !*path || std::strlen(path) >= sizeof address.sun_path) {
        return false;
    }
    std::strcpy(address.sun_path, path);
    return true;
}

// Hands the command line to the holding tool and returns its status, or -1 when none listens.
int relay(int argc, char* argv[]) {
    sockaddr_un address;
    if (!socketAddress(address)) {
        return -1;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        return -1;
    }
    std::string line;
    for (int i = 1; i < argc; ++i) {
        line += argv[i];
        line += '\n';
    }
    unsigned char status = 5;
    const bool sent = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    shutdown(fd, SHUT_WR);
    if (!sent || read(fd, &status, 1) != 1) {
        std::fprintf(stderr, "gnome_input: the holding tool did not answer\n");
        status = 5;
    }
    close(fd);
    return status;
}

int runAll(Session& session, const std::vector<Command>& commands) {
    for (const auto& command : commands) {
        if (!run(session, command)) {
            return 4;
        }
    }
    return 0;
}

// Keeps the session until SIGTERM or SIGINT, carrying out the command lines that other runs
// of the tool hand over through the socket, one after the other.
int hold(Session& session) {
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGINT);
    const int signals = signalfd(-1, &ending, SFD_CLOEXEC);
    sockaddr_un address;
    int listener = -1;
    if (socketAddress(address)) {
        unlink(address.sun_path);
        listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener < 0 ||
            bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener, 8) != 0) {
            std::fprintf(stderr, "gnome_input: cannot listen on %s\n", address.sun_path);
            return 4;
        }
    }
    std::printf("holding\n");
    std::fflush(stdout);
    pollfd watched[2] = {{signals, POLLIN, 0}, {listener, POLLIN, 0}};
    while (poll(watched, listener >= 0 ? 2 : 1, -1) >= 0 || errno == EINTR) {
        if (watched[0].revents != 0) {
            break;
        }
        if (listener < 0 || (watched[1].revents & POLLIN) == 0) {
            continue;
        }
        const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        std::string text;
        char buffer[512];
        for (ssize_t n; (n = read(client, buffer, sizeof buffer)) > 0;) {
            text.append(buffer, static_cast<size_t>(n));
        }
        std::vector<std::string> words{"gnome_input"};
        for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
             start = end + 1) {
            words.push_back(text.substr(start, end - start));
        }
        std::vector<char*> args;
        for (auto& word : words) {
            args.push_back(word.data());
        }
        std::vector<Command> commands;
        const bool parsed = parse(static_cast<int>(args.size()), args.data(), commands) &&
                            commands.back().kind != Command::Hold;
        const auto status = static_cast<unsigned char>(parsed ? runAll(session, commands) : 2);
        if (write(client, &status, 1) != 1) {
            std::fprintf(stderr, "gnome_input: a client left before its answer\n");
        }
        close(client);
    }
    if (listener >= 0) {
        close(listener);
        unlink(address.sun_path);
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    std::vector<Command> commands;
    if (!parse(argc, argv, commands)) {
        return 2;
    }
    const bool holding = commands.back().kind == Command::Hold;
    if (holding) {
        // Blocked, so that they reach hold's signal descriptor and the session is stopped.
        sigset_t ending;
        sigemptyset(&ending);
        sigaddset(&ending, SIGTERM);
        sigaddset(&ending, SIGINT);
        pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    } else if (const int status = relay(argc, argv); status >= 0) {
        return status;
    }
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* bus = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
    if (!bus) {
        std::fprintf(stderr, "gnome_input: no session bus: %s\n", error.message);
        dbus_error_free(&error);
        return 3;
    }
    dbus_connection_set_exit_on_disconnect(bus, FALSE);
    int status = 4;
    {
        Session session(bus);
        if (session.open()) {
            status = runAll(session, commands);
            if (status == 0 && holding) {
                status = hold(session);
            }
        }
    }
    dbus_connection_close(bus);
    dbus_connection_unref(bus);
    return status;
}
