// The PDF document writer: a PDF 1.4 file built from lines, rectangles,
// curves, pictures and text in the fourteen standard Type 1 fonts, and text in
// embedded subsets of the machine's TrueType faces (surfaces/pdffonts.h) where
// those cannot show it or the caller wants every font embedded. Coordinates
// are PDF points with y measured downwards from the top of the page; the
// writer flips them against PageHeight. Every line of the file ends in CR LF
// and page content is not compressed unless asked, so the bytes of a document
// follow from its drawing calls alone. Asked for, the writer deflates page
// content (Compress) or writes PDF/A-2b (PdfA: every font embedded, XMP
// metadata agreeing with the document information, an sRGB output intent and
// a file identifier). Pictures are image objects: JPEG files as they are
// (DCTDecode), other pictures deflated with zlib (FlateDecode); hatched fills
// are tiling patterns. Both are written once per document, after the page
// that first uses them, and listed in the shared resources.
//
// Finished objects go straight out through a named output (a temporary file
// beside the target, which EndDoc renames over it; for a FIFO or a device a
// private spool, copied into it by EndDoc): memory does not grow with the
// page count, and a job that dies half-way leaves any earlier file of that
// name as it was and writes nothing into a pipe.
#pragma once

#include "surfaces/canvas.h"

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace quillard {

enum TPDFOrientation : uint8_t { poPortrait, poLandscape };

// Text state of the writer.
struct TPDFFont {
    uint8_t FontNumber = 4;  // index into the standard font table; resource /F(index+1)
    int32_t Size = 12;       // points
    TColor Color = 0;
    // Text goes in the embedded TrueType font that stands for the standard
    // font (resource /T(index+1)), in the same Windows-1252 bytes.
    bool Embedded = false;
};

// The standard fonts in the order of their resource names /F1../F14.
constexpr int PdfFontCount = 14;
extern const char* const PdfBaseFonts[PdfFontCount];

class TNamedOutput;
class TPdfFontSet;
struct TPdfResources;

// A run of text in one font: a standard font's bytes (/F<Font+1>), the
// bytes of the embedded TrueType font that stands for standard font Font
// (/T<Font+1>, Windows-1252 as the standard fonts), or an embedded font's
// two-byte codes (/E<Font>). The operand is the literal string "(...)" that
// Tj shows, or the array "[...]" that TJ shows with its displacements.
struct TPdfTextPiece {
    enum TKind : uint8_t { Standard, Simple, Composite } Kind = Standard;
    int Font = 0;
    std::string Operand;
};

class TPdfWriter {
public:
    TPdfWriter();
    ~TPdfWriter();
    TPdfWriter(const TPdfWriter&) = delete;
    TPdfWriter& operator=(const TPdfWriter&) = delete;

    // ---- properties ----------------------------------------------------
    std::string FileName;
    std::string TITLE;
    int32_t PageWidth = 612;
    int32_t PageHeight = 792;
    // Where the page's drawing starts, in points from the sheet's top left
    // corner: a page laid out on a printer's printable area starts at its
    // unprintable margins. Zero writes no shift at all.
    double OriginX = 0, OriginY = 0;
    int32_t LineWidth = 1;
    std::string Author;
    std::string Creator;
    std::string Keywords;
    std::string Subject;
    std::string Producer;
    TPDFFont Font;
    // Page content deflated (FlateDecode). Embedded fonts are deflated always.
    bool Compress = false;
    // Every run of text in embedded fonts, the standard fonts' characters in
    // the faces metric-compatible with them.
    bool EmbedFonts = false;
    // PDF/A-2b: fonts embedded as with EmbedFonts, XMP metadata, the sRGB
    // output intent (an ICC profile from the system's colour profiles) and a
    // file identifier. EndDoc fails when the document cannot be made so.
    bool PdfA = false;
    TColor PenColor = 0;
    TColor FillColor = clNone;
    // How fills paint: bsSolid in FillColor; a hatched style with lines of
    // FillColor on a tiling pattern of 8 points, the pixels between the lines
    // left as they are. (bsClear is not a fill; it paints as bsSolid.)
    TBrushStyle FillStyle = bsSolid;
    // On and off lengths in points of dashed strokes; empty strokes solid.
    // Dashed strokes have flat ends.
    std::vector<double> Dash;
    TPDFOrientation Orientation = poPortrait;  // kept for the facade; not read here

    int PageNumber() const { return FPageNumber; }
    bool PathOpen() const { return FPathOpen; }
    int LastLineWidth() const { return FLastLineWidth; }

    // The text Producer, Author and Creator start with.
    static const char* const Attribution;

    // ---- document --------------------------------------------------------
    // Starts a document: the header and the document information go out, and
    // the first page begins. The output to FileName is opened here (see
    // surfaces/namedoutput.h); a failure to open it is reported by EndDoc.
    void BeginDoc();
    // Ends the current page's content and begins the next page.
    void NewPage();
    // Writes the rest of the document and puts it in place where FileName
    // leads. Throws std::runtime_error with the system's reason when the
    // file cannot be made or written.
    void EndDoc();

    // ---- drawing (points, y downwards) -----------------------------------
    void MoveTo(int32_t X, int32_t Y);
    void LineTo(int32_t X, int32_t Y);
    void RectanglePath(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2);
    // Paths in fractions of a point (written with up to three decimals).
    void MoveTo(double X, double Y);
    void LineTo(double X, double Y);
    void CurveTo(double X1, double Y1, double X2, double Y2, double X3, double Y3);
    void ClosePath();
    void Stroke();
    // EvenOdd fills by the even-odd rule (f*, B*) instead of non-zero winding.
    void Fill(bool EvenOdd = false);
    void FillAndStroke(bool EvenOdd = false);
    void EndPath();
    // Graphics state: q and Q; a rectangle that clips what follows until the
    // state is restored.
    void SaveState();
    void RestoreState();
    void ClipRectangle(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2);
    void DrawRectangle(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2);
    void FillRectangle(const TRect& R);
    // Text is written between the parentheses as given: the caller escapes.
    void TextOut(int32_t X, int32_t Y, const std::string& Text);
    // Runs of text in several fonts, one after the other from (X, Y).
    void TextOut(int32_t X, int32_t Y, const std::vector<TPdfTextPiece>& Pieces);
    void TextOut(double X, double Y, double Angle, const std::vector<TPdfTextPiece>& Pieces);
    // Text that is not seen (rendering mode 3) but found and copied: its
    // baseline from (X, Y) at Size points, stretched horizontally by Scale.
    void UnseenText(double X, double Y, double Size, double Scale, const std::vector<TPdfTextPiece>& Pieces);
    // Text whose baseline starts at (X, Y) and runs Angle radians
    // counter-clockwise from east, placed with a text matrix.
    void TextOut(double X, double Y, double Angle, const std::string& Text);
    // A picture with one pixel per point, its top-left corner at (X, Y).
    void DrawImage(int32_t X, int32_t Y, const TGraphic& Picture);
    // A picture stretched over Width x Height points from its top-left
    // corner at (X, Y); a negative size mirrors it. Empty pictures and sizes
    // draw nothing. A picture drawn again (the same pixels, or the same JPEG
    // file) uses the image object written the first time.
    void DrawImage(double X, double Y, double Width, double Height, const TGraphic& Picture);

    // Number of image objects and patterns in the document so far.
    int ImageCount() const;
    int PatternCount() const;

    // The machine's faces the document embeds; they stay open from one
    // document to the next.
    TPdfFontSet& Fonts() { return *FFonts; }
    // Whether every run of text goes into embedded fonts.
    bool EmbedsEveryFont() const { return EmbedFonts || PdfA; }

private:
    void EndLine(std::string& Buffer);
    void WidthLine();
    void ColorLine(TColor C, const char* Op);
    int32_t FlipY(int32_t Y) const;
    int32_t NextObject();
    void FinishObject();
    void ContentStart();
    void ContentEnd();
    void WriteInfo();
    void Emit(const std::string& Bytes);
    void WriteObject(const std::string& Bytes);
    void WriteResources();
    void FillColorLine();
    void DashLine();
    void AppendPoint(double X, double Y);
    void TextPieces(const std::vector<TPdfTextPiece>& Pieces, double Size, bool FirstAt, double X, double Y);
    void TextMatrix(double X, double Y, double Angle);
    std::string DateStamp(bool Xmp) const;
    void WriteMetadata(int32_t Number);

    std::unique_ptr<TNamedOutput> FSink;
    std::string FObject;   // the object being assembled
    std::string FContent;  // content lines of the current page
    int32_t FPageNumber = 0;
    int32_t FObjectCount = 0;
    int64_t FTotal = 0;             // bytes written so far
    std::vector<int64_t> FOffsets;  // offset of object k+1 at index k, then of the xref section
    std::vector<int32_t> FContentObjects;  // content object of each page
    size_t FStreamOffset = 0;       // where "stream" starts in FObject
    bool FPathOpen = false;
    int32_t FLastLineWidth = 0;
    bool FBegun = false;
    std::vector<double> FDashInForce;  // the dash the page's graphics state holds
    std::vector<std::vector<double>> FDashStack;  // the dash at each open q
    std::unique_ptr<TPdfResources> FResources;
    std::unique_ptr<TPdfFontSet> FFonts;
    bool FStandardUsed = false;  // text went out in a standard font
    std::time_t FCreated = 0;    // the creation time, and whether it is UTC
    bool FCreatedUtc = false;
    std::string FIccProfile;     // PdfA: the sRGB profile, read at BeginDoc
    std::string FIccProblem;     //       or why it cannot be had
};

// Data deflated whole (zlib's FlateDecode format).
std::string DeflateBytes(const std::string& Data);

// Backslash and both parentheses escaped, for a literal string.
std::string PdfEscapeParens(const std::string& S);
// A text string of the document information: a literal string as it stands
// for ASCII, and for Windows-1252 text whose bytes mean the same in
// PDFDocEncoding; otherwise UTF-16BE with a byte-order mark. Text is UTF-8
// when it is valid UTF-8, else Windows-1252.
std::string PdfTextString(const std::string& S);
// Text as UTF-8: as it is when valid UTF-8, else read as Windows-1252.
std::string TextAsUtf8(const std::string& S);

}  // namespace quillard
