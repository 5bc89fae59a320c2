#include "engine/bytefile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace quillard {

namespace {
constexpr size_t BlockSize = 64 * 1024;
}

TByteFile::~TByteFile() { Close(); }

void TByteFile::Open(const std::string& FileName)
{
    Close();
    int fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error(std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        throw std::runtime_error(std::strerror(err ? err : EINVAL));
    }
    FFd = fd;
    FSize = st.st_size;
    FPos = 0;
    FBufStart = 0;
    FBuf.clear();
    FShrunk = false;
}

void TByteFile::Close()
{
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
    FBuf.clear();
    FPos = 0;
    FSize = 0;
}

void TByteFile::Seek(int64_t Pos) { FPos = std::clamp<int64_t>(Pos, 0, FSize); }

bool TByteFile::Fill()
{
    FBuf.resize(BlockSize);
    FBufStart = FPos;
    size_t got = 0;
    while (got < BlockSize) {
        ssize_t n = ::pread(FFd, FBuf.data() + got, BlockSize - got, FBufStart + static_cast<int64_t>(got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            FBuf.clear();
            throw std::runtime_error(std::strerror(errno));
        }
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    FBuf.resize(got);
    return got > 0;
}

size_t TByteFile::Read(char* Buffer, size_t Count)
{
    if (FFd < 0)
        throw std::runtime_error("File not open");
    size_t done = 0;
    while (done < Count && FPos < FSize) {
        if (FPos < FBufStart || FPos >= FBufStart + static_cast<int64_t>(FBuf.size())) {
            if (!Fill()) {
                FSize = FPos;  // the file shrank under us: this is its end now
                FShrunk = true;
                break;
            }
        }
        size_t off = static_cast<size_t>(FPos - FBufStart);
        size_t n = std::min(Count - done, FBuf.size() - off);
        std::memcpy(Buffer + done, FBuf.data() + off, n);
        done += n;
        FPos += static_cast<int64_t>(n);
    }
    return done;
}

}  // namespace quillard
