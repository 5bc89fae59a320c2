// Decoding of the pictures reports name or carry: Windows BMP (our own
// reader), JPEG (libjpeg) and GIF (giflib, first frame). Every decoder takes
// the whole file in memory and yields a TGraphic; anything it cannot read
// (another format, a truncated or corrupt file, a picture above the size
// limit) gives an empty graphic, never an exception.
//
// A picture may be decoded whole, or only a window of it at a smaller size:
// a picture far larger than the place it is drawn in is decoded only as
// finely as that place shows it, so that what a picture costs in memory
// follows where it is drawn, not what its header declares.
#pragma once

#include "surfaces/canvas.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillard {

// Pictures with more pixels than this are refused before any pixel memory is
// taken (a 100-megapixel picture already needs 400 MB).
constexpr int64_t MaxPicturePixels = 100'000'000;
// Picture files and in-line data larger than this are not read.
constexpr int64_t MaxPictureBytes = 512LL * 1024 * 1024;

enum class TPictureFormat { Bmp, Jpeg, Gif };

// The part of a picture to decode, in the picture's own pixels (Left <= x <
// Right, Top <= y < Bottom), and the size to decode it to: at most the
// part's own size in each direction. Pixels are sampled at the centres of
// the output pixels (JPEG pictures are first reduced by the decoder itself
// by a power of two that keeps them at least that large).
struct TPictureWindow {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width = 0, Height = 0;
};

// The size a picture's header declares, read without decoding any pixel.
struct TPictureSize {
    int Width = 0;
    int Height = 0;
};

// Each returns an empty graphic on failure; Reason, when given, then says
// why. With a Window, the graphic is that window at the window's size;
// without one, the whole picture.
TGraphic DecodeBmp(const uint8_t* Data, size_t Size, std::string* Reason = nullptr,
                   const TPictureWindow* Window = nullptr);
// A whole picture keeps the file's bytes in JpegData, so that surfaces able
// to embed JPEG data can do so without re-encoding.
TGraphic DecodeJpeg(const uint8_t* Data, size_t Size, std::string* Reason = nullptr,
                    const TPictureWindow* Window = nullptr);
// The first frame, placed on the logical screen; pixels outside the frame and
// of the transparent colour are fully transparent.
TGraphic DecodeGif(const uint8_t* Data, size_t Size, std::string* Reason = nullptr,
                   const TPictureWindow* Window = nullptr);

TGraphic DecodePicture(TPictureFormat Format, const std::vector<uint8_t>& Bytes, std::string* Reason = nullptr,
                       const TPictureWindow* Window = nullptr);

// The picture's size as its header gives it (for a GIF: the logical screen
// widened to its first frame), after the same checks a decode makes first;
// false, with Reason, when the header cannot be read or is out of bounds.
bool ProbePicture(TPictureFormat Format, const std::vector<uint8_t>& Bytes, TPictureSize& Size,
                  std::string* Reason = nullptr);

}  // namespace quillard
