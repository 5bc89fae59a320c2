// Rewriting the report file: the editor that inserts markup at the end of a
// page (AutoText and AutoShapes), and the one routine through which every
// rewrite of a report replaces the file.
#pragma once

#include <functional>
#include <string>

namespace quillard {

class tRenderer;

// The temporary file a report is rewritten through, in the report's folder.
extern const char* const ReportTempName;  // "QUILLARD.TMP"

// Replaces the file Target by Content so that Target is never lost nor half
// written: Content goes to a new "QUILLARD.TMP" in Target's folder, which is
// flushed to the disk and then renamed over Target in one step (a symbolic
// link is followed: the file it names is replaced). The new file keeps the
// old one's permission bits and, where allowed, its owner. Rewrites in one
// folder are made one at a time, those of other processes included (they
// share the temporary name): a second one waits for the first. On any failure
// Target stays as it was, the temporary file is removed, the result is false
// and Reason, when given, says what went wrong.
bool ReplaceFileSafely(const std::string& Target, const std::string& Content, std::string* Reason = nullptr);

namespace detail {
// Called by ReplaceFileSafely after each step ("written", "synced") with the
// step's name; a test can make a step fail by throwing from it, or end the
// process there.
extern std::function<void(const char* Step)> ReplaceFileProbe;
}  // namespace detail

class tFileEditor {
public:
    explicit tFileEditor(tRenderer* ARenderer) : Renderer(ARenderer) {}

    tRenderer* Renderer;  // whose FileName is edited; not owned
    std::string Text;     // the whole report, byte for byte

    // Reads the report into Text.
    bool Load();
    // Inserts Markup directly before the Page-th {PAGE} tag (letter case
    // ignored), or at the end when there are fewer; always true.
    bool InsertText(const std::string& Markup, int Page);
    // Writes Text back over the report through ReplaceFileSafely.
    bool Save();

    // 1-based position of the N-th occurrence of Sub in S, letter case
    // ignored, each search going on one character after the previous find;
    // 0 when there are fewer or N is below 1.
    static int FindNth(const std::string& Sub, const std::string& S, int N);
};

}  // namespace quillard
