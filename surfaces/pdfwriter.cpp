#include "surfaces/pdfwriter.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace quillard {

const char* const PdfBaseFonts[PdfFontCount] = {
    "Helvetica",   "Helvetica-Bold",   "Helvetica-Oblique",   "Helvetica-BoldOblique",
    "Courier",     "Courier-Bold",     "Courier-Oblique",     "Courier-BoldOblique",
    "Times-Roman", "Times-Bold",       "Times-Italic",        "Times-BoldItalic",
    "Symbol",      "ZapfDingbats",
};

const char* const TPrintPDF::Attribution = "Quillard PDF writer";

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

constexpr const char* Eol = "\r\n";

std::string SystemReason(int Err) { return std::strerror(Err); }

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

// ---------------------------------------------------------------------------
// The file the document goes to: an unnamed temporary file in the target's
// folder (a named one where the file system cannot make unnamed files), given
// its name only when the document is complete. Write failures are kept and
// reported when the document is committed.

class TPdfFileSink {
public:
    explicit TPdfFileSink(const std::string& Target) : FTarget(Target) { Open(); }
    ~TPdfFileSink() { Discard(); }

    void Append(const std::string& Bytes)
    {
        if (FFd < 0)
            return;
        FBuffer += Bytes;
        if (FBuffer.size() >= FlushSize)
            Flush();
    }

    // Flushes, syncs and puts the file in place under Target.
    void Commit(const std::string& Target)
    {
        if (FFd >= 0)
            Flush();
        if (FFd >= 0 && ::fsync(FFd) != 0)
            Fail("Cannot write file", errno);
        if (!FError.empty())
            throw std::runtime_error(FError);
        std::string tempName = FTempName;
        if (tempName.empty()) {
            // Give the unnamed file a name beside the target for the rename.
            const std::string proc = "/proc/self/fd/" + std::to_string(FFd);
            for (int attempt = 0;; ++attempt) {
                tempName = TempNameFor(FTarget);
                if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, tempName.c_str(), AT_SYMLINK_FOLLOW) == 0)
                    break;
                if (errno != EEXIST || attempt > 100) {
                    Fail("Cannot create file", errno);
                    throw std::runtime_error(FError);
                }
            }
            FTempName = tempName;
        }
        ::close(FFd);
        FFd = -1;
        if (::rename(tempName.c_str(), Target.c_str()) != 0) {
            const int err = errno;
            FTarget = Target;
            Fail("Cannot create file", err);
            throw std::runtime_error(FError);
        }
        FTempName.clear();
    }

    void Discard()
    {
        if (FFd >= 0)
            ::close(FFd);
        FFd = -1;
        if (!FTempName.empty())
            ::unlink(FTempName.c_str());
        FTempName.clear();
        FBuffer.clear();
        FBuffer.shrink_to_fit();
    }

private:
    static constexpr size_t FlushSize = 256 * 1024;

    static std::string FolderOf(const std::string& Path)
    {
        const size_t slash = Path.rfind('/');
        if (slash == std::string::npos)
            return ".";
        if (slash == 0)
            return "/";
        return Path.substr(0, slash);
    }

    static std::string TempNameFor(const std::string& Target)
    {
        static uint64_t counter = 0;
        const uint64_t seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                              (static_cast<uint64_t>(::getpid()) << 32) ^ (++counter * 0x9E3779B97F4A7C15ull);
        char suffix[17];
        std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(seed));
        const size_t slash = Target.rfind('/');
        const std::string base = slash == std::string::npos ? Target : Target.substr(slash + 1);
        return FolderOf(Target) + "/." + base + "." + suffix + ".tmp";
    }

    void Open()
    {
        if (FTarget.empty()) {
            Fail("Cannot create file", ENOENT);
            return;
        }
        const std::string folder = FolderOf(FTarget);
#ifdef O_TMPFILE
        FFd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
#endif
        if (FFd < 0) {
            for (int attempt = 0; FFd < 0; ++attempt) {
                std::string name = TempNameFor(FTarget);
                FFd = ::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
                if (FFd >= 0)
                    FTempName = name;
                else if (errno != EEXIST || attempt > 100) {
                    Fail("Cannot create file", errno);
                    return;
                }
            }
        }
        // A file replaced keeps its permissions.
        struct stat st {};
        if (::stat(FTarget.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            ::fchmod(FFd, st.st_mode & 07777);
    }

    void Flush()
    {
        const char* p = FBuffer.data();
        size_t left = FBuffer.size();
        while (left > 0) {
            ssize_t n = ::write(FFd, p, left);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                Fail("Cannot write file", errno);
                return;
            }
            p += n;
            left -= static_cast<size_t>(n);
        }
        FBuffer.clear();
    }

    // Keeps the first failure and stops writing.
    void Fail(const char* What, int Err)
    {
        if (FError.empty())
            FError = std::string(What) + " \"" + FTarget + "\". " + SystemReason(Err);
        if (FFd >= 0)
            ::close(FFd);
        FFd = -1;
        if (!FTempName.empty())
            ::unlink(FTempName.c_str());
        FTempName.clear();
        FBuffer.clear();
        FBuffer.shrink_to_fit();
    }

    std::string FTarget;
    std::string FTempName;  // empty while the file has no name
    std::string FBuffer;
    std::string FError;
    int FFd = -1;
};

// ---------------------------------------------------------------------------

TPrintPDF::TPrintPDF() : Author(Attribution), Creator(Attribution), Producer(Attribution) {}

TPrintPDF::~TPrintPDF() = default;

void TPrintPDF::EndLine(std::string& Buffer) { Buffer.append(Eol, 2); }

int32_t TPrintPDF::FlipY(int32_t Y) const { return Sub(PageHeight, Y); }

int32_t TPrintPDF::NextObject()
{
    if (FObjectCount == INT32_MAX)
        Overflow();
    return ++FObjectCount;
}

void TPrintPDF::Emit(const std::string& Bytes)
{
    FTotal += static_cast<int64_t>(Bytes.size());
    if (FSink)
        FSink->Append(Bytes);
}

void TPrintPDF::FinishObject()
{
    Emit(FObject);
    FOffsets.push_back(FTotal);
}

void TPrintPDF::WidthLine()
{
    if (!FPathOpen || LineWidth == FLastLineWidth)
        return;
    AppendInt(FContent, LineWidth);
    FContent += " w";
    EndLine(FContent);
    FLastLineWidth = LineWidth;
}

void TPrintPDF::ColorLine(TColor C, const char* Op)
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
    FContent += Op;
    EndLine(FContent);
}

// ---- document ---------------------------------------------------------------

void TPrintPDF::BeginDoc()
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
    FSink = std::make_unique<TPdfFileSink>(FileName);
    FBegun = true;

    Emit(std::string("%PDF-1.4") + Eol);
    FOffsets.push_back(FTotal);
    WriteInfo();
    ContentStart();
}

void TPrintPDF::WriteInfo()
{
    // The creation time: SOURCE_DATE_EPOCH (in UTC) when set, so that a
    // document can be made again byte for byte; otherwise the local clock.
    std::time_t now = std::time(nullptr);
    bool utc = false;
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
        const char* end = epoch + std::strlen(epoch);
        long long v = 0;
        auto res = std::from_chars(epoch, end, v);
        if (*epoch && res.ec == std::errc() && res.ptr == end && v >= 0 && v <= 253402300799LL) {
            now = static_cast<std::time_t>(v);
            utc = true;
        }
    }
    std::tm tm{};
    if (utc)
        ::gmtime_r(&now, &tm);
    else
        ::localtime_r(&now, &tm);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d", std::clamp(tm.tm_year + 1900, 0, 9999),
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);

    const int32_t n = NextObject();
    FObject.clear();
    auto line = [&](const std::string& s) {
        FObject += s;
        EndLine(FObject);
    };
    line(std::to_string(n) + " 0 obj");
    line("<<");
    line("/Producer (" + PdfEscapeParens(Producer) + ")");
    line("/Author (" + PdfEscapeParens(Author) + ")");
    line(std::string("/CreationDate (D:") + stamp + ")");
    line("/Creator (" + PdfEscapeParens(Creator) + ")");
    line("/Keywords (" + PdfEscapeParens(Keywords) + ")");
    line("/Subject (" + PdfEscapeParens(Subject) + ")");
    line("/Title (" + PdfEscapeParens(TITLE) + ")");
    line("/ModDate ()");
    line(">>");
    line("endobj");
    FinishObject();
}

void TPrintPDF::ContentStart()
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
    FObject += " >>";
    EndLine(FObject);
    FStreamOffset = FObject.size();
    FObject += "stream";
    EndLine(FObject);
    FContent.clear();
}

void TPrintPDF::ContentEnd()
{
    FObject += FContent;
    FContent.clear();
    FObject += "endstream";
    EndLine(FObject);
    FObject += "endobj";
    EndLine(FObject);
    FinishObject();
    const int64_t length = static_cast<int64_t>(FObject.size()) - static_cast<int64_t>(FStreamOffset) - 27;

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
    // The page's bytes are out: give back what a long page took.
    if (FContent.capacity() > (1u << 20))
        std::string().swap(FContent);
}

void TPrintPDF::NewPage()
{
    if (FPageNumber == INT32_MAX)
        Overflow();
    ++FPageNumber;
    ContentEnd();
    ContentStart();
}

void TPrintPDF::EndDoc()
{
    if (!FBegun)
        throw std::runtime_error("No PDF document has been begun");
    if (FPathOpen)
        EndPath();
    ContentEnd();

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

    int32_t fonts[PdfFontCount];
    for (int k = 0; k < PdfFontCount; ++k) {
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
    line(">>");
    line("/Font << ");
    for (int k = 0; k < PdfFontCount; ++k)
        line("/F" + num(k + 1) + " " + num(fonts[k]) + " 0 R ");
    line(">>");
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

    const int32_t catalog = NextObject();
    FObject.clear();
    line(num(catalog) + " 0 obj");
    line("<< /Type /Catalog");
    line("/Pages " + num(pagesObj) + " 0 R");
    line("/Outlines " + num(outlines) + " 0 R");
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
    std::unique_ptr<TPdfFileSink> sink = std::move(FSink);
    sink->Commit(FileName);
}

// ---- drawing --------------------------------------------------------------------

void TPrintPDF::MoveTo(int32_t X, int32_t Y)
{
    const int32_t y = FlipY(Y);
    AppendInt(FContent, X);
    FContent += ' ';
    AppendInt(FContent, y);
    FContent += " m";
    EndLine(FContent);
    FPathOpen = true;
}

void TPrintPDF::LineTo(int32_t X, int32_t Y)
{
    const int32_t y = FlipY(Y);
    AppendInt(FContent, X);
    FContent += ' ';
    AppendInt(FContent, y);
    FContent += " l";
    EndLine(FContent);
    FPathOpen = true;
}

void TPrintPDF::RectanglePath(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2)
{
    const int32_t xmin = std::min(X1, X2), xmax = std::max(X1, X2);
    const int32_t ymin = std::min(Y1, Y2), ymax = std::max(Y1, Y2);
    const int32_t y = FlipY(ymax);
    const int32_t w = Sub(xmax, xmin), h = Sub(ymax, ymin);
    AppendInt(FContent, xmin);
    FContent += ' ';
    AppendInt(FContent, y);
    FContent += ' ';
    AppendInt(FContent, w);
    FContent += ' ';
    AppendInt(FContent, h);
    FContent += " re";
    EndLine(FContent);
    FPathOpen = true;
}

void TPrintPDF::Stroke()
{
    if (FPathOpen) {
        WidthLine();
        ColorLine(PenColor, "RG");
        FContent += "1 J\r\n1 j\r\nS\r\n";
        FLastLineWidth = 0;
    }
    FPathOpen = false;
}

void TPrintPDF::Fill()
{
    if (FPathOpen) {
        ColorLine(FillColor, "rg");
        FContent += "f\r\n";
        FLastLineWidth = 0;
    }
    FPathOpen = false;
}

void TPrintPDF::FillAndStroke()
{
    if (FPathOpen) {
        WidthLine();
        ColorLine(PenColor, "RG");
        ColorLine(FillColor, "rg");
        FContent += "B\r\n";
        FLastLineWidth = 0;
    }
    FPathOpen = false;
}

void TPrintPDF::EndPath()
{
    if (FPathOpen) {
        FContent += "n\r\n";
        FLastLineWidth = 0;
    }
    FPathOpen = false;
}

void TPrintPDF::DrawRectangle(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2)
{
    RectanglePath(X1, Y1, X2, Y2);
    if (FillColor == clNone)
        Stroke();
    else
        FillAndStroke();
}

void TPrintPDF::FillRectangle(const TRect& R)
{
    RectanglePath(R.Left, R.Top, R.Right, R.Bottom);
    Fill();
}

void TPrintPDF::TextOut(int32_t X, int32_t Y, const std::string& Text)
{
    const int32_t y = FlipY(Y);
    if (FPathOpen)
        EndPath();
    FContent += "BT\r\n";
    ColorLine(Font.Color, "rg");
    FContent += "0 Tr\r\n/F";
    AppendInt(FContent, Font.FontNumber + 1);
    FContent += ' ';
    AppendInt(FContent, Font.Size);
    FContent += " Tf\r\n";
    AppendInt(FContent, X);
    FContent += ' ';
    AppendInt(FContent, y);
    FContent += " Td\r\n(";
    FContent += Text;
    FContent += ") Tj\r\nET\r\n";
}

void TPrintPDF::DrawImage(int32_t X, int32_t Y, const TGraphic& Picture) {}

}  // namespace quillard
