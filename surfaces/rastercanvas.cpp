// The raster surface. Every operation reproduces what the GDI call of the same
// name does on a device context, drawn with QPainter:
//
//  - lines and shapes are aliased; text is antialiased (greyscale);
//  - integer coordinates address pixels: a one-pixel line from A to B covers
//    A and leaves out B, a shape with bounding box (X1, Y1, X2, Y2) covers
//    X1..X2-1 and Y1..Y2-1;
//  - pens of width 0 or 1 are one pixel wide and may be dashed (GDI cosmetic
//    pens); wider pens are solid with round ends and joins (GDI geometric
//    pens); an inside-frame pen keeps the figure inside its bounding box;
//  - the pen mode applies to the outline and the interior of the figures and
//    to lines; FillRect, FrameRect, text and pictures ignore it;
//  - the gaps of dashed lines and the cell behind TextOut's glyphs are painted
//    in the brush colour when the brush is solid (opaque background mode);
//    hatch brushes leave the pixels between their lines untouched.
//
// Coordinates are clamped to +/-CoordLimit before they reach Qt, so absurd
// values draw something clipped instead of overflowing.
#include "surfaces/rastercanvas.h"

#include "surfaces/fontlist.h"
#include "base/strings.h"
#include "base/textencoding.h"

#include <QBitmap>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainterPath>
#include <QPolygon>
#include <QPolygonF>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <unordered_map>
#include <vector>

namespace quillard {

namespace {

constexpr int CoordLimit = 10'000'000;
constexpr int MaxPenWidth = 100'000;
constexpr int MaxFontPixels = 16'000;
// Text is measured with the face at this pixel size and scaled down: Qt keeps
// glyph advances in 1/64 pixel, which at small sizes adds up to visible
// errors over a line (ten W of Courier New at 16 px: 95.94 instead of 96.02).
constexpr int ReferencePixels = 2048;
constexpr double Pi = 3.14159265358979323846;

int Clamp(int64_t V)
{
    return int(std::clamp<int64_t>(V, -CoordLimit, CoordLimit));
}

QColor ToQColor(TColor C)
{
    const uint32_t V = ResolveColor(C);
    return QColor(int(V & 0xFF), int((V >> 8) & 0xFF), int((V >> 16) & 0xFF));
}

// A * B / C rounded half away from zero, in 64 bits (C != 0).
int64_t MulDiv64(int A, int B, int C)
{
    int64_t N = int64_t(A) * B, D = C;
    if (D < 0) {
        N = -N;
        D = -D;
    }
    return N >= 0 ? (N + D / 2) / D : -((-N + D / 2) / D);
}

// Windows MulDiv: -1 on overflow or division by zero.
int MulDiv(int A, int B, int C)
{
    if (C == 0)
        return -1;
    const int64_t R = MulDiv64(A, B, C);
    if (R > INT_MAX || R < INT_MIN)
        return -1;
    return int(R);
}

bool SameFont(const TFont& A, const TFont& B, int Dpi)
{
    return A.Name == B.Name && MulDiv(A.Size, Dpi, 72) == MulDiv(B.Size, Dpi, 72) && A.Style == B.Style &&
           A.Color == B.Color;
}

bool IdenticalFont(const TFont& A, const TFont& B)
{
    return A.Name == B.Name && A.Size == B.Size && A.Style == B.Style && A.Color == B.Color;
}

// How a pen mode reaches the pixels: a composition mode, possibly a fixed
// colour replacing the pen's and the brush's, or nothing at all.
struct TInk {
    bool Skip = false;
    QPainter::CompositionMode Mode = QPainter::CompositionMode_SourceOver;
    std::optional<QColor> Force;
};

TInk InkFor(TPenMode Mode)
{
    using CM = QPainter::CompositionMode;
    switch (Mode) {
    case pmBlack: return {false, CM::CompositionMode_SourceOver, QColor(0, 0, 0)};
    case pmWhite: return {false, CM::CompositionMode_SourceOver, QColor(255, 255, 255)};
    case pmNop: return {true, CM::CompositionMode_SourceOver, std::nullopt};
    case pmNot: return {false, CM::RasterOp_NotDestination, std::nullopt};
    case pmCopy: return {};
    case pmNotCopy: return {false, CM::RasterOp_NotSource, std::nullopt};
    case pmMergePenNot: return {false, CM::RasterOp_SourceOrNotDestination, std::nullopt};
    case pmMaskPenNot: return {false, CM::RasterOp_SourceAndNotDestination, std::nullopt};
    case pmMergeNotPen: return {false, CM::RasterOp_NotSourceOrDestination, std::nullopt};
    case pmMaskNotPen: return {false, CM::RasterOp_NotSourceAndDestination, std::nullopt};
    case pmMerge: return {false, CM::RasterOp_SourceOrDestination, std::nullopt};
    case pmNotMerge: return {false, CM::RasterOp_NotSourceAndNotDestination, std::nullopt};
    case pmMask: return {false, CM::RasterOp_SourceAndDestination, std::nullopt};
    case pmNotMask: return {false, CM::RasterOp_NotSourceOrNotDestination, std::nullopt};
    case pmXor: return {false, CM::RasterOp_SourceXorDestination, std::nullopt};
    case pmNotXor: return {false, CM::RasterOp_NotSourceXorDestination, std::nullopt};
    }
    return {};
}

QBrush BrushOf(TBrushStyle Style, const QColor& Color)
{
    switch (Style) {
    case bsSolid: return QBrush(Color, Qt::SolidPattern);
    case bsClear: return QBrush(Qt::NoBrush);
    case bsHorizontal: return QBrush(Color, Qt::HorPattern);
    case bsVertical: return QBrush(Color, Qt::VerPattern);
    case bsFDiagonal: return QBrush(Color, Qt::FDiagPattern);
    case bsBDiagonal: return QBrush(Color, Qt::BDiagPattern);
    case bsCross: return QBrush(Color, Qt::CrossPattern);
    case bsDiagCross: return QBrush(Color, Qt::DiagCrossPattern);
    }
    return QBrush(Qt::NoBrush);
}

// Dash lengths of the one-pixel styled pens, in pixels (on, off, ...).
QList<qreal> DashesOf(TPenStyle Style)
{
    switch (Style) {
    case psDash: return {18, 6};
    case psDot: return {3, 3};
    case psDashDot: return {9, 6, 3, 6};
    case psDashDotDot: return {9, 3, 3, 3, 3, 3};
    default: return {};
    }
}

// The pen and brush of one drawing operation, with the painter set up for
// the pen mode.
struct TStroke {
    bool Skip = false;    // pmNop: the operation leaves every pixel alone
    bool Draw = false;    // the outline is drawn
    bool Thin = true;     // one-pixel pen: integer coordinates address pixels
    bool Dashed = false;
    bool Inside = false;  // wide inside-frame pen
    bool RasterOp = false;  // pixels are combined with what is there
    int Width = 1;
    QPen Pen = QPen(Qt::NoPen);
    QColor PenColor;
    QBrush Fill = QBrush(Qt::NoBrush);
};

TStroke PrepareStroke(QPainter& P, const TPen& Pen, const TBrush& Brush)
{
    TStroke S;
    const TInk Ink = InkFor(Pen.Mode);
    P.setBackgroundMode(Qt::TransparentMode);
    P.setBrushOrigin(0, 0);
    P.setRenderHint(QPainter::Antialiasing, false);
    if (Ink.Skip) {
        S.Skip = true;
        return S;
    }
    P.setCompositionMode(Ink.Mode);
    S.RasterOp = Ink.Mode != QPainter::CompositionMode_SourceOver;

    S.PenColor = Ink.Force.value_or(ToQColor(Pen.Color));
    S.Fill = BrushOf(Brush.Style, Ink.Force.value_or(ToQColor(Brush.Color)));
    S.Width = std::clamp(Pen.Width, 1, MaxPenWidth);
    S.Thin = S.Width == 1;
    S.Draw = Pen.Style != psClear && Pen.Style <= psInsideFrame;
    if (!S.Draw)
        return S;
    S.Inside = Pen.Style == psInsideFrame && !S.Thin;
    if (S.Thin) {
        S.Pen = QPen(S.PenColor, 1, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        S.Pen.setCosmetic(true);
        const QList<qreal> Dashes = DashesOf(Pen.Style);
        if (!Dashes.isEmpty()) {
            S.Dashed = true;
            S.Pen.setDashPattern(Dashes);
            if (Brush.Style == bsSolid) {
                P.setBackgroundMode(Qt::OpaqueMode);
                P.setBackground(QBrush(ToQColor(Brush.Color)));
            }
        }
    } else {
        S.Pen = QPen(S.PenColor, S.Width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    }
    return S;
}

// Draws a figure's interior with the brush, then its outline with the pen.
// When the pen mode combines pixels with what is there (not, xor, ...), a
// pixel the outline covers is left out of the interior, so that it is
// combined once, as GDI does. Bounds is the figure's extent in device pixels.
template <typename TInterior, typename TOutline>
void FillThenOutline(TDeviceContext& DC, const TStroke& S, const QRectF& Bounds, TInterior Interior,
                     TOutline Outline)
{
    QPainter& P = DC.Painter();
    if (S.Fill.style() != Qt::NoBrush) {
        P.setPen(Qt::NoPen);
        P.setBrush(S.Fill);
        if (S.Draw && S.RasterOp && DC.Image()) {
            const int Margin = S.Width + 2;
            const QRect Area =
                Bounds.toAlignedRect().adjusted(-Margin, -Margin, Margin, Margin) & DC.Image()->rect();
            if (!Area.isEmpty()) {
                // The outline's pixels, drawn the same way into a mask.
                QImage Mask(Area.size(), QImage::Format_ARGB32_Premultiplied);
                Mask.fill(Qt::transparent);
                QPainter M(&Mask);
                M.setRenderHint(QPainter::Antialiasing, false);
                M.setBackgroundMode(P.backgroundMode());
                M.setBackground(QBrush(Qt::black));
                QPen Ink = S.Pen;
                Ink.setColor(Qt::black);
                M.setPen(Ink);
                M.setBrush(Qt::NoBrush);
                M.translate(-Area.topLeft());
                Outline(M);
                M.end();
                QRegion Covered(QBitmap::fromImage(Mask.createAlphaMask()));
                Covered.translate(Area.topLeft());
                P.save();
                P.setClipRegion(QRegion(Area).subtracted(Covered),
                                P.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
                Interior(P);
                P.restore();
            }
        } else {
            Interior(P);
        }
    }
    if (S.Draw) {
        P.setPen(S.Pen);
        P.setBrush(Qt::NoBrush);
        Outline(P);
    }
}

// Wide pens are centred on the pixel centres of the one-pixel figure.
QPointF Centre(const QPoint& Pt)
{
    return QPointF(Pt.x() + 0.5, Pt.y() + 0.5);
}

QRect RectOf(int L, int T, int R, int B)
{
    return QRect(L, T, R - L, B - T);
}

void Normalize(int& A, int& B)
{
    if (A > B)
        std::swap(A, B);
}

// Copies the part Src (edges may be reversed, which mirrors) of Image into
// Dest (likewise), scaled; the pixels are blended by their alpha.
void Blit(QPainter& P, int64_t DL, int64_t DT, int64_t DR, int64_t DB, const QImage& Image, int64_t SL, int64_t ST,
          int64_t SR, int64_t SB)
{
    const int64_t DW = DR - DL, DH = DB - DT, SW = SR - SL, SH = SB - ST;
    if (DW == 0 || DH == 0 || SW == 0 || SH == 0 || Image.isNull())
        return;
    const bool FlipX = (DW < 0) != (SW < 0), FlipY = (DH < 0) != (SH < 0);
    const QRectF Target(double(std::min(DL, DR)), double(std::min(DT, DB)), double(std::llabs(DW)),
                        double(std::llabs(DH)));
    const QRectF Source(double(std::min(SL, SR)), double(std::min(ST, SB)), double(std::llabs(SW)),
                        double(std::llabs(SH)));
    const QRectF Part = Source & QRectF(Image.rect());
    if (Part.isEmpty())
        return;
    const double KX = Target.width() / Source.width(), KY = Target.height() / Source.height();
    double X = Target.x() + (Part.x() - Source.x()) * KX;
    double Y = Target.y() + (Part.y() - Source.y()) * KY;
    if (FlipX)
        X = Target.right() - (Part.right() - Source.x()) * KX;
    if (FlipY)
        Y = Target.bottom() - (Part.bottom() - Source.y()) * KY;
    QRectF To(X, Y, Part.width() * KX, Part.height() * KY);
    // Keep the target within reach of the raster engine; the scale factors
    // stay as computed, only what lies far off the device is cut.
    const QRectF Reach(-CoordLimit, -CoordLimit, 2.0 * CoordLimit, 2.0 * CoordLimit);
    if (!To.intersects(Reach))
        return;
    P.setCompositionMode(QPainter::CompositionMode_SourceOver);
    P.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const QRect Whole = Part.toAlignedRect();
    if (Whole == Image.rect() && !FlipX && !FlipY) {
        // The whole picture as it is: no copy of its pixels.
        P.drawImage(To, Image);
        return;
    }
    QImage Piece = Image.copy(Whole);
    if (FlipX || FlipY)
        Piece = Piece.mirrored(FlipX, FlipY);
    P.drawImage(To, Piece);
}

// A picture's pixels as an image, without copying them.
QImage ImageOf(const TGraphic& G)
{
    if (G.Empty() || G.Pixels.size() < size_t(G.Width) * size_t(G.Height))
        return QImage();
    return QImage(reinterpret_cast<const uchar*>(G.Pixels.data()), G.Width, G.Height, qsizetype(G.Width) * 4,
                  QImage::Format_ARGB32);
}

int DpiFromDotsPerMeter(int Dpm)
{
    const int Dpi = int(std::lround(Dpm * 0.0254));
    return Dpi > 0 ? Dpi : 96;
}

}  // namespace

// ---------------------------------------------------------------------------
// Device context

TDeviceContext::TDeviceContext(QImage* Image)
    : FDevice(Image), FImage(Image), FPainter(std::make_unique<QPainter>())
{
    if (Image && !Image->isNull()) {
        FDpiX = DpiFromDotsPerMeter(Image->dotsPerMeterX());
        FDpiY = DpiFromDotsPerMeter(Image->dotsPerMeterY());
        FPainter->begin(Image);
    }
    if (FPainter->isActive()) {
        FPainter->setRenderHint(QPainter::Antialiasing, false);
        FPainter->setRenderHint(QPainter::TextAntialiasing, true);
    }
}

TDeviceContext::TDeviceContext(QPaintDevice* Device, int DpiX, int DpiY, int OffsetX, int OffsetY)
    : FDevice(Device), FPainter(std::make_unique<QPainter>()), FDpiX(DpiX > 0 ? DpiX : 96),
      FDpiY(DpiY > 0 ? DpiY : 96), FOffsetX(OffsetX), FOffsetY(OffsetY)
{
    if (Device && Device->devType() == QInternal::Image)
        FImage = static_cast<QImage*>(Device);
    if (Device && !(FImage && FImage->isNull()))
        FPainter->begin(Device);
    if (FPainter->isActive()) {
        FPainter->setRenderHint(QPainter::Antialiasing, false);
        FPainter->setRenderHint(QPainter::TextAntialiasing, true);
    }
}

TDeviceContext::~TDeviceContext()
{
    End();
}

std::unique_ptr<TPagePicture> TPagePicture::Make(int Width, int Height, int Dpi, qint64 MaxPixels)
{
    if (Width <= 0 || Height <= 0 || Dpi <= 0 || qint64(Width) * Height > MaxPixels)
        return nullptr;
    std::unique_ptr<TPagePicture> p(new TPagePicture);
    p->FImage = QImage(Width, Height, QImage::Format_RGB32);
    if (p->FImage.isNull())
        return nullptr;
    p->FImage.fill(Qt::white);
    p->FContext = std::make_unique<TDeviceContext>(&p->FImage, Dpi, Dpi);
    return p;
}

TPagePicture::~TPagePicture() = default;

void TPagePicture::DrawOn(TDeviceContext& Target)
{
    FContext->End();
    Target.Painter().drawImage(QRect(QPoint(0, 0), FImage.size()), FImage);
}

void TDeviceContext::End()
{
    if (FPainter && FPainter->isActive())
        FPainter->end();
}

// ---------------------------------------------------------------------------
// Fonts

QFont MakeDeviceFont(const TFont& Font, int DpiY)
{
    InstallFontSubstitutions();
    // A logical font's face name holds at most 31 characters.
    QFont F(Cp1252ToQString(Font.Name.substr(0, 31)));
    F.setHintingPreference(QFont::PreferNoHinting);
    F.setKerning(false);
    F.setStyleStrategy(QFont::StyleStrategy(QFont::PreferNoShaping | QFont::NoSubpixelAntialias));
    F.setWeight((Font.Style & fsBold) ? QFont::Bold : QFont::Normal);
    F.setItalic(Font.Style & fsItalic);
    F.setUnderline(Font.Style & fsUnderline);
    F.setStrikeOut(Font.Style & fsStrikeOut);

    const int64_t Px = MulDiv64(Font.Size, DpiY > 0 ? DpiY : 96, 72);
    if (Px > 0) {
        F.setPixelSize(int(std::min<int64_t>(Px, MaxFontPixels)));
    } else if (Px < 0) {
        // A negative size asks for the cell height (ascent + descent).
        F.setPixelSize(ReferencePixels);
        const QFontMetricsF M(F);
        const double Cell = M.ascent() + M.descent();
        const double Wanted = double(std::min<int64_t>(-Px, 4 * MaxFontPixels));
        const double Em = Cell > 0 ? Wanted * ReferencePixels / Cell : Wanted;
        F.setPixelSize(std::clamp(int(std::lround(Em)), 1, MaxFontPixels));
    } else {
        // Size 0 leaves the choice to the font mapper: 12 pixels at 96 dpi.
        F.setPixelSize(std::max(1, MulDiv(12, DpiY > 0 ? DpiY : 96, 96)));
    }
    return F;
}

// Fonts and measurements kept per wrapper so that repeated text operations in
// the same font do not rebuild them.
struct TRasterCanvas::TTextState {
    std::optional<TFont> Key;  // the font DeviceFont was built from
    int KeyDpi = 0;
    QFont DeviceFont;

    bool Measured = false;
    QFont MeasuredFont;                  // the font the metrics below belong to
    // The same face at ReferencePixels, and its metrics: every size of a face
    // shares them, and the unit tables below with them.
    QFont ReferenceFont;
    std::optional<QFontMetricsF> Reference;
    double Scale = 1;                    // device pixels per reference pixel
    int Ascent = 0;                      // top of the cell to the baseline
    int Height = 0;                      // cell height

    void Measure(const QFont& F)
    {
        if (Measured && MeasuredFont == F)
            return;
        MeasuredFont = F;
        ByteTableValid = false;
        QFont R = F;
        R.setPixelSize(ReferencePixels);
        if (!Reference || !(ReferenceFont == R)) {
            ReferenceFont = R;
            Reference.emplace(R);
        }
        Scale = double(std::max(F.pixelSize(), 1)) / ReferencePixels;
        const double A = Reference->ascent() * Scale, D = Reference->descent() * Scale;
        Ascent = int(std::lround(A));
        Height = std::max(1, int(std::lround(A + D)));
        Measured = true;
    }

    double Advance(const QString& S) const { return S.isEmpty() ? 0.0 : Reference->horizontalAdvance(S) * Scale; }

    // Advances of the 256 byte values, for long runs: with shaping and
    // kerning off a run's advance is the sum of its characters' advances, and
    // shaping megabytes of text at once would take seconds.
    const std::array<double, 256>& ByteAdvances(bool LineDraw)
    {
        if (!ByteTableValid || ByteTableLineDraw != LineDraw) {
            for (int b = 0; b < 256; ++b) {
                const QString C = ReportTextToQString(std::string(1, char(b)), LineDraw);
                ByteTable[b] = Reference->horizontalAdvance(C) * Scale;
            }
            ByteTableValid = true;
            ByteTableLineDraw = LineDraw;
        }
        return ByteTable;
    }
    std::array<double, 256> ByteTable{};
    bool ByteTableValid = false;
    bool ByteTableLineDraw = false;

    // The same advances at the reference size in Qt's unit of 1/64 pixel,
    // which measures them exactly: a long run's advance is the sum of these
    // whole numbers, scaled once, so a text measures the same however it is
    // split into pieces. They do not depend on the size, so a line that
    // changes only the size at every tag measures with one table (a table
    // per size cost 256 layouts at each change). A table is kept for each of
    // the last few faces, with running sums over the last tails measured in
    // pieces (TextWidthJoined), as a line whose runs change the font
    // measures its tail in each.
    struct TTailSums {
        uint64_t Key = 0;
        std::vector<int64_t> Sums;  // Sums[i]: the units of the first i bytes
    };
    struct TUnitTable {
        QFont Font;  // at ReferencePixels
        bool LineDraw = false;
        std::array<int64_t, 256> Units{};
        std::vector<TTailSums> Tails;
        // UTF-8 text: the units of the characters above 0x7F met so far.
        std::unordered_map<char32_t, int64_t> CharUnits;
    };
    std::vector<TUnitTable> UnitTables;  // the most recently used last

    TUnitTable& UnitsFor(bool LineDraw)
    {
        for (size_t i = UnitTables.size(); i-- > 0;) {
            if (UnitTables[i].LineDraw == LineDraw && UnitTables[i].Font == ReferenceFont) {
                if (i + 1 != UnitTables.size())
                    std::rotate(UnitTables.begin() + i, UnitTables.begin() + i + 1, UnitTables.end());
                return UnitTables.back();
            }
        }
        if (UnitTables.size() >= 8)
            UnitTables.erase(UnitTables.begin());
        TUnitTable t;
        t.Font = ReferenceFont;
        t.LineDraw = LineDraw;
        for (int b = 0; b < 256; ++b) {
            const QString C = ReportTextToQString(std::string(1, char(b)), LineDraw);
            t.Units[b] = std::llround(Reference->horizontalAdvance(C) * 64);
        }
        UnitTables.push_back(std::move(t));
        return UnitTables.back();
    }
    double UnitsToPixels(int64_t Units) const { return double(Units) / 64 * Scale; }

    // The units of the character of UTF-8 text at Text[I], advancing I past
    // it: a character's whole advance counts at its first byte.
    int64_t Utf8Units(TUnitTable& Table, const std::string& Text, size_t& I) const
    {
        const unsigned char B = static_cast<unsigned char>(Text[I]);
        if (B < 0x80) {
            ++I;
            return Table.Units[B];
        }
        const char32_t C = DecodeUtf8(Text, I);
        auto Found = Table.CharUnits.find(C);
        if (Found != Table.CharUnits.end())
            return Found->second;
        if (Table.CharUnits.size() >= 4096)
            Table.CharUnits.clear();
        const char32_t One[1] = {C};
        const int64_t Units = std::llround(Reference->horizontalAdvance(QString::fromUcs4(One, 1)) * 64);
        Table.CharUnits.emplace(C, Units);
        return Units;
    }

    // The units of a whole run.
    int64_t RunUnits(TUnitTable& Table, const std::string& Text, bool Utf8) const
    {
        int64_t Sum = 0;
        if (!Utf8) {
            for (unsigned char c : Text)
                Sum += Table.Units[c];
            return Sum;
        }
        for (size_t i = 0; i < Text.size();)
            Sum += Utf8Units(Table, Text, i);
        return Sum;
    }

    const std::vector<int64_t>& SumsOf(TUnitTable& Table, const std::string& Tail, uint64_t Key, bool Utf8) const
    {
        for (const TTailSums& t : Table.Tails)
            if (t.Key == Key && t.Sums.size() == Tail.size() + 1)
                return t.Sums;
        if (Table.Tails.size() >= 2)
            Table.Tails.erase(Table.Tails.begin());
        TTailSums t;
        t.Key = Key;
        t.Sums.resize(Tail.size() + 1);
        int64_t sum = 0;
        if (Utf8) {
            // A character counts at its first byte; its other bytes add nothing.
            for (size_t i = 0; i < Tail.size();) {
                const size_t From = i;
                sum += Utf8Units(Table, Tail, i);
                for (size_t k = From; k < i; ++k)
                    t.Sums[k + 1] = sum;
            }
        } else {
            for (size_t i = 0; i < Tail.size(); ++i) {
                sum += Table.Units[static_cast<unsigned char>(Tail[i])];
                t.Sums[i + 1] = sum;
            }
        }
        Table.Tails.push_back(std::move(t));
        return Table.Tails.back().Sums;
    }
};

// Runs longer than this are measured with the byte table and drawn only as
// far as they can be seen.
constexpr size_t LongRun = 1024;

namespace {

// Draws S with the top-left of its cell at At, rotated as the selected font
// says, optionally over a cell box of Box pixels in BoxColor, clipped to Clip
// when given.
void PaintText(TDeviceContext& DC, const QPoint& At, const QString& S, const QFont& F, int Ascent,
               const QColor& TextColor, const QSize& Box, const std::optional<QColor>& BoxColor, const QRect* Clip)
{
    QPainter& P = DC.Painter();
    const QTransform& T = P.worldTransform();
    if (!DC.RotatedFont && DC.Device() && T.type() <= QTransform::TxScale && T.m11() > 0 && T.m22() > 0) {
        // Nothing of a text that starts past the right edge, ends (its
        // measured width known) before the left one, or lies wholly above or
        // below the device can be seen: it is not drawn, and its size never
        // costs a font of its own (a line of thousands of sizes would load as
        // many). The margin takes in any glyph's overhang.
        const QPointF D = T.map(QPointF(At));
        const double Margin = (4.0 * std::max(F.pixelSize(), Box.height()) + 16.0) * std::max(T.m11(), T.m22());
        const double W = DC.Device()->width(), H = DC.Device()->height();
        const bool EndsBeforeLeft = Box.width() > 0 && D.x() + Box.width() * T.m11() < -Margin;
        if (D.x() > W + Margin || EndsBeforeLeft || D.y() > H + Margin || D.y() < -Margin)
            return;
    }
    P.save();
    P.setCompositionMode(QPainter::CompositionMode_SourceOver);
    P.setBackgroundMode(Qt::TransparentMode);
    if (Clip)
        P.setClipRect(*Clip, P.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
    P.translate(At);
    if (DC.RotatedFont)
        P.rotate(-DC.RotatedAngle * 180.0 / Pi);
    if (BoxColor && Box.width() > 0 && Box.height() > 0)
        P.fillRect(QRect(QPoint(0, 0), Box), *BoxColor);
    if (!S.isEmpty()) {
        P.setFont(F);
        P.setPen(QPen(TextColor));
        P.drawText(QPointF(0, Ascent), S);
    }
    P.restore();
}

}  // namespace

// ---------------------------------------------------------------------------
// Wrapper

TRasterCanvas::TRasterCanvas(TDeviceContext* DC) : FDC(DC), FText(std::make_unique<TTextState>()) {}

TRasterCanvas::~TRasterCanvas() = default;

bool TRasterCanvas::Ready() const
{
    return FDC && FDC->Painter().isActive();
}

const QFont& TRasterCanvas::SelectFont()
{
    const int Dpi = FDC ? FDC->DpiY() : 96;
    if (FDC) {
        const bool Reassigned = FDC->LastFontOwner != this || FDC->LastFontSerial != FontSerial;
        if (!FDC->LastFont || !SameFont(*FDC->LastFont, Font, Dpi) || Reassigned) {
            FDC->LastFont = Font;
            FDC->LastFontOwner = this;
            FDC->LastFontSerial = FontSerial;
            FDC->RotatedFont.reset();
            FDC->RotatedAngle = 0;
            FDC->BrushForcedClear = false;
        }
        if (FDC->RotatedFont)
            return *FDC->RotatedFont;
    }
    const TFont& Selected = (FDC && FDC->LastFont) ? *FDC->LastFont : Font;
    if (!FText->Key || !IdenticalFont(*FText->Key, Selected) || FText->KeyDpi != Dpi) {
        FText->DeviceFont = MakeDeviceFont(Selected, Dpi);
        FText->Key = Selected;
        FText->KeyDpi = Dpi;
    }
    return FText->DeviceFont;
}

QString TRasterCanvas::SurfaceText(const std::string& Text) const
{
    if (Utf8Text)
        return QString::fromUtf8(Text.data(), qsizetype(Text.size()));
    return ReportTextToQString(Text, IsLineDrawFace(Font.Name));
}

std::string TRasterCanvas::VisiblePart(const std::string& Text, int X, int Y)
{
    if (Text.size() <= LongRun || !FDC || !FDC->Device())
        return Text;
    // Whatever the rotation, no glyph that starts further along the baseline
    // than the device's diagonal past the start point can be seen.
    const double W = FDC->Device()->width(), H = FDC->Device()->height();
    const double Reach = std::hypot(W, H) + std::abs(double(X)) + std::abs(double(Y)) + 4.0 * FText->Height;
    size_t N = 0;
    if (Utf8Text) {
        TTextState::TUnitTable& Units = FText->UnitsFor(false);
        int64_t Sum = 0;
        while (N < Text.size() && FText->UnitsToPixels(Sum) <= Reach)
            Sum += FText->Utf8Units(Units, Text, N);
        return Text.substr(0, N);
    }
    const auto& Table = FText->ByteAdvances(IsLineDrawFace(Font.Name));
    double D = 0;
    while (N < Text.size() && D <= Reach)
        D += Table[static_cast<unsigned char>(Text[N++])];
    return Text.substr(0, N);
}

TSize TRasterCanvas::TextExtent(const std::string& Text)
{
    const QFont F = SelectFont();
    FText->Measure(F);
    double Advance = 0;
    // With shaping and kerning off, a run of characters that each stand on
    // their own (every Windows-1252 byte, ASCII in UTF-8) advances by the
    // sum of their advances: the font's table gives it without asking Qt
    // to lay the text out. Other UTF-8 text of a short run is laid out, as
    // a character may combine with the one before it.
    if (Text.size() > LongRun || !Utf8Text || IsAsciiText(Text)) {
        TTextState::TUnitTable& Units = FText->UnitsFor(!Utf8Text && IsLineDrawFace(Font.Name));
        Advance = FText->UnitsToPixels(FText->RunUnits(Units, Text, Utf8Text));
    } else {
        Advance = FText->Advance(SurfaceText(Text));
    }
    const int Cx = Advance < double(INT_MAX) ? int(std::lround(Advance)) : INT_MAX;
    return TSize{Cx, FText->Height};
}

int TRasterCanvas::TextWidthJoined(const std::string& Head, const std::string& Tail, size_t From, size_t To,
                                    uint64_t TailKey)
{
    To = std::min(To, Tail.size());
    From = std::min(From, To);
    if (Head.size() + (To - From) <= LongRun)
        return TextWidth(Head + Tail.substr(From, To - From));
    // As TextExtent measures a long run, with the tail's part taken from the
    // running sums.
    const QFont F = SelectFont();
    FText->Measure(F);
    TTextState::TUnitTable& Table = FText->UnitsFor(!Utf8Text && IsLineDrawFace(Font.Name));
    int64_t Sum = FText->RunUnits(Table, Head, Utf8Text);
    const std::vector<int64_t>& Sums = FText->SumsOf(Table, Tail, TailKey, Utf8Text);
    Sum += Sums[To] - Sums[From];
    const double Advance = FText->UnitsToPixels(Sum);
    return Advance < double(INT_MAX) ? int(std::lround(Advance)) : INT_MAX;
}

void TRasterCanvas::TextOut(int X, int Y, const std::string& Text)
{
    const int Width = TextWidth(Text);
    const QFont F = SelectFont();
    const int TX = Clamp(X), TY = Clamp(Y);
    if (Ready() && !Text.empty()) {
        FText->Measure(F);
        std::optional<QColor> Box;
        if (Brush.Style == bsSolid && !FDC->BrushForcedClear)
            Box = ToQColor(Brush.Color);
        PaintText(*FDC, QPoint(TX, TY), SurfaceText(VisiblePart(Text, TX, TY)), F, FText->Ascent,
                  ToQColor(Font.Color), QSize(Width, FText->Height), Box, nullptr);
    }
    if (FDC)
        FDC->Current = QPoint(Clamp(int64_t(TX) + Width), TY);
}

void TRasterCanvas::TextRect(const TRect& R, int X, int Y, const std::string& Text)
{
    const QFont F = SelectFont();
    if (!Ready())
        return;
    const int L = Clamp(R.Left), T = Clamp(R.Top), Rt = Clamp(R.Right), B = Clamp(R.Bottom);
    if (Rt <= L || B <= T)
        return;  // nothing to fill, and the text is clipped away
    const QRect Area = RectOf(L, T, Rt, B);
    QPainter& P = FDC->Painter();
    if (Brush.Style != bsClear && !FDC->BrushForcedClear) {
        // The background colour of the device context: the brush colour for a
        // solid brush, its complement for a hatched one.
        const uint32_t C = ResolveColor(Brush.Color);
        const uint32_t Bk = Brush.Style == bsSolid ? C : (~C & 0xFFFFFFu);
        P.setCompositionMode(QPainter::CompositionMode_SourceOver);
        P.fillRect(Area, ToQColor(Bk));
    }
    if (!Text.empty()) {
        FText->Measure(F);
        PaintText(*FDC, QPoint(Clamp(X), Clamp(Y)), SurfaceText(VisiblePart(Text, Clamp(X), Clamp(Y))), F,
                  FText->Ascent, ToQColor(Font.Color), QSize(), std::nullopt, &Area);
    }
}

void TRasterCanvas::SetFontAngle(double Angle)
{
    if (!FDC)
        throw ECannotCreateFont("Could not create font");
    // Tenths of a degree, truncated toward zero, in extended precision with
    // pi to 14 decimals as the tag interpreter uses it.
    const long double K = 1.0L / (2.0L * 3.14159265358979L);
    const long double Tenths = static_cast<long double>(Angle) * K * 3600.0L;
    long long Escapement = 0;
    if (std::isfinite(Tenths))
        Escapement = static_cast<long long>(std::truncl(std::clamp(Tenths, -1.0e12L, 1.0e12L)));

    QFont F = MakeDeviceFont(Font, FDC->DpiY());
    if (Font.Style & fsBold)
        F.setWeight(QFont::ExtraBold);
    if (QFontInfo(F).family().isEmpty() || QFontMetricsF(F).height() <= 0)
        throw ECannotCreateFont("Could not create font");

    FDC->RotatedFont = F;
    FDC->RotatedAngle = double(Escapement % 3600) / 10.0 * Pi / 180.0;
    FDC->BrushForcedClear = true;
    // The rotated font is made from Font: a text operation with the same
    // attributes keeps it selected.
    FDC->LastFont = Font;
    FDC->LastFontOwner = this;
    FDC->LastFontSerial = FontSerial;
}

int TRasterCanvas::GetDeviceCaps(int Index)
{
    if (!FDC)
        return 0;
    switch (Index) {
    case LOGPIXELSX: return FDC->DpiX();
    case LOGPIXELSY: return FDC->DpiY();
    case PHYSICALOFFSETX: return FDC->OffsetX();
    case PHYSICALOFFSETY: return FDC->OffsetY();
    default: return 0;
    }
}

bool TRasterCanvas::DeviceArea(TRect& Area)
{
    if (!FDC || !FDC->Device())
        return false;
    Area = TRect{0, 0, FDC->Device()->width(), FDC->Device()->height()};
    return true;
}

void TRasterCanvas::MoveTo(int X, int Y)
{
    if (FDC)
        FDC->Current = QPoint(Clamp(X), Clamp(Y));
}

void TRasterCanvas::LineTo(int X, int Y)
{
    const QPoint To(Clamp(X), Clamp(Y));
    if (Ready() && To != FDC->Current) {
        QPainter& P = FDC->Painter();
        const TStroke S = PrepareStroke(P, Pen, Brush);
        RasterOpsDrawn |= S.RasterOp;
        if (!S.Skip && S.Draw) {
            P.setPen(S.Pen);
            P.setBrush(Qt::NoBrush);
            if (S.Thin)
                P.drawLine(FDC->Current, To);
            else
                P.drawLine(Centre(FDC->Current), Centre(To));
        }
    }
    if (FDC)
        FDC->Current = To;
}

void TRasterCanvas::Polyline(const std::vector<TPoint>& Points)
{
    if (!Ready() || Points.size() < 2)
        return;
    QPainter& P = FDC->Painter();
    const TStroke S = PrepareStroke(P, Pen, Brush);
    RasterOpsDrawn |= S.RasterOp;
    if (S.Skip || !S.Draw)
        return;
    P.setPen(S.Pen);
    P.setBrush(Qt::NoBrush);
    if (S.Thin) {
        QPolygon Line;
        Line.reserve(qsizetype(Points.size()));
        for (const TPoint& Pt : Points)
            Line << QPoint(Clamp(Pt.X), Clamp(Pt.Y));
        P.drawPolyline(Line);
    } else {
        QPolygonF Line;
        Line.reserve(qsizetype(Points.size()));
        for (const TPoint& Pt : Points)
            Line << Centre(QPoint(Clamp(Pt.X), Clamp(Pt.Y)));
        P.drawPolyline(Line);
    }
}

void TRasterCanvas::Polygon(const std::vector<TPoint>& Points)
{
    if (!Ready() || Points.size() < 2)
        return;
    QPainter& P = FDC->Painter();
    const TStroke S = PrepareStroke(P, Pen, Brush);
    RasterOpsDrawn |= S.RasterOp;
    if (S.Skip)
        return;
    QPolygon Shape;
    Shape.reserve(qsizetype(Points.size()));
    for (const TPoint& Pt : Points)
        Shape << QPoint(Clamp(Pt.X), Clamp(Pt.Y));
    QPolygonF Wide;
    if (!S.Thin) {
        Wide.reserve(Shape.size());
        for (const QPoint& Pt : Shape)
            Wide << Centre(Pt);
    }
    // Interior by alternate filling, right and bottom edges left out.
    FillThenOutline(
        *FDC, S, QRectF(Shape.boundingRect()), [&](QPainter& Q) { Q.drawPolygon(Shape, Qt::OddEvenFill); },
        [&](QPainter& Q) {
            if (S.Thin)
                Q.drawPolygon(Shape, Qt::OddEvenFill);
            else
                Q.drawPolygon(Wide, Qt::OddEvenFill);
        });
}

void TRasterCanvas::Rectangle(int X1, int Y1, int X2, int Y2)
{
    if (!Ready())
        return;
    int L = Clamp(X1), T = Clamp(Y1), R = Clamp(X2), B = Clamp(Y2);
    Normalize(L, R);
    Normalize(T, B);
    if (R <= L || B <= T)
        return;
    QPainter& P = FDC->Painter();
    const TStroke S = PrepareStroke(P, Pen, Brush);
    RasterOpsDrawn |= S.RasterOp;
    if (S.Skip)
        return;
    const bool Filled = S.Fill.style() != Qt::NoBrush;
    if (!S.Draw) {
        // Without a pen the filled area is one pixel narrower and shorter.
        if (Filled && R - L > 1 && B - T > 1)
            P.fillRect(RectOf(L, T, R - 1, B - 1), S.Fill);
        return;
    }

    const int W = S.Width;
    // Outline band: from Outer (inclusive) to Inner (exclusive). A one-pixel
    // pen lies on the edge pixels; a wide pen is centred on them (the odd
    // pixel of an even width outside), an inside-frame pen lies inside.
    const int Out = S.Inside ? 0 : W / 2;
    const int In = S.Inside ? W : W - W / 2;
    const QRect Outer = RectOf(L - Out, T - Out, R + Out, B + Out);
    const QRect Inner = (R - L > 2 * In && B - T > 2 * In) ? RectOf(L + In, T + In, R - In, B - In) : QRect();

    if (Filled && !Inner.isEmpty())
        P.fillRect(Inner, S.Fill);

    if (S.Dashed && R - L > 1 && B - T > 1) {
        // Styled one-pixel outline: one closed run so the dashes go round.
        P.setPen(S.Pen);
        P.setBrush(Qt::NoBrush);
        const QPoint Corners[5] = {{L, T}, {R - 1, T}, {R - 1, B - 1}, {L, B - 1}, {L, T}};
        P.drawPolyline(Corners, 5);
        return;
    }
    QPainterPath Band;
    Band.setFillRule(Qt::OddEvenFill);
    if (W >= 2)
        Band.addRoundedRect(QRectF(Outer), W / 2.0, W / 2.0);  // round joins
    else
        Band.addRect(QRectF(Outer));
    if (!Inner.isEmpty())
        Band.addRect(QRectF(Inner));
    P.fillPath(Band, QBrush(S.PenColor));
}

enum TBoxKind { bkEllipse, bkArc, bkChord, bkPie };

void TRasterCanvas::BoxShape(int Kind, int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4)
{
    if (!Ready())
        return;
    int L = Clamp(X1), T = Clamp(Y1), R = Clamp(X2), B = Clamp(Y2);
    Normalize(L, R);
    Normalize(T, B);
    const double W = double(R) - L, H = double(B) - T;
    if (W <= 0 || H <= 0)
        return;
    QPainter& P = FDC->Painter();
    const TStroke S = PrepareStroke(P, Pen, Brush);
    RasterOpsDrawn |= S.RasterOp;
    if (S.Skip || (Kind == bkArc && !S.Draw))
        return;

    // The figure's geometric box: through the edge pixels for one-pixel pens
    // and fills without a pen, through their centres for wide pens, and
    // half a pen width inside the bounding box for inside-frame pens.
    QRectF Box;
    if (S.Inside) {
        const double Half = S.Width / 2.0;
        const double BW = std::max(0.0, W - S.Width), BH = std::max(0.0, H - S.Width);
        Box = QRectF(L + std::min(Half, W / 2), T + std::min(Half, H / 2), BW, BH);
    } else if (S.Draw && !S.Thin) {
        Box = QRectF(L + 0.5, T + 0.5, W - 1, H - 1);
    } else if (S.Draw) {
        // A quarter pixel in keeps the flattened curve's extremes from
        // falling just short of the last pixel column or row, and makes the
        // interior meet the outline without gaps.
        Box = QRectF(L + 0.25, T + 0.25, W - 1, H - 1);
    } else {
        Box = QRectF(L, T, W - 1, H - 1);
    }

    QPainterPath Path;
    if (Kind == bkEllipse) {
        Path.addEllipse(Box);
    } else {
        // Radial points to angles on the ellipse (Qt's arc angles are those
        // of the ellipse's parametric form), drawn counter-clockwise from
        // the start point to the end point; equal angles make the full figure.
        const double CX = (double(L) + R) / 2, CY = (double(T) + B) / 2;
        const double RX = Box.width() / 2, RY = Box.height() / 2;
        auto AngleOf = [&](int PX, int PY) {
            const double DX = double(Clamp(PX)) - CX, DY = CY - double(Clamp(PY));
            if (DX == 0 && DY == 0)
                return 0.0;
            return std::atan2(DY * RX, DX * RY) * 180.0 / Pi;
        };
        const double Start = AngleOf(X3, Y3);
        double Span = AngleOf(X4, Y4) - Start;
        while (Span <= 1e-9)
            Span += 360.0;
        if (Span > 360.0)
            Span = 360.0;
        if (Kind == bkPie) {
            Path.moveTo(Box.center());
            Path.arcTo(Box, Start, Span);
            Path.closeSubpath();
        } else {
            Path.arcMoveTo(Box, Start);
            Path.arcTo(Box, Start, Span);
            if (Kind == bkChord)
                Path.closeSubpath();
        }
    }

    if (Kind == bkArc) {
        P.setPen(S.Pen);
        P.setBrush(Qt::NoBrush);
        P.drawPath(Path);
        return;
    }
    FillThenOutline(*FDC, S, QRectF(L, T, W, H), [&](QPainter& Q) { Q.drawPath(Path); },
                    [&](QPainter& Q) { Q.drawPath(Path); });
}

void TRasterCanvas::Ellipse(int X1, int Y1, int X2, int Y2)
{
    BoxShape(bkEllipse, X1, Y1, X2, Y2, 0, 0, 0, 0);
}

void TRasterCanvas::Arc(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4)
{
    BoxShape(bkArc, X1, Y1, X2, Y2, X3, Y3, X4, Y4);
}

void TRasterCanvas::Chord(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4)
{
    BoxShape(bkChord, X1, Y1, X2, Y2, X3, Y3, X4, Y4);
}

void TRasterCanvas::Pie(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4)
{
    BoxShape(bkPie, X1, Y1, X2, Y2, X3, Y3, X4, Y4);
}

namespace {

// R within the coordinate range; empty when it has no pixel.
QRect ClampedArea(const TRect& R)
{
    const int L = Clamp(R.Left), T = Clamp(R.Top), Rt = Clamp(R.Right), B = Clamp(R.Bottom);
    return Rt <= L || B <= T ? QRect() : RectOf(L, T, Rt, B);
}

// The painter set for filling areas with Mode, patterns anchored at the origin.
QPainter& AreaPainter(QPainter& P, QPainter::CompositionMode Mode)
{
    P.setCompositionMode(Mode);
    P.setBackgroundMode(Qt::TransparentMode);
    P.setBrushOrigin(0, 0);
    return P;
}

// A one-pixel frame along the inside of Area, as four strips that do not overlap.
void FillFrame(QPainter& P, const QRect& Area, const QBrush& Fill)
{
    const int L = Area.left(), T = Area.top(), Rt = Area.right() + 1, B = Area.bottom() + 1;
    P.fillRect(RectOf(L, T, Rt, T + 1), Fill);
    if (B - T > 1)
        P.fillRect(RectOf(L, B - 1, Rt, B), Fill);
    if (B - T > 2) {
        P.fillRect(RectOf(L, T + 1, L + 1, B - 1), Fill);
        if (Rt - L > 1)
            P.fillRect(RectOf(Rt - 1, T + 1, Rt, B - 1), Fill);
    }
}

}  // namespace

void TRasterCanvas::FillRect(const TRect& R)
{
    const QRect Area = ClampedArea(R);
    if (!Ready() || Brush.Style == bsClear || Area.isEmpty())
        return;
    AreaPainter(FDC->Painter(), QPainter::CompositionMode_SourceOver)
        .fillRect(Area, BrushOf(Brush.Style, ToQColor(Brush.Color)));
}

void TRasterCanvas::FrameRect(const TRect& R)
{
    const QRect Area = ClampedArea(R);
    if (!Ready() || Brush.Style == bsClear || Area.isEmpty())
        return;
    FillFrame(AreaPainter(FDC->Painter(), QPainter::CompositionMode_SourceOver), Area,
              BrushOf(Brush.Style, ToQColor(Brush.Color)));
}

void TRasterCanvas::DrawFocusRect(const TRect& R)
{
    const QRect Area = ClampedArea(R);
    if (!Ready() || Area.isEmpty())
        return;
    // Every other pixel of a one-pixel frame inverted: drawing it again
    // takes it away.
    RasterOpsDrawn = true;
    QPainter& P = AreaPainter(FDC->Painter(), QPainter::RasterOp_SourceXorDestination);
    FillFrame(P, Area, QBrush(Qt::white, Qt::Dense4Pattern));
    P.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void TRasterCanvas::Draw(int X, int Y, const TGraphic& Graphic)
{
    if (!Ready())
        return;
    const QImage Image = ImageOf(Graphic);
    if (Image.isNull())
        return;
    const int64_t L = Clamp(X), T = Clamp(Y);
    Blit(FDC->Painter(), L, T, L + Graphic.Width, T + Graphic.Height, Image, 0, 0, Graphic.Width, Graphic.Height);
}

void TRasterCanvas::StretchDraw(const TRect& R, const TGraphic& Graphic)
{
    if (!Ready())
        return;
    const QImage Image = ImageOf(Graphic);
    if (Image.isNull())
        return;
    Blit(FDC->Painter(), Clamp(R.Left), Clamp(R.Top), Clamp(R.Right), Clamp(R.Bottom), Image, 0, 0, Graphic.Width,
         Graphic.Height);
}

void TRasterCanvas::CopyRect(const TRect& Dest, const TGraphic& Source, const TRect& SourceRect)
{
    if (!Ready())
        return;
    const QImage Image = ImageOf(Source);
    if (Image.isNull())
        return;
    Blit(FDC->Painter(), Clamp(Dest.Left), Clamp(Dest.Top), Clamp(Dest.Right), Clamp(Dest.Bottom), Image,
         Clamp(SourceRect.Left), Clamp(SourceRect.Top), Clamp(SourceRect.Right), Clamp(SourceRect.Bottom));
}

void TRasterCanvas::FloodFill(int X, int Y, TColor Color, TFillStyle FillStyle)
{
    if (!Ready() || !FDC->Image() || Brush.Style == bsClear)
        return;
    const QImage& Img = *FDC->Image();
    const int W = Img.width(), H = Img.height();
    if (X < 0 || Y < 0 || X >= W || Y >= H)
        return;
    const QRgb Target = ResolveColor(Color);
    const QRgb Wanted = qRgb(int(Target & 0xFF), int((Target >> 8) & 0xFF), int((Target >> 16) & 0xFF)) & 0xFFFFFF;
    const bool Direct = Img.format() == QImage::Format_RGB32 || Img.format() == QImage::Format_ARGB32;
    auto RgbAt = [&](int PX, int PY) -> QRgb {
        if (Direct)
            return reinterpret_cast<const QRgb*>(Img.constScanLine(PY))[PX] & 0xFFFFFF;
        return Img.pixel(PX, PY) & 0xFFFFFF;
    };
    // fsBorder: everything up to the border colour; fsSurface: the area of
    // that colour.
    auto Inside = [&](int PX, int PY) {
        const bool Same = RgbAt(PX, PY) == Wanted;
        return FillStyle == fsSurface ? Same : !Same;
    };
    if (!Inside(X, Y))
        return;

    // Scanline fill with an explicit stack; the spans are collected first
    // and painted afterwards, so the brush can not disturb the search.
    std::vector<bool> Seen(size_t(W) * size_t(H), false);
    auto Taken = [&](int PX, int PY) { return Seen[size_t(PY) * size_t(W) + size_t(PX)]; };
    std::vector<QRect> Spans;
    std::vector<QPoint> Stack{QPoint(X, Y)};
    while (!Stack.empty()) {
        const QPoint Seed = Stack.back();
        Stack.pop_back();
        const int SY = Seed.y();
        if (Taken(Seed.x(), SY) || !Inside(Seed.x(), SY))
            continue;
        int X0 = Seed.x(), X1 = Seed.x();
        while (X0 > 0 && !Taken(X0 - 1, SY) && Inside(X0 - 1, SY))
            --X0;
        while (X1 < W - 1 && !Taken(X1 + 1, SY) && Inside(X1 + 1, SY))
            ++X1;
        for (int I = X0; I <= X1; ++I)
            Seen[size_t(SY) * size_t(W) + size_t(I)] = true;
        Spans.emplace_back(X0, SY, X1 - X0 + 1, 1);
        for (const int NY : {SY - 1, SY + 1}) {
            if (NY < 0 || NY >= H)
                continue;
            bool InRun = false;
            for (int I = X0; I <= X1; ++I) {
                const bool Open = !Taken(I, NY) && Inside(I, NY);
                if (Open && !InRun)
                    Stack.emplace_back(I, NY);
                InRun = Open;
            }
        }
    }

    QPainter& P = FDC->Painter();
    P.setCompositionMode(QPainter::CompositionMode_SourceOver);
    P.setBackgroundMode(Qt::TransparentMode);
    P.setBrushOrigin(0, 0);
    const QBrush Fill = BrushOf(Brush.Style, ToQColor(Brush.Color));
    for (const QRect& Span : Spans)
        P.fillRect(Span, Fill);
}

// ---------------------------------------------------------------------------
// Windows-1252

QString Cp1252ToQString(const std::string& Bytes)
{
    QString Out;
    Out.resize(qsizetype(Bytes.size()));
    QChar* D = Out.data();
    for (const char C : Bytes) {
        const unsigned char B = static_cast<unsigned char>(C);
        *D++ = QChar(char16_t(Cp1252ToUnicode(B)));
    }
    return Out;
}

QString ReportTextToQString(const std::string& Bytes, bool LineDraw)
{
    QString Out = Cp1252ToQString(Bytes);
    if (!LineDraw)
        return Out;
    // The line-drawing font shows the box-drawing characters of the PC
    // character set at bytes 179 to 223.
    static constexpr char16_t Box[45] = {
        0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B,
        0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569,
        0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553,
        0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    };
    QChar* D = Out.data();
    for (size_t i = 0; i < Bytes.size(); ++i) {
        const unsigned char B = static_cast<unsigned char>(Bytes[i]);
        if (B >= 179 && B <= 223)
            D[i] = QChar(Box[B - 179]);
    }
    return Out;
}

bool IsLineDrawFace(const std::string& Name)
{
    static const std::string Face = "MS LINEDRAW";
    if (Name.size() != Face.size())
        return false;
    for (size_t i = 0; i < Name.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(Name[i])) != Face[i])
            return false;
    return true;
}

}  // namespace quillard
