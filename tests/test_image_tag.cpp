// The image tag on a 300-dpi page: each format at its natural size, the
// sizing and placing attributes, the failure texts, pictures carried in-line,
// DELETE=YES and the clean-up, and the look-up of file names written the
// Windows way.
#include "tests/test_image_util.h"

#include "engine/markup.h"
#include "engine/reportfiles.h"

#include <QDir>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace quillard::test {
namespace {

namespace fs = std::filesystem;

// A 300 x 150 picture with no white in it: four coloured quarters with a
// darker stripe every 10 pixels, so that any shift or flip shows.
uint32_t Quarters(int x, int y)
{
    static const uint32_t q[4] = {0xC02020, 0x20A040, 0x3050C0, 0x806020};
    uint32_t c = q[(x >= 150 ? 1 : 0) + (y >= 75 ? 2 : 0)];
    if (x % 10 == 0 || y % 10 == 0)
        c = (c >> 1) & 0x7F7F7F;
    return c;
}

// For GIF: the same layout in palette indexes.
const std::vector<uint32_t> QuarterColours = {0xC02020, 0x20A040, 0x3050C0, 0x806020,
                                              0x601010, 0x105020, 0x182860, 0x403010};
int QuarterIndex(int x, int y)
{
    const int i = (x >= 150 ? 1 : 0) + (y >= 75 ? 2 : 0);
    return (x % 10 == 0 || y % 10 == 0) ? i + 4 : i;
}

// For JPEG: flat 25-pixel blocks, which survive coding.
uint32_t JpegBlocks(int x, int y)
{
    static const uint32_t c[4] = {0xC03020, 0x20A040, 0x2040C0, 0x806020};
    return c[(x / 25 + y / 25) % 4];
}

struct FormatCase {
    const char* Name;
    const char* File;
    std::function<std::string()> Make;
    std::function<uint32_t(int, int)> Expected;
    int Tolerance;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.Name; }

class ImageFormatTest : public PictureTest, public ::testing::WithParamInterface<FormatCase> {};

// One picture pixel per device pixel: a 300 x 150 picture is 1 by 0.5 inch.
TEST_P(ImageFormatTest, DrawsAtNaturalSizeWithTheRightPixels)
{
    const FormatCase& c = GetParam();
    Write(c.Make(), c.File);
    ASSERT_TRUE(Draw300(std::string("{IMAGE SRC=") + c.File + " LEFT=1in TOP=1in}\r\n"));
    EXPECT_EQ(Captions(), "");
    const TInkBox box = NonWhite();
    EXPECT_EQ(box.Left, 300);
    EXPECT_EQ(box.Top, 300);
    EXPECT_EQ(box.Right, 599);
    EXPECT_EQ(box.Bottom, 449);
    int worst = 0;
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 300; ++x)
            worst = std::max(worst, ColourDistance(At(300 + x, 300 + y), c.Expected(x, y)));
    EXPECT_LE(worst, c.Tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ImageFormatTest,
    ::testing::Values(
        FormatCase{"Bmp24", "LOGO.BMP", [] { return MakeBmp24(300, 150, Quarters); }, Quarters, 0},
        FormatCase{"Bmp8Rle", "LOGO8.BMP",
                   [] {
                       std::vector<uint32_t> pal = QuarterColours;
                       return MakeBmp(BmpLayout{300, 150, 8, 1, 40, pal, {}},
                                      [](int x, int y) { return uint32_t(QuarterIndex(x, y)); });
                   },
                   Quarters, 0},
        FormatCase{"Bmp4TopDown", "LOGO4.BMP",
                   [] {
                       std::vector<uint32_t> pal = QuarterColours;
                       pal.resize(16, 0);
                       return MakeBmp(BmpLayout{300, -150, 4, 0, 40, pal, {}},
                                      [](int x, int y) { return uint32_t(QuarterIndex(x, y)); });
                   },
                   Quarters, 0},
        FormatCase{"Jpeg", "LOGO.JPG", [] { return EncodeJpeg(300, 150, JpegBlocks); }, JpegBlocks, 3},
        FormatCase{"JpegLongExtension", "PHOTO.JPEG", [] { return EncodeJpeg(300, 150, JpegBlocks, JpegOptions{100, true}); },
                   JpegBlocks, 3},
        FormatCase{"Gif", "LOGO.GIF", [] { return EncodeGif(300, 150, QuarterColours, {GifFrame{0, 0, 300, 150, false, -1, QuarterIndex}}); },
                   Quarters, 0},
        FormatCase{"GifInterlaced", "LACED.GIF",
                   [] { return EncodeGif(300, 150, QuarterColours, {GifFrame{0, 0, 300, 150, true, -1, QuarterIndex}}); }, Quarters,
                   0}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- sizes -------------------------------------------------------------------

struct SizeCase {
    const char* Name;
    const char* Attrs;
    int Width, Height;  // device pixels
};

void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.Name; }

class ImageSizeTest : public PictureTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(ImageSizeTest, CoversTheSizeTheAttributesGive)
{
    Write(MakeBmp24(300, 150, Quarters), "LOGO.BMP");
    ASSERT_TRUE(Draw300(std::string("{IMAGE SRC=LOGO.BMP LEFT=1in TOP=1in ") + GetParam().Attrs + "}\r\n"));
    const TInkBox box = NonWhite();
    EXPECT_EQ(box.Left, 300);
    EXPECT_EQ(box.Top, 300);
    EXPECT_EQ(box.Right - box.Left + 1, GetParam().Width);
    EXPECT_EQ(box.Bottom - box.Top + 1, GetParam().Height);
    EXPECT_EQ(Captions(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Sizing, ImageSizeTest,
    ::testing::Values(SizeCase{"Natural", "", 300, 150}, SizeCase{"ScalePercent", "SCALE=50%", 150, 75},
                      SizeCase{"ScaleWithoutPercent", "SCALE=200", 600, 300}, SizeCase{"ResizeSynonym", "RESIZE=50", 150, 75},
                      SizeCase{"ScaleBeatsWidth", "SCALE=50% WIDTH=3in", 150, 75},
                      SizeCase{"ScaleZeroFallsThrough", "SCALE=0 WIDTH=2in", 600, 150},
                      SizeCase{"WidthStretchesAlone", "WIDTH=2in", 600, 150},
                      SizeCase{"HeightStretchesAlone", "HEIGHT=1in", 300, 300},
                      SizeCase{"BothStretch", "WIDTH=1in HEIGHT=1in", 300, 300},
                      SizeCase{"WidthInPixels", "WIDTH=450PX", 450, 150},
                      SizeCase{"WidthInCentimetres", "WID=5.08cm", 600, 150},
                      SizeCase{"IsoAlone", "ISO", 300, 150}, SizeCase{"IsoWidth", "WIDTH=2in ISO", 600, 300},
                      SizeCase{"IsoHeight", "HT=1in ISO", 600, 300},
                      SizeCase{"IsoBoxWideFitsHeight", "WIDTH=4in HEIGHT=1in ISO", 600, 300},
                      SizeCase{"IsoBoxTallFitsWidth", "WIDTH=1in HEIGHT=4in ISO", 300, 150}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- position ------------------------------------------------------------------

struct PlaceCase {
    const char* Name;
    const char* Before;  // report text before the tag
    const char* Attrs;
    int Left, Top;       // device pixels
};

void PrintTo(const PlaceCase& c, std::ostream* os) { *os << c.Name; }

class ImagePlaceTest : public PictureTest, public ::testing::WithParamInterface<PlaceCase> {};

// The page's printable area starts 0.25 inch from the paper's left edge and
// 0.04 inch from its top (the metrics without a printer).
TEST_P(ImagePlaceTest, PutsTheTopLeftCornerWhereTheTagSays)
{
    Write(MakeBmp24(300, 150, Quarters), "LOGO.BMP");
    ASSERT_TRUE(Draw300(std::string(GetParam().Before) + "{IMAGE SRC=LOGO.BMP " + GetParam().Attrs + "}\r\n"));
    const TInkBox box = NonWhite();
    EXPECT_EQ(box.Left, GetParam().Left);
    EXPECT_EQ(box.Top, GetParam().Top);
    EXPECT_EQ(box.Right - box.Left + 1, 300);
    EXPECT_EQ(Captions(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Placing, ImagePlaceTest,
    ::testing::Values(PlaceCase{"AtTheCursor", "", "", 0, 0},
                      PlaceCase{"RelativeToTheSpan", "", "LEFT=1in TOP=1in", 300, 300},
                      PlaceCase{"ColAndRow", "", "COL=2in ROW=1in", 600, 300},
                      PlaceCase{"AbsoluteOnThePaper", "", "ABS LEFT=1in TOP=2in", 225, 588},
                      PlaceCase{"AtPoint", "", "AT=2in,1in", 600, 300},
                      PlaceCase{"FromPoint", "", "FROM=1in,2in", 300, 600},
                      PlaceCase{"AtBeatsLeft", "", "AT=2in,1in LEFT=3in", 600, 300},
                      PlaceCase{"AtAbsolute", "", "ABSOLUTE AT=1in,1in", 225, 288},
                      PlaceCase{"CursorAfterGoto", "{GOTO X=2in Y=1in}", "", 600, 300},
                      PlaceCase{"LeftKeepsTheCursorRow", "{GOTO X=2in Y=1in}", "LEFT=3in", 900, 300}),
    [](const auto& info) { return std::string(info.param.Name); });

// With right or centre alignment in force and no LEFT, the picture ends at
// (or is centred on) the alignment anchor.
TEST_F(PictureTest, ImageFollowsTheLineAlignment)
{
    Write(MakeBmp24(300, 150, Quarters), "LOGO.BMP");
    for (const std::string align : {"RIGHT", "CENTER"}) {
        Services.OnPump = [&] { R->Span().SetAlign(align); };
        ASSERT_TRUE(Draw300("{IMAGE SRC=LOGO.BMP TOP=1in}\r\n"));
        const int left = align == "RIGHT" ? R->Metrics.PageWidthPx - 300 : int(RoundHalfEven(R->Metrics.PageWidthPx / 2.0 - 150));
        const TInkBox box = NonWhite();
        EXPECT_EQ(box.Left, left) << align;
        EXPECT_EQ(box.Right - box.Left + 1, 300) << align;

        // LEFT given: the alignment does not apply.
        ASSERT_TRUE(Draw300("{IMAGE SRC=LOGO.BMP LEFT=1in TOP=1in}\r\n"));
        EXPECT_EQ(NonWhite().Left, 300) << align;
    }
    Services.OnPump = nullptr;
}

// Zoomed out, the surface has fewer pixels per inch and the picture keeps its
// size in inches.
TEST_F(PictureTest, ZoomedSurfaceStretchesThePictureToItsInches)
{
    Write(MakeBmp24(300, 150, Quarters), "LOGO.BMP");
    R->SetScale(0.5);
    ASSERT_TRUE(Draw300("{IMAGE SRC=LOGO.BMP LEFT=1in TOP=1in}\r\n"));
    const TInkBox box = NonWhite();
    EXPECT_EQ(box.Left, 150);
    EXPECT_EQ(box.Top, 150);
    EXPECT_EQ(box.Right, 299);
    EXPECT_EQ(box.Bottom, 224);
    EXPECT_EQ(At(150 + 12, 150 + 12), 0xC02020u);
}

// ---- what is not drawn --------------------------------------------------------------

struct NothingCase {
    const char* Name;
    std::string Report;
};

void PrintTo(const NothingCase& c, std::ostream* os) { *os << c.Name; }

class ImageNothingTest : public PictureTest, public ::testing::WithParamInterface<NothingCase> {};

// No source, a missing file, a folder or a pipe in its place: nothing drawn,
// nothing said, and the pass reads on.
TEST_P(ImageNothingTest, DrawsNothingAndSaysNothing)
{
    fs::create_directory(PathOf("FOLDER.BMP"));
    ASSERT_EQ(::mkfifo(PathOf("PIPE.BMP").c_str(), 0600), 0);
    ASSERT_TRUE(Draw300(GetParam().Report + "\r\n{GOTO Y=2in}x"));
    EXPECT_EQ(Captions(), "");
    const TInkBox box = NonWhite();
    ASSERT_FALSE(box.Empty());  // the x after the tag
    EXPECT_GE(box.Top, 500);
}

INSTANTIATE_TEST_SUITE_P(
    Absent, ImageNothingTest,
    ::testing::Values(NothingCase{"NoSource", "{IMAGE LEFT=1in}"}, NothingCase{"BlankSource", "{IMAGE SRC=\"  \"}"},
                      NothingCase{"MissingFile", "{IMAGE SRC=MISSING.BMP}"}, NothingCase{"Folder", "{IMAGE SRC=FOLDER.BMP}"},
                      NothingCase{"Pipe", "{IMAGE SRC=PIPE.BMP}"},
                      NothingCase{"InlineWithoutData", "{IMG DATALEN=10 SRC=LOGO.BMP}"},
                      NothingCase{"InlineNegativeLength", "{IMG DATALEN=-10 DATA=\"abc\"}"},
                      NothingCase{"InlineZeroLength", "{IMG DATALEN=0 DATA=\"\"}"}),
    [](const auto& info) { return std::string(info.param.Name); });

// Draws Text with the page's current font at (X, Y) on a fresh page of the
// same size and gives its ink box.
TInkBox TextBox(TImageCanvas& Like, int X, int Y, const std::string& Text)
{
    TImageCanvas c(Like.Image().width(), Like.Image().height(), 300, 300);
    c.Font = Like.Font;
    c.TextOut(X, Y, Text);
    return InkBox(c.Image(), [](QRgb p) { return (p & 0xFFFFFF) != 0xFFFFFF; });
}

using FileList = std::vector<std::pair<std::string, std::string>>;  // name, bytes

struct FailureCase {
    const char* Name;
    std::function<FileList()> Files;
    std::string Report;
    const char* Text;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.Name; }

class ImageFailureTest : public PictureTest, public ::testing::WithParamInterface<FailureCase> {};

// A picture that cannot be decoded shows the failure text at its corner.
TEST_P(ImageFailureTest, DrawsTheFailureText)
{
    for (const auto& [name, bytes] : GetParam().Files())
        Write(bytes, name);
    ASSERT_TRUE(Draw300(GetParam().Report));
    EXPECT_EQ(Captions(), "");
    const TInkBox got = NonWhite();
    const TInkBox want = TextBox(*Page, 300, 300, GetParam().Text);
    ASSERT_FALSE(want.Empty());
    EXPECT_EQ(got.Left, want.Left);
    EXPECT_EQ(got.Top, want.Top);
    EXPECT_EQ(got.Right, want.Right);
    EXPECT_EQ(got.Bottom, want.Bottom);
}

std::string HugeBmpClaim()
{
    std::string b = MakeBmp24(30, 20, Quarters);
    for (int at : {18, 22}) {  // 100000 x 100000
        b[at] = char(0xA0);
        b[at + 1] = char(0x86);
        b[at + 2] = 0x01;
    }
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ImageFailureTest,
    ::testing::Values(
        FailureCase{"UnknownFormat", [] { return FileList{{"FILE.XYZ", MakeBmp24(30, 20, Quarters)}}; },
                    "{IMAGE SRC=FILE.XYZ FORMAT=TIFF LEFT=1in TOP=1in}", "(Could Not Load Graphic: FILE.XYZ"},
        FailureCase{"TruncatedBmp", [] { return FileList{{"CUT.BMP", MakeBmp24(300, 150, Quarters).substr(0, 5000)}}; },
                    "{IMAGE SRC=CUT.BMP LEFT=1in TOP=1in}", "(Could Not Load Graphic: CUT.BMP"},
        FailureCase{"JpegCutInHalf",
                    [] {
                        const std::string j = EncodeJpeg(300, 150, Quarters);
                        return FileList{{"HALF.JPG", j.substr(0, j.size() / 2)}};
                    },
                    "{IMAGE SRC=HALF.JPG LEFT=1in TOP=1in}", "(Could Not Load Graphic: HALF.JPG"},
        FailureCase{"HugeBmpClaim", [] { return FileList{{"HUGE.BMP", HugeBmpClaim()}}; }, "{IMAGE SRC=HUGE.BMP LEFT=1in TOP=1in}",
                    "(Could Not Load Graphic: HUGE.BMP"},
        FailureCase{"GifNamedAsBmp",
                    [] {
                        return FileList{{"WRONG.BMP", EncodeGif(8, 8, QuarterColours,
                                                                {GifFrame{0, 0, 8, 8, false, -1, [](int, int) { return 1; }}})}};
                    },
                    "{IMAGE SRC=WRONG.BMP LEFT=1in TOP=1in}", "(Could Not Load Graphic: WRONG.BMP"},
        FailureCase{"InlineGarbage", [] { return FileList{}; }, "{IMG LEFT=1in TOP=1in DATALEN=5 DATA=\"xxxxx\"}",
                    "(Could Not Load Graphic)"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(PictureTest, FormatAttributeOverridesTheExtension)
{
    Write(EncodeGif(300, 150, QuarterColours, {GifFrame{0, 0, 300, 150, false, -1, QuarterIndex}}), "PIC.DAT");
    Write(EncodeJpeg(300, 150, JpegBlocks), "PHOTO.BMP");
    ASSERT_TRUE(Draw300("{IMAGE SRC=PIC.DAT FORMAT=GIF89 LEFT=1in TOP=1in}{IMAGE SRC=PHOTO.BMP FORMAT=JPEG LEFT=3in TOP=1in}\r\n"));
    EXPECT_EQ(Captions(), "");
    EXPECT_EQ(At(300 + 20, 300 + 20), Quarters(20, 20));
    EXPECT_LE(ColourDistance(At(900 + 5, 300 + 5), JpegBlocks(5, 5)), 3);
}

TEST_F(PictureTest, UnreadableDatalenIsReportedUnderTheImageCaption)
{
    ASSERT_TRUE(Draw300("{IMG DATALEN=12X DATA=\"abc\"}\r\n{GOTO Y=2in}x"));
    ASSERT_EQ(Services.Messages.size(), 1u);
    EXPECT_EQ(Services.Messages[0].Caption, "Error in tRenderer.Render:{IMAGE}");
    EXPECT_EQ(Services.Messages[0].Text, "'12X' is not a valid integer value");
    EXPECT_GE(NonWhite().Top, 500);  // the pass went on
}

TEST_F(PictureTest, PictureOnAPageThatIsNotDrawnLeavesNoInk)
{
    Write(MakeBmp24(300, 150, Quarters), "LOGO.BMP");
    ASSERT_TRUE(Draw300("{IMAGE SRC=LOGO.BMP LEFT=1in TOP=1in}\r\n{PAGE}\r\n{IMAGE SRC=LOGO.BMP LEFT=3in TOP=1in}\r\n", 2));
    const TInkBox box = NonWhite();
    EXPECT_EQ(box.Left, 900);
    EXPECT_EQ(box.Top, 300);
}

// ---- in-line pictures --------------------------------------------------------

std::string Inline(const std::string& Attrs, const std::string& Data)
{
    return "{IMG " + Attrs + " DATALEN=" + std::to_string(Data.size()) + " DATA=\"" + Data + "\"}";
}

struct InlineCase {
    const char* Name;
    std::function<std::string()> Data;
    std::function<uint32_t(int, int)> Expected;
    int Tolerance;
};

void PrintTo(const InlineCase& c, std::ostream* os) { *os << c.Name; }

class InlineImageTest : public PictureTest, public ::testing::WithParamInterface<InlineCase> {};

// Without FORMAT the bytes' signature tells the format.
TEST_P(InlineImageTest, RecognisesTheFormatBySignature)
{
    ASSERT_TRUE(Draw300(Inline("LEFT=1in TOP=1in", GetParam().Data()) + "\r\n"));
    EXPECT_EQ(Captions(), "");
    const TInkBox box = NonWhite();
    EXPECT_EQ(box.Left, 300);
    EXPECT_EQ(box.Top, 300);
    EXPECT_EQ(box.Right, 599);
    EXPECT_EQ(box.Bottom, 449);
    int worst = 0;
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 300; ++x)
            worst = std::max(worst, ColourDistance(At(300 + x, 300 + y), GetParam().Expected(x, y)));
    EXPECT_LE(worst, GetParam().Tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    Signatures, InlineImageTest,
    ::testing::Values(InlineCase{"JfifJpeg", [] { return EncodeJpeg(300, 150, JpegBlocks); }, JpegBlocks, 3},
                      InlineCase{"ExifStyleJpeg", [] { return EncodeJpeg(300, 150, JpegBlocks, JpegOptions{100, false, false, false, false}); },
                                 JpegBlocks, 3},
                      InlineCase{"Bmp", [] { return MakeBmp24(300, 150, Quarters); }, Quarters, 0},
                      InlineCase{"Gif",
                                 [] { return EncodeGif(300, 150, QuarterColours, {GifFrame{0, 0, 300, 150, false, -1, QuarterIndex}}); },
                                 Quarters, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- DELETE=YES -------------------------------------------------------------------

// The names of the pictures listed for deletion, in order.
std::string Listed(const tRenderer& R)
{
    std::string s;
    for (const TPictureToDelete& p : R.ImagesToDelete)
        s += p.Path + ";";
    return s;
}

// A count draws nothing and decodes no picture, but the pictures of every
// page that are to be deleted are read and marked as a pass that draws them
// would: the clean-up after a preview takes the same files, and a picture
// that does not decode is never marked.
TEST_F(PictureTest, ACountDrawsNothingButMarksThePicturesToDelete)
{
    Write(MakeBmp24(30, 20, Quarters), "ONE.BMP");
    Write(MakeBmp24(30, 20, Quarters), "TWO.BMP");
    Write(MakeBmp24(30, 20, Quarters), "KEEP.BMP");
    Write("not a picture", "BROKEN.BMP");
    R->OpenFile(Write("Page one {IMAGE SRC=ONE.BMP DELETE=YES}{IMAGE SRC=KEEP.BMP}{LINE X1=0 Y1=0 X2=2in Y2=2in}\r\n"
                      "{PAGE}Page two{IMAGE SRC=BROKEN.BMP DELETE=YES}\r\n{PAGE}{IMAGE SRC=TWO.BMP DELETE=YES}\r\n"),
                nullptr);
    UsePage300(R->GetScale());
    EXPECT_EQ(R->CountPages(), 3);
    EXPECT_TRUE(NonWhite().Empty());
    EXPECT_EQ(Listed(*R), PathOf("ONE.BMP") + ";" + PathOf("TWO.BMP") + ";");
    EXPECT_TRUE(Captions().empty()) << Captions();

    // Drawing a page afterwards draws as before.
    ASSERT_TRUE(R->RenderPages(nullptr, 1, nullptr, 1));
    EXPECT_FALSE(NonWhite().Empty());

    // Pictures only to be shown are not even read.
    R->OpenFile(Write("{IMAGE SRC=KEEP.BMP}\r\n{PAGE}{IMAGE SRC=KEEP.BMP}\r\n", "OTHER.TXT"), nullptr);
    EXPECT_EQ(R->CountPages(), 2);
    EXPECT_EQ(R->PictureBudget.Spent(), 0);
}

TEST_F(PictureTest, DeleteYesListsTheFileOnceAndCleanUpRemovesIt)
{
    Write(MakeBmp24(30, 20, Quarters), "TEMP.BMP");
    Write(MakeBmp24(30, 20, Quarters), "KEEP.BMP");
    ASSERT_TRUE(Draw300("{IMAGE SRC=TEMP.BMP DELETE=YES}\r\n{IMAGE SRC=temp.bmp DELETE=YES}{IMAGE SRC=KEEP.BMP}\r\n"));
    const std::string temp = FindReportFile("TEMP.BMP", R->FileName);
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(Listed(*R), temp + ";");
    EXPECT_TRUE(fs::exists(PathOf("TEMP.BMP")));  // not before the clean-up
    CleanUpImageFiles(*R);
    EXPECT_FALSE(fs::exists(PathOf("TEMP.BMP")));
    EXPECT_TRUE(fs::exists(PathOf("KEEP.BMP")));
    EXPECT_TRUE(R->ImagesToDelete.empty());
}

// The pictures of every pass of one report stay listed: a pass that draws one
// page (and so decodes only that page's pictures) forgets none. Another
// report starts a list of its own; nothing is deleted on the way.
TEST_F(PictureTest, EveryPassOfAReportAddsToItsDeletionList)
{
    Write(MakeBmp24(30, 20, Quarters), "ONE.BMP");
    Write(MakeBmp24(30, 20, Quarters), "TWO.BMP");
    const std::string report = "{IMAGE SRC=ONE.BMP DELETE=YES}\r\n{PAGE}{IMAGE SRC=TWO.BMP DELETE=YES}\r\n";
    ASSERT_TRUE(Draw300(report, 2));
    EXPECT_EQ(Listed(*R), PathOf("TWO.BMP") + ";");
    ASSERT_TRUE(R->RenderPages(nullptr, 1, nullptr, 1));
    ASSERT_TRUE(R->RenderPages(nullptr, 2, nullptr, 2));
    EXPECT_EQ(Listed(*R), PathOf("TWO.BMP") + ";" + PathOf("ONE.BMP") + ";");
    R->OpenFile(Write("no pictures\r\n", "OTHER.TXT"), nullptr);
    EXPECT_TRUE(R->ImagesToDelete.empty());
    CleanUpImageFiles(*R);
    EXPECT_TRUE(fs::exists(PathOf("ONE.BMP")));
    EXPECT_TRUE(fs::exists(PathOf("TWO.BMP")));
}

TEST_F(PictureTest, ReportFromTheWebDeletesNothing)
{
    Write(MakeBmp24(30, 20, Quarters), "TEMP.BMP");
    ASSERT_TRUE(Draw300("{IMAGE SRC=TEMP.BMP DELETE=YES}\r\n"));
    ASSERT_EQ(R->ImagesToDelete.size(), 1u);
    // Even a list made while the report was trusted is left alone.
    R->ReportIsUntrusted = true;
    CleanUpImageFiles(*R);
    EXPECT_TRUE(fs::exists(PathOf("TEMP.BMP")));
    ASSERT_TRUE(R->RenderPages(nullptr, 1, nullptr, 1));
    EXPECT_TRUE(R->ImagesToDelete.empty());
}

// Which files DELETE=YES may take: the report lies in REPORT/ of the scratch
// folder, with OUTSIDE/ beside it. Each case lays out its files, gives the
// tag (as written) and names the files that must be gone and those that must
// stay after a pass and the clean-up.
struct DeleteCase {
    const char* Name;
    std::function<void(const std::string& Root)> Arrange;
    std::function<std::string(const std::string& Root)> Tag;
    std::vector<std::string> Gone, Kept;  // relative to the scratch folder
    uint32_t Drawn;                       // colour of the picture drawn, 0 for none
};

void PrintTo(const DeleteCase& c, std::ostream* os) { *os << c.Name; }

constexpr uint32_t Blue = 0x2040C0, Red = 0xC02020;

std::string Bmp(uint32_t Colour)
{
    return MakeBmp24(30, 20, [Colour](int, int) { return Colour; });
}

void Put(const std::string& Path, const std::string& Bytes) { std::ofstream(Path, std::ios::binary) << Bytes; }

class DeleteYesTest : public PictureTest, public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(DeleteYesTest, DeletesOnlyADecodedPictureBesideOrBelowTheReport)
{
    const DeleteCase& c = GetParam();
    const std::string root = Dir.path().toStdString();
    fs::create_directories(root + "/REPORT");
    fs::create_directories(root + "/OUTSIDE");
    c.Arrange(root);
    const std::string report = c.Tag(root) + "\r\nAfter the picture\r\n";
    ASSERT_TRUE(Draw300("{IMAGE LEFT=1in TOP=1in" + report.substr(6), 1, "REPORT/REPORT.TXT"));
    if (c.Drawn) {
        EXPECT_LE(ColourDistance(At(310, 305), c.Drawn), 2) << std::hex << At(310, 305);
    }
    CleanUpImageFiles(*R);
    for (const std::string& f : c.Gone)
        EXPECT_FALSE(fs::exists(fs::symlink_status(root + "/" + f))) << f;
    for (const std::string& f : c.Kept)
        EXPECT_TRUE(fs::exists(fs::symlink_status(root + "/" + f))) << f;
    EXPECT_TRUE(fs::exists(root + "/REPORT/REPORT.TXT"));
}

INSTANTIATE_TEST_SUITE_P(
    Names, DeleteYesTest,
    ::testing::Values(
        DeleteCase{"BesideTheReport", [](const std::string& r) { Put(r + "/REPORT/PIC.BMP", Bmp(Blue)); },
                   [](auto&) { return "{IMAGE SRC=PIC.BMP DELETE=YES}"; }, {"REPORT/PIC.BMP"}, {}, Blue},
        DeleteCase{"InASubfolder", [](const std::string& r) {
                       fs::create_directories(r + "/REPORT/Pics");
                       Put(r + "/REPORT/Pics/Pic.bmp", Bmp(Blue));
                   },
                   [](auto&) { return "{IMAGE SRC=PICS\\PIC.BMP DELETE=YES}"; }, {"REPORT/Pics/Pic.bmp"}, {}, Blue},
        DeleteCase{"AbsoluteNameBesideTheReport", [](const std::string& r) { Put(r + "/REPORT/PIC.BMP", Bmp(Blue)); },
                   [](const std::string& r) { return "{IMAGE SRC=\"" + r + "/REPORT/PIC.BMP\" DELETE=YES}"; },
                   {"REPORT/PIC.BMP"}, {}, Blue},
        DeleteCase{"AbsoluteNameOutside", [](const std::string& r) { Put(r + "/OUTSIDE/PIC.BMP", Bmp(Red)); },
                   [](const std::string& r) { return "{IMAGE SRC=\"" + r + "/OUTSIDE/PIC.BMP\" DELETE=YES}"; }, {},
                   {"OUTSIDE/PIC.BMP"}, Red},
        DeleteCase{"UpAndOut", [](const std::string& r) { Put(r + "/OUTSIDE/PIC.BMP", Bmp(Red)); },
                   [](auto&) { return "{IMAGE SRC=..\\OUTSIDE\\PIC.BMP DELETE=YES}"; }, {}, {"OUTSIDE/PIC.BMP"}, Red},
        DeleteCase{"UpAndBackIn", [](const std::string& r) { Put(r + "/REPORT/PIC.BMP", Bmp(Blue)); },
                   [](auto&) { return "{IMAGE SRC=../REPORT/PIC.BMP DELETE=YES}"; }, {"REPORT/PIC.BMP"}, {}, Blue},
        DeleteCase{"ThroughALinkedFolder", [](const std::string& r) {
                       Put(r + "/OUTSIDE/PIC.BMP", Bmp(Red));
                       fs::create_directory_symlink(r + "/OUTSIDE", r + "/REPORT/LINKED");
                   },
                   [](auto&) { return "{IMAGE SRC=LINKED\\PIC.BMP DELETE=YES}"; }, {},
                   {"OUTSIDE/PIC.BMP", "REPORT/LINKED"}, Red},
        DeleteCase{"LinkToAPictureBesideTheReport", [](const std::string& r) {
                       Put(r + "/REPORT/TARGET.BMP", Bmp(Blue));
                       fs::create_symlink(r + "/REPORT/TARGET.BMP", r + "/REPORT/LINK.BMP");
                   },
                   [](auto&) { return "{IMAGE SRC=LINK.BMP DELETE=YES}"; }, {}, {"REPORT/TARGET.BMP", "REPORT/LINK.BMP"},
                   Blue},
        DeleteCase{"NotAPicture", [](const std::string& r) { Put(r + "/REPORT/NOTES.BMP", "just some notes\r\n"); },
                   [](auto&) { return "{IMAGE SRC=NOTES.BMP DELETE=YES}"; }, {}, {"REPORT/NOTES.BMP"}, 0},
        DeleteCase{"TheReportByName", [](auto&) {}, [](auto&) { return "{IMAGE SRC=REPORT.TXT FORMAT=BMP DELETE=YES}"; },
                   {}, {}, 0},
        DeleteCase{"ExactSpellingFirst", [](const std::string& r) {
                       Put(r + "/REPORT/dup.bmp", Bmp(Blue));
                       Put(r + "/REPORT/Dup.bmp", Bmp(Red));
                   },
                   [](auto&) { return "{IMAGE SRC=dup.bmp DELETE=YES}"; }, {"REPORT/dup.bmp"}, {"REPORT/Dup.bmp"}, Blue},
        DeleteCase{"OtherSpellingWhenNoExactOne", [](const std::string& r) { Put(r + "/REPORT/Dup.bmp", Bmp(Red)); },
                   [](auto&) { return "{IMAGE SRC=dup.BMP DELETE=YES}"; }, {"REPORT/Dup.bmp"}, {}, Red},
        DeleteCase{"NotAskedFor", [](const std::string& r) { Put(r + "/REPORT/PIC.BMP", Bmp(Blue)); },
                   [](auto&) { return "{IMAGE SRC=PIC.BMP DELETE=NO}"; }, {}, {"REPORT/PIC.BMP"}, Blue}),
    [](const auto& info) { return std::string(info.param.Name); });

// A report that is itself a picture, named by a hard link of its own, is
// drawn but never deleted by either name.
TEST_F(PictureTest, ReportThatDecodesAsAPictureIsNeverDeleted)
{
    std::string bmp = MakeBmp24(200, 20, [](int, int) { return 0x808080u; });
    const std::string tags =
        "\r\n{IMAGE SRC=SELF.BMP LEFT=1in TOP=1in DELETE=YES}{IMAGE SRC=HARD.BMP LEFT=2in TOP=1in DELETE=YES}\r\n";
    bmp.replace(bmp.size() - 200, tags.size(), tags);  // inside the pixels: the picture still decodes
    const std::string path = Write(bmp, "SELF.BMP");
    fs::create_hard_link(path, PathOf("HARD.BMP"));
    ASSERT_TRUE(Draw300(bmp, 1, "SELF.BMP"));
    EXPECT_EQ(At(310, 305), 0x808080u);  // drawn, by both names
    EXPECT_EQ(At(610, 305), 0x808080u);
    EXPECT_TRUE(R->ImagesToDelete.empty());
    CleanUpImageFiles(*R);
    EXPECT_TRUE(fs::exists(PathOf("SELF.BMP")));
    EXPECT_TRUE(fs::exists(PathOf("HARD.BMP")));
}

// A relative name is the picture beside the report even when the working
// folder has one of that name: that one is drawn, and that one deleted.
TEST_F(PictureTest, PictureBesideTheReportWinsOverTheWorkingFolder)
{
    QTemporaryDir work;
    const std::string old = fs::current_path();
    struct Back {
        std::string To;
        ~Back() { fs::current_path(To); }
    } back{old};
    fs::current_path(work.path().toStdString());
    const std::string theirs = work.filePath("LOGO.BMP").toStdString();
    Put(theirs, Bmp(Red));
    Write(Bmp(Blue), "LOGO.BMP");
    ASSERT_TRUE(Draw300("{IMAGE SRC=LOGO.BMP LEFT=1in TOP=1in DELETE=YES}\r\n"));
    EXPECT_EQ(At(310, 310), Blue);
    CleanUpImageFiles(*R);
    EXPECT_FALSE(fs::exists(PathOf("LOGO.BMP")));
    EXPECT_TRUE(fs::exists(theirs));

    // Without one beside the report, the working folder's is drawn, but it
    // lies outside the report's folder and stays.
    ASSERT_TRUE(Draw300("{IMAGE SRC=LOGO.BMP LEFT=1in TOP=1in DELETE=YES}\r\n"));
    EXPECT_EQ(At(310, 310), Red);
    EXPECT_TRUE(R->ImagesToDelete.empty());
    CleanUpImageFiles(*R);
    EXPECT_TRUE(fs::exists(theirs));
}

// What changed between the pass and the clean-up: the clean-up deletes only
// the very file that decoded, still in the report's folder, reached with no
// link on the way.
struct LaterChangeCase {
    const char* Name;
    // Changes the files after the pass; the picture is REPORT/PICS/PIC.BMP.
    std::function<void(const std::string& Root)> Change;
    std::vector<std::string> Kept;
};

void PrintTo(const LaterChangeCase& c, std::ostream* os) { *os << c.Name; }

class ChangedBeforeCleanUpTest : public PictureTest, public ::testing::WithParamInterface<LaterChangeCase> {};

TEST_P(ChangedBeforeCleanUpTest, LeavesWhatIsNoLongerThePicture)
{
    const std::string root = Dir.path().toStdString();
    fs::create_directories(root + "/REPORT/PICS");
    fs::create_directories(root + "/OUTSIDE");
    Put(root + "/REPORT/PICS/PIC.BMP", Bmp(Blue));
    ASSERT_TRUE(Draw300("{IMAGE SRC=PICS/PIC.BMP DELETE=YES}\r\n", 1, "REPORT/REPORT.TXT"));
    ASSERT_EQ(R->ImagesToDelete.size(), 1u);
    GetParam().Change(root);
    CleanUpImageFiles(*R);
    for (const std::string& f : GetParam().Kept)
        EXPECT_TRUE(fs::exists(fs::symlink_status(root + "/" + f))) << f;
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ChangedBeforeCleanUpTest,
    ::testing::Values(
        LaterChangeCase{"ReplacedByAnotherFile",
                        [](const std::string& r) {
                            Put(r + "/REPORT/PICS/NEW.BMP", "a note written since");
                            fs::rename(r + "/REPORT/PICS/NEW.BMP", r + "/REPORT/PICS/PIC.BMP");
                        },
                        {"REPORT/PICS/PIC.BMP"}},
        LaterChangeCase{"ReplacedByALinkToItself",
                        [](const std::string& r) {
                            fs::rename(r + "/REPORT/PICS/PIC.BMP", r + "/OUTSIDE/PIC.BMP");
                            fs::create_symlink(r + "/OUTSIDE/PIC.BMP", r + "/REPORT/PICS/PIC.BMP");
                        },
                        {"OUTSIDE/PIC.BMP", "REPORT/PICS/PIC.BMP"}},
        // The same file, moved out with its folder and reached through a
        // link put in the folder's place.
        LaterChangeCase{"FolderMovedOutAndLinkedBack",
                        [](const std::string& r) {
                            fs::rename(r + "/REPORT/PICS", r + "/OUTSIDE/PICS");
                            fs::create_directory_symlink(r + "/OUTSIDE/PICS", r + "/REPORT/PICS");
                        },
                        {"OUTSIDE/PICS/PIC.BMP"}},
        LaterChangeCase{"ReportFolderMovedAndLinkedBack",
                        [](const std::string& r) {
                            fs::rename(r + "/REPORT", r + "/OUTSIDE/REPORT");
                            fs::create_directory_symlink(r + "/OUTSIDE/REPORT", r + "/REPORT");
                        },
                        {"OUTSIDE/REPORT/PICS/PIC.BMP"}}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- finding the files reports name ---------------------------------------------

struct LookupCase {
    const char* Name;
    std::function<std::string(const std::string& Dir)> Src;
    const char* Found;  // relative to the folder, "" for none
};

void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.Name; }

class FileLookupTest : public ::testing::TestWithParam<LookupCase> {
protected:
    QTemporaryDir Dir;
    std::string Root;
    void SetUp() override
    {
        Root = Dir.path().toStdString();
        fs::create_directories(Root + "/Pics/Sub");
        for (const char* f : {"Pics/Sub/Logo.Bmp", "top.gif", "Both.bmp", "BOTH.BMP", "Ab.jpg", "aB.jpg"})
            std::ofstream(Root + "/" + f) << "x";
    }
};

TEST_P(FileLookupTest, FindsTheFileIgnoringLetterCase)
{
    const std::string found = FindFileNoCase(GetParam().Src(Root), Root);
    EXPECT_EQ(found, *GetParam().Found ? Root + "/" + GetParam().Found : std::string());
}

INSTANTIATE_TEST_SUITE_P(
    Names, FileLookupTest,
    ::testing::Values(
        LookupCase{"UpperCased", [](auto&) { return "TOP.GIF"; }, "top.gif"},
        LookupCase{"Backslashes", [](auto&) { return "PICS\\SUB\\LOGO.BMP"; }, "Pics/Sub/Logo.Bmp"},
        LookupCase{"Slashes", [](auto&) { return "pics/sub/logo.bmp"; }, "Pics/Sub/Logo.Bmp"},
        LookupCase{"DoubledAndDotted", [](auto&) { return "PICS\\\\.\\SUB\\LOGO.BMP"; }, "Pics/Sub/Logo.Bmp"},
        LookupCase{"ExactSpellingWins", [](auto&) { return "BOTH.BMP"; }, "BOTH.BMP"},
        LookupCase{"ExactSpellingWinsInLowerCase", [](auto&) { return "aB.jpg"; }, "aB.jpg"},
        LookupCase{"SortedOrderDecidesTheRest", [](auto&) { return "AB.JPG"; }, "Ab.jpg"},
        LookupCase{"AbsoluteUpperCased", [](const std::string& d) { return UpperCase(d) + "\\TOP.GIF"; }, "top.gif"},
        LookupCase{"DriveLetterDropped", [](const std::string& d) { return "C:" + UpperCase(d) + "\\PICS\\SUB\\LOGO.BMP"; },
                   "Pics/Sub/Logo.Bmp"},
        LookupCase{"Missing", [](auto&) { return "PICS\\NOPE.BMP"; }, ""},
        LookupCase{"FolderIsNoFile", [](auto&) { return "PICS\\SUB"; }, ""},
        LookupCase{"FileIsNoFolder", [](auto&) { return "TOP.GIF\\X.BMP"; }, ""},
        LookupCase{"Empty", [](auto&) { return ""; }, ""},
        LookupCase{"NulInside", [](auto&) { return std::string("TOP.GIF\0X", 9); }, ""}),
    [](const auto& info) { return std::string(info.param.Name); });

// A relative name is looked for in the report's folder first, then in the
// working folder.
TEST_F(PictureTest, RelativeNamesTryTheReportFolderThenTheWorkingFolder)
{
    QTemporaryDir work;
    const std::string old = fs::current_path();
    struct Back {
        std::string To;
        ~Back() { fs::current_path(To); }
    } back{old};
    fs::current_path(work.path().toStdString());

    std::ofstream(work.filePath("same.bmp").toStdString()) << MakeBmp24(30, 20, [](int, int) { return 0xFF0000u; });
    Write(MakeBmp24(30, 20, [](int, int) { return 0x0000FFu; }), "Same.BMP");
    ASSERT_TRUE(Draw300("{IMAGE SRC=SAME.BMP LEFT=1in TOP=1in}\r\n"));
    EXPECT_EQ(At(310, 310), 0x0000FFu);
    EXPECT_EQ(FindReportFile("SAME.BMP", R->FileName), PathOf("Same.BMP"));

    fs::remove(PathOf("Same.BMP"));
    ASSERT_TRUE(Draw300("{IMAGE SRC=SAME.BMP LEFT=1in TOP=1in}\r\n"));
    EXPECT_EQ(At(310, 310), 0xFF0000u);
    EXPECT_EQ(FindReportFile("SAME.BMP", R->FileName), work.filePath("same.bmp").toStdString());
}

// ---- a whole report ------------------------------------------------------------------

// A BMP, a JPEG and a GIF from files and an in-line JPEG, each 150 pixels
// square in a colour of its own, land where their tags say.
TEST_F(PictureTest, FourPicturesFromFilesAndInline)
{
    auto solid = [](uint32_t c) { return [c](int, int) { return c; }; };
    Write(MakeBmp24(150, 150, solid(0xD02020)), "Red.bmp");
    Write(EncodeJpeg(150, 150, solid(0x20A040)), "green.jpg");
    Write(EncodeGif(150, 150, {0x2040C0, 0}, {GifFrame{0, 0, 150, 150, false, -1, [](int, int) { return 0; }}}), "BLUE.GIF");
    const std::string report = "Four pictures\r\n"
                               "{IMAGE SRC=RED.BMP LEFT=1in TOP=1in}\r\n"
                               "{IMAGE SRC=GREEN.JPG LEFT=2in TOP=1in}{IMAGE SRC=BLUE.GIF LEFT=1in TOP=2in}\r\n" +
                               Inline("LEFT=2in TOP=2in", EncodeJpeg(150, 150, solid(0xE0C020))) + "\r\nThe end\r\n";
    ASSERT_TRUE(Draw300(report));
    EXPECT_EQ(Captions(), "");
    struct Spot {
        int X, Y;
        uint32_t Colour;
    };
    for (const Spot& s : {Spot{300, 300, 0xD02020}, Spot{600, 300, 0x20A040}, Spot{300, 600, 0x2040C0}, Spot{600, 600, 0xE0C020}}) {
        for (int dy : {0, 75, 149})
            for (int dx : {0, 75, 149})
                EXPECT_LE(ColourDistance(At(s.X + dx, s.Y + dy), s.Colour), 3) << s.X + dx << "," << s.Y + dy;
        EXPECT_EQ(At(s.X + 150, s.Y + 75), 0xFFFFFFu);
        EXPECT_EQ(At(s.X + 75, s.Y + 150), 0xFFFFFFu);
    }
    EXPECT_EQ(R->CountPages(), 1);
}

}  // namespace
}  // namespace quillard::test
