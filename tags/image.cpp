// {IMAGE ...} and {IMG ...}: a BMP, JPEG or GIF picture from a file named in
// the tag or carried in-line in the report right after the tag, sized in
// inches, placed like the drawing tags and drawn through the rendering canvas.
#include "engine/markup.h"
#include "engine/renderer.h"
#include "engine/reportfiles.h"
#include "surfaces/pictures.h"

#include <algorithm>
#include <cmath>

namespace quillard {

namespace {

// A whole number as the DATALEN of an in-line picture: an optional sign and
// decimal digits within 32 bits; anything else is an error for the tag.
int64_t WholeNumber(const std::string& s)
{
    auto invalid = [&] { return EConvertError("'" + s + "' is not a valid integer value"); };
    size_t i = 0;
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        i = 1;
    }
    if (i == s.size())
        throw invalid();
    int64_t v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9')
            throw invalid();
        v = v * 10 + (s[i] - '0');
        if (v > 2147483648LL)
            throw invalid();
    }
    if (!negative && v > 2147483647LL)
        throw invalid();
    return negative ? -v : v;
}

bool StartsWith(const std::string& s, const char* p) { return s.compare(0, std::char_traits<char>::length(p), p) == 0; }

bool EndsWithNoCase(const std::string& s, const std::string& e)
{
    return s.size() >= e.size() && SameText(s.substr(s.size() - e.size()), e);
}

struct TFormatChoice {
    TPictureFormat Format = TPictureFormat::Bmp;
    bool Known = true;
};

// FORMAT when given; else the in-line bytes' signature; else the file name's
// end. BMP when nothing says otherwise.
TFormatChoice ChooseFormat(const std::string& FormatAttr, const std::vector<uint8_t>* Data, const std::string& Src)
{
    TFormatChoice c;
    if (!IsBlank(FormatAttr)) {
        const std::string f = UpperCase(Trim(FormatAttr));
        if (StartsWith(f, "GIF"))
            c.Format = TPictureFormat::Gif;
        else if (StartsWith(f, "BMP") || StartsWith(f, "BITMAP"))
            c.Format = TPictureFormat::Bmp;
        else if (StartsWith(f, "JPG") || StartsWith(f, "JPEG"))
            c.Format = TPictureFormat::Jpeg;
        else
            c.Known = false;
        return c;
    }
    if (Data) {
        const std::vector<uint8_t>& d = *Data;
        auto at = [&](size_t i, const char* s) { return d.size() >= i + std::char_traits<char>::length(s) &&
                                                        std::equal(s, s + std::char_traits<char>::length(s), d.begin() + i); };
        if (at(0, "GIF"))
            c.Format = TPictureFormat::Gif;
        else if (at(0, "BM"))
            c.Format = TPictureFormat::Bmp;
        // JFIF files, and every other JPEG (Exif ones from cameras) by its
        // start-of-image marker.
        else if (at(6, "JFIF") || (d.size() >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF))
            c.Format = TPictureFormat::Jpeg;
        return c;
    }
    if (EndsWithNoCase(Src, ".JPEG") || EndsWithNoCase(Src, ".JPG"))
        c.Format = TPictureFormat::Jpeg;
    else if (EndsWithNoCase(Src, ".GIF"))
        c.Format = TPictureFormat::Gif;
    return c;
}

int ClampToInt(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, -2000000000, 2000000000)); }

}  // namespace

void tRenderer::TagImage(tRenderState& State, const std::string& Tag)
{
    // The attributes stand before DATA=; picture bytes after it are never
    // read as attributes.
    const int dataAt = PosNoCase("DATA=", Tag);
    const std::string head = dataAt > 0 ? Tag.substr(0, static_cast<size_t>(dataAt) - 1) + "}" : Tag;
    const bool absolute = !IsBlank(GetAttribute(head, "ABS;ABSOLUTE"));

    // Source.
    std::vector<uint8_t> bytes;
    std::string src, path;
    const std::string dataLen = Trim(GetAttribute(head, "DATALEN"));
    const bool fromData = !IsBlank(dataLen);
    if (fromData) {
        const int64_t n = WholeNumber(dataLen);
        if (dataAt > 0)
            GetInlineData(State.ReportFile, LineRest, bytes, n, State.LineEnd);
        if (bytes.empty())
            return;
    } else {
        src = Trim(GetAttribute(head, "SRC;SOURCE"));
        if (IsBlank(src))
            return;
        // The name is looked up as the report spells it.
        std::string written = head;
        if (TagAsWritten.size() == Tag.size() && SameText(TagAsWritten, Tag))
            written = dataAt > 0 ? TagAsWritten.substr(0, static_cast<size_t>(dataAt) - 1) + "}" : TagAsWritten;
        path = FindReportFile(Trim(GetAttribute(written, "SRC;SOURCE")), FileName);
        if (path.empty())
            return;
    }

    // Pages outside the range are laid out but not drawn.
    if (!PageInRange(State))
        return;

    // Decoding.
    const TFormatChoice format = ChooseFormat(GetAttribute(head, "FORMAT"), fromData ? &bytes : nullptr, src);
    TGraphic picture;
    TFileIdentity read;
    if (format.Known) {
        if (fromData || ReadWholeFile(path, bytes, MaxPictureBytes, &read))
            picture = DecodePicture(format.Format, bytes);
    }
    // Only a file that decoded as a picture may be deleted.
    if (!fromData && !picture.Empty() && UpperCase(Trim(GetAttribute(head, "DELETE"))) == "YES")
        MarkImageForDeletion(*this, path, read, State.ReportFile.Identity());
    bytes.clear();
    bytes.shrink_to_fit();

    tSpan& s = Span();
    TRenderingCanvas* canvas = s.Canvas ? s.Canvas : Canvas.get();
    if (!canvas)
        return;

    // The top-left corner for a picture w inches wide.
    auto corner = [&](double w) {
        const TDoublePoint here{s.Left + s.CursorX, s.Top + s.CursorY};
        std::string at = GetAttribute(head, "AT");
        if (IsBlank(at))
            at = GetAttribute(head, "FROM");
        if (!IsBlank(at))
            return ParsePoint(here, Trim(at), absolute);
        TDoublePoint p;
        if (absolute) {
            p.X = MeasureAttr(head, "LEFT;COL", 'X', here.X);
            p.Y = MeasureAttr(head, "TOP;ROW", 'Y', here.Y);
        } else {
            p.X = s.Left + MeasureAttr(head, "LEFT;COL", 'X', s.CursorX);
            p.Y = s.Top + MeasureAttr(head, "TOP;ROW", 'Y', s.CursorY);
        }
        if (IsBlank(GetAttribute(head, "LEFT;COL")) && AlignWholeLine) {
            const std::string align = s.GetAlign();
            if (align == "RIGHT")
                p.X = s.Left + s.CursorX - w;
            else if (align == "CENTER")
                p.X = s.Left + s.CursorX - w / 2;
        }
        return p;
    };

    if (picture.Empty()) {
        const TDoublePoint p = corner(0);
        canvas->TextOut(DevX(p.X), DevY(p.Y),
                        fromData ? std::string("(Could Not Load Graphic)") : "(Could Not Load Graphic: " + src);
        return;
    }

    // Size in inches: one picture pixel per device pixel at natural size.
    const double W = picture.Width, H = picture.Height;
    const double naturalW = W / (DpiX > 0 ? DpiX : 300), naturalH = H / (DpiY > 0 ? DpiY : 300);
    double w = naturalW, h = naturalH;
    bool sized = false;
    const std::string scaleAttr = GetAttribute(head, "SCALE;RESIZE");
    if (!IsBlank(scaleAttr)) {
        std::string v = Trim(scaleAttr);
        if (!v.empty() && v.back() == '%')
            v.pop_back();
        const int n = ParseIntPrefix(v, 0);
        if (n >= 1) {
            w = naturalW * n / 100;
            h = naturalH * n / 100;
            sized = true;
        }
    }
    if (!sized && PosNoCase("ISO", head) > 0) {
        // Keep the aspect ratio.
        h = MeasureAttr(head, "HEIGHT;HIG;HT", 'Y', 0);
        w = MeasureAttr(head, "WIDTH;WID", 'X', 0);
        if (w == 0 && h == 0) {
            w = naturalW;
            h = naturalH;
        } else if (h == 0) {
            h = H * w / W;
        } else if (w == 0) {
            w = W * h / H;
        } else if (w / W <= h / H) {
            h = H * w / W;
        } else {
            w = W * h / H;
        }
    } else if (!sized) {
        h = MeasureAttr(head, "HEIGHT;HIG;HT", 'Y', naturalH);
        w = MeasureAttr(head, "WIDTH;WID", 'X', naturalW);
    }

    const TDoublePoint p = corner(w);
    const int x = DevX(p.X), y = DevY(p.Y);
    if (GetScale() == 1.0 && H / PixelsPerInchY == h && W / PixelsPerInchX == w) {
        canvas->Draw(x, y, picture);
    } else {
        auto device = [](double v) { return std::isfinite(v) ? std::clamp(v, -2e9, 2e9) : 0.0; };
        const double dw = device(w * PixelsPerInchX), dh = device(h * PixelsPerInchY);
        const TRect r{x, y, ClampToInt(int64_t(x) + RoundHalfEven(dw)), ClampToInt(int64_t(y) + RoundHalfEven(dh))};
        canvas->StretchDraw(r, picture);
    }
}

}  // namespace quillard
