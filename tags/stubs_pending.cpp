// Pictures are not drawn yet: the tag is consumed, and picture data carried
// in-line is skipped so its bytes never reach the line reader.
#include "engine/renderer.h"

namespace quillard {

void tRenderer::TagImage(tRenderState& State, const std::string& Tag)
{
    std::string tag = Tag;
    DelImageData(State.ReportFile, LineStartPos, State.LineEnd, tag);
}

}  // namespace quillard
