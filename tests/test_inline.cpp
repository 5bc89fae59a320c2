// Pictures carried inside the report: reading the bytes after DATA=" for the
// image tag, stepping over them on pages that are not drawn, and page passes
// that stay in step whatever bytes the picture holds.
#include "tests/test_image_util.h"

#include "base/bytefile.h"

namespace quillard::test {
namespace {

std::string Inline(const std::string& Attrs, const std::string& Data)
{
    return "{IMG " + Attrs + " DATALEN=" + std::to_string(Data.size()) + " DATA=\"" + Data + "\"}";
}

// Picture bytes full of what the line reader must never see.
const char HostileBytes[] = "ab\r\n{PAGE}\f{B}}{\n\f\rDATA=\"x\"}\0\xFF";
const std::string Hostile(HostileBytes, sizeof HostileBytes - 1);
const std::string HostileLen = std::to_string(Hostile.size());

// Lead, then an in-line picture whose DATA= starts at offset 77 of the line,
// so that DATA=" straddles the edge of the first 80-byte search block.
std::string Straddling(const std::string& Lead, const std::string& Data)
{
    std::string head = Lead + "{IMG LEFT=1in TOP=1in DATALEN=" + std::to_string(Data.size()) + " PAD=";
    head += std::string(77 - 1 - head.size(), 'P') + " ";
    return head + "DATA=\"" + Data + "\"}";
}

// A 150-pixel square in one colour, as JPEG; the bytes after its end are
// never read by the decoder, so hostile bytes can follow.
std::string SolidJpeg(uint32_t Colour)
{
    return EncodeJpeg(150, 150, [Colour](int, int) { return Colour; });
}

// ---- GetInlineData ----------------------------------------------------------------

class InlineReadTest : public PictureTest, public ::testing::WithParamInterface<int> {};

// The tag is padded so that DATA= starts at the given offset of its line:
// around 80 it straddles the edge between two blocks of the search.
TEST_P(InlineReadTest, FindsDataWhereverItFallsInTheBlocks)
{
    const int at = GetParam();
    std::string tag = "{IMG DATALEN=" + std::to_string(Hostile.size()) + " PAD=";
    tag += std::string(size_t(at - 1) - tag.size(), 'P') + " ";
    ASSERT_EQ(tag.size(), size_t(at));
    const std::string file = "first line\r\n" + tag + "DATA=\"" + Hostile + "\"}rest of line\r\nnext line\r\n";
    TByteFile f;
    f.Open(Write(file));
    std::string line, end;
    R->GetLn(f, line, end);
    R->Pass.LineStartPos = f.Position();
    R->GetLn(f, line, end);  // the tag's line, cut inside the picture bytes

    std::string rest;
    std::vector<uint8_t> stream;
    std::string lineEnd;
    R->GetInlineData(f, rest, stream, int64_t(Hostile.size()), lineEnd);
    EXPECT_EQ(stream, Bytes(Hostile));
    EXPECT_EQ(rest, "rest of line");
    EXPECT_EQ(lineEnd, "\r\n");
    R->GetLn(f, line, end);
    EXPECT_EQ(line, "next line");
    EXPECT_TRUE(Services.Messages.empty());
}

INSTANTIATE_TEST_SUITE_P(BlockEdges, InlineReadTest, ::testing::Range(70, 91),
                         [](const auto& info) { return "DataAt" + std::to_string(info.param); });

struct ShortCase {
    const char* Name;
    std::string File;
    int64_t Count;
    bool AtEnd;  // the file is left at its end (else where it was)
};

void PrintTo(const ShortCase& c, std::ostream* os) { *os << c.Name; }

class InlineShortTest : public PictureTest, public ::testing::WithParamInterface<ShortCase> {};

TEST_P(InlineShortTest, LeavesTheStreamEmpty)
{
    TByteFile f;
    f.Open(Write(GetParam().File));
    std::string line, end;
    R->Pass.LineStartPos = 0;
    R->GetLn(f, line, end);
    const int64_t before = f.Position();
    std::string rest;
    std::vector<uint8_t> stream{1, 2, 3};
    R->GetInlineData(f, rest, stream, GetParam().Count, end);
    EXPECT_TRUE(stream.empty());
    EXPECT_EQ(rest, "");
    EXPECT_EQ(f.Position(), GetParam().AtEnd ? f.Size() : before);
}

INSTANTIATE_TEST_SUITE_P(
    Short, InlineShortTest,
    ::testing::Values(ShortCase{"LengthBeyondTheFile", "{IMG DATALEN=100 DATA=\"abc\"}\r\nnext\r\n", 100, true},
                      ShortCase{"NegativeLength", "{IMG DATALEN=-3 DATA=\"abc\"}\r\nnext\r\n", -3, false},
                      ShortCase{"ZeroLength", "{IMG DATALEN=0 DATA=\"\"}\r\nnext\r\n", 0, false},
                      ShortCase{"NoDataOnTheLine", "{IMG DATALEN=3 SRC=X}\r\n{IMG DATALEN=3 DATA=\"abc\"}\r\n", 3, false},
                      ShortCase{"DataWithoutQuote", "{IMG DATALEN=3 DATA=abc}\r\nnext\r\n", 3, false}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- DelImageData ----------------------------------------------------------------

struct SkipCase {
    const char* Name;
    std::string File;     // its first line is the current line
    std::string Tag;      // the tag text the render loop hands over
    std::string TagAfter;
    std::string NextLine; // what the line reader reads next
    bool Skipped = true;  // the data was stepped over, ending the line
};

void PrintTo(const SkipCase& c, std::ostream* os) { *os << c.Name; }

class InlineSkipTest : public PictureTest, public ::testing::WithParamInterface<SkipCase> {};

TEST_P(InlineSkipTest, StepsOverTheData)
{
    const SkipCase& c = GetParam();
    TByteFile f;
    f.Open(Write(c.File));
    std::string line, end;
    R->GetLn(f, line, end);
    std::string tag = c.Tag;
    std::string lineEnd = end;
    R->DelImageData(f, 0, lineEnd, tag);
    EXPECT_EQ(tag, c.TagAfter);
    EXPECT_EQ(lineEnd, c.Skipped ? "" : end);
    R->GetLn(f, line, end);
    EXPECT_EQ(line, c.NextLine);
    EXPECT_TRUE(Services.Messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Skips, InlineSkipTest,
    ::testing::Values(
        SkipCase{"TagAtLineStart", "{IMG DATALEN=" + HostileLen + " DATA=\"" + Hostile + "\"}tail\r\nnext",
                 "{IMG DATALEN=" + HostileLen + " DATA=\"AB", "", "tail"},
        SkipCase{"TextBeforeTheTag", "Lead text {IMG DATALEN=" + HostileLen + " DATA=\"" + Hostile + "\"}tail\r\nnext",
                 "{IMG DATALEN=" + HostileLen + " DATA=\"AB", "", "tail"},
        SkipCase{"WithoutDatalen", "{IMG SRC=X.BMP}rest\r\nnext", "{IMG SRC=X.BMP}REST", "REST", "next", false},
        SkipCase{"DatalenAfterData", "{IMG DATA=\"abc\" DATALEN=3}\r\nnext", "{IMG DATA=\"ABC\" DATALEN=3}", "", "next", false},
        SkipCase{"NegativeDatalen", "{IMG DATALEN=-3 DATA=\"abc\"}x\r\nnext", "{IMG DATALEN=-3 DATA=\"ABC\"}X", "X", "next", false},
        SkipCase{"FirstTagWithoutData", "{IMG SRC=A}{IMG DATALEN=3 DATA=\"a\nc\"}tail\r\nnext", "{IMG SRC=A}{IMG DATALEN=3 DATA=\"A",
                 "", "tail"},
        SkipCase{"NotAnImageTag", "{B}DATA=\"abc\"\r\nnext", "{B}DATA=\"ABC\"", "{B}DATA=\"ABC\"", "next", false},
        SkipCase{"LengthBeyondTheFile", "{IMG DATALEN=500 DATA=\"abc\"}\r\nnext", "{IMG DATALEN=500 DATA=\"ABC\"}", "", ""}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- whole passes ---------------------------------------------------------------

// Ink box of the pixels of one colour (within a JPEG's tolerance).
TInkBox ColourBox(const QImage& Img, uint32_t Colour)
{
    return InkBox(Img, [Colour](QRgb p) { return ColourDistance(p & 0xFFFFFF, Colour) <= 6; });
}

struct PassCase {
    const char* Name;
    std::string Report;
    int Pages;
    int PicturePage;  // the page the orange square is on
};

void PrintTo(const PassCase& c, std::ostream* os) { *os << c.Name; }

class InlinePassTest : public PictureTest, public ::testing::WithParamInterface<PassCase> {};

constexpr uint32_t Orange = 0xF0C080;  // light enough not to count as ink

// Every page drawn on its own shows the picture only on its page, and every
// pass counts the same pages, whether it reads the picture bytes or steps
// over them.
TEST_P(InlinePassTest, PagesStayInStep)
{
    const PassCase& c = GetParam();
    R->OpenFile(Write(c.Report), nullptr);
    EXPECT_EQ(R->CountPages(), c.Pages);
    for (int page = 1; page <= c.Pages; ++page) {
        ASSERT_TRUE(Draw300(c.Report, page));
        EXPECT_EQ(R->CurrentPage, page);
        const TInkBox pic = ColourBox(Page->Image(), Orange);
        if (page == c.PicturePage) {
            EXPECT_EQ(pic.Left, 300) << "page " << page;
            EXPECT_EQ(pic.Top, 300) << "page " << page;
            EXPECT_EQ(pic.Width(), 150) << "page " << page;
        } else {
            EXPECT_TRUE(pic.Empty()) << "page " << page;
        }
        // Each page carries its own word in its first two lines, and nothing
        // else in black: no picture bytes were taken for text.
        const TInkBox text = InkBox(Page->Image());
        ASSERT_FALSE(text.Empty()) << "page " << page;
        EXPECT_LT(text.Bottom, 2 * 66) << "page " << page;
        EXPECT_LT(text.Width(), 300) << "page " << page;
    }
    EXPECT_EQ(Captions(), "");
}

const std::string Picture = SolidJpeg(Orange) + Hostile;

INSTANTIATE_TEST_SUITE_P(
    Passes, InlinePassTest,
    ::testing::Values(
        PassCase{"PictureOnPageTwo", "One\r\n{PAGE}\r\nTwo" + Inline("LEFT=1in TOP=1in", Picture) + "\r\n{PAGE}\r\nThree\r\n", 3, 2},
        PassCase{"TextAfterTheData",
                 "One\r\n{PAGE}\r\n" + Inline("LEFT=1in TOP=1in", Picture) + "Two\r\n{PAGE}\r\nThree\r\n", 3, 2},
        PassCase{"AfterAFormFeed", "One\f" + Inline("LEFT=1in TOP=1in", Picture) + "Two\r\n{PAGE}\r\nThree\r\n", 3, 2},
        PassCase{"PictureOnTheLastPage", "One\r\n{PAGE}\r\nTwo\r\n{PAGE}\r\n" + Inline("LEFT=1in TOP=1in", Picture) + "Three", 3, 3},
        PassCase{"PictureOnTheFirstPage", Inline("LEFT=1in TOP=1in", Picture) + "One\r\n{PAGE}\r\nTwo\r\n", 2, 1},
        PassCase{"TwoPicturesOnOneLine",
                 "One\r\n{PAGE}\r\nTwo" + Inline("LEFT=1in TOP=1in", Picture) + Inline("LEFT=1in TOP=1in", Picture) + "\r\n{PAGE}\r\nThree",
                 3, 2},
        PassCase{"DataWordAcrossTheBlockEdge", "One\r\n{PAGE}\r\n" + Straddling("Two", Picture) + "\r\n{PAGE}\r\nThree", 3, 2},
        PassCase{"LengthBeyondTheFile", "One\r\n{IMG DATALEN=99999 DATA=\"{PAGE}\r\n{PAGE}\r\nx", 1, 0},
        PassCase{"NegativeLength", "One\r\n{IMG DATALEN=-5 DATA=\"\"}\r\n{PAGE}\r\nTwo", 2, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- many pictures on one line ---------------------------------------------------

// The line reader of a pass stops right after the DATA=" of an image tag that
// carries in-line data, so that no line ever holds picture bytes; everything
// else reads to the line's end as before.
struct CutCase {
    const char* Name;
    std::string Bytes;
    std::string Line;
    bool Cut;
};
void PrintTo(const CutCase& c, std::ostream* os) { *os << c.Name; }

class LineCutTest : public PictureTest, public ::testing::WithParamInterface<CutCase> {};

TEST_P(LineCutTest, StopsOnlyAtTheDataOfAnImageTag)
{
    const CutCase& c = GetParam();
    TByteFile file;
    file.Open(Write(c.Bytes, "CUT.TXT"));
    std::string line, lineEnd;
    R->GetLn(file, line, lineEnd, tRenderer::TLineReading{true});
    EXPECT_EQ(line, c.Line);
    EXPECT_EQ(R->Pass.LineCut, c.Cut);
    EXPECT_EQ(lineEnd, c.Cut ? "" : "\r\n");
    EXPECT_EQ(file.Position(), int64_t(c.Line.size() + lineEnd.size()));
    // Without the option the line runs to its first terminator.
    file.Seek(0);
    R->GetLn(file, line, lineEnd);
    EXPECT_FALSE(R->Pass.LineCut);
    EXPECT_EQ(line, c.Bytes.substr(0, c.Bytes.find_first_of("\r\n\f")));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LineCutTest,
    ::testing::Values(
        CutCase{"ImageWithData", "ab {IMG DATALEN=3 DATA=\"x\ry\"}z\r\n", "ab {IMG DATALEN=3 DATA=\"", true},
        CutCase{"LowerCase", "{img left=1in datalen=3 data=\"x\ny\"}\r\n", "{img left=1in datalen=3 data=\"", true},
        CutCase{"ImageTagSpelledOut", "{IMAGE DATALEN=1 DATA=\"q\"}\r\n", "{IMAGE DATALEN=1 DATA=\"", true},
        CutCase{"NoLength", "{IMG DATA=\"abc\"} text\r\n", "{IMG DATA=\"abc\"} text", false},
        CutCase{"LengthInAnEarlierTag", "{IMG DATALEN=3} {IMG DATA=\"abc\"}\r\n", "{IMG DATALEN=3} {IMG DATA=\"abc\"}", false},
        CutCase{"DataOutsideTags", "DATALEN=3 DATA=\"abc\"\r\n", "DATALEN=3 DATA=\"abc\"", false},
        CutCase{"OtherTag", "{FONT DATALEN=3 DATA=\"abc\"}\r\n", "{FONT DATALEN=3 DATA=\"abc\"}", false},
        CutCase{"ClosedBeforeTheData", "{IMG DATALEN=3}DATA=\"abc\"\r\n", "{IMG DATALEN=3}DATA=\"abc\"", false},
        CutCase{"WordAcrossTheReadBlocks", std::string(494, ' ') + "{IMG DATALEN=1 DATA=\"q\"}\r\n",
                std::string(494, ' ') + "{IMG DATALEN=1 DATA=\"", true}),
    [](const auto& info) { return std::string(info.param.Name); });

// Four hundred small pictures, each in its own colour and place, on one
// physical line draw the same as on lines of their own, on a page that is
// drawn and after one that is not; and every pass counts the same pages.
TEST_F(PictureTest, ManyInlinePicturesOnOneLineDrawAsOnLinesOfTheirOwn)
{
    std::vector<std::string> tags;
    for (int i = 0; i < 400; ++i) {
        const uint32_t colour = uint32_t(40 + i % 200) << 16 | uint32_t(30 + i / 2) << 8 | 0x40;
        const std::string bmp = MakeBmp24(6, 6, [colour](int, int) { return colour; });
        tags.push_back(Inline("LEFT=" + std::to_string(100 + 8 * (i % 40)) + "px TOP=" + std::to_string(100 + 8 * (i / 40)) + "px",
                              bmp + "\r\n"));
    }
    std::string oneLine, ownLines;
    for (const std::string& t : tags) {
        oneLine += t;
        ownLines += t + "\r";
    }
    for (const std::string& lead : {std::string(), std::string("First\r\n{PAGE}\r\n")}) {
        const int page = lead.empty() ? 1 : 2;
        ASSERT_TRUE(Draw300(lead + oneLine + "\r\nEnd\r\n", page));
        EXPECT_EQ(Captions(), "");
        const QImage joined = Page->Image().copy();
        const int pages = R->CountPages();
        ASSERT_TRUE(Draw300(lead + ownLines + "\nEnd\r\n", page));
        EXPECT_TRUE(joined == Page->Image()) << "page " << page;
        EXPECT_EQ(R->CountPages(), pages);
        EXPECT_EQ(pages, page);
    }
}

}  // namespace
}  // namespace quillard::test
