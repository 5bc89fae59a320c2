// The picture decoders: every BMP layout our reader knows, JPEG variants
// through libjpeg and GIF first frames through giflib, checked pixel by pixel
// against the pictures the tests wrote; and damaged or hostile files, which
// must give an empty picture without crashing or taking unbounded memory.
#include "tests/test_image_util.h"

#include "surfaces/pictures.h"

#include <random>

namespace quillard::test {
namespace {

constexpr int W = 37, H = 23;  // odd sizes exercise row padding and half bytes

uint32_t PaletteColour(int i) { return uint32_t((i * 37 + 11) % 256) << 16 | uint32_t((i * 91 + 7) % 256) << 8 | uint32_t((i * 151 + 3) % 256); }

std::vector<uint32_t> Palette(int n)
{
    std::vector<uint32_t> p;
    for (int i = 0; i < n; ++i)
        p.push_back(PaletteColour(i));
    return p;
}

int IndexAt(int x, int y, int n) { return (x / 3 + y / 2 + (x * y) % 5) % n; }

// Bits replicated to 8 the way screens widen 5- and 6-bit channels.
uint32_t Widen(uint32_t v, int bits)
{
    uint32_t out = 0;
    int filled = 0;
    while (filled < 8) {
        out = out << bits | v;
        filled += bits;
    }
    return (out >> (filled - 8)) & 0xFF;
}

struct BmpCase {
    const char* Name;
    BmpLayout Opt;
    std::function<uint32_t(int, int)> Stored;    // the value written
    std::function<uint32_t(int, int)> Expected;  // 0xAARRGGBB decoded
};

std::function<uint32_t(int, int)> Indexed(int n)
{
    return [n](int x, int y) { return uint32_t(IndexAt(x, y, n)); };
}
std::function<uint32_t(int, int)> FromPalette(int n)
{
    return [n](int x, int y) { return 0xFF000000u | PaletteColour(IndexAt(x, y, n)); };
}

uint32_t Rgb24(int x, int y) { return uint32_t(x * 7 % 256) << 16 | uint32_t(y * 11 % 256) << 8 | uint32_t((x + y) * 5 % 256); }

std::vector<BmpCase> BmpCases()
{
    std::vector<BmpCase> c;
    for (int bpp : {1, 4, 8}) {
        const int n = 1 << bpp;
        for (bool top : {false, true})
            c.push_back({nullptr, BmpLayout{W, top ? -H : H, bpp, 0, 40, Palette(n), {}}, Indexed(n), FromPalette(n)});
    }
    c[0].Name = "OneBitBottomUp";
    c[1].Name = "OneBitTopDown";
    c[2].Name = "FourBitBottomUp";
    c[3].Name = "FourBitTopDown";
    c[4].Name = "EightBitBottomUp";
    c[5].Name = "EightBitTopDown";
    c.push_back({"EightBitShortPalette", BmpLayout{W, H, 8, 0, 40, Palette(20), {}}, Indexed(20), FromPalette(20)});
    c.push_back({"EightBitOs2CoreHeader", BmpLayout{W, H, 8, 0, 12, Palette(256), {}}, Indexed(256), FromPalette(256)});
    c.push_back({"FourBitV5Header", BmpLayout{W, H, 4, 0, 124, Palette(16), {}}, Indexed(16), FromPalette(16)});
    c.push_back({"Rle8", BmpLayout{W, H, 8, 1, 40, Palette(256), {}}, Indexed(7), FromPalette(7)});
    c.push_back({"Rle4", BmpLayout{W, H, 4, 2, 40, Palette(16), {}}, Indexed(5), FromPalette(5)});
    c.push_back({"Rle8Literals", BmpLayout{W, H, 8, 1, 40, Palette(256), {}}, Indexed(256), FromPalette(256)});
    auto rgb555 = [](int x, int y) { return uint32_t((x % 32) << 10 | (y % 32) << 5 | ((x + y) % 32)); };
    c.push_back({"SixteenBit555", BmpLayout{W, H, 16, 0, 40, {}, {}}, rgb555, [](int x, int y) {
                     return 0xFF000000u | Widen(x % 32, 5) << 16 | Widen(y % 32, 5) << 8 | Widen((x + y) % 32, 5);
                 }});
    auto rgb565 = [](int x, int y) { return uint32_t((x % 32) << 11 | (y * 3 % 64) << 5 | ((x + y) % 32)); };
    c.push_back({"SixteenBit565Bitfields", BmpLayout{W, -H, 16, 3, 40, {}, {0xF800, 0x07E0, 0x001F}}, rgb565, [](int x, int y) {
                     return 0xFF000000u | Widen(x % 32, 5) << 16 | Widen(y * 3 % 64, 6) << 8 | Widen((x + y) % 32, 5);
                 }});
    c.push_back({"TwentyFourBitBottomUp", BmpLayout{W, H, 24, 0, 40, {}, {}}, Rgb24, [](int x, int y) { return 0xFF000000u | Rgb24(x, y); }});
    c.push_back({"TwentyFourBitTopDown", BmpLayout{W, -H, 24, 0, 40, {}, {}}, Rgb24, [](int x, int y) { return 0xFF000000u | Rgb24(x, y); }});
    c.push_back({"TwentyFourBitOnePixelWide", BmpLayout{1, H, 24, 0, 40, {}, {}}, Rgb24, [](int x, int y) { return 0xFF000000u | Rgb24(x, y); }});
    // The fourth byte of plain 32-bit pixels is not alpha: the picture is opaque.
    c.push_back({"ThirtyTwoBitIgnoresFourthByte", BmpLayout{W, H, 32, 0, 40, {}, {}},
                 [](int x, int y) { return uint32_t(x * 13 % 256) << 24 | Rgb24(x, y); },
                 [](int x, int y) { return 0xFF000000u | Rgb24(x, y); }});
    c.push_back({"ThirtyTwoBitV5WithAlpha", BmpLayout{W, H, 32, 3, 124, {}, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}},
                 [](int x, int y) { return uint32_t(x % 2 ? 0x80 : 0xFF) << 24 | Rgb24(x, y); },
                 [](int x, int y) { return uint32_t(x % 2 ? 0x80 : 0xFF) << 24 | Rgb24(x, y); }});
    // Alpha only in the first column: the rest is transparent, also in a
    // window that leaves that column out.
    c.push_back({"ThirtyTwoBitAlphaOnlyInTheFirstColumn", BmpLayout{W, H, 32, 3, 124, {}, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}},
                 [](int x, int y) { return uint32_t(x == 0 ? 0xFF : 0) << 24 | Rgb24(x, y); },
                 [](int x, int y) { return uint32_t(x == 0 ? 0xFF : 0) << 24 | Rgb24(x, y); }});
    c.push_back({"ThirtyTwoBitZeroAlphaEverywhereIsOpaque", BmpLayout{W, H, 32, 3, 124, {}, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}},
                 Rgb24, [](int x, int y) { return 0xFF000000u | Rgb24(x, y); }});
    c.push_back({"ThirtyTwoBitSwappedBitfields", BmpLayout{W, H, 32, 3, 40, {}, {0xFF, 0xFF00, 0xFF0000}},
                 [](int x, int y) {
                     const uint32_t v = Rgb24(x, y);
                     return (v & 0xFF) << 16 | (v & 0xFF00) | (v >> 16);
                 },
                 [](int x, int y) { return 0xFF000000u | Rgb24(x, y); }});
    return c;
}

void PrintTo(const BmpCase& c, std::ostream* os) { *os << c.Name; }

class BmpDecodeTest : public ::testing::TestWithParam<BmpCase> {};

TEST_P(BmpDecodeTest, GivesTheWrittenPixels)
{
    const BmpCase& c = GetParam();
    const std::string file = MakeBmp(c.Opt, c.Stored);
    std::string why;
    const TGraphic g = DecodeBmp(reinterpret_cast<const uint8_t*>(file.data()), file.size(), &why);
    ASSERT_FALSE(g.Empty()) << why;
    const int h = std::abs(c.Opt.Height);
    ASSERT_EQ(g.Width, c.Opt.Width);
    ASSERT_EQ(g.Height, h);
    int wrong = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < g.Width; ++x)
            if (g.Pixels[size_t(y) * g.Width + x] != c.Expected(x, y) && wrong++ < 3)
                ADD_FAILURE() << "at " << x << "," << y << ": " << std::hex << g.Pixels[size_t(y) * g.Width + x]
                              << " instead of " << c.Expected(x, y);
    EXPECT_EQ(wrong, 0);
    EXPECT_TRUE(g.JpegData.empty());
}

INSTANTIATE_TEST_SUITE_P(Layouts, BmpDecodeTest, ::testing::ValuesIn(BmpCases()),
                         [](const auto& info) { return std::string(info.param.Name); });

// Run-length escapes written by hand: a delta jump leaves pixels uncovered,
// which stay transparent so the page shows through.
TEST(BmpDecode, RunLengthDeltaLeavesSkippedPixelsTransparent)
{
    // 4 x 3 picture, rows stored bottom-up.
    std::string px;
    px += std::string("\x02\x01", 2);          // bottom row: two pixels of index 1
    px += std::string("\x00\x02\x01\x01", 4);  // delta: one right, one up
    px += std::string("\x01\x02", 2);          // one pixel of index 2 at (3, middle row)
    px += std::string("\x00\x00", 2);          // end of line
    px += std::string("\x00\x03\x01\x02\x01\x00", 6);  // absolute: 1 2 1 (padded)
    px += std::string("\x00\x01", 2);          // end of bitmap
    const std::string file = MakeBmp(BmpLayout{4, 3, 8, 1, 40, {0x000000, 0xFF0000, 0x00FF00}, {}}, [](int, int) { return 0u; });
    // Replace the pixel data MakeBmp encoded with the hand-made one.
    const uint32_t off = uint8_t(file[10]) | uint8_t(file[11]) << 8;
    const std::string bmp = file.substr(0, off) + px;
    const TGraphic g = DecodeBmp(reinterpret_cast<const uint8_t*>(bmp.data()), bmp.size());
    ASSERT_EQ(g.Width, 4);
    ASSERT_EQ(g.Height, 3);
    const uint32_t red = 0xFFFF0000, green = 0xFF00FF00;
    const std::vector<uint32_t> expected = {
        red, green, red, 0,      // top row (absolute run)
        0, 0, 0, green,          // middle row: only the pixel after the delta
        red, red, 0, 0,          // bottom row
    };
    EXPECT_EQ(g.Pixels, expected);
}

// A run of deltas long enough to carry the column past the largest int (8.4
// million of 255 pixels each) on a 16-pixel row: the column stops at the
// row's end, and the next row still decodes where it belongs.
TEST(BmpDecode, RunLengthDeltasPastTheRowEndCannotWrapTheColumn)
{
    std::string px;
    px.reserve(34'000'100);
    for (int i = 0; i < 8'500'000; ++i)
        px += std::string("\x00\x02\xFF\x00", 4);
    px += std::string("\x00\x00", 2);          // end of the bottom row
    px += std::string("\x04\x01", 2);          // four pixels of index 1
    px += std::string("\x00\x03\x02\x02\x02\x00", 6);  // absolute: three of index 2
    px += std::string("\x00\x01", 2);          // end of bitmap
    const std::string file = MakeBmp(BmpLayout{16, 16, 8, 1, 40, {0x000000, 0xFF0000, 0x00FF00}, {}}, [](int, int) { return 0u; });
    const uint32_t off = uint8_t(file[10]) | uint8_t(file[11]) << 8;
    const std::string bmp = file.substr(0, off) + px;
    std::string why;
    const TGraphic g = DecodeBmp(reinterpret_cast<const uint8_t*>(bmp.data()), bmp.size(), &why);
    ASSERT_EQ(g.Width, 16) << why;
    ASSERT_EQ(g.Height, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const uint32_t want = y == 14 && x < 4 ? 0xFFFF0000u : y == 14 && x < 7 ? 0xFF00FF00u : 0u;
            ASSERT_EQ(g.Pixels[size_t(y) * 16 + x], want) << x << "," << y;
        }
}

// ---- JPEG -------------------------------------------------------------------

// Flat 16-pixel blocks survive JPEG coding nearly unchanged at any sampling.
uint32_t Blocks(int x, int y)
{
    static const uint32_t colours[] = {0xC03020, 0x20A040, 0x2040C0, 0xE0C020, 0x303030, 0x80E0E0};
    return colours[(x / 16 + 2 * (y / 16)) % 6];
}

struct JpegCase {
    const char* Name;
    JpegOptions Opt;
    int Tolerance;
    int Margin = 0;  // pixels next to block edges left out (chroma upsampling blends them)
};
void PrintTo(const JpegCase& c, std::ostream* os) { *os << c.Name; }

class JpegDecodeTest : public ::testing::TestWithParam<JpegCase> {};

TEST_P(JpegDecodeTest, GivesThePictureAndKeepsTheFileBytes)
{
    const JpegCase& c = GetParam();
    const int w = 64, h = 48;
    std::function<uint32_t(int, int)> colour = Blocks;
    std::function<uint32_t(int, int)> expected = Blocks;
    if (c.Opt.Gray) {
        colour = [](int x, int y) { return uint32_t((x / 16 * 50 + y / 16 * 30) % 256); };
        expected = [colour](int x, int y) { return colour(x, y) * 0x010101u; };
    } else if (c.Opt.Cmyk) {
        // Stored inverted, as Adobe writes it: 255 = no ink.
        colour = [](int x, int y) { return (x / 16) % 2 ? 0xFF0000FFu : 0x00FFFFC0u; };
        expected = [](int x, int y) { return (x / 16) % 2 ? 0xFF0000u : 0x00C0C0u; };
    }
    const std::string file = EncodeJpeg(w, h, colour, c.Opt);
    std::string why;
    const TGraphic g = DecodeJpeg(reinterpret_cast<const uint8_t*>(file.data()), file.size(), &why);
    ASSERT_FALSE(g.Empty()) << why;
    ASSERT_EQ(g.Width, w);
    ASSERT_EQ(g.Height, h);
    int worst = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t px = g.Pixels[size_t(y) * w + x];
            ASSERT_EQ(px >> 24, 0xFFu);
            const int ex = x % 16, ey = y % 16;
            if (std::min(ex, 15 - ex) < c.Margin || std::min(ey, 15 - ey) < c.Margin)
                continue;
            worst = std::max(worst, ColourDistance(px & 0xFFFFFF, expected(x, y)));
        }
    EXPECT_LE(worst, c.Tolerance);
    EXPECT_EQ(g.JpegData, Bytes(file));
}

INSTANTIATE_TEST_SUITE_P(Variants, JpegDecodeTest,
                         ::testing::Values(JpegCase{"Baseline", {}, 3}, JpegCase{"Progressive", {100, true}, 3},
                                           JpegCase{"Grayscale", {100, false, true}, 3},
                                           JpegCase{"Subsampled", {95, false, false, false, true, true}, 8, 2},
                                           JpegCase{"AdobeCmyk", {100, false, false, true}, 4},
                                           JpegCase{"WithoutJfifMarker", {100, false, false, false, false}, 3}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- GIF ----------------------------------------------------------------------

const std::vector<uint32_t> GifColours = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0x00FFFF, 0xFF00FF, 0x808080};

int GifIndex(int x, int y) { return (x / 2 + y) % 8; }

TEST(GifDecode, PlainPictureGivesItsColours)
{
    const std::string file = EncodeGif(W, H, GifColours, {GifFrame{0, 0, W, H, false, -1, GifIndex}});
    std::string why;
    const TGraphic g = DecodeGif(reinterpret_cast<const uint8_t*>(file.data()), file.size(), &why);
    ASSERT_EQ(g.Width, W) << why;
    ASSERT_EQ(g.Height, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            ASSERT_EQ(g.Pixels[size_t(y) * W + x], 0xFF000000u | GifColours[GifIndex(x, y)]) << x << "," << y;
}

TEST(GifDecode, InterlacedRowsLandInOrder)
{
    const std::string file = EncodeGif(W, H, GifColours, {GifFrame{0, 0, W, H, true, -1, GifIndex}});
    const TGraphic g = DecodeGif(reinterpret_cast<const uint8_t*>(file.data()), file.size());
    ASSERT_EQ(g.Height, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            ASSERT_EQ(g.Pixels[size_t(y) * W + x], 0xFF000000u | GifColours[GifIndex(x, y)]) << x << "," << y;
}

TEST(GifDecode, TransparentColourAndUncoveredScreenAreClear)
{
    // A 6 x 4 frame at (2, 1) on a 10 x 6 screen; index 0 is transparent.
    const std::string file =
        EncodeGif(10, 6, GifColours, {GifFrame{2, 1, 6, 4, false, 0, [](int x, int) { return x % 2 ? 1 : 0; }}});
    const TGraphic g = DecodeGif(reinterpret_cast<const uint8_t*>(file.data()), file.size());
    ASSERT_EQ(g.Width, 10);
    ASSERT_EQ(g.Height, 6);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x) {
            const bool inFrame = x >= 2 && x < 8 && y >= 1 && y < 5;
            const uint32_t want = inFrame && (x - 2) % 2 ? 0xFFFF0000u : 0u;
            ASSERT_EQ(g.Pixels[size_t(y) * 10 + x], want) << x << "," << y;
        }
}

TEST(GifDecode, AnimatedPictureGivesItsFirstFrame)
{
    const std::string file = EncodeGif(8, 8, GifColours,
                                       {GifFrame{0, 0, 8, 8, false, -1, [](int, int) { return 3; }},
                                        GifFrame{0, 0, 8, 8, false, -1, [](int, int) { return 4; }}});
    const TGraphic g = DecodeGif(reinterpret_cast<const uint8_t*>(file.data()), file.size());
    ASSERT_EQ(g.Pixels.size(), 64u);
    for (uint32_t px : g.Pixels)
        ASSERT_EQ(px, 0xFF0000FFu);
}

// ---- damaged and hostile files ------------------------------------------------

std::string Patch32(std::string s, size_t at, uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        s[at + k] = char((v >> (8 * k)) & 0xFF);
    return s;
}

std::string ValidBmp() { return MakeBmp24(W, H, Rgb24); }
std::string ValidJpeg() { return EncodeJpeg(64, 48, Blocks); }
std::string ValidGif() { return EncodeGif(W, H, GifColours, {GifFrame{0, 0, W, H, false, -1, GifIndex}}); }

// The JPEG with its frame header claiming Width x Height.
std::string JpegClaiming(int Width, int Height)
{
    std::string s = ValidJpeg();
    for (size_t i = 2; i + 9 < s.size(); ++i)
        if (uint8_t(s[i]) == 0xFF && (uint8_t(s[i + 1]) == 0xC0 || uint8_t(s[i + 1]) == 0xC2)) {
            s[i + 5] = char(Height >> 8);
            s[i + 6] = char(Height & 0xFF);
            s[i + 7] = char(Width >> 8);
            s[i + 8] = char(Width & 0xFF);
            break;
        }
    return s;
}

// The GIF with the bytes of its compressed picture data scrambled.
std::string GifWithBadCodes()
{
    std::string s = ValidGif();
    // Header 13 + colour table 24; then the image descriptor (10 bytes), the
    // code size byte and the first sub-block.
    const size_t data = 13 + 24 + 10 + 1 + 1;
    for (size_t i = data; i + 1 < s.size(); ++i)
        s[i] = char(0xFF);
    return s;
}

struct BadCase {
    const char* Name;
    TPictureFormat Format;
    std::function<std::string()> Make;
    const char* Reason = nullptr;  // part of the reason given, where it matters
};
void PrintTo(const BadCase& c, std::ostream* os) { *os << c.Name; }

class BadPictureTest : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadPictureTest, GivesAnEmptyPicture)
{
    const std::vector<uint8_t> bytes = Bytes(GetParam().Make());
    std::string why;
    const TGraphic g = DecodePicture(GetParam().Format, bytes, &why);
    EXPECT_TRUE(g.Empty());
    EXPECT_TRUE(g.Pixels.empty());
    EXPECT_FALSE(why.empty());
    if (GetParam().Reason) {
        EXPECT_NE(why.find(GetParam().Reason), std::string::npos) << why;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Damaged, BadPictureTest,
    ::testing::Values(
        BadCase{"BmpEmpty", TPictureFormat::Bmp, [] { return std::string(); }},
        BadCase{"BmpSignatureOnly", TPictureFormat::Bmp, [] { return std::string("BM"); }},
        BadCase{"BmpCutInHalf", TPictureFormat::Bmp, [] { const std::string s = ValidBmp(); return s.substr(0, s.size() / 2); }},
        BadCase{"BmpHeaderCut", TPictureFormat::Bmp, [] { return ValidBmp().substr(0, 30); }},
        BadCase{"BmpClaims100000By100000", TPictureFormat::Bmp,
                [] { return Patch32(Patch32(ValidBmp(), 18, 100000), 22, 100000); }, "out of bounds"},
        BadCase{"BmpClaims20000By20000", TPictureFormat::Bmp, [] { return Patch32(Patch32(ValidBmp(), 18, 20000), 22, 20000); }},
        BadCase{"BmpClaims9000By9000WithoutTheData", TPictureFormat::Bmp,
                [] { return Patch32(Patch32(ValidBmp(), 18, 9000), 22, 9000); }},
        BadCase{"BmpNegativeWidth", TPictureFormat::Bmp, [] { return Patch32(ValidBmp(), 18, uint32_t(-5)); }},
        BadCase{"BmpZeroHeight", TPictureFormat::Bmp, [] { return Patch32(ValidBmp(), 22, 0); }},
        BadCase{"BmpMostNegativeHeight", TPictureFormat::Bmp, [] { return Patch32(ValidBmp(), 22, 0x80000000u); }},
        BadCase{"BmpSevenBits", TPictureFormat::Bmp, [] { std::string s = ValidBmp(); s[28] = 7; return s; }},
        BadCase{"BmpHeaderSizeBeyondFile", TPictureFormat::Bmp, [] { return Patch32(ValidBmp(), 14, 100000); }},
        BadCase{"BmpPixelOffsetBeyondFile", TPictureFormat::Bmp, [] { return Patch32(ValidBmp(), 10, 0x7FFFFFFF); }},
        BadCase{"BmpEmbeddedJpegCompression", TPictureFormat::Bmp, [] { return Patch32(ValidBmp(), 30, 4); }},
        BadCase{"BmpBitfieldsAt24Bits", TPictureFormat::Bmp, [] { return Patch32(ValidBmp(), 30, 3); }},
        BadCase{"BmpRleWithoutEnd", TPictureFormat::Bmp,
                [] {
                    const std::string s = MakeBmp(BmpLayout{W, H, 8, 1, 40, Palette(256), {}}, Indexed(7));
                    return s.substr(0, s.size() - 40);
                }},
        BadCase{"BmpRleTopDown", TPictureFormat::Bmp,
                [] { return Patch32(MakeBmp(BmpLayout{W, H, 8, 1, 40, Palette(256), {}}, Indexed(7)), 22, uint32_t(-H)); }},
        BadCase{"BmpRleClaims100000By100000", TPictureFormat::Bmp,
                [] {
                    return Patch32(Patch32(MakeBmp(BmpLayout{W, H, 8, 1, 40, Palette(256), {}}, Indexed(7)), 18, 100000),
                                   22, 100000);
                }},
        BadCase{"JpegCutInHalf", TPictureFormat::Jpeg, [] { const std::string s = ValidJpeg(); return s.substr(0, s.size() / 2); }},
        BadCase{"JpegCutInScanData", TPictureFormat::Jpeg,
                [] {
                    const std::string s = EncodeJpeg(256, 256, Rgb24);
                    return s.substr(0, s.size() * 3 / 4);
                },
                "cut short"},
        BadCase{"JpegStartMarkerOnly", TPictureFormat::Jpeg, [] { return std::string("\xFF\xD8\xFF", 3); }},
        BadCase{"JpegHeadersOnly", TPictureFormat::Jpeg, [] { return ValidJpeg().substr(0, 200); }},
        BadCase{"JpegClaims65000By65000", TPictureFormat::Jpeg, [] { return JpegClaiming(65000, 65000); }, "out of bounds"},
        BadCase{"JpegNotAJpeg", TPictureFormat::Jpeg, [] { return ValidBmp(); }},
        BadCase{"GifCutInHalf", TPictureFormat::Gif, [] { const std::string s = ValidGif(); return s.substr(0, s.size() / 2); }},
        BadCase{"GifHeaderOnly", TPictureFormat::Gif, [] { return ValidGif().substr(0, 13); }},
        BadCase{"GifBadCodeTable", TPictureFormat::Gif, GifWithBadCodes, "defective"},
        BadCase{"GifScreen65535Square", TPictureFormat::Gif,
                [] {
                    std::string s = ValidGif();
                    s[6] = s[7] = s[8] = s[9] = char(0xFF);
                    return s;
                }},
        BadCase{"GifWithoutPicture", TPictureFormat::Gif,
                [] { std::string s = ValidGif(); return s.substr(0, 13 + 24) + ";"; }}),
    [](const auto& info) { return std::string(info.param.Name); });

// Random damage to valid files of each format: whatever the decoders make of
// it, they return (the run under a sanitizer is what proves no memory fault).
TEST(DamagedPictures, RandomByteDamageNeverCrashes)
{
    std::mt19937 rng(20240607);
    const std::pair<TPictureFormat, std::string> originals[] = {
        {TPictureFormat::Bmp, ValidBmp()},
        {TPictureFormat::Bmp, MakeBmp(BmpLayout{W, H, 4, 2, 40, Palette(16), {}}, Indexed(5))},
        {TPictureFormat::Jpeg, ValidJpeg()},
        {TPictureFormat::Jpeg, EncodeJpeg(64, 48, Blocks, JpegOptions{90, true})},
        {TPictureFormat::Gif, ValidGif()},
    };
    int decoded = 0;
    for (const auto& [format, original] : originals)
        for (int round = 0; round < 150; ++round) {
            std::string s = original;
            const int hits = 1 + int(rng() % 8);
            for (int k = 0; k < hits; ++k)
                s[rng() % s.size()] = char(rng());
            if (round % 3 == 0)
                s.resize(rng() % s.size());
            const TGraphic g = DecodePicture(format, Bytes(s));
            if (!g.Empty()) {
                ++decoded;
                ASSERT_EQ(g.Pixels.size(), size_t(g.Width) * size_t(g.Height));
                ASSERT_LE(int64_t(g.Width) * g.Height, MaxPicturePixels);
            }
        }
    SUCCEED() << decoded << " damaged files still decoded";
}

// ---- decoding a window of a picture at a smaller size ---------------------------

// The picture pixel under the centre of output pixel I of Count spread over
// From..To.
int Centre(int From, int To, int Count, int I) { return int(std::floor(From + (I + 0.5) * double(To - From) / Count)); }

struct WindowCase {
    const char* Name;
    TPictureWindow Window;
};
void PrintTo(const WindowCase& c, std::ostream* os) { *os << c.Name; }

const WindowCase WindowCases[] = {
    {"WholeAtFullSize", {0, 0, W, H, W, H}},
    {"WholeAtHalfSize", {0, 0, W, H, W / 2, H / 2}},
    {"PartAtItsSize", {5, 3, 30, 20, 25, 17}},
    {"PartShrunk", {5, 3, 30, 20, 7, 5}},
    {"OnePixel", {0, 0, W, H, 1, 1}},
    {"ReachingBeyondThePicture", {-10, -4, W + 10, H + 9, 11, 6}},
    {"ThinStripe", {0, 11, W, 12, W, 1}},
};

// Each output pixel of a window is the decoded picture's pixel under its
// centre, for every format that decodes rows one to one.
class WindowDecodeTest : public ::testing::TestWithParam<WindowCase> {
protected:
    static void ExpectSampled(const TGraphic& Full, const TGraphic& Part, const TPictureWindow& Asked)
    {
        const int l = std::clamp(Asked.Left, 0, Full.Width), t = std::clamp(Asked.Top, 0, Full.Height);
        const int r = std::clamp(Asked.Right, l, Full.Width), b = std::clamp(Asked.Bottom, t, Full.Height);
        ASSERT_EQ(Part.Width, std::min(Asked.Width, r - l));
        ASSERT_EQ(Part.Height, std::min(Asked.Height, b - t));
        for (int j = 0; j < Part.Height; ++j)
            for (int i = 0; i < Part.Width; ++i) {
                const int x = Centre(l, r, Part.Width, i), y = Centre(t, b, Part.Height, j);
                ASSERT_EQ(Part.Pixels[size_t(j) * Part.Width + i], Full.Pixels[size_t(y) * Full.Width + x])
                    << "output " << i << "," << j << " from " << x << "," << y;
            }
    }
};

TEST_P(WindowDecodeTest, BmpLayoutsGiveThePixelsUnderTheCentres)
{
    for (const BmpCase& c : BmpCases()) {
        if (c.Opt.Width != W)
            continue;
        SCOPED_TRACE(c.Name);
        const std::vector<uint8_t> file = Bytes(MakeBmp(c.Opt, c.Stored));
        const TGraphic full = DecodePicture(TPictureFormat::Bmp, file);
        std::string why;
        const TGraphic part = DecodePicture(TPictureFormat::Bmp, file, &why, &GetParam().Window);
        ASSERT_FALSE(part.Empty()) << why;
        ExpectSampled(full, part, GetParam().Window);
    }
}

TEST_P(WindowDecodeTest, GifFramesGiveThePixelsUnderTheCentres)
{
    const std::string files[] = {
        EncodeGif(W, H, GifColours, {GifFrame{0, 0, W, H, false, -1, GifIndex}}),
        EncodeGif(W, H, GifColours, {GifFrame{0, 0, W, H, true, -1, GifIndex}}),
        // A frame on part of the screen, with a transparent colour.
        EncodeGif(W, H, GifColours, {GifFrame{4, 2, 20, 15, false, 3, GifIndex}}),
    };
    for (const std::string& f : files) {
        const std::vector<uint8_t> file = Bytes(f);
        const TGraphic full = DecodePicture(TPictureFormat::Gif, file);
        std::string why;
        const TGraphic part = DecodePicture(TPictureFormat::Gif, file, &why, &GetParam().Window);
        ASSERT_FALSE(part.Empty()) << why;
        ExpectSampled(full, part, GetParam().Window);
    }
}

INSTANTIATE_TEST_SUITE_P(Windows, WindowDecodeTest, ::testing::ValuesIn(WindowCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// A JPEG window is first reduced by libjpeg (here by 8: 256 x 192 to 32 x
// 24), then sampled; flat 32-pixel blocks keep their colours.
TEST(JpegWindow, ReducedDecodingKeepsTheColoursAndDropsTheFileBytes)
{
    auto blocks = [](int x, int y) { return Blocks(x / 2, y / 2); };
    const std::vector<uint8_t> file = Bytes(EncodeJpeg(256, 192, blocks));
    const TPictureWindow windows[] = {{0, 0, 256, 192, 32, 24}, {64, 32, 192, 160, 20, 20}, {0, 0, 256, 192, 3, 2}};
    for (const TPictureWindow& win : windows) {
        std::string why;
        const TGraphic g = DecodePicture(TPictureFormat::Jpeg, file, &why, &win);
        ASSERT_EQ(g.Width, win.Width) << why;
        ASSERT_EQ(g.Height, win.Height);
        EXPECT_TRUE(g.JpegData.empty());
        for (int j = 0; j < g.Height; ++j)
            for (int i = 0; i < g.Width; ++i) {
                const int x = Centre(win.Left, win.Right, g.Width, i), y = Centre(win.Top, win.Bottom, g.Height, j);
                if (std::min(x % 32, 31 - x % 32) < 8 || std::min(y % 32, 31 - y % 32) < 8)
                    continue;  // near a block edge the reduced picture blends
                EXPECT_LE(ColourDistance(g.Pixels[size_t(j) * g.Width + i] & 0xFFFFFF, blocks(x, y)), 8)
                    << i << "," << j;
            }
    }
    // The window of the whole picture at its own size is the picture.
    const TPictureWindow whole{0, 0, 256, 192, 256, 192};
    const TGraphic g = DecodePicture(TPictureFormat::Jpeg, file, nullptr, &whole);
    EXPECT_EQ(g.Pixels, DecodePicture(TPictureFormat::Jpeg, file).Pixels);
    EXPECT_EQ(g.JpegData, file);
}

TEST(PictureWindow, AWindowOutsideThePictureGivesNothing)
{
    const std::vector<uint8_t> file = Bytes(ValidBmp());
    const TPictureWindow outside{W + 5, 0, W + 50, H, 10, 10};
    std::string why;
    EXPECT_TRUE(DecodePicture(TPictureFormat::Bmp, file, &why, &outside).Empty());
    EXPECT_FALSE(why.empty());
}

// Pictures that declare a size their data cannot fill decode a small window
// in small memory: a 5 KB run-length file and a 49-byte GIF both declaring
// 10,000 x 10,000.
TEST(PictureWindow, DeclaredSizeCostsOnlyTheWindow)
{
    std::string runs;
    for (int row = 0; row < 60; ++row) {
        for (int i = 0; i < 40; ++i)
            runs += std::string("\xFF\x01", 2);  // runs of 255 pixels of index 1
        runs += std::string("\x00\x00", 2);
    }
    runs += std::string("\x00\x01", 2);
    const std::string file = MakeBmp(BmpLayout{4, 4, 8, 1, 40, {0x000000, 0xFF0000}, {}}, [](int, int) { return 0u; });
    const uint32_t off = uint8_t(file[10]) | uint8_t(file[11]) << 8;
    const std::vector<uint8_t> bmp = Bytes(Patch32(Patch32(file.substr(0, off) + runs, 18, 10000), 22, 10000));
    TPictureSize size;
    ASSERT_TRUE(ProbePicture(TPictureFormat::Bmp, bmp, size));
    EXPECT_EQ(size.Width, 10000);
    EXPECT_EQ(size.Height, 10000);
    const TPictureWindow window{0, 0, 10000, 10000, 100, 100};
    std::string why;
    const TGraphic g = DecodePicture(TPictureFormat::Bmp, bmp, &why, &window);
    ASSERT_EQ(g.Width, 100) << why;
    // The runs filled the bottom 60 rows; the output's bottom row samples
    // picture row 9,950 among them.
    EXPECT_EQ(g.Pixels[size_t(99) * 100], 0xFFFF0000u);
    EXPECT_EQ(g.Pixels[0], 0u);

    std::string gif = ValidGif().substr(0, 13 + 24 + 10 + 2);
    gif[6] = char(10000 & 0xFF);
    gif[7] = char(10000 >> 8);
    gif[8] = char(10000 & 0xFF);
    gif[9] = char(10000 >> 8);
    ASSERT_TRUE(ProbePicture(TPictureFormat::Gif, Bytes(gif), size));
    EXPECT_EQ(size.Width, 10000);
    EXPECT_TRUE(DecodePicture(TPictureFormat::Gif, Bytes(gif), &why, &window).Empty());
}

TEST(PictureProbe, GivesTheDeclaredSizeOfEachFormat)
{
    TPictureSize size;
    ASSERT_TRUE(ProbePicture(TPictureFormat::Bmp, Bytes(ValidBmp()), size));
    EXPECT_EQ(size.Width, W);
    EXPECT_EQ(size.Height, H);
    ASSERT_TRUE(ProbePicture(TPictureFormat::Jpeg, Bytes(ValidJpeg()), size));
    EXPECT_EQ(size.Width, 64);
    EXPECT_EQ(size.Height, 48);
    // A GIF frame reaching past the logical screen widens the picture.
    ASSERT_TRUE(ProbePicture(TPictureFormat::Gif, Bytes(EncodeGif(10, 6, GifColours, {GifFrame{4, 3, 9, 5, false, -1, GifIndex}})), size));
    EXPECT_EQ(size.Width, 13);
    EXPECT_EQ(size.Height, 8);
    std::string why;
    EXPECT_FALSE(ProbePicture(TPictureFormat::Jpeg, Bytes(ValidBmp()), size, &why));
    EXPECT_FALSE(why.empty());
}

}  // namespace
}  // namespace quillard::test
