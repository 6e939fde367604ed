// Injects input into a KWin Wayland session through KWin's fake-input protocol, for tests.
//     kwin_input COMMAND...
// Commands, carried out in order, each confirmed by a round trip so that the compositor has
// handled it when the next one starts (and when the tool exits):
//     move X Y     the pointer to X Y (global, logical pixels)
//     click        the left button pressed and released
//     keys COMBO   e.g. ctrl+s: the leading keys pressed, the last pressed and released, the
//                  leading ones released in reverse; names ctrl shift alt a-z 0-9 f1-f12
//                  return escape tab space
//     sleep MS     a pause
//     hold         stays connected, printing "holding" once connected, until ended: KWin's
//                  seat has a pointer only while some input device exists, and on a virtual
//                  output the fake-input devices are the only ones; without one held for the
//                  session, each run of this tool would add the pointer, and clients would
//                  miss the clicks sent before they had bound it
// Exit status: 0 done, 2 bad command line, 3 no Wayland display, 4 the compositor does not
// offer what a command needs (fake input is offered only to authorised clients), 5 the
// connection broke.
#include "fake-input-client-protocol.h"

#include <linux/input-event-codes.h>
#include <wayland-client.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kPressed = 1;
constexpr uint32_t kReleased = 0;

struct Command {
    enum Kind { Move, Click, Keys, Sleep, Hold } kind;
    int x = 0;
    int y = 0;
    std::vector<uint32_t> keys;
};

struct Globals {
    org_kde_kwin_fake_input* input = nullptr;
    uint32_t version = 0;
};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
              uint32_t version) {
    auto* globals = static_cast<Globals*>(data);
    if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && !globals->input) {
        globals->version = std::min<uint32_t>(version, 4);
        globals->input = static_cast<org_kde_kwin_fake_input*>(
            wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, globals->version));
    }
}

void onGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener registryListener = {onGlobal, onGlobalRemove};

int keyCode(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    static const int letters[] = {KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I,
                                  KEY_J, KEY_K, KEY_L, KEY_M, KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R,
                                  KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z};
    static const int digits[] = {KEY_0, KEY_1, KEY_2, KEY_3, KEY_4,
                                 KEY_5, KEY_6, KEY_7, KEY_8, KEY_9};
    static const int functions[] = {KEY_F1, KEY_F2, KEY_F3, KEY_F4,  KEY_F5,  KEY_F6,
                                    KEY_F7, KEY_F8, KEY_F9, KEY_F10, KEY_F11, KEY_F12};
    static const struct {
        const char* name;
        int code;
    } named[] = {{"ctrl", KEY_LEFTCTRL}, {"shift", KEY_LEFTSHIFT}, {"alt", KEY_LEFTALT},
                 {"return", KEY_ENTER},  {"escape", KEY_ESC},      {"tab", KEY_TAB},
                 {"space", KEY_SPACE}};
    if (name.size() == 1 && name[0] >= 'a' && name[0] <= 'z') {
        return letters[name[0] - 'a'];
    }
    if (name.size() == 1 && name[0] >= '0' && name[0] <= '9') {
        return digits[name[0] - '0'];
    }
    if (name.size() >= 2 && name.size() <= 3 && name[0] == 'f' &&
        name.find_first_not_of("0123456789", 1) == std::string::npos) {
        const int n = std::atoi(name.c_str() + 1);
        return n >= 1 && n <= 12 && name[1] != '0' ? functions[n - 1] : -1;
    }
    for (const auto& entry : named) {
        if (name == entry.name) {
            return entry.code;
        }
    }
    return -1;
}

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

// Reads every command before any is carried out, so that a typo sends no input at all.
bool parse(int argc, char* argv[], std::vector<Command>& commands) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        Command command{};
        if (word == "move") {
            command.kind = Command::Move;
            if (i + 2 >= argc || !parseInt(argv[i + 1], command.x) ||
                !parseInt(argv[i + 2], command.y)) {
                std::fprintf(stderr, "kwin_input: move needs X Y\n");
                return false;
            }
            i += 2;
        } else if (word == "click") {
            command.kind = Command::Click;
        } else if (word == "keys") {
            command.kind = Command::Keys;
            if (i + 1 >= argc) {
                std::fprintf(stderr, "kwin_input: keys needs a combination such as ctrl+s\n");
                return false;
            }
            const std::string combo = argv[++i];
            size_t start = 0;
            while (true) {
                const size_t plus = combo.find('+', start);
                const std::string name = combo.substr(start, plus - start);
                const int code = keyCode(name);
                if (code < 0) {
                    std::fprintf(stderr, "kwin_input: unknown key name '%s' in '%s'\n",
                                 name.c_str(), combo.c_str());
                    return false;
                }
                command.keys.push_back(static_cast<uint32_t>(code));
                if (plus == std::string::npos) {
                    break;
                }
                start = plus + 1;
            }
        } else if (word == "hold") {
            command.kind = Command::Hold;
        } else if (word == "sleep") {
            command.kind = Command::Sleep;
            if (i + 1 >= argc || !parseInt(argv[i + 1], command.x) || command.x < 0) {
                std::fprintf(stderr, "kwin_input: sleep needs milliseconds\n");
                return false;
            }
            ++i;
        } else {
            std::fprintf(stderr, "kwin_input: unknown command '%s'\n", argv[i]);
            return false;
        }
        commands.push_back(std::move(command));
    }
    return !commands.empty();
}

void send(org_kde_kwin_fake_input* input, const Command& command) {
    switch (command.kind) {
    case Command::Move:
        org_kde_kwin_fake_input_pointer_motion_absolute(input, wl_fixed_from_int(command.x),
                                                        wl_fixed_from_int(command.y));
        break;
    case Command::Click:
        org_kde_kwin_fake_input_button(input, BTN_LEFT, kPressed);
        org_kde_kwin_fake_input_button(input, BTN_LEFT, kReleased);
        break;
    case Command::Keys:
        for (const uint32_t key : command.keys) {
            org_kde_kwin_fake_input_keyboard_key(input, key, kPressed);
        }
        org_kde_kwin_fake_input_keyboard_key(input, command.keys.back(), kReleased);
        for (size_t i = command.keys.size() - 1; i-- > 0;) {
            org_kde_kwin_fake_input_keyboard_key(input, command.keys[i], kReleased);
        }
        break;
    case Command::Sleep:
        std::this_thread::sleep_for(std::chrono::milliseconds(command.x));
        break;
    case Command::Hold:
        break;
    }
}

uint32_t versionNeeded(Command::Kind kind) {
    switch (kind) {
    case Command::Move:
        return ORG_KDE_KWIN_FAKE_INPUT_POINTER_MOTION_ABSOLUTE_SINCE_VERSION;
    case Command::Keys:
        return ORG_KDE_KWIN_FAKE_INPUT_KEYBOARD_KEY_SINCE_VERSION;
    default:
        return 1;
    }
}

} // namespace

int main(int argc, char* argv[]) {
    std::vector<Command> commands;
    if (!parse(argc, argv, commands)) {
        std::fprintf(stderr,
                     "usage: kwin_input {move X Y | click | keys COMBO | sleep MS | hold}...\n");
        return 2;
    }
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        const char* name = std::getenv("WAYLAND_DISPLAY");
        std::fprintf(stderr, "kwin_input: cannot connect to the Wayland display '%s'\n",
                     name ? name : "(WAYLAND_DISPLAY unset)");
        return 3;
    }
    Globals globals;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &globals);
    int status = 0;
    if (wl_display_roundtrip(display) < 0) {
        std::fprintf(stderr, "kwin_input: the connection to the compositor broke\n");
        status = 5;
    } else if (!globals.input) {
        std::fprintf(stderr, "kwin_input: the compositor does not offer %s to this client\n",
                     org_kde_kwin_fake_input_interface.name);
        status = 4;
    }
    for (const Command& command : commands) {
        if (status == 0 && globals.version < versionNeeded(command.kind)) {
            std::fprintf(stderr, "kwin_input: %s version %u cannot do '%s'\n",
                         org_kde_kwin_fake_input_interface.name, globals.version,
                         command.kind == Command::Move ? "move" : "keys");
            status = 4;
        }
    }
    if (status == 0) {
        org_kde_kwin_fake_input_authenticate(globals.input, "kwin_input", "input for tests");
        for (const Command& command : commands) {
            send(globals.input, command);
            if (wl_display_roundtrip(display) < 0) {
                std::fprintf(stderr, "kwin_input: the connection to the compositor broke\n");
                status = 5;
                break;
            }
            if (command.kind == Command::Hold) {
                std::printf("holding\n");
                std::fflush(stdout);
                while (wl_display_dispatch(display) >= 0) {
                }
            }
        }
    }
    if (globals.input) {
        org_kde_kwin_fake_input_destroy(globals.input);
    }
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return status;
}
