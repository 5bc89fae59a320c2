// What the preview shows, the PDF shows: reports written as PDF and rendered
// by pdftoppm at 72 dpi against the same reports drawn on the raster surface
// at 72 dpi, laid out as the PDF job lays them out. Figures are compared
// strictly (in place, a pixel and a half of leeway); pages with text allow
// for the screen's line heights rounded to whole pixels, for level PDF text
// sitting on the bottom of its cell, and for the two rasterisers' glyphs.
#include "tests/pdffidelityutil.h"
#include "tests/test_image_util.h"

#include <QDir>

namespace quillard::test {
namespace {

// Figures alone: compared in place.
TFidelity Strict() { return TFidelity{}; }

// Pages with text on them.
TFidelity WithText()
{
    TFidelity f;
    f.Shift = 16;
    f.Radius = 4.5;
    f.AnyStrength = true;
    return f;
}

class PdfFidelityTest : public EngineTest {
protected:
    TScopedEnv Epoch{"SOURCE_DATE_EPOCH", "1700000000"};

    void SetUp() override
    {
        EngineTest::SetUp();
        Printer().SetPaperSize(DMPAPER_LETTER);
    }

    void TearDown() override
    {
        ExpectEveryPdfChecks(Dir.path());
        Printer().SetPaperSize(DMPAPER_LETTER);
        EngineTest::TearDown();
    }

    std::string Out(const std::string& Name) { return Dir.filePath(QString::fromStdString(Name)).toStdString(); }

    // Writes the report file as a PDF; the renderer keeps the report open.
    std::string MakePdfOf(const std::string& ReportPath, const std::string& Name)
    {
        R->OpenFile(ReportPath, nullptr);
        const std::string pdf = Out(Name);
        EXPECT_EQ(R->MakePDF(nullptr, pdf), 0) << Globals().LastErrorMessage;
        EXPECT_TRUE(PassesQpdfCheck(pdf));
        return pdf;
    }

    // Page N of the report's PDF against its preview.
    TPageDiff Compare(const std::string& ReportPath, int N, const TFidelity& F, const std::string& Name)
    {
        const std::string pdf = MakePdfOf(ReportPath, Name + ".pdf");
        const QImage rendered = RenderedPdfPage(pdf, N);
        const QImage preview = PreviewLikeThePdf(*R, N);
        const TPageDiff d = ComparePages(preview, rendered, F);
        Keep(Name + "-" + std::to_string(N), preview, rendered, d);
        return d;
    }

    // Keeps both renderings and the map of misses where a developer can look
    // at them (QUILLARD_FIDELITY_DIR).
    void Keep(const std::string& Name, const QImage& Preview, const QImage& Pdf, const TPageDiff& D)
    {
        const char* dir = std::getenv("QUILLARD_FIDELITY_DIR");
        if (!dir || !*dir)
            return;
        const QString base = QDir(dir).filePath(QString::fromStdString(Name));
        Preview.save(base + "-preview.png");
        Pdf.save(base + "-pdf.png");
        if (!D.Map.isNull())
            D.Map.save(base + "-misses.png");
    }
};

// ---- each figure ----------------------------------------------------------------

TFidelity OutlineDashes()
{
    TFidelity f;
    f.Radius = 2.5;
    f.TileMisses = 24;
    return f;
}

struct FigureCase {
    const char* Name;
    std::string Report;
    TFidelity Fidelity = Strict();
};

void PrintTo(const FigureCase& C, std::ostream* Os) { *Os << C.Name; }

// Figures placed by the height of lines of text: the two surfaces measure
// text differently, so the figures may sit a few pixels apart.
TFidelity PlacedByText()
{
    TFidelity f;
    f.Shift = 16;
    return f;
}

class PdfFigureFidelityTest : public PdfFidelityTest, public ::testing::WithParamInterface<FigureCase> {};

TEST_P(PdfFigureFidelityTest, PdfLooksLikeThePreview)
{
    const FigureCase& c = GetParam();
    const TPageDiff d = Compare(Write(c.Report), 1, c.Fidelity, c.Name);
    EXPECT_GT(d.Marked, 200) << "the report draws next to nothing";
    EXPECT_TRUE(d.Fits) << Describe(d);
}

INSTANTIATE_TEST_SUITE_P(
    Figures, PdfFigureFidelityTest,
    ::testing::Values(
        FigureCase{"EllipseFilledWidePen",
                   "{PEN WIDTH=3 COLOR=NAVY FILLCOLOR=#F5C87A FILLSTYLE=SOLID}{ELLIPSE AT=1in,1in WIDTH=4in HEIGHT=1.5in}"
                   "{/PEN}\r\n"},
        FigureCase{"CircleThinPenNoFill", "{PEN WIDTH=1 COLOR=MAROON}{CIRCLE AT=3in,4in RADIUS=1.25in}{/PEN}\r\n"},
        FigureCase{"InsideFramePenKeepsTheCircleInItsBox",
                   "{PEN WIDTH=8 STYLE=INSIDEFRAME COLOR=GREEN}{CIRCLE AT=2in,2in RADIUS=1in}{/PEN}"
                   "{PEN WIDTH=8 STYLE=SOLID COLOR=BLUE}{CIRCLE AT=5in,2in RADIUS=1in}{/PEN}\r\n"},
        FigureCase{"ArcsBothWaysRound",
                   "{PEN WIDTH=2 COLOR=GREEN}{ARC AT=1in,1in WIDTH=4in HEIGHT=2in BEGIN=0 END=90}"
                   "{ARC AT=1in,4in WIDTH=3in HEIGHT=3in BEGIN=300 END=45}{/PEN}"
                   "{PEN WIDTH=1 COLOR=RED}{ARC AT=5in,4in WIDTH=2in HEIGHT=1in BEGIN=90 END=90}{/PEN}\r\n"},
        FigureCase{"PiesFilledAndHatched",
                   "{PEN WIDTH=2 FILLCOLOR=#FFA500 FILLSTYLE=SOLID}{PIE AT=2in,2in RADIUS=1in BEGIN=0 END=270}{/PEN}"
                   "{PEN WIDTH=1 COLOR=NAVY FILLCOLOR=NAVY FILLSTYLE=CROSS}{PIE AT=5in,2in RADIUS=1in BEGIN=200 END=20}"
                   "{/PEN}\r\n"},
        FigureCase{"PolygonAlternateFill",
                   "{PEN WIDTH=2 COLOR=MAROON FILLCOLOR=#F5E6C8 FILLSTYLE=SOLID}"
                   "{POLYGON POINTS=3in,1in;4.2in,4.6in;1in,2.4in;5in,2.4in;1.8in,4.6in ABS}{/PEN}\r\n"},
        FigureCase{"PolygonClearBrushOnlyOutline",
                   "{PEN FILLCOLOR=RED FILLSTYLE=SOLID}{RECT AT=1in,1in SIZE=2in,2in}{/PEN}"
                   "{PEN WIDTH=1 COLOR=BLUE FILLSTYLE=CLEAR}{POLYGON POINTS=1.5in,1.5in;4in,1.5in;4in,4in ABS}{/PEN}\r\n"},
        FigureCase{"DashStylesOfThinLines",
                   "{LINE FROM=1in,1in TO=7in,1in WIDTH=1 STYLE=DASH}{LINE FROM=1in,2in TO=7in,2in WIDTH=1 STYLE=DOT}"
                   "{LINE FROM=1in,3in TO=7in,3in WIDTH=1 STYLE=DASHDOT COLOR=GREEN}"
                   "{LINE FROM=1in,4in TO=7in,4in WIDTH=1 STYLE=DASHDOTDOT COLOR=NAVY}"
                   "{LINE FROM=1in,5in TO=7in,6.5in WIDTH=1 STYLE=DOT}{LINE FROM=1in,7in TO=3in,9in WIDTH=1 STYLE=DASHDOT}"
                   "{PEN WIDTH=4 STYLE=DASH}{LINE FROM=1in,9.5in TO=7in,9.5in}{/PEN}\r\n"},
        // The screen's outline is a pixel shorter on each side than the
        // PDF's at this resolution: the dashes of the last sides may lie two
        // or three pixels apart. (The dash patterns themselves are compared
        // strictly on the lines above.)
        FigureCase{"DashStylesOfThinOutlines",
                   "{PEN WIDTH=1 STYLE=DASH}{RECT AT=1in,1in SIZE=6in,1in}{/PEN}"
                   "{PEN WIDTH=1 STYLE=DOT COLOR=RED}{RECT AT=1in,2.5in SIZE=6in,1in}{/PEN}"
                   "{PEN WIDTH=1 STYLE=DASHDOT COLOR=GREEN}{RECT AT=1in,4in SIZE=6in,1in}{/PEN}"
                   "{PEN WIDTH=1 STYLE=DASHDOTDOT COLOR=NAVY}{RECT AT=1in,5.5in SIZE=6in,1in}{/PEN}\r\n",
                   OutlineDashes()},
        FigureCase{"DashGapsShowASolidBrush",
                   "{PEN WIDTH=1 STYLE=DASH COLOR=NAVY FILLCOLOR=YELLOW FILLSTYLE=SOLID}{RECT AT=1in,1in SIZE=5in,2in}"
                   "{ELLIPSE AT=1in,4in SIZE=5in,2in}{/PEN}\r\n"},
        FigureCase{"ClearPenFillsWithoutOutline",
                   "{PEN STYLE=CLEAR FILLCOLOR=SILVER FILLSTYLE=SOLID}{RECT AT=1in,1in SIZE=3in,1in}"
                   "{CIRCLE AT=2in,3in RADIUS=0.75in}{POLYGON POINTS=5in,1in;7in,1in;6in,3in ABS}{/PEN}\r\n"},
        FigureCase{"ClearBrushLeavesWhatIsUnder",
                   "{PEN FILLCOLOR=RED FILLSTYLE=SOLID}{RECT AT=1in,1in SIZE=3in,2in}{/PEN}"
                   "{PEN WIDTH=2 FILLCOLOR=WHITE FILLSTYLE=CLEAR}{RECT AT=2in,2in SIZE=3in,2in}"
                   "{ELLIPSE AT=1.5in,1.5in SIZE=2in,1in}{/PEN}\r\n"},
        FigureCase{"HatchedBrushes",
                   "{PEN WIDTH=1 COLOR=NAVY FILLCOLOR=NAVY FILLSTYLE=HORIZONTAL}{RECT AT=1in,1in SIZE=2in,1.5in}{/PEN}"
                   "{PEN WIDTH=1 COLOR=RED FILLCOLOR=RED FILLSTYLE=VERTICAL}{RECT AT=4in,1in SIZE=2in,1.5in}{/PEN}"
                   "{PEN WIDTH=1 COLOR=GREEN FILLCOLOR=GREEN FILLSTYLE=FDIAGONAL}{RECT AT=1in,3in SIZE=2in,1.5in}{/PEN}"
                   "{PEN WIDTH=1 FILLCOLOR=BLACK FILLSTYLE=BDIAGONAL}{RECT AT=4in,3in SIZE=2in,1.5in}{/PEN}"
                   "{PEN WIDTH=1 COLOR=MAROON FILLCOLOR=MAROON FILLSTYLE=CROSS}{RECT AT=1in,5in SIZE=2in,1.5in}{/PEN}"
                   "{PEN WIDTH=1 COLOR=PURPLE FILLCOLOR=PURPLE FILLSTYLE=DIAGCROSS}{ELLIPSE AT=4in,5in SIZE=2in,1.5in}"
                   "{/PEN}\r\n"},
        FigureCase{"HighlightBandsHaveNoOutline",
                   "{HIGHLIGHTLINE COLOR=NAVY}\r\n\r\n{HIGHLIGHTLINE COLOR=SILVER}\r\n"
                   "{HIGHLIGHTLINE COLOR=RED STYLE=\"//\"}\r\n",
                   PlacedByText()},
        FigureCase{"LinesAndFramesAsBefore",
                   "{LINE FROM=1in,1in TO=7in,1in WIDTH=1}{LINE FROM=1in,2in TO=6in,8in WIDTH=3 COLOR=RED}"
                   "{PEN WIDTH=2 FILLCOLOR=#C0E0FF FILLSTYLE=SOLID}{RECT AT=2in,3in SIZE=3in,2in}{/PEN}\r\n"},
        FigureCase{"RotatedText",
                   "{SPAN LEFT=1in TOP=8in}{FONT NAME=\"Arial\" SIZE=14 ROTATION=90}Running up the page{/FONT}{/SPAN}"
                   "{SPAN LEFT=3in TOP=3in}{FONT NAME=\"Times New Roman\" SIZE=24 COLOR=RED ROTATION=30}{B}Turned thirty"
                   "{/B}{/FONT}{/SPAN}"
                   "{SPAN LEFT=5in TOP=6in}{FONT NAME=\"Courier New\" SIZE=12 ROTATION=200}Upside down{/FONT}{/SPAN}\r\n",
                   WithText()},
        FigureCase{"ClippedSpanText",
                   "{SPAN LEFT=1in TOP=1in WIDTH=2in HEIGHT=0.5in CLIP}{PEN WIDTH=1}{RECT AT=0in,0in TO=100%,100%}{/PEN}"
                   "{FONT NAME=\"Arial\" SIZE=12}Text that runs on far past the right edge of its span\r\n"
                   "and a second line\r\nand a third line below the bottom{/FONT}{/SPAN}\r\n",
                   WithText()},
        FigureCase{"UnderlinedStruckAndBackedText",
                   "{FONT NAME=\"Arial\" SIZE=14}{U}Underlined words{/U} and {STRIKE}struck words{/STRIKE}\r\n"
                   "{FONT BGCOLOR=YELLOW BGSTYLE=SOLID}On yellow{/FONT} {FONT BGCOLOR=BLUE BGSTYLE=CROSS}"
                   "on a hatch{/FONT}{/FONT}\r\n",
                   WithText()}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- pictures -------------------------------------------------------------------

class PdfPictureFidelityTest : public PdfFidelityTest {
protected:
    static uint32_t Gradient(int x, int y) { return uint32_t((x * 255 / 120) << 16 | (y * 255 / 80) << 8 | 0x40); }
};

TEST_F(PdfPictureFidelityTest, PicturesLookLikeThePreview)
{
    // A JPEG at its natural size and stretched, a BMP, and a GIF with a
    // transparent colour over a red square.
    Write(EncodeJpeg(120, 80, Gradient), "LOGO.JPG");
    Write(MakeBmp24(60, 40, [](int x, int y) { return (x / 10 + y / 10) % 2 ? 0x000080u : 0xFFD700u; }), "CHECKS.BMP");
    Write(EncodeGif(40, 40, {0xFFFFFF, 0x008000, 0x000000},
                    {GifFrame{0, 0, 40, 40, false, 0, [](int x, int y) { return (x - 20) * (x - 20) + (y - 20) * (y - 20) < 300 ? 1 : 0; }}}),
          "DOT.GIF");
    const std::string report = "{IMAGE SRC=LOGO.JPG LEFT=1in TOP=1in}{IMAGE SRC=LOGO.JPG LEFT=3in TOP=1in WIDTH=3in HEIGHT=1in}"
                               "{IMAGE SRC=CHECKS.BMP LEFT=1in TOP=3in WIDTH=2in HEIGHT=1.33in}"
                               "{PEN FILLCOLOR=RED FILLSTYLE=SOLID}{RECT AT=4in,3in SIZE=1in,1in}{/PEN}"
                               "{IMAGE SRC=DOT.GIF LEFT=4.25in TOP=3.25in WIDTH=1in HEIGHT=1in}\r\n";
    const TPageDiff d = Compare(Write(report), 1, Strict(), "Pictures");
    EXPECT_GT(d.Marked, 20000);
    EXPECT_TRUE(d.Fits) << Describe(d);
}

// ---- the example reports ----------------------------------------------------------

struct ExampleCase {
    const char* Name;
    const char* File;
    int Pages;
};

void PrintTo(const ExampleCase& C, std::ostream* Os) { *Os << C.Name; }

class PdfExampleFidelityTest : public PdfFidelityTest, public ::testing::WithParamInterface<ExampleCase> {};

TEST_P(PdfExampleFidelityTest, EveryPageLooksLikeItsPreview)
{
    const std::string report = std::string(QUILLARD_SOURCE_DIR "/examples/") + GetParam().File;
    const std::string pdf = MakePdfOf(report, std::string(GetParam().Name) + ".pdf");
    ASSERT_EQ(PdfInfo(pdf, "Pages"), std::to_string(GetParam().Pages));
    for (int n = 1; n <= GetParam().Pages; ++n) {
        const QImage rendered = RenderedPdfPage(pdf, n);
        const QImage preview = PreviewLikeThePdf(*R, n);
        const TPageDiff d = ComparePages(preview, rendered, WithText());
        Keep(std::string(GetParam().Name) + "-" + std::to_string(n), preview, rendered, d);
        EXPECT_TRUE(d.Fits) << GetParam().File << " page " << n << ": " << Describe(d);
    }
}

INSTANTIATE_TEST_SUITE_P(Examples, PdfExampleFidelityTest,
                         ::testing::Values(ExampleCase{"Invoice", "invoice.txt", 2}, ExampleCase{"Form", "form.txt", 1},
                                           ExampleCase{"Ledger", "ledger.txt", 3},
                                           ExampleCase{"Statement", "statement.txt", 3}),
                         [](const auto& info) { return std::string(info.param.Name); });

// A UTF-8 report in Latin, Greek and Cyrillic, in several faces, sizes and
// styles and a rotated line: the characters in embedded fonts look as the
// preview shows them, with the standard fonts besides or with every font
// embedded. (Box drawing is drawn as lines, the same in any character set:
// the ledger example shows it.)
class PdfScriptsFidelityTest : public PdfFidelityTest, public ::testing::WithParamInterface<bool> {};

TEST_P(PdfScriptsFidelityTest, ScriptsLookLikeThePreview)
{
    const std::string report = Out("scripts.txt");
    std::ofstream(report, std::ios::binary)
        << "{FONT NAME=\"Times New Roman\" SIZE=20 BOLD}\xE1\xBC\x88\xCF\x81\xCF\x87\xCE\xB5\xE1\xBF\x96\xCE\xBF \xC2\xB7 "
           "Archive \xC2\xB7 \xD0\x90\xD1\x80\xD1\x85\xD0\xB8\xD0\xB2\n"
           "{FONT NAME=\"Courier New\" SIZE=10}\nStatement for \xCE\xA3\xCE\xBF\xCF\x86\xCE\xAF\xCE\xB1 and "
           "\xD0\x94\xD0\xBC\xD0\xB8\xD1\x82\xD1\x80\xD0\xB8\xD0\xB9: 1 023,60 \xE2\x82\xAC\n"
           "{FONT NAME=\"Arial\" SIZE=11}\xCE\x95\xCF\x85\xCF\x87\xCE\xB1\xCF\x81\xCE\xB9\xCF\x83\xCF\x84\xCE\xBF\xCF\x8D\xCE\xBC\xCE\xB5. "
           "\xD0\xA1\xD0\xBF\xD0\xB0\xD1\x81\xD0\xB8\xD0\xB1\xD0\xBE \xD0\xB7\xD0\xB0 \xD0\xB4\xD0\xBE\xD0\xB2\xD0\xB5\xD1\x80\xD0\xB8\xD0\xB5!\n"
           "{FONT NAME=\"Arial\" SIZE=11 ITALIC}\xCE\xA8\xCE\xB7\xCF\x86\xCE\xB9\xCE\xB1\xCE\xBA\xCE\xAE \xE2\x80\x94 "
           "\xD1\x86\xD0\xB8\xD1\x84\xD1\x80\xD0\xBE\xD0\xB2\xD0\xB0\xD1\x8F\n"
           "{FONT NAME=\"Times New Roman\" SIZE=12}Times: \xE2\x80\x9Cquotes\xE2\x80\x9D \xE2\x80\xB0 \xE2\x89\x88 \xE2\x89\xA0 \xE2\x88\x91 \xE2\x88\x9E\n"
           "{FONT NAME=\"Arial\" SIZE=24 COLOR=RED ROTATION=15}\xCE\x91\xCE\xA1\xCE\xA7\xCE\x95\xCE\x99\xCE\x9F "
           "\xD0\x90\xD0\xA0\xD0\xA5\xD0\x98\xD0\x92\n";
    R->Job.PdfEmbedFonts = GetParam();
    const TPageDiff d = Compare(report, 1, WithText(), GetParam() ? "scripts-embedded" : "scripts");
    EXPECT_TRUE(d.Fits) << Describe(d);
}

INSTANTIATE_TEST_SUITE_P(Fonts, PdfScriptsFidelityTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "EveryFontEmbedded" : "StandardFontsBesides"; });

// The comparison notices what a PDF leaves out: the form's preview against
// PDFs of the form with one thing taken away.
struct OmissionCase {
    const char* Name;
    const char* Drop;  // text taken out of the report for the PDF
};

void PrintTo(const OmissionCase& C, std::ostream* Os) { *Os << C.Name; }

class PdfFidelityCheckTest : public PdfFidelityTest, public ::testing::WithParamInterface<OmissionCase> {};

TEST_P(PdfFidelityCheckTest, NoticesWhatThePdfLeavesOut)
{
    const std::string form = ReadBytes(QUILLARD_SOURCE_DIR "/examples/form.txt");
    std::string less = form;
    const size_t at = less.find(GetParam().Drop);
    ASSERT_NE(at, std::string::npos);
    less.erase(at, std::string(GetParam().Drop).size());

    const std::string pdf = MakePdfOf(Write(less, "LESS.TXT"), "less.pdf");
    const QImage rendered = RenderedPdfPage(pdf, 1);
    R->OpenFile(Write(form, "FORM.TXT"), nullptr);
    const QImage preview = PreviewLikeThePdf(*R, 1);
    const TPageDiff d = ComparePages(preview, rendered, WithText());
    Keep(std::string("Omission") + GetParam().Name, preview, rendered, d);
    EXPECT_FALSE(d.Fits) << Describe(d);
}

INSTANTIATE_TEST_SUITE_P(Form, PdfFidelityCheckTest,
                         ::testing::Values(OmissionCase{"Wheel", "{CIRCLE AT=3in,2.7in RADIUS=0.2in}"},
                                           OmissionCase{"Pie", "{PIE AT=5.35in,0.55in RADIUS=0.35in BEGIN=0 END=270}"},
                                           OmissionCase{"Hatch", " FILLSTYLE=BDIAGONAL"},
                                           OmissionCase{"RotatedStamp", "{B}CHECKED{/B}"},
                                           OmissionCase{"Tick", "{LINE FROM=0.22in,0.57in TO=0.32in,0.4in}"}),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace quillard::test
