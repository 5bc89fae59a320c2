// Tag families whose interpretation is not built yet. Their rows in the
// dispatch table exist, so such tags are recognised and consumed without
// drawing.
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

}  // namespace quillard
