// Keeps the Markdown pages of the tree (README.md, docs/*.md, ...) honest. On every page:
// - every relative link and image names a file of the tree (and a heading, after '#');
// - ```sh blocks run, from the top of a scratch copy of the tree, with the build's tools first
//   on PATH and `redis-cli` bound to a private redis-server, and exit 0;
// - ```console blocks run the same way, command by command ("$ " lines), and each command
//   prints what the block shows (standard output; a line "..." stands for any lines, "..."
//   within a line for any text); a
//   command that exits non-zero is followed by "$ echo $?" showing its status;
// - blocks marked not-run (```sh not-run, ```console not-run: commands that need root, a live
//   switch or minutes) name a make target `make help` lists and variables the Makefile uses,
//   a subcommand and options of pltfmctl or pltfm-sim, a manual page of the tree, a file of
//   the tree or the build, or a program on PATH.
// docs/development.md describes the convention for writers.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "markdown_doc.h"
#include "redis_server.h"
#include "test_util.h"
#include "tool_run.h"

using namespace pltfm::test;
namespace md = pltfm::test::markdown;
namespace fs = std::filesystem;

namespace {

const fs::path kTree = PLTFM_SOURCE_DIR;
const fs::path kBuild = PLTFM_BINARY_DIR;

// Entries of the tree's top level that are not sources: build trees and hidden files.
bool is_source_entry(const fs::path &name) {
    const std::string n = name.filename().string();
    return n.rfind("build", 0) != 0 && n.rfind('.', 0) != 0;
}

// Every *.md of the tree, relative to it, outside build trees and hidden directories.
std::vector<std::string> doc_pages() {
    std::vector<std::string> pages;
    for (const auto &top : fs::directory_iterator(kTree)) {
        if (!is_source_entry(top.path())) continue;
        if (top.is_regular_file() && top.path().extension() == ".md") {
            pages.push_back(top.path().filename().string());
        } else if (top.is_directory()) {
            for (const auto &e : fs::recursive_directory_iterator(top.path()))
                if (e.is_regular_file() && e.path().extension() == ".md")
                    pages.push_back(fs::relative(e.path(), kTree).string());
        }
    }
    std::sort(pages.begin(), pages.end());
    return pages;
}

std::string param_name(const testing::TestParamInfo<std::string> &info) {
    std::string name = info.param;
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

struct ShellRun {
    int exit_code = -1;
    std::string out, err;
};

// Runs `script` with bash; standard output and error are kept apart. The script runs as in a
// reader's shell, not as a child of the make that runs the tests (make's variables would make
// a `make` in it print what a reader's does not).
ShellRun run_bash(const std::string &script) {
    TempDir dir;
    write_file(dir / "script.sh", "unset MAKEFLAGS MFLAGS MAKELEVEL MAKEOVERRIDES\n" + script);
    const std::string cmd = "timeout 240 bash " + shell_quote(dir / "script.sh") + " >" +
                            shell_quote(dir / "out") + " 2>" + shell_quote(dir / "err") +
                            " </dev/null";
    const int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(dir / "out"),
            read_file(dir / "err")};
}

// What a not-run command may name: make targets and variables, the tools' subcommands and
// options, manual pages, files and programs.
class Names {
  public:
    Names() {
        const std::string makefile = read_file(kTree / "Makefile");
        static const std::regex target(R"((?:^|\n)([a-z][a-z-]*):[^=\n]*## )");
        for (auto it = std::sregex_iterator(makefile.begin(), makefile.end(), target);
             it != std::sregex_iterator(); ++it)
            targets_.insert((*it)[1]);
        static const std::regex variable(R"(\$\(([A-Z_]+)\)|(?:^|\n)([A-Z_]+) *[?:]?=)");
        for (auto it = std::sregex_iterator(makefile.begin(), makefile.end(), variable);
             it != std::sregex_iterator(); ++it)
            variables_.insert((*it)[1].matched ? (*it)[1] : (*it)[2]);
    }

    // "" when the command names only what exists, else what it names that does not.
    std::string check(std::vector<std::string> words) const {
        static const std::regex assignment(R"(^[A-Za-z_][A-Za-z0-9_]*=.*)");
        std::size_t i = 0;
        while (i < words.size()) {
            if (std::regex_match(words[i], assignment) || words[i] == "sudo" ||
                words[i] == "time" || words[i] == "env") {
                ++i;
            } else if (words[i] == "nice") {
                i += (i + 1 < words.size() && words[i + 1] == "-n") ? 3 : 1;
            } else {
                break;
            }
        }
        if (i >= words.size()) return "";
        const std::string cmd = words[i];
        const std::vector<std::string> args(words.begin() + static_cast<long>(i) + 1, words.end());
        if (cmd == "make") return check_make(args);
        if (cmd == "pltfmctl" || cmd == "pltfm-sim") return check_tool(cmd, args);
        if (cmd == "man") {
            for (const std::string &a : args) {
                if (a.find('/') != std::string::npos) {
                    if (!in_tree(a)) return "no file " + a;
                } else if (a[0] != '-' && !fs::exists(kTree / "tools/man" / (a + ".1.in"))) {
                    return "no manual page " + a;
                }
            }
            return "";
        }
        if (cmd.find('/') != std::string::npos) return in_tree(cmd) ? "" : "no file " + cmd;
        const ShellRun r = run_bash("PATH=" + shell_quote((kBuild / "tools").string()) +
                                    ":$PATH command -v " + shell_quote(cmd));
        return r.exit_code == 0 ? "" : "no program " + cmd + " on PATH";
    }

    const std::set<std::string> &targets() const { return targets_; }

  private:
    // A path of the tree, or of the build tree when it starts with build/.
    static bool in_tree(const std::string &path) {
        return fs::exists(path.rfind("build/", 0) == 0 ? kBuild / path.substr(6) : kTree / path);
    }

    std::string check_make(const std::vector<std::string> &args) const {
        static const std::regex assignment(R"(^([A-Za-z_][A-Za-z0-9_]*)=.*)");
        for (std::size_t k = 0; k < args.size(); ++k) {
            std::smatch m;
            if (args[k] == "-C" || args[k] == "-j") {
                ++k;
            } else if (args[k][0] == '-') {
                continue;
            } else if (std::regex_match(args[k], m, assignment)) {
                if (!variables_.count(m[1]))
                    return "the Makefile uses no variable " + std::string(m[1]);
            } else if (!targets_.count(args[k])) {
                return "make help lists no target " + args[k];
            }
        }
        return "";
    }

    // The subcommand must be one the tool lists, every --option one its help names.
    std::string check_tool(const std::string &tool, const std::vector<std::string> &args) const {
        std::string sub;
        if (tool == "pltfmctl") {
            for (const std::string &a : args) {
                if (a[0] != '-') {
                    sub = a;
                    break;
                }
            }
        }
        const ToolRun top = run_tool(tool, {"--help"});
        if (!sub.empty() && top.out.find("\n  " + sub + " ") == std::string::npos)
            return tool + " has no subcommand " + sub;
        const ToolRun help = sub.empty() ? top : run_tool(tool, {sub, "--help"});
        for (const std::string &a : args) {
            if (a.rfind("--", 0) != 0) continue;
            const std::string option = a.substr(0, a.find('='));
            if (help.out.find(option) == std::string::npos)
                return tool + " " + sub + " has no option " + option;
        }
        return "";
    }

    std::set<std::string> targets_, variables_;
};

// A scratch copy of the tree (build trees left out; `build` links to the build tree) where
// the blocks of one page run in order, with a private redis-server behind `redis-cli`.
class Sandbox {
  public:
    Sandbox() {
        work_ = root_ / "tree";
        fs::create_directories(work_);
        fs::create_directories(root_ / "tmp");
        for (const auto &e : fs::directory_iterator(kTree))
            if (is_source_entry(e.path()))
                fs::copy(e.path(), work_ / e.path().filename(),
                         fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        fs::create_directory_symlink(kBuild, work_ / "build");
    }

    bool ok() const { return redis_.ok(); }
    std::string error() const { return redis_.error(); }
    const fs::path &work() const { return work_; }
    std::string scratch(const std::string &name) const { return root_ / name; }

    // The lines every block's script starts with.
    std::string prologue() const {
        return "export PATH=" + shell_quote((kBuild / "tools").string()) + ":" +
               shell_quote(redis_.bin_dir()) +
               ":\"$PATH\"\nexport TMPDIR=" + shell_quote(root_ / "tmp") +
               "\nunset PLTFM_ROOT PLTFM_REDIS\ncd " + shell_quote(work_.string()) +
               " || exit 99\n";
    }

  private:
    TempDir dir_;
    fs::path root_ = dir_.path();
    fs::path work_;
    RedisServer redis_;
};

std::string numbered(const std::vector<std::string> &lines) {
    std::string s;
    for (const std::string &l : lines) s += "    " + l + "\n";
    return s;
}

// Runs a console block step by step; one failure message per step that does not show as
// written, or "" when all do.
std::string run_console(const Sandbox &box, const md::Block &block) {
    const std::vector<md::ConsoleStep> steps = md::console_steps(block.body);
    const std::string dir = box.scratch("console-" + std::to_string(block.line));
    fs::create_directories(dir);
    std::string script = box.prologue();
    for (std::size_t k = 0; k < steps.size(); ++k) {
        const std::string n = std::to_string(k);
        script += "{ " + steps[k].command + "\n} >" + shell_quote(dir + "/out." + n) + " 2>" +
                  shell_quote(dir + "/err." + n) + "; __s=$?; echo $__s >" +
                  shell_quote(dir + "/status." + n) + "; (exit $__s)\n";
    }
    run_bash(script);
    std::string failures;
    for (std::size_t k = 0; k < steps.size(); ++k) {
        const std::string n = std::to_string(k);
        const std::string out = read_file(dir + "/out." + n), err = read_file(dir + "/err." + n);
        const std::string status = read_file(dir + "/status." + n);
        const std::string where =
            "line " + std::to_string(block.line + steps[k].line) + ": $ " + steps[k].command;
        if (status.empty()) {
            failures += where + "\n  did not run\n";
            break;
        }
        if (!md::output_matches(steps[k].output, out))
            failures += where + "\n  shows:\n" + numbered(steps[k].output) + "  prints:\n" + out +
                        "  standard error:\n" + err;
        const bool shown = k + 1 < steps.size() && steps[k + 1].command == "echo $?";
        if (std::stoi(status) != 0 && !shown)
            failures += where + "\n  exits " + status +
                        "  (show it with \"$ echo $?\"); standard error:\n" + err;
    }
    return failures;
}

bool is_external(const std::string &target) {
    return target.rfind("http://", 0) == 0 || target.rfind("https://", 0) == 0 ||
           target.rfind("mailto:", 0) == 0;
}

// "" when the link resolves from the page at `page` (relative to the tree).
std::string check_link(const fs::path &page, const md::Page &parsed, const std::string &target) {
    const std::size_t hash = target.find('#');
    const std::string file = target.substr(0, hash),
                      anchor = hash == std::string::npos ? "" : target.substr(hash + 1);
    std::vector<std::string> anchors = parsed.anchors;
    if (!file.empty()) {
        const fs::path p = (kTree / page).parent_path() / file;
        if (!fs::exists(p)) return "no file " + fs::relative(p.lexically_normal(), kTree).string();
        if (fs::weakly_canonical(p).string().rfind(fs::weakly_canonical(kTree).string(), 0) != 0)
            return "outside the tree";
        if (anchor.empty()) return "";
        if (p.extension() != ".md") return "an anchor into a file that is not Markdown";
        anchors = md::parse(read_file(p)).anchors;
    }
    if (!anchor.empty() && std::find(anchors.begin(), anchors.end(), anchor) == anchors.end())
        return "no heading with anchor #" + anchor;
    return "";
}

class DocPage : public testing::TestWithParam<std::string> {
  protected:
    md::Page page() const { return md::parse(read_file(kTree / GetParam())); }
};

TEST_P(DocPage, LinksAndImagesResolve) {
    const md::Page p = page();
    for (const md::Link &l : p.links) {
        if (is_external(l.target)) continue;
        const std::string problem = check_link(GetParam(), p, l.target);
        EXPECT_EQ(problem, "") << GetParam() << ":" << l.line << ": link " << l.target;
    }
}

// Shell in blocks the test does not read would go unchecked: commands are written in sh or
// console blocks, and a "$ " prompt only in console blocks.
TEST_P(DocPage, CommandsStandInBlocksTheTestReads) {
    for (const md::Block &b : page().blocks) {
        EXPECT_TRUE(b.lang != "bash" && b.lang != "shell" && b.lang != "zsh" &&
                    b.lang != "shell-session")
            << GetParam() << ":" << b.line << ": write ```sh or ```console, not ```" << b.lang;
        if (b.lang == "console") continue;
        for (const std::string &l : b.body)
            EXPECT_NE(l.rfind("$ ", 0), 0u)
                << GetParam() << ":" << b.line << ": a \"$ \" prompt outside a "
                << "```console block: " << l;
    }
}

TEST_P(DocPage, NotRunCommandsNameWhatExists) {
    const Names names;
    for (const md::Block &b : page().blocks) {
        if (!b.not_run || (b.lang != "sh" && b.lang != "console")) continue;
        std::vector<std::string> lines;
        if (b.lang == "sh") {
            lines = md::command_lines(b.body);
        } else {
            for (const md::ConsoleStep &s : md::console_steps(b.body)) lines.push_back(s.command);
        }
        for (const std::string &line : lines)
            for (const auto &words : md::simple_commands(line))
                EXPECT_EQ(names.check(words), "") << GetParam() << ":" << b.line << ": " << line;
    }
}

TEST_P(DocPage, CommandsRunAndShowTheirOutput) {
    const md::Page p = page();
    const bool any = std::any_of(p.blocks.begin(), p.blocks.end(), [](const md::Block &b) {
        return !b.not_run && (b.lang == "sh" || b.lang == "console");
    });
    if (!any) GTEST_SKIP() << GetParam() << " runs no command";
    const Sandbox box;
    ASSERT_TRUE(box.ok()) << box.error();
    for (const md::Block &b : p.blocks) {
        if (b.not_run) continue;
        if (b.lang == "sh") {
            std::string body;
            for (const std::string &l : b.body) body += l + "\n";
            const ShellRun r = run_bash(box.prologue() + "set -eo pipefail\n" + body);
            EXPECT_EQ(r.exit_code, 0) << GetParam() << ":" << b.line << ": the block\n"
                                      << numbered(b.body) << "fails; standard output:\n"
                                      << r.out << "standard error:\n"
                                      << r.err;
        } else if (b.lang == "console") {
            const std::string failures = run_console(box, b);
            EXPECT_TRUE(failures.empty()) << GetParam() << ":" << b.line << ": " << failures;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Pages, DocPage, testing::ValuesIn(doc_pages()), param_name);

TEST(DocPages, TheFrontDoorAndTheReadersPagesAreThere) {
    const std::vector<std::string> pages = doc_pages();
    for (const char *p :
         {"README.md", "docs/operators.md", "docs/integrators.md", "docs/development.md"})
        EXPECT_NE(std::find(pages.begin(), pages.end(), p), pages.end()) << p;
}

// The layout in the developers' page keeps up with the tree: every folder of the top level and
// of tools/, and every module of src/, is named there.
TEST(DocPages, DevelopmentNamesEveryFolderAndModuleOfSrc) {
    const std::string page = read_file(kTree / "docs/development.md");
    std::set<std::string> names;
    for (const auto &e : fs::directory_iterator(kTree))
        if (e.is_directory() && (is_source_entry(e.path()) || e.path().filename() == ".ci"))
            names.insert(e.path().filename().string() + "/");
    for (const auto &e : fs::directory_iterator(kTree / "tools"))
        if (e.is_directory()) names.insert("tools/" + e.path().filename().string() + "/");
    for (const auto &e : fs::directory_iterator(kTree / "src")) {
        const std::string file = e.path().filename().string();
        names.insert(file.substr(0, file.find('.')));
    }
    EXPECT_GT(names.size(), 30u);
    for (const std::string &n : names)
        EXPECT_TRUE(page.find("`" + n + "`") != std::string::npos)
            << "docs/development.md does not name " << n;
}

// `make help` prints the "## " line of each target: every phony target needs one.
TEST(Makefile, HelpListsEveryPhonyTarget) {
    const std::string makefile = read_file(kTree / "Makefile");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(makefile, m, std::regex(R"(\.PHONY:((?:[^\n]*\\\n)*[^\n]*))")));
    std::istringstream phony(std::regex_replace(std::string(m[1]), std::regex(R"(\\\n)"), " "));
    const Names names;
    int count = 0;
    for (std::string t; phony >> t; ++count)
        EXPECT_TRUE(names.targets().count(t)) << "no ## line for " << t;
    EXPECT_GT(count, 10);
    const ShellRun help = run_bash("make -s -C " + shell_quote(kTree.string()) + " help");
    ASSERT_EQ(help.exit_code, 0) << help.err;
    for (const std::string &t : names.targets())
        EXPECT_NE(help.out.find(t + " "), std::string::npos) << t;
}

// The checks themselves catch what they are for: a link to nothing, a command whose output
// differs from the page, a status not shown, and names that do not exist.
TEST(DocChecks, CatchBrokenLinksWrongOutputAndUnknownNames) {
    const md::Page p = md::parse(
        "# Top `a` b\n[x](docs/none.md) ![y](README.md#top-a-b) [z](#nowhere)\n"
        "```console\n$ echo one\none\n...\n$ false\n```\n"
        "   ```sh not-run\n   make test FUZZ_SECONDS=1 && make nothing\n   ```\n");
    ASSERT_EQ(p.links.size(), 3u);
    EXPECT_NE(check_link("README.md", p, p.links[0].target), "");
    EXPECT_EQ(check_link("docs/development.md", p, "../README.md"), "");
    EXPECT_NE(check_link("docs/development.md", p, "../README.md#no-such-heading"), "");
    EXPECT_EQ(check_link("README.md", p, "#top-a-b"), "");
    EXPECT_NE(check_link("README.md", p, p.links[2].target), "");

    ASSERT_EQ(p.blocks.size(), 2u);
    const Sandbox box;
    ASSERT_TRUE(box.ok()) << box.error();
    const std::string failures = run_console(box, p.blocks[0]);
    EXPECT_NE(failures.find("$ false\n  exits 1"), std::string::npos) << failures;
    md::Block wrong = p.blocks[0];
    wrong.body[1] = "two";
    EXPECT_NE(run_console(box, wrong).find("$ echo one\n  shows:"), std::string::npos);

    EXPECT_TRUE(p.blocks[1].not_run);
    const auto commands = md::simple_commands(md::command_lines(p.blocks[1].body).at(0));
    ASSERT_EQ(commands.size(), 2u);
    const Names names;
    EXPECT_EQ(names.check(commands[0]), "");
    EXPECT_EQ(names.check(commands[1]), "make help lists no target nothing");
    EXPECT_NE(names.check({"make", "NO_SUCH_VARIABLE=1", "test"}), "");
    EXPECT_NE(names.check({"pltfmctl", "lint", "--no-such-option"}), "");
    EXPECT_NE(names.check({"pltfmctl", "frobnicate"}), "");
    EXPECT_EQ(names.check({"PLTFM_ROOT=/x", "pltfmctl", "explain", "--intf", "Ethernet0"}), "");
    EXPECT_NE(names.check({"build/no-such-tool"}), "");
    EXPECT_NE(names.check({"no-such-program-anywhere"}), "");

    EXPECT_TRUE(md::output_matches({"a", "...", "d"}, "a\nb\nc\nd\n"));
    EXPECT_FALSE(md::output_matches({"a", "d"}, "a\nb\nd\n"));
    EXPECT_FALSE(md::output_matches({"a"}, "a\nb\n"));
    EXPECT_TRUE(md::output_matches({"from .../x.ini (8)"}, "from /tmp/t/x.ini (8)\n"));
    EXPECT_FALSE(md::output_matches({"from .../x.ini (8)"}, "from /tmp/t/y.ini (8)\n"));
    EXPECT_FALSE(md::output_matches({"a...b...c"}, "acb\n"));
}

}  // namespace
