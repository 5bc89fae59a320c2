// Decoding of the pictures reports name or carry: Windows BMP (our own
// reader), JPEG (libjpeg) and GIF (giflib, first frame). Every decoder takes
// the whole file in memory and yields a TGraphic; anything it cannot read
// (another format, a truncated or corrupt file, a picture above the size
// limit) gives an empty graphic, never an exception.
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

// Each returns an empty graphic on failure; Reason, when given, then says why.
TGraphic DecodeBmp(const uint8_t* Data, size_t Size, std::string* Reason = nullptr);
// The picture keeps the file's bytes in JpegData, so that surfaces able to
// embed JPEG data can do so without re-encoding.
TGraphic DecodeJpeg(const uint8_t* Data, size_t Size, std::string* Reason = nullptr);
// The first frame, placed on the logical screen; pixels outside the frame and
// of the transparent colour are fully transparent.
TGraphic DecodeGif(const uint8_t* Data, size_t Size, std::string* Reason = nullptr);

TGraphic DecodePicture(TPictureFormat Format, const std::vector<uint8_t>& Bytes, std::string* Reason = nullptr);

}  // namespace quillard
