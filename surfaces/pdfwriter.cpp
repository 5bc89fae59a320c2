#include "surfaces/pdfwriter.h"

#include "surfaces/namedoutput.h"
#include "surfaces/pdffonts.h"
#include "base/bytefile.h"
#include "base/textencoding.h"

#include <QCryptographicHash>
#include <algorithm>
#include <initializer_list>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <stdexcept>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <zlib.h>

namespace quillard {

const char* const PdfBaseFonts[PdfFontCount] = {
    "Helvetica",   "Helvetica-Bold",   "Helvetica-Oblique",   "Helvetica-BoldOblique",
    "Courier",     "Courier-Bold",     "Courier-Oblique",     "Courier-BoldOblique",
    "Times-Roman", "Times-Bold",       "Times-Italic",        "Times-BoldItalic",
    "Symbol",      "ZapfDingbats",
};

const char* const TPdfWriter::Attribution = "Quillard PDF writer";

namespace {

[[noreturn]] void Overflow() { throw std::overflow_error("Integer overflow"); }

int32_t Sub(int32_t A, int32_t B)
{
    int32_t r;
    if (__builtin_sub_overflow(A, B, &r))
        Overflow();
    return r;
}

void AppendInt(std::string& S, int64_t V)
{
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, V);
    S.append(buf, res.ptr);
}

// One content line of integer operands and their operator: "x y m" and CR LF.
void AppendOperation(std::string& S, std::initializer_list<int64_t> Operands, const char* Operator)
{
    for (int64_t v : Operands) {
        AppendInt(S, v);
        S += ' ';
    }
    S += Operator;
    S += "\r\n";
}

constexpr const char* Eol = "\r\n";

template <size_t N>
void Put(std::string& S, const char (&Literal)[N])
{
    S.append(Literal, N - 1);
}

// A number with at most Decimals decimals, the trailing zeros left out,
// whatever the locale. Values beyond any page are cut to +/-1e9.
void AppendReal(std::string& S, double V, int Decimals = 3)
{
    if (!std::isfinite(V))
        V = 0;
    V = std::clamp(V, -1e9, 1e9);
    char buf[48];
    auto res = std::to_chars(buf, buf + sizeof buf, V, std::chars_format::fixed, Decimals);
    char* end = res.ptr;
    if (std::find(buf, end, '.') != end) {
        while (end[-1] == '0')
            --end;
        if (end[-1] == '.')
            --end;
    }
    if (end - buf == 2 && buf[0] == '-' && buf[1] == '0')
        S += '0';
    else
        S.append(buf, end);
}

// ---- pictures ----------------------------------------------------------------

// Deflates data handed over in pieces (zlib's FlateDecode format).
class TDeflate {
public:
    TDeflate()
    {
        if (deflateInit(&FZ, Z_DEFAULT_COMPRESSION) != Z_OK)
            throw std::bad_alloc();
    }
    ~TDeflate() { deflateEnd(&FZ); }
    TDeflate(const TDeflate&) = delete;
    TDeflate& operator=(const TDeflate&) = delete;

    void Add(const uint8_t* Data, size_t Size) { Run(Data, Size, Z_NO_FLUSH); }
    std::string Finish()
    {
        Run(nullptr, 0, Z_FINISH);
        return std::move(FOut);
    }

private:
    void Run(const uint8_t* Data, size_t Size, int Flush)
    {
        FZ.next_in = const_cast<Bytef*>(Data);
        FZ.avail_in = static_cast<uInt>(Size);
        for (;;) {
            unsigned char chunk[64 * 1024];
            FZ.next_out = chunk;
            FZ.avail_out = sizeof chunk;
            const int rc = deflate(&FZ, Flush);
            if (rc == Z_STREAM_ERROR)
                throw std::runtime_error("A stream of the PDF could not be compressed");
            FOut.append(reinterpret_cast<const char*>(chunk), sizeof chunk - FZ.avail_out);
            if (Flush == Z_FINISH ? rc == Z_STREAM_END : (FZ.avail_in == 0 && FZ.avail_out != 0))
                return;
        }
    }

    z_stream FZ{};
    std::string FOut;
};

}  // namespace

std::string DeflateBytes(const std::string& Data)
{
    TDeflate deflate;
    deflate.Add(reinterpret_cast<const uint8_t*>(Data.data()), Data.size());
    return deflate.Finish();
}

namespace {

struct TJpegLayout {
    int Width = 0, Height = 0, Components = 0;
};

// The frame header of a JPEG file a PDF reader decodes (baseline, extended or
// progressive Huffman coding, 8 bits per sample); false for anything else.
bool ReadJpegLayout(const std::vector<uint8_t>& D, TJpegLayout& L)
{
    const size_t n = D.size();
    if (n < 4 || D[0] != 0xFF || D[1] != 0xD8)
        return false;
    size_t i = 2;
    while (i + 4 <= n) {
        if (D[i] != 0xFF)
            return false;
        while (i < n && D[i] == 0xFF)
            ++i;
        if (i >= n)
            return false;
        const uint8_t marker = D[i++];
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;
        if (marker == 0xD9 || marker == 0xDA || i + 2 > n)
            return false;  // no frame header before the image data
        const size_t length = size_t{D[i]} << 8 | D[i + 1];
        if (length < 2 || i + length > n)
            return false;
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            if ((marker != 0xC0 && marker != 0xC1 && marker != 0xC2) || length < 8 || D[i + 2] != 8)
                return false;
            L.Height = D[i + 3] << 8 | D[i + 4];
            L.Width = D[i + 5] << 8 | D[i + 6];
            L.Components = D[i + 7];
            return true;
        }
        i += length;
    }
    return false;
}

std::string Digest(const TGraphic& G, bool Jpeg)
{
    // A picture drawn again (a logo on every page) is not read again.
    const char kind = Jpeg ? 'J' : 'P';
    if (!G.ContentDigest.empty() && G.ContentDigest[0] == kind)
        return G.ContentDigest;
    QCryptographicHash h(QCryptographicHash::Sha256);
    const int32_t dims[2] = {G.Width, G.Height};
    h.addData(QByteArrayView(reinterpret_cast<const char*>(dims), sizeof dims));
    if (Jpeg)
        h.addData(QByteArrayView(reinterpret_cast<const char*>(G.JpegData.data()), qsizetype(G.JpegData.size())));
    else
        h.addData(QByteArrayView(reinterpret_cast<const char*>(G.Pixels.data()), qsizetype(G.Pixels.size() * 4)));
    G.ContentDigest = kind + h.result().toStdString();
    return G.ContentDigest;
}

// The lines of one cell of a hatch pattern, in points downwards from the
// top-left corner of an 8-point cell: the lines of the screen's hatch
// brushes, through the centres of the pixels those brushes set.
std::string HatchLines(TBrushStyle Style)
{
    std::string s;
    auto segment = [&](double X1, double Y1, double X2, double Y2) {
        AppendReal(s, X1);
        s += ' ';
        AppendReal(s, Y1);
        s += " m\r\n";
        AppendReal(s, X2);
        s += ' ';
        AppendReal(s, Y2);
        s += " l\r\n";
    };
    const bool hor = Style == bsHorizontal || Style == bsCross;
    const bool ver = Style == bsVertical || Style == bsCross;
    const bool fdiag = Style == bsFDiagonal || Style == bsDiagCross;
    const bool bdiag = Style == bsBDiagonal || Style == bsDiagCross;
    if (hor)
        segment(0, 3.5, 8, 3.5);
    if (ver)
        segment(4.5, 0, 4.5, 8);
    // Diagonals run past the cell so that the neighbouring cells' lines
    // fill its corners.
    for (int d = -8; d <= 8; d += 8) {
        if (fdiag)
            segment(-1, -1 + d, 9, 9 + d);
        if (bdiag)
            segment(-1, 9 + d, 9, -1 + d);
    }
    return s;
}


}  // namespace

std::string PdfEscapeParens(const std::string& S)
{
    std::string out;
    out.reserve(S.size());
    for (char c : S) {
        if (c == '\\' || c == '(' || c == ')')
            out += '\\';
        out += c;
    }
    return out;
}

std::string TextAsUtf8(const std::string& S)
{
    TUtf8Validator v;
    v.Feed(S.data(), S.size());
    return v.Complete() ? S : Cp1252ToUtf8(S);
}

std::string PdfTextString(const std::string& S)
{
    TUtf8Validator v;
    v.Feed(S.data(), S.size());
    if (!v.NonAscii)
        return "(" + PdfEscapeParens(S) + ")";
    if (!v.Complete()) {
        // Windows-1252 agrees with PDFDocEncoding from 0xA1 on (but for the
        // soft hyphen's place).
        const bool same = std::all_of(S.begin(), S.end(), [](char c) {
            const auto b = static_cast<unsigned char>(c);
            return b < 0x80 || (b >= 0xA1 && b != 0xAD);
        });
        if (same)
            return "(" + PdfEscapeParens(S) + ")";
    }
    std::string out = "<FEFF";
    for (size_t i = 0; i < S.size();)
        AppendUtf16Hex(out, v.Complete() ? DecodeUtf8(S, i) : Cp1252ToUnicode(static_cast<unsigned char>(S[i++])));
    return out + ">";
}

// Image objects and hatch patterns of the document: each gets its resource
// name when first used and its object after the page that used it first.
struct TPdfResources {
    struct TImage {
        int Index = 0;  // /Im<Index>
        int Width = 0, Height = 0;
        const char* ColorSpace = "/DeviceRGB";
        const char* Filter = "/FlateDecode";
        std::string Data;
        std::string Alpha;  // deflated soft mask; empty when opaque
    };
    struct TPattern {
        int Index = 0;  // /P<Index>
        TBrushStyle Style = bsHorizontal;
        TColor Color = 0;
        int32_t PageHeight = 0;
    };
    std::map<std::string, int> ImageByDigest;
    std::vector<int32_t> ImageObjects;  // object of /Im(k+1); 0 until written
    std::vector<TImage> PendingImages;
    std::map<std::tuple<int, uint32_t, int32_t>, int> PatternByKey;
    std::vector<int32_t> PatternObjects;
    std::vector<TPattern> PendingPatterns;
};

// ---------------------------------------------------------------------------

TPdfWriter::TPdfWriter()
    : Author(Attribution), Creator(Attribution), Producer(Attribution), FResources(std::make_unique<TPdfResources>()),
      FFonts(std::make_unique<TPdfFontSet>())
{
}

int TPdfWriter::ImageCount() const { return static_cast<int>(FResources->ImageObjects.size()); }

int TPdfWriter::PatternCount() const { return static_cast<int>(FResources->PatternObjects.size()); }

TPdfWriter::~TPdfWriter() = default;

void TPdfWriter::EndLine(std::string& Buffer) { Buffer.append(Eol, 2); }

int32_t TPdfWriter::FlipY(int32_t Y) const { return Sub(PageHeight, Y); }

int32_t TPdfWriter::NextObject()
{
    if (FObjectCount == INT32_MAX)
        Overflow();
    return ++FObjectCount;
}

void TPdfWriter::Emit(const std::string& Bytes)
{
    FTotal += static_cast<int64_t>(Bytes.size());
    if (FSink)
        FSink->Append(Bytes);
}

void TPdfWriter::FinishObject() { WriteObject(FObject); }

void TPdfWriter::WriteObject(const std::string& Bytes)
{
    Emit(Bytes);
    FOffsets.push_back(FTotal);
}

void TPdfWriter::FillColorLine()
{
    if (FillStyle == bsSolid || FillStyle == bsClear || FillStyle > bsDiagCross) {
        ColorLine(FillColor, "rg");
        return;
    }
    TPdfResources& r = *FResources;
    const auto key = std::make_tuple(int(FillStyle), uint32_t(FillColor & 0xFFFFFF), PageHeight);
    auto found = r.PatternByKey.find(key);
    if (found == r.PatternByKey.end()) {
        r.PatternObjects.push_back(0);
        const int index = static_cast<int>(r.PatternObjects.size());
        r.PendingPatterns.push_back({index, FillStyle, FillColor, PageHeight});
        found = r.PatternByKey.emplace(key, index).first;
    }
    FContent += "/Pattern cs\r\n/P";
    AppendInt(FContent, found->second);
    FContent += " scn\r\n";
}

void TPdfWriter::DashLine()
{
    if (Dash == FDashInForce)
        return;
    FContent += '[';
    for (size_t i = 0; i < Dash.size(); ++i) {
        if (i)
            FContent += ' ';
        AppendReal(FContent, Dash[i]);
    }
    FContent += "] 0 d\r\n";
    FDashInForce = Dash;
}

// Image objects and patterns first used on the page just ended.
void TPdfWriter::WriteResources()
{
    TPdfResources& r = *FResources;
    auto head = [](int32_t n) { return std::to_string(n) + " 0 obj\r\n"; };
    for (TPdfResources::TImage& im : r.PendingImages) {
        const int32_t n = NextObject();
        const int32_t mask = im.Alpha.empty() ? 0 : NextObject();
        r.ImageObjects[static_cast<size_t>(im.Index - 1)] = n;
        auto image = [&](int32_t Number, const char* Space, const char* Filter, const std::string& Data, int32_t Mask) {
            std::string o = head(Number);
            o += "<< /Type /XObject\r\n/Subtype /Image\r\n/Width " + std::to_string(im.Width) + "\r\n/Height " +
                 std::to_string(im.Height) + "\r\n/ColorSpace " + Space + "\r\n/BitsPerComponent 8\r\n/Filter " + Filter +
                 "\r\n";
            if (Mask)
                o += "/SMask " + std::to_string(Mask) + " 0 R\r\n";
            o += "/Length " + std::to_string(Data.size()) + "\r\n>>\r\nstream\r\n";
            o += Data;
            o += "\r\nendstream\r\nendobj\r\n";
            return o;
        };
        WriteObject(image(n, im.ColorSpace, im.Filter, im.Data, mask));
        if (mask)
            WriteObject(image(mask, "/DeviceGray", "/FlateDecode", im.Alpha, 0));
    }
    r.PendingImages.clear();
    for (const TPdfResources::TPattern& p : r.PendingPatterns) {
        const int32_t n = NextObject();
        r.PatternObjects[static_cast<size_t>(p.Index - 1)] = n;
        // Stroke colour, one-point lines with flat ends, the cell's lines.
        std::string content;
        std::swap(content, FContent);
        ColorLine(p.Color, "RG");
        std::swap(content, FContent);
        content += "1 w\r\n0 J\r\n" + HatchLines(p.Style) + "S\r\n";
        std::string o = head(n);
        o += "<< /Type /Pattern\r\n/PatternType 1\r\n/PaintType 1\r\n/TilingType 1\r\n/BBox [ 0 0 8 8]\r\n/XStep 8\r\n"
             "/YStep 8\r\n/Matrix [ 1 0 0 -1 0 " +
             std::to_string(p.PageHeight) + "]\r\n/Resources << >>\r\n/Length " + std::to_string(content.size()) +
             "\r\n>>\r\nstream\r\n" + content + (PdfA ? "\r\n" : "") + "endstream\r\nendobj\r\n";
        WriteObject(o);
    }
    r.PendingPatterns.clear();
}

void TPdfWriter::WidthLine()
{
    if (!FPathOpen || LineWidth == FLastLineWidth)
        return;
    AppendInt(FContent, LineWidth);
    FContent += " w";
    EndLine(FContent);
    FLastLineWidth = LineWidth;
}

void TPdfWriter::ColorLine(TColor C, const char* Op)
{
    // Components in 0..1 with up to three decimals, whatever the locale.
    const uint32_t parts[3] = {C & 0xFF, (C >> 8) & 0xFF, (C >> 16) & 0xFF};
    for (uint32_t v : parts) {
        if (v == 0) {
            FContent += '0';
        } else if (v == 255) {
            FContent += '1';
        } else {
            unsigned thousandths = (v * 1000 + 127) / 255;
            char digits[4] = {static_cast<char>('0' + thousandths / 100), static_cast<char>('0' + thousandths / 10 % 10),
                              static_cast<char>('0' + thousandths % 10), 0};
            int n = 3;
            while (n > 1 && digits[n - 1] == '0')
                --n;
            FContent += "0.";
            FContent.append(digits, n);
        }
        FContent += ' ';
    }
    FContent.append(Op, 2);  // "rg" or "RG"
    EndLine(FContent);
}

// ---- document ---------------------------------------------------------------

void TPdfWriter::BeginDoc()
{
    FSink.reset();
    FPageNumber = 1;
    FObjectCount = 0;
    FTotal = 0;
    FPathOpen = false;
    FLastLineWidth = 0;
    FOffsets.clear();
    FContentObjects.clear();
    FObject.clear();
    FContent.clear();
    FDashInForce.clear();
    FResources = std::make_unique<TPdfResources>();
    FFonts->Clear();
    FStandardUsed = false;
    FIccProfile.clear();
    FIccProblem.clear();
    if (PdfA) {
        // The output intent's profile: sRGB as the system's colour profiles
        // hold it.
        static const char* const profiles[] = {"/usr/share/color/icc/colord/sRGB.icc", "/usr/share/color/icc/sRGB.icc",
                                               "/usr/share/color/icc/ghostscript/srgb.icc"};
        for (const char* path : profiles) {
            std::string p;
            try {
                p = ReadWholeReport(path);
            } catch (const std::exception&) {
                continue;  // not there, or not readable: the next
            }
            if (p.size() >= 128 && p.compare(36, 4, "acsp") == 0 && p.compare(16, 4, "RGB ") == 0) {
                FIccProfile = std::move(p);
                break;
            }
        }
        if (FIccProfile.empty())
            FIccProblem = "PDF/A needs an sRGB colour profile, and none is installed (the colord-data package has "
                          "/usr/share/color/icc/colord/sRGB.icc)";
    }
    FSink = std::make_unique<TNamedOutput>(FileName);
    FBegun = true;

    if (PdfA)
        Emit(std::string("%PDF-1.7") + Eol + "%\xE2\xE3\xCF\xD3" + Eol);
    else
        Emit(std::string("%PDF-1.4") + Eol);
    FOffsets.push_back(FTotal);
    WriteInfo();
    ContentStart();
}

void TPdfWriter::WriteInfo()
{
    // The creation time: SOURCE_DATE_EPOCH (in UTC) when set, so that a
    // document can be made again byte for byte; otherwise the local clock.
    FCreated = std::time(nullptr);
    FCreatedUtc = false;
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
        const char* end = epoch + std::strlen(epoch);
        long long v = 0;
        auto res = std::from_chars(epoch, end, v);
        if (*epoch && res.ec == std::errc() && res.ptr == end && v >= 0 && v <= 253402300799LL) {
            FCreated = static_cast<std::time_t>(v);
            FCreatedUtc = true;
        }
    }
    const std::string stamp = DateStamp(false);

    const int32_t n = NextObject();
    FObject.clear();
    auto line = [&](const std::string& s) {
        FObject += s;
        EndLine(FObject);
    };
    line(std::to_string(n) + " 0 obj");
    line("<<");
    if (PdfA) {
        // What the metadata says, and nothing empty.
        auto entry = [&](const char* Key, const std::string& Value) {
            if (!Value.empty())
                line(std::string(Key) + " " + PdfTextString(Value));
        };
        entry("/Producer", Producer);
        entry("/Author", Author);
        line("/CreationDate (" + stamp + ")");
        entry("/Creator", Creator);
        entry("/Keywords", Keywords);
        entry("/Subject", Subject);
        entry("/Title", TITLE);
        line("/ModDate (" + stamp + ")");
    } else {
        line("/Producer " + PdfTextString(Producer));
        line("/Author " + PdfTextString(Author));
        line("/CreationDate (" + stamp + ")");
        line("/Creator " + PdfTextString(Creator));
        line("/Keywords " + PdfTextString(Keywords));
        line("/Subject " + PdfTextString(Subject));
        line("/Title " + PdfTextString(TITLE));
        line("/ModDate ()");
    }
    line(">>");
    line("endobj");
    FinishObject();
}

// The creation time as the document information writes it ("D:" and the
// digits; with its offset from UTC for PDF/A), or as XMP does.
std::string TPdfWriter::DateStamp(bool Xmp) const
{
    std::tm tm{};
    if (FCreatedUtc)
        ::gmtime_r(&FCreated, &tm);
    else
        ::localtime_r(&FCreated, &tm);
    const int year = std::clamp(tm.tm_year + 1900, 0, 9999);
    char stamp[64];
    if (!Xmp) {
        std::snprintf(stamp, sizeof stamp, "D:%04d%02d%02d%02d%02d%02d", year, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                      tm.tm_min, tm.tm_sec);
        if (!PdfA)
            return stamp;
    } else {
        std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d", year, tm.tm_mon + 1, tm.tm_mday,
                      tm.tm_hour, tm.tm_min, tm.tm_sec);
    }
    const long offset = FCreatedUtc ? 0 : tm.tm_gmtoff;
    if (offset == 0)
        return std::string(stamp) + "Z";
    const long minutes = std::labs(offset) / 60;
    char zone[24];
    if (Xmp)
        std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    else
        std::snprintf(zone, sizeof zone, "%c%02ld'%02ld'", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return std::string(stamp) + zone;
}

namespace {

// Text for XML character data: UTF-8, the markup characters as references,
// and the control characters XML cannot hold left out.
std::string XmlText(const std::string& S)
{
    std::string out;
    for (char c : TextAsUtf8(S)) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default:
            if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r')
                out += c;
        }
    }
    return out;
}

}  // namespace

// The document's XMP metadata: the PDF/A identification and what the
// document information says, in the same words.
void TPdfWriter::WriteMetadata(int32_t Number)
{
    std::string x = "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
                    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
                    "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
                    "<rdf:Description rdf:about=\"\" xmlns:pdfaid=\"http://www.aiim.org/pdfa/ns/id/\">\n"
                    "<pdfaid:part>2</pdfaid:part>\n<pdfaid:conformance>B</pdfaid:conformance>\n"
                    "</rdf:Description>\n"
                    "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
                    "<dc:format>application/pdf</dc:format>\n";
    if (!TITLE.empty())
        x += "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">" + XmlText(TITLE) + "</rdf:li></rdf:Alt></dc:title>\n";
    if (!Author.empty())
        x += "<dc:creator><rdf:Seq><rdf:li>" + XmlText(Author) + "</rdf:li></rdf:Seq></dc:creator>\n";
    if (!Subject.empty())
        x += "<dc:description><rdf:Alt><rdf:li xml:lang=\"x-default\">" + XmlText(Subject) +
             "</rdf:li></rdf:Alt></dc:description>\n";
    x += "</rdf:Description>\n"
         "<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\">\n";
    const std::string date = DateStamp(true);
    x += "<xmp:CreateDate>" + date + "</xmp:CreateDate>\n<xmp:ModifyDate>" + date + "</xmp:ModifyDate>\n";
    if (!Creator.empty())
        x += "<xmp:CreatorTool>" + XmlText(Creator) + "</xmp:CreatorTool>\n";
    x += "</rdf:Description>\n"
         "<rdf:Description rdf:about=\"\" xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\">\n";
    if (!Producer.empty())
        x += "<pdf:Producer>" + XmlText(Producer) + "</pdf:Producer>\n";
    if (!Keywords.empty())
        x += "<pdf:Keywords>" + XmlText(Keywords) + "</pdf:Keywords>\n";
    x += "</rdf:Description>\n</rdf:RDF>\n</x:xmpmeta>\n";
    // Room to edit the packet in place, as XMP writers leave it.
    for (int i = 0; i < 20; ++i)
        x += std::string(99, ' ') + "\n";
    x += "<?xpacket end=\"w\"?>";
    WriteObject(std::to_string(Number) + " 0 obj\r\n<< /Type /Metadata\r\n/Subtype /XML\r\n/Length " +
                std::to_string(x.size()) + "\r\n>>\r\nstream\r\n" + x + "\r\nendstream\r\nendobj\r\n");
}

void TPdfWriter::ContentStart()
{
    const int32_t n = NextObject();
    if (n == INT32_MAX)
        Overflow();
    FContentObjects.push_back(n);
    FObject.clear();
    AppendInt(FObject, n);
    FObject += " 0 obj";
    EndLine(FObject);
    FObject += "<< /Length ";
    AppendInt(FObject, n + 1);
    FObject += " 0 R";
    EndLine(FObject);
    if (Compress) {
        FObject += "/Filter /FlateDecode";
        EndLine(FObject);
    }
    FObject += " >>";
    EndLine(FObject);
    FStreamOffset = FObject.size();
    FObject += "stream";
    EndLine(FObject);
    FContent.clear();
    if (OriginX != 0 || OriginY != 0) {
        // The drawing starts at the printable area's corner.
        FContent += "1 0 0 1 ";
        AppendReal(FContent, OriginX);
        FContent += ' ';
        AppendReal(FContent, -OriginY);
        FContent += " cm";
        EndLine(FContent);
    }
    // Every page starts with the initial graphics state.
    FDashInForce.clear();
    FDashStack.clear();
}

void TPdfWriter::ContentEnd()
{
    // A state saved and not restored is restored here: the page's content
    // stays balanced.
    while (!FDashStack.empty())
        RestoreState();
    int64_t length;
    if (Compress || PdfA) {
        // The stream's bytes, then an end of line that the length leaves out.
        const std::string data = Compress ? DeflateBytes(FContent) : FContent;
        FObject += data;
        FObject += "\r\nendstream\r\nendobj\r\n";
        length = static_cast<int64_t>(data.size());
    } else {
        FObject += FContent;
        FObject += "endstream";
        EndLine(FObject);
        FObject += "endobj";
        EndLine(FObject);
        length = static_cast<int64_t>(FObject.size()) - static_cast<int64_t>(FStreamOffset) - 27;
    }
    FContent.clear();
    FinishObject();

    const int32_t n = NextObject();
    FObject.clear();
    AppendInt(FObject, n);
    FObject += " 0 obj";
    EndLine(FObject);
    AppendInt(FObject, length);
    EndLine(FObject);
    FObject += "endobj";
    EndLine(FObject);
    FinishObject();
    WriteResources();
    // The page's bytes are out: give back what a long page took.
    if (FContent.capacity() > (1u << 20))
        std::string().swap(FContent);
}

void TPdfWriter::NewPage()
{
    if (FPageNumber == INT32_MAX)
        Overflow();
    ++FPageNumber;
    ContentEnd();
    ContentStart();
}

void TPdfWriter::EndDoc()
{
    if (!FBegun)
        throw std::runtime_error("No PDF document has been begun");
    if (FPathOpen)
        EndPath();
    ContentEnd();
    if (PdfA && (!FIccProblem.empty() || FStandardUsed)) {
        // Not PDF/A: nothing is written.
        FBegun = false;
        FSink.reset();
        throw std::runtime_error(!FIccProblem.empty() ? FIccProblem
                                                      : "PDF/A needs every font embedded, and no TrueType font of this "
                                                        "machine can show some of the text");
    }

    auto line = [&](const std::string& s) {
        FObject += s;
        EndLine(FObject);
    };
    auto num = [](int64_t v) { return std::to_string(v); };

    const int32_t outlines = NextObject();
    FObject.clear();
    line(num(outlines) + " 0 obj");
    line("<< /Type /Outlines");
    line("/Count 0");
    line(">>");
    line("endobj");
    FinishObject();

    // The standard fonts, unless every font is embedded; then the embedded.
    const bool standard = !EmbedsEveryFont() || FStandardUsed;
    int32_t fonts[PdfFontCount] = {};
    for (int k = 0; standard && k < PdfFontCount; ++k) {
        fonts[k] = NextObject();
        FObject.clear();
        line(num(fonts[k]) + " 0 obj");
        line("<< /Type /Font");
        line("/Subtype /Type1");
        line("/Name /F" + num(k + 1));
        line(std::string("/BaseFont /") + PdfBaseFonts[k]);
        line("/Encoding /WinAnsiEncoding");
        line(">>");
        line("endobj");
        FinishObject();
    }
    const std::vector<std::string> embedded =
        FFonts->WriteFonts([this] { return NextObject(); }, [this](const std::string& o) { WriteObject(o); });

    const int64_t pages = static_cast<int64_t>(FContentObjects.size());
    const int32_t pagesObj = NextObject();
    if (static_cast<int64_t>(pagesObj) + 1 + pages + 1 > INT32_MAX)
        Overflow();
    FObject.clear();
    line(num(pagesObj) + " 0 obj");
    line("<< /Type /Pages");
    line("/Kids [");
    for (int64_t k = 1; k <= pages; ++k) {
        AppendInt(FObject, pagesObj + 1 + k);
        FObject += " 0 R";
        EndLine(FObject);
    }
    line("]");
    line("/Count " + num(pages));
    line(">>");
    line("endobj");
    FinishObject();

    const int32_t resources = NextObject();
    FObject.clear();
    line(num(resources) + " 0 obj");
    line("<< /ProcSet [ /PDF /Text /ImageC]");
    line("/XObject << ");
    for (size_t k = 0; k < FResources->ImageObjects.size(); ++k)
        line("/Im" + num(int64_t(k) + 1) + " " + num(FResources->ImageObjects[k]) + " 0 R ");
    line(">>");
    line("/Font << ");
    for (int k = 0; standard && k < PdfFontCount; ++k)
        line("/F" + num(k + 1) + " " + num(fonts[k]) + " 0 R ");
    for (const std::string& e : embedded)
        line(e);
    line(">>");
    if (!FResources->PatternObjects.empty()) {
        line("/Pattern << ");
        for (size_t k = 0; k < FResources->PatternObjects.size(); ++k)
            line("/P" + num(int64_t(k) + 1) + " " + num(FResources->PatternObjects[k]) + " 0 R ");
        line(">>");
    }
    line(">>");
    line("endobj");
    FinishObject();

    const std::string mediaBox = "/MediaBox [ 0 0 " + num(PageWidth) + " " + num(PageHeight) + "]";
    const std::string parent = "/Parent " + num(pagesObj) + " 0 R";
    const std::string resourcesRef = "/Resources " + num(resources) + " 0 R";
    for (int64_t k = 1; k <= pages; ++k) {
        const int32_t n = NextObject();
        FObject.clear();
        AppendInt(FObject, n);
        FObject += " 0 obj";
        EndLine(FObject);
        line("<< /Type /Page");
        line(parent);
        line(mediaBox);
        FObject += "/Contents ";
        AppendInt(FObject, FContentObjects[k - 1]);
        FObject += " 0 R";
        EndLine(FObject);
        line(resourcesRef);
        line(">>");
        line("endobj");
        FinishObject();
    }

    // PDF/A: the metadata and the output intent's profile.
    int32_t metadata = 0, profile = 0;
    if (PdfA) {
        metadata = NextObject();
        WriteMetadata(metadata);
        profile = NextObject();
        const std::string icc = DeflateBytes(FIccProfile);
        WriteObject(num(profile) + " 0 obj\r\n<< /N 3\r\n/Filter /FlateDecode\r\n/Length " + num(int64_t(icc.size())) +
                    "\r\n>>\r\nstream\r\n" + icc + "\r\nendstream\r\nendobj\r\n");
    }

    const int32_t catalog = NextObject();
    FObject.clear();
    line(num(catalog) + " 0 obj");
    line("<< /Type /Catalog");
    line("/Pages " + num(pagesObj) + " 0 R");
    line("/Outlines " + num(outlines) + " 0 R");
    if (PdfA) {
        line("/Metadata " + num(metadata) + " 0 R");
        line("/OutputIntents [ << /Type /OutputIntent /S /GTS_PDFA1 /OutputConditionIdentifier (sRGB IEC61966-2.1) "
             "/RegistryName (http://www.color.org) /Info (sRGB IEC61966-2.1) /DestOutputProfile " +
             num(profile) + " 0 R >> ]");
    }
    line(">>");
    line("endobj");
    FinishObject();

    // Cross-reference section and trailer.
    const int64_t size = static_cast<int64_t>(catalog) + 1;
    std::string x;
    x.reserve(static_cast<size_t>(size) * 20 + 128);
    x += "xref";
    EndLine(x);
    x += "0 ";
    AppendInt(x, size);
    EndLine(x);
    x += "0000000000 65535 f";
    EndLine(x);
    for (int32_t k = 0; k < catalog; ++k) {
        std::string off = num(FOffsets[static_cast<size_t>(k)]);
        if (off.size() < 10)
            x.append(10 - off.size(), '0');
        x += off;
        x += " 00000 n";
        EndLine(x);
        if (x.size() >= (1u << 20)) {
            Emit(x);
            x.clear();
        }
    }
    x += "trailer";
    EndLine(x);
    x += "<< /Size ";
    AppendInt(x, size);
    EndLine(x);
    x += "/Root ";
    AppendInt(x, catalog);
    x += " 0 R";
    EndLine(x);
    x += "/Info 1 0 R";
    EndLine(x);
    if (PdfA) {
        // The file's identifier: a digest of what makes it this document.
        QCryptographicHash h(QCryptographicHash::Md5);
        const std::string seed = DateStamp(false) + '\0' + TITLE + '\0' + FileName + '\0' + std::to_string(FTotal) +
                                 '\0' + std::to_string(pages);
        h.addData(QByteArrayView(seed.data(), qsizetype(seed.size())));
        const std::string id = h.result().toHex().toUpper().toStdString();
        x += "/ID [<" + id + "><" + id + ">]";
        EndLine(x);
    }
    x += ">>";
    EndLine(x);
    x += "startxref";
    EndLine(x);
    AppendInt(x, FOffsets.back());
    EndLine(x);
    x += "%%EOF";
    EndLine(x);
    Emit(x);

    FBegun = false;
    std::unique_ptr<TNamedOutput> sink = std::move(FSink);
    sink->Commit();
}

// ---- drawing --------------------------------------------------------------------

void TPdfWriter::MoveTo(int32_t X, int32_t Y)
{
    AppendOperation(FContent, {X, FlipY(Y)}, "m");
    FPathOpen = true;
}

void TPdfWriter::LineTo(int32_t X, int32_t Y)
{
    AppendOperation(FContent, {X, FlipY(Y)}, "l");
    FPathOpen = true;
}

void TPdfWriter::RectanglePath(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2)
{
    const int32_t xmin = std::min(X1, X2), xmax = std::max(X1, X2);
    const int32_t ymin = std::min(Y1, Y2), ymax = std::max(Y1, Y2);
    AppendOperation(FContent, {xmin, FlipY(ymax), Sub(xmax, xmin), Sub(ymax, ymin)}, "re");
    FPathOpen = true;
}

void TPdfWriter::Stroke()
{
    if (FPathOpen) {
        WidthLine();
        DashLine();
        ColorLine(PenColor, "RG");
        FContent += Dash.empty() ? "1 J\r\n1 j\r\nS\r\n" : "0 J\r\n1 j\r\nS\r\n";
        FLastLineWidth = 0;
    }
    FPathOpen = false;
}

void TPdfWriter::Fill(bool EvenOdd)
{
    if (FPathOpen) {
        FillColorLine();
        FContent += EvenOdd ? "f*\r\n" : "f\r\n";
        FLastLineWidth = 0;
    }
    FPathOpen = false;
}

void TPdfWriter::FillAndStroke(bool EvenOdd)
{
    if (FPathOpen) {
        WidthLine();
        DashLine();
        ColorLine(PenColor, "RG");
        FillColorLine();
        if (!Dash.empty())
            FContent += "0 J\r\n";
        FContent += EvenOdd ? "B*\r\n" : "B\r\n";
        FLastLineWidth = 0;
    }
    FPathOpen = false;
}

void TPdfWriter::MoveTo(double X, double Y)
{
    AppendPoint(X, Y);
    FContent += " m\r\n";
    FPathOpen = true;
}

void TPdfWriter::LineTo(double X, double Y)
{
    AppendPoint(X, Y);
    FContent += " l\r\n";
    FPathOpen = true;
}

void TPdfWriter::CurveTo(double X1, double Y1, double X2, double Y2, double X3, double Y3)
{
    AppendPoint(X1, Y1);
    FContent += ' ';
    AppendPoint(X2, Y2);
    FContent += ' ';
    AppendPoint(X3, Y3);
    FContent += " c\r\n";
    FPathOpen = true;
}

void TPdfWriter::ClosePath()
{
    if (FPathOpen)
        FContent += "h\r\n";
}

void TPdfWriter::AppendPoint(double X, double Y)
{
    AppendReal(FContent, X);
    FContent += ' ';
    AppendReal(FContent, static_cast<double>(PageHeight) - Y);
}

void TPdfWriter::SaveState()
{
    if (FPathOpen)
        EndPath();
    FContent += "q\r\n";
    FDashStack.push_back(FDashInForce);
}

void TPdfWriter::RestoreState()
{
    if (FPathOpen)
        EndPath();
    if (FDashStack.empty())
        return;  // nothing saved: a Q would unbalance the page
    FContent += "Q\r\n";
    FDashInForce = std::move(FDashStack.back());
    FDashStack.pop_back();
}

void TPdfWriter::ClipRectangle(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2)
{
    if (FPathOpen)
        EndPath();
    RectanglePath(X1, Y1, X2, Y2);
    FContent += "W n\r\n";
    FPathOpen = false;
    FLastLineWidth = 0;
}

void TPdfWriter::EndPath()
{
    if (FPathOpen) {
        FContent += "n\r\n";
        FLastLineWidth = 0;
    }
    FPathOpen = false;
}

void TPdfWriter::DrawRectangle(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2)
{
    RectanglePath(X1, Y1, X2, Y2);
    if (FillColor == clNone)
        Stroke();
    else
        FillAndStroke();
}

void TPdfWriter::FillRectangle(const TRect& R)
{
    RectanglePath(R.Left, R.Top, R.Right, R.Bottom);
    Fill();
}

void TPdfWriter::TextOut(int32_t X, int32_t Y, const std::string& Text)
{
    const int32_t y = FlipY(Y);
    if (FPathOpen)
        EndPath();
    FStandardUsed = FStandardUsed || !Font.Embedded;
    // Text is most of a report: the fixed parts go in with their lengths known.
    Put(FContent, "BT\r\n");
    ColorLine(Font.Color, "rg");
    if (Font.Embedded)
        Put(FContent, "0 Tr\r\n/T");
    else
        Put(FContent, "0 Tr\r\n/F");
    AppendInt(FContent, Font.FontNumber + 1);
    FContent += ' ';
    AppendInt(FContent, Font.Size);
    Put(FContent, " Tf\r\n");
    AppendInt(FContent, X);
    FContent += ' ';
    AppendInt(FContent, y);
    Put(FContent, " Td\r\n(");
    FContent += Text;
    Put(FContent, ") Tj\r\nET\r\n");
}

void TPdfWriter::TextOut(double X, double Y, double Angle, const std::string& Text)
{
    if (FPathOpen)
        EndPath();
    FStandardUsed = FStandardUsed || !Font.Embedded;
    FContent += "BT\r\n";
    ColorLine(Font.Color, "rg");
    FContent += Font.Embedded ? "0 Tr\r\n/T" : "0 Tr\r\n/F";
    AppendInt(FContent, Font.FontNumber + 1);
    FContent += ' ';
    AppendInt(FContent, Font.Size);
    FContent += " Tf\r\n";
    TextMatrix(X, Y, Angle);
    FContent += '(';
    FContent += Text;
    FContent += ") Tj\r\nET\r\n";
}

// The text matrix that starts text at (X, Y), its baseline turned Angle
// radians counter-clockwise.
void TPdfWriter::TextMatrix(double X, double Y, double Angle)
{
    const double c = std::cos(Angle), s = std::sin(Angle);
    for (double v : {c, s, -s, c}) {
        AppendReal(FContent, v, 5);
        FContent += ' ';
    }
    AppendPoint(X, Y);
    FContent += " Tm\r\n";
}

// The runs of text one after the other: each piece selects its font at Size
// points and shows its text, the first at (X, Y) in the page's own
// coordinates when FirstAt (else the text matrix places it).
void TPdfWriter::TextPieces(const std::vector<TPdfTextPiece>& Pieces, double Size, bool FirstAt, double X, double Y)
{
    bool first = true;
    for (const TPdfTextPiece& p : Pieces) {
        FContent += p.Kind == TPdfTextPiece::Standard ? "/F" : p.Kind == TPdfTextPiece::Simple ? "/T" : "/E";
        AppendInt(FContent, p.Kind == TPdfTextPiece::Composite ? p.Font : p.Font + 1);
        FStandardUsed = FStandardUsed || p.Kind == TPdfTextPiece::Standard;
        FContent += ' ';
        AppendReal(FContent, Size, 2);
        FContent += " Tf\r\n";
        if (first && FirstAt) {
            AppendReal(FContent, X);
            FContent += ' ';
            AppendReal(FContent, Y);
            FContent += " Td\r\n";
        }
        first = false;
        FContent += p.Operand;
        FContent += !p.Operand.empty() && p.Operand[0] == '[' ? " TJ\r\n" : " Tj\r\n";
    }
}

void TPdfWriter::TextOut(int32_t X, int32_t Y, const std::vector<TPdfTextPiece>& Pieces)
{
    const int32_t y = FlipY(Y);
    if (FPathOpen)
        EndPath();
    FContent += "BT\r\n";
    ColorLine(Font.Color, "rg");
    FContent += "0 Tr\r\n";
    TextPieces(Pieces, Font.Size, true, X, y);
    FContent += "ET\r\n";
}

void TPdfWriter::TextOut(double X, double Y, double Angle, const std::vector<TPdfTextPiece>& Pieces)
{
    if (FPathOpen)
        EndPath();
    FContent += "BT\r\n";
    ColorLine(Font.Color, "rg");
    FContent += "0 Tr\r\n";
    TextMatrix(X, Y, Angle);
    TextPieces(Pieces, Font.Size, false, 0, 0);
    FContent += "ET\r\n";
}

void TPdfWriter::UnseenText(double X, double Y, double Size, double Scale, const std::vector<TPdfTextPiece>& Pieces)
{
    if (FPathOpen)
        EndPath();
    // In a state of its own: the scaling and the rendering mode end with it.
    FContent += "q\r\nBT\r\n3 Tr\r\n";
    AppendReal(FContent, Scale * 100, 2);
    FContent += " Tz\r\n";
    TextPieces(Pieces, Size, true, X, static_cast<double>(PageHeight) - Y);
    FContent += "ET\r\nQ\r\n";
}

void TPdfWriter::DrawImage(int32_t X, int32_t Y, const TGraphic& Picture)
{
    DrawImage(double(X), double(Y), double(Picture.Width), double(Picture.Height), Picture);
}

void TPdfWriter::DrawImage(double X, double Y, double Width, double Height, const TGraphic& Picture)
{
    const size_t pixels = Picture.Empty() ? 0 : size_t(Picture.Width) * size_t(Picture.Height);
    if (pixels == 0 || Picture.Pixels.size() < pixels || !std::isfinite(Width) || !std::isfinite(Height) ||
        Width == 0 || Height == 0)
        return;
    TPdfResources& r = *FResources;

    // JPEG files go in as they are, when a reader decodes them to the same
    // picture: grey or YCbCr pictures of the decoded size. (CMYK files are
    // converted on decoding as the screen shows them; they go in as pixels.)
    TJpegLayout jpeg;
    const bool asJpeg = !Picture.JpegData.empty() && ReadJpegLayout(Picture.JpegData, jpeg) &&
                        jpeg.Width == Picture.Width && jpeg.Height == Picture.Height &&
                        (jpeg.Components == 1 || jpeg.Components == 3);
    const std::string digest = Digest(Picture, asJpeg);
    auto found = r.ImageByDigest.find(digest);
    if (found == r.ImageByDigest.end()) {
        TPdfResources::TImage im;
        im.Width = Picture.Width;
        im.Height = Picture.Height;
        if (asJpeg) {
            im.Filter = "/DCTDecode";
            im.ColorSpace = jpeg.Components == 1 ? "/DeviceGray" : "/DeviceRGB";
            im.Data.assign(Picture.JpegData.begin(), Picture.JpegData.end());
        } else {
            TDeflate rgb, alpha;
            bool opaque = true;
            std::vector<uint8_t> row(size_t(Picture.Width) * 3), alphaRow(size_t(Picture.Width));
            for (int y = 0; y < Picture.Height; ++y) {
                const uint32_t* p = Picture.Pixels.data() + size_t(y) * size_t(Picture.Width);
                for (int x = 0; x < Picture.Width; ++x) {
                    row[3 * size_t(x)] = uint8_t(p[x] >> 16);
                    row[3 * size_t(x) + 1] = uint8_t(p[x] >> 8);
                    row[3 * size_t(x) + 2] = uint8_t(p[x]);
                    alphaRow[size_t(x)] = uint8_t(p[x] >> 24);
                    opaque = opaque && alphaRow[size_t(x)] == 0xFF;
                }
                rgb.Add(row.data(), row.size());
                alpha.Add(alphaRow.data(), alphaRow.size());
            }
            im.Data = rgb.Finish();
            if (!opaque)
                im.Alpha = alpha.Finish();
        }
        r.ImageObjects.push_back(0);
        im.Index = static_cast<int>(r.ImageObjects.size());
        found = r.ImageByDigest.emplace(digest, im.Index).first;
        r.PendingImages.push_back(std::move(im));
    }

    // The unit square of the picture onto its place on the page.
    if (FPathOpen)
        EndPath();
    FContent += "q\r\n";
    AppendReal(FContent, Width);
    FContent += " 0 0 ";
    AppendReal(FContent, Height);
    FContent += ' ';
    AppendPoint(X, Y + Height);
    FContent += " cm\r\n/Im";
    AppendInt(FContent, found->second);
    FContent += " Do\r\nQ\r\n";
}

}  // namespace quillard
