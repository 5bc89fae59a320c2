// In-line picture data: a picture's raw bytes follow the DATA=" of its image
// tag inside the report, so the line reader must never see them.
#include "engine/bytefile.h"
#include "engine/markup.h"
#include "engine/renderer.h"
#include "engine/services.h"

namespace quillard {

void tRenderer::DelImageData(TByteFile& File, int64_t LineStart, std::string& LineEnd, std::string& Tag)
{
    try {
        for (;;) {
            const int p = PosNoCase("{IMG", Tag);
            if (p == 0)
                return;
            const std::string from = Tag.substr(p - 1);
            const int d = PosNoCase("DATA=", from);
            const int l = PosNoCase("DATALEN=", from);
            const size_t closePos = from.find('}');
            const int c = closePos == std::string::npos ? 0 : static_cast<int>(closePos) + 1;
            int n = 0;
            if (d > 0 && l > 0 && (c == 0 || d < c))
                n = ParseIntPrefix(Trim(GetAttribute(from, "DATALEN")), 0);
            if (n <= 0) {
                Tag.erase(p - 1, c > 0 ? c : 4);
                continue;
            }
            // The data block follows DATA=" of the tag, which stands at the
            // start of its physical line.
            File.Seek(LineStart + (p - 1) + (d - 1) + 5 + 1 + static_cast<int64_t>(n) + 2);
            Tag.clear();
            LineEnd.clear();
            return;
        }
    } catch (const std::exception& e) {
        ShowMessage(e.what(), "Error tRenderer.DelImageData");
    }
}

}  // namespace quillard
