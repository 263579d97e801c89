// uplink-relay BROKER STATION DATABASE [CA_FILE]: one station's uplink until SIGTERM (a clean stop) or
// SIGKILL (a crash).
#include <csignal>
#include <cstdio>
#include <exception>

#include <unistd.h>

#include "uplink.h"

namespace {
volatile std::sig_atomic_t stopped = 0;
}

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: uplink-relay BROKER STATION DATABASE [CA_FILE]\n");
        return 2;
    }
    std::signal(SIGTERM, [](int) { stopped = 1; });
    try {
        forecourt::uplink::UplinkConfig config;
        config.broker = argv[1];
        config.station = argv[2];
        if (argc == 5) config.ca_file = argv[4];
        config.reconnect_min = std::chrono::milliseconds(50);
        config.reconnect_max = std::chrono::milliseconds(400);
        forecourt::uplink::Uplink uplink(config, argv[3]);
        uplink.Start();
        while (!stopped) ::usleep(20000);
        uplink.Stop();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "uplink-relay: %s\n", e.what());
        return 1;
    }
    return 0;
}
