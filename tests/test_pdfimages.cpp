// Pictures and hatch patterns in PDF files: the image objects the writer
// makes (JPEG files passed through, other pictures deflated, transparency as
// a soft mask), read back with qpdf and pdfimages; one object per picture
// however often it is drawn; and the tiling patterns of hatched fills.
#include "surfaces/pdfwriter.h"
#include "surfaces/pictures.h"
#include "tests/pdftestutil.h"
#include "tests/test_image_util.h"


namespace quillard::test {
namespace {

TGraphic Picture(int W, int H, const std::function<uint32_t(int, int)>& Argb)
{
    TGraphic g;
    g.Width = W;
    g.Height = H;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            g.Pixels.push_back(Argb(x, y));
    return g;
}

// One line of pdfimages -list for each picture drawn, in page order.
struct TListedImage {
    int Page = 0, Width = 0, Height = 0, Object = 0;
    std::string Type, Colour, Encoding;
};

std::vector<TListedImage> ListImages(const std::string& Pdf)
{
    TToolRun r = RunTool("pdfimages", {"-list", QString::fromStdString(Pdf)});
    EXPECT_EQ(r.Code, 0) << r.Err;
    std::vector<TListedImage> out;
    std::istringstream lines(r.Out);
    std::string line;
    std::getline(lines, line);
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        std::istringstream f(line);
        TListedImage i;
        int num = 0, comp = 0, bpc = 0;
        std::string interp;
        f >> i.Page >> num >> i.Type >> i.Width >> i.Height >> i.Colour >> comp >> bpc >> i.Encoding >> interp >> i.Object;
        out.push_back(i);
    }
    return out;
}

// The decoded data of a stream object, as qpdf decodes it.
std::string Decoded(const std::string& Pdf, int Object)
{
    TToolRun r = RunTool("qpdf", {"--show-object=" + QString::number(Object), "--filtered-stream-data",
                                  QString::fromStdString(Pdf)});
    EXPECT_EQ(r.Code, 0) << r.Err;
    return r.Out;
}

using PdfImageTest = PdfDocumentTest;

// ---- image objects --------------------------------------------------------------------

TEST_F(PdfImageTest, PicturesFollowThePageThatFirstDrawsThemAndAreListedOnce)
{
    const TGraphic a = Picture(3, 2, [](int x, int y) { return 0xFF000000u | uint32_t(x * 80 << 16 | y * 100); });
    const TGraphic b = Picture(1, 1, [](int, int) { return 0xFF00FF00u; });
    const std::string pdf = Document([&](TPdfWriter& w) {
        w.DrawImage(10.0, 20.0, 30.0, 20.0, a);
        w.NewPage();
        w.DrawImage(0.0, 0.0, 3.0, 2.0, a);
        w.DrawImage(5, 5, b);
    });
    std::map<int, std::string> obj = Objects(pdf);
    // 1 information, 2 and 3 page one, 4 its picture, 5 and 6 page two, 7
    // its new picture, then the objects of a two-page document.
    EXPECT_NE(obj[4].find("/Subtype /Image\r\n/Width 3\r\n/Height 2\r\n/ColorSpace /DeviceRGB\r\n/BitsPerComponent 8\r\n"
                          "/Filter /FlateDecode\r\n"),
              std::string::npos)
        << obj[4];
    EXPECT_NE(obj[5].find("<< /Length 6 0 R"), std::string::npos);
    EXPECT_NE(obj[7].find("/Width 1\r\n"), std::string::npos);
    EXPECT_EQ(W.ImageCount(), 2);
    const std::string resources = obj[8 + 14 + 2];
    EXPECT_NE(resources.find(Lines({"/XObject << ", "/Im1 4 0 R ", "/Im2 7 0 R ", ">>", "/Font << "})), std::string::npos)
        << resources;
    EXPECT_EQ(ContentStreams(pdf)[1], Lines({"q", "3 0 0 2 0 790 cm", "/Im1 Do", "Q", "q", "1 0 0 1 5 786 cm", "/Im2 Do", "Q"}));

    const std::vector<TListedImage> listed = ListImages(W.FileName);
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[0].Object, 4);
    EXPECT_EQ(listed[1].Object, 4);
    EXPECT_EQ(listed[2].Object, 7);
}

TEST_F(PdfImageTest, DeflatedPixelsReadBackAsTheyWere)
{
    const TGraphic g = Picture(5, 3, [](int x, int y) { return 0xFF000000u | uint32_t((x * 50) << 16 | (y * 90) << 8 | 7); });
    const std::string pdf = Document([&](TPdfWriter& w) { w.DrawImage(0, 0, g); });
    std::string rgb;
    for (uint32_t p : g.Pixels)
        rgb += {char(p >> 16), char(p >> 8), char(p)};
    EXPECT_EQ(Decoded(W.FileName, 4), rgb);
    EXPECT_EQ(Objects(pdf)[4].find("/SMask"), std::string::npos);
}

TEST_F(PdfImageTest, TransparencyGoesIntoASoftMask)
{
    const TGraphic g = Picture(4, 1, [](int x, int) { return uint32_t(x * 85) << 24 | 0x0000FFu; });
    const std::string pdf = Document([&](TPdfWriter& w) { w.DrawImage(0, 0, g); });
    std::map<int, std::string> obj = Objects(pdf);
    EXPECT_NE(obj[4].find("/SMask 5 0 R\r\n"), std::string::npos) << obj[4];
    EXPECT_NE(obj[5].find("/ColorSpace /DeviceGray\r\n"), std::string::npos) << obj[5];
    EXPECT_EQ(Decoded(W.FileName, 5), std::string({char(0), char(85), char(170), char(255)}));
    const std::vector<TListedImage> listed = ListImages(W.FileName);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[1].Type, "smask");
}

struct JpegCase {
    const char* Name;
    JpegOptions Options;
    bool PassedThrough;
    const char* Colour;  // as pdfimages names the colour space
};

void PrintTo(const JpegCase& C, std::ostream* Os) { *Os << C.Name; }

class PdfJpegTest : public PdfImageTest, public ::testing::WithParamInterface<JpegCase> {};

TEST_P(PdfJpegTest, JpegFilesGoInAsTheyAreWhereAReaderDecodesThemAlike)
{
    const std::string file =
        EncodeJpeg(40, 30, [](int x, int y) { return uint32_t(x * 6 << 16 | y * 8 << 8 | 0x30); }, GetParam().Options);
    const TGraphic g = DecodeJpeg(reinterpret_cast<const uint8_t*>(file.data()), file.size());
    ASSERT_FALSE(g.Empty());
    const std::string pdf = Document([&](TPdfWriter& w) { w.DrawImage(0, 0, g); });
    const std::vector<TListedImage> listed = ListImages(W.FileName);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].Encoding, GetParam().PassedThrough ? "jpeg" : "image");
    EXPECT_EQ(listed[0].Colour, GetParam().Colour);
    EXPECT_EQ(pdf.find(file) != std::string::npos, GetParam().PassedThrough);
    if (GetParam().PassedThrough) {
        TToolRun r = RunTool("pdfimages", {"-j", QString::fromStdString(W.FileName), QString::fromStdString(Path("x"))});
        ASSERT_EQ(r.Code, 0) << r.Err;
        EXPECT_EQ(ReadBytes(Path("x-000.jpg")), file);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PdfJpegTest,
    ::testing::Values(JpegCase{"Baseline", JpegOptions{}, true, "rgb"},
                      JpegCase{"Progressive", JpegOptions{90, true}, true, "rgb"},
                      JpegCase{"Subsampled", JpegOptions{75, false, false, false, true, true}, true, "rgb"},
                      JpegCase{"Grey", JpegOptions{100, false, true}, true, "gray"},
                      // CMYK files are converted as the screen shows them.
                      JpegCase{"Cmyk", JpegOptions{100, false, false, true}, false, "rgb"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(PdfImageTest, JpegBytesThatDoNotDescribeThePixelsAreNotUsed)
{
    const std::string file = EncodeJpeg(8, 8, [](int, int) { return 0x808080u; });
    TGraphic g = DecodeJpeg(reinterpret_cast<const uint8_t*>(file.data()), file.size());
    g.Width = 4;  // the pixels of a part of it
    g.Height = 4;
    g.Pixels.resize(16);
    TGraphic junk = Picture(2, 2, [](int, int) { return 0xFFFFFFFFu; });
    junk.JpegData = {0xFF, 0xD8, 0xFF, 0xDA, 0, 2};  // image data before any frame header
    Document([&](TPdfWriter& w) {
        w.DrawImage(0, 0, g);
        w.DrawImage(0, 0, junk);
    });
    const std::vector<TListedImage> listed = ListImages(W.FileName);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].Encoding, "image");
    EXPECT_EQ(listed[0].Width, 4);
    EXPECT_EQ(listed[1].Encoding, "image");
}

// ---- hatch patterns -------------------------------------------------------------------

TEST_F(PdfImageTest, HatchedFillsUseOnePatternPerStyleAndColour)
{
    const std::string pdf = Document([](TPdfWriter& w) {
        w.FillStyle = bsHorizontal;
        w.FillColor = 0x0000FF;
        w.FillRectangle(TRect{0, 0, 10, 10});
        w.FillRectangle(TRect{20, 0, 30, 10});
        w.FillColor = 0xFF0000;
        w.FillRectangle(TRect{0, 20, 10, 30});
        w.FillStyle = bsSolid;
        w.FillRectangle(TRect{0, 40, 10, 50});
    });
    EXPECT_EQ(W.PatternCount(), 2);
    EXPECT_EQ(ContentStreams(pdf)[0], Lines({"0 782 10 10 re", "/Pattern cs", "/P1 scn", "f", "20 782 10 10 re",
                                             "/Pattern cs", "/P1 scn", "f", "0 762 10 10 re", "/Pattern cs", "/P2 scn",
                                             "f", "0 742 10 10 re", "0 0 1 rg", "f"}));
    std::map<int, std::string> obj = Objects(pdf);
    EXPECT_EQ(obj[4], Lines({"4 0 obj", "<< /Type /Pattern", "/PatternType 1", "/PaintType 1", "/TilingType 1",
                             "/BBox [ 0 0 8 8]", "/XStep 8", "/YStep 8", "/Matrix [ 1 0 0 -1 0 792]", "/Resources << >>",
                             "/Length 41", ">>", "stream", "1 0 0 RG", "1 w", "0 J", "0 3.5 m", "8 3.5 l", "S",
                             "endstream", "endobj"}));
    const std::string resources = obj[6 + 14 + 2];
    EXPECT_NE(resources.find(Lines({"/Pattern << ", "/P1 4 0 R ", "/P2 5 0 R ", ">>", ">>", "endobj"})), std::string::npos)
        << resources;
}

}  // namespace
}  // namespace quillard::test
