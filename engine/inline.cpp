// In-line picture data: a picture's raw bytes follow the DATA=" of its image
// tag inside the report, so the line reader must never see them. On a page
// that is drawn the image tag reads them (GetInlineData); on a page that is
// not, the pass steps over them (DelImageData). Both find the block the same
// way, so every pass reads the report's lines alike.
#include "engine/bytefile.h"
#include "engine/markup.h"
#include "engine/renderer.h"
#include "engine/services.h"
#include "surfaces/pictures.h"

#include <algorithm>
#include <cstring>

namespace quillard {

namespace {

// File offset of the first picture byte after the first DATA=" that starts
// at or after From and ends at or before End, or -1. The file is read in
// blocks of 80 bytes; the search window keeps the last bytes of the previous
// one, so the word is found when it straddles two blocks.
int64_t FindDataBlock(TByteFile& File, int64_t From, int64_t End)
{
    static const char Word[] = "DATA=\"";
    constexpr size_t WordLen = sizeof Word - 1;
    constexpr size_t Overlap = 10;
    File.Seek(From);
    std::string window;
    int64_t windowStart = From;
    char block[80];
    while (File.Position() < End) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(sizeof block, End - File.Position()));
        const size_t n = File.Read(block, want);
        if (n == 0)
            break;
        window.append(block, n);
        const int p = PosNoCase(Word, window);
        if (p > 0)
            return windowStart + (p - 1) + static_cast<int64_t>(WordLen);
        if (window.size() > Overlap) {
            windowStart += static_cast<int64_t>(window.size() - Overlap);
            window.erase(0, window.size() - Overlap);
        }
    }
    return -1;
}

// The attributes of an image tag: the text before its DATA=, closed again,
// so that picture bytes are never taken for attributes.
std::string TagHead(const std::string& Tag)
{
    const int d = PosNoCase("DATA=", Tag);
    return d > 0 ? Tag.substr(0, static_cast<size_t>(d) - 1) + "}" : Tag;
}

}  // namespace

void tRenderer::GetInlineData(TByteFile& File, std::string& Line, std::vector<uint8_t>& Stream, int64_t Count,
                              std::string& LineEnd)
{
    try {
        Stream.clear();
        // The tag's DATA=" was read as part of the current line, so it lies
        // between the line's start and the file position.
        const int64_t end = File.Position();
        const int64_t data = FindDataBlock(File, LineStartPos, end);
        if (data < 0 || Count <= 0) {
            File.Seek(end);
            return;
        }
        if (Count > File.Size() - data) {
            // The block would run past the end of the file: nothing is drawn
            // and the pass has nothing left to read.
            File.Seek(File.Size());
            return;
        }
        if (Count <= MaxPictureBytes) {
            Stream.resize(static_cast<size_t>(Count));
            File.Seek(data);
            if (File.Read(reinterpret_cast<char*>(Stream.data()), Stream.size()) != Stream.size()) {
                Stream.clear();
                return;
            }
        }
        // Past the closing quote and brace; the rest of the physical line
        // goes on as part of the current line.
        File.Seek(data + Count + 2);
        LineStartPos = File.Position();
        std::string rest;
        GetLn(File, rest, LineEnd);
        Line += rest;
    } catch (const std::exception& e) {
        Stream.clear();
        ShowMessage(e.what(), "Error in tRenderer.GetInlineData");
    }
}

void tRenderer::DelImageData(TByteFile& File, int64_t LineStart, std::string& LineEnd, std::string& Tag)
{
    try {
        for (;;) {
            const int p = PosNoCase("{IMG", Tag);
            if (p == 0)
                return;
            const std::string from = Tag.substr(static_cast<size_t>(p) - 1);
            const int d = PosNoCase("DATA=", from);
            const int l = PosNoCase("DATALEN=", from);
            const size_t closePos = from.find('}');
            const int c = closePos == std::string::npos ? 0 : static_cast<int>(closePos) + 1;
            int n = 0;
            if (d > 0 && l > 0 && (c == 0 || d < c))
                n = ParseIntPrefix(Trim(GetAttribute(TagHead(from), "DATALEN")), 0);
            int64_t data = -1;
            if (n > 0) {
                // The block is found from the line's start as the image tag
                // finds it, which also holds when text precedes the tag.
                const int64_t end = File.Position();
                data = FindDataBlock(File, LineStart, end);
                File.Seek(end);
            }
            if (data < 0) {
                Tag.erase(static_cast<size_t>(p) - 1, static_cast<size_t>(c > 0 ? c : 4));
                continue;
            }
            File.Seek(data + n + 2);
            Tag.clear();
            LineEnd.clear();
            return;
        }
    } catch (const std::exception& e) {
        ShowMessage(e.what(), "Error tRenderer.DelImageData");
    }
}

}  // namespace quillard
