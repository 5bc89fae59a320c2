// The facade a PDF job hands the renderer: the renderer only asks it for new
// pages; the document writer behind it lives for that job only.
#pragma once

namespace quillard {

class tPDFMaker {
public:
    virtual ~tPDFMaker() = default;
    virtual void NewPage() = 0;
};

}  // namespace quillard
