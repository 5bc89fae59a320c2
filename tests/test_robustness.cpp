// Inputs found by fuzzing and by review of the page pass that once crashed,
// hung or ran into undefined behaviour. Each must now end normally with the
// result the same report gives when written plainly.
#include <cstdlib>
#include "tests/testutil.h"

#include "engine/autotext.h"
#include "base/bytefile.h"
#include "engine/fileeditor.h"
#include "engine/services.h"
#include "surfaces/pdfcanvas.h"

#include <chrono>
#include <climits>
#include <functional>
#include <cstring>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace quillard::test {
namespace {

class RobustnessTest : public EngineTest {
protected:
    // Page N of Bytes, as drawn on a fresh page bitmap.
    QImage Draw(const std::string& Bytes, int N)
    {
        EXPECT_TRUE(RenderReport(Bytes, N));
        return Page->Image().copy();
    }
};

// The page number field may start the numbers at the largest integer; the
// next page must not step past it.
TEST_F(RobustnessTest, PageNumberStartedAtTheLargestValueStaysThere)
{
    const std::string report = "{FIELD CODE=PAGE START=2147483647}\r\n{PAGE}\r\n{FIELD CODE=PAGE} end";
    R->OpenFile(Write(report), nullptr);
    EXPECT_EQ(R->CountPages(), 2);
    EXPECT_EQ(R->Pass.PageNumber, INT_MAX);

    const QImage second = Draw(report, 2);
    EXPECT_TRUE(second == Draw("2147483647 end", 1));
    EXPECT_TRUE(Services.Messages.empty());
}

// A tag left open runs on over the following lines until a closing brace.
// Joining them must take time in proportion to the text, not to its square
// (400 000 short lines took minutes).
struct OpenTagCase {
    const char* Name;
    std::string Line;  // each continuation line
};

class OpenTagTest : public RobustnessTest, public ::testing::WithParamInterface<OpenTagCase> {};

TEST_P(OpenTagTest, JoinsManyLinesInLinearTime)
{
    std::string report = "{GOBY X=1in";
    for (int i = 0; i < 400000; ++i)
        report += GetParam().Line + "\r\n";
    report += " Y=1in}moved";

    // The quadratic join took minutes: the test's time limit in ctest would
    // stop it; the benchmarks measure the speed.
    const QImage page = Draw(report, 1);
    EXPECT_EQ(R->CurrentPage, 1);
    EXPECT_TRUE(Services.Messages.empty());

    // The joined tag is one {GOBY} whose last attribute counts: the text moves
    // down an inch, as in the same report written on one line.
    EXPECT_TRUE(page == Draw("{GOBY X=1in Y=1in}moved", 1));
}

INSTANTIATE_TEST_SUITE_P(Continuation, OpenTagTest,
                         ::testing::Values(OpenTagCase{"PlainLines", " junk"}, OpenTagCase{"LinesWithEquals", " A=1"},
                                           OpenTagCase{"LinesEndingInDat", " DAT"}),
                         [](const auto& info) { return std::string(info.param.Name); });

// "DATA=" split by the join of two lines still counts as in-line data: the
// rest of the line is one tag.
TEST_F(RobustnessTest, DataWordAcrossAJoinedLineIsStillFound)
{
    R->OpenFile(Write("{IMG DAT\r\nA=\"xy\" DATALEN=2}after\r\nnext"), nullptr);
    ASSERT_TRUE(R->RenderPages(nullptr, 0, nullptr, 0));
    EXPECT_NE(R->PageSpan().Text.find("{IMG DATA=\"XY\" DATALEN=2}AFTER"), std::string::npos) << R->PageSpan().Text;
}

// Closing a repeated header or footer saves a copy of it in the enclosing
// span, with the copies that span already held. Copying those again each
// time doubled the copies with every pair of tags: fourteen pairs on one line
// (700 bytes) took 10 GB. Now the saved copies are shared, so a line of n
// pairs keeps 2n of them.
TEST_F(RobustnessTest, RepeatedHeadersOnOneLineKeepOneCopyEach)
{
    const int pairs = 10;
    std::string line;
    for (int i = 0; i < pairs; ++i)
        line += "{HEADER REPEAT=Y}{/HEADER}{FOOTER REPEAT=Y}{/FOOTER}";
    ASSERT_TRUE(RenderReport(line + "x", 1));

    std::set<const tSpan*> copies;
    std::function<void(const tSpan*)> walk = [&](const tSpan* s) {
        if (!s || !copies.insert(s).second)
            return;
        walk(s->Header.get());
        walk(s->Footer.get());
    };
    const tSpan& page = R->PageSpan();
    ASSERT_TRUE(page.Header && page.Footer);
    walk(page.Header.get());
    walk(page.Footer.get());
    EXPECT_LE(copies.size(), size_t(2 * pairs));
    // The last header copy still holds the copies made before it.
    EXPECT_TRUE(page.Header->Header && page.Header->Footer);
    EXPECT_TRUE(Services.Messages.empty());
}

// Search hits on many pages: each page is recorded once, in order, and
// recording does not look through the whole list for every line (100 000
// pages with a hit took minutes).
TEST_F(RobustnessTest, SearchHitsOnManyPagesAreRecordedOnceInLinearTime)
{
    std::string report, expected;
    for (int page = 1; page <= 100000; ++page) {
        report += "hit\r\nhit\f";
        expected += "," + std::to_string(page) + ",";
    }
    R->Find.Text = "HIT";
    R->OpenFile(Write(report), nullptr);
    // The old way took more than two minutes; the test's time limit in
    // ctest stops such a pass.
    ASSERT_TRUE(R->RenderPages(nullptr, 0, nullptr, 0));
    EXPECT_EQ(R->CurrentPage, 100000);
    EXPECT_TRUE(R->Find.FoundPages == expected);
}


// ---- lines with very many tags -------------------------------------------------
// These once took time in proportion to the square of the line's length (a
// line of 100 000 image tags took a minute and a half, 20 000 right-aligned
// runs half a minute; bench/longline_bench.cpp measures them). What they draw
// is pinned here.

// The image tags of a line on a page that is not drawn are stepped over one
// at a time, each time the first "{IMG" of what is left, until one has data.
struct SkipCase {
    const char* Name;
    std::string Tag;     // as the pass hands it over (upper case)
    std::string Rest;    // what is left of it
    bool DataSkipped;    // the in-line data was found and stepped over
};

class SkipImageDataTest : public RobustnessTest, public ::testing::WithParamInterface<SkipCase> {};

TEST_P(SkipImageDataTest, StepsOverTheTagsAsTheyComeFirst)
{
    const SkipCase& c = GetParam();
    // The physical line: the tags, then data of the block the first tag with
    // a length names, then more text.
    const std::string line = "x" + c.Tag + "\r\nnext line\r\n";
    const std::string path = Write(line);
    TByteFile f;
    f.Open(path);
    const int64_t end = int64_t(line.find("\r\n"));
    f.Seek(end);
    std::string tag = c.Tag, lineEnd = "\r\n";
    R->DelImageData(f, 0, lineEnd, tag);
    EXPECT_EQ(tag, c.Rest);
    if (c.DataSkipped) {
        EXPECT_TRUE(lineEnd.empty());
        const size_t data = line.find("DATA=\"") + 6;
        EXPECT_EQ(f.Position(), int64_t(data + 3 + 2));  // three bytes, the quote and the brace
    } else {
        EXPECT_EQ(lineEnd, "\r\n");
        EXPECT_EQ(f.Position(), end);
    }
    EXPECT_TRUE(Services.Messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Tags, SkipImageDataTest,
    ::testing::Values(SkipCase{"NoImageTag", "{PEN WIDTH=2}", "{PEN WIDTH=2}", false},
                      SkipCase{"EmptyTagsGo", "{IMG}{IMG X=1}REST", "REST", false},
                      SkipCase{"LowerCaseToo", "{img}{IMG}{img}A", "A", false},
                      // Taking a tag out joins what was around it into a new one.
                      SkipCase{"JoinedTagGoesToo", "{{IMG}IMG}B", "B", false},
                      SkipCase{"DeeplyJoined", "{{{IMG}IMG}IMG}C", "C", false},
                      // Without a closing brace only "{IMG" goes.
                      SkipCase{"Unclosed", "A{IMG B{IMG", "A B", false},
                      SkipCase{"NoLengthNoData", "{IMG DATA=\"ABC\"}R", "R", false},
                      SkipCase{"ZeroLength", "{IMG DATALEN=0 DATA=\"ABC\"}R", "R", false},
                      SkipCase{"DataAfterEmptyTags", "{IMG}{IMG}{IMG DATALEN=3 DATA=\"ABC\"}", "", true},
                      SkipCase{"LengthOutsideTheTag", "{IMG}DATALEN=3 {IMG DATA=\"ABC\"}", "DATALEN=3 ", false},
                      SkipCase{"ManyTagsThenData", [] {
                                   std::string t;
                                   for (int i = 0; i < 20000; ++i)
                                       t += "{IMG}";
                                   return t + "{IMG DATALEN=3 DATA=\"ABC\"}";
                               }(),
                               "", true},
                      SkipCase{"ManyTagsNoData", [] {
                                   std::string t = "{IMG DATALEN=0 DATA=\"";
                                   for (int i = 0; i < 20000; ++i)
                                       t += "{IMG}";
                                   return t;
                               }(),
                               "", false}),
    [](const auto& info) { return std::string(info.param.Name); });

// A field's text is drawn as the next run of the line: a line of many
// fields draws as the same line with the numbers written out, also when a
// field's text is longer than everything before it on the line.
struct FieldLineCase {
    const char* Name;
    std::string WithFields, Written;
};

class FieldLineTest : public RobustnessTest, public ::testing::WithParamInterface<FieldLineCase> {};

TEST_P(FieldLineTest, DrawsAsTheTextWrittenOut)
{
    const FieldLineCase& c = GetParam();
    EXPECT_TRUE(Draw(c.WithFields, 1) == Draw(c.Written, 1));
    EXPECT_TRUE(Services.Messages.empty());
}

std::string Times(const std::string& S, int N)
{
    std::string out;
    for (int i = 0; i < N; ++i)
        out += S;
    return out;
}

// Each field stands between tags, as its written-out number does, so that
// both lines are drawn in the same runs.
INSTANTIATE_TEST_SUITE_P(
    Lines, FieldLineTest,
    ::testing::Values(FieldLineCase{"ManyFields", Times("p{U}{FIELD CODE=PAGE}{/U} ", 300), Times("p{U}1{/U} ", 300)},
                      FieldLineCase{"LongerThanTheLineBefore",
                                    "{FIELD CODE=PAGE START=90000 STYLE=ROMAN}{U}x{/U}{FIELD CODE=PAGE}",
                                    std::string(90, 'M') + "{U}x{/U}" + std::string(90, 'M')},
                      FieldLineCase{"FieldsAroundInlineData",
                                    "{FIELD CODE=PAGE}{U}a{/U}{FIELD CODE=PAGE}{IMG DATA=\"xy\" DATALEN=2}b",
                                    "1{U}a{/U}1"}),
    [](const auto& info) { return std::string(info.param.Name); });

// A right-aligned line measures the rest of the line for every run. A long
// line (measured character by character) of many runs still ends at the
// right edge, where a short line with the same last run ends.
TEST_F(RobustnessTest, LongRightAlignedLineOfManyRunsEndsAtTheEdge)
{
    std::string runs = "{ALIGN=RIGHT}{CPI17}";
    for (int i = 0; i < 400; ++i)
        runs += "ab{U}cd{/U}";
    ASSERT_GT(runs.size(), 2048u);
    const TInkBox many = InkBox(Draw(runs, 1));
    const TInkBox few = InkBox(Draw("{ALIGN=RIGHT}{CPI17}ab{U}cd{/U}", 1));
    ASSERT_FALSE(few.Empty());
    EXPECT_EQ(many.Right, few.Right);
    EXPECT_LT(many.Left, few.Left);
    EXPECT_TRUE(Services.Messages.empty());
}

// The measure of a text given in pieces is the measure of the joined text,
// on both kinds of surface, for short and long texts and tails measured in
// several fonts.
TEST(JoinedTextWidth, IsTheWidthOfTheJoinedText)
{
    InstallFontSubstitutions();
    std::string tail;
    for (int i = 0; i < 3000; ++i)
        tail += char(32 + (i * 7) % 200);
    struct Piece {
        std::string Head;
        size_t From, To;
    };
    const Piece pieces[] = {{"", 0, 0},        {"abc", 0, 10},      {"", 10, 900},      {"  x", 2000, 3000},
                            {"head", 5, 1200}, {"W", 1, 2999},      {"", 2999, 3000},   {std::string(1500, 'i'), 100, 110}};
    TImageCanvas screen(10, 10, 96, 96);
    TPdfCanvas pdf;
    for (TRenderingCanvas* c : std::initializer_list<TRenderingCanvas*>{&screen, &pdf}) {
        for (const char* font : {"Arial", "Times New Roman", "Courier New"}) {
            for (int style : {0, int(fsBold)}) {
                c->Font.Name = font;
                c->Font.Size = 11;
                c->Font.Style = TFontStyles(style);
                c->FontChanged();
                for (const Piece& p : pieces)
                    EXPECT_EQ(c->TextWidthJoined(p.Head, tail, p.From, p.To, 77),
                              c->TextWidth(p.Head + tail.substr(p.From, p.To - p.From)))
                        << font << " " << style << " " << p.Head.size() << " " << p.From << "-" << p.To;
            }
        }
    }
}

// The items of a report with many spans, some never closed: read as they
// always were (an item's text runs to the next closing tag, or to the end),
// and in time in proportion to the report.
TEST_F(RobustnessTest, ItemsAmongManyUnclosedSpans)
{
    std::string report;
    for (int i = 0; i < 30000; ++i)
        report += "{SPAN LEFT=1in}";
    report += "{SPAN CLASS=\"AutoText\" NAME=\"A\" TOP=1in LEFT=2in}{B}one{/B}{/SPAN}";
    report += "{span class=autoshape}{PEN WIDTH=\"3pt\" FILLSTYLE=\"SOLID\" COLOR=\"RED\"}{OVAL ABSOLUTE FROM=\"1in,1\" TO=\"2in,2\"}";
    report += "{SPAN NAME=\"CLASS\" CLASS=AUTOTEXT}open to the end";
    int errors = -1;
    const auto items = ReadAutoTextSpans(*R, report, errors);
    EXPECT_EQ(errors, 0);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].Kind, "AUTOTEXT");
    EXPECT_EQ(items[0].DisplayText, "one");
    EXPECT_TRUE(items[0].Bold);
    EXPECT_EQ(items[0].PosX, 2.0);
    EXPECT_EQ(items[1].Kind, "OVAL");
    EXPECT_TRUE(items[1].Filled);
    EXPECT_EQ(items[1].FontSizeOrWidth, 3);
    EXPECT_EQ(items[1].EndX, 2.0);
    EXPECT_EQ(items[2].Kind, "AUTOTEXT");
    EXPECT_EQ(items[2].DisplayText, "open to the end");
    EXPECT_EQ(items[2].SpanPos, int(report.rfind("{SPAN NAME")) + 1);
}

// ---- a report that is no regular file ------------------------------------------

// A FIFO named as the report once held every reader of it in open() for ever
// (a page count, a load over D-Bus); a character device was read as an empty
// report or failed with "Bad file descriptor". Every reader refuses anything
// but a regular file at once, saying what it is, and leaves it as it was.
struct NotRegularKind {
    const char* Name;
    std::function<std::string(const std::string& Folder)> Make;  // gives the report's name
    const char* Says;
};

struct ReportReader {
    const char* Name;
    // Reads the report Path; false when it refused.
    std::function<bool(tRenderer& R, const std::string& Path)> Read;
};

const ReportReader ReportReaders[] = {
    {"HeaderScan", [](tRenderer& R, const std::string& Path) { return R.OpenFile(Path, nullptr); }},
    {"PagePass",
     [](tRenderer& R, const std::string& Path) {
         R.FileName = Path;
         return R.RenderPages(nullptr, 0, nullptr, 0);
     }},
    {"FileEditor",
     [](tRenderer& R, const std::string& Path) {
         R.FileName = Path;
         tFileEditor editor(&R);
         return editor.Load();
     }},
    {"AddText", [](tRenderer&, const std::string& Path) { return AddTextToReportFile(Path, "{SPAN}x{/SPAN}", 1); }},
    {"WholeReport",
     [](tRenderer&, const std::string& Path) {
         try {
             ReadWholeReport(Path);
             return true;
         } catch (const std::exception& e) {
             ShowMessage(e.what(), "");
             return false;
         }
     }},
};

void PrintTo(const NotRegularKind& c, std::ostream* os) { *os << c.Name; }

class NotRegularReportTest : public RobustnessTest, public ::testing::WithParamInterface<NotRegularKind> {};

TEST_P(NotRegularReportTest, EveryReaderRefusesItAtOnceSayingWhatItIs)
{
    const std::string path = GetParam().Make(Dir.path().toStdString());
    if (path.empty())
        GTEST_SKIP() << "no such file can be made here";
    struct stat before {};
    ASSERT_EQ(::lstat(path.c_str(), &before), 0);
    for (const ReportReader& reader : ReportReaders) {
        SCOPED_TRACE(reader.Name);
        Services.Messages.clear();
        EXPECT_FALSE(reader.Read(*R, path));
        ASSERT_EQ(Services.Messages.size(), 1u);
        EXPECT_NE(Services.Messages[0].Text.find(GetParam().Says), std::string::npos) << Services.Messages[0].Text;
        struct stat after {};
        ASSERT_EQ(::lstat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_ino, before.st_ino);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, NotRegularReportTest,
    ::testing::Values(NotRegularKind{"Fifo",
                                     [](const std::string& d) {
                                         const std::string p = d + "/REPORT.TXT";
                                         return ::mkfifo(p.c_str(), 0600) == 0 ? p : std::string();
                                     },
                                     "not a regular file (a FIFO)"},
                      NotRegularKind{"LinkToAFifo",
                                     [](const std::string& d) {
                                         if (::mkfifo((d + "/PIPE").c_str(), 0600) != 0)
                                             return std::string();
                                         if (::symlink((d + "/PIPE").c_str(), (d + "/REPORT.TXT").c_str()) != 0)
                                             return std::string();
                                         return d + "/REPORT.TXT";
                                     },
                                     "not a regular file (a FIFO)"},
                      NotRegularKind{"Folder",
                                     [](const std::string& d) {
                                         ::mkdir((d + "/REPORT.TXT").c_str(), 0700);
                                         return d + "/REPORT.TXT";
                                     },
                                     "not a regular file (a folder)"},
                      NotRegularKind{"Socket",
                                     [](const std::string& d) {
                                         const std::string p = d + "/REPORT.SOCK";
                                         sockaddr_un a {};
                                         a.sun_family = AF_UNIX;
                                         if (p.size() >= sizeof a.sun_path)
                                             return std::string();
                                         std::memcpy(a.sun_path, p.c_str(), p.size() + 1);
                                         const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
                                         const bool made = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
                                         if (fd >= 0)
                                             ::close(fd);
                                         return made ? p : std::string();
                                     },
                                     "not a regular file (a socket)"},
                      // The machine's own, never written: the readers do not
                      // even open it.
                      NotRegularKind{"CharacterDevice",
                                     [](const std::string&) {
                                         struct stat st {};
                                         return ::stat("/dev/zero", &st) == 0 && S_ISCHR(st.st_mode) ? std::string("/dev/zero")
                                                                                                     : std::string();
                                     },
                                     "not a regular file (a character device)"}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace quillard::test
