// Full pages on the command line, run as the real program: text below the
// bottom of a page, the page set-up options over the header, --plain, and the
// line ends by --line-ends or the "Line Ends" setting.
#include "pdftestutil.h"

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

using namespace quillard::test;

namespace {

std::string Numbered(int Lines)
{
    std::string r;
    for (int i = 1; i <= Lines; ++i)
        r += "Line " + std::to_string(i) + " of the report\n";
    return r;
}

std::string Letters(size_t Count)
{
    std::string r(Count, ' ');
    for (size_t i = 0; i < Count; ++i)
        r[i] = static_cast<char>('A' + i % 26);
    return r;
}

std::vector<std::string> SplitLines(const std::string& Text)
{
    std::vector<std::string> out;
    std::istringstream in(Text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// What the stderr of a run says about text below the bottom of its pages.
std::string BelowLines(const std::string& Err)
{
    std::string out;
    for (const std::string& line : SplitLines(Err))
        if (line.find("fell below the bottom") != std::string::npos)
            out += line + "\n";
    return out;
}

class FullPages : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    QString Write(const std::string& Name, const std::string& Bytes)
    {
        const QString path = Dir.filePath(QString::fromStdString(Name));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(Bytes.data(), static_cast<qint64>(Bytes.size()));
        return path;
    }
    TToolRun Run(const QStringList& Args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("CUPS_SERVER", "/nonexistent/quillard-no-cups.sock");
        // The user's settings: a scratch store, empty unless a test fills it.
        env.insert("XDG_CONFIG_HOME", Dir.filePath("config"));
        return RunTool(QUILLARD_BINARY, Args, env);
    }
    // Writes the report as OUT.pdf with the options; the run must succeed.
    TToolRun Pdf(const std::string& Report, const QStringList& Options, std::string& Out)
    {
        Out = Dir.filePath("out.pdf").toStdString();
        TToolRun r = Run(QStringList(Options) << "--pdf" << QString::fromStdString(Out) << Write("report.txt", Report));
        EXPECT_EQ(r.Code, 0) << r.Err;
        return r;
    }
};

struct PdfCase {
    const char* Name;
    std::string Report;
    QStringList Options;
    std::string Below;     // what stderr says about text below the bottom
    int Pages;
    int FirstPageLines;    // lines of text on page 1; 0: not looked at
    std::string PageSize;  // pdfinfo's; empty: not looked at
    std::vector<std::string> Shown;  // whole lines pdftotext -layout shows
};
void PrintTo(const PdfCase& c, std::ostream* os) { *os << c.Name; }

class FullPagesPdf : public FullPages, public ::testing::WithParamInterface<PdfCase> {};

TEST_P(FullPagesPdf, LaysOutThePages)
{
    const PdfCase& c = GetParam();
    std::string pdf;
    const TToolRun r = Pdf(c.Report, c.Options, pdf);
    EXPECT_EQ(BelowLines(r.Err), c.Below);
    EXPECT_EQ(PdfInfo(pdf, "Pages"), std::to_string(c.Pages));
    if (c.FirstPageLines > 0) {
        int lines = 0;
        for (const std::string& line : SplitLines(PdfText(pdf, 1, 1)))
            lines += !line.empty() && line != "\f";
        EXPECT_EQ(lines, c.FirstPageLines);
    }
    if (!c.PageSize.empty()) {
        EXPECT_EQ(PdfInfo(pdf, "Page size"), c.PageSize);
    }
    const std::string text = PdfText(pdf, 0, 0, true);
    for (const std::string& want : c.Shown)
        EXPECT_NE(("\n" + text).find("\n" + want + "\n"), std::string::npos) << want << " is not a line of\n" << text;
}

const std::string PlainReport = "{INIT PAPER=A4 LPP=10 PAGINATE}\nHello {B}bold{/B} AT&T &amp; {\n\tTabbed\n";

INSTANTIATE_TEST_SUITE_P(
    Options, FullPagesPdf,
    ::testing::Values(
        // Under the report's rules 58 lines of Courier 12 pt fill the
        // Letter sheet, the baseline of the 59th is on it too (its
        // descenders are cut); the rest is lost, and said.
        PdfCase{"TextBelowTheBottomIsSaidOnce", Numbered(127), {"--markup"},
                "quillard: warning: 68 lines fell below the bottom of page 1 and are not shown; --plain lays the file "
                "out as plain text, --paginate breaks full pages\n",
                1, 59, "", {"Line 59 of the report"}},
        PdfCase{"QuietSaysNothing", Numbered(127), {"--markup", "--quiet"}, "", 1, 59, "", {}},
        PdfCase{"PaginateBreaksFullPages", Numbered(127), {"--markup", "--paginate"}, "", 3, 58, "", {"Line 127 of the report"}},
        // Without an option the same file is plain text, on a line
        // printer's pages.
        PdfCase{"PlainTextByDefaultOnLinePrinterPages", Numbered(133), {}, "", 3, 66, "", {"Line 132 of the report"}},
        PdfCase{"SixtySixLinesFillThePage", Numbered(132), {"--lines-per-page", "66", "--paginate"}, "", 2, 66, "", {}},
        PdfCase{"TheSixtySeventhLineFallsBelow", Numbered(67), {"--markup", "--lines-per-page=66"},
                "quillard: warning: 1 line fell below the bottom of page 1 and is not shown; --plain lays the file "
                "out as plain text, --paginate breaks full pages\n",
                1, 66, "", {}},
        PdfCase{"EightLinesAnInchOnNineInches", Numbered(127), {"--lpi", "8", "--margins=1in", "--paginate"}, "", 2, 72, "", {}},
        PdfCase{"Landscape", Numbered(3), {"--landscape"}, "", 1, 3, "792 x 612 pts (letter)", {}},
        PdfCase{"PaperOverTheHeader", "{INIT PAPER=LEGAL ORIENTATION=LANSCAPE}\nx\n", {"--paper", "a4"}, "", 1, 0,
                "842 x 595 pts (A4)", {}},
        PdfCase{"PlainKeepsBracesAsText", PlainReport + Letters(300) + "\n", {"--plain"}, "", 1, 0, "612 x 792 pts (letter)",
                {"{INIT PAPER=A4 LPP=10 PAGINATE}", "Hello {B}bold{/B} AT&T &amp; {", "        Tabbed"}},
        PdfCase{"PlainWrapsAtTheLastSpace", std::string(80, 'x') + " words after\n", {"--plain"}, "", 1, 2, "",
                {std::string(80, 'x'), "words after"}},
        PdfCase{"PlainBreaksAtFormFeeds", "one\ftwo\n", {"--plain"}, "", 2, 1, "", {}},
        PdfCase{"PrinterLineEnds", "aaaa\nbbbb\n", {"--line-ends=printer"}, "", 1, 2, "", {"aaaa", "    bbbb"}},
        PdfCase{"UnixLineEnds", "aaaa\nbbbb\n", {"--line-ends=unix"}, "", 1, 2, "", {"aaaa", "bbbb"}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(FullPages, PlainLosesNoCharacterOfLongLines)
{
    // 300 characters, and a line longer than the reader's piece of a megabyte.
    for (const size_t length : {size_t{300}, size_t{(1 << 20) + 1000}}) {
        const std::string line = Letters(length);
        std::string pdf;
        Pdf(line + "\nend\n", {"--plain"}, pdf);
        std::string text = PdfText(pdf);
        std::erase(text, '\f');
        for (const std::string& shown : SplitLines(text))
            EXPECT_LE(shown.size(), 85u);
        std::erase(text, '\n');
        EXPECT_EQ(text, line + "end") << length;
    }
}

// A UTF-8 character takes one cell however many bytes it has: 170 of them
// wrap at the same column as 170 letters (80 on a Letter page inside its
// quarter-inch margins).
TEST_F(FullPages, PlainWrapsUtf8ByCharacters)
{
    std::string line;
    for (int i = 0; i < 170; ++i)
        line += "\xC3\xA9";
    std::string pdf;
    Pdf(line + "\n", {"--plain"}, pdf);
    const std::vector<std::string> shown = SplitLines(PdfText(pdf));
    ASSERT_GE(shown.size(), 2u);
    EXPECT_EQ(shown[0].size(), 2 * 80u);
    EXPECT_EQ(shown[1].size(), 2 * 80u);
}

TEST_F(FullPages, EveryOutputSaysWhatFellBelowTheBottom)
{
    const QString report = Write("report.txt", Numbered(300));
    const std::vector<QStringList> runs = {{"--markup", "--count-pages", report},
                                           {"--markup", "--png", Dir.filePath("p.png"), report}};
    for (const QStringList& args : runs) {
        const TToolRun r = Run(args);
        EXPECT_EQ(r.Code, 0) << r.Err;
        const std::string below = BelowLines(r.Err);
        EXPECT_NE(below.find(" below the bottom of page 1 "), std::string::npos) << below;
        EXPECT_EQ(std::count(below.begin(), below.end(), '\n'), 1) << below;
        EXPECT_EQ(BelowLines(Run(QStringList{"--paginate"} << args).Err), "");
    }
    EXPECT_EQ(Run({"--markup", "--count-pages", report}).Out, "1\n");
    EXPECT_NE(Run({"--count-pages", "--plain", report}).Out, "1\n");
}

// Whatever a run loses is said once for each kind, with its count and what
// keeps it; --quiet says nothing; plain text loses nothing of the same.
TEST_F(FullPages, WhatARunLosesIsSaidOnceForEachKind)
{
    Write("NOTES.TXT", "not a picture");
    struct Case {
        const char* Name;
        std::string Report;
        const char* Said;  // the one warning about lost text, or none
    };
    const Case cases[] = {
        {"lines cut at the right edge", "{B}Wide{/B}\r\n" + Letters(200) + "\r\n" + Letters(90) + "   \r\n" + Letters(60) + "\r\n",
         "quillard: warning: 2 lines ran past the right edge of the page (from page 1 on) and are cut there; --plain wraps "
         "long lines\n"},
        {"spaces past the edge lose nothing", "{B}Wide{/B}\r\n" + Letters(80) + std::string(40, ' ') + "\r\n", nullptr},
        {"a picture that cannot be drawn", "{IMAGE SRC=NOTES.TXT}\r\n{IMAGE SRC=NOTES.TXT}\r\n",
         "quillard: warning: 2 pictures could not be drawn\n"},
        {"plain text wraps instead", Letters(200) + "\n", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::string pdf;
        const TToolRun r = Pdf(c.Report, {}, pdf);
        std::string said;
        for (const std::string& line : SplitLines(r.Err))
            if (line.find("no printer") == std::string::npos)
                said += line + "\n";
        EXPECT_EQ(said, c.Said ? c.Said : "");
        EXPECT_EQ(Pdf(c.Report, {"--quiet"}, pdf).Err, "");
    }
}

TEST_F(FullPages, TheLineEndsSettingAndTheOptionOverIt)
{
    QDir().mkpath(Dir.filePath("config/Merrowgate"));
    Write("config/Merrowgate/Quillard.conf", "[General]\nLine Ends=Printer\n");
    std::string pdf;
    Pdf("aaaa\nbbbb\n", {}, pdf);
    EXPECT_EQ(PdfText(pdf, 0, 0, true), "aaaa\n    bbbb\n\f");
    Pdf("aaaa\nbbbb\n", {"--line-ends=auto"}, pdf);
    EXPECT_EQ(PdfText(pdf, 0, 0, true), "aaaa\nbbbb\n\f");
}

}  // namespace
