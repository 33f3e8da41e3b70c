// The tools' HTML pages in a real browser: headless Chromium loads each page from a file with
// the network closed, and the DOM it built must hold the heatmap cells, holes, outliers,
// faceplate cages, timeline steps and port rows the data calls for, with no script error and
// no reference to anything outside the file. A screenshot of each page stays in the build
// tree (screenshots/).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tool_run.h"
#include "tuning_copy.h"

using namespace pltfm::test;

namespace {

const std::string kChromium = PLTFM_SOURCE_DIR "/tools/html/chromium.sh";
const std::string kPortConfig = PLTFM_EXAMPLES_DIR "/platform/port_config.ini";

std::size_t count(const std::string &text, const std::string &needle) {
    std::size_t n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + needle.size()))
        ++n;
    return n;
}

// `html` without the text of its script elements (the scripts spell the markup they draw).
std::string without_scripts(std::string html) {
    for (std::size_t at = html.find("<script"); at != std::string::npos;
         at = html.find("<script", at)) {
        const std::size_t end = html.find("</script>", at);
        html.erase(at, end == std::string::npos ? std::string::npos : end + 9 - at);
    }
    return html;
}

// The DOM Chromium built from `page`, without the scripts' own text; checks that the page
// was drawn without a script error and refers to nothing outside the file. A screenshot of
// its first `size` pixels goes to the build tree as screenshots/<name>.png.
std::string load(const std::string &page, const std::string &name, const std::string &size) {
    const std::string html = read_file(page);
    EXPECT_EQ(count(html, "http://") + count(html, "https://"), 0u) << page << " names a URL";

    TempDir dir;
    const int rc = std::system((shell_quote(kChromium) + " dom " + shell_quote(page) + " >" +
                                shell_quote(dir / "dom") + " 2>" + shell_quote(dir / "err"))
                                   .c_str());
    EXPECT_EQ(rc, 0) << read_file(dir / "err");
    const std::string dom = without_scripts(read_file(dir / "dom"));
    EXPECT_TRUE(has(dom, "<body data-rendered=\"yes\""));
    EXPECT_EQ(count(dom, "data-script-error"), 0u) << dom.substr(0, 600);
    EXPECT_EQ(count(dom, " src=") + count(dom, "href=\"http") + count(dom, "url(http"), 0u);

    const std::string shot = std::string(PLTFM_BINARY_DIR) + "/screenshots/" + name + ".png";
    make_dirs(std::string(PLTFM_BINARY_DIR) + "/screenshots");
    EXPECT_EQ(std::system((shell_quote(kChromium) + " shot " + shell_quote(page) + " " +
                           shell_quote(shot) + " " + size + " 2>" + shell_quote(dir / "err"))
                              .c_str()),
              0)
        << read_file(dir / "err");
    EXPECT_EQ(read_file(shot).substr(0, 8), "\x89PNG\r\n\x1a\n") << shot;
    return dom;
}

// Writes the report page of `dir` and returns its data (the --json document).
nlohmann::json write_report(const std::string &dir, const std::string &page, int exit_code,
                            const std::vector<std::string> &extra = {}) {
    std::vector<std::string> args = {"report", dir, "--html", page};
    args.insert(args.end(), extra.begin(), extra.end());
    const ToolRun r = run_tool("pltfmctl", args);
    EXPECT_EQ(r.exit_code, exit_code) << r.err;
    args.push_back("--json");
    return nlohmann::json::parse(run_tool("pltfmctl", args).out);
}

const std::vector<std::string> kCoverage = {"--port-config", kPortConfig, "--cable-types",
                                            "OPTICS,DAC_1M,DAC_3M"};

}  // namespace

TEST(HtmlPages, SampleReportDrawsEveryValueAndNoHole) {
    TempDir dir;
    const auto doc = write_report(kSampleDir, dir / "report.html", 0, kCoverage);
    const std::string dom = load(dir / "report.html", "report-sample", "1400x2200");
    // Every value cell of the files is a cell of a heatmap: 2388 rows of 13 or 14 values.
    EXPECT_EQ(count(dom, "<rect class=\"cell"), value_cells(kSampleDir));
    EXPECT_EQ(count(dom, "<rect class=\"cell\""), value_cells(kSampleDir));
    std::size_t maps = 0;
    for (const auto &g : doc["groups"]) maps += g["attributes"].size();
    EXPECT_EQ(count(dom, "class=\"map\""), maps);
    EXPECT_EQ(maps, 3 * (13 + 14 + 14) + 2 * 14 + 13);  // GENERIC, QUILLOPTIC, RJ45
    EXPECT_EQ(count(dom, "<rect class=\"cov ok\""), 48u * 3u);
    EXPECT_EQ(count(dom, "<rect class=\"cov hole\""), 0u);
    EXPECT_EQ(doc["counts"]["cells"], value_cells(kSampleDir));
    EXPECT_TRUE(has(dom, "no hole"));
}

TEST(HtmlPages, FlawedReportMarksTheHoleTheOutlierAndTheRepeatedPort) {
    TempDir dir;
    make_flawed_copy(dir / "CSV");
    write_report(dir / "CSV", dir / "report.html", 1, kCoverage);
    const std::string dom = load(dir / "report.html", "report-flawed", "1400x1800");
    const std::size_t maps = 13 + 14 + 14;  // attributes of a DAC cable's three classes
    EXPECT_EQ(count(dom, "<rect class=\"cell\""), value_cells(dir / "CSV") - 1);
    EXPECT_EQ(count(dom, "<rect class=\"cell hole\""), 8 * maps);  // DAC_1M port 5's lanes
    EXPECT_EQ(count(dom, "<rect class=\"cell outlier\""), 1u);
    EXPECT_EQ(count(dom, "class=\"lab dup\""), 2 * maps);   // DAC_3M front ports 12 and 13
    EXPECT_EQ(count(dom, "<rect class=\"cov hole\""), 2u);  // Ethernet40, Ethernet44
    EXPECT_EQ(count(dom, "No row for front port 5 lanes 0-7."), 3u);
    EXPECT_TRUE(has(dom, "repeated: front ports 12 = 13"));
}

TEST(HtmlPages, BrokenDirectoryShowsTheLoadersMessagesInsteadOfPictures) {
    TempDir dir;
    make_broken_copy(dir / "CSV");
    write_report(dir / "CSV", dir / "report.html", 1);
    const std::string dom = load(dir / "report.html", "report-broken", "1200x700");
    EXPECT_EQ(count(dom, "<rect class=\"cell"), 0u);
    EXPECT_TRUE(has(dom, "does not load"));
    EXPECT_TRUE(has(dom, "line 31 in file " + (dir / "CSV") + "/generic_dac_3m.csv is invalid"));
}

TEST(HtmlPages, SimulatedSwitchRunShowsCagesStepsAndPorts) {
    TempDir dir;
    const ToolRun r = run_tool(
        "pltfm-sim", {"--json", "--keep", "--html", dir / "run.html", "--log", dir / "lib.log"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    // The committed port_config.ini the report tests use is the simulated switch's.
    const std::string tree = doc["kept_tree"];
    EXPECT_EQ(read_file(tree + "/usr/share/nos/sku/port_config.ini"), read_file(kPortConfig));
    std::filesystem::remove_all(tree);

    const std::string dom = load(dir / "run.html", "switch-run", "1400x1500");
    EXPECT_EQ(count(dom, "<rect class=\"cage\""), 34u);
    EXPECT_EQ(count(dom, "<tr class=\"port-row\""), 48u);
    // Start-up, bring-up, the swap, the rescan: every step the run logged, each once.
    const auto &steps = doc["timeline"];
    EXPECT_EQ(count(dom, "<div class=\"step"), steps.size());
    std::string titles;
    for (const auto &s : steps) titles += s["title"].get<std::string>() + "\n";
    for (const char *step :
         {"Starting a private redis-server", "Laying out the platform tree",
          "Loading the library with dlopen", "The SDK starts", "Port bring-up",
          "Module swap in cage 1", "The OS reacts to admin down", "The OS creates the port again",
          "Tuning rescan", "New tuning applies", "Done."})
        EXPECT_EQ(count(titles, step), 1u) << step << " in\n" << titles;
    EXPECT_EQ(steps.size(), 11u);
    // The library's own log lines, each under the step that made them, behind a summary.
    std::size_t logged = 0;
    std::string swap_log, rescan_log;
    for (const auto &s : steps) {
        if (s["log"].empty()) continue;
        ++logged;
        const std::size_t lines = s["log"].size();
        EXPECT_TRUE(has(dom, "<summary>library log: " + std::to_string(lines) +
                                 (lines == 1 ? " line" : " lines") + "</summary>"));
        const std::string title = s["title"];
        if (title.rfind("Module swap", 0) == 0) swap_log = s["log"].dump();
        if (title.rfind("Tuning rescan", 0) == 0) rescan_log = s["log"].dump();
    }
    EXPECT_EQ(count(dom, "<pre class=\"log\">"), logged);
    EXPECT_TRUE(has(swap_log, "Port 0 from GENERIC DAC_1M 50G/400G PAM4 to GENERIC OPTICS"));
    EXPECT_TRUE(has(rescan_log, "CSV rescan changed tuning rows: 0 added, 0 removed, 24 changed"));
}
