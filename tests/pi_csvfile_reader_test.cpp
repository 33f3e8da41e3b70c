// The tuning loader's line reader against a plain split of the same bytes: lines crossing the
// buffer's end, a CR LF pair split by it, a last line ending exactly at it, files of exactly
// its size, lines longer than it, short reads, read errors and a buffer that cannot grow.
// Then seeded random tuning files of 100 kB to 1 MB, read line by line and loaded whole: the
// loaded tree must hold exactly the rows the tests' own plain reading of the files finds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "alloc.h"
#include "attr_names.h"
#include "line_reader.h"
#include "pi_csvfile_internal.h"
#include "platform_database.h"
#include "test_util.h"
#include "tuning_reference.h"

namespace pltfm::test {
namespace {

using Lines = std::vector<std::string>;

// The lines any reader must hand out: the text between line feeds, where a final line feed
// ends the last line instead of starting an empty one.
Lines plain_split(std::string_view text) {
    Lines lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t lf = std::min(text.find('\n', start), text.size());
        lines.emplace_back(text.substr(start, lf - start));
        start = lf + 1;
    }
    return lines;
}

struct Read {
    Lines lines;
    int error = 0;
};

Read read_fd(int fd, std::size_t first_size) {
    csv::LineReader reader(fd, first_size);
    Read r;
    while (reader.next()) r.lines.emplace_back(reader.line());
    r.error = reader.error();
    return r;
}

Read read_path(const std::string &path, std::size_t first_size) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0) << path;
    Read r = read_fd(fd, first_size);
    ::close(fd);
    return r;
}

// Shows a line in a failure message: its length and its ends.
std::string shown(const std::string &line) {
    if (line.size() <= 60) return "\"" + line + "\"";
    return std::to_string(line.size()) + " bytes \"" + line.substr(0, 25) + "..." +
           line.substr(line.size() - 25) + "\"";
}

// The first line where the reader and the plain split differ, empty when none.
std::string first_difference(const Lines &got, const Lines &want) {
    for (std::size_t i = 0; i < std::max(got.size(), want.size()); ++i) {
        if (i < got.size() && i < want.size() && got[i] == want[i]) continue;
        return "line " + std::to_string(i + 1) + ": read " +
               (i < got.size() ? shown(got[i]) : "nothing") + ", expected " +
               (i < want.size() ? shown(want[i]) : "nothing");
    }
    return "";
}

// ---- the reader on its own ----

// Shapes around a buffer of 16 bytes; every one is also read with every other small buffer,
// so each shape meets the buffer's end at every offset.
TEST(LineReader, LinesAroundTheBufferEnd) {
    const std::string d15(15, 'd'), d16(16, 'd');
    const struct {
        const char *what;
        std::string text;
    } cases[] = {
        {"line crossing the end", "0123456789\nabcdefghij\nklm\n"},
        {"line feed as the buffer's last byte", d15 + "\nnext\n"},
        {"line feed as the first byte after it", d16 + "\nnext\n"},
        {"CR LF split by the end", "abcdefghijklmno\r\nxyz\r\n"},
        {"CR LF lines throughout", "ab\r\ncd\r\n\r\nef\r\n"},
        {"last line without line feed ending at the end", "abc\n0123456789ab"},
        {"file of exactly the buffer, line feed last", d15 + "\n"},
        {"file of exactly the buffer, no line feed", d16},
        {"line longer than the buffer",
         std::string(100, 'x') + "\n" + std::string(40, 'y') + "\ntail"},
        {"only line feeds", "\n\n\n"},
        {"empty file", ""},
        {"one character", "a"},
        {"NUL inside a line", std::string("ab\0cd\nef", 8)},
    };
    TempDir dir;
    for (const auto &c : cases) {
        write_file(dir / "f", c.text);
        Lines want = plain_split(c.text);
        for (std::string &l : want) l = l.c_str();        // a line reads up to its first NUL
        for (std::size_t size = 0; size <= 40; ++size) {  // 0 asks for the smallest buffer
            const Read r = read_path(dir / "f", size);
            const std::string diff = first_difference(r.lines, want);
            EXPECT_EQ(r.error, 0) << c.what << ", buffer of " << size << " bytes";
            EXPECT_EQ(diff, "") << c.what << ", buffer of " << size << " bytes";
            if (r.error != 0 || !diff.empty()) break;
        }
    }
}

// A pipe hands over whatever was written so far: lines arrive in pieces of any size.
TEST(LineReader, ShortReadsFromAPipe) {
    std::mt19937 rng(7);
    std::string text;
    for (int i = 0; i < 400; ++i) {
        text += std::string(rng() % 90, static_cast<char>('a' + i % 26));
        text += rng() % 3 == 0 ? "\r\n" : "\n";
    }
    text += "last";
    for (const std::size_t size :
         {std::size_t{8}, std::size_t{64}, csv::LineReader::kDefaultBufferBytes}) {
        int fds[2];
        ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        std::thread writer([&text, w = fds[1], seed = size] {
            std::mt19937 pieces(static_cast<unsigned>(seed));
            for (std::size_t at = 0; at < text.size();) {
                const std::size_t n = std::min<std::size_t>(1 + pieces() % 97, text.size() - at);
                const ssize_t put = ::write(w, text.data() + at, n);
                if (put <= 0) break;
                at += static_cast<std::size_t>(put);
                if (pieces() % 4 == 0) std::this_thread::yield();
            }
            ::close(w);
        });
        const Read r = read_fd(fds[0], size);
        writer.join();
        ::close(fds[0]);
        EXPECT_EQ(r.error, 0);
        EXPECT_EQ(first_difference(r.lines, plain_split(text)), "") << "buffer " << size;
    }
}

TEST(LineReader, ReadErrorsAndABufferThatCannotGrowEndTheLines) {
    TempDir dir;
    {  // a directory opens but cannot be read
        const int fd = ::open(dir.path().c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const Read r = read_fd(fd, 16);
        ::close(fd);
        EXPECT_TRUE(r.lines.empty());
        EXPECT_EQ(r.error, EISDIR);
    }
    write_file(dir / "f", "short\n" + std::string(50, 'l') + "\nafter\n");
    {  // the first buffer
        mem::fail_nth_allocation(1);
        const Read r = read_path(dir / "f", 16);
        mem::fail_nth_allocation(0);
        EXPECT_TRUE(r.lines.empty());
        EXPECT_EQ(r.error, ENOMEM);
    }
    {  // growing for the long line: what came before it was handed out whole
        mem::fail_nth_allocation(2);
        const Read r = read_path(dir / "f", 16);
        mem::fail_nth_allocation(0);
        EXPECT_EQ(r.lines, Lines{"short"});
        EXPECT_EQ(r.error, ENOMEM);
    }
    // The loader reports either as a failure, never as the end of the file.
    LogCapture log;
    int32_t columns = 0, lines = 0;
    EXPECT_EQ(csv::pi_csv_file_check(dir.path().c_str(), &columns, &lines), PLTFM_NOTFOUND);
    database::Tree tree;
    EXPECT_EQ(csv::pi_csv_file_process(tree, dir.path().c_str(), 5), PLTFM_NOTFOUND);
    EXPECT_TRUE(log.contains("pi_csv_file_check: cannot read file " + dir.path() + "\n"));
    EXPECT_TRUE(log.contains("pi_csv_file_process: cannot read file " + dir.path() + "\n"));
    EXPECT_EQ(tree.serdes_db_p, nullptr);
}

// ---- seeded random tuning files ----

// Column names a group may use: every attribute but the three of a line's own keys.
std::vector<std::string> group_names() {
    std::vector<std::string> names;
    for (const AttrName &a : kAttrNames)
        if (a.name != "INDEX" && a.name != "FRONT PORT" && a.name != "LANE")
            names.emplace_back(a.name);
    return names;
}

// A valid tuning file of at least `bytes` bytes. Narrow files have up to six groups of the
// usual speeds and short lines; wide ones have 30 groups of 33 columns whose cells are padded
// with blanks, so that every line after line 4 is longer than the reader's usual buffer.
// Line ends are LF, CR LF or either at random; the last line may lack its line feed.
std::string random_tuning_file(std::mt19937 &rng, std::size_t bytes, const std::string &vendor,
                               bool wide) {
    auto pick = [&rng](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    static const std::vector<std::string> all_names = group_names();
    struct Group {
        std::string speed, encoding;
        std::vector<std::string> names;
    };
    std::vector<Group> groups;
    if (wide) {
        for (int g = 0; g < 30; ++g)
            groups.push_back({"S" + std::to_string(g), pick(2) ? "PAM4" : "NRZ", all_names});
    } else {
        std::vector<std::pair<std::string, std::string>> kinds;
        for (const char *speed : {"10G/40G", "25G/100G", "50G/400G"})
            for (const char *encoding : {"NRZ", "PAM4"}) kinds.emplace_back(speed, encoding);
        std::shuffle(kinds.begin(), kinds.end(), rng);
        kinds.resize(1 + pick(kinds.size()));
        for (const auto &[speed, encoding] : kinds) {
            std::vector<std::string> names = all_names;
            std::shuffle(names.begin(), names.end(), rng);
            names.resize(2 + pick(names.size() - 1));
            groups.push_back({speed, encoding, names});
        }
    }
    const int ends = static_cast<int>(pick(3));  // LF, CR LF, either
    auto end_of_line = [&] { return ends == 0 || (ends == 2 && pick(2)) ? "\n" : "\r\n"; };
    // A cell text padded with blanks to at most 80 characters (wide files: at least 60).
    auto padded = [&](const std::string &text) {
        const std::size_t room = 80 - text.size();
        const std::size_t pad = wide ? room - pick(21) : pick(4) == 0 ? pick(room + 1) : 0;
        const std::size_t before = pick(pad + 1);
        return std::string(before, ' ') + text + std::string(pad - before, ' ');
    };
    auto value = [&]() -> std::string {
        static const char *const words[] = {"low", "MEDIUM", "High", "true", "FALSE", "0x1F"};
        switch (pick(4)) {
            case 0:
                return words[pick(std::size(words))];
            case 1:
                return std::string(1 + pick(23), static_cast<char>('A' + pick(26)));
            default:
                return std::to_string(static_cast<int>(pick(2001)) - 1000);
        }
    };

    std::string header[5] = {"VERSION,CABLE TYPE,VENDOR", "1.0,OPTICS," + vendor, ",,", ",,",
                             "INDEX,FRONT PORT,LANE"};
    for (const Group &g : groups)
        for (std::size_t k = 0; k < g.names.size(); ++k) {
            header[0] += ",";
            header[1] += ",";
            header[2] += k == 0 ? ",SPEED" : k == 1 ? ",ENCODING" : ",";
            header[3] += k == 0 ? "," + g.speed : k == 1 ? "," + g.encoding : ",";
            header[4] += "," + (wide ? padded(g.names[k]) : g.names[k]);
        }
    std::string file;
    for (const std::string &h : header) file += h + end_of_line();
    const std::string separator(std::count(header[0].begin(), header[0].end(), ','), ',');
    int index = 0;
    for (int port = 0; file.size() < bytes; ++port) {
        const int lanes = 1 + static_cast<int>(pick(8));
        for (int lane = 0; lane < lanes && file.size() < bytes; ++lane) {
            std::string line = std::to_string(++index) + "," + padded(std::to_string(port)) + "," +
                               std::to_string(lane);
            for (const Group &g : groups)
                for (std::size_t k = 0; k < g.names.size(); ++k) line += "," + padded(value());
            file += line + end_of_line();
        }
        if (pick(16) == 0) file += separator + end_of_line();
    }
    if (pick(2)) file.erase(file.find_last_not_of("\r\n") + 1);
    return file;
}

// "cable|vendor|speed|encoding|front port|lane" -> column names and texts of every row of the
// tree, as the reference reading gives them.
Rows rows_of(const database::Tree &tree) {
    Rows rows;
    for (auto *c = tree.serdes_db_p; c; c = c->cte_next_p)
        for (auto *v = c->vendor_name_p; v; v = v->vne_next_p)
            for (auto *s = v->lane_speed_p; s; s = s->lse_next_p)
                for (auto *e = s->encoding_p; e; e = e->ee_next_p)
                    for (auto *p = e->front_panel_port_p; p; p = p->fppe_next_p)
                        for (auto *l = p->lane_p; l; l = l->le_next_p) {
                            LaneTuning &row =
                                rows[std::string(c->attr.value) + "|" + v->attr.value + "|" +
                                     s->attr.value + "|" + e->attr.value + "|" + p->attr.value +
                                     "|" + l->attr.value];
                            for (uint32_t i = 1; i < l->serdes_attr_count; ++i)
                                row.emplace_back(attr_name(l->serdes_attr_p[i].key),
                                                 l->serdes_attr_p[i].value);
                        }
    return rows;
}

std::string first_difference(const Rows &got, const Rows &want) {
    auto text = [](const LaneTuning &t) {
        std::string s;
        for (const auto &[name, value] : t) s += name + "=" + value + " ";
        return s;
    };
    for (const auto &[key, tuning] : want) {
        const auto it = got.find(key);
        if (it == got.end()) return "row " + key + " is missing";
        if (it->second != tuning)
            return "row " + key + ":\n  loaded:   " + text(it->second) +
                   "\n  expected: " + text(tuning);
    }
    for (const auto &[key, tuning] : got)
        if (!want.contains(key)) return "row " + key + " is not in the files";
    return "";
}

// Seeds 1 to 4: narrow files of each kind of line end, then a wide one; between 100 kB and
// 1 MB each. Every file is read line by line with the usual buffer and with a small one, and
// the directory of all of them is loaded through the facade.
TEST(LargeTuningFiles, ReadAndLoadedAsAPlainReadingFindsThem) {
    TempDir dir;
    std::size_t total = 0;
    for (unsigned seed = 1; seed <= 4; ++seed) {
        std::mt19937 rng(seed);
        const std::size_t bytes = 100'000 + rng() % 820'000;  // a wide line more stays below 1 MB
        const std::string path = dir / ("random-" + std::to_string(seed) + ".csv");
        const std::string text =
            random_tuning_file(rng, bytes, "VENDOR" + std::to_string(seed), seed == 4);
        write_file(path, text);
        total += text.size();
        for (const std::size_t size : {csv::LineReader::kDefaultBufferBytes, std::size_t{4096}}) {
            const Read r = read_path(path, size);
            EXPECT_EQ(r.error, 0);
            EXPECT_EQ(first_difference(r.lines, plain_split(text)), "")
                << "seed " << seed << ", " << text.size() << " bytes, buffer " << size;
        }
    }
    ASSERT_GT(total, 400'000u);

    const Rows want = read_rows(dir.path());
    ASSERT_GT(want.size(), 1000u);
    LogCapture log;
    ASSERT_EQ(pltfm_parser_database_init(dir.path().c_str()), PLTFM_SUCCESS) << log.text();
    EXPECT_EQ(first_difference(rows_of(database::live_tree()), want), "");
    EXPECT_EQ(pltfm_parser_database_deinit(), PLTFM_SUCCESS);
}

}  // namespace
}  // namespace pltfm::test
