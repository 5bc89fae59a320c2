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
        const int left = align == "RIGHT" ? R->PageWidthPx - 300 : int(RoundHalfEven(R->PageWidthPx / 2.0 - 150));
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
TInkBox TextBox(tImageCanvas& Like, int X, int Y, const std::string& Text)
{
    tImageCanvas c(Like.Image().width(), Like.Image().height(), 300, 300);
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

TEST_F(PictureTest, DeleteYesListsTheFileOnceAndCleanUpRemovesIt)
{
    Write(MakeBmp24(30, 20, Quarters), "TEMP.BMP");
    Write(MakeBmp24(30, 20, Quarters), "KEEP.BMP");
    ASSERT_TRUE(Draw300("{IMAGE SRC=TEMP.BMP DELETE=YES}\r\n{IMAGE SRC=temp.bmp DELETE=YES}{IMAGE SRC=KEEP.BMP}\r\n"));
    const std::string temp = FindReportFile("TEMP.BMP", R->FileName);
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(R->ImagesToDelete, temp + ";");
    EXPECT_TRUE(fs::exists(PathOf("TEMP.BMP")));  // not before the clean-up
    CleanUpImageFiles(*R);
    EXPECT_FALSE(fs::exists(PathOf("TEMP.BMP")));
    EXPECT_TRUE(fs::exists(PathOf("KEEP.BMP")));
    EXPECT_EQ(R->ImagesToDelete, "");
}

TEST_F(PictureTest, EachPassStartsANewDeletionList)
{
    Write(MakeBmp24(30, 20, Quarters), "TEMP.BMP");
    ASSERT_TRUE(Draw300("{IMAGE SRC=TEMP.BMP DELETE=YES}\r\n"));
    EXPECT_NE(R->ImagesToDelete, "");
    ASSERT_TRUE(Draw300("no pictures\r\n"));
    EXPECT_EQ(R->ImagesToDelete, "");
}

TEST_F(PictureTest, ReportFromTheWebDeletesNothing)
{
    Write(MakeBmp24(30, 20, Quarters), "TEMP.BMP");
    R->ReportIsUntrusted = true;
    ASSERT_TRUE(Draw300("{IMAGE SRC=TEMP.BMP DELETE=YES}\r\n"));
    EXPECT_EQ(R->ImagesToDelete, "");
    // Even a list made while the report was trusted is left alone.
    R->ImagesToDelete = PathOf("TEMP.BMP") + ";";
    CleanUpImageFiles(*R);
    EXPECT_TRUE(fs::exists(PathOf("TEMP.BMP")));
}

TEST_F(PictureTest, CleanUpDeletesOnlyRegularFiles)
{
    Write(MakeBmp24(30, 20, Quarters), "TARGET.BMP");
    fs::create_symlink(PathOf("TARGET.BMP"), PathOf("LINK.BMP"));
    fs::create_directory(PathOf("DIR.BMP"));
    ASSERT_TRUE(Draw300("{IMAGE SRC=LINK.BMP DELETE=YES}\r\n"));
    EXPECT_NE(R->ImagesToDelete, "");
    R->ImagesToDelete += PathOf("DIR.BMP") + ";" + PathOf("NOT-THERE.BMP") + ";";
    CleanUpImageFiles(*R);
    EXPECT_TRUE(fs::is_symlink(PathOf("LINK.BMP")));
    EXPECT_TRUE(fs::exists(PathOf("TARGET.BMP")));
    EXPECT_TRUE(fs::is_directory(PathOf("DIR.BMP")));
}

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

// A relative name is looked for in the working folder first, then in the
// report's folder.
TEST_F(PictureTest, RelativeNamesTryTheWorkingFolderThenTheReportFolder)
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
    EXPECT_EQ(At(310, 310), 0xFF0000u);
    EXPECT_EQ(FindReportFile("SAME.BMP", R->FileName), work.filePath("same.bmp").toStdString());

    fs::remove(work.filePath("same.bmp").toStdString());
    ASSERT_TRUE(Draw300("{IMAGE SRC=SAME.BMP LEFT=1in TOP=1in}\r\n"));
    EXPECT_EQ(At(310, 310), 0x0000FFu);
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
