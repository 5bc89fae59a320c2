// In-line picture data: a picture's raw bytes follow the DATA=" of its image
// tag inside the report, so the line reader must never see them. On a page
// that is drawn the image tag reads them (GetInlineData); on a page that is
// not, the pass steps over them (DelImageData). Both find the block the same
// way, so every pass reads the report's lines alike.
#include "base/bytefile.h"
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

// Kept ends with "{IMG", in any letter case.
bool EndsWithImg(const std::string& Kept)
{
    const size_t n = Kept.size();
    if (n < 4 || Kept[n - 4] != '{')
        return false;
    auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    return up(Kept[n - 3]) == 'I' && up(Kept[n - 2]) == 'M' && up(Kept[n - 1]) == 'G';
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
        const int64_t data = FindDataBlock(File, Pass.LineStartPos, end);
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
        Pass.LineStartPos = File.Position();
        std::string rest;
        GetPassLine(File, rest, LineEnd);
        Line += rest;
    } catch (const std::exception& e) {
        Stream.clear();
        ShowMessage(e.what(), "Error in tRenderer.GetInlineData");
    }
}

void tRenderer::DelImageData(TByteFile& File, int64_t LineStart, std::string& LineEnd, std::string& Tag)
{
    // The image tags of Tag are taken out one at a time, each time the first
    // "{IMG" of what is left, until one of them has data to step over. Taking
    // a tag out joins the text on either side, which may spell a new "{IMG"
    // that starts before it. Tag is therefore read once from left to right:
    // Kept is what stays of the text before the read position, and a tag is
    // taken out as soon as "{IMG" is complete at Kept's end. What follows the
    // read position is never changed, so the words a tag is examined for are
    // found once, each search going on from where the last one ended.
    std::string kept;
    size_t read = 0;
    try {
        kept.reserve(Tag.size());
        TForwardFinder data("DATA="), dataLen("DATALEN="), close("}");
        int64_t block = -2;  // the file offset of the data, once looked for
        for (;;) {
            bool found = false;
            while (read < Tag.size()) {
                kept += Tag[read++];
                if (EndsWithImg(kept)) {
                    found = true;
                    break;
                }
            }
            if (!found) {
                Tag = std::move(kept);
                return;
            }
            // The tag runs from the "{IMG" at Kept's end on through Tag from
            // the read position; none of the words can start in "{IMG".
            const size_t d = data.From(Tag, read), l = dataLen.From(Tag, read), c = close.From(Tag, read);
            int n = 0;
            if (d != std::string::npos && l != std::string::npos && (c == std::string::npos || d < c)) {
                const std::string head = kept.substr(kept.size() - 4) + Tag.substr(read, d - read) + "}";
                n = ParseIntPrefix(Trim(GetAttribute(head, "DATALEN")), 0);
            }
            if (n > 0 && block == -2) {
                // The block is found from the line's start as the image tag
                // finds it, which also holds when text precedes the tag.
                const int64_t end = File.Position();
                block = FindDataBlock(File, LineStart, end);
                File.Seek(end);
            }
            if (n <= 0 || block < 0) {
                // The tag goes: through its closing brace, or only its
                // "{IMG" when no brace follows.
                kept.resize(kept.size() - 4);
                if (c != std::string::npos)
                    read = c + 1;
                continue;
            }
            File.Seek(block + n + 2);
            Tag.clear();
            LineEnd.clear();
            Pass.LineCut = false;
            return;
        }
    } catch (const std::exception& e) {
        if (read <= Tag.size())
            Tag = kept + Tag.substr(read);
        ShowMessage(e.what(), "Error tRenderer.DelImageData");
    }
}

}  // namespace quillard
