#include "base/bytefile.h"

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

std::string FileKindName(mode_t Mode)
{
    if (S_ISDIR(Mode))
        return "a folder";
    if (S_ISFIFO(Mode))
        return "a FIFO";
    if (S_ISCHR(Mode))
        return "a character device";
    if (S_ISBLK(Mode))
        return "a block device";
    if (S_ISSOCK(Mode))
        return "a socket";
    if (S_ISLNK(Mode))
        return "a symbolic link";
    if (S_ISREG(Mode))
        return "a regular file";
    return "of an unknown kind";
}

std::string NotRegularReason(mode_t Mode) { return "not a regular file (" + FileKindName(Mode) + ")"; }

TByteFile::~TByteFile() { Close(); }

void TByteFile::Open(const std::string& FileName)
{
    Close();
    FVersion = {};
    // Anything but a regular file is refused before it is opened: opening a
    // FIFO waits for a writer, and opening a device may act on it.
    struct stat st {};
    if (::stat(FileName.c_str(), &st) != 0)
        throw std::runtime_error(std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        throw std::runtime_error(NotRegularReason(st.st_mode));
    // Without waiting all the same, in case the name is changed over to a
    // FIFO in between; what was opened is checked again.
    const int fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        throw std::runtime_error(std::strerror(errno));
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        throw std::runtime_error(std::strerror(err));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        throw std::runtime_error(NotRegularReason(st.st_mode));
    }
    FFd = fd;
    FSize = st.st_size;
    FPos = 0;
    FBufStart = 0;
    FBuf.clear();
    FShrunk = false;
    FVersion.File = TFileIdentity{st.st_dev, st.st_ino, true};
    FVersion.Size = st.st_size;
    FVersion.ModifiedNs = int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    FVersion.ChangedNs = int64_t(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec;
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

std::string_view TByteFile::Buffered()
{
    if (FFd < 0)
        throw std::runtime_error("File not open");
    if (FPos >= FSize)
        return {};
    if (FPos < FBufStart || FPos >= FBufStart + static_cast<int64_t>(FBuf.size())) {
        if (!Fill()) {
            FSize = FPos;  // the file shrank under us: this is its end now
            FShrunk = true;
            return {};
        }
    }
    const size_t off = static_cast<size_t>(FPos - FBufStart);
    const size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(FBuf.size() - off), FSize - FPos));
    return {FBuf.data() + off, n};
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

std::string ReadWholeReport(const std::string& FileName)
{
    TByteFile file;
    file.Open(FileName);
    std::string bytes;
    char block[64 * 1024];
    while (size_t n = file.Read(block, sizeof block))
        bytes.append(block, n);
    return bytes;
}

int WriteFully(int Fd, const char* Data, size_t Size)
{
    while (Size > 0) {
        const ssize_t n = ::write(Fd, Data, Size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        Data += n;
        Size -= static_cast<size_t>(n);
    }
    return 0;
}

TCopyResult CopyUpTo(int From, int To, int64_t Limit)
{
    std::vector<char> block(256 * 1024);
    int64_t copied = 0;
    for (;;) {
        // One byte past the limit is asked for, to tell a source of exactly
        // the limit from a larger one.
        const size_t want = static_cast<size_t>(std::min<int64_t>(int64_t(block.size()), Limit - copied + 1));
        const ssize_t n = ::read(From, block.data(), want);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return {TCopyResult::TEnd::ReadFailed, errno};
        if (n == 0)
            return {};
        if (copied + n > Limit)
            return {TCopyResult::TEnd::TooLarge, EFBIG};
        if (const int err = WriteFully(To, block.data(), static_cast<size_t>(n)))
            return {TCopyResult::TEnd::WriteFailed, err};
        copied += n;
    }
}

}  // namespace quillard
