// A daemon that hosts the library: started with whatever standard descriptors the test left
// it, it loads libpltfm.so with dlopen, starts it, brings ports up, swaps a tuning file and
// waits for the rescan thread to load it, and takes the ports down. It writes no output of
// its own; at the end it writes a report file: each step's result, and the descriptors held
// after each step (number, close-on-exec flag, what they refer to).
//
//   pltfm_daemon_host LIBRARY REPORT NEW_TUNING TUNING TRIGGER PORT...
//   PORT: name,serdes group,start lane,lanes,speed,front port key (OPTICS modules; the first
//   port's tuning shows the rescan)
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ifcs_devport.h"
#include "platform_database.h"
#include "platform_serdes.h"

namespace {

struct Port {
    std::string name;
    uint32_t sg, sl, nl, speed, front_port;
};

// "fd:cloexec:target" of every open descriptor but the listing's own.
std::set<std::string> descriptors_now() {
    std::set<std::string> out;
    DIR *dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return {"unlistable"};
    while (const dirent *e = ::readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        const int fd = std::atoi(e->d_name);
        if (fd == ::dirfd(dir)) continue;
        char target[512] = {};
        const std::string link = std::string("/proc/self/fd/") + e->d_name;
        if (::readlink(link.c_str(), target, sizeof target - 1) < 0) std::strcpy(target, "?");
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags < 0) continue;  // closed meanwhile
        out.insert(std::to_string(fd) + ":" + ((flags & FD_CLOEXEC) ? "cloexec" : "inherit") + ":" +
                   target);
    }
    ::closedir(dir);
    return out;
}

// The descriptors that stay open for half a second: the library's threads open and close files and
// pipes all the time, and a descriptor that lives only for one access is not held.
std::string held_descriptors() {
    std::set<std::string> held = descriptors_now();
    for (int i = 0; i < 10; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::set<std::string> now = descriptors_now();
        std::set<std::string> both;
        std::set_intersection(held.begin(), held.end(), now.begin(), now.end(),
                              std::inserter(both, both.begin()));
        held = both;
    }
    std::string out;
    for (const std::string &d : held) out += " " + d;
    return out;
}

ifcs_attr_t devport(uint32_t id, uint32_t value) {
    ifcs_attr_t a{};
    a.id = id;
    a.value.u32 = value;
    a.bitmap = IFCS_ATTR_VALUE_FLAG_U32;
    return a;
}

template <class F>
F resolve(void *lib, const char *name) {
    return reinterpret_cast<F>(::dlsym(lib, name));
}

// The tuning values of a port's first lane through the database facade, as one text.
std::string tuning_of(decltype(&pltfm_parser_database_get) get, const Port &p) {
    const std::string speed = p.speed / p.nl == 50000 ? "50G/400G" : "25G/100G";
    const std::string encoding = p.speed / p.nl == 50000 ? "PAM4" : "NRZ";
    const std::pair<pltfm_attr_type_t, std::string> keys[] = {
        {PLTFM_ATTR_VENDOR, "GENERIC"},
        {PLTFM_ATTR_CABLE_TYPE, "OPTICS"},
        {PLTFM_ATTR_SPEED, speed},
        {PLTFM_ATTR_ENCODING, encoding},
        {PLTFM_ATTR_FRONT_PORT, std::to_string(p.front_port)},
        {PLTFM_ATTR_NUM_LANES, "1"},
        {PLTFM_ATTR_LANE, std::to_string(p.sl)}};
    pltfm_attr_t in[7] = {}, out[280] = {};
    for (int i = 0; i < 7; ++i) {
        in[i].key = keys[i].first;
        std::snprintf(in[i].value, sizeof in[i].value, "%s", keys[i].second.c_str());
    }
    uint32_t count = 280;
    if (get(in, 7, out, &count) != PLTFM_SUCCESS) return "none";
    std::string text;
    for (uint32_t i = 0; i < count; ++i) text += std::string(out[i].value) + " ";
    return text;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 7) return 2;
    std::ostringstream report;
    report << "descriptors start" << held_descriptors() << "\n";
    void *lib = ::dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return 3;
    report << "descriptors loaded" << held_descriptors() << "\n";
    auto pre_init = resolve<decltype(&pltfm_pre_init)>(lib, "pltfm_pre_init");
    auto port_pre_init = resolve<decltype(&pltfm_port_pre_init)>(lib, "pltfm_port_pre_init");
    auto port_init = resolve<decltype(&pltfm_port_init)>(lib, "pltfm_port_init");
    auto link_up = resolve<decltype(&pltfm_port_link_up)>(lib, "pltfm_port_link_up");
    auto port_down = resolve<decltype(&pltfm_port_down)>(lib, "pltfm_port_down");
    auto database_get =
        resolve<decltype(&pltfm_parser_database_get)>(lib, "pltfm_parser_database_get");
    if (!pre_init || !port_pre_init || !port_init || !link_up || !port_down || !database_get)
        return 4;

    std::vector<Port> ports;
    for (int i = 6; i < argc; ++i) {
        Port p;
        char name[32] = {};
        if (std::sscanf(argv[i], "%31[^,],%u,%u,%u,%u,%u", name, &p.sg, &p.sl, &p.nl, &p.speed,
                        &p.front_port) != 6)
            return 2;
        p.name = name;
        ports.push_back(p);
    }

    char platform[] = "SwitchSDK";
    report << "pre_init " << pre_init(platform) << "\n";
    for (const Port &p : ports) {
        std::vector<ifcs_attr_t> attrs = {
            devport(IFCS_DEVPORT_ATTR_SERDES_GROUP, p.sg),
            devport(IFCS_DEVPORT_ATTR_START_LANE, p.sl), devport(IFCS_DEVPORT_ATTR_NUM_LANES, p.nl),
            devport(IFCS_DEVPORT_ATTR_SPEED, p.speed), devport(IFCS_DEVPORT_ATTR_LINK_TRAINING, 0)};
        uint32_t count = static_cast<uint32_t>(attrs.size());
        std::string name = p.name;
        const ifcs_attr_t *list = port_pre_init(name.data(), attrs.data(), &count);
        report << "port_pre_init " << p.name << " " << (list != nullptr ? count : 0) << "\n";
        count = 3;
        report << "port_init " << p.name << " " << port_init(name.data(), attrs.data(), &count)
               << "\n";
        count = 3;
        report << "link_up " << p.name << " " << link_up(name.data(), attrs.data(), &count) << "\n";
    }
    // Two passes of the insertion thread over the configured ports.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    report << "descriptors up" << held_descriptors() << "\n";

    // A changed tuning file and the trigger: the rescan thread reloads at its next poll.
    const std::string before = tuning_of(database_get, ports.front());
    const bool swapped = std::rename(argv[3], argv[4]) == 0;
    const int trigger = ::open(argv[5], O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (trigger >= 0) ::close(trigger);
    bool reloaded = false;
    for (int i = 0; i < 300 && swapped && !reloaded; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        reloaded = tuning_of(database_get, ports.front()) != before;
    }
    report << "rescan " << (reloaded ? "reloaded" : "not seen") << "\n";
    report << "descriptors rescan" << held_descriptors() << "\n";

    for (const Port &p : ports) {
        std::string name = p.name;
        report << "port_down " << p.name << " " << port_down(name.data()) << "\n";
    }
    report << "descriptors down" << held_descriptors() << "\n";
    std::ofstream(argv[2]) << report.str() << "done\n";
    return 0;
}
