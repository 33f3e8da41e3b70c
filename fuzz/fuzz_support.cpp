// Shared parts of the fuzz harnesses.
#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>

#include "platform_database.h"

namespace pltfm::fuzz {

namespace fs = std::filesystem;

// Present under the sanitizers: writes where their reports go, which stays open when
// libFuzzer closes standard error (-close_fd_mask=2) to silence the library's log.
extern "C" void __sanitizer_report_error_summary(const char *summary) __attribute__((weak));

void check(bool ok, const char *what, const char *file, int line) {
    if (ok) return;
    char text[512];
    std::snprintf(text, sizeof text, "%s:%d: property broken: %s", file, line, what);
    if (__sanitizer_report_error_summary != nullptr) {
        __sanitizer_report_error_summary(text);
    } else {
        std::fprintf(stderr, "%s\n", text);
    }
    std::abort();
}

const std::string &scratch_dir() {
    // Never destroyed, so that the exit handler that removes it can still read it.
    static const std::string *const dir = [] {
        const char *base = std::getenv("TMPDIR");
        auto *templ =
            new std::string(std::string(base && *base ? base : "/tmp") + "/pltfm-fuzz-XXXXXX");
        FUZZ_CHECK(::mkdtemp(templ->data()) != nullptr);
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(scratch_dir(), ec);
        });
        return templ;
    }();
    return *dir;
}

void write_file(const std::string &path, std::string_view bytes) {
    FILE *f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
    FUZZ_CHECK(std::fclose(f) == 0);
}

// One valid table of one row: port "1", lane "0", TX_EQ_MAIN "40".
constexpr std::string_view kBaselineFile =
    "VERSION,CABLE TYPE,VENDOR,,\n1.0,DAC_1M,GENERIC,,\n,,,SPEED,ENCODING\n"
    ",,,25G/100G,NRZ\nINDEX,FRONT PORT,LANE,TX_EQ_MAIN,TX_EQ_POST\n1,1,0,40,-8\n";

const std::string &tuning_dir_from(std::string_view text) {
    static const std::string dir = [] {
        const std::string d = scratch_dir() + "/tuning";
        fs::create_directory(d);
        return d;
    }();
    constexpr std::string_view kSplit = "\n=====\n";
    const std::size_t at = text.find(kSplit);
    // Names of six characters or more: shorter ones are not tuning files.
    write_file(dir + "/tune_a.csv", text.substr(0, at));
    if (at == std::string_view::npos) {
        std::remove((dir + "/tune_b.csv").c_str());
    } else {
        write_file(dir + "/tune_b.csv", text.substr(at + kSplit.size()));
    }
    return dir;
}

const std::string &baseline_dir() {
    static const std::string dir = [] {
        const std::string d = scratch_dir() + "/baseline";
        fs::create_directory(d);
        write_file(d + "/base.csv", kBaselineFile);
        return d;
    }();
    return dir;
}

namespace {

void check_key(const pltfm_attr_t &attr, pltfm_attr_type_t level_key) {
    FUZZ_CHECK(attr.key == level_key);
    const std::size_t len = ::strnlen(attr.value, sizeof attr.value);
    FUZZ_CHECK(len < sizeof attr.value);
    for (std::size_t i = 0; i < len; ++i)
        FUZZ_CHECK(!(attr.value[i] >= 'a' && attr.value[i] <= 'z'));
}

// Every entry of a list has its level's key and a text no sibling has.
template <class Entry, class Next, class Visit>
void check_list(const Entry *head, pltfm_attr_type_t level_key, Next next, Visit visit) {
    std::set<std::string> seen;
    for (const Entry *e = head; e != nullptr; e = next(e)) {
        check_key(e->attr, level_key);
        FUZZ_CHECK(seen.insert(e->attr.value).second);
        visit(e);
    }
}

}  // namespace

std::size_t check_tree(const database::Tree &tree) {
    std::size_t rows = 0;
    check_list(
        tree.serdes_db_p, PLTFM_ATTR_CABLE_TYPE, [](auto *e) { return e->cte_next_p; },
        [&](const pi_cable_type_entry_t *c) {
            check_list(
                c->vendor_name_p, PLTFM_ATTR_VENDOR, [](auto *e) { return e->vne_next_p; },
                [&](const pi_vendor_name_entry_t *v) {
                    check_list(
                        v->lane_speed_p, PLTFM_ATTR_SPEED, [](auto *e) { return e->lse_next_p; },
                        [&](const pi_lane_speed_entry_t *s) {
                            check_list(
                                s->encoding_p, PLTFM_ATTR_ENCODING,
                                [](auto *e) { return e->ee_next_p; },
                                [&](const pi_encoding_entry_t *en) {
                                    check_list(
                                        en->front_panel_port_p, PLTFM_ATTR_FRONT_PORT,
                                        [](auto *e) { return e->fppe_next_p; },
                                        [&](const pi_front_panel_port_entry_t *p) {
                                            FUZZ_CHECK(p->lane_p != nullptr);
                                            check_list(
                                                p->lane_p, PLTFM_ATTR_LANE,
                                                [](auto *e) { return e->le_next_p; },
                                                [&](const pi_lane_entry_t *l) {
                                                    // The loader adds a list to every lane.
                                                    FUZZ_CHECK(l->serdes_attr_p != nullptr);
                                                    FUZZ_CHECK(l->serdes_attr_count >= 2);
                                                    FUZZ_CHECK(std::memcmp(&l->serdes_attr_p[0],
                                                                           &l->attr,
                                                                           sizeof l->attr) == 0);
                                                    ++rows;
                                                });
                                        });
                                });
                        });
                });
        });
    return rows;
}

std::string baseline_lookup() {
    pltfm_attr_t keys[7] = {{PLTFM_ATTR_VENDOR, "GENERIC"}, {PLTFM_ATTR_CABLE_TYPE, "DAC_1M"},
                            {PLTFM_ATTR_SPEED, "25G/100G"}, {PLTFM_ATTR_ENCODING, "NRZ"},
                            {PLTFM_ATTR_FRONT_PORT, "1"},   {PLTFM_ATTR_NUM_LANES, "1"},
                            {PLTFM_ATTR_LANE, "0"}};
    pltfm_attr_t out[280];
    uint32_t count = 280;
    const pltfm_status_t rc = pltfm_parser_database_get(keys, 7, out, &count);
    if (rc != PLTFM_SUCCESS) return "rc " + std::to_string(rc);
    return count >= 2 ? out[1].value : "short";
}

}  // namespace pltfm::fuzz

#include "alloc.h"
#include "database_reload.h"

namespace pltfm::fuzz {

namespace {

// Status of a load with the fail_at-th allocation failing, and whether that failure fired.
struct Armed {
    pltfm_status_t rc;
    bool fired;
};
template <class Load>
Armed armed(unsigned long fail_at, Load load) {
    mem::fail_nth_allocation(fail_at);
    const pltfm_status_t rc = load();
    const bool fired = fail_at != 0 && mem::allocation_count() >= fail_at;
    mem::fail_nth_allocation(0);
    if (fired) FUZZ_CHECK(rc == PLTFM_MEMORY);  // never swallowed, never misreported
    return {rc, fired};
}

bool is_load_status(pltfm_status_t rc) {
    return rc == PLTFM_SUCCESS || rc == PLTFM_NOTFOUND || rc == PLTFM_INVAL || rc == PLTFM_CONFIG ||
           rc == PLTFM_EXIST || rc == PLTFM_MEMORY;
}

// Looks every port of the tree up over all its lanes: the blocks come back whole and in order.
void lookup_every_port(const database::Tree &tree) {
    for (auto *c = tree.serdes_db_p; c; c = c->cte_next_p)
        for (auto *v = c->vendor_name_p; v; v = v->vne_next_p)
            for (auto *s = v->lane_speed_p; s; s = s->lse_next_p)
                for (auto *e = s->encoding_p; e; e = e->ee_next_p)
                    for (auto *p = e->front_panel_port_p; p; p = p->fppe_next_p) {
                        uint64_t total = 0, lanes = 0;
                        for (auto *l = p->lane_p; l; l = l->le_next_p, ++lanes)
                            total += l->serdes_attr_count;
                        const pltfm_attr_t keys[7] = {v->attr,
                                                      c->attr,
                                                      s->attr,
                                                      e->attr,
                                                      p->attr,
                                                      {PLTFM_ATTR_NUM_LANES, {}},
                                                      {PLTFM_ATTR_LANE, "0"}};
                        pltfm_attr_t key_list[7];
                        std::memcpy(key_list, keys, sizeof keys);
                        std::snprintf(key_list[5].value, sizeof key_list[5].value, "%llu",
                                      static_cast<unsigned long long>(lanes));
                        pltfm_attr_t out[280];
                        uint32_t count = 280;
                        const pltfm_status_t rc =
                            database::pi_database_get(tree, key_list, 7, out, &count);
                        FUZZ_CHECK(count == (total > UINT32_MAX ? UINT32_MAX : total));
                        FUZZ_CHECK(rc == (total <= 280 ? PLTFM_SUCCESS : PLTFM_LENGTH_MISMATCH));
                        if (rc == PLTFM_SUCCESS) {
                            FUZZ_CHECK(std::memcmp(&out[0], &p->lane_p->attr, sizeof out[0]) == 0);
                        }
                    }
}

}  // namespace

void exercise_loader(std::string_view text, unsigned long fail_at) {
    // Once: a valid file written the way inputs are must load, or every input would only
    // exercise the path of a missing directory.
    static const bool setup_loads = [] {
        database::Tree tree;
        const pltfm_status_t rc =
            database::pi_database_init(tree, tuning_dir_from(kBaselineFile).c_str());
        database::discard(tree);
        return rc == PLTFM_SUCCESS;
    }();
    FUZZ_CHECK(setup_loads);

    const std::string &dir = tuning_dir_from(text);

    database::Tree tree;
    const Armed load =
        armed(fail_at, [&] { return database::pi_database_init(tree, dir.c_str()); });
    FUZZ_CHECK(is_load_status(load.rc));
    if (load.rc != PLTFM_SUCCESS) {
        FUZZ_CHECK(tree.serdes_db_p == nullptr);  // a failed load leaves no tree
    } else {
        check_tree(tree);
        lookup_every_port(tree);
    }

    // The reload swaps a good load in and leaves the live tree alone otherwise.
    FUZZ_CHECK(database::reload(baseline_dir().c_str()) == PLTFM_SUCCESS);
    const std::string before = baseline_lookup();
    FUZZ_CHECK(before == "40");
    const Armed reload = armed(fail_at, [&] { return database::reload(dir.c_str()); });
    if (!load.fired && !reload.fired) FUZZ_CHECK(reload.rc == load.rc);  // same files
    if (reload.rc != PLTFM_SUCCESS) {
        FUZZ_CHECK(baseline_lookup() == before);
    } else if (load.rc == PLTFM_SUCCESS) {
        FUZZ_CHECK(check_tree(database::live_tree()) == check_tree(tree));
    }

    const bool live = database::live_tree().serdes_db_p != nullptr;
    FUZZ_CHECK(pltfm_parser_database_deinit() == (live ? PLTFM_SUCCESS : PLTFM_UNINIT));
    FUZZ_CHECK(database::live_tree().serdes_db_p == nullptr);
    database::discard(tree);
}

}  // namespace pltfm::fuzz
