// Reading a tuning directory line by line through the loader's own passes: each data line is
// processed into a scratch tree of its own, whose rows are then the line's rows.
#include "tuning_rows.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>

#include "alloc.h"
#include "pi_csvfile_internal.h"
#include "stderr_capture.h"

namespace pltfm::tuning {

namespace {

// Collects the rows of a tree that the comparison against an empty tree reports as added.
class RowCollector final : public database::RowDiffSink {
  public:
    RowCollector(std::vector<TuningRow> &out, const std::string &file, int line)
        : out_(out), file_(file), line_(line) {}
    void row(database::RowChange, const database::RowKeys &keys, const pi_lane_entry_t *,
             const pi_lane_entry_t *after) override {
        out_.push_back({row_key(keys), row_values(*after), file_, line_});
    }

  private:
    std::vector<TuningRow> &out_;
    const std::string &file_;
    int line_;
};

// Reads one listed file with the loader's second pass; stops at the first refused line.
pltfm_status_t read_file(const pi_csv_file_entry_t &entry, std::vector<TuningRow> &out) {
    const std::string file = entry.file_path_p;
    csv::FilePass pass(entry.column_count, 0);
    if (!pass.allocated()) return PLTFM_MEMORY;
    std::ifstream in(file);
    if (!in) return PLTFM_NOTFOUND;
    const database::Tree empty;
    for (std::string line; std::getline(in, line);) {
        database::Tree scratch;
        const pltfm_status_t rc = pass.next_line(scratch, line.c_str());
        if (rc == PLTFM_SUCCESS) {
            RowCollector collect(out, file, pass.line_no());
            try {
                database::compare_trees(empty, scratch, collect);
            } catch (...) {
                database::discard(scratch);
                throw;
            }
        }
        database::discard(scratch);
        if (rc != PLTFM_SUCCESS) return rc;
    }
    return PLTFM_SUCCESS;
}

struct DirCloser {
    void operator()(DIR *d) const { ::closedir(d); }
};

std::string skip_reason(const std::string &dir, const dirent &entry) {
    const std::string path = dir + "/" + entry.d_name;
    if (std::strlen(entry.d_name) < 6)
        return "the name is shorter than 6 characters, so the loader does not count it as a "
               "tuning file";
    switch (entry.d_type) {
        case DT_LNK: {
            struct stat target {};
            const bool resolves = ::stat(path.c_str(), &target) == 0;
            return std::string("a symbolic link") +
                   (resolves ? (S_ISREG(target.st_mode) ? " to a regular file" : "")
                             : " that leads nowhere") +
                   "; the loader reads regular files only and skips it";
        }
        case DT_DIR:
            return "a directory; the loader reads regular files only and skips it";
        case DT_UNKNOWN:
            return "the file system does not tell the entry's type; the loader reads only "
                   "entries listed as regular files and skips it";
        default:
            return "not a regular file; the loader skips it";
    }
}

}  // namespace

RowKey row_key(const database::RowKeys &keys) {
    return {keys.text[0], keys.text[1], keys.text[2], keys.text[3], keys.text[4], keys.text[5]};
}

std::vector<RowValue> row_values(const pi_lane_entry_t &lane) {
    std::vector<RowValue> out;
    for (uint32_t i = 1; lane.serdes_attr_p != nullptr && i < lane.serdes_attr_count; ++i) {
        const pltfm_attr_t &a = lane.serdes_attr_p[i];
        out.push_back({static_cast<uint32_t>(a.key),
                       std::string(a.value, ::strnlen(a.value, sizeof a.value))});
    }
    return out;
}

TuningRows read_tuning_rows(const std::string &dir) {
    TuningRows out;
    tools::StderrCapture capture;
    int32_t count = 0;
    out.status = csv::pi_csv_file_get_count(dir.c_str(), &count);
    if (out.status == PLTFM_SUCCESS && count == 0) out.status = PLTFM_NOTFOUND;
    if (out.status == PLTFM_SUCCESS) {
        std::vector<pi_csv_file_entry_t> list(static_cast<std::size_t>(count));
        out.status = csv::pi_csv_file_get_list(dir.c_str(), count, list.data());
        for (std::size_t i = 0; out.status == PLTFM_SUCCESS && i < list.size(); ++i) {
            out.files.emplace_back(list[i].file_path_p);
            out.status = read_file(list[i], out.rows);
        }
        for (auto &entry : list) mem::release(entry.file_path_p);
    }
    out.messages = capture.finish();
    return out;
}

std::vector<SkippedEntry> skipped_entries(const std::string &dir) {
    std::vector<SkippedEntry> out;
    std::unique_ptr<DIR, DirCloser> listing(::opendir(dir.c_str()));
    if (!listing) return out;
    while (const dirent *entry = ::readdir(listing.get())) {
        const std::size_t len = std::strlen(entry->d_name);
        if (len < 4 || ::strcasecmp(entry->d_name + len - 4, ".csv") != 0) continue;
        if (csv::is_tuning_file_entry(entry)) continue;
        out.push_back({entry->d_name, skip_reason(dir, *entry)});
    }
    std::sort(out.begin(), out.end(),
              [](const SkippedEntry &a, const SkippedEntry &b) { return a.name < b.name; });
    return out;
}

}  // namespace pltfm::tuning
