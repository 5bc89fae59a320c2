// Pixel tests of the raster surface: each draws on a small white page bitmap
// and checks what landed where.
#include "surfaces/rastercanvas.h"
#include "surfaces/fontlist.h"

#include <QFontInfo>
#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <iterator>
#include <memory>

using namespace quillard;

void PrintTo(const QRect& R, std::ostream* Os)
{
    *Os << "QRect(" << R.x() << ", " << R.y() << ", " << R.width() << ", " << R.height() << ")";
}

namespace {

constexpr uint32_t White = 0xFFFFFF, Black = 0x000000;

// A 96-dpi page bitmap with a surface on it.
class DcCanvasTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(200, 150, 3780); }

    void Reset(int W, int H, int DotsPerMeter)
    {
        Canvas.reset();
        DC.reset();
        Image = QImage(W, H, QImage::Format_RGB32);
        Image.fill(Qt::white);
        Image.setDotsPerMeterX(DotsPerMeter);
        Image.setDotsPerMeterY(DotsPerMeter);
        DC = std::make_unique<TDeviceContext>(&Image);
        Canvas = std::make_unique<TRasterCanvas>(DC.get());
    }

    // Pixel as 0xRRGGBB.
    uint32_t At(int X, int Y) const { return Image.pixel(X, Y) & 0xFFFFFF; }

    template <typename F> void Each(const QRect& Area, F Fn) const
    {
        for (int Y = Area.top(); Y <= Area.bottom(); ++Y)
            for (int X = Area.left(); X <= Area.right(); ++X)
                Fn(X, Y);
    }
    // Bounding box of the pixels that are not white (empty if none).
    QRect Ink() const
    {
        QRect Box;
        Each(Image.rect(), [&](int X, int Y) { Box |= At(X, Y) != White ? QRect(X, Y, 1, 1) : QRect(); });
        return Box;
    }
    int Count(const QRect& Area, uint32_t Color) const
    {
        int N = 0;
        Each(Area, [&](int X, int Y) { N += At(X, Y) == Color; });
        return N;
    }
    void Paint(const QRect& Area, uint32_t Rgb)
    {
        Each(Area, [&](int X, int Y) { Image.setPixel(X, Y, 0xFF000000 | Rgb); });
    }

    QImage Image;
    std::unique_ptr<TDeviceContext> DC;
    std::unique_ptr<TRasterCanvas> Canvas;
};

}  // namespace

TEST(DcCanvasColors, ResolveColor)
{
    const struct { TColor In; uint32_t Out; } Cases[] = {
        {0x00123456, 0x123456}, {PaletteFlag | 0x0000FF, 0x0000FF}, {clWindowText, 0x000000},
        {0x80000005, 0xFFFFFF}, {clNone, 0xFFFFFF},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(ResolveColor(C.In), C.Out) << std::hex << C.In;
}

TEST(DcCanvasColors, Cp1252)
{
    const QString S = Cp1252ToQString("A\x80\x93\x94\x81\xE9\x9F");
    EXPECT_EQ(S, QString::fromUtf8("A\u20AC\u201C\u201D\u0081\u00E9\u0178"));
    EXPECT_TRUE(Cp1252ToQString("").isEmpty());
}

TEST_F(DcCanvasTest, DeviceCaps)
{
    EXPECT_EQ(Canvas->GetDeviceCaps(LOGPIXELSX), 96);
    EXPECT_EQ(Canvas->GetDeviceCaps(PHYSICALOFFSETX), 0);
    EXPECT_EQ(Canvas->GetDeviceCaps(12), 0);
    Reset(10, 10, 11811);
    EXPECT_EQ(Canvas->GetDeviceCaps(LOGPIXELSY), 300);
    Reset(10, 10, 0);
    EXPECT_EQ(Canvas->GetDeviceCaps(LOGPIXELSX), 96);

    QImage Page(10, 10, QImage::Format_RGB32);
    TDeviceContext Printer(&Page, 600, 1200, 50, 70);
    TRasterCanvas P(&Printer);
    EXPECT_EQ(P.GetDeviceCaps(LOGPIXELSX) * 10000 + P.GetDeviceCaps(LOGPIXELSY), 6001200);
    EXPECT_EQ(P.GetDeviceCaps(PHYSICALOFFSETX) * 1000 + P.GetDeviceCaps(PHYSICALOFFSETY), 50070);
}

TEST_F(DcCanvasTest, LineLeavesOutLastPixelAndKeepsPenPos)
{
    Canvas->MoveTo(10, 20);
    Canvas->Pen.Color = 0x0000FF;  // pen taken at LineTo time
    Canvas->LineTo(30, 20);
    EXPECT_EQ(Count(QRect(10, 20, 20, 1), 0xFF0000), 20);
    EXPECT_EQ(Ink(), QRect(10, 20, 20, 1));
    EXPECT_EQ(Canvas->PenPos.X + Canvas->PenPos.Y, 0);
    Canvas->LineTo(30, 40);  // from the new current point
    EXPECT_EQ(At(30, 20), 0xFF0000u);
    EXPECT_EQ(At(30, 40), White);
}

TEST_F(DcCanvasTest, XorDrawnTwiceRestores)
{
    Paint(QRect(20, 20, 60, 40), 0x3366CC);
    const QImage Before = Image.copy();
    for (int Width : {1, 4}) {
        Canvas->Pen.Mode = pmXor;
        Canvas->Pen.Color = 0x00FF00;
        Canvas->Pen.Width = Width;
        for (int Pass = 0; Pass < 2; ++Pass) {
            Canvas->MoveTo(5, 5);
            Canvas->LineTo(150, 90);
            Canvas->Rectangle(30, 30, 70, 80);
            Canvas->Ellipse(10, 60, 90, 120);
            if (Pass == 0) {
                EXPECT_NE(Image, Before) << Width;
            }
        }
        EXPECT_EQ(Image, Before) << "pen width " << Width;
    }
}

TEST_F(DcCanvasTest, PenModes)
{
    const struct { TPenMode Mode; uint32_t Expected; } Cases[] = {
        {pmCopy, 0x00FF00}, {pmNot, 0xEDCBA9}, {pmBlack, Black}, {pmWhite, White},
        {pmNop, 0x123456},  {pmXor, 0x12CB56}, {pmNotCopy, 0xFF00FF}, {pmMerge, 0x12FF56},
        {pmMask, 0x003400},
    };
    for (const auto& C : Cases) {
        Paint(QRect(0, 0, 40, 10), 0x123456);
        Canvas->Pen.Mode = C.Mode;
        Canvas->Pen.Color = 0x00FF00;
        Canvas->MoveTo(0, 5);
        Canvas->LineTo(40, 5);
        EXPECT_EQ(At(10, 5), C.Expected) << "mode " << int(C.Mode);
        EXPECT_EQ(At(10, 4), 0x123456u) << "mode " << int(C.Mode);
    }
}

TEST_F(DcCanvasTest, NotModeInvertsEachPixelOnce)
{
    // On white, pmNot must give exactly the figure a black pen and a black
    // brush give: outline and interior pixels are each inverted once.
    const std::function<void(TRasterCanvas&)> Figures[] = {
        [](TRasterCanvas& C) { C.Ellipse(10, 10, 90, 70); },
        [](TRasterCanvas& C) { C.Pie(10, 10, 90, 70, 90, 40, 50, 10); },
        [](TRasterCanvas& C) { C.Chord(10, 10, 90, 70, 90, 70, 10, 10); },
        [](TRasterCanvas& C) { C.Rectangle(10, 10, 90, 70); },
        [](TRasterCanvas& C) { C.Polygon({{10, 10}, {90, 30}, {40, 70}}); },
    };
    for (int Width : {1, 5}) {
        for (size_t I = 0; I < std::size(Figures); ++I) {
            Reset(100, 80, 3780);
            Canvas->Pen.Width = Width;
            Canvas->Brush.Color = Black;
            Figures[I](*Canvas);
            const QImage Copied = Image.copy();
            Reset(100, 80, 3780);
            Canvas->Pen.Width = Width;
            Canvas->Pen.Mode = pmNot;
            Figures[I](*Canvas);
            EXPECT_EQ(Image, Copied) << "figure " << I << ", pen width " << Width;
        }
    }
}

TEST_F(DcCanvasTest, FiguresStayInTheirBox)
{
    Canvas->Brush.Color = 0x0000FF;
    Canvas->Rectangle(10, 10, 20, 15);
    EXPECT_EQ(Ink(), QRect(10, 10, 10, 5));
    EXPECT_EQ(At(10, 10), Black);
    EXPECT_EQ(At(19, 14), Black);
    EXPECT_EQ(At(15, 12), 0xFF0000u);
    // Reversed corners draw the same figure.
    Reset(200, 150, 3780);
    Canvas->Rectangle(20, 15, 10, 10);
    EXPECT_EQ(Ink(), QRect(10, 10, 10, 5));
    Reset(200, 150, 3780);
    Canvas->Ellipse(30, 40, 91, 80);
    EXPECT_EQ(Ink(), QRect(30, 40, 61, 40));
    EXPECT_EQ(At(60, 60), White);
}

TEST_F(DcCanvasTest, WidePens)
{
    Canvas->Brush.Color = 0x00FF00;
    Canvas->Pen.Width = 6;
    Canvas->Pen.Style = psInsideFrame;
    Canvas->Rectangle(20, 20, 60, 50);
    EXPECT_EQ(Ink(), QRect(20, 20, 40, 30));
    EXPECT_EQ(Count(QRect(20, 35, 40, 1), Black), 12);  // 6 + 6 inside the box
    EXPECT_EQ(At(26, 35), 0x00FF00u);

    Reset(200, 150, 3780);
    Canvas->Pen.Width = 5;
    Canvas->Rectangle(20, 20, 60, 50);  // centred on the edge pixels
    EXPECT_EQ(Ink(), QRect(18, 18, 44, 34));
    EXPECT_EQ(At(22, 35), Black);
    EXPECT_EQ(At(23, 35), White);

    Reset(200, 150, 3780);
    Canvas->Pen.Width = 6;
    Canvas->Pen.Style = psInsideFrame;
    Canvas->Ellipse(20, 20, 80, 60);
    EXPECT_EQ(Ink(), QRect(20, 20, 60, 40));
    Canvas->Pen.Style = psDash;  // wide styled pens draw solid
    Canvas->MoveTo(100, 100);
    Canvas->LineTo(190, 100);
    EXPECT_EQ(Count(QRect(100, 100, 90, 1), Black), 90);
}

TEST_F(DcCanvasTest, ClearBrushAndClearPen)
{
    Paint(QRect(0, 0, 200, 150), 0x808080);
    Canvas->Brush.Style = bsClear;
    Canvas->Rectangle(10, 10, 50, 40);
    EXPECT_EQ(At(10, 10), Black);
    EXPECT_EQ(Count(QRect(11, 11, 38, 28), 0x808080), 38 * 28);

    // Without a pen the filled area is one pixel smaller (as on GDI).
    Canvas->Brush.Style = bsSolid;
    Canvas->Pen.Style = psClear;
    Canvas->Rectangle(60, 10, 70, 20);
    EXPECT_EQ(Count(QRect(60, 10, 10, 10), White), 81);
    EXPECT_EQ(At(69, 15), 0x808080u);
}

TEST_F(DcCanvasTest, DashedPenStyles)
{
    const struct { TPenStyle Style; int On; } Cases[] = {
        {psSolid, 120}, {psDash, 90}, {psDot, 60}, {psDashDot, 60}, {psDashDotDot, 75}, {psClear, 0},
    };
    for (const auto& C : Cases) {
        Reset(200, 150, 3780);
        Canvas->Brush.Style = bsClear;
        Canvas->Pen.Style = C.Style;
        Canvas->MoveTo(0, 10);
        Canvas->LineTo(120, 10);
        EXPECT_EQ(Count(QRect(0, 10, 120, 1), Black), C.On) << "style " << int(C.Style);
        EXPECT_EQ(Ink().height(), C.On ? 1 : 0) << "style " << int(C.Style);
    }
    // A solid brush paints the gaps in its colour.
    Canvas->Pen.Style = psDot;
    Canvas->Brush.Style = bsSolid;
    Canvas->Brush.Color = 0x0000FF;
    Canvas->MoveTo(0, 20);
    Canvas->LineTo(120, 20);
    EXPECT_EQ(Count(QRect(0, 20, 120, 1), 0xFF0000), 60);
}

TEST_F(DcCanvasTest, HatchBrushes)
{
    const struct { TBrushStyle Style; int Inked; } Cases[] = {
        {bsHorizontal, 8}, {bsVertical, 8}, {bsFDiagonal, 8}, {bsBDiagonal, 8}, {bsCross, 15}, {bsDiagCross, 16},
    };
    for (const auto& C : Cases) {
        Paint(QRect(0, 0, 64, 64), 0x00FF00);
        Canvas->Brush.Style = C.Style;
        Canvas->Brush.Color = 0x0000FF;
        Canvas->FillRect(TRect{0, 0, 64, 64});
        // Every 8x8 cell has the same pattern; the rest keeps its colour.
        EXPECT_EQ(Count(QRect(0, 0, 64, 64), 0xFF0000), 64 * C.Inked) << "style " << int(C.Style);
        EXPECT_EQ(Count(QRect(0, 0, 64, 64), 0x00FF00), 64 * (64 - C.Inked)) << "style " << int(C.Style);
        for (int Y = 0; Y < 56; ++Y)
            for (int X = 0; X < 56; ++X)
                ASSERT_EQ(At(X, Y), At(X + 8, Y + 8)) << "style " << int(C.Style);
    }
    Canvas->Brush.Style = bsFDiagonal;  // top-left to bottom-right lines
    Paint(QRect(0, 0, 64, 64), White);
    Canvas->FillRect(TRect{0, 0, 16, 16});
    for (int I = 1; I < 8; ++I)
        EXPECT_EQ(At(I, I), At(0, 0));
}

TEST_F(DcCanvasTest, FillAndFrameRect)
{
    Canvas->Brush.Color = 0x0000FF;
    Canvas->Pen.Mode = pmNop;  // the pen mode does not touch these
    Canvas->FillRect(TRect{10, 10, 30, 20});
    EXPECT_EQ(Ink(), QRect(10, 10, 20, 10));
    EXPECT_EQ(Count(QRect(10, 10, 20, 10), 0xFF0000), 200);
    Canvas->Brush.Color = 0x00FF00;
    Canvas->FrameRect(TRect{50, 10, 60, 20});
    EXPECT_EQ(Count(QRect(50, 10, 10, 10), 0x00FF00), 36);
    EXPECT_EQ(At(55, 15), White);
    Canvas->FillRect(TRect{100, 100, 100, 120});  // empty
    Canvas->FrameRect(TRect{100, 100, 90, 90});
    EXPECT_EQ(Ink(), QRect(10, 10, 50, 10));

    const QImage Before = Image.copy();
    Canvas->DrawFocusRect(TRect{5, 5, 80, 40});
    EXPECT_NE(Image, Before);
    Canvas->DrawFocusRect(TRect{5, 5, 80, 40});
    EXPECT_EQ(Image, Before);
}

TEST_F(DcCanvasTest, TextOutMovesCurrentPoint)
{
    Canvas->Font = TFont{"Arial", 12, 0, clBlack};
    Canvas->Brush.Style = bsClear;
    Canvas->Pen.Color = 0x0000FF;
    const int W = Canvas->TextWidth("Hello");
    ASSERT_GT(W, 20);
    Canvas->TextOut(10, 50, "Hello");
    Canvas->LineTo(150, 50);
    EXPECT_EQ(At(10 + W, 50), 0xFF0000u);
    EXPECT_EQ(At(10 + W - 1, 50), White);
    EXPECT_EQ(Canvas->PenPos.X, 0);

    Canvas->TextOut(20, 100, "");  // empty text: nothing drawn, point moves to X
    Canvas->LineTo(30, 100);
    EXPECT_EQ(At(20, 100), 0xFF0000u);
}

TEST_F(DcCanvasTest, TextBackgroundOnlyWithSolidBrush)
{
    const struct { TBrushStyle Style; bool Box; } Cases[] = {
        {bsSolid, true}, {bsClear, false}, {bsHorizontal, false}, {bsDiagCross, false},
    };
    for (const auto& C : Cases) {
        Reset(200, 150, 3780);
        Canvas->Font = TFont{"Arial", 12, 0, clBlack};
        Canvas->Brush.Style = C.Style;
        Canvas->Brush.Color = 0x00FFFF;
        Canvas->TextOut(10, 10, "Hello");
        const TSize E = Canvas->TextExtent("Hello");
        EXPECT_EQ(Count(QRect(10, 10, E.cx, 1), 0xFFFF00), C.Box ? E.cx : 0) << int(C.Style);
        EXPECT_EQ(At(10 + E.cx - 1, 10 + E.cy - 1), C.Box ? 0xFFFF00u : White) << int(C.Style);
        EXPECT_EQ(At(10 + E.cx, 10), White) << int(C.Style);
        EXPECT_TRUE(Ink().intersects(QRect(10, 10, E.cx, E.cy)));
    }
}

TEST_F(DcCanvasTest, TextRectFillsAndClips)
{
    const TRect R{20, 30, 80, 70};
    Canvas->Font = TFont{"Times New Roman", 14, 0, clBlack};
    Canvas->Brush.Color = 0x00FF00;
    Canvas->TextRect(R, 25, 35, "A long line that cannot fit");
    EXPECT_EQ(Ink(), QRect(20, 30, 60, 40));
    EXPECT_EQ(At(20, 30), 0x00FF00u);
    EXPECT_EQ(At(79, 69), 0x00FF00u);
    EXPECT_GT(Count(QRect(20, 30, 60, 40), 0x00FF00), 0);
    EXPECT_LT(Count(QRect(20, 30, 60, 40), 0x00FF00), 60 * 40);

    Reset(200, 150, 3780);
    Canvas->Font = TFont{"Times New Roman", 14, 0, clBlack};
    Canvas->Brush.Style = bsClear;
    Canvas->TextRect(R, 25, 35, "A long line that cannot fit");
    const QRect Drawn = Ink();
    EXPECT_FALSE(Drawn.isEmpty());
    EXPECT_TRUE(QRect(20, 30, 60, 40).contains(Drawn));
    EXPECT_EQ(At(20, 30), White);
}

TEST_F(DcCanvasTest, TextMetrics)
{
    // Metric-compatible faces: advance widths of the Windows core fonts.
    const struct { const char* Name; int Width; } Cases[] = {
        {"Courier New", 96}, {"Arial", 151}, {"Times New Roman", 151},
    };
    for (const auto& C : Cases) {
        Canvas->Font.Name = C.Name;
        Canvas->Font.Size = 12;
        Canvas->Font.Style = 0;
        const TSize E = Canvas->TextExtent("WWWWWWWWWW");
        EXPECT_NEAR(E.cx, C.Width, 1) << C.Name;
        EXPECT_NEAR(E.cy, 18, 1) << C.Name;
        EXPECT_EQ(Canvas->TextWidth("WWWWWWWWWW"), E.cx);
        EXPECT_EQ(Canvas->TextHeight(""), E.cy);
        EXPECT_EQ(Canvas->TextWidth(""), 0);
    }
    Canvas->Font.Name = "Arial";
    const int Regular = Canvas->TextWidth("Hello World");
    Canvas->Font.Style = fsBold;
    EXPECT_GT(Canvas->TextWidth("Hello World"), Regular);
    Canvas->Font.Style = 0;
    Canvas->Font.Size = 24;
    EXPECT_NEAR(Canvas->TextWidth("Hello World"), 2 * Regular, 1);
    Reset(10, 10, 11811);  // 300 dpi
    Canvas->Font = TFont{"Courier New", 12, 0, clBlack};
    EXPECT_NEAR(Canvas->TextWidth("WWWWWWWWWW"), 300, 1);
}

TEST_F(DcCanvasTest, RotatedText)
{
    Canvas->Font = TFont{"Arial", 12, 0, clBlack};
    Canvas->Brush.Color = 0x00FFFF;  // solid: would box upright text
    const TSize E = Canvas->TextExtent("Rotated");
    Canvas->SetFontAngle(3.14159265358979 / 2);
    Canvas->TextOut(50, 120, "Rotated");
    QRect Drawn = Ink();
    ASSERT_FALSE(Drawn.isEmpty());
    EXPECT_LE(Drawn.bottom(), 121);                  // above the start point
    EXPECT_GE(Drawn.left(), 49);
    EXPECT_LE(Drawn.right(), 50 + E.cy);             // not to its right
    EXPECT_GT(Drawn.height(), E.cx * 3 / 4);         // runs upwards
    EXPECT_EQ(Count(Drawn, 0xFFFF00), 0);              // no background box

    // Same font: still rotated. A font change brings the upright font back.
    Canvas->TextOut(100, 120, "Rotated");
    EXPECT_LE(Ink().bottom(), 121);
    Canvas->Font.Size = 13;
    Canvas->TextOut(120, 10, "Upright");
    Drawn = Ink();
    EXPECT_GT(Drawn.right(), 120 + 30);
    EXPECT_NO_THROW(Canvas->SetFontAngle(0));
    Canvas->Font.Style = fsBold;
    EXPECT_NO_THROW(Canvas->SetFontAngle(-3.14159265358979 / 6));
}

TEST_F(DcCanvasTest, FontList)
{
    const auto& Names = SurfaceFontList();
    for (const char* Name : {"Arial", "Courier New", "Times New Roman", "MS LineDraw", "Liberation Mono"})
        EXPECT_NE(std::find(Names.begin(), Names.end(), Name), Names.end()) << Name;
    EXPECT_TRUE(QFontInfo(MakeDeviceFont(TFont{"MS LineDraw", 10, 0, 0}, 96)).fixedPitch());
    EXPECT_EQ(QFontInfo(MakeDeviceFont(TFont{"Courier New", 10, 0, 0}, 96)).family(), "Liberation Mono");
    EXPECT_EQ(MakeDeviceFont(TFont{"Arial", 12, 0, 0}, 96).pixelSize(), 16);
    EXPECT_EQ(MakeDeviceFont(TFont{"Arial", 10, 0, 0}, 300).pixelSize(), 42);
    // A negative size asks for the cell height.
    Canvas->Font.Name = "Arial";
    Canvas->Font.Size = -30;  // 40 px at 96 dpi
    EXPECT_NEAR(Canvas->TextHeight("x"), 40, 1);
}

TEST_F(DcCanvasTest, FloodFill)
{
    Canvas->Rectangle(10, 10, 50, 40);
    Canvas->Brush.Color = 0x00FF00;
    Canvas->FloodFill(20, 20, Black, fsBorder);
    EXPECT_EQ(Count(QRect(11, 11, 38, 28), 0x00FF00), 38 * 28);
    EXPECT_EQ(At(10, 10), Black);
    EXPECT_EQ(At(60, 60), White);
    Canvas->Brush.Color = 0x0000FF;
    Canvas->FloodFill(100, 100, White, fsSurface);  // everything white outside
    EXPECT_EQ(At(0, 0), 0xFF0000u);
    EXPECT_EQ(At(20, 20), 0x00FF00u);
    Canvas->FloodFill(10, 10, White, fsSurface);  // not of that colour: nothing
    Canvas->FloodFill(-5, 1000, Black, fsBorder);
    EXPECT_EQ(At(10, 10), Black);
}

TEST_F(DcCanvasTest, Pictures)
{
    const TGraphic G{2, 2, {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0x00000000}};
    Canvas->Draw(5, 5, G);
    EXPECT_EQ(At(5, 5), 0xFF0000u);
    EXPECT_EQ(At(6, 6), White);  // transparent pixel
    Canvas->StretchDraw(TRect{20, 20, 40, 40}, G);
    EXPECT_EQ(At(29, 29), 0xFF0000u);
    EXPECT_EQ(At(30, 20), 0x00FF00u);
    EXPECT_EQ(At(20, 39), 0x0000FFu);
    Canvas->CopyRect(TRect{60, 60, 70, 70}, G, TRect{1, 0, 2, 1});
    EXPECT_EQ(Count(QRect(60, 60, 10, 10), 0x00FF00), 100);
    Canvas->Draw(100, 100, TGraphic{});
}

TEST_F(DcCanvasTest, AbsurdArgumentsDoNotCrash)
{
    const int Big = INT_MAX, Small = INT_MIN;
    for (TPenStyle Style : {psSolid, psDot, psInsideFrame}) {
        for (TPenMode Mode : {pmCopy, pmXor}) {
            Canvas->Pen = TPen{clBlack, Style == psDot ? 1 : 3, Style, Mode};
            Canvas->MoveTo(Small, Small);
            Canvas->LineTo(Big, Big);
            Canvas->Rectangle(Small, Small, Big, Big);
            Canvas->Ellipse(Small, 0, Big, 100);
            Canvas->Arc(Small, Small, Big, Big, 0, Small, Big, 0);
            Canvas->Pie(Small, Small, Big, Big, 0, 0, 0, 0);
            Canvas->Chord(5, 5, 5, 5, 5, 5, 5, 5);
            Canvas->Polygon({{Small, 0}, {Big, 10}, {0, Big}});
            Canvas->Polyline({{Small, Small}});
            Canvas->Polygon({});
        }
    }
    Canvas->Pen.Width = INT_MAX;
    Canvas->Rectangle(10, 10, 20, 20);
    Canvas->FillRect(TRect{Small, Small, Big, Big});
    Canvas->FrameRect(TRect{Small, Small, Big, Big});
    Canvas->DrawFocusRect(TRect{Small, Small, Big, Big});
    Canvas->TextOut(Big, Small, "x");
    Canvas->TextRect(TRect{Small, Small, Big, Big}, Small, Big, "x");
    Canvas->TextRect(TRect{10, 10, 10, 10}, 10, 10, "");
    Canvas->Font.Size = INT_MAX;
    EXPECT_GT(Canvas->TextExtent("x").cy, 0);
    Canvas->Font.Size = 0;
    EXPECT_GT(Canvas->TextExtent("x").cy, 0);
    TGraphic G{1, 1, {0xFF000000}};
    Canvas->StretchDraw(TRect{Small, Small, Big, Big}, G);
    Canvas->CopyRect(TRect{0, 0, 10, 10}, G, TRect{Small, Small, Big, Big});
    Canvas->SetFontAngle(1e300);
    Canvas->TextOut(10, 10, "x");
    DC->End();
    Canvas->Rectangle(0, 0, 10, 10);  // after End: nothing, no crash
    Canvas->TextOut(0, 0, "x");
}

namespace {

// A run of Windows-1252 text is measured from the font's table of advances;
// the same characters as UTF-8 with a letter beyond ASCII are laid out by
// Qt. Both must give the same width for every face, style, size and
// resolution, or columns would move between reports of the two kinds.
TEST_F(DcCanvasTest, TableMeasureAgreesWithTheLaidOutText)
{
    const char* Faces[] = {"Courier New", "Arial", "Times New Roman", "Verdana", "No Such Face At All"};
    const TFontStyles Styles[] = {0, fsBold, fsItalic, TFontStyles(fsBold | fsItalic)};
    const int Sizes[] = {7, 10, 12, 36};
    // Each text in Windows-1252 and in UTF-8; both end in a letter beyond
    // ASCII, so the UTF-8 one is laid out.
    const std::pair<std::string, std::string> Texts[] = {
        {"The quick brown fox jumps over the lazy dog \xE9", "The quick brown fox jumps over the lazy dog \u00E9"},
        {"AV To Wa fi fl ffi Yo LT \xE9", "AV To Wa fi fl ffi Yo LT \u00E9"},
        {"0123456789.,;:!?()[]{}<>|/\\ \xE9", "0123456789.,;:!?()[]{}<>|/\\ \u00E9"},
        {"\xC0\xC9\xCE\xF5\xFC\xDF \xAB\xBB \x80 \x96\x97 \xE9", "\u00C0\u00C9\u00CE\u00F5\u00FC\u00DF \u00AB\u00BB \u20AC \u2013\u2014 \u00E9"},
    };
    for (int DotsPerMeter : {3780, 11811}) {
        Reset(10, 10, DotsPerMeter);
        for (const char* Face : Faces)
            for (TFontStyles Style : Styles)
                for (int Size : Sizes)
                    for (const auto& [Cp1252, Utf8] : Texts) {
                        Canvas->Font = TFont{Face, Size, Style, clBlack};
                        Canvas->Utf8Text = false;
                        const int Table = Canvas->TextWidth(Cp1252);
                        Canvas->Utf8Text = true;
                        const int LaidOut = Canvas->TextWidth(Utf8);
                        EXPECT_EQ(Table, LaidOut) << Face << " " << int(Style) << " " << Size << " pt at "
                                                  << DotsPerMeter << " dots/m: " << Cp1252;
                    }
    }
}

TEST_F(DcCanvasTest, LongRunsMeasureAsTheSumOfTheirPieces)
{
    const struct { const char* Name; std::string Piece; } Cases[] = {
        {"Courier New", "W"}, {"Arial", "Hello, World! "}, {"Times New Roman", "fi ligature-free text. "},
    };
    for (const auto& C : Cases) {
        Canvas->Font = TFont{C.Name, 12, 0, clBlack};
        std::string Long;
        while (Long.size() < 5000)
            Long += C.Piece;
        const int Copies = int(Long.size() / C.Piece.size());
        Canvas->Font.Size = 120;  // a large size keeps the rounding of the piece small
        const double Piece = Canvas->TextWidth(C.Piece) / 10.0;
        Canvas->Font.Size = 12;
        EXPECT_NEAR(Canvas->TextWidth(Long), Copies * Piece, Copies * 0.1 + 1) << C.Name;
    }
}

TEST_F(DcCanvasTest, LongRunDrawsWhatIsVisibleAndMovesThePointByItsWidth)
{
    Canvas->Font = TFont{"Courier New", 12, 0, clBlack};
    const std::string Long(2'000'000, 'x');
    Canvas->TextOut(-1000, 20, Long);
    EXPECT_EQ(Ink().left(), 0);
    EXPECT_EQ(Ink().right(), Image.width() - 1);
    Canvas->LineTo(0, 140);  // from the current point: far right of the device
    EXPECT_EQ(At(Image.width() - 1, 139), 0x000000u);
}

}  // namespace
