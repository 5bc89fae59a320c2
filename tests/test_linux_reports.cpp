// Real files of the kinds Linux programs write (examples/linux): a README
// with tabs and braces taken as plain text, a manual page
// rendered with overstrike, statements in UTF-8 and Windows-1252, a CP437
// ledger. Each gives back every word of its text through pdftotext -layout,
// in the right characters, in order.
#include "tests/pdftestutil.h"

#include "base/textencoding.h"

#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <algorithm>
#include <fstream>
#include <map>
#include <iterator>
#include <sstream>

namespace quillard::test {
namespace {

std::string ReadBytes(const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The words a reader sees in a report: its text as UTF-8 without the
// overstruck characters, the tags and the box-drawing characters.
std::vector<std::string> WordsOf(std::string Bytes, const std::string& Encoding, bool Plain)
{
    if (Encoding == "cp1252")
        Bytes = Cp1252ToUtf8(Bytes);
    else if (Encoding == "cp437")
        Bytes = Cp437ToUtf8(Bytes);
    else if (Bytes.rfind("\xEF\xBB\xBF", 0) == 0)
        Bytes.erase(0, 3);
    std::string text;
    for (size_t i = 0; i < Bytes.size();) {
        if (i + 1 < Bytes.size() && Bytes[i + 1] == '\b') {
            i += 2;  // struck over by what follows
            continue;
        }
        if (Bytes[i] == '{' && !Plain) {
            const size_t close = Bytes.find('}', i);
            i = close == std::string::npos ? Bytes.size() : close + 1;
            continue;
        }
        const size_t from = i;
        const char32_t c = DecodeUtf8(Bytes, i);
        if (c >= 0x2500 && c <= 0x259F)
            text += ' ';
        else
            text.append(Bytes, from, i - from);
    }
    std::istringstream words(text);
    return {std::istream_iterator<std::string>(words), {}};
}

struct LinuxReport {
    const char* Name;
    const char* File;
    const char* Encoding;  // of the file, for the words
    QStringList Options;
    int Pages;
};

class LinuxReportTest : public ::testing::TestWithParam<LinuxReport> {};

TEST_P(LinuxReportTest, GivesBackEveryWord)
{
    const LinuxReport& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string source = std::string(QUILLARD_SOURCE_DIR) + "/examples/linux/" + c.File;
    const std::string pdf = dir.filePath("out.pdf").toStdString();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.insert("CUPS_SERVER", "/nonexistent/quillard-no-cups.sock");
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("XDG_CONFIG_DIRS", dir.filePath("system"));
    const TToolRun r =
        RunTool(QUILLARD_BINARY, QStringList(c.Options) << "--quiet" << "--pdf" << QString::fromStdString(pdf)
                                                        << QString::fromStdString(source),
                env);
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(PdfInfo(pdf, "Pages"), std::to_string(c.Pages));
    const std::string text = PdfText(pdf, 0, 0, true);
    size_t at = 0;
    for (const std::string& word : WordsOf(ReadBytes(source), c.Encoding, c.Options.contains("--plain"))) {
        const size_t found = text.find(word, at);
        ASSERT_NE(found, std::string::npos) << "\"" << word << "\" after byte " << at << " of\n" << text;
        at = found + word.size();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Examples, LinuxReportTest,
    ::testing::Values(LinuxReport{"PlainReadmeWithTabsAndBraces", "README-lf.txt", "utf-8", {"--plain", "--paginate"}, 3},
                      LinuxReport{"ManualPageWithOverstrike", "manual-page.txt", "utf-8", {}, 1},
                      LinuxReport{"Utf8Statement", "statement-utf-8.txt", "utf-8", {}, 1},
                      LinuxReport{"Windows1252Statement", "statement-cp1252.txt", "cp1252", {}, 1},
                      LinuxReport{"Cp437Ledger", "ledger-cp437.txt", "cp437", {"--encoding=cp437"}, 1}),
    [](const auto& info) { return std::string(info.param.Name); });

// Any text file of this machine, with no option at all, through standard
// input: every word comes back, on the pages a line printer gives (66 lines a
// Letter page).
struct MachineFile {
    const char* Name;
    const char* Command;  // its text on standard output
    bool LinePrinterPages;  // the page count is its lines over 66
};

class MachineFileTest : public ::testing::TestWithParam<MachineFile> {};

TEST_P(MachineFileTest, PrintsWholeWithoutAnOption)
{
    const MachineFile& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString input = dir.filePath("input.txt"), pdf = dir.filePath("out.pdf");
    const TToolRun made = RunTool("sh", {"-c", QString("cd '%1' && (%2) > '%3'").arg(QUILLARD_SOURCE_DIR, c.Command, input)});
    const std::string text = ReadBytes(input.toStdString());
    ASSERT_GT(text.size(), 1000u) << made.Err;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.insert("CUPS_SERVER", "/nonexistent/quillard-no-cups.sock");
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("XDG_CONFIG_DIRS", dir.filePath("system"));
    const TToolRun r = RunTool("sh", {"-c", QString("'%1' --pdf '%2' - < '%3'").arg(QUILLARD_BINARY, pdf, input)}, env);
    ASSERT_EQ(r.Code, 0) << r.Err;
    for (const char* lost : {"not shown", "cut there", "could not be drawn"})
        EXPECT_EQ(r.Err.find(lost), std::string::npos) << r.Err;

    std::map<std::string, int> missing;
    const std::vector<std::string> words = WordsOf(text, "utf-8", true);
    for (const std::string& w : words)
        ++missing[w];
    std::istringstream back(PdfText(pdf.toStdString(), 0, 0, true));
    for (std::string w; back >> w;)
        if (auto it = missing.find(w); it != missing.end() && it->second > 0)
            --it->second;
    size_t lost = 0;
    for (const auto& [w, n] : missing)
        lost += n;
    EXPECT_LE(lost * 1000, words.size() * 5) << lost << " of " << words.size() << " words lost";
    if (c.LinePrinterPages) {
        const size_t lines = std::count(text.begin(), text.end(), '\n');
        EXPECT_EQ(PdfInfo(pdf.toStdString(), "Pages"), std::to_string((lines + 65) / 66));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, MachineFileTest,
    ::testing::Values(
        // A manual page as man writes it into a pipe (or groff, where man
        // has no pages installed).
        MachineFile{"ManualPage", "man ls 2>/dev/null | grep -q . && man ls || groff -man -Tutf8 -P-cbou docs/quillard.1", true},
        MachineFile{"Readme", "cat README.md", false},
        MachineFile{"PackageList", "COLUMNS=200 dpkg -l", false},
        MachineFile{"PythonSource", "cat tests/hostile/run.py", false},
        MachineFile{"FiveHundredColumns",
                    "for i in $(seq 1 60); do for j in $(seq 1 60); do printf 'word%d-%d ' $i $j; done; echo; done", false},
        MachineFile{"PrPages", "(man ls 2>/dev/null | grep -q . && man ls || groff -man -Tutf8 -P-cbou docs/quillard.1) | pr -l 66",
                    true}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace quillard::test
