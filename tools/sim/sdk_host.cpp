// dlopen host of libpltfm.
#include "sdk_host.h"

#include <dlfcn.h>
#include <pthread.h>

#include <cstring>

#include "ifcs_devport.h"

namespace pltfm::sim {

template <class F>
void SdkHost::resolve(F &fn, const char *name) {
    void *sym = dlsym(handle_, name);
    if (sym == nullptr && error_.empty()) error_ = std::string("symbol not exported: ") + name;
    fn = reinterpret_cast<F>(sym);
}

SdkHost::SdkHost(const std::string &library_path) : path_(library_path) {
    handle_ = dlopen(library_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char *why = dlerror();
        error_ = why != nullptr ? why : "dlopen failed";
        return;
    }
    resolve(pre_init_, "pltfm_pre_init");
    resolve(init_, "pltfm_init");
    resolve(post_init_, "pltfm_post_init");
    resolve(port_pre_init_, "pltfm_port_pre_init");
    resolve(port_init_, "pltfm_port_init");
    resolve(link_up_, "pltfm_port_link_up");
    resolve(link_down_, "pltfm_port_link_down");
    resolve(port_down_, "pltfm_port_down");
    resolve(an_lt_validate_, "pltfm_an_lt_validate");
    // Data objects the library exports; used only to show the insertion monitor's view.
    port_state_ar_ = static_cast<uint32_t *>(dlsym(handle_, "port_state_ar"));
    mutex_ = static_cast<pthread_mutex_t *>(dlsym(handle_, "mutex"));
    port_attr_list_ = static_cast<pltfm_attr_t(*)[7]>(dlsym(handle_, "port_attr_list"));
}

int SdkHost::pre_init(const char *platform) { return pre_init_(const_cast<char *>(platform)); }
int SdkHost::init(const char *platform) { return init_(const_cast<char *>(platform)); }
int SdkHost::post_init(const char *platform) { return post_init_(const_cast<char *>(platform)); }

std::vector<ifcs_attr_t> SdkHost::devport_records(const Port &port, bool with_speed_and_training,
                                                  bool link_training) const {
    auto record = [](ifcs_attr_id_t id, uint32_t value) {
        ifcs_attr_t a{};
        a.id = id;
        a.value.u32 = value;
        a.bitmap = IFCS_ATTR_VALUE_FLAG_U32;
        return a;
    };
    std::vector<ifcs_attr_t> out = {
        record(IFCS_DEVPORT_ATTR_SERDES_GROUP, static_cast<uint32_t>(port.serdes_group + 1)),
        record(IFCS_DEVPORT_ATTR_START_LANE, static_cast<uint32_t>(port.start_lane)),
        record(IFCS_DEVPORT_ATTR_NUM_LANES, static_cast<uint32_t>(port.lanes)),
    };
    if (with_speed_and_training) {
        out.push_back(record(IFCS_DEVPORT_ATTR_SPEED, static_cast<uint32_t>(port.speed)));
        out.push_back(record(IFCS_DEVPORT_ATTR_LINK_TRAINING, link_training ? 1 : 0));
    }
    return out;
}

SdkHost::PreInit SdkHost::port_pre_init(const Port &port, bool link_training) {
    std::vector<ifcs_attr_t> attrs = devport_records(port, true, link_training);
    uint32_t count = static_cast<uint32_t>(attrs.size());
    std::string name = port.intf;
    PreInit result;
    ifcs_attr_t *list = port_pre_init_(name.data(), attrs.data(), &count);
    if (list == nullptr) return result;
    result.ok = true;
    // The library owns the list until port-down; the SDK only reads it.
    result.records = tools::decode_sdk_records(list, count);
    return result;
}

int SdkHost::port_init(const Port &port) {
    std::vector<ifcs_attr_t> attrs = devport_records(port, false, false);
    uint32_t count = static_cast<uint32_t>(attrs.size());
    std::string name = port.intf;
    return port_init_(name.data(), attrs.data(), &count);
}

int SdkHost::link_up(const Port &port) {
    std::vector<ifcs_attr_t> attrs = devport_records(port, false, false);
    uint32_t count = static_cast<uint32_t>(attrs.size());
    std::string name = port.intf;
    return link_up_(name.data(), attrs.data(), &count);
}

int SdkHost::link_down(const Port &port) {
    std::vector<ifcs_attr_t> attrs = devport_records(port, false, false);
    uint32_t count = static_cast<uint32_t>(attrs.size());
    std::string name = port.intf;
    return link_down_(name.data(), attrs.data(), &count);
}

int SdkHost::port_down(const Port &port) {
    std::string name = port.intf;
    return port_down_(name.data());
}

uint32_t SdkHost::state_bits(int slot) {
    if (port_state_ar_ == nullptr || mutex_ == nullptr || slot < 1 || slot > 258) return 0;
    pthread_mutex_lock(mutex_);
    const uint32_t bits = port_state_ar_[slot];
    pthread_mutex_unlock(mutex_);
    return bits;
}

}  // namespace pltfm::sim

namespace pltfm::sim {

std::vector<std::string> SdkHost::key_attributes(int slot) {
    std::vector<std::string> out(7);
    if (port_attr_list_ == nullptr || mutex_ == nullptr || slot < 1 || slot > 258) return out;
    pthread_mutex_lock(mutex_);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const pltfm_attr_t &a = port_attr_list_[slot][i];
        out[i].assign(a.value, strnlen(a.value, sizeof a.value));
    }
    pthread_mutex_unlock(mutex_);
    return out;
}

}  // namespace pltfm::sim
