// Loads a directory of tuning files into a tuning tree: count the files, list them, check
// the shape of every file, then read every file line by line and add its rows. Nothing is
// stored until all files passed the check; every allocation is released on every path.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "alloc.h"
#include "line_reader.h"
#include "log.h"
#include "pi_csvfile_internal.h"

// Key words of the header lines, compared and printed through these pointers.
extern "C" {
const char *pi_key_name_cable_type_p = "CABLE TYPE";
const char *pi_key_name_vendor_p = "VENDOR";
const char *pi_key_name_speed_p = "SPEED";
const char *pi_key_name_encoding_p = "ENCODING";
const char *pi_key_name_front_port_p = "FRONT PORT";
const char *pi_key_name_lane_p = "LANE";
}

namespace pltfm::csv {

namespace {

template <class T, auto Fn>
struct Deleter {
    void operator()(T *p) const noexcept { Fn(p); }
};
void close_dir(DIR *d) noexcept {
    ::closedir(d);
}
using dir_ptr = std::unique_ptr<DIR, Deleter<DIR, close_dir>>;

// An open file descriptor, closed when it goes.
class FileDescriptor {
  public:
    explicit FileDescriptor(const char *path) noexcept : fd_(::open(path, O_RDONLY | O_CLOEXEC)) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    explicit operator bool() const noexcept { return fd_ >= 0; }
    int get() const noexcept { return fd_; }

  private:
    int fd_;
};

// A read error must not pass for the end of the file: the rest would be silently lost.
pltfm_status_t report_read_error(const char *func, const char *path, int error) noexcept {
    if (error == ENOMEM) {
        PLTFM_LOG_AS(func, "malloc failed");
        return PLTFM_MEMORY;
    }
    PLTFM_LOG_AS(func, "cannot read file %s", path);
    return PLTFM_NOTFOUND;
}

// Closes the directory and reports a failure to do so.
pltfm_status_t close_listing(dir_ptr dir, const char *func, const char *dir_path_p) noexcept {
    if (::closedir(dir.release()) != 0) {
        PLTFM_LOG_AS(func, "cannot close directory %s after reading", dir_path_p);
        return PLTFM_NOTFOUND;
    }
    return PLTFM_SUCCESS;
}

// The file list with every path it holds; freed as a whole.
struct FileList {
    pi_csv_file_entry_t *entries = nullptr;
    int32_t count = 0;
    ~FileList() {
        for (int32_t i = 0; entries != nullptr && i < count; ++i)
            mem::release(entries[i].file_path_p);
        mem::release(entries);
    }
};

}  // namespace

bool is_tuning_file_name(const char *name) noexcept {
    const std::size_t len = std::strlen(name);
    return len >= 6 && ::strcasecmp(name + len - 4, ".CSV") == 0;
}

bool is_tuning_file_entry(const dirent *entry) noexcept {
    return entry->d_type == DT_REG && is_tuning_file_name(entry->d_name);
}

pltfm_status_t pi_csv_file_get_count(const char *dir_path_p, int32_t *file_count_p) noexcept {
    dir_ptr dir(dir_path_p != nullptr ? ::opendir(dir_path_p) : nullptr);
    if (!dir) {
        PLTFM_LOG("cannot open directory %s for reading", dir_path_p ? dir_path_p : "(null)");
        return PLTFM_NOTFOUND;
    }
    int32_t count = 0;
    while (const dirent *entry = ::readdir(dir.get())) {
        if (is_tuning_file_entry(entry)) ++count;
    }
    const pltfm_status_t rc = close_listing(std::move(dir), __func__, dir_path_p);
    if (rc != PLTFM_SUCCESS) return rc;
    *file_count_p = count;
    return PLTFM_SUCCESS;
}

pltfm_status_t pi_csv_file_get_list(const char *dir_path_p, int32_t file_count,
                                    pi_csv_file_entry_t *csv_file_list_p) noexcept {
    dir_ptr dir(::opendir(dir_path_p));
    if (!dir) {
        PLTFM_LOG("cannot open directory %s for reading", dir_path_p);
        return PLTFM_NOTFOUND;
    }
    int32_t filled = 0;
    while (const dirent *entry = ::readdir(dir.get())) {
        if (!is_tuning_file_entry(entry)) continue;
        if (filled == file_count) {
            // Created after the count: left for the next load, not an error.
            PLTFM_LOG("unexpected new csv file %s found after starting parsing", entry->d_name);
            break;
        }
        const std::size_t size = std::strlen(dir_path_p) + std::strlen(entry->d_name) + 3;
        auto *path = static_cast<char *>(mem::alloc_zeroed(size, 1));
        if (path == nullptr) {
            PLTFM_LOG("malloc failed");
            return PLTFM_MEMORY;  // dir closes on return
        }
        std::snprintf(path, size, "%s/%s", dir_path_p, entry->d_name);
        csv_file_list_p[filled++].file_path_p = path;
    }
    const pltfm_status_t rc = close_listing(std::move(dir), __func__, dir_path_p);
    if (rc != PLTFM_SUCCESS) return rc;
    if (filled < file_count) {
        PLTFM_LOG(
            "some csv files are missing after starting parsing. expected file count %d, "
            "actual file count %d",
            file_count, filled);
        return PLTFM_INVAL;
    }
    for (int32_t i = 0; i < file_count; ++i) {
        pi_csv_file_entry_t &file = csv_file_list_p[i];
        const pltfm_status_t check =
            pi_csv_file_check(file.file_path_p, &file.column_count, &file.line_count);
        if (check != PLTFM_SUCCESS) {
            PLTFM_LOG("error found during initial check of file %s. rc %d", file.file_path_p,
                      check);
            return check;
        }
    }
    return PLTFM_SUCCESS;
}

pltfm_status_t pi_csv_file_check(const char *file_path_p, int32_t *actual_column_count_p,
                                 int32_t *actual_line_count_p) noexcept {
    const FileDescriptor file(file_path_p);
    if (!file) {
        PLTFM_LOG("cannot open file %s for reading", file_path_p);
        return PLTFM_NOTFOUND;
    }
    *actual_column_count_p = 0;
    *actual_line_count_p = 0;
    LineReader reader(file.get());
    while (reader.next()) {
        const int32_t line_no = ++*actual_line_count_p;
        const pltfm_status_t rc =
            line_no == 1 ? pi_csv_line_1_check(reader.line(), actual_column_count_p)
                         : pi_csv_line_n_check(reader.line(), line_no, *actual_column_count_p,
                                               actual_column_count_p);
        if (rc != PLTFM_SUCCESS) {
            PLTFM_LOG("line %d in file %s is invalid, rc %d", line_no, file_path_p, rc);
            return rc;
        }
    }
    if (reader.error() != 0) return report_read_error(__func__, file_path_p, reader.error());
    return PLTFM_SUCCESS;
}

void FilePass::ValueListFree::operator()(pltfm_attr_t *p) const noexcept {
    mem::release(p);
}

FilePass::FilePass(int32_t expected_column_count, uint32_t file) noexcept
    : columns_(expected_column_count), file_(file) {
    const std::size_t columns = expected_column_count > 0 ? expected_column_count : 0;
    allocated_ = csv_line_.allocate(0, expected_column_count) &&
                 csv_line_3_.allocate(3, expected_column_count) &&
                 csv_line_4_.allocate(4, expected_column_count) &&
                 groups_.allocate(expected_column_count);
    data_line_.allocate(expected_column_count);
    if (allocated_) {
        value_list_.reset(
            static_cast<pltfm_attr_t *>(mem::alloc_zeroed(columns, sizeof(pltfm_attr_t))));
        allocated_ = value_list_ != nullptr;
    }
    key_list_[PI_KEY_IDX_CABLE_TYPE].key = PLTFM_ATTR_CABLE_TYPE;
    key_list_[PI_KEY_IDX_VENDOR].key = PLTFM_ATTR_VENDOR;
    key_list_[PI_KEY_IDX_SPEED].key = PLTFM_ATTR_SPEED;
    key_list_[PI_KEY_IDX_ENCODING].key = PLTFM_ATTR_ENCODING;
    key_list_[PI_KEY_IDX_FRONT_PORT].key = PLTFM_ATTR_FRONT_PORT;
    key_list_[PI_KEY_IDX_LANE].key = PLTFM_ATTR_LANE;
}

pltfm_status_t FilePass::next_line(database::Tree &tree, const char *line) noexcept {
    const int32_t n = columns_;
    const int32_t line_no = ++csv_line_.get()->line_no;
    switch (line_no) {
        case 1:
            return pi_csv_line_1_process(line, n, csv_line_);
        case 2:
            return pi_csv_line_2_process(line, n, csv_line_, key_list_);
        case 3:
            return pi_csv_line_3_process(line, n, csv_line_3_);
        case 4: {
            const pltfm_status_t rc = pi_csv_line_4_process(line, n, csv_line_4_, csv_line_3_);
            if (rc == PLTFM_SUCCESS) groups_.build(n, csv_line_3_, csv_line_4_);
            return rc;
        }
        case 5:
            return pi_csv_line_5_process(line, n, csv_line_, value_list_.get());
        default:
            return pi_csv_line_n_process(tree, line, line_no, n, data_line_, key_list_,
                                         value_list_.get(), groups_, file_);
    }
}

pltfm_status_t pi_csv_file_process(database::Tree &tree, const char *file_path_p,
                                   int32_t expected_column_count, uint32_t file_index) noexcept {
    FilePass pass(expected_column_count, file_index);
    if (!pass.allocated()) {
        PLTFM_LOG("malloc failed");
        return PLTFM_MEMORY;
    }
    const FileDescriptor file(file_path_p);
    if (!file) {
        PLTFM_LOG("cannot open file %s for reading", file_path_p);
        return PLTFM_NOTFOUND;
    }
    LineReader reader(file.get());
    while (reader.next()) {
        const pltfm_status_t rc = pass.next_line(tree, reader.line());
        if (rc != PLTFM_SUCCESS) {
            PLTFM_LOG("line %d in file %s is invalid, rc %d", pass.line_no(), file_path_p, rc);
            return rc;
        }
    }
    if (reader.error() != 0) return report_read_error(__func__, file_path_p, reader.error());
    return PLTFM_SUCCESS;
}

pltfm_status_t pi_csv_file_process_all(database::Tree &tree, int32_t file_count,
                                       const pi_csv_file_entry_t *csv_file_list_p) noexcept {
    // The rows remember their file by its index in this list.
    if (!database::set_files(tree, csv_file_list_p, static_cast<uint32_t>(file_count)))
        return PLTFM_MEMORY;
    for (int32_t i = 0; i < file_count; ++i) {
        const pltfm_status_t rc =
            pi_csv_file_process(tree, csv_file_list_p[i].file_path_p,
                                csv_file_list_p[i].column_count, static_cast<uint32_t>(i));
        if (rc != PLTFM_SUCCESS) return rc;
    }
    return PLTFM_SUCCESS;
}

pltfm_status_t pi_csv_file_parse_all(database::Tree &tree, const char *dir_path_p) noexcept {
    int32_t file_count = 0;
    pltfm_status_t rc = pi_csv_file_get_count(dir_path_p, &file_count);
    if (rc != PLTFM_SUCCESS) return rc;
    if (file_count == 0) {
        PLTFM_LOG("no csv file found in directory %s", dir_path_p);
        return PLTFM_NOTFOUND;
    }
    FileList list;
    list.entries = static_cast<pi_csv_file_entry_t *>(
        mem::alloc_zeroed(static_cast<std::size_t>(file_count), sizeof(pi_csv_file_entry_t)));
    if (list.entries == nullptr) {
        PLTFM_LOG("malloc failed");
        return PLTFM_MEMORY;
    }
    list.count = file_count;
    rc = pi_csv_file_get_list(dir_path_p, file_count, list.entries);
    if (rc != PLTFM_SUCCESS) return rc;
    return pi_csv_file_process_all(tree, file_count, list.entries);
}

}  // namespace pltfm::csv

extern "C" pltfm_status_t pi_csv_file_parse_all(const char *dir_path_p) {
    return pltfm::csv::pi_csv_file_parse_all(pltfm::database::live_tree(), dir_path_p);
}
