// Pictures made by the tests themselves (BMP written byte by byte, JPEG
// through libjpeg, GIF through giflib) and a renderer drawing on a 300-dpi
// page, where a picture at its natural size covers one device pixel per
// picture pixel.
#pragma once

#include "tests/testutil.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <functional>
#include <gif_lib.h>
#include <jpeglib.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillard::test {

// ---- BMP ------------------------------------------------------------------

inline void Put16(std::string& s, uint32_t v)
{
    s += char(v & 0xFF);
    s += char((v >> 8) & 0xFF);
}
inline void Put32(std::string& s, uint32_t v)
{
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

struct BmpLayout {
    int Width = 0, Height = 0;  // Height as stored: negative = top-down
    int Bpp = 24;
    uint32_t Compression = 0;   // 0 RGB, 1 RLE8, 2 RLE4, 3 BITFIELDS
    int HeaderSize = 40;        // 12 (OS/2 core), 40, 108 (V4), 124 (V5)
    std::vector<uint32_t> Palette;  // 0x00RRGGBB
    std::vector<uint32_t> Masks;    // red, green, blue[, alpha] for BITFIELDS
};

// The file of a picture whose stored value at (x, y) (y counted from the top
// of the picture) is Value(x, y): a palette index up to 8 bits, the raw
// 16-bit word at 16 bits, 0x00RRGGBB at 24 bits and the raw word at 32.
inline std::string MakeBmp(const BmpLayout& S, const std::function<uint32_t(int, int)>& Value)
{
    const int w = S.Width, h = S.Height < 0 ? -S.Height : S.Height;
    const bool topDown = S.Height < 0;
    std::string pixels;
    auto fileRow = [&](int i) { return topDown ? i : h - 1 - i; };  // picture row of the i-th stored row
    if (S.Compression == 1 || S.Compression == 2) {
        const bool rle8 = S.Compression == 1;
        for (int i = 0; i < h; ++i) {
            const int y = fileRow(i);
            int x = 0;
            while (x < w) {
                int run = 1;
                while (x + run < w && run < 255 && Value(x + run, y) == Value(x, y))
                    ++run;
                if (run >= 3 || w - x < 3) {
                    const uint32_t v = Value(x, y);
                    pixels += char(run);
                    pixels += char(rle8 ? v : (v << 4 | v));
                    x += run;
                } else {
                    // A literal stretch in absolute mode.
                    int n = std::min(w - x, 3 + (x % 5));
                    pixels += char(0);
                    pixels += char(n);
                    std::string bytes;
                    for (int k = 0; k < n; ++k) {
                        const uint32_t v = Value(x + k, y);
                        if (rle8)
                            bytes += char(v);
                        else if (k % 2 == 0)
                            bytes += char(v << 4);
                        else
                            bytes.back() = char(bytes.back() | v);
                    }
                    if (bytes.size() % 2)
                        bytes += char(0);
                    pixels += bytes;
                    x += n;
                }
            }
            pixels += std::string("\0\0", 2);  // end of line
        }
        pixels += std::string("\0\1", 2);  // end of bitmap
    } else {
        const size_t stride = (size_t(w) * S.Bpp + 31) / 32 * 4;
        for (int i = 0; i < h; ++i) {
            const int y = fileRow(i);
            std::string row(stride, '\0');
            for (int x = 0; x < w; ++x) {
                const uint32_t v = Value(x, y);
                switch (S.Bpp) {
                case 1:
                case 4:
                case 8: {
                    const int per = 8 / S.Bpp;
                    row[x / per] = char(uint8_t(row[x / per]) | (v << ((per - 1 - x % per) * S.Bpp)));
                    break;
                }
                case 16:
                    row[2 * x] = char(v & 0xFF);
                    row[2 * x + 1] = char(v >> 8);
                    break;
                case 24:
                    row[3 * x] = char(v & 0xFF);
                    row[3 * x + 1] = char((v >> 8) & 0xFF);
                    row[3 * x + 2] = char((v >> 16) & 0xFF);
                    break;
                case 32:
                    for (int k = 0; k < 4; ++k)
                        row[4 * x + k] = char((v >> (8 * k)) & 0xFF);
                    break;
                }
            }
            pixels += row;
        }
    }

    std::string info;
    if (S.HeaderSize == 12) {
        Put32(info, 12);
        Put16(info, w);
        Put16(info, h);
        Put16(info, 1);
        Put16(info, S.Bpp);
    } else {
        Put32(info, S.HeaderSize);
        Put32(info, uint32_t(S.Width));
        Put32(info, uint32_t(S.Height));
        Put16(info, 1);
        Put16(info, S.Bpp);
        Put32(info, S.Compression);
        Put32(info, uint32_t(pixels.size()));
        Put32(info, 11811);  // 300 dpi
        Put32(info, 11811);
        Put32(info, uint32_t(S.Palette.size()));
        Put32(info, 0);
        if (S.HeaderSize >= 52)
            for (int k = 0; k < 4; ++k)
                Put32(info, k < int(S.Masks.size()) ? S.Masks[k] : 0);
        info.resize(size_t(S.HeaderSize), '\0');
    }
    std::string tables;
    if (S.Compression == 3 && S.HeaderSize < 52)
        for (int k = 0; k < 3; ++k)
            Put32(tables, S.Masks.at(k));
    for (uint32_t c : S.Palette) {
        tables += char(c & 0xFF);
        tables += char((c >> 8) & 0xFF);
        tables += char((c >> 16) & 0xFF);
        if (S.HeaderSize != 12)
            tables += '\0';
    }
    std::string file = "BM";
    const uint32_t off = uint32_t(14 + info.size() + tables.size());
    Put32(file, uint32_t(off + pixels.size()));
    Put32(file, 0);
    Put32(file, off);
    return file + info + tables + pixels;
}

// A 24-bit picture of 0x00RRGGBB colours.
inline std::string MakeBmp24(int W, int H, const std::function<uint32_t(int, int)>& Colour)
{
    return MakeBmp(BmpLayout{W, H, 24, 0, 40, {}, {}}, Colour);
}

// ---- JPEG -----------------------------------------------------------------

struct JpegOptions {
    int Quality = 100;
    bool Progressive = false;
    bool Gray = false;
    bool Cmyk = false;       // the input holds C, M, Y, K as stored (Adobe: inverted)
    bool Jfif = true;        // false: no JFIF marker, as Exif files from cameras
    bool Subsample = false;  // 4:2:0 instead of full colour resolution
};

struct JpegFailure {
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
};

// Encodes a W x H picture; Colour gives 0x00RRGGBB (or 0xCCMMYYKK for CMYK).
inline std::string EncodeJpeg(int W, int H, const std::function<uint32_t(int, int)>& Colour, JpegOptions Opt = {})
{
    jpeg_compress_struct c{};
    JpegFailure err{};
    c.err = jpeg_std_error(&err.Pub);
    err.Pub.error_exit = [](j_common_ptr info) { std::longjmp(reinterpret_cast<JpegFailure*>(info->err)->Jump, 1); };
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (setjmp(err.Jump)) {
        jpeg_destroy_compress(&c);
        std::free(out);
        throw std::runtime_error("JPEG encoding failed");
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(W);
    c.image_height = JDIMENSION(H);
    c.input_components = Opt.Gray ? 1 : Opt.Cmyk ? 4 : 3;
    c.in_color_space = Opt.Gray ? JCS_GRAYSCALE : Opt.Cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, Opt.Quality, TRUE);
    c.write_JFIF_header = Opt.Jfif && !Opt.Cmyk ? TRUE : FALSE;
    if (!Opt.Subsample)
        for (int i = 0; i < c.num_components; ++i)
            c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    if (Opt.Progressive)
        jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<JSAMPLE> row(size_t(W) * c.input_components);
    while (c.next_scanline < c.image_height) {
        const int y = int(c.next_scanline);
        for (int x = 0; x < W; ++x) {
            const uint32_t v = Colour(x, y);
            if (Opt.Gray) {
                row[x] = JSAMPLE(v & 0xFF);
            } else if (Opt.Cmyk) {
                for (int k = 0; k < 4; ++k)
                    row[4 * x + k] = JSAMPLE((v >> (24 - 8 * k)) & 0xFF);
            } else {
                row[3 * x] = JSAMPLE((v >> 16) & 0xFF);
                row[3 * x + 1] = JSAMPLE((v >> 8) & 0xFF);
                row[3 * x + 2] = JSAMPLE(v & 0xFF);
            }
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    std::string bytes(reinterpret_cast<char*>(out), size);
    jpeg_destroy_compress(&c);
    std::free(out);
    return bytes;
}

// ---- GIF ------------------------------------------------------------------

struct GifFrame {
    int Left = 0, Top = 0, Width = 0, Height = 0;
    bool Interlace = false;
    int Transparent = -1;
    std::function<int(int, int)> Index;  // palette index at (x, y) of the frame
};

inline int WriteGifBytes(GifFileType* f, const GifByteType* b, int n)
{
    static_cast<std::string*>(f->UserData)->append(reinterpret_cast<const char*>(b), size_t(n));
    return n;
}

// A GIF with a global colour table of 0x00RRGGBB colours (padded to a power
// of two) and the frames in order.
inline std::string EncodeGif(int ScreenW, int ScreenH, std::vector<uint32_t> Colours, const std::vector<GifFrame>& Frames)
{
    std::string out;
    int err = 0;
    GifFileType* g = EGifOpen(&out, WriteGifBytes, &err);
    if (!g)
        throw std::runtime_error("EGifOpen failed");
    int bits = 1;
    while ((1u << bits) < Colours.size())
        ++bits;
    Colours.resize(size_t(1) << bits, 0);
    ColorMapObject* map = GifMakeMapObject(int(Colours.size()), nullptr);
    for (size_t i = 0; i < Colours.size(); ++i)
        map->Colors[i] = GifColorType{GifByteType(Colours[i] >> 16), GifByteType(Colours[i] >> 8), GifByteType(Colours[i])};
    EGifSetGifVersion(g, true);
    bool ok = EGifPutScreenDesc(g, ScreenW, ScreenH, bits, 0, map) == GIF_OK;
    for (const GifFrame& fr : Frames) {
        if (fr.Transparent >= 0) {
            const GifByteType ext[4] = {1, 0, 0, GifByteType(fr.Transparent)};
            ok = ok && EGifPutExtension(g, GRAPHICS_EXT_FUNC_CODE, 4, ext) == GIF_OK;
        }
        ok = ok && EGifPutImageDesc(g, fr.Left, fr.Top, fr.Width, fr.Height, fr.Interlace, nullptr) == GIF_OK;
        std::vector<int> order;
        if (fr.Interlace) {
            const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
            for (int p = 0; p < 4; ++p)
                for (int y = start[p]; y < fr.Height; y += step[p])
                    order.push_back(y);
        } else {
            for (int y = 0; y < fr.Height; ++y)
                order.push_back(y);
        }
        std::vector<GifPixelType> line(size_t(fr.Width));
        for (int y : order) {
            for (int x = 0; x < fr.Width; ++x)
                line[x] = GifPixelType(fr.Index(x, y));
            ok = ok && EGifPutLine(g, line.data(), fr.Width) == GIF_OK;
        }
    }
    EGifCloseFile(g, &err);
    GifFreeMapObject(map);
    if (!ok)
        throw std::runtime_error("GIF encoding failed");
    return out;
}

// ---- a 300-dpi page ---------------------------------------------------------

inline std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

class PictureTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        UsePage300(1.0);
    }

    // Gives the renderer a fresh white page bitmap at 300 dpi times Zoom.
    void UsePage300(double Zoom)
    {
        R->MeasureOnScreen(300, Zoom);
        auto page = std::make_unique<TImageCanvas>(R->Metrics.PageWidthPx, R->Metrics.PageHeightPx, 300, 300);
        Page = page.get();
        R->UsePageSurface(std::move(page));
    }

    // Opens Bytes as the report (named Name) and draws page N at 300 dpi.
    bool Draw300(const std::string& Bytes, int N = 1, const std::string& Name = "REPORT.TXT")
    {
        R->OpenFile(Write(Bytes, Name), nullptr);
        UsePage300(R->GetScale());
        return R->RenderPages(nullptr, N, nullptr, N);
    }

    std::string PathOf(const std::string& Name) const { return Dir.filePath(QString::fromStdString(Name)).toStdString(); }

    // 0x00RRGGBB of the page at (x, y).
    uint32_t At(int x, int y) { return Page->Image().pixel(x, y) & 0xFFFFFF; }

    // Bounding box of the pixels that are not white.
    TInkBox NonWhite() { return InkBox(Page->Image(), [](QRgb c) { return (c & 0xFFFFFF) != 0xFFFFFF; }); }

    std::string Captions() const
    {
        std::string s;
        for (const auto& m : Services.Messages)
            s += m.Caption + ": " + m.Text + "\n";
        return s;
    }
};

// Channel-wise distance of two 0x00RRGGBB colours.
inline int ColourDistance(uint32_t a, uint32_t b)
{
    int d = 0;
    for (int k = 0; k < 24; k += 8)
        d = std::max(d, std::abs(int((a >> k) & 0xFF) - int((b >> k) & 0xFF)));
    return d;
}

}  // namespace quillard::test
