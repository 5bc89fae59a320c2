// Rewriting the report file: the editor that inserts markup at the end of a
// page (AutoText and AutoShapes), and the one routine through which every
// rewrite of a report replaces the file.
#pragma once

#include <functional>
#include <string>

namespace quillard {

class tRenderer;

// The start of the name of the temporary file a report is rewritten
// through, in the report's folder: "QUILLARD.TMP" and a unique ending.
extern const char* const ReportTempName;  // "QUILLARD.TMP"

// Replaces the file Target by Content so that Target is never lost nor half
// written: Content goes to a new file "QUILLARD.TMP.XXXXXX" (a unique ending
// made when it is created, so rewrites never get in each other's way) in
// Target's folder, which is flushed to the disk and then renamed over Target
// in one step (a symbolic link is followed: the file it names is replaced).
// The new file is created readable by this process's user alone, then given
// the old file's owner and group where allowed, then its permission bits, all
// before anything is written into it: nobody can read it who could not read
// the report (where Target did not exist, it stays this user's alone). A
// report that is not a regular file, or is read-only, is refused
// (RewriteRefusal). On any failure Target stays as it was, the temporary file
// is removed, the result is false and Reason, when given, says what went
// wrong.
bool ReplaceFileSafely(const std::string& Target, const std::string& Content, std::string* Reason = nullptr);

// Why the report Target may not be rewritten, as a message for the user
// ("File "X" is read-only and was left as it is", or is not a regular file);
// "" when it may.
std::string RewriteRefusal(const std::string& Target);

// Rewrites the report FileName with Content through ReplaceFileSafely; a
// refusal or failure is shown with Caption ("Error Writing File
// "QUILLARD.TMP"" when the writing failed). True when rewritten.
bool RewriteReport(const std::string& FileName, const std::string& Content, const char* Caption);

namespace detail {
// Called by ReplaceFileSafely after each step ("created", "owned", "written",
// "synced") with the step's name; a test can look at the temporary file
// then, make a step fail by throwing from it, or end the process there.
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
    // Writes Text back over the report through RewriteReport (messages
    // under "Error Adding Text").
    bool Save();

    // 1-based position of the N-th occurrence of Sub in S, letter case
    // ignored, each search going on one character after the previous find;
    // 0 when there are fewer or N is below 1.
    static int FindNth(const std::string& Sub, const std::string& S, int N);
};

}  // namespace quillard
