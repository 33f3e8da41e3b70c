// The host side of the library, as a chip SDK sees it: libpltfm.so opened with dlopen, its
// exported functions resolved by name, and the device-port records the SDK passes to them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "board.h"
#include "ifcs_types.h"
#include "platform_types.h"
#include "platform_serdes.h"
#include "sdk_records.h"

namespace pltfm::sim {

class SdkHost {
public:
    // Opens the library; check error() afterwards.
    explicit SdkHost(const std::string &library_path);
    // The library is never closed: its threads run until the process ends, as on a switch.
    ~SdkHost() = default;
    SdkHost(const SdkHost &) = delete;
    SdkHost &operator=(const SdkHost &) = delete;

    const std::string &error() const { return error_; }
    const std::string &path() const { return path_; }

    int pre_init(const char *platform);
    int init(const char *platform);
    int post_init(const char *platform);

    // Port pre-initialisation: the decoded SerDes records, ok=false when the library
    // returned no list.
    struct PreInit {
        bool ok = false;
        std::vector<tools::SdkRecord> records;
    };
    PreInit port_pre_init(const Port &port, bool link_training = false);
    int port_init(const Port &port);
    int link_up(const Port &port);
    int link_down(const Port &port);
    int port_down(const Port &port);

    // State bits of a port slot (exported table read under the exported `mutex`); 0 when the
    // library does not export them.
    uint32_t state_bits(int slot);
    // The seven key attributes the library stores for a port slot (vendor, cable type, speed,
    // encoding, front port, lanes, lane); empty texts when not exported or not yet stored.
    std::vector<std::string> key_attributes(int slot);

private:
    template <class F>
    void resolve(F &fn, const char *name);
    std::vector<ifcs_attr_t> devport_records(const Port &port, bool with_speed_and_training,
                                             bool link_training) const;

    std::string path_;
    std::string error_;
    void *handle_ = nullptr;

    decltype(&::pltfm_pre_init) pre_init_ = nullptr;
    decltype(&::pltfm_init) init_ = nullptr;
    decltype(&::pltfm_post_init) post_init_ = nullptr;
    decltype(&::pltfm_port_pre_init) port_pre_init_ = nullptr;
    decltype(&::pltfm_port_init) port_init_ = nullptr;
    decltype(&::pltfm_port_link_up) link_up_ = nullptr;
    decltype(&::pltfm_port_link_down) link_down_ = nullptr;
    decltype(&::pltfm_port_down) port_down_ = nullptr;
    decltype(&::pltfm_an_lt_validate) an_lt_validate_ = nullptr;
    uint32_t *port_state_ar_ = nullptr;
    pltfm_attr_t (*port_attr_list_)[7] = nullptr;
    pthread_mutex_t *mutex_ = nullptr;
};

}  // namespace pltfm::sim
