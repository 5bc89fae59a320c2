// {IMAGE ...} and {IMG ...}: a BMP, JPEG or GIF picture from a file named in
// the tag or carried in-line in the report right after the tag, sized in
// inches, placed like the drawing tags and drawn through the rendering canvas.
#include "engine/markup.h"
#include "engine/renderer.h"
#include "tags/interpreter.h"
#include "engine/reportfiles.h"
#include "surfaces/pictures.h"

#include <memory>
#include <stdexcept>
#include <sys/stat.h>

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

// A picture's decoded size and where its pixels go: the whole picture, or
// the part of it that lands on the surface at the surface's resolution.
struct TPicturePlan {
    bool Whole = true;
    TPictureWindow Window;
    TRect Target;  // the device rectangle the decoded pixels fill
};

// Pictures with more pixels than this are decoded only as far as the place
// they are drawn in shows them (64 MB of pixels).
constexpr int64_t WholeDecodePixels = 16'000'000;

// The part of a Width x Height picture stretched over Target (its edges in
// either order, mirroring it) that falls inside Area, at no more pixels than
// it covers there; false when none of it does.
bool PlanVisiblePart(int Width, int Height, const TRect& Target, const TRect& Area, TPicturePlan& Plan)
{
    const double x0 = Target.Left, x1 = Target.Right, y0 = Target.Top, y1 = Target.Bottom;
    const double vl = std::max(std::min(x0, x1), double(Area.Left)), vr = std::min(std::max(x0, x1), double(Area.Right));
    const double vt = std::max(std::min(y0, y1), double(Area.Top)), vb = std::min(std::max(y0, y1), double(Area.Bottom));
    if (vl >= vr || vt >= vb)
        return false;
    // Picture pixels under the visible device span, one more on each side.
    auto span = [](double From, double To, double V0, double V1, int Pixels, int& Lo, int& Hi) {
        const double k = Pixels / (To - From);
        const double a = (V0 - From) * k, b = (V1 - From) * k;
        Lo = static_cast<int>(std::clamp(std::floor(std::min(a, b)) - 1, 0.0, double(Pixels)));
        Hi = static_cast<int>(std::clamp(std::ceil(std::max(a, b)) + 1, 0.0, double(Pixels)));
    };
    TPictureWindow& w = Plan.Window;
    span(x0, x1, vl, vr, Width, w.Left, w.Right);
    span(y0, y1, vt, vb, Height, w.Top, w.Bottom);
    if (w.Right <= w.Left || w.Bottom <= w.Top)
        return false;
    // The part's place on the device, and as many pixels as it covers there.
    const double pl = x0 + (x1 - x0) * w.Left / Width, pr = x0 + (x1 - x0) * w.Right / Width;
    const double pt = y0 + (y1 - y0) * w.Top / Height, pb = y0 + (y1 - y0) * w.Bottom / Height;
    w.Width = static_cast<int>(std::clamp(std::ceil(std::fabs(pr - pl)), 1.0, double(w.Right - w.Left)));
    w.Height = static_cast<int>(std::clamp(std::ceil(std::fabs(pb - pt)), 1.0, double(w.Bottom - w.Top)));
    Plan.Whole = false;
    Plan.Target = TRect{ClampToInt(RoundHalfEven(pl)), ClampToInt(RoundHalfEven(pt)), ClampToInt(RoundHalfEven(pr)),
                        ClampToInt(RoundHalfEven(pb))};
    return true;
}

std::string FormatLetter(TPictureFormat F) { return F == TPictureFormat::Jpeg ? "J" : F == TPictureFormat::Gif ? "G" : "B"; }

}  // namespace

namespace {

// The top-left corner of a picture Width inches wide: AT= (or FROM=), else
// LEFT= and TOP= from the cursor of span S (or the page, ABS), and a line
// aligned right or centred puts it before or around the cursor.
TDoublePoint PictureCorner(tRenderer& R, const tSpan& S, const std::string& Head, bool Absolute, double Width)
{
    const TDoublePoint here{S.Left + S.CursorX, S.Top + S.CursorY};
    std::string at = GetAttribute(Head, "AT");
    if (IsBlank(at))
        at = GetAttribute(Head, "FROM");
    if (!IsBlank(at))
        return R.ParsePoint(here, Trim(at), Absolute);
    TDoublePoint p;
    if (Absolute) {
        p.X = R.MeasureAttr(Head, "LEFT;COL", 'X', here.X);
        p.Y = R.MeasureAttr(Head, "TOP;ROW", 'Y', here.Y);
    } else {
        p.X = S.Left + R.MeasureAttr(Head, "LEFT;COL", 'X', S.CursorX);
        p.Y = S.Top + R.MeasureAttr(Head, "TOP;ROW", 'Y', S.CursorY);
    }
    if (IsBlank(GetAttribute(Head, "LEFT;COL")) && R.Pass.AlignWholeLine) {
        const std::string align = S.GetAlign();
        if (align == "RIGHT")
            p.X = S.Left + S.CursorX - Width;
        else if (align == "CENTER")
            p.X = S.Left + S.CursorX - Width / 2;
    }
    return p;
}

// The size of a picture on the page, in inches: its pixels at the surface's
// resolution, or SCALE= percent of that, or WIDTH= and HEIGHT= (with ISO,
// keeping the picture's proportions within them).
std::pair<double, double> PictureInches(tRenderer& R, const std::string& Head, const TPictureSize& Size)
{
    const double W = Size.Width, H = Size.Height;
    const double naturalW = W / (R.Metrics.DpiX > 0 ? R.Metrics.DpiX : 300), naturalH = H / (R.Metrics.DpiY > 0 ? R.Metrics.DpiY : 300);
    double w = naturalW, h = naturalH;
    bool sized = false;
    const std::string scaleAttr = GetAttribute(Head, "SCALE;RESIZE");
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
    if (!sized && PosNoCase("ISO", Head) > 0) {
        // Keep the aspect ratio.
        h = R.MeasureAttr(Head, "HEIGHT;HIG;HT", 'Y', 0);
        w = R.MeasureAttr(Head, "WIDTH;WID", 'X', 0);
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
        h = R.MeasureAttr(Head, "HEIGHT;HIG;HT", 'Y', naturalH);
        w = R.MeasureAttr(Head, "WIDTH;WID", 'X', naturalW);
    }
    return {w, h};
}

}  // namespace

void TTagInterpreter::TagImage(tRenderState& State, const std::string& Tag)
{
    // The attributes stand before DATA=; picture bytes after it are never
    // read as attributes.
    const int dataAt = PosNoCase("DATA=", Tag);
    const std::string head = dataAt > 0 ? Tag.substr(0, static_cast<size_t>(dataAt) - 1) + "}" : Tag;
    const bool absolute = !IsBlank(GetAttribute(head, "ABS;ABSOLUTE"));

    // Source.
    std::vector<uint8_t> bytes;
    std::string src, path;
    bool refused = false;
    const std::string dataLen = Trim(GetAttribute(head, "DATALEN"));
    const bool fromData = !IsBlank(dataLen);
    if (fromData) {
        const int64_t n = WholeNumber(dataLen);
        if (dataAt > 0)
            R.GetInlineData(State.ReportFile, R.Pass.LineRest, bytes, n, State.LineEnd);
        if (bytes.empty())
            return;
        R.PictureBudget.AddBytes(bytes.size());
    } else {
        src = Trim(GetAttribute(head, "SRC;SOURCE"));
        if (IsBlank(src))
            return;
        // The name is looked up as the report spells it.
        std::string written = head;
        if (R.Pass.TagAsWritten.size() == Tag.size() && SameText(R.Pass.TagAsWritten, Tag))
            written = dataAt > 0 ? R.Pass.TagAsWritten.substr(0, static_cast<size_t>(dataAt) - 1) + "}" : R.Pass.TagAsWritten;
        const std::string name = Trim(GetAttribute(written, "SRC;SOURCE"));
        if (R.ReportFromNetwork) {
            // Only its own folder of pictures; whatever else it names draws
            // the same words, whether it exists or not.
            path = FindFileInFolder(name, R.NetworkPictureFolder);
            refused = path.empty();
        } else {
            path = FindReportFile(name, R.FileName);
            if (path.empty())
                return;
        }
    }

    // Pages outside the range are laid out but not drawn. A count draws no
    // page; a picture it passes that is to be deleted is still read and
    // decoded, so that the clean-up takes the pictures of every page.
    const bool deleteAsked = !fromData && UpperCase(Trim(GetAttribute(head, "DELETE"))) == "YES";
    const bool drawn = PageInRange(State);
    if (!drawn && !(R.FCountOnly && deleteAsked))
        return;

    tSpan& s = R.Span();
    TRenderingCanvas* canvas = s.Canvas ? s.Canvas : R.Canvas.get();
    if (!canvas)
        return;

    // The top-left corner for a picture w inches wide.
    auto corner = [&](double w) { return PictureCorner(R, s, head, absolute, w); };
    auto couldNotLoad = [&] {
        if (!drawn)
            return;
        ++R.PicturesNotDrawn;
        const TDoublePoint p = corner(0);
        canvas->TextOut(R.DevX(p.X), R.DevY(p.Y),
                        fromData ? std::string("(Could Not Load Graphic)") : "(Could Not Load Graphic: " + src);
    };

    const TFormatChoice format = ChooseFormat(GetAttribute(head, "FORMAT"), fromData ? &bytes : nullptr, src);
    if (refused || !format.Known) {
        couldNotLoad();
        return;
    }

    // The picture's bytes, what names them, and the size they declare. A
    // file named again in the pass, unchanged, is not read again unless its
    // pixels must be decoded.
    TFileIdentity read;
    std::string content;
    TPictureSize size;
    auto load = [&] {
        if (!fromData) {
            struct stat before {};
            if (::stat(path.c_str(), &before) != 0 || !ReadWholeFile(path, bytes, MaxPictureBytes, &read))
                return false;
            R.PictureBudget.AddBytes(bytes.size());
            content = ContentKey(bytes);
            const bool ok = ProbePicture(format.Format, bytes, size);
            R.PictureCache.AddFile(path, before, content, ok ? size.Width : 0, ok ? size.Height : 0);
            return ok;
        }
        content = ContentKey(bytes);
        return ProbePicture(format.Format, bytes, size);
    };
    const TPictureCache::TFileRead* known = nullptr;
    struct stat now {};
    if (!fromData && ::stat(path.c_str(), &now) == 0)
        known = R.PictureCache.FindFile(path, now);
    if (known) {
        content = known->ContentKey;
        size = TPictureSize{known->Width, known->Height};
        read = TFileIdentity{now.st_dev, now.st_ino, true};
        if (size.Width <= 0) {
            couldNotLoad();
            return;
        }
    } else if (!load()) {
        couldNotLoad();
        return;
    }

    // Size in inches: one picture pixel per device pixel at natural size.
    const double W = size.Width, H = size.Height;
    const auto [w, h] = PictureInches(R, head, size);

    const TDoublePoint p = corner(w);
    const int x = R.DevX(p.X), y = R.DevY(p.Y);
    const bool oneToOne = R.Scale == 1.0 && H / R.Metrics.PixelsPerInchY == h && W / R.Metrics.PixelsPerInchX == w;
    auto device = [](double v) { return std::isfinite(v) ? std::clamp(v, -2e9, 2e9) : 0.0; };
    const double dw = device(w * R.Metrics.PixelsPerInchX), dh = device(h * R.Metrics.PixelsPerInchY);
    const TRect target = oneToOne ? TRect{x, y, ClampToInt(int64_t(x) + size.Width), ClampToInt(int64_t(y) + size.Height)}
                                  : TRect{x, y, ClampToInt(int64_t(x) + RoundHalfEven(dw)),
                                          ClampToInt(int64_t(y) + RoundHalfEven(dh))};

    // A picture far larger than its place is decoded only where it shows.
    TPicturePlan plan;
    if (int64_t(size.Width) * size.Height > WholeDecodePixels) {
        TRect area;
        if (!canvas->DeviceArea(area))
            area = TRect{R.DevX(0), R.DevY(0), R.DevX(R.Metrics.PrintableWidth + 2 * R.Metrics.LeftOffset), R.DevY(R.Metrics.PrintableHeight + 2 * R.Metrics.TopOffset)};
        if (!PlanVisiblePart(size.Width, size.Height, target, area, plan))
            return;  // none of it lands on the surface
    }
    const TPictureWindow* window = plan.Whole ? nullptr : &plan.Window;
    // The same picture at the same size is decoded once.
    std::string key = FormatLetter(format.Format) + content;
    if (window)
        for (int v : {window->Left, window->Top, window->Right, window->Bottom, window->Width, window->Height})
            key += "," + std::to_string(v);

    // Decoding.
    std::shared_ptr<const TGraphic> picture = R.PictureCache.Find(key);
    if (!picture) {
        const int64_t pixels = plan.Whole ? int64_t(size.Width) * size.Height
                                          : int64_t(plan.Window.Width) * plan.Window.Height;
        const bool refusedBefore = R.PictureBudget.Exhausted();
        if (!R.PictureBudget.Spend(pixels)) {
            if (refusedBefore)
                return;
            throw std::runtime_error("The pictures of this report would decode to more than " +
                                     std::to_string(R.PictureBudget.Allowed() / 1'000'000) +
                                     " million pixels in one pass; the pictures from here on are not drawn.");
        }
        if (bytes.empty()) {
            // Known from earlier in the pass, but its pixels are not kept.
            const std::string before = content;
            if (!load() || content != before) {
                couldNotLoad();
                return;
            }
        }
        picture = std::make_shared<TGraphic>(DecodePicture(format.Format, bytes, nullptr, window));
        // A picture that does not decode is remembered as such too.
        R.PictureCache.Add(key, picture);
    }
    bytes.clear();
    bytes.shrink_to_fit();
    if (picture->Empty()) {
        couldNotLoad();
        return;
    }
    // Only a file that decoded as a picture may be deleted.
    if (deleteAsked)
        MarkImageForDeletion(R, path, read, State.ReportFile.Identity());
    if (!drawn)
        return;

    if (!plan.Whole)
        canvas->StretchDraw(plan.Target, *picture);
    else if (oneToOne)
        canvas->Draw(x, y, *picture);
    else
        canvas->StretchDraw(target, *picture);
}

}  // namespace quillard
