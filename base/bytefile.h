// Read-only byte file with an explicit position, buffered in large blocks so
// that the line reader's seek back after every line costs nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace quillard {

// Which file a name reached: its device and inode number. Two names of one
// file (a hard link, a symbolic link followed) have the same identity.
struct TFileIdentity {
    dev_t Device = 0;
    ino_t Inode = 0;
    bool Known = false;
    bool operator==(const TFileIdentity& Other) const
    {
        return Known && Other.Known && Device == Other.Device && Inode == Other.Inode;
    }
    bool operator!=(const TFileIdentity& Other) const { return !(*this == Other); }
};

// A version of a file's contents as far as its status tells: another
// write, a truncation or another file put in its place changes it.
struct TFileVersion {
    TFileIdentity File;
    int64_t Size = 0;
    int64_t ModifiedNs = 0;
    int64_t ChangedNs = 0;
    bool operator==(const TFileVersion& Other) const = default;
};

// The words for a kind of file other than a regular one ("a folder", "a
// FIFO", "a character device", ...), for messages.
std::string FileKindName(mode_t Mode);
// Why a file of that kind is not read as a report or picture:
// "not a regular file (a FIFO)".
std::string NotRegularReason(mode_t Mode);

class TByteFile {
public:
    TByteFile() = default;
    ~TByteFile();
    TByteFile(const TByteFile&) = delete;
    TByteFile& operator=(const TByteFile&) = delete;

    // Opens a regular file read-only; throws std::runtime_error with the
    // system's reason, or NotRegularReason for anything else (a FIFO or a
    // device is never opened in a way that could wait).
    void Open(const std::string& FileName);
    void Close();
    bool IsOpen() const { return FFd >= 0; }
    // The file opened last (kept after Close; unknown after a failed Open).
    const TFileIdentity& Identity() const { return FVersion.File; }
    // The version of the file opened last, as it was when it was opened.
    const TFileVersion& Version() const { return FVersion; }

    int64_t Size() const { return FSize; }
    int64_t Position() const { return FPos; }
    void Seek(int64_t Pos);           // clamped to 0..Size
    bool Eof() const { return FPos >= FSize; }
    // Reads up to Count bytes at the position and advances it; returns the
    // number read (0 at the end).
    size_t Read(char* Buffer, size_t Count);
    // The bytes from the position on that the buffer holds, read into it
    // when it holds none; empty at the end. Valid until the next call that
    // reads; the position stays (Seek moves it).
    std::string_view Buffered();
    // The file turned out shorter than it was when opened (another program
    // truncated it while it was read): where it ended is its end now.
    bool Shrunk() const { return FShrunk; }

private:
    bool Fill();
    int FFd = -1;
    int64_t FSize = 0;
    int64_t FPos = 0;
    int64_t FBufStart = 0;
    std::vector<char> FBuf;
    bool FShrunk = false;
    TFileVersion FVersion;
};

// The whole of the regular file FileName, read through TByteFile; throws
// std::runtime_error with the reason when it cannot be opened or read.
std::string ReadWholeReport(const std::string& FileName);

// Writes the Size bytes at Data to the descriptor Fd, again after an
// interruption or a short write; 0, or the errno of the failure (ENOSPC when
// the descriptor takes nothing more).
int WriteFully(int Fd, const char* Data, size_t Size);

// The most that is taken of a report read from standard input, which may be
// a pipe that never ends: 1 GiB. The copy of such a report stops there.
constexpr int64_t MaxStandardInputBytes = int64_t(1) << 30;
constexpr const char* MaxStandardInputText = "1 GiB";

// How copying a descriptor to another ended.
struct TCopyResult {
    enum class TEnd {
        Done,         // all of it, up to its end
        ReadFailed,   // Err from reading
        WriteFailed,  // Err from writing
        TooLarge,     // more than the limit was there; the rest was not read
    };
    TEnd End = TEnd::Done;
    int Err = 0;
};

// Copies what the descriptor From holds, to its end, into To; at most Limit
// bytes, a byte more ending the copy as TooLarge.
TCopyResult CopyUpTo(int From, int To, int64_t Limit);

}  // namespace quillard
