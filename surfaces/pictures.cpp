#include "surfaces/pictures.h"

#include "base/strings.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include <gif_lib.h>
#include <jpeglib.h>
#include <jerror.h>

namespace quillard {

namespace {

constexpr uint32_t Opaque = 0xFF000000u;

// A progressive JPEG keeps every coefficient of the picture while it is
// decoded; beyond this the decoder gives up instead of taking more.
constexpr long MaxJpegWorkingMemory = 256L * 1024 * 1024;

TGraphic Failed(std::string* Reason, const std::string& Why)
{
    if (Reason)
        *Reason = Why;
    return TGraphic{};
}

bool TooLarge(int64_t Width, int64_t Height)
{
    return Width <= 0 || Height <= 0 || Width > MaxPicturePixels || Height > MaxPicturePixels ||
           Width * Height > MaxPicturePixels;
}

std::string OutOfBounds(const char* What, int64_t Width, int64_t Height)
{
    return std::string(What) + " size " + std::to_string(Width) + " x " + std::to_string(Height) +
           " is out of bounds";
}

// Allocates the pixels of a Width x Height picture filled with Fill; false
// when the memory is not there.
bool Allocate(TGraphic& G, int Width, int Height, uint32_t Fill)
{
    try {
        G.Pixels.assign(static_cast<size_t>(Width) * static_cast<size_t>(Height), Fill);
    } catch (const std::bad_alloc&) {
        G = TGraphic{};
        return false;
    }
    G.Width = Width;
    G.Height = Height;
    return true;
}

uint32_t Rgb(uint32_t R, uint32_t G, uint32_t B) { return Opaque | (R << 16) | (G << 8) | B; }

// Where a decoder's pixels go. The decoder delivers the picture row by row,
// at its own size or (JPEG) reduced; the sampler says which output rows a
// delivered row feeds and which delivered column each output column takes.
// Without a window every pixel goes one to one.
class TSampler {
public:
    // PictureW x PictureH: the picture's own size, in which the window is
    // given; DeliveredW x DeliveredH: the size the decoder delivers.
    bool Start(TGraphic& G, int PictureW, int PictureH, int DeliveredW, int DeliveredH, const TPictureWindow* Window,
               uint32_t Fill, std::string* Reason)
    {
        FG = &G;
        FCols.clear();
        FRows.clear();
        int width = DeliveredW, height = DeliveredH;
        if (Window) {
            const int l = std::clamp(Window->Left, 0, PictureW), t = std::clamp(Window->Top, 0, PictureH);
            const int r = std::clamp(Window->Right, l, PictureW), b = std::clamp(Window->Bottom, t, PictureH);
            if (r <= l || b <= t) {
                SayWhy(Reason, "the part of the picture asked for lies outside it");
                return false;
            }
            width = std::clamp(Window->Width, 1, r - l);
            height = std::clamp(Window->Height, 1, b - t);
            const bool whole = l == 0 && t == 0 && r == PictureW && b == PictureH && width == PictureW &&
                               height == PictureH && DeliveredW == PictureW && DeliveredH == PictureH;
            if (!whole) {
                FCols = Centres(l, r, width, PictureW, DeliveredW);
                FRows = Centres(t, b, height, PictureH, DeliveredH);
            }
        }
        if (TooLarge(width, height)) {
            SayWhy(Reason, OutOfBounds("picture", width, height));
            return false;
        }
        if (!Allocate(G, width, height, Fill)) {
            SayWhy(Reason, "out of memory");
            return false;
        }
        FLastRow = FRows.empty() ? DeliveredH - 1 : FRows.back();
        FFirstRow = FRows.empty() ? 0 : FRows.front();
        return true;
    }

    bool Whole() const { return FCols.empty(); }
    int Width() const { return FG->Width; }
    int Height() const { return FG->Height; }
    // The delivered rows outside FirstRow..LastRow feed no output row.
    int FirstRow() const { return FFirstRow; }
    int LastRow() const { return FLastRow; }
    int Col(int I) const { return FCols.empty() ? I : static_cast<int>(FCols[static_cast<size_t>(I)]); }
    // The delivered row output row J takes.
    int SourceRow(int J) const { return FRows.empty() ? J : static_cast<int>(FRows[static_cast<size_t>(J)]); }
    uint32_t* Row(int J) { return FG->Pixels.data() + static_cast<size_t>(J) * static_cast<size_t>(FG->Width); }

    // The output rows [First, Last) that delivered row Y feeds.
    void RowsOf(int64_t Y, int& First, int& Last) const
    {
        if (FRows.empty()) {
            const bool in = Y >= 0 && Y < FG->Height;
            First = in ? static_cast<int>(Y) : 0;
            Last = in ? First + 1 : 0;
            return;
        }
        const auto range = std::equal_range(FRows.begin(), FRows.end(), Y);
        First = static_cast<int>(range.first - FRows.begin());
        Last = static_cast<int>(range.second - FRows.begin());
    }

    // The output columns [First, Last) that take delivered columns X0 up to X1.
    void ColsOf(int64_t X0, int64_t X1, int& First, int& Last) const
    {
        if (FCols.empty()) {
            First = static_cast<int>(std::clamp<int64_t>(X0, 0, FG->Width));
            Last = static_cast<int>(std::clamp<int64_t>(X1, First, FG->Width));
            return;
        }
        First = static_cast<int>(std::lower_bound(FCols.begin(), FCols.end(), X0) - FCols.begin());
        Last = static_cast<int>(std::lower_bound(FCols.begin() + First, FCols.end(), X1) - FCols.begin());
    }

private:
    // The delivered coordinate under the centre of each of Count output
    // pixels spread over From..To of a picture Own pixels long, delivered
    // Delivered pixels long: never decreasing.
    static std::vector<int64_t> Centres(int From, int To, int Count, int Own, int Delivered)
    {
        std::vector<int64_t> v(static_cast<size_t>(Count));
        const double step = double(To - From) / Count, k = double(Delivered) / Own;
        for (int i = 0; i < Count; ++i) {
            const double centre = From + (i + 0.5) * step;
            v[static_cast<size_t>(i)] = std::clamp<int64_t>(static_cast<int64_t>(std::floor(centre * k)), 0,
                                                            int64_t(Delivered) - 1);
        }
        return v;
    }

    TGraphic* FG = nullptr;
    std::vector<int64_t> FCols, FRows;
    int FFirstRow = 0, FLastRow = 0;
};

// ---------------------------------------------------------------------------
// Windows BMP

enum : uint32_t { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3, BI_ALPHABITFIELDS = 6 };

struct TBytes {
    const uint8_t* D;
    size_t N;
    uint16_t U16(size_t o) const { return static_cast<uint16_t>(D[o] | D[o + 1] << 8); }
    uint32_t U32(size_t o) const
    {
        return static_cast<uint32_t>(D[o]) | static_cast<uint32_t>(D[o + 1]) << 8 | static_cast<uint32_t>(D[o + 2]) << 16 |
               static_cast<uint32_t>(D[o + 3]) << 24;
    }
    int32_t I32(size_t o) const { return static_cast<int32_t>(U32(o)); }
};

// One colour channel of a bit-field pixel, scaled to 8 bits.
struct TChannel {
    uint32_t Mask = 0;
    int Shift = 0;
    int Bits = 0;
    explicit TChannel(uint32_t M = 0) : Mask(M)
    {
        if (M) {
            Shift = std::countr_zero(M);
            Bits = std::min(32, std::popcount(M));
        }
    }
    uint32_t Get(uint32_t Pixel) const
    {
        if (!Mask)
            return 0;
        const uint64_t v = (Pixel & Mask) >> Shift;
        if (Bits >= 8)
            return static_cast<uint32_t>(v >> (Bits - 8)) & 0xFF;
        // Narrow channels are widened by repeating their bits, as screens
        // widen 5- and 6-bit colours: 11111 gives 255, 10000 gives 132.
        uint64_t out = 0;
        int filled = 0;
        while (filled < 8) {
            out = out << Bits | v;
            filled += Bits;
        }
        return static_cast<uint32_t>(out >> (filled - 8)) & 0xFF;
    }
};

// What the headers of a BMP file say, checked against the file's size.
struct TBmpLayout {
    int Width = 0, Height = 0;
    int Bpp = 0;
    bool TopDown = false;
    bool Rle8 = false, Rle4 = false;
    TChannel Red, Green, Blue, Alpha;
    std::vector<uint32_t> Palette;
    uint64_t PixelStart = 0;
};

bool ReadBmpLayout(const uint8_t* Data, size_t Size, TBmpLayout& L, std::string* Reason)
{
    const TBytes b{Data, Size};
    if (!Data || Size < 14 + 12 || Data[0] != 'B' || Data[1] != 'M') {
        SayWhy(Reason, "not a BMP file");
        return false;
    }
    const uint32_t offBits = b.U32(10);
    const uint64_t hdr = b.U32(14);
    if (hdr < 12 || (hdr > 12 && hdr < 16) || 14 + hdr > Size) {
        SayWhy(Reason, "the BMP header is damaged or cut short");
        return false;
    }

    int64_t width = 0, height = 0;
    int bpp = 0;
    uint32_t compression = BI_RGB;
    uint64_t clrUsed = 0;
    size_t entrySize = 4;
    if (hdr == 12) {  // OS/2 1.x core header
        width = b.U16(18);
        height = b.U16(20);
        bpp = b.U16(24);
        entrySize = 3;
    } else {
        width = b.I32(18);
        height = b.I32(22);
        bpp = b.U16(28);
        if (hdr >= 20)
            compression = b.U32(30);
        if (hdr >= 36)
            clrUsed = b.U32(46);
        // OS/2 2.x headers give 3 and 4 other meanings (Huffman, RLE24).
        if (hdr == 64 && (compression == 3 || compression == 4)) {
            SayWhy(Reason, "OS/2 compressed bitmaps are not supported");
            return false;
        }
    }
    L.TopDown = height < 0;
    if (L.TopDown)
        height = -height;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
        SayWhy(Reason, "unsupported bit depth " + std::to_string(bpp));
        return false;
    }
    if (TooLarge(width, height)) {
        SayWhy(Reason, OutOfBounds("picture", width, height));
        return false;
    }
    L.Rle8 = compression == BI_RLE8;
    L.Rle4 = compression == BI_RLE4;
    const bool fields = compression == BI_BITFIELDS || compression == BI_ALPHABITFIELDS;
    if (compression != BI_RGB && !(L.Rle8 && bpp == 8) && !(L.Rle4 && bpp == 4) &&
        !(fields && (bpp == 16 || bpp == 32))) {
        SayWhy(Reason, "unsupported compression " + std::to_string(compression) + " at " + std::to_string(bpp) + " bits");
        return false;
    }
    if ((L.Rle8 || L.Rle4) && L.TopDown) {
        SayWhy(Reason, "a run-length bitmap cannot be top-down");
        return false;
    }

    // Colour masks.
    size_t tableStart = 14 + static_cast<size_t>(hdr);
    if (fields) {
        if (hdr >= 52) {
            L.Red = TChannel(b.U32(14 + 40));
            L.Green = TChannel(b.U32(14 + 44));
            L.Blue = TChannel(b.U32(14 + 48));
            if (hdr >= 56)
                L.Alpha = TChannel(b.U32(14 + 52));
        } else {
            const size_t n = compression == BI_ALPHABITFIELDS ? 16 : 12;
            if (tableStart + n > Size) {
                SayWhy(Reason, "the BMP colour masks are cut short");
                return false;
            }
            L.Red = TChannel(b.U32(tableStart));
            L.Green = TChannel(b.U32(tableStart + 4));
            L.Blue = TChannel(b.U32(tableStart + 8));
            if (n == 16)
                L.Alpha = TChannel(b.U32(tableStart + 12));
            tableStart += n;
        }
    } else if (bpp == 16) {
        L.Red = TChannel(0x7C00);
        L.Green = TChannel(0x03E0);
        L.Blue = TChannel(0x001F);
    } else if (bpp == 32) {
        L.Red = TChannel(0xFF0000);
        L.Green = TChannel(0xFF00);
        L.Blue = TChannel(0xFF);
    }

    // Colour table.
    if (bpp <= 8) {
        const uint64_t full = uint64_t(1) << bpp;
        uint64_t entries = clrUsed ? std::min(clrUsed, full) : full;
        const uint64_t room = tableStart < Size ? (Size - tableStart) / entrySize : 0;
        entries = std::min(entries, room);
        L.Palette.assign(full, Opaque);
        for (uint64_t i = 0; i < entries; ++i) {
            const size_t o = tableStart + static_cast<size_t>(i) * entrySize;
            L.Palette[i] = Rgb(Data[o + 2], Data[o + 1], Data[o]);
        }
        if (clrUsed == 0 || clrUsed > full)
            clrUsed = full;
        if (offBits == 0 || offBits < tableStart)
            tableStart += static_cast<size_t>(std::min(clrUsed, entries)) * entrySize;
    }
    L.PixelStart = offBits >= 14 + hdr ? uint64_t(offBits) : uint64_t(tableStart);
    if (L.PixelStart >= Size) {
        SayWhy(Reason, "the BMP pixel data is missing");
        return false;
    }
    L.Width = static_cast<int>(width);
    L.Height = static_cast<int>(height);
    L.Bpp = bpp;
    return true;
}

// Run-length pixels (bottom-up rows of runs and escapes). Pixels the runs
// skip stay transparent: the page shows through.
TGraphic DecodeRunLength(const uint8_t* Data, size_t Size, const TBmpLayout& L, const TPictureWindow* Window,
                         std::string* Reason)
{
    const int w = L.Width, h = L.Height;
    const bool rle8 = L.Rle8;
    TGraphic g;
    TSampler out;
    std::string why;
    if (!out.Start(g, w, h, w, h, Window, 0, &why))
        return Failed(Reason, why);

    // The output rows of the file row being decoded (file rows count from
    // the bottom of the picture).
    int y = 0, rowFirst = 0, rowLast = 0;
    auto enterRow = [&] { out.RowsOf(int64_t(h) - 1 - y, rowFirst, rowLast); };
    // The rows above the window's top come last in the file: once the
    // decoding reaches them, nothing more is needed.
    auto beyond = [&] { return y >= h || int64_t(h) - 1 - y < out.FirstRow(); };
    // Pixels x .. x + Count - 1 of the row, the k-th of them of index
    // Index(k).
    auto putRun = [&](int x, int Count, auto&& Index) {
        if (rowFirst >= rowLast || x >= w)
            return;
        int first = 0, last = 0;
        out.ColsOf(x, int64_t(x) + Count, first, last);
        for (int i = first; i < last; ++i) {
            const uint32_t colour = L.Palette[Index(out.Col(i) - x)];
            for (int j = rowFirst; j < rowLast; ++j)
                out.Row(j)[i] = colour;
        }
    };

    size_t p = static_cast<size_t>(L.PixelStart);
    int x = 0;
    bool complete = false;
    enterRow();
    while (!complete && p + 1 < Size) {
        const uint8_t a = Data[p], c = Data[p + 1];
        p += 2;
        if (a > 0) {
            // An encoded run: a pixels of one index (RLE8) or of two
            // alternating indexes (RLE4).
            const int n = std::min<int>(a, w - x);
            putRun(x, n, [&](int k) { return rle8 ? c : (k % 2 == 0 ? c >> 4 : c & 15); });
            x += n;
        } else if (c == 0) {
            x = 0;
            ++y;
            complete = beyond();
            if (!complete)
                enterRow();
        } else if (c == 1) {
            complete = true;
        } else if (c == 2) {
            if (p + 1 >= Size)
                break;
            // A delta moves right and up; the column never passes the
            // row's end, so that no sum of deltas can run away.
            x = std::min(x + Data[p], w);
            y += Data[p + 1];
            p += 2;
            complete = beyond();
            if (!complete)
                enterRow();
        } else {
            // Absolute mode: c literal indexes, padded to a whole word.
            const size_t bytes = rle8 ? c : (c + 1u) / 2;
            if (p + bytes > Size)
                break;
            const uint8_t* s = Data + p;
            const int n = std::min<int>(c, w - x);
            putRun(x, n, [&](int k) { return rle8 ? s[k] : (k % 2 == 0 ? s[k / 2] >> 4 : s[k / 2] & 15); });
            x = std::min(x + int(c), w);
            p += bytes + (bytes & 1);
        }
    }
    if (!complete)
        return Failed(Reason, "the run-length data is cut short");
    return g;
}

TGraphic DecodeBmpPixels(const uint8_t* Data, size_t Size, const TBmpLayout& L, const TPictureWindow* Window,
                         std::string* Reason)
{
    const TBytes b{Data, Size};
    const int w = L.Width, h = L.Height, bpp = L.Bpp;
    const uint64_t rowBits = uint64_t(w) * bpp;
    const uint64_t stride = (rowBits + 31) / 32 * 4;
    const uint64_t need = stride * uint64_t(h - 1) + (rowBits + 7) / 8;
    if (L.PixelStart + need > Size)
        return Failed(Reason, "the BMP pixel data is cut short");
    TGraphic g;
    TSampler out;
    std::string why;
    if (!out.Start(g, w, h, w, h, Window, Opaque, &why))
        return Failed(Reason, why);
    const bool useAlpha = L.Alpha.Mask != 0;
    bool anyAlpha = false;
    const int width = out.Width();
    for (int j = 0; j < out.Height(); ++j) {
        const int row = out.SourceRow(j);
        const size_t offset = static_cast<size_t>(L.PixelStart + stride * uint64_t(L.TopDown ? row : h - 1 - row));
        const uint8_t* s = Data + offset;
        uint32_t* d = out.Row(j);
        switch (bpp) {
        case 1:
        case 4:
        case 8: {
            const int perByte = 8 / bpp;
            const unsigned mask = (1u << bpp) - 1;
            for (int i = 0; i < width; ++i) {
                const int x = out.Col(i);
                const int shift = (perByte - 1 - x % perByte) * bpp;
                d[i] = L.Palette[(s[x / perByte] >> shift) & mask];
            }
            break;
        }
        case 16:
        case 32:
            for (int i = 0; i < width; ++i) {
                const size_t x = static_cast<size_t>(out.Col(i));
                const uint32_t v = bpp == 16 ? b.U16(offset + 2 * x) : b.U32(offset + 4 * x);
                const uint32_t a = useAlpha ? L.Alpha.Get(v) : 0xFF;
                anyAlpha = anyAlpha || a != 0;
                d[i] = a << 24 | L.Red.Get(v) << 16 | L.Green.Get(v) << 8 | L.Blue.Get(v);
            }
            break;
        case 24:
            for (int i = 0; i < width; ++i) {
                const size_t x = static_cast<size_t>(out.Col(i));
                d[i] = Rgb(s[3 * x + 2], s[3 * x + 1], s[3 * x]);
            }
            break;
        }
    }
    // An alpha mask whose channel is zero everywhere is a writer's slip, not
    // an invisible picture: everywhere in the picture, not only in the window.
    if (useAlpha && !anyAlpha && !out.Whole())
        for (int row = 0; row < h && !anyAlpha; ++row) {
            const size_t offset = static_cast<size_t>(L.PixelStart + stride * uint64_t(row));
            for (int x = 0; x < w && !anyAlpha; ++x)
                anyAlpha = L.Alpha.Get(bpp == 16 ? b.U16(offset + 2 * size_t(x)) : b.U32(offset + 4 * size_t(x))) != 0;
        }
    if (useAlpha && !anyAlpha)
        for (uint32_t& px : g.Pixels)
            px |= Opaque;
    return g;
}

}  // namespace

TGraphic DecodeBmp(const uint8_t* Data, size_t Size, std::string* Reason, const TPictureWindow* Window)
{
    TBmpLayout layout;
    std::string why;
    if (!ReadBmpLayout(Data, Size, layout, &why))
        return Failed(Reason, why);
    if (layout.Rle8 || layout.Rle4)
        return DecodeRunLength(Data, Size, layout, Window, Reason);
    return DecodeBmpPixels(Data, Size, layout, Window, Reason);
}

// ---------------------------------------------------------------------------
// JPEG

namespace {

struct TJpegJob {
    jpeg_decompress_struct Info{};
    jpeg_error_mgr Errors{};
    jpeg_progress_mgr Progress{};
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX] = {};
    bool Truncated = false;
    bool Created = false;
    std::vector<JSAMPLE> Row;
};

extern "C" void JpegErrorExit(j_common_ptr Info)
{
    TJpegJob* job = static_cast<TJpegJob*>(Info->client_data);
    (*Info->err->format_message)(Info, job->Message);
    std::longjmp(job->Jump, 1);
}

extern "C" void JpegEmitMessage(j_common_ptr Info, int Level)
{
    if (Level < 0) {
        TJpegJob* job = static_cast<TJpegJob*>(Info->client_data);
        if (Info->err->msg_code == JWRN_JPEG_EOF)
            job->Truncated = true;
        ++Info->err->num_warnings;
    }
}

// Progressive pictures with an absurd number of scans cost time without end.
extern "C" void JpegProgress(j_common_ptr Info)
{
    j_decompress_ptr d = reinterpret_cast<j_decompress_ptr>(Info);
    if (d->input_scan_number > 500) {
        TJpegJob* job = static_cast<TJpegJob*>(Info->client_data);
        std::snprintf(job->Message, sizeof job->Message, "too many scans");
        std::longjmp(job->Jump, 1);
    }
}

// The largest reduction libjpeg can make (1/1, 1/2, 1/4 or 1/8) that keeps
// the window's part at least as large as the window's size.
unsigned JpegReduction(const TPictureWindow* Window, int Width, int Height)
{
    if (!Window)
        return 1;
    const int64_t l = std::clamp(Window->Left, 0, Width), t = std::clamp(Window->Top, 0, Height);
    const int64_t partW = std::clamp<int64_t>(Window->Right, l, Width) - l;
    const int64_t partH = std::clamp<int64_t>(Window->Bottom, t, Height) - t;
    for (unsigned s = 8; s > 1; s /= 2)
        if (partW >= int64_t(Window->Width) * s && partH >= int64_t(Window->Height) * s)
            return s;
    return 1;
}

// Decodes into G (or only reads the size into SizeOnly); the job lives on
// the heap so that nothing the jump skips over needs unwinding.
bool RunJpeg(TJpegJob& Job, const uint8_t* Data, size_t Size, const TPictureWindow* Window, TGraphic& G,
             TPictureSize* SizeOnly, bool& Whole, std::string* Reason)
{
    if (setjmp(Job.Jump)) {
        SayWhy(Reason, Job.Message);
        return false;
    }
    Job.Info.err = jpeg_std_error(&Job.Errors);
    Job.Errors.error_exit = JpegErrorExit;
    Job.Errors.emit_message = JpegEmitMessage;
    Job.Info.client_data = &Job;  // kept by the creation, which clears the rest
    jpeg_create_decompress(&Job.Info);
    Job.Created = true;
    Job.Info.mem->max_memory_to_use = MaxJpegWorkingMemory;
    Job.Progress.progress_monitor = JpegProgress;
    Job.Info.progress = &Job.Progress;
    jpeg_mem_src(&Job.Info, Data, static_cast<unsigned long>(Size));
    jpeg_read_header(&Job.Info, TRUE);
    const int64_t width = Job.Info.image_width, height = Job.Info.image_height;
    if (TooLarge(width, height)) {
        SayWhy(Reason, OutOfBounds("picture", width, height));
        return false;
    }
    if (SizeOnly) {
        SizeOnly->Width = static_cast<int>(width);
        SizeOnly->Height = static_cast<int>(height);
        return true;
    }
    const bool cmyk = Job.Info.jpeg_color_space == JCS_CMYK || Job.Info.jpeg_color_space == JCS_YCCK;
    Job.Info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    Job.Info.scale_num = 1;
    Job.Info.scale_denom = JpegReduction(Window, static_cast<int>(width), static_cast<int>(height));
    jpeg_start_decompress(&Job.Info);
    const int w = static_cast<int>(Job.Info.output_width), h = static_cast<int>(Job.Info.output_height);
    const int n = Job.Info.output_components;
    if (TooLarge(w, h) || (n != 3 && n != 4)) {
        SayWhy(Reason, "unexpected output layout");
        return false;
    }
    TSampler out;
    if (!out.Start(G, static_cast<int>(width), static_cast<int>(height), w, h, Window, Opaque, Reason))
        return false;
    Whole = out.Whole();
    Job.Row.resize(static_cast<size_t>(w) * n);
    // Adobe writes CMYK inverted; so do nearly all CMYK JPEG files.
    const bool inverted = Job.Info.saw_Adobe_marker;
    const int outWidth = out.Width();
    while (Job.Info.output_scanline < Job.Info.output_height) {
        const int y = static_cast<int>(Job.Info.output_scanline);
        JSAMPROW row = Job.Row.data();
        if (jpeg_read_scanlines(&Job.Info, &row, 1) != 1)
            break;
        if (Job.Truncated)
            break;
        int first = 0, last = 0;
        out.RowsOf(y, first, last);
        for (int j = first; j < last; ++j) {
            uint32_t* d = out.Row(j);
            if (n == 3) {
                for (int i = 0; i < outWidth; ++i) {
                    const size_t x = static_cast<size_t>(out.Col(i));
                    d[i] = Rgb(row[3 * x], row[3 * x + 1], row[3 * x + 2]);
                }
            } else {
                for (int i = 0; i < outWidth; ++i) {
                    const size_t x = static_cast<size_t>(out.Col(i));
                    uint32_t c = row[4 * x], m = row[4 * x + 1], yy = row[4 * x + 2], k = row[4 * x + 3];
                    if (!inverted) {
                        c = 255 - c;
                        m = 255 - m;
                        yy = 255 - yy;
                        k = 255 - k;
                    }
                    d[i] = Rgb(c * k / 255, m * k / 255, yy * k / 255);
                }
            }
        }
        // The rows below a window are not needed.
        if (!out.Whole() && y >= out.LastRow())
            return true;
    }
    if (Job.Truncated) {
        SayWhy(Reason, "the JPEG data is cut short");
        return false;
    }
    jpeg_finish_decompress(&Job.Info);
    if (Job.Truncated) {
        SayWhy(Reason, "the JPEG data is cut short");
        return false;
    }
    return true;
}

bool JpegJob(const uint8_t* Data, size_t Size, const TPictureWindow* Window, TGraphic& G, TPictureSize* SizeOnly,
             bool& Whole, std::string* Reason)
{
    if (!Data || Size < 4 || Data[0] != 0xFF || Data[1] != 0xD8) {
        SayWhy(Reason, "not a JPEG file");
        return false;
    }
    auto job = std::make_unique<TJpegJob>();
    const bool ok = RunJpeg(*job, Data, Size, Window, G, SizeOnly, Whole, Reason);
    if (job->Created)
        jpeg_destroy_decompress(&job->Info);
    return ok;
}

}  // namespace

TGraphic DecodeJpeg(const uint8_t* Data, size_t Size, std::string* Reason, const TPictureWindow* Window)
{
    TGraphic g;
    std::string why;
    bool whole = false;
    if (!JpegJob(Data, Size, Window, g, nullptr, whole, &why))
        return Failed(Reason, why);
    // Only the whole picture is the file's picture.
    if (whole) {
        try {
            g.JpegData.assign(Data, Data + Size);
        } catch (const std::bad_alloc&) {
            return Failed(Reason, "out of memory");
        }
    }
    return g;
}

// ---------------------------------------------------------------------------
// GIF

namespace {

struct TGifSource {
    const uint8_t* Data;
    size_t Size;
    size_t Pos;
};

extern "C" int ReadGifBytes(GifFileType* File, GifByteType* Buffer, int Count)
{
    auto* src = static_cast<TGifSource*>(File->UserData);
    const size_t n = std::min(static_cast<size_t>(std::max(Count, 0)), src->Size - src->Pos);
    std::memcpy(Buffer, src->Data + src->Pos, n);
    src->Pos += n;
    return static_cast<int>(n);
}

struct TGifCloser {
    void operator()(GifFileType* F) const
    {
        int err = 0;
        DGifCloseFile(F, &err);
    }
};

std::string GifError(int Code)
{
    const char* s = GifErrorString(Code);
    return s ? s : "GIF error " + std::to_string(Code);
}

TGraphic GifJob(const uint8_t* Data, size_t Size, std::string* Reason, const TPictureWindow* Window,
                TPictureSize* SizeOnly)
{
    if (!Data || Size < 13 || std::memcmp(Data, "GIF", 3) != 0)
        return Failed(Reason, "not a GIF file");
    TGifSource src{Data, Size, 0};
    int err = 0;
    std::unique_ptr<GifFileType, TGifCloser> gif(DGifOpen(&src, ReadGifBytes, &err));
    if (!gif)
        return Failed(Reason, GifError(err));
    GifFileType* f = gif.get();

    int transparent = -1;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(f, &type) == GIF_ERROR)
            return Failed(Reason, GifError(f->Error));
        if (type == TERMINATE_RECORD_TYPE)
            return Failed(Reason, "the GIF file holds no picture");
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(f, &code, &ext) == GIF_ERROR)
                return Failed(Reason, GifError(f->Error));
            if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4)
                transparent = (ext[1] & 1) ? ext[4] : -1;
            while (ext) {
                if (DGifGetExtensionNext(f, &ext) == GIF_ERROR)
                    return Failed(Reason, GifError(f->Error));
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE)
            continue;

        if (DGifGetImageDesc(f) == GIF_ERROR)
            return Failed(Reason, GifError(f->Error));
        const GifImageDesc& d = f->Image;
        const int64_t fl = d.Left, ft = d.Top, fw = d.Width, fh = d.Height;
        if (TooLarge(fw, fh))
            return Failed(Reason, OutOfBounds("frame", fw, fh));
        const int64_t width = std::max<int64_t>(f->SWidth, fl + fw), height = std::max<int64_t>(f->SHeight, ft + fh);
        if (TooLarge(width, height))
            return Failed(Reason, OutOfBounds("picture", width, height));
        const ColorMapObject* map = d.ColorMap ? d.ColorMap : f->SColorMap;
        if (!map || !map->Colors || map->ColorCount <= 0)
            return Failed(Reason, "the GIF file has no colour table");
        if (SizeOnly) {
            SizeOnly->Width = static_cast<int>(width);
            SizeOnly->Height = static_cast<int>(height);
            return TGraphic{};
        }
        TGraphic g;
        TSampler out;
        std::string why;
        if (!out.Start(g, static_cast<int>(width), static_cast<int>(height), static_cast<int>(width),
                       static_cast<int>(height), Window, 0, &why))
            return Failed(Reason, why);
        int colFirst = 0, colLast = 0;
        out.ColsOf(fl, fl + fw, colFirst, colLast);
        std::vector<GifPixelType> line(static_cast<size_t>(fw));
        auto putLine = [&](int64_t row) {
            int first = 0, last = 0;
            out.RowsOf(ft + row, first, last);
            for (int j = first; j < last; ++j) {
                uint32_t* o = out.Row(j);
                for (int i = colFirst; i < colLast; ++i) {
                    const int index = line[static_cast<size_t>(out.Col(i) - fl)];
                    if (index == transparent)
                        continue;
                    if (index >= map->ColorCount) {
                        o[i] = Opaque;
                    } else {
                        const GifColorType& c = map->Colors[index];
                        o[i] = Rgb(c.Red, c.Green, c.Blue);
                    }
                }
            }
        };
        if (d.Interlace) {
            static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4; ++pass)
                for (int64_t row = start[pass]; row < fh; row += step[pass]) {
                    if (DGifGetLine(f, line.data(), static_cast<int>(fw)) == GIF_ERROR)
                        return Failed(Reason, GifError(f->Error));
                    putLine(row);
                }
        } else {
            for (int64_t row = 0; row < fh; ++row) {
                if (DGifGetLine(f, line.data(), static_cast<int>(fw)) == GIF_ERROR)
                    return Failed(Reason, GifError(f->Error));
                putLine(row);
                // The rows below a window are not needed.
                if (!out.Whole() && ft + row >= out.LastRow())
                    break;
            }
        }
        return g;  // the first frame is the picture
    }
}

}  // namespace

TGraphic DecodeGif(const uint8_t* Data, size_t Size, std::string* Reason, const TPictureWindow* Window)
{
    return GifJob(Data, Size, Reason, Window, nullptr);
}

TGraphic DecodePicture(TPictureFormat Format, const std::vector<uint8_t>& Bytes, std::string* Reason,
                       const TPictureWindow* Window)
{
    switch (Format) {
    case TPictureFormat::Jpeg:
        return DecodeJpeg(Bytes.data(), Bytes.size(), Reason, Window);
    case TPictureFormat::Gif:
        return DecodeGif(Bytes.data(), Bytes.size(), Reason, Window);
    case TPictureFormat::Bmp:
        break;
    }
    return DecodeBmp(Bytes.data(), Bytes.size(), Reason, Window);
}

bool ProbePicture(TPictureFormat Format, const std::vector<uint8_t>& Bytes, TPictureSize& Size, std::string* Reason)
{
    Size = TPictureSize{};
    std::string why;
    bool ok = false;
    switch (Format) {
    case TPictureFormat::Jpeg: {
        TGraphic unused;
        bool whole = false;
        ok = JpegJob(Bytes.data(), Bytes.size(), nullptr, unused, &Size, whole, &why);
        break;
    }
    case TPictureFormat::Gif:
        GifJob(Bytes.data(), Bytes.size(), &why, nullptr, &Size);
        ok = Size.Width > 0;
        break;
    case TPictureFormat::Bmp: {
        TBmpLayout layout;
        ok = ReadBmpLayout(Bytes.data(), Bytes.size(), layout, &why);
        if (ok)
            Size = TPictureSize{layout.Width, layout.Height};
        break;
    }
    }
    if (!ok && Reason)
        *Reason = why;
    return ok;
}

}  // namespace quillard
