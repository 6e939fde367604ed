// A Wayland client that owns the clipboard (or, after --primary, the primary selection)
// through the data-control protocol with the offers the command line names, for the clipboard
// tests: TYPE:CONTENT delivers CONTENT for TYPE, a bare TYPE is offered and never delivered
// (the pipe stays open and unwritten). Prints "ready" once the compositor has the selection,
// serves until another client takes it, then exits.
#include <wayland-client.h>
#include <wlr-data-control-unstable-v1-client-protocol.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Client {
    wl_seat* seat = nullptr;
    zwlr_data_control_manager_v1* manager = nullptr;
    std::map<std::string, std::string> contents;
    std::vector<int> held;
    bool cancelled = false;
};

void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
            uint32_t version) {
    auto* client = static_cast<Client*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !client->seat) {
        client->seat =
            static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0) {
        client->manager = static_cast<zwlr_data_control_manager_v1*>(wl_registry_bind(
            registry, name, &zwlr_data_control_manager_v1_interface, std::min(version, 2U)));
    }
}
void globalRemove(void*, wl_registry*, uint32_t) {}

void send(void* data, zwlr_data_control_source_v1*, const char* mime, int32_t fd) {
    auto* client = static_cast<Client*>(data);
    const auto found = client->contents.find(mime);
    if (found == client->contents.end()) {
        client->held.push_back(fd);
        return;
    }
    const std::string& bytes = found->second;
    [[maybe_unused]] const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    ::close(fd);
}
void cancelled(void* data, zwlr_data_control_source_v1*) {
    static_cast<Client*>(data)->cancelled = true;
}

} // namespace

int main(int argc, char* argv[]) {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "clipboard_offer: no Wayland display\n");
        return 1;
    }
    Client client;
    static const wl_registry_listener registryListener = {global, globalRemove};
    wl_registry_add_listener(wl_display_get_registry(display), &registryListener, &client);
    wl_display_roundtrip(display);
    if (!client.seat || !client.manager) {
        std::fprintf(stderr, "clipboard_offer: no seat or no data control\n");
        return 1;
    }
    zwlr_data_control_source_v1* source =
        zwlr_data_control_manager_v1_create_data_source(client.manager);
    static const zwlr_data_control_source_v1_listener sourceListener = {send, cancelled};
    zwlr_data_control_source_v1_add_listener(source, &sourceListener, &client);
    const bool primary = argc > 1 && std::strcmp(argv[1], "--primary") == 0;
    for (int i = primary ? 2 : 1; i < argc; ++i) {
        const std::string offer = argv[i];
        const size_t equals = offer.find(':');
        const std::string type = offer.substr(0, equals);
        if (equals != std::string::npos) {
            client.contents[type] = offer.substr(equals + 1);
        }
        zwlr_data_control_source_v1_offer(source, type.c_str());
    }
    zwlr_data_control_device_v1* device =
        zwlr_data_control_manager_v1_get_data_device(client.manager, client.seat);
    if (primary) {
        zwlr_data_control_device_v1_set_primary_selection(device, source);
    } else {
        zwlr_data_control_device_v1_set_selection(device, source);
    }
    wl_display_roundtrip(display);
    std::printf("ready\n");
    std::fflush(stdout);
    while (!client.cancelled && wl_display_dispatch(display) >= 0) {
    }
    for (const int fd : client.held) {
        ::close(fd);
    }
    wl_display_disconnect(display);
    return 0;
}
