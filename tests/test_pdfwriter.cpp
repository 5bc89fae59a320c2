// The PDF document writer: exact bytes of a whole document, object numbering,
// the operators each primitive writes, the document information, and how the
// file is put in place (and not put in place when it cannot be).
#include "surfaces/pdfwriter.h"
#include "tests/pdftestutil.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <climits>
#include <functional>
#include <sys/stat.h>

namespace quillard::test {
namespace {

class PdfWriterTest : public PdfDocumentTest {
protected:
    // The content of the single page of a document drawn by Draw.
    std::string PageContent(const std::function<void(TPdfWriter&)>& Draw)
    {
        std::vector<std::string> streams = ContentStreams(Document(Draw));
        EXPECT_EQ(streams.size(), 1u);
        return streams.empty() ? "" : streams[0];
    }

    QStringList Leftovers() { return QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden); }
};

// ---- the whole document, byte for byte ------------------------------------------

TEST_F(PdfWriterTest, OneLineDocumentComesOutByteForByte)
{
    std::string expected = "%PDF-1.4\r\n";
    expected += Lines({"1 0 obj", "<<", "/Producer (Quillard PDF writer)", "/Author (Quillard PDF writer)",
                       "/CreationDate (D:20231114221320)", "/Creator (Quillard PDF writer)", "/Keywords ()",
                       "/Subject ()", "/Title ()", "/ModDate ()", ">>", "endobj"});
    expected += Lines({"2 0 obj", "<< /Length 3 0 R", " >>", "stream", "72 720 m", "144 720 l", "1 w", "0 0 0 RG", "1 J",
                       "1 j", "S", "endstream", "endobj"});
    expected += Lines({"3 0 obj", "49", "endobj"});
    expected += Lines({"4 0 obj", "<< /Type /Outlines", "/Count 0", ">>", "endobj"});
    const char* fonts[] = {"Helvetica",   "Helvetica-Bold", "Helvetica-Oblique", "Helvetica-BoldOblique",
                           "Courier",     "Courier-Bold",   "Courier-Oblique",   "Courier-BoldOblique",
                           "Times-Roman", "Times-Bold",     "Times-Italic",      "Times-BoldItalic",
                           "Symbol",      "ZapfDingbats"};
    for (int k = 0; k < 14; ++k)
        expected += std::to_string(5 + k) + " 0 obj\r\n<< /Type /Font\r\n/Subtype /Type1\r\n/Name /F" + std::to_string(k + 1) +
                    "\r\n/BaseFont /" + fonts[k] + "\r\n/Encoding /WinAnsiEncoding\r\n>>\r\nendobj\r\n";
    expected += Lines({"19 0 obj", "<< /Type /Pages", "/Kids [", "21 0 R", "]", "/Count 1", ">>", "endobj"});
    expected += Lines({"20 0 obj", "<< /ProcSet [ /PDF /Text /ImageC]", "/XObject << ", ">>", "/Font << "});
    for (int k = 0; k < 14; ++k)
        expected += "/F" + std::to_string(k + 1) + " " + std::to_string(5 + k) + " 0 R \r\n";
    expected += Lines({">>", ">>", "endobj"});
    expected += Lines({"21 0 obj", "<< /Type /Page", "/Parent 19 0 R", "/MediaBox [ 0 0 612 792]", "/Contents 2 0 R",
                       "/Resources 20 0 R", ">>", "endobj"});
    expected += Lines({"22 0 obj", "<< /Type /Catalog", "/Pages 19 0 R", "/Outlines 4 0 R", ">>", "endobj"});
    expected += Lines({"xref", "0 23", "0000000000 65535 f"});
    const int offsets[] = {10,   216,  324,  345,  396,  511,  631,  754,  881,  994,  1113,
                           1235, 1361, 1479, 1597, 1717, 1841, 1955, 2075, 2144, 2416, 2532};
    for (int o : offsets) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010d 00000 n\r\n", o);
        expected += entry;
    }
    expected += Lines({"trailer", "<< /Size 23", "/Root 22 0 R", "/Info 1 0 R", ">>", "startxref", "2605", "%%EOF"});

    std::string got = Document([](TPdfWriter& w) {
        w.MoveTo(72, 72);
        w.LineTo(144, 72);
        w.Stroke();
    });
    EXPECT_EQ(got, expected);
}

TEST_F(PdfWriterTest, SameDrawingAndEpochGiveIdenticalFiles)
{
    auto draw = [](TPdfWriter& w) {
        w.TextOut(10, 20, "same");
        w.DrawRectangle(1, 2, 3, 4);
    };
    EXPECT_EQ(Document(draw, "a.pdf"), Document(draw, "b.pdf"));
}

// ---- object numbering ---------------------------------------------------------------

struct NumberingCase {
    const char* Name;
    int Pages;
};

class PdfNumberingTest : public PdfWriterTest, public ::testing::WithParamInterface<NumberingCase> {};

TEST_P(PdfNumberingTest, ObjectsAreNumberedByPageCount)
{
    const int P = GetParam().Pages;
    std::string pdf = Document([&](TPdfWriter& w) {
        for (int k = 1; k <= P; ++k) {
            if (k > 1)
                w.NewPage();
            w.TextOut(72, 72, "page " + std::to_string(k));
        }
        EXPECT_EQ(w.PageNumber(), P);
    });
    std::map<int, std::string> obj = Objects(pdf);
    ASSERT_EQ(static_cast<int>(obj.size()), 3 * P + 19);
    EXPECT_NE(obj[1].find("/CreationDate"), std::string::npos);
    for (int k = 1; k <= P; ++k) {
        EXPECT_NE(obj[2 * k].find("<< /Length " + std::to_string(2 * k + 1) + " 0 R"), std::string::npos) << k;
        EXPECT_NE(obj[2 * k].find("(page " + std::to_string(k) + ") Tj"), std::string::npos) << k;
        EXPECT_EQ(obj[2 * k + 1].find(std::to_string(2 * k + 1) + " 0 obj\r\n"), 0u);
        const std::string page = obj[2 * P + 18 + k];
        EXPECT_NE(page.find("/Type /Page\r\n"), std::string::npos) << k;
        EXPECT_NE(page.find("/Contents " + std::to_string(2 * k) + " 0 R"), std::string::npos) << k;
        EXPECT_NE(page.find("/Parent " + std::to_string(2 * P + 17) + " 0 R"), std::string::npos) << k;
        EXPECT_NE(page.find("/Resources " + std::to_string(2 * P + 18) + " 0 R"), std::string::npos) << k;
        EXPECT_NE(obj[2 * P + 17].find("\r\n" + std::to_string(2 * P + 18 + k) + " 0 R\r\n"), std::string::npos) << k;
    }
    EXPECT_NE(obj[2 * P + 2].find("/Type /Outlines"), std::string::npos);
    for (int f = 1; f <= 14; ++f)
        EXPECT_NE(obj[2 * P + 2 + f].find("/Name /F" + std::to_string(f) + "\r\n"), std::string::npos) << f;
    EXPECT_NE(obj[2 * P + 17].find("/Count " + std::to_string(P) + "\r\n"), std::string::npos);
    EXPECT_NE(obj[2 * P + 18].find("/ProcSet"), std::string::npos);
    EXPECT_NE(obj[3 * P + 19].find("/Type /Catalog"), std::string::npos);
    EXPECT_NE(pdf.find("trailer\r\n<< /Size " + std::to_string(3 * P + 20) + "\r\n/Root " + std::to_string(3 * P + 19) +
                       " 0 R\r\n"),
              std::string::npos);

    // The cross-reference table gives each object's true offset.
    std::map<int, size_t> at = ObjectOffsets(pdf);
    const size_t xref = pdf.find("xref\r\n");
    size_t entry = pdf.find("0000000000 65535 f\r\n", xref) + 20;
    for (int n = 1; n <= 3 * P + 19; ++n, entry += 20)
        EXPECT_EQ(std::stoull(pdf.substr(entry, 10)), at[n]) << "object " << n;
    EXPECT_NE(pdf.find("startxref\r\n" + std::to_string(xref) + "\r\n%%EOF\r\n"), std::string::npos);
    EXPECT_EQ(PdfText(W.FileName).find("page 1"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Pages, PdfNumberingTest,
                         ::testing::Values(NumberingCase{"One", 1}, NumberingCase{"Three", 3}, NumberingCase{"Twelve", 12}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(PdfWriterTest, EmptyDocumentHasOneEmptyPage)
{
    std::string pdf = Document([](TPdfWriter&) {});
    std::map<int, std::string> obj = Objects(pdf);
    EXPECT_EQ(obj.size(), 22u);
    EXPECT_EQ(obj[3], "3 0 obj\r\n0\r\nendobj\r\n");
    EXPECT_EQ(ContentStreams(pdf), std::vector<std::string>{""});
}

TEST_F(PdfWriterTest, NewPageCalledTwiceGivesThreePagesTheLastEmpty)
{
    std::string pdf = Document([](TPdfWriter& w) {
        w.TextOut(0, 100, "one");
        w.NewPage();
        w.TextOut(0, 100, "two");
        w.NewPage();
    });
    std::vector<std::string> streams = ContentStreams(pdf);
    ASSERT_EQ(streams.size(), 3u);
    EXPECT_EQ(streams[2], "");
    EXPECT_NE(pdf.find("/Count 3\r\n"), std::string::npos);
}

// ---- what the primitives write ------------------------------------------------------

struct PrimitiveCase {
    const char* Name;
    std::function<void(TPdfWriter&)> Draw;
    std::string Content;
};

class PdfPrimitiveTest : public PdfWriterTest, public ::testing::WithParamInterface<PrimitiveCase> {};

TEST_P(PdfPrimitiveTest, WritesTheOperators) { EXPECT_EQ(PageContent(GetParam().Draw), GetParam().Content); }

INSTANTIATE_TEST_SUITE_P(
    Operators, PdfPrimitiveTest,
    ::testing::Values(
        PrimitiveCase{"RectangleStrokedWithoutFill", [](TPdfWriter& w) { w.DrawRectangle(10, 20, 110, 70); },
                      Lines({"10 722 100 50 re", "1 w", "0 0 0 RG", "1 J", "1 j", "S"})},
        PrimitiveCase{"ReversedRectangleIsNormalised", [](TPdfWriter& w) { w.DrawRectangle(110, 70, 10, 20); },
                      Lines({"10 722 100 50 re", "1 w", "0 0 0 RG", "1 J", "1 j", "S"})},
        PrimitiveCase{"FilledRectangleIsFilledAndStroked",
                      [](TPdfWriter& w) {
                          w.FillColor = 0x0080FF;  // orange: red 255, green 128
                          w.PenColor = 0xFF0000;   // blue
                          w.LineWidth = 3;
                          w.DrawRectangle(0, 0, 10, 10);
                      },
                      Lines({"0 782 10 10 re", "3 w", "0 0 1 RG", "1 0.502 0 rg", "B"})},
        PrimitiveCase{"FillRectangleOnlyFills",
                      [](TPdfWriter& w) {
                          w.FillColor = 0xFFFFFF;
                          w.FillRectangle(TRect{5, 6, 7, 9});
                      },
                      Lines({"5 783 2 3 re", "1 1 1 rg", "f"})},
        PrimitiveCase{"ZeroWidthWritesNoWidthLine",
                      [](TPdfWriter& w) {
                          w.LineWidth = 0;
                          w.MoveTo(1, 2);
                          w.LineTo(3, 4);
                          w.Stroke();
                      },
                      Lines({"1 790 m", "3 788 l", "0 0 0 RG", "1 J", "1 j", "S"})},
        PrimitiveCase{"WidthIsWrittenBeforeEveryStroke",
                      [](TPdfWriter& w) {
                          w.LineWidth = 2;
                          for (int i = 0; i < 2; ++i) {
                              w.MoveTo(0, 0);
                              w.LineTo(1, 0);
                              w.Stroke();
                          }
                      },
                      Lines({"0 792 m", "1 792 l", "2 w", "0 0 0 RG", "1 J", "1 j", "S", "0 792 m", "1 792 l", "2 w",
                             "0 0 0 RG", "1 J", "1 j", "S"})},
        PrimitiveCase{"PaintingWithoutAPathWritesNothing",
                      [](TPdfWriter& w) {
                          w.Stroke();
                          w.Fill();
                          w.FillAndStroke();
                          w.EndPath();
                      },
                      ""},
        PrimitiveCase{"TextAfterMoveToEndsThePathFirst",
                      [](TPdfWriter& w) {
                          w.MoveTo(1, 1);
                          w.Font.FontNumber = 1;
                          w.Font.Size = 10;
                          w.Font.Color = 0x02000080;  // the flag byte is ignored
                          w.TextOut(72, 100, "Hi");
                      },
                      Lines({"1 791 m", "n", "BT", "0.502 0 0 rg", "0 Tr", "/F2 10 Tf", "72 692 Td", "(Hi) Tj", "ET"})},
        PrimitiveCase{"TextIsWrittenAsGiven", [](TPdfWriter& w) { w.TextOut(0, 0, "a\\(b"); },
                      Lines({"BT", "0 0 0 rg", "0 Tr", "/F5 12 Tf", "0 792 Td", "(a\\(b) Tj", "ET"})},
        PrimitiveCase{"NegativeCoordinates",
                      [](TPdfWriter& w) {
                          w.MoveTo(-5, 800);
                          w.LineTo(-10, 900);
                          w.EndPath();
                      },
                      Lines({"-5 -8 m", "-10 -108 l", "n"})},
        PrimitiveCase{"FlipUsesThePageHeightOfTheCall",
                      [](TPdfWriter& w) {
                          w.PageHeight = 100;
                          w.MoveTo(0, 10);
                          w.EndPath();
                      },
                      Lines({"0 90 m", "n"})},
        PrimitiveCase{"EmptyPictureWritesNothing", [](TPdfWriter& w) { w.DrawImage(1, 2, TGraphic{}); }, ""},
        PrimitiveCase{"CurvesInFractionsOfAPoint",
                      [](TPdfWriter& w) {
                          w.MoveTo(0.5, 10.25);
                          w.CurveTo(1.0 / 3, 2.0 / 3, -0.0001, 100, 7, 8.0004);
                          w.LineTo(-2.5, 0.0);
                          w.ClosePath();
                          w.Stroke();
                      },
                      Lines({"0.5 781.75 m", "0.333 791.333 0 692 7 784 c", "-2.5 792 l", "h", "1 w", "0 0 0 RG", "1 J",
                             "1 j", "S"})},
        PrimitiveCase{"EvenOddFills",
                      [](TPdfWriter& w) {
                          w.FillColor = 0xFF;
                          w.MoveTo(0.0, 0.0);
                          w.LineTo(1.0, 1.0);
                          w.Fill(true);
                          w.MoveTo(0.0, 0.0);
                          w.LineTo(1.0, 1.0);
                          w.FillAndStroke(true);
                      },
                      Lines({"0 792 m", "1 791 l", "1 0 0 rg", "f*", "0 792 m", "1 791 l", "1 w", "0 0 0 RG", "1 0 0 rg",
                             "B*"})},
        PrimitiveCase{"ClosingWithoutAPathWritesNothing", [](TPdfWriter& w) { w.ClosePath(); }, ""},
        PrimitiveCase{"DashesAreWrittenWhenTheyChange",
                      [](TPdfWriter& w) {
                          w.Dash = {3, 1.5};
                          for (int i = 0; i < 2; ++i) {
                              w.MoveTo(0, 0);
                              w.LineTo(1, 0);
                              w.Stroke();
                          }
                          w.Dash.clear();
                          w.MoveTo(0, 0);
                          w.LineTo(1, 0);
                          w.Stroke();
                      },
                      Lines({"0 792 m", "1 792 l", "1 w", "[3 1.5] 0 d", "0 0 0 RG", "0 J", "1 j", "S", "0 792 m",
                             "1 792 l", "1 w", "0 0 0 RG", "0 J", "1 j", "S", "0 792 m", "1 792 l", "1 w", "[] 0 d",
                             "0 0 0 RG", "1 J", "1 j", "S"})},
        PrimitiveCase{"ClipToARectangleWithinSavedState",
                      [](TPdfWriter& w) {
                          w.MoveTo(5, 5);
                          w.SaveState();
                          w.ClipRectangle(10, 20, 110, 70);
                          w.TextOut(10, 30, "in");
                          w.RestoreState();
                          w.RestoreState();  // nothing saved: no Q
                      },
                      Lines({"5 787 m", "n", "q", "10 722 100 50 re", "W n", "BT", "0 0 0 rg", "0 Tr", "/F5 12 Tf",
                             "10 762 Td", "(in) Tj", "ET", "Q"})},
        PrimitiveCase{"StateLeftSavedIsRestoredAtTheEndOfThePage",
                      [](TPdfWriter& w) {
                          w.SaveState();
                          w.SaveState();
                      },
                      Lines({"q", "q", "Q", "Q"})},
        PrimitiveCase{"DashOfASavedStateComesBack",
                      [](TPdfWriter& w) {
                          w.SaveState();
                          w.Dash = {2, 2};
                          w.MoveTo(0, 0);
                          w.LineTo(1, 0);
                          w.Stroke();
                          w.RestoreState();
                          w.Dash.clear();
                          w.MoveTo(0, 0);
                          w.LineTo(1, 0);
                          w.Stroke();
                      },
                      Lines({"q", "0 792 m", "1 792 l", "1 w", "[2 2] 0 d", "0 0 0 RG", "0 J", "1 j", "S", "Q", "0 792 m",
                             "1 792 l", "1 w", "0 0 0 RG", "1 J", "1 j", "S"})},
        PrimitiveCase{"TurnedTextHasATextMatrix",
                      [](TPdfWriter& w) {
                          w.Font.FontNumber = 8;
                          w.Font.Size = 20;
                          w.TextOut(100.5, 200.0, 3.14159265358979323846 / 6, "tilt");
                      },
                      Lines({"BT", "0 0 0 rg", "0 Tr", "/F9 20 Tf", "0.86603 0.5 -0.5 0.86603 100.5 592 Tm", "(tilt) Tj",
                             "ET"})}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(PdfWriterTest, OpenPathIsEndedAtEndDocAndNotAtNewPage)
{
    std::string pdf = Document([](TPdfWriter& w) {
        w.MoveTo(1, 1);
        w.NewPage();
        EXPECT_TRUE(w.PathOpen());
        w.LineTo(2, 2);
    });
    EXPECT_EQ(ContentStreams(pdf), (std::vector<std::string>{Lines({"1 791 m"}), Lines({"2 790 l", "n"})}));
}

TEST_F(PdfWriterTest, MediaBoxIsTakenAtEndDoc)
{
    std::string pdf = Document([](TPdfWriter& w) {
        w.NewPage();
        w.PageWidth = 792;
        w.PageHeight = 612;
    });
    std::map<int, std::string> obj = Objects(pdf);
    EXPECT_NE(obj[23].find("/MediaBox [ 0 0 792 612]"), std::string::npos);
    EXPECT_NE(obj[24].find("/MediaBox [ 0 0 792 612]"), std::string::npos);
}

TEST_F(PdfWriterTest, CoordinateOverflowIsAnErrorNotAWrap)
{
    W.FileName = Path("o.pdf");
    W.BeginDoc();
    EXPECT_THROW(W.MoveTo(0, INT_MIN), std::overflow_error);
    EXPECT_THROW(W.DrawRectangle(INT_MIN, 0, INT_MAX, 0), std::overflow_error);
    W.EndDoc();
    EXPECT_TRUE(PassesQpdfCheck(W.FileName));
}

// ---- document information -------------------------------------------------------------

TEST_F(PdfWriterTest, InformationStringsAreEscaped)
{
    W.TITLE = "Report (final) C:\\reports\\june";
    W.Author = "a)b";
    W.Subject = "((";
    W.Keywords = "x\\";
    W.Producer = "p";
    W.Creator = "c";
    std::string pdf = Document([](TPdfWriter&) {});
    EXPECT_NE(pdf.find("/Title (Report \\(final\\) C:\\\\reports\\\\june)\r\n"), std::string::npos);
    EXPECT_NE(pdf.find("/Author (a\\)b)\r\n"), std::string::npos);
    EXPECT_NE(pdf.find("/Subject (\\(\\()\r\n"), std::string::npos);
    EXPECT_NE(pdf.find("/Keywords (x\\\\)\r\n"), std::string::npos);
    EXPECT_NE(pdf.find("/Producer (p)\r\n/Author (a\\)b)\r\n"), std::string::npos);
    EXPECT_EQ(PdfInfo(W.FileName, "Title"), "Report (final) C:\\reports\\june");
}

TEST_F(PdfWriterTest, CreationDateComesFromSourceDateEpoch)
{
    TScopedEnv epoch("SOURCE_DATE_EPOCH", "0");
    EXPECT_NE(Document([](TPdfWriter&) {}).find("/CreationDate (D:19700101000000)\r\n"), std::string::npos);
}

// ---- the file ---------------------------------------------------------------------------

TEST_F(PdfWriterTest, ExistingFileIsReplacedWholeAndKeepsItsPermissions)
{
    const std::string path = Path("keep.pdf");
    std::ofstream(path) << "old contents";
    ::chmod(path.c_str(), 0640);
    W.FileName = path;
    W.BeginDoc();
    W.TextOut(0, 50, "new");
    EXPECT_EQ(ReadBytes(path), "old contents");  // untouched until the document is complete
    W.EndDoc();
    EXPECT_TRUE(PassesQpdfCheck(path));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(Leftovers(), QStringList{"keep.pdf"});
}

TEST_F(PdfWriterTest, EmptyFileNameFailsWithTheFileCreationError)
{
    W.FileName.clear();
    W.BeginDoc();
    try {
        W.EndDoc();
        FAIL() << "EndDoc succeeded";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file \"\". No such file or directory");
    }
}

TEST_F(PdfWriterTest, MissingFolderFailsAndLeavesNothing)
{
    W.FileName = Path("no/such/folder/x.pdf");
    W.BeginDoc();
    W.TextOut(0, 0, "x");
    EXPECT_THROW(W.EndDoc(), std::runtime_error);
    EXPECT_TRUE(Leftovers().isEmpty());
}

TEST_F(PdfWriterTest, AFolderInTheWayIsNotReplaced)
{
    ASSERT_TRUE(QDir(Dir.path()).mkdir("taken.pdf"));
    W.FileName = Path("taken.pdf");
    W.BeginDoc();
    EXPECT_THROW(W.EndDoc(), std::runtime_error);
    EXPECT_TRUE(QFileInfo(QString::fromStdString(W.FileName)).isDir());
    EXPECT_TRUE(Leftovers().isEmpty());
}

TEST_F(PdfWriterTest, AbandonedDocumentLeavesNoFile)
{
    {
        TPdfWriter w;
        w.FileName = Path("abandoned.pdf");
        w.BeginDoc();
        w.TextOut(0, 0, "never finished");
        w.NewPage();
    }
    EXPECT_TRUE(Leftovers().isEmpty());
}

TEST_F(PdfWriterTest, EndDocWithoutBeginDocIsAnError)
{
    W.FileName = Path("x.pdf");
    EXPECT_THROW(W.EndDoc(), std::runtime_error);
    EXPECT_FALSE(FileExists(W.FileName));
}

TEST_F(PdfWriterTest, SecondDocumentStartsAfresh)
{
    std::string first = Document([](TPdfWriter& w) {
        w.TextOut(0, 0, "first");
        w.NewPage();
    });
    std::string second = Document([](TPdfWriter& w) { w.TextOut(0, 0, "second"); }, "second.pdf");
    EXPECT_EQ(Objects(second).size(), 22u);
    EXPECT_EQ(second.find("first"), std::string::npos);
}

}  // namespace
}  // namespace quillard::test
