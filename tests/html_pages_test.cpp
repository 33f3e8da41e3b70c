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

// The tooltip texts of the elements `selectors` pick, hovered in Chromium: a copy of `page`
// moves the mouse over each and writes the tooltip's text into the DOM.
std::vector<std::string> hover(const std::string &page, const std::vector<std::string> &selectors) {
    TempDir dir;
    std::string probe = "<script>(function () {";
    for (std::size_t i = 0; i < selectors.size(); ++i) {
        probe += "var el = document.querySelector('" + selectors[i] +
                 "');"
                 "if (el) el.dispatchEvent(new MouseEvent('mousemove', {bubbles: true, clientX: 5, "
                 "clientY: 5}));"
                 "document.body.setAttribute('data-probe-" +
                 std::to_string(i) +
                 "', el ? document.getElementById('tip').textContent : 'no element');";
    }
    probe += "})();</script>";
    std::string html = read_file(page);
    html.insert(html.rfind("</body>"), probe);
    write_file(dir / "probe.html", html);
    const int rc = std::system((shell_quote(kChromium) + " dom " + shell_quote(dir / "probe.html") +
                                " >" + shell_quote(dir / "dom") + " 2>/dev/null")
                                   .c_str());
    EXPECT_EQ(rc, 0);
    const std::string dom = read_file(dir / "dom");
    std::vector<std::string> out;
    for (std::size_t i = 0; i < selectors.size(); ++i) {
        const std::string key = "data-probe-" + std::to_string(i) + "=\"";
        const std::size_t at = dom.find(key);
        if (at == std::string::npos) {
            out.push_back("no probe");
            continue;
        }
        std::string text =
            dom.substr(at + key.size(), dom.find('"', at + key.size()) - at - key.size());
        // The attribute as the DOM serialises it: &, <, > and " escaped ("&amp;" last).
        for (const auto &[entity, c] : {std::pair<std::string, std::string>{"&gt;", ">"},
                                        {"&lt;", "<"},
                                        {"&quot;", "\""},
                                        {"&amp;", "&"}}) {
            for (std::size_t e = text.find(entity); e != std::string::npos;
                 e = text.find(entity, e + 1))
                text.replace(e, entity.size(), c);
        }
        out.push_back(text);
    }
    return out;
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

    // Hovering shows a cell's value, where it comes from and why it is marked.
    const auto tips = hover(dir / "report.html", {"rect.cell.outlier", "rect.cell.hole"});
    for (const char *part :
         {"TX_EQ_PRE1 = -20", "OPTICS GENERIC 50G/400G PAM4, front port 7, lane 2",
          "generic_optics.csv:71", "outlier: lane median -4"})
        EXPECT_TRUE(has(tips[0], part));
    for (const char *part :
         {"hole", "DAC_1M GENERIC 10G/40G NRZ, front port 5, lane 0", "no row for this lane"})
        EXPECT_TRUE(has(tips[1], part));
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
    // On failure the steps and what was seen in each say which step did not complete.
    std::string steps_seen;
    if (r.exit_code != 0 && nlohmann::json::accept(r.out)) {
        for (const auto &s : nlohmann::json::parse(r.out)["timeline"])
            steps_seen += s["title"].get<std::string>() + "\n  " + s["notes"].dump() + "\n";
    }
    ASSERT_EQ(r.exit_code, 0) << r.err << steps_seen;
    const auto doc = nlohmann::json::parse(r.out);
    // The committed port_config.ini the report tests use is the simulated switch's.
    const std::string tree = doc["kept_tree"];
    EXPECT_EQ(read_file(tree + "/usr/share/nos/sku/port_config.ini"), read_file(kPortConfig));
    std::filesystem::remove_all(tree);

    const std::string dom = load(dir / "run.html", "switch-run", "1400x1500");
    EXPECT_EQ(count(dom, "<rect class=\"cage\""), 34u);
    const auto tips =
        hover(dir / "run.html", {"rect.cage[data-cage=\"1\"]", "rect.cage[data-cage=\"10\"]"});
    for (const char *part : {"Cage 1 (front port 0): DD optic 400G",
                             "Ethernet0 (lanes 0-7, 400G): OPTICS "
                             "50G/400G PAM4, link up",
                             "swapped during the run: DD DAC 1m -> DD optic 400G"})
        EXPECT_TRUE(has(tips[0], part));
    EXPECT_TRUE(has(tips[1], "Cage 10 (front port 9): empty"));
    EXPECT_TRUE(has(tips[1], "Ethernet72 (lanes 0-7, 400G): not identified, no module"));
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
    EXPECT_TRUE(has(rescan_log, "CSV rescan changed tuning rows: 0 added, 0 removed, 48 changed"));
    EXPECT_TRUE(has(rescan_log,
                    "CSV rescan changed the tuning of 2 ports that run on the tuning it "
                    "replaced (Ethernet0, Ethernet16): re-create these ports to apply it"));

    // What pltfmctl status said: nothing flagged after the bring-up; the swapped port flagged
    // while the library waits for its re-creation; both ports whose rows the rescan changed
    // stale; Ethernet0, created again, no longer stale, Ethernet16 still.
    const auto &snaps = doc["port_state"];
    ASSERT_EQ(snaps.size(), 5u) << snaps.dump();
    EXPECT_EQ(count(dom, "<tr class=\"state-row\""), snaps.size());
    auto stale_ports = [](const nlohmann::json &snap) {
        std::string names;
        for (const auto &p : snap["doc"]["ports"])
            if (p["running"].get<bool>() && p["published"]["stale"] == "yes")
                names += p["interface"].get<std::string>() + " ";
        return names;
    };
    auto flags_of = [](const nlohmann::json &snap, const std::string &intf) {
        std::string codes;
        for (const auto &p : snap["doc"]["ports"])
            if (p["interface"] == intf)
                for (const auto &f : p["flags"]) codes += f["code"].get<std::string>() + " ";
        return codes;
    };
    EXPECT_EQ(snaps[0]["exit"], 0);
    EXPECT_EQ(snaps[0]["doc"]["counts"]["flagged"], 0);
    EXPECT_EQ(flags_of(snaps[1], "Ethernet0"), "module exchanged ");
    EXPECT_EQ(flags_of(snaps[2], "Ethernet0"), "");
    EXPECT_EQ(snaps[3]["after"], "the rescan");
    EXPECT_EQ(stale_ports(snaps[3]), "Ethernet0 Ethernet16 ");
    EXPECT_EQ(stale_ports(snaps[4]), "Ethernet16 ");
    EXPECT_TRUE(has(dom, "class=\"stale-ports bad\">Ethernet0, Ethernet16</td>"));
    EXPECT_TRUE(has(dom, "class=\"stale-ports bad\">Ethernet16</td>"));
    EXPECT_EQ(count(dom, "data-stale=\"yes\""), 1u);

    // A port row's tooltip shows the port's published state, its flags with it.
    const auto rows = hover(dir / "run.html", {"tr.port-row", "tr.port-row[data-stale=\"yes\"]"});
    for (const char *part : {"Ethernet0 (lanes 0-7, 400G)",
                             "published state (PORT_SERDES_STATE|Ethernet0, after "
                             "Ethernet0 was created again):",
                             "cable_type: OPTICS", "identified_by: stored", "stale: no",
                             "tuning_rows: generic_optics.csv:"})
        EXPECT_TRUE(has(rows[0], part));
    for (const char *part : {"Ethernet16 (lanes 0-7, 400G)", "stale: yes",
                             "flagged: stale: a rescan changed the tuning of its rows"})
        EXPECT_TRUE(has(rows[1], part));
}
