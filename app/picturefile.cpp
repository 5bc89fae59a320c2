#include "app/picturefile.h"

#include "app/qtservices.h"
#include "surfaces/namedoutput.h"

#include <QBuffer>
#include <cstdio>
#include <csetjmp>
#include <jpeglib.h>
#include <stdexcept>

namespace quillard {

namespace {

struct TJpegError {
    jpeg_error_mgr Manager;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr Info)
{
    auto* e = reinterpret_cast<TJpegError*>(Info->err);
    (*Info->err->format_message)(Info, e->Message);
    std::longjmp(e->Jump, 1);
}

bool WriteWhole(const std::string& Path, const char* Data, qint64 Size, std::string* Reason)
{
    return WriteNamedOutput(Path, Data, static_cast<size_t>(Size), Reason);
}

}  // namespace

std::vector<unsigned char> EncodeJpeg(const QImage& Image)
{
    const QImage rgb = Image.convertToFormat(QImage::Format_RGB888);
    if (rgb.isNull() || rgb.width() < 1 || rgb.height() < 1)
        throw std::runtime_error("There is no picture to write");

    jpeg_compress_struct info;
    TJpegError error;
    info.err = jpeg_std_error(&error.Manager);
    error.Manager.error_exit = JpegErrorExit;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(error.Jump)) {
        jpeg_destroy_compress(&info);
        std::free(buffer);
        throw std::runtime_error(error.Message);
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(rgb.width());
    info.image_height = static_cast<JDIMENSION>(rgb.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb.constScanLine(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<unsigned char> out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

bool SaveJpegFile(const QImage& Image, const std::string& Path, std::string* Reason)
{
    std::vector<unsigned char> bytes;
    try {
        bytes = EncodeJpeg(Image);
    } catch (const std::exception& e) {
        if (Reason)
            *Reason = e.what();
        return false;
    }
    return WriteWhole(Path, reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()), Reason);
}

bool SaveBmpFile(const QImage& Image, const std::string& Path, std::string* Reason)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (Image.isNull() || !Image.convertToFormat(QImage::Format_RGB32).save(&buffer, "BMP")) {
        if (Reason)
            *Reason = "The picture could not be encoded";
        return false;
    }
    return WriteWhole(Path, bytes.constData(), bytes.size(), Reason);
}

}  // namespace quillard
