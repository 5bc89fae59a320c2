// Files that reports name: finding them the way the report's author meant
// (names arrive upper-cased and may be written with backslashes), reading
// them with a size limit, and the pictures a report asks to have deleted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillard {

class tRenderer;

// The existing regular file that Name denotes, looked up component by
// component without regard to letter case, "\" and "/" both separating
// folders; "" when there is none. A relative name is looked up from BaseDir.
// A leading drive ("C:") is dropped: the rest is taken from the root.
std::string FindFileNoCase(const std::string& Name, const std::string& BaseDir);

// A file named in a report: an absolute name as it stands, a relative one
// from the working folder first and then from the report's folder. The
// result is an absolute path, or "" when no such file exists.
std::string FindReportFile(const std::string& Name, const std::string& ReportFileName);

// Reads the whole of a regular file of at most MaxBytes bytes; false when it
// cannot be read or is larger.
bool ReadWholeFile(const std::string& Path, std::vector<uint8_t>& Bytes, int64_t MaxBytes);

// Adds Path (a file found by FindReportFile) to the renderer's
// ImagesToDelete, once. Reports the renderer does not trust add nothing.
void MarkImageForDeletion(tRenderer& Renderer, const std::string& Path);

// Deletes the files listed in the renderer's ImagesToDelete and empties the
// list. Only regular files are deleted (a symbolic link, a folder or a device
// is left alone), and nothing at all while the report is untrusted. The
// application runs this before another report is opened and at exit.
void CleanUpImageFiles(tRenderer& Renderer);

}  // namespace quillard
