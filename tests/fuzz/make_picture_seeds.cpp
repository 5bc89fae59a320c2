// Writes the seeds of fuzz_pictures into the folder given as the argument:
// small pictures of each layout the decoders read, made with the test
// suite's own encoders (BMP byte by byte, JPEG through libjpeg, GIF through
// giflib). Each file starts with the fuzz target's option byte: the decoder
// (0 BMP, 1 JPEG, 2 GIF) with the "draw it" bit set.
//   make_picture_seeds tests/fuzz/seeds/pictures
#include "tests/test_image_util.h"

#include <cstdio>
#include <fstream>
#include <string>

using namespace quillard::test;

namespace {

std::string Dir;
int Written = 0;

void Seed(const std::string& Name, int Decoder, const std::string& Bytes)
{
    std::ofstream out(Dir + "/" + Name, std::ios::binary);
    out << char(Decoder | 4) << Bytes;
    ++Written;
}

uint32_t Ramp(int x, int y) { return uint32_t((x * 37) & 0xFF) << 16 | uint32_t((y * 53) & 0xFF) << 8 | uint32_t((x + y) * 11 & 0xFF); }

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_picture_seeds FOLDER\n");
        return 2;
    }
    Dir = argv[1];

    // ---- BMP: every depth, run-length and bit-field layouts, old headers.
    const std::vector<uint32_t> mono{0x000000, 0xFFFFFF};
    std::vector<uint32_t> sixteen, grey;
    for (int i = 0; i < 16; ++i)
        sixteen.push_back(uint32_t(i * 0x111111));
    for (int i = 0; i < 256; ++i)
        grey.push_back(uint32_t(i * 0x010101));
    auto index = [](int Bits) { return [Bits](int x, int y) { return uint32_t((x + 2 * y) % (1 << Bits)); }; };
    Seed("bmp-1bit", 0, MakeBmp(BmpLayout{7, 5, 1, 0, 40, mono, {}}, index(1)));
    Seed("bmp-4bit", 0, MakeBmp(BmpLayout{9, 4, 4, 0, 40, sixteen, {}}, index(4)));
    Seed("bmp-8bit", 0, MakeBmp(BmpLayout{6, 6, 8, 0, 40, grey, {}}, index(8)));
    Seed("bmp-8bit-topdown", 0, MakeBmp(BmpLayout{5, -3, 8, 0, 40, grey, {}}, index(8)));
    Seed("bmp-rle8", 0, MakeBmp(BmpLayout{12, 5, 8, 1, 40, grey, {}}, [](int x, int y) { return uint32_t(x / 4 + y); }));
    Seed("bmp-rle4", 0, MakeBmp(BmpLayout{11, 4, 4, 2, 40, sixteen, {}}, [](int x, int y) { return uint32_t((x / 3 + y) & 15); }));
    Seed("bmp-16bit", 0, MakeBmp(BmpLayout{5, 4, 16, 0, 40, {}, {}}, [](int x, int y) { return uint32_t(x * 0x0421 + y * 0x1000); }));
    Seed("bmp-16bit-565", 0, MakeBmp(BmpLayout{5, 3, 16, 3, 40, {}, {0xF800, 0x07E0, 0x001F}},
                                     [](int x, int y) { return uint32_t(x * 0x0841 + y * 0x2000); }));
    Seed("bmp-24bit", 0, MakeBmp24(6, 5, Ramp));
    Seed("bmp-32bit", 0, MakeBmp(BmpLayout{4, 4, 32, 0, 40, {}, {}}, Ramp));
    Seed("bmp-32bit-alpha-v4", 0, MakeBmp(BmpLayout{4, 3, 32, 3, 108, {}, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}},
                                          [](int x, int y) { return Ramp(x, y) | uint32_t(x * 60) << 24; }));
    Seed("bmp-24bit-v5", 0, MakeBmp(BmpLayout{3, 3, 24, 0, 124, {}, {}}, Ramp));
    Seed("bmp-os2-core", 0, MakeBmp(BmpLayout{5, 4, 8, 0, 12, grey, {}}, index(8)));

    // ---- JPEG: baseline, progressive, grey, CMYK, subsampled, no JFIF.
    Seed("jpeg-baseline", 1, EncodeJpeg(16, 8, Ramp, {.Quality = 75}));
    Seed("jpeg-progressive", 1, EncodeJpeg(12, 10, Ramp, {.Quality = 60, .Progressive = true}));
    Seed("jpeg-grey", 1, EncodeJpeg(9, 9, [](int x, int y) { return uint32_t(x * 20 + y); }, {.Quality = 50, .Gray = true}));
    Seed("jpeg-cmyk", 1, EncodeJpeg(8, 8, [](int x, int y) { return uint32_t(x * 30) << 24 | uint32_t(y * 30); }, {.Quality = 50, .Cmyk = true}));
    Seed("jpeg-420-exif", 1, EncodeJpeg(17, 13, Ramp, {.Quality = 40, .Jfif = false, .Subsample = true}));

    // ---- GIF: plain, interlaced, transparent, frame off the screen's corner,
    // two frames.
    const std::vector<uint32_t> four{0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    auto idx = [](int x, int y) { return (x + y) % 4; };
    Seed("gif-plain", 2, EncodeGif(8, 6, four, {GifFrame{0, 0, 8, 6, false, -1, idx}}));
    Seed("gif-interlaced", 2, EncodeGif(5, 11, four, {GifFrame{0, 0, 5, 11, true, -1, idx}}));
    Seed("gif-transparent", 2, EncodeGif(6, 6, four, {GifFrame{0, 0, 6, 6, false, 3, idx}}));
    Seed("gif-offset-frame", 2, EncodeGif(6, 5, four, {GifFrame{2, 1, 7, 6, false, -1, idx}}));
    Seed("gif-two-frames", 2,
         EncodeGif(4, 4, four, {GifFrame{0, 0, 4, 4, false, -1, idx}, GifFrame{1, 1, 2, 2, false, 0, idx}}));
    std::vector<uint32_t> many;
    for (int i = 0; i < 256; ++i)
        many.push_back(uint32_t(i * 0x010203));
    Seed("gif-256-colours", 2, EncodeGif(16, 16, many, {GifFrame{0, 0, 16, 16, false, -1, [](int x, int y) { return (x * 16 + y) & 255; }}}));

    std::printf("%d seeds written to %s\n", Written, Dir.c_str());
    return 0;
}
