// Markdown pages as the docs test reads them (see the header).
#include "markdown_doc.h"

#include <cctype>
#include <map>
#include <regex>
#include <sstream>

namespace pltfm::test::markdown {

namespace {

std::vector<std::string> split_lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string rtrim(std::string s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
    return s;
}

std::size_t indent_of(const std::string &line) {
    return line.find_first_not_of(' ');
}

bool is_fence(const std::string &line) {
    const std::size_t i = indent_of(line);
    return i != std::string::npos && line.compare(i, 3, "```") == 0;
}

// The line with inline code spans (`...`, ``...``) blanked, so that links quoted as code
// are not taken for links.
std::string without_code_spans(const std::string &line) {
    std::string out = line;
    std::size_t i = 0;
    while ((i = out.find('`', i)) != std::string::npos) {
        std::size_t run = 0;
        while (i + run < out.size() && out[i + run] == '`') ++run;
        const std::size_t close = out.find(std::string(run, '`'), i + run);
        if (close == std::string::npos) break;
        for (std::size_t k = i; k < close + run; ++k) out[k] = ' ';
        i = close + run;
    }
    return out;
}

void collect_links(const std::string &line, int number, std::vector<Link> &links) {
    static const std::regex inline_link(R"re(\]\(<?([^)\s>]+)>?(?:\s+"[^"]*")?\))re");
    static const std::regex reference(R"(^\s*\[[^\]]+\]:\s*(\S+))");
    static const std::regex html(R"re((?:src|href)\s*=\s*"([^"]+)")re");
    const std::string text = without_code_spans(line);
    for (const std::regex *re : {&inline_link, &html}) {
        for (auto it = std::sregex_iterator(text.begin(), text.end(), *re);
             it != std::sregex_iterator(); ++it)
            links.push_back({number, (*it)[1]});
    }
    std::smatch m;
    if (std::regex_search(text, m, reference)) links.push_back({number, m[1]});
}

}  // namespace

std::string anchor_of(const std::string &heading) {
    std::string out;
    for (char c : heading) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '-' || c == '_' || u >= 0x80)
            out += static_cast<char>(std::tolower(u));
        else if (c == ' ')
            out += '-';
    }
    return out;
}

Page parse(const std::string &text) {
    Page page;
    std::map<std::string, int> seen;  // anchors repeat as name, name-1, name-2, ...
    const std::vector<std::string> lines = split_lines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string &line = lines[i];
        if (is_fence(line)) {
            const std::size_t indent = indent_of(line);
            Block b;
            b.line = static_cast<int>(i) + 1;
            std::istringstream info(line.substr(indent + 3));
            info >> b.lang;
            for (std::string word; info >> word;) b.not_run = b.not_run || word == "not-run";
            for (++i; i < lines.size() && !is_fence(lines[i]); ++i) {
                const std::string &body = lines[i];
                const std::size_t strip = std::min(indent, std::min(body.size(), indent_of(body)));
                b.body.push_back(body.substr(strip));
            }
            page.blocks.push_back(std::move(b));
            continue;
        }
        if (line.rfind('#', 0) == 0) {
            const std::size_t start = line.find_first_not_of('#');
            if (start != std::string::npos && line[start] == ' ') {
                // Code spans keep their text in an anchor (the backticks go as punctuation).
                const std::string anchor = anchor_of(rtrim(line.substr(start + 1)));
                const int n = seen[anchor]++;
                page.anchors.push_back(n == 0 ? anchor : anchor + "-" + std::to_string(n));
            }
        }
        collect_links(line, static_cast<int>(i) + 1, page.links);
    }
    return page;
}

std::vector<std::string> command_lines(const std::vector<std::string> &body) {
    std::vector<std::string> out;
    std::string pending;
    for (const std::string &raw : body) {
        std::string line = rtrim(raw);
        const bool continued = !line.empty() && line.back() == '\\';
        if (continued) line.pop_back();
        pending += line;
        if (continued) {
            pending += ' ';
            continue;
        }
        const std::size_t first = pending.find_first_not_of(" \t");
        if (first != std::string::npos && pending[first] != '#')
            out.push_back(pending.substr(first));
        pending.clear();
    }
    if (!pending.empty()) out.push_back(pending);
    return out;
}

std::vector<std::vector<std::string>> simple_commands(const std::string &line) {
    std::vector<std::vector<std::string>> commands(1);
    std::string word;
    bool in_word = false;
    char quote = 0;
    auto end_word = [&] {
        if (in_word) commands.back().push_back(word);
        word.clear();
        in_word = false;
    };
    auto end_command = [&] {
        end_word();
        if (!commands.back().empty()) commands.emplace_back();
    };
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote) {
            if (c == quote) {
                quote = 0;
            } else {
                word += c;
            }
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            in_word = true;
        } else if (c == '\\' && i + 1 < line.size()) {
            word += line[++i];
            in_word = true;
        } else if (c == '#' && !in_word) {
            break;
        } else if (c == '|' || c == ';' || c == '&') {
            if (i + 1 < line.size() && line[i + 1] == c) ++i;
            end_command();
        } else if (c == ' ' || c == '\t') {
            end_word();
        } else {
            word += c;
            in_word = true;
        }
    }
    end_command();
    if (commands.back().empty()) commands.pop_back();
    return commands;
}

std::vector<ConsoleStep> console_steps(const std::vector<std::string> &body) {
    std::vector<ConsoleStep> steps;
    bool continued = false;
    for (std::size_t i = 0; i < body.size(); ++i) {
        const std::string line = rtrim(body[i]);
        if (continued) {
            steps.back().command += "\n" + line;
        } else if (line.rfind("$ ", 0) == 0) {
            steps.push_back({line.substr(2), {}, static_cast<int>(i) + 1});
        } else if (!steps.empty()) {
            steps.back().output.push_back(line);
            continue;
        } else {
            continue;  // output before the first command: nothing to compare it with
        }
        continued = !line.empty() && line.back() == '\\';
    }
    return steps;
}

// A shown line with "..." inside stands for any text there ("from .../port_config.ini").
bool line_matches(const std::string &want, const std::string &got) {
    std::size_t dots = want.find("...");
    if (dots == std::string::npos) return want == got;
    if (got.compare(0, dots, want, 0, dots) != 0) return false;
    std::size_t at = dots;  // everything of `got` before `at` is matched
    for (;;) {
        const std::size_t from = dots + 3;
        dots = want.find("...", from);
        const std::string part =
            want.substr(from, dots == std::string::npos ? std::string::npos : dots - from);
        if (dots == std::string::npos)
            return got.size() >= at + part.size() &&
                   got.compare(got.size() - part.size(), part.size(), part) == 0;
        const std::size_t found = got.find(part, at);
        if (found == std::string::npos) return false;
        at = found + part.size();
    }
}

bool output_matches(const std::vector<std::string> &expected, const std::string &actual) {
    std::vector<std::string> want, got = split_lines(actual);
    for (const std::string &l : expected) want.push_back(rtrim(l));
    for (std::string &l : got) l = rtrim(l);
    while (!want.empty() && want.back().empty()) want.pop_back();
    while (!got.empty() && got.back().empty()) got.pop_back();
    // can[i][j]: want[i..] matches got[j..]
    std::vector<std::vector<char>> can(want.size() + 1, std::vector<char>(got.size() + 1, 0));
    can[want.size()][got.size()] = 1;
    for (std::size_t i = want.size(); i-- > 0;) {
        for (std::size_t j = got.size() + 1; j-- > 0;) {
            if (want[i] == "...")
                can[i][j] = can[i + 1][j] || (j < got.size() && can[i][j + 1]);
            else
                can[i][j] = j < got.size() && line_matches(want[i], got[j]) && can[i + 1][j + 1];
        }
    }
    return can[0][0];
}

}  // namespace pltfm::test::markdown
