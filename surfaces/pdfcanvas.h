// The PDF surface: a virtual 300-dpi device whose drawing becomes PDF page
// content through the document writer, and the facade a PDF job drives it
// through. What the screen surface shows, the PDF shows: lines and
// rectangles; ellipses, arcs, chords and pies as curves with the screen's
// geometry; polygons and polylines; the pen's dash styles; clear pens and
// brushes that draw nothing; hatched brushes; pictures; rotated text and
// text clipped to a rectangle. Only the pen modes that combine with what is
// already on the page cannot be expressed: such figures are drawn as with
// the plain copy mode.
//
// Text is measured with the compiled-in metrics of the standard PDF fonts, as
// a screen font ten times the size would measure it at 96 dpi, so that a
// report lays out the same way on every machine. Characters the standard
// fonts cannot show are measured and written in the machine's TrueType faces,
// embedded in the document; so is all text when the writer embeds every font
// (then at the standard fonts' widths, so that the layout does not change).
#pragma once

#include "surfaces/canvas.h"
#include "surfaces/pdfwriter.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillard {

struct TFaceGlyph;

class TPdfCanvas : public TRenderingCanvas {
public:
    TPdfCanvas();
    ~TPdfCanvas() override;

    TPdfWriter& Writer() { return *FWriter; }
    // Each page of the pass is a page of the document: the first is the one
    // the document begins with, every later one a new page.
    void StartPage(int Page) override;
    void EndPage(int Page) override;
    int CurrentX() const { return FCurrentX; }
    int CurrentY() const { return FCurrentY; }
    // The angle text is written at (radians, counter-clockwise): the one
    // SetFontAngle took, in whole tenths of a degree, until Font changes.
    double TextAngle() const { return FRotated ? FAngle : 0.0; }

    // Device units (300 per inch) to points, truncated toward zero.
    static int32_t ToPoints(int32_t V);
    // The standard font (0..13) a face name and style map to, or -1 for a face
    // outside the map.
    static int PdfFontFor(const std::string& FaceName, TFontStyles Style);
    // Backslash, parentheses, tab, line feed, form feed and carriage return
    // escaped for a PDF literal string.
    static std::string EscapeText(const std::string& Text);

    void Arc(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4) override;
    void Chord(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4) override;
    void CopyRect(const TRect& Dest, const TGraphic& Source, const TRect& SourceRect) override;
    void Draw(int X, int Y, const TGraphic& Graphic) override;
    void DrawFocusRect(const TRect& R) override;
    void Ellipse(int X1, int Y1, int X2, int Y2) override;
    void FillRect(const TRect& R) override;
    void FloodFill(int X, int Y, TColor Color, TFillStyle FillStyle) override;
    void FrameRect(const TRect& R) override;
    void LineTo(int X, int Y) override;
    void MoveTo(int X, int Y) override;
    void Pie(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4) override;
    void Rectangle(int X1, int Y1, int X2, int Y2) override;
    void Polygon(const std::vector<TPoint>& Points) override;
    void Polyline(const std::vector<TPoint>& Points) override;
    void StretchDraw(const TRect& R, const TGraphic& Graphic) override;
    TSize TextExtent(const std::string& Text) override;
    int TextWidthJoined(const std::string& Head, const std::string& Tail, size_t From, size_t To,
                        uint64_t TailKey) override;
    int TextHeight(const std::string& Text) override;
    void TextOut(int X, int Y, const std::string& Text) override;
    void TextRect(const TRect& R, int X, int Y, const std::string& Text) override;
    int GetDeviceCaps(int Index) override;
    void SetFontAngle(double Angle) override;
    bool DeviceArea(TRect& Area) override;
    // Unseen text (rendering mode 3) in an embedded font, stretched over the
    // cell: in UTF-8 reports, and in every report when all fonts are embedded.
    void FigureText(const TRect& Cell, const std::string& Text) override;

    // Characters that no font can show: written as "?" where no face of the
    // machine can be embedded, and as a face's missing-glyph box where none
    // has the character (still extracted as itself).
    size_t UnmappedCharacters = 0;
    size_t MissingGlyphs = 0;
    // What went wrong with the machine's faces since last asked.
    std::vector<std::string> TakeFontWarnings();

    // Drawn objects (a figure, a picture, a run of text, unseen text): what
    // lies wholly off the sheet is not written at all, and a page or the
    // document holds at most so many; past that they are left out and
    // counted. The job sets the document's limit (by default none).
    static constexpr int64_t MaxObjectsPerPage = 200'000;
    int64_t MaxObjectsPerDocument = INT64_MAX;
    int64_t ObjectsLeftOut = 0;
    int FirstPageOverLimit = 0;  // the first page that lost objects to a limit

private:
    bool FPageEnded = false;  // a page of the document has ended: the next starts a new one
    int FPage = 0;            // the page of the pass being drawn
    int64_t FPageObjects = 0, FDocumentObjects = 0;
    // Whether an object that covers the box from (Left, Top) to (Right,
    // Bottom) in device units, with Reach more on every side for what its
    // pen or glyphs add, goes into the page: not when it lies wholly off the
    // sheet, and not (counted as left out) once the page or the document is
    // full.
    bool Admit(int64_t Left, int64_t Top, int64_t Right, int64_t Bottom, int64_t Reach);
    // Admit for a stroke with the current pen over the box.
    bool AdmitFigure(int64_t X1, int64_t Y1, int64_t X2, int64_t Y2);
    // How the pen and brush reach the page for one figure.
    struct TInk {
        bool Skip = false;      // the pen mode leaves the page alone
        bool Outline = false;   // the pen draws
        bool Interior = false;  // the brush fills
        TColor PenColor = 0, BrushColor = 0;
        TBrushStyle BrushStyle = bsSolid;
        int32_t Width = 1;      // points, one per device unit of the pen
        bool Thin = true;       // one-unit pen (styled, flat ends)
        bool Inside = false;    // wide inside-frame pen
        std::vector<double> Dash;
    };
    TInk InkOf() const;
    // Paints the path Build writes: the interior with the brush (when Closed),
    // then the outline with the pen; dashes over the brush colour when the
    // brush is solid, as the screen's opaque background shows them.
    void PaintPath(const TInk& Ink, const std::function<void()>& Build, bool Closed, bool EvenOdd);
    // The path through Points: closed and filled, or open.
    void PointsPath(const std::vector<TPoint>& Points, bool Closed);
    void BoxShape(int Kind, int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4);
    // The font copy of the text operations: a change of Font since
    // SetFontAngle (or a new assignment) drops the rotation.
    void SelectFont();
    // Writes Text with its cell's top-left corner at (X, Y), rotated when a
    // rotation is in force, with underline and strike-out lines.
    void WriteText(int X, int Y, const std::string& Text);
    // The width of Windows-1252 text in the current font, in pixels of the
    // measuring size.
    int64_t Cp1252Advance(const std::string& Text) const;
    // The width of a character that has no Windows-1252 byte, in the face
    // that shows it.
    int32_t FaceAdvance(char32_t C);
    // The width of text as given to a text operation.
    int64_t TextAdvance(const std::string& Text);
    // The glyph the PDF shows for one a face was found to have.
    const TFaceGlyph& ShownGlyph(const TFaceGlyph& Found);
    // How text goes to the writer: all of it Windows-1252 bytes (Bytes) in
    // the standard font or in the embedded font that stands for it, or runs
    // of several fonts (Pieces).
    enum class TTextRoute { StandardBytes, EmbeddedBytes, Runs };
    TTextRoute TextRuns(const std::string& Text, std::vector<TPdfTextPiece>& Pieces, std::string& Bytes);

    // The standard font text in the current Font is measured and written in:
    // the mapped font, or for a face outside the map the writer's current one.
    int MeasuringFont();
    // PdfFontFor of the current Font, remembered for the last name and style.
    int MappedFont();
    // Fills the advance cache for the current Font.
    void PrepareMeasure();

    std::unique_ptr<TPdfWriter> FWriter;
    int32_t FCurrentX = 0;
    int32_t FCurrentY = 0;

    // Rotated text: the angle, whether it is in force, and the font it was
    // set for; text has no background while it is in force.
    bool FRotated = false;
    double FAngle = 0;
    std::optional<TFont> FLastFont;
    uint32_t FLastSerial = 0;

    std::string FMapName;
    TFontStyles FMapStyle = 0;
    int FMapFont = -2;
    std::vector<std::string> FUnmappedFaces;  // upper-cased names already said
    std::vector<std::string> FFaceWarnings;

    // Pixel advances of every byte for one font at one measuring size.
    struct TAdvanceCache {
        int Font = -1;
        int64_t PixelsPerEm = -1;
        int32_t Advance[256] = {};
        int32_t Ascent = 0;
        int32_t Height = 0;
    } FCache;
    // Running sums of the advances over the last tails measured in pieces,
    // for each font and size they were measured in.
    struct TTailSums {
        uint64_t Key = 0;
        int Font = -1;
        int64_t PixelsPerEm = -1;
        std::vector<int64_t> Sums;  // Sums[i]: the advances of the first i bytes
    };
    std::vector<TTailSums> FTailSums;  // the most recently used last
};

// The facade a PDF job uses: it owns the PDF surface (and through it the
// writer) and forwards the document operations and properties. Page sizes are
// in the surface's device units.
class TPdfDocument {
public:
    TPdfDocument();
    ~TPdfDocument();
    TPdfDocument(const TPdfDocument&) = delete;
    TPdfDocument& operator=(const TPdfDocument&) = delete;

    // The surface; stays valid while the maker lives, also while lent.
    TPdfCanvas* Canvas() const { return FCanvas; }
    // Hands the surface to an owner of canvases (the renderer) for the job,
    // and takes it back afterwards; the maker frees it only while it holds it.
    std::unique_ptr<TRenderingCanvas> LendCanvas();
    void TakeBackCanvas(std::unique_ptr<TRenderingCanvas> C);

    void BeginDoc() { Writer().BeginDoc(); }
    void NewPage() { Writer().NewPage(); }
    void EndDoc() { Writer().EndDoc(); }

    std::string FileName() const { return Writer().FileName; }
    void SetFileName(const std::string& V) { Writer().FileName = V; }
    std::string Title() const { return Writer().TITLE; }
    void SetTitle(const std::string& V) { Writer().TITLE = V; }
    int PageNumber() const { return Writer().PageNumber(); }
    int PageWidth() const;
    void SetPageWidth(int V);
    int PageHeight() const;
    void SetPageHeight(int V);
    int LineWidth() const { return Writer().LineWidth; }
    void SetLineWidth(int V) { Writer().LineWidth = V; }
    std::string Author() const { return Writer().Author; }
    void SetAuthor(const std::string& V) { Writer().Author = V; }
    std::string Creator() const { return Writer().Creator; }
    void SetCreator(const std::string& V) { Writer().Creator = V; }
    std::string Keywords() const { return Writer().Keywords; }
    void SetKeywords(const std::string& V) { Writer().Keywords = V; }
    std::string Subject() const { return Writer().Subject; }
    void SetSubject(const std::string& V) { Writer().Subject = V; }
    std::string Producer() const { return Writer().Producer; }
    void SetProducer(const std::string& V) { Writer().Producer = V; }
    TPDFFont Font() const { return Writer().Font; }
    void SetFont(const TPDFFont& V) { Writer().Font = V; }
    bool Compress() const { return Writer().Compress; }
    void SetCompress(bool V) { Writer().Compress = V; }
    bool EmbedFonts() const { return Writer().EmbedFonts; }
    void SetEmbedFonts(bool V) { Writer().EmbedFonts = V; }
    bool PdfA() const { return Writer().PdfA; }
    void SetPdfA(bool V) { Writer().PdfA = V; }
    TPDFOrientation Orientation() const { return Writer().Orientation; }
    void SetOrientation(TPDFOrientation V) { Writer().Orientation = V; }
    // Pages of the sheet a paper number (DMPAPER) names, in whole points;
    // Letter for a number without a known size. Landscape swaps the sides.
    void SetPaper(int DmPaper, bool Landscape);
    // The drawing starts X and Y points from the sheet's top left corner.
    void SetOrigin(double X, double Y)
    {
        Writer().OriginX = X;
        Writer().OriginY = Y;
    }

private:
    TPdfWriter& Writer() const { return FCanvas->Writer(); }

    std::unique_ptr<TPdfCanvas> FOwned;  // empty while lent
    TPdfCanvas* FCanvas = nullptr;
};

// The sheet a Windows paper number (DMPAPER) names, portrait, in whole
// points; false for a number without a known size.
bool PaperSizeInPoints(int DmPaper, int32_t& Width, int32_t& Height);

}  // namespace quillard
