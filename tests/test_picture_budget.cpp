// What pictures may cost: a picture far larger than its place on the page is
// decoded only where it shows, at the page's resolution; the same picture is
// decoded once however often a report names it; and a pass that would decode
// more pixels than its pictures' bytes justify stops drawing pictures, once
// saying why.
#include "tests/test_image_util.h"

#include "surfaces/pictures.h"

namespace quillard::test {
namespace {

const std::vector<uint32_t> QuarterColours = {0xC02020, 0x20A040, 0x3050C0, 0x806020};

// A W x H run-length picture of four coloured quarters (indexes 0 to 3).
std::string QuarterPicture(int W, int H)
{
    return MakeBmp(BmpLayout{W, H, 8, 1, 40, QuarterColours, {}},
                   [W, H](int x, int y) { return uint32_t((x >= W / 2 ? 1 : 0) + (y >= H / 2 ? 2 : 0)); });
}

struct PlacementCase {
    const char* Name;
    const char* Attributes;
    // Points of the 300-dpi page and the quarter (or -1: white) each shows.
    std::vector<std::tuple<int, int, int>> Points;
};
void PrintTo(const PlacementCase& c, std::ostream* os) { *os << c.Name; }

class LargePictureTest : public PictureTest, public ::testing::WithParamInterface<PlacementCase> {};

// A 6,000 x 4,000 picture (24 million pixels, above what is decoded whole)
// shows the same wherever it is placed as a picture decoded whole would.
TEST_P(LargePictureTest, ShowsItsQuartersWhereTheyFall)
{
    Write(QuarterPicture(6000, 4000), "BIG.BMP");
    ASSERT_TRUE(Draw300(std::string("{IMAGE SRC=BIG.BMP ") + GetParam().Attributes + "}\r\n"));
    EXPECT_EQ(Captions(), "");
    for (const auto& [x, y, quarter] : GetParam().Points) {
        const uint32_t want = quarter < 0 ? 0xFFFFFF : QuarterColours[size_t(quarter)];
        EXPECT_EQ(At(x, y), want) << "at " << x << "," << y;
    }
    // What was decoded is at most what the page shows (and a pixel more
    // on each side).
    EXPECT_LE(R->PictureBudget.Spent(), int64_t(Page->Image().width() + 2) * (Page->Image().height() + 2));
}

INSTANTIATE_TEST_SUITE_P(
    Placements, LargePictureTest,
    ::testing::Values(
        // Shrunk into a 2 by 1 inch box: 600 x 300 device pixels.
        PlacementCase{"ShrunkIntoABox", "LEFT=1in TOP=1in WIDTH=2in HEIGHT=1in",
                      {{305, 305, 0}, {895, 305, 1}, {305, 595, 2}, {895, 595, 3}, {295, 450, -1}, {905, 450, -1},
                       {600, 295, -1}, {600, 605, -1}, {590, 440, 0}, {610, 460, 3}}},
        // Hanging off the left edge: the quarters split at x = 300.
        PlacementCase{"PartlyOffThePage", "LEFT=-1in TOP=1in WIDTH=4in HEIGHT=2in",
                      {{0, 305, 0}, {290, 305, 0}, {310, 305, 1}, {890, 895, 3}, {910, 600, -1}, {100, 910, -1}}},
        // At its natural size (20 by 13.3 inches) only its top-left quarter
        // and part of the one below fit on the page.
        PlacementCase{"NaturalSizeLargerThanThePage", "LEFT=0 TOP=0",
                      {{0, 0, 0}, {2000, 1990, 0}, {2000, 2010, 2}, {100, 2500, 2}}},
        PlacementCase{"EntirelyOffThePage", "LEFT=-5in TOP=1in WIDTH=2in HEIGHT=1in", {{0, 305, -1}, {10, 400, -1}}}),
    [](const auto& info) { return std::string(info.param.Name); });

// Pictures the report names again and again are decoded once: a file named
// five times (and read once in a pass), and the same picture carried in-line
// twice.
TEST_F(PictureTest, TheSamePictureIsDecodedOnce)
{
    const std::string logo = MakeBmp24(100, 80, [](int x, int y) { return uint32_t(x * 2) << 16 | uint32_t(y * 3); });
    Write(logo, "LOGO.BMP");
    std::string report;
    for (int i = 0; i < 5; ++i)
        report += "{IMAGE SRC=LOGO.BMP}\r\n";
    ASSERT_TRUE(Draw300(report));
    EXPECT_EQ(R->PictureBudget.Spent(), 100 * 80);
    EXPECT_EQ(R->PictureBudget.Allowed(), TPictureBudget::BasePixels + TPictureBudget::PixelsPerByte * int64_t(logo.size()));

    const std::string inlineBmp = MakeBmp24(30, 20, [](int x, int) { return uint32_t(x * 8); });
    const std::string tag = "{IMG DATALEN=" + std::to_string(inlineBmp.size()) + " DATA=\"" + inlineBmp + "\"}\r\n";
    ASSERT_TRUE(Draw300(tag + tag));
    EXPECT_EQ(R->PictureBudget.Spent(), 30 * 20);
}

// A picture file rewritten between two passes is drawn as it is now, even
// at the same size, in the same second and under the same name.
TEST_F(PictureTest, APictureRewrittenBetweenPassesIsDrawnAnew)
{
    Write(MakeBmp24(10, 10, [](int, int) { return 0xFF0000u; }), "LOGO.BMP");
    ASSERT_TRUE(Draw300("{IMAGE SRC=LOGO.BMP LEFT=1in TOP=1in}\r\n"));
    EXPECT_EQ(At(305, 305), 0xFF0000u);
    Write(MakeBmp24(10, 10, [](int, int) { return 0x0000FFu; }), "LOGO.BMP");
    ASSERT_TRUE(R->RenderPages(nullptr, 1, nullptr, 1));
    EXPECT_EQ(At(305, 305), 0x0000FFu);
}

// Seventy different in-line pictures of a hundred bytes, each declaring
// 1,000 x 1,000 pixels, against an allowance of 20 million pixels: the pass
// decodes what the allowance covers, says once that the rest are not drawn,
// and finishes.
TEST_F(PictureTest, APassOverItsPictureAllowanceSaysSoOnceAndGoesOn)
{
    R->PictureBudget.SetBasePixels(20'000'000);
    std::string report;
    for (int i = 0; i < 70; ++i) {
        std::string bmp = MakeBmp(BmpLayout{4, 4, 8, 1, 40, {uint32_t(i), 0x00FF00}, {}}, [](int, int) { return 1u; });
        bmp = bmp.substr(0, 18) + std::string("\xE8\x03\x00\x00\xE8\x03\x00\x00", 8) + bmp.substr(26);  // 1000 x 1000
        report += "{IMG DATALEN=" + std::to_string(bmp.size()) + " DATA=\"" + bmp + "\"}\r\n";
    }
    report += "Done\r\n";
    R->OpenFile(Write(report, "REPORT.TXT"), nullptr);
    UsePage300(1.0);
    EXPECT_TRUE(R->RenderPages(nullptr, 0, nullptr, 0));
    ASSERT_EQ(Services.Messages.size(), 1u) << Captions();
    EXPECT_EQ(Services.Messages[0].Caption, "Error in tRenderer.Render:{IMAGE}");
    EXPECT_NE(Services.Messages[0].Text.find("million pixels in one pass"), std::string::npos);
    EXPECT_LE(R->PictureBudget.Spent(), R->PictureBudget.Allowed());
    EXPECT_GE(R->PictureBudget.Spent(), 19'000'000);
    // The next pass has its allowance again.
    Services.Messages.clear();
    EXPECT_TRUE(R->RenderPages(nullptr, 0, nullptr, 0));
    EXPECT_EQ(Services.Messages.size(), 1u);
}

}  // namespace
}  // namespace quillard::test
