// Every example of the README and the manual pages, run exactly as printed.
//
// What counts as an example:
//  - README.md: each ```console block.  Lines that begin with "$ " are
//    commands, the lines after one (up to the next command) its output.
//    ```sh blocks are instructions (building, installing) and are not run;
//    neither is a ```console block right after a line
//    "<!-- example not run: <reason> -->".
//  - man/*.1 and man/*.3: each no-fill block (.EX to .EE, or .nf to .fi) that
//    holds a line beginning with "$ ", read as above once the roff escapes
//    are undone.  A command whose line ends in "|", "&&" or "\" goes on in
//    the next line.
//
// Each block runs in one bash, so that a command sees what the one before it
// did ($?, files written), in a fresh folder that stands for the top of the
// source tree: every entry of the tree is linked there, and the files of
// tests/example_files are copied in (the README and the pages name them:
// a.viscii, letter.txt, old.viscii...).  The programs come first on PATH from
// the build; a program the build lacks is "command not found", a failure.
// Standard error is shown with standard output, as on a terminal, and an
// output that does not end in a newline is read as if it did (the next
// prompt starts a line).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "process.h"

namespace {

namespace fs = std::filesystem;

struct command {
    std::string line;    // as a shell reads it
    std::string output;  // as printed, each line ending in a newline
};

struct example {
    std::string where;  // file and line of the block
    std::vector<command> commands;
};

void PrintTo(const example &e, std::ostream *os) { *os << e.where; }

std::vector<std::string> lines_of(const std::string &path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool starts_with(const std::string &s, const std::string &prefix) { return s.rfind(prefix, 0) == 0; }
bool ends_with(const std::string &s, const std::string &suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Commands and outputs of one block of text lines.
std::vector<command> read_block(const std::vector<std::string> &block) {
    std::vector<command> commands;
    bool continued = false;
    for (const std::string &line : block) {
        const bool command_line = continued || starts_with(line, "$ ");
        if (continued)
            commands.back().line += "\n" + line;
        else if (command_line)
            commands.push_back({line.substr(2), ""});
        else if (!commands.empty())
            commands.back().output += line + "\n";
        continued = command_line && (ends_with(line, "|") || ends_with(line, "&&") || ends_with(line, "\\"));
    }
    return commands;
}

std::vector<example> readme_examples(const std::string &path, const std::string &name) {
    std::vector<example> examples;
    const std::vector<std::string> lines = lines_of(path);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] != "```console") continue;
        const bool not_run = i > 0 && starts_with(lines[i - 1], "<!-- example not run:");
        std::vector<std::string> block;
        std::size_t j = i + 1;
        for (; j < lines.size() && lines[j] != "```"; ++j) block.push_back(lines[j]);
        if (!not_run) examples.push_back({name + ":" + std::to_string(i + 1), read_block(block)});
        i = j;
    }
    return examples;
}

// A code point in UTF-8.
std::string utf8_of(char32_t c) {
    std::string out;
    if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
    } else {
        if (c >= 0x10000) {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
        }
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (c & 0x3F));
    return out;
}

// The named escape of roff at `at` in `line`, undone into `out`; returns its
// length, 0 when the pages use no such escape in examples.
std::size_t undo_named_escape(const std::string &line, std::size_t at, std::string &out) {
    static const std::pair<const char *, const char *> named[] = {
        {"\\(aq", "'"}, {"\\(dq", "\""}, {"\\(ha", "^"}, {"\\(ti", "~"}, {"\\(ga", "`"}, {"\\(rs", "\\"},
        {"\\[lq]", "\u201C"}, {"\\[rq]", "\u201D"}, {"\\[em]", "\u2014"}, {"\\[en]", "\u2013"},
        {"\\[Eu]", "\u20AC"},
        // groff's names of the Latin letters and signs the pages' examples of
        // other languages and of mojibake use
        {"\\['a]", "\u00E1"}, {"\\['e]", "\u00E9"}, {"\\['i]", "\u00ED"}, {"\\[:O]", "\u00D6"},
        {"\\[:U]", "\u00DC"}, {"\\[~n]", "\u00F1"}, {"\\[ss]", "\u00DF"}, {"\\[pc]", "\u00B7"},
        {"\\[r?]", "\u00BF"}, {"\\[Om]", "\u03A9"}, {"\\-", "-"}, {"\\e", "\\"}, {"\\&", ""}, {"\\ ", " "},
    };
    for (const auto &[escape, text] : named) {
        const std::size_t length = std::char_traits<char>::length(escape);
        if (line.compare(at, length, escape) == 0) {
            out += text;
            return length;
        }
    }
    return 0;
}

// The escapes of roff that the pages use in examples, undone.
std::string unescape_roff(const std::string &line) {
    std::string out;
    for (std::size_t i = 0; i < line.size();) {
        if (line[i] != '\\') {
            out += line[i++];
            continue;
        }
        if (line.compare(i, 3, "\\[u") == 0) {
            const std::size_t end = line.find(']', i);
            out += utf8_of(static_cast<char32_t>(std::stoul(line.substr(i + 3, end - i - 3), nullptr, 16)));
            i = end + 1;
            continue;
        }
        const std::size_t length = undo_named_escape(line, i, out);
        if (length == 0) throw std::runtime_error("unknown roff escape in example line: " + line);
        i += length;
    }
    return out;
}

std::vector<example> manual_examples(const std::string &path, const std::string &name) {
    std::vector<example> examples;
    const std::vector<std::string> lines = lines_of(path);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const bool ex = lines[i] == ".EX", nf = lines[i] == ".nf";
        if (!ex && !nf) continue;
        std::vector<std::string> block;
        bool has_command = false;
        std::size_t j = i + 1;
        for (; j < lines.size() && lines[j] != (ex ? ".EE" : ".fi"); ++j) {
            if (starts_with(lines[j], ".")) continue;  // font changes and the like
            has_command |= starts_with(lines[j], "$ ");
            block.push_back(lines[j]);
        }
        if (has_command) {
            for (std::string &line : block) line = unescape_roff(line);
            examples.push_back({name + ":" + std::to_string(i + 1), read_block(block)});
        }
        i = j;
    }
    return examples;
}

std::vector<example> all_examples() {
    std::vector<example> examples = readme_examples(VIQR_SOURCE_DIR "/README.md", "README.md");
    std::vector<fs::path> pages;
    for (const auto &entry : fs::directory_iterator(VIQR_SOURCE_DIR "/man")) {
        const std::string extension = entry.path().extension().string();
        if (extension == ".1" || extension == ".3") pages.push_back(entry.path());
    }
    std::sort(pages.begin(), pages.end());
    for (const fs::path &page : pages) {
        std::vector<example> more = manual_examples(page.string(), "man/" + page.filename().string());
        examples.insert(examples.end(), more.begin(), more.end());
    }
    return examples;
}

const std::vector<example> examples = all_examples();

// A folder that stands for the top of the source tree, with the example
// files beside it.
void make_tree_top(const scratch_dir &dir) {
    for (const auto &entry : fs::directory_iterator(VIQR_SOURCE_DIR)) {
        const std::string name = entry.path().filename().string();
        if (name == ".git") continue;
        fs::create_symlink(entry.path(), dir.path() + "/" + name);
    }
    for (const auto &entry : fs::directory_iterator(VIQR_SOURCE_DIR "/tests/example_files"))
        fs::copy_file(entry.path(), dir.path() + "/" + entry.path().filename().string(),
                      fs::copy_options::overwrite_existing);
}

// One bash script for the block: after each command a separator byte, the
// command's status kept for the next one.
constexpr char SEPARATOR = '\x1E';

std::string script_of(const example &e) {
    std::string script = "export PATH=" + shell_quote(VIQR_PROGRAM_DIR) + ":\"$PATH\"\n";
    for (const command &c : e.commands)
        script += c.line + "\n__status=$?; printf '\\036'; (exit $__status)\n";
    return script;
}

std::vector<std::string> outputs_of(const std::string &all) {
    std::vector<std::string> outputs(1);
    for (char c : all) {
        if (c == SEPARATOR) {
            std::string &last = outputs.back();
            if (!last.empty() && last.back() != '\n') last += '\n';
            outputs.emplace_back();
        } else {
            outputs.back() += c;
        }
    }
    outputs.pop_back();  // what came after the last separator: nothing
    return outputs;
}

class Example : public testing::TestWithParam<example> {};

TEST_P(Example, GivesTheOutputShown) {
    const example &e = GetParam();
    ASSERT_FALSE(e.commands.empty());
    scratch_dir dir;
    make_tree_top(dir);
    dir.write(".example.sh", script_of(e));
    const run_result r = run_shell("cd " + shell_quote(dir.path()) + " && timeout 60 bash .example.sh 2>&1 < /dev/null");
    const std::vector<std::string> outputs = outputs_of(r.out);
    ASSERT_EQ(outputs.size(), e.commands.size()) << "the block stopped early; it wrote:\n" << r.out;
    for (std::size_t i = 0; i < outputs.size(); ++i)
        EXPECT_EQ(outputs[i], e.commands[i].output) << "$ " << e.commands[i].line;
}

INSTANTIATE_TEST_SUITE_P(AsPrinted, Example, testing::ValuesIn(examples), [](const auto &info) {
    std::string name;
    for (char c : info.param.where) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
});

// The rule above must find the examples it is meant for, not silently none.
TEST(Examples, EveryPageAndTheReadmeHaveSome) {
    for (const std::string source : {"README.md", "man/tonedown.1", "man/toneup.1", "man/tonefix.1"}) {
        bool found = false;
        for (const example &e : examples) found |= starts_with(e.where, source + ":");
        EXPECT_TRUE(found) << source;
    }
}

}  // namespace
