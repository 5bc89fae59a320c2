#include "surfaces/pictures.h"

#include <algorithm>
#include <bit>
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

}  // namespace

TGraphic DecodeBmp(const uint8_t* Data, size_t Size, std::string* Reason)
{
    const TBytes b{Data, Size};
    if (!Data || Size < 14 + 12 || Data[0] != 'B' || Data[1] != 'M')
        return Failed(Reason, "not a BMP file");
    const uint32_t offBits = b.U32(10);
    const uint64_t hdr = b.U32(14);
    if (hdr < 12 || (hdr > 12 && hdr < 16) || 14 + hdr > Size)
        return Failed(Reason, "the BMP header is damaged or cut short");

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
        if (hdr == 64 && (compression == 3 || compression == 4))
            return Failed(Reason, "OS/2 compressed bitmaps are not supported");
    }
    const bool topDown = height < 0;
    if (topDown)
        height = -height;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return Failed(Reason, "unsupported bit depth " + std::to_string(bpp));
    if (TooLarge(width, height))
        return Failed(Reason, "picture size " + std::to_string(width) + " x " + std::to_string(height) +
                                  " is out of bounds");
    const bool rle8 = compression == BI_RLE8, rle4 = compression == BI_RLE4;
    const bool fields = compression == BI_BITFIELDS || compression == BI_ALPHABITFIELDS;
    if (compression != BI_RGB && !(rle8 && bpp == 8) && !(rle4 && bpp == 4) && !(fields && (bpp == 16 || bpp == 32)))
        return Failed(Reason, "unsupported compression " + std::to_string(compression) + " at " +
                                  std::to_string(bpp) + " bits");
    if ((rle8 || rle4) && topDown)
        return Failed(Reason, "a run-length bitmap cannot be top-down");

    // Colour masks.
    TChannel red, green, blue, alpha;
    size_t tableStart = 14 + static_cast<size_t>(hdr);
    if (fields) {
        if (hdr >= 52) {
            red = TChannel(b.U32(14 + 40));
            green = TChannel(b.U32(14 + 44));
            blue = TChannel(b.U32(14 + 48));
            if (hdr >= 56)
                alpha = TChannel(b.U32(14 + 52));
        } else {
            const size_t n = compression == BI_ALPHABITFIELDS ? 16 : 12;
            if (tableStart + n > Size)
                return Failed(Reason, "the BMP colour masks are cut short");
            red = TChannel(b.U32(tableStart));
            green = TChannel(b.U32(tableStart + 4));
            blue = TChannel(b.U32(tableStart + 8));
            if (n == 16)
                alpha = TChannel(b.U32(tableStart + 12));
            tableStart += n;
        }
    } else if (bpp == 16) {
        red = TChannel(0x7C00);
        green = TChannel(0x03E0);
        blue = TChannel(0x001F);
    } else if (bpp == 32) {
        red = TChannel(0xFF0000);
        green = TChannel(0xFF00);
        blue = TChannel(0xFF);
    }

    // Colour table.
    std::vector<uint32_t> palette;
    if (bpp <= 8) {
        const uint64_t full = uint64_t(1) << bpp;
        uint64_t entries = clrUsed ? std::min(clrUsed, full) : full;
        const uint64_t room = tableStart < Size ? (Size - tableStart) / entrySize : 0;
        entries = std::min(entries, room);
        palette.assign(full, Opaque);
        for (uint64_t i = 0; i < entries; ++i) {
            const size_t o = tableStart + static_cast<size_t>(i) * entrySize;
            palette[i] = Rgb(Data[o + 2], Data[o + 1], Data[o]);
        }
        if (clrUsed == 0 || clrUsed > full)
            clrUsed = full;
        if (offBits == 0 || offBits < tableStart)
            tableStart += static_cast<size_t>(std::min(clrUsed, entries)) * entrySize;
    }
    const uint64_t pixelStart = offBits >= 14 + hdr ? uint64_t(offBits) : uint64_t(tableStart);
    if (pixelStart >= Size)
        return Failed(Reason, "the BMP pixel data is missing");

    const int w = static_cast<int>(width), h = static_cast<int>(height);
    TGraphic g;
    if (rle8 || rle4) {
        // Pixels the runs skip stay transparent: the page shows through.
        if (!Allocate(g, w, h, 0))
            return Failed(Reason, "out of memory");
        auto put = [&](int x, int y, unsigned index) {
            if (x < w && y < h)
                g.Pixels[static_cast<size_t>(h - 1 - y) * w + x] = palette[index];
        };
        size_t p = static_cast<size_t>(pixelStart);
        int x = 0, y = 0;
        bool complete = false;
        while (!complete && p + 1 < Size) {
            const uint8_t a = Data[p], c = Data[p + 1];
            p += 2;
            if (a > 0) {
                for (int i = 0; i < a && x < w; ++i, ++x)
                    put(x, y, rle8 ? c : (i % 2 == 0 ? c >> 4 : c & 15));
            } else if (c == 0) {
                x = 0;
                if (++y >= h)
                    complete = true;
            } else if (c == 1) {
                complete = true;
            } else if (c == 2) {
                if (p + 1 >= Size)
                    break;
                x += Data[p];
                y += Data[p + 1];
                p += 2;
                if (y >= h)
                    complete = true;
            } else {
                const size_t bytes = rle8 ? c : (c + 1u) / 2;
                if (p + bytes > Size)
                    break;
                for (int i = 0; i < c; ++i, ++x) {
                    if (x >= w)
                        continue;
                    const uint8_t v = rle8 ? Data[p + i] : Data[p + i / 2];
                    put(x, y, rle8 ? v : (i % 2 == 0 ? v >> 4 : v & 15));
                }
                p += bytes + (bytes & 1);
            }
        }
        if (!complete)
            return Failed(Reason, "the run-length data is cut short");
        return g;
    }

    const uint64_t rowBits = uint64_t(w) * bpp;
    const uint64_t stride = (rowBits + 31) / 32 * 4;
    const uint64_t need = stride * uint64_t(h - 1) + (rowBits + 7) / 8;
    if (pixelStart + need > Size)
        return Failed(Reason, "the BMP pixel data is cut short");
    if (!Allocate(g, w, h, Opaque))
        return Failed(Reason, "out of memory");
    const bool useAlpha = alpha.Mask != 0;
    bool anyAlpha = false;
    for (int row = 0; row < h; ++row) {
        const uint8_t* s = Data + pixelStart + stride * uint64_t(row);
        uint32_t* d = g.Pixels.data() + static_cast<size_t>(topDown ? row : h - 1 - row) * w;
        switch (bpp) {
        case 1:
        case 4:
        case 8: {
            const int perByte = 8 / bpp;
            const unsigned mask = (1u << bpp) - 1;
            for (int x = 0; x < w; ++x) {
                const int shift = (perByte - 1 - x % perByte) * bpp;
                d[x] = palette[(s[x / perByte] >> shift) & mask];
            }
            break;
        }
        case 16:
        case 32:
            for (int x = 0; x < w; ++x) {
                const uint32_t v = bpp == 16 ? b.U16(static_cast<size_t>(s - Data) + 2 * size_t(x))
                                             : b.U32(static_cast<size_t>(s - Data) + 4 * size_t(x));
                const uint32_t a = useAlpha ? alpha.Get(v) : 0xFF;
                anyAlpha = anyAlpha || a != 0;
                d[x] = a << 24 | red.Get(v) << 16 | green.Get(v) << 8 | blue.Get(v);
            }
            break;
        case 24:
            for (int x = 0; x < w; ++x)
                d[x] = Rgb(s[3 * x + 2], s[3 * x + 1], s[3 * x]);
            break;
        }
    }
    // An alpha mask whose channel is zero everywhere is a writer's slip, not
    // an invisible picture.
    if (useAlpha && !anyAlpha)
        for (uint32_t& px : g.Pixels)
            px |= Opaque;
    return g;
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

// Decodes into G; the job lives on the heap so that nothing the jump skips
// over needs unwinding.
bool RunJpeg(TJpegJob& Job, const uint8_t* Data, size_t Size, TGraphic& G, std::string& Why)
{
    if (setjmp(Job.Jump)) {
        Why = Job.Message;
        return false;
    }
    Job.Info.err = jpeg_std_error(&Job.Errors);
    Job.Errors.error_exit = JpegErrorExit;
    Job.Errors.emit_message = JpegEmitMessage;
    Job.Info.client_data = &Job;  // kept by the creation, which clears the rest
    jpeg_create_decompress(&Job.Info);
    Job.Created = true;
    Job.Progress.progress_monitor = JpegProgress;
    Job.Info.progress = &Job.Progress;
    jpeg_mem_src(&Job.Info, Data, static_cast<unsigned long>(Size));
    jpeg_read_header(&Job.Info, TRUE);
    if (TooLarge(Job.Info.image_width, Job.Info.image_height)) {
        Why = "picture size " + std::to_string(Job.Info.image_width) + " x " + std::to_string(Job.Info.image_height) +
              " is out of bounds";
        return false;
    }
    const bool cmyk = Job.Info.jpeg_color_space == JCS_CMYK || Job.Info.jpeg_color_space == JCS_YCCK;
    Job.Info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&Job.Info);
    const int w = static_cast<int>(Job.Info.output_width), h = static_cast<int>(Job.Info.output_height);
    const int n = Job.Info.output_components;
    if (TooLarge(w, h) || (n != 3 && n != 4)) {
        Why = "unexpected output layout";
        return false;
    }
    if (!Allocate(G, w, h, Opaque)) {
        Why = "out of memory";
        return false;
    }
    Job.Row.resize(static_cast<size_t>(w) * n);
    // Adobe writes CMYK inverted; so do nearly all CMYK JPEG files.
    const bool inverted = Job.Info.saw_Adobe_marker;
    while (Job.Info.output_scanline < Job.Info.output_height) {
        const int y = static_cast<int>(Job.Info.output_scanline);
        JSAMPROW row = Job.Row.data();
        if (jpeg_read_scanlines(&Job.Info, &row, 1) != 1)
            break;
        uint32_t* d = G.Pixels.data() + static_cast<size_t>(y) * w;
        if (n == 3) {
            for (int x = 0; x < w; ++x)
                d[x] = Rgb(row[3 * x], row[3 * x + 1], row[3 * x + 2]);
        } else {
            for (int x = 0; x < w; ++x) {
                uint32_t c = row[4 * x], m = row[4 * x + 1], yy = row[4 * x + 2], k = row[4 * x + 3];
                if (!inverted) {
                    c = 255 - c;
                    m = 255 - m;
                    yy = 255 - yy;
                    k = 255 - k;
                }
                d[x] = Rgb(c * k / 255, m * k / 255, yy * k / 255);
            }
        }
        if (Job.Truncated)
            break;
    }
    if (Job.Truncated) {
        Why = "the JPEG data is cut short";
        return false;
    }
    jpeg_finish_decompress(&Job.Info);
    if (Job.Truncated) {
        Why = "the JPEG data is cut short";
        return false;
    }
    return true;
}

}  // namespace

TGraphic DecodeJpeg(const uint8_t* Data, size_t Size, std::string* Reason)
{
    if (!Data || Size < 4 || Data[0] != 0xFF || Data[1] != 0xD8)
        return Failed(Reason, "not a JPEG file");
    auto job = std::make_unique<TJpegJob>();
    TGraphic g;
    std::string why;
    const bool ok = RunJpeg(*job, Data, Size, g, why);
    if (job->Created)
        jpeg_destroy_decompress(&job->Info);
    if (!ok)
        return Failed(Reason, why);
    try {
        g.JpegData.assign(Data, Data + Size);
    } catch (const std::bad_alloc&) {
        return Failed(Reason, "out of memory");
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

}  // namespace

TGraphic DecodeGif(const uint8_t* Data, size_t Size, std::string* Reason)
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
            return Failed(Reason, "frame size " + std::to_string(fw) + " x " + std::to_string(fh) + " is out of bounds");
        const int64_t width = std::max<int64_t>(f->SWidth, fl + fw), height = std::max<int64_t>(f->SHeight, ft + fh);
        if (TooLarge(width, height))
            return Failed(Reason, "picture size " + std::to_string(width) + " x " + std::to_string(height) +
                                      " is out of bounds");
        const ColorMapObject* map = d.ColorMap ? d.ColorMap : f->SColorMap;
        if (!map || !map->Colors || map->ColorCount <= 0)
            return Failed(Reason, "the GIF file has no colour table");
        TGraphic g;
        if (!Allocate(g, static_cast<int>(width), static_cast<int>(height), 0))
            return Failed(Reason, "out of memory");
        std::vector<GifPixelType> line(static_cast<size_t>(fw));
        auto putLine = [&](int64_t row) {
            uint32_t* out = g.Pixels.data() + static_cast<size_t>(ft + row) * g.Width + fl;
            for (int64_t x = 0; x < fw; ++x) {
                const int index = line[static_cast<size_t>(x)];
                if (index == transparent)
                    continue;
                if (index >= map->ColorCount) {
                    out[x] = Opaque;
                } else {
                    const GifColorType& c = map->Colors[index];
                    out[x] = Rgb(c.Red, c.Green, c.Blue);
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
            }
        }
        return g;  // the first frame is the picture
    }
}

TGraphic DecodePicture(TPictureFormat Format, const std::vector<uint8_t>& Bytes, std::string* Reason)
{
    switch (Format) {
    case TPictureFormat::Jpeg:
        return DecodeJpeg(Bytes.data(), Bytes.size(), Reason);
    case TPictureFormat::Gif:
        return DecodeGif(Bytes.data(), Bytes.size(), Reason);
    case TPictureFormat::Bmp:
        break;
    }
    return DecodeBmp(Bytes.data(), Bytes.size(), Reason);
}

}  // namespace quillard
