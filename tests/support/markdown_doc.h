// What the docs test reads from a Markdown page: its fenced code blocks, its links and images,
// and the anchors of its headings; and the two small languages of the blocks: shell command
// lines split into simple commands and words, and console sessions whose shown output may
// skip lines or parts of lines with "...".
#pragma once

#include <string>
#include <vector>

namespace pltfm::test::markdown {

// A fenced code block: ```sh, ```sh not-run, ```console, ```text, ``` ...
struct Block {
    std::string lang;               // first word of the info string ("" for a plain block)
    bool not_run = false;           // the info string's further words include "not-run"
    int line = 0;                   // line of the opening fence, from 1
    std::vector<std::string> body;  // its lines, the fence's indentation removed
};

struct Link {
    int line = 0;
    std::string target;  // as written, e.g. docs/operators.md#tuning-files or ../README.md
};

struct Page {
    std::vector<Block> blocks;
    std::vector<Link> links;           // links, images and HTML src/href outside code
    std::vector<std::string> anchors;  // the heading anchors a link may name after '#'
};

Page parse(const std::string &text);

// The anchor a heading gets: lower case, punctuation dropped, blanks as '-'.
std::string anchor_of(const std::string &heading);

// Logical lines of a shell block: comment and blank lines dropped, lines ending in '\'
// joined with the next.
std::vector<std::string> command_lines(const std::vector<std::string> &body);

// The simple commands of a command line (split at |, ||, &&, ; outside quotes), each as its
// words with quotes removed. Comments (# to the end, outside quotes) are dropped.
std::vector<std::vector<std::string>> simple_commands(const std::string &line);

// A console session: each command ("$ " lines, continued by a trailing '\') with the output
// lines shown after it.
struct ConsoleStep {
    std::string command;
    std::vector<std::string> output;
    int line = 0;
};
std::vector<ConsoleStep> console_steps(const std::vector<std::string> &body);

// Whether `actual` shows as `expected`: line by line, trailing blanks and trailing empty
// lines ignored; a line "..." stands for any number of lines, "..." within a line for any
// text.
bool output_matches(const std::vector<std::string> &expected, const std::string &actual);

}  // namespace pltfm::test::markdown
