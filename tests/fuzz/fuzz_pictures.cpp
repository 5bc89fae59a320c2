// The picture decoders over arbitrary bytes: the BMP reader, the JPEG path
// (libjpeg) and the GIF path (giflib). A picture either fails with a reason
// and no pixels, or has exactly width x height pixels within the size limit;
// a JPEG keeps the file's bytes. A decoded picture is then drawn, shrunk, on
// a small page bitmap and put in a PDF document, as the image tag would.
//
// Input: one byte of options, then the picture file.
//   bits 0-1  decoder: 0 BMP, 1 JPEG, 2 GIF, 3 the one the image tag picks
//             from the file's first bytes
//   bit 2     draw the decoded picture (raster and PDF)
#include "tests/fuzz/fuzzutil.h"

#include "surfaces/imagecanvas.h"
#include "surfaces/pdfwriter.h"
#include "surfaces/pictures.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace quillard;

namespace {

[[noreturn]] void Fail(const char* What, const std::string& Detail = {})
{
    std::fprintf(stderr, "fuzz_pictures: %s %s\n", What, Detail.c_str());
    std::abort();
}

TPictureFormat BySignature(const std::vector<uint8_t>& B)
{
    if (B.size() >= 3 && std::memcmp(B.data(), "GIF", 3) == 0)
        return TPictureFormat::Gif;
    if (B.size() >= 2 && B[0] == 0xFF && B[1] == 0xD8)
        return TPictureFormat::Jpeg;
    return TPictureFormat::Bmp;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::StartQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    if (Size < 1)
        return 0;
    const uint8_t options = Data[0];
    const std::vector<uint8_t> bytes(Data + 1, Data + Size);
    static const TPictureFormat formats[3] = {TPictureFormat::Bmp, TPictureFormat::Jpeg, TPictureFormat::Gif};
    const TPictureFormat format = (options & 3) == 3 ? BySignature(bytes) : formats[options & 3];

    std::string why;
    const TGraphic g = DecodePicture(format, bytes, &why);
    if (g.Empty()) {
        if (why.empty())
            Fail("a failed decode without a reason");
        if (!g.Pixels.empty() || !g.JpegData.empty())
            Fail("a failed decode kept data");
        return 0;
    }
    const int64_t pixels = int64_t(g.Width) * g.Height;
    if (pixels > MaxPicturePixels)
        Fail("picture above the size limit:", std::to_string(g.Width) + " x " + std::to_string(g.Height));
    if (g.Pixels.size() != size_t(pixels))
        Fail("pixel count differs from the size");
    if (format == TPictureFormat::Jpeg) {
        if (g.JpegData != bytes)
            Fail("a JPEG picture does not keep the file's bytes");
    } else if (!g.JpegData.empty()) {
        Fail("a picture that is no JPEG holds JPEG data");
    }

    // Drawing a picture costs time in proportion to its pixels; the big ones
    // only slow the search down.
    if ((options & 4) && pixels <= 1'000'000) {
        // Shrunk onto a small page, as a picture placed in a box.
        TImageCanvas page(64, 48, 96, 96);
        page.StretchDraw(TRect{2, 3, 60, 45}, g);
        page.Draw(5, 5, g);

        // Embedded in a PDF document that is never written anywhere: the
        // writer encodes the picture (or takes the JPEG file as it is).
        // The file cannot be made (no name), so nothing reaches the disk.
        TPdfWriter pdf;
        pdf.BeginDoc();
        pdf.DrawImage(10.0, 10.0, 100.0, 80.0, g);
        pdf.DrawImage(int32_t(0), int32_t(0), g);
        pdf.NewPage();
    }
    return 0;
}
