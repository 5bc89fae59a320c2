// Tag families whose interpretation is not built yet. Their rows in the
// dispatch table exist, so such tags are recognised and consumed without
// drawing; pictures carried in-line are still skipped so their bytes never
// reach the line reader.
#include "engine/renderer.h"

namespace quillard {

void tRenderer::TagSpan(tRenderState&, const std::string&) {}
void tRenderer::TagEndSpan(tRenderState&, const std::string&) {}
void tRenderer::TagFont(tRenderState&, const std::string&) {}
void tRenderer::TagAlign(tRenderState&, const std::string&) {}
void tRenderer::TagPen(tRenderState&, const std::string&) {}
void tRenderer::TagField(tRenderState&, const std::string&) {}
void tRenderer::TagLine(tRenderState&, const std::string&) {}
void tRenderer::TagRect(tRenderState&, const std::string&) {}
void tRenderer::TagCircle(tRenderState&, const std::string&) {}
void tRenderer::TagPolygon(tRenderState&, const std::string&) {}
void tRenderer::TagHighlight(tRenderState&, const std::string&) {}

void tRenderer::TagImage(tRenderState& State, const std::string& Tag)
{
    std::string tag = Tag;
    DelImageData(State.ReportFile, LineStartPos, State.LineEnd, tag);
}

}  // namespace quillard
