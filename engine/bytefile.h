// Read-only byte file with an explicit position, buffered in large blocks so
// that the line reader's seek back after every line costs nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillard {

class TByteFile {
public:
    TByteFile() = default;
    ~TByteFile();
    TByteFile(const TByteFile&) = delete;
    TByteFile& operator=(const TByteFile&) = delete;

    // Opens read-only; throws std::runtime_error with the system's reason.
    void Open(const std::string& FileName);
    void Close();
    bool IsOpen() const { return FFd >= 0; }

    int64_t Size() const { return FSize; }
    int64_t Position() const { return FPos; }
    void Seek(int64_t Pos);           // clamped to 0..Size
    bool Eof() const { return FPos >= FSize; }
    // Reads up to Count bytes at the position and advances it; returns the
    // number read (0 at the end).
    size_t Read(char* Buffer, size_t Count);
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
};

}  // namespace quillard
