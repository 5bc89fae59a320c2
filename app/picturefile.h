// Writing the page bitmap as a picture file: JPEG through libjpeg with the
// codec's default settings, or a Windows bitmap. The file is written whole,
// never half, where its name leads (surfaces/namedoutput.h).
#pragma once

#include <QImage>
#include <string>
#include <vector>

namespace quillard {

// The JPEG bytes of Image (24-bit colour, libjpeg's defaults: quality 75).
std::vector<unsigned char> EncodeJpeg(const QImage& Image);
bool SaveJpegFile(const QImage& Image, const std::string& Path, std::string* Reason = nullptr);
bool SaveBmpFile(const QImage& Image, const std::string& Path, std::string* Reason = nullptr);

}  // namespace quillard
