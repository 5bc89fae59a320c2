// Where a picture goes and how much of it is decoded. A window of arbitrary
// bounds and size is decoded and compared with the whole picture sampled at
// the same centres (BMP and GIF exactly; JPEG, which libjpeg reduces first,
// by its size); then the picture is placed by an image tag with arbitrary
// geometry attributes, from a file or in-line, on a small page bitmap and in
// a PDF document: the pass ends, and what it decoded stays within its
// allowance.
//
// Input: one byte of options, twelve bytes of window (six little-endian
// 16-bit numbers: left, top, right, bottom, width, height), the tag's
// attributes up to a zero byte, then the picture file.
//   bits 0-1  format: 0 BMP, 1 JPEG, 2 GIF, 3 by the file's first bytes
//   bit 2     in-line instead of a file beside the report
//   bit 3     also a PDF job
//   bit 4     zoom 50%
#include "tests/fuzz/fuzzutil.h"

#include "engine/renderer.h"
#include "surfaces/imagecanvas.h"
#include "surfaces/pictures.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace quillard;

namespace {

[[noreturn]] void Fail(const char* What, const std::string& Detail = {})
{
    std::fprintf(stderr, "fuzz_picture_geometry: %s %s\n", What, Detail.c_str());
    std::abort();
}

TPictureFormat FormatOf(uint8_t Options, const std::vector<uint8_t>& B)
{
    switch (Options & 3) {
    case 0: return TPictureFormat::Bmp;
    case 1: return TPictureFormat::Jpeg;
    case 2: return TPictureFormat::Gif;
    }
    if (B.size() >= 3 && std::memcmp(B.data(), "GIF", 3) == 0)
        return TPictureFormat::Gif;
    if (B.size() >= 2 && B[0] == 0xFF && B[1] == 0xD8)
        return TPictureFormat::Jpeg;
    return TPictureFormat::Bmp;
}

int Centre(int From, int To, int Count, int I) { return int(std::floor(From + (I + 0.5) * double(To - From) / Count)); }

void CheckWindow(TPictureFormat Format, const std::vector<uint8_t>& Bytes, const TPictureWindow& Window)
{
    TPictureSize size;
    if (!ProbePicture(Format, Bytes, size))
        return;
    std::string why;
    const TGraphic part = DecodePicture(Format, Bytes, &why, &Window);
    if (part.Empty()) {
        if (why.empty() || !part.Pixels.empty())
            Fail("a failed window decode without a reason or with pixels");
        return;
    }
    const int l = std::clamp(Window.Left, 0, size.Width), t = std::clamp(Window.Top, 0, size.Height);
    const int r = std::clamp(Window.Right, l, size.Width), b = std::clamp(Window.Bottom, t, size.Height);
    if (part.Width != std::clamp(Window.Width, 1, r - l) || part.Height != std::clamp(Window.Height, 1, b - t))
        Fail("window decoded at another size:", std::to_string(part.Width) + " x " + std::to_string(part.Height));
    if (part.Pixels.size() != size_t(part.Width) * size_t(part.Height))
        Fail("pixel count differs from the size");
    if (Format == TPictureFormat::Jpeg || int64_t(size.Width) * size.Height > 4'000'000)
        return;
    const TGraphic whole = DecodePicture(Format, Bytes);
    if (whole.Empty())
        return;  // the whole picture may fail further down than the window reaches
    if (whole.Width != size.Width || whole.Height != size.Height)
        Fail("the probe and the decode disagree on the size");
    for (int j = 0; j < part.Height; ++j)
        for (int i = 0; i < part.Width; ++i) {
            const int x = Centre(l, r, part.Width, i), y = Centre(t, b, part.Height, j);
            if (part.Pixels[size_t(j) * part.Width + i] != whole.Pixels[size_t(y) * whole.Width + x])
                Fail("window pixel differs from the picture's",
                     std::to_string(i) + "," + std::to_string(j) + " <- " + std::to_string(x) + "," + std::to_string(y));
        }
}

const std::string& PicturePath()
{
    static const std::string path = fuzz::ScratchPath() + ".pic";
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::StartQt();
    std::atexit([] { std::remove(PicturePath().c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    if (Size < 14)
        return 0;
    const uint8_t options = Data[0];
    auto number = [&](int k) { return int(int16_t(uint16_t(Data[1 + 2 * k] | Data[2 + 2 * k] << 8))); };
    const TPictureWindow window{number(0), number(1), number(2), number(3), number(4), number(5)};
    const uint8_t* rest = Data + 13;
    const size_t restSize = Size - 13;
    const void* zero = std::memchr(rest, 0, restSize);
    const size_t attrLen = zero ? size_t(static_cast<const uint8_t*>(zero) - rest) : restSize;
    std::string attributes(reinterpret_cast<const char*>(rest), attrLen);
    for (char& c : attributes)
        if (c == '}' || c == '{' || c == '\r' || c == '\n' || c == '\f')
            c = ' ';  // one tag on one line
    const std::vector<uint8_t> picture(rest + std::min(restSize, attrLen + 1), rest + restSize);
    const TPictureFormat format = FormatOf(options, picture);

    CheckWindow(format, picture, window);

    // The tag on a page.
    static const char* const formats[] = {"BMP", "JPEG", "GIF"};
    std::string report;
    const std::string formatAttr = (options & 3) == 3 ? "" : std::string(" FORMAT=") + formats[options & 3];
    if (options & 4) {
        report = "Before {IMG " + attributes + formatAttr + " DATALEN=" + std::to_string(picture.size()) + " DATA=\"";
        report.append(picture.begin(), picture.end());
        report += "\"} after\r\n";
    } else {
        FILE* f = std::fopen(PicturePath().c_str(), "wb");
        if (!f)
            std::abort();
        if (!picture.empty() && std::fwrite(picture.data(), 1, picture.size(), f) != picture.size())
            std::abort();
        std::fclose(f);
        report = "Before {IMAGE SRC=" + PicturePath() + " " + attributes + formatAttr + "} after\r\n";
    }
    const std::string& path = fuzz::WriteScratch(reinterpret_cast<const uint8_t*>(report.data()), report.size());

    const double zoom = (options & 16) ? 0.5 : 1.0;
    constexpr int Dpi = 24;
    {
        tRenderer r;
        r.OpenFile(path, nullptr);
        r.MeasureOnScreen(Dpi, zoom);
        r.UsePageSurface(std::make_unique<TImageCanvas>(r.Metrics.PageWidthPx, r.Metrics.PageHeightPx, Dpi, Dpi));
        r.RenderPages(nullptr, 1, nullptr, 1);
        if (r.PictureBudget.Spent() > r.PictureBudget.Allowed())
            Fail("the pass decoded past its allowance");
        if (options & 8) {
            const std::string out = fuzz::ScratchPath() + ".pdf";
            r.MakePDF(nullptr, out);
            if (r.PictureBudget.Spent() > r.PictureBudget.Allowed())
                Fail("the PDF pass decoded past its allowance");
            std::remove(out.c_str());
        }
    }
    fuzz::RemoveScratch();
    return 0;
}
