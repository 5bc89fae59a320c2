// Files that reports name: finding them the way the report's author meant
// (letter case may differ, names may be written with backslashes), reading
// them with a size limit, the pictures a report asks to have deleted, and the
// report the user asks to have deleted.
#pragma once

#include "base/bytefile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillard {

class tRenderer;

// The existing regular file that Name denotes, looked up component by
// component, each spelt exactly when there is such an entry and otherwise
// without regard to letter case, "\" and "/" both separating
// folders; "" when there is none. A relative name is looked up from BaseDir.
// A leading drive ("C:") is dropped: the rest is taken from the root.
std::string FindFileNoCase(const std::string& Name, const std::string& BaseDir);

// A file named in a report: an absolute name as it stands, a relative one
// from the report's folder first and then from the working folder (so that
// the picture beside the report is the one drawn, and the one deleted). The
// result is an absolute path, or "" when no such file exists.
std::string FindReportFile(const std::string& Name, const std::string& ReportFileName);

// A picture a report from the network names, in the one folder it may take
// pictures from (Folder, which the administrator chose): Name relative to
// it, without "..", looked up as FindFileNoCase does, with no symbolic link
// on the way below the folder. "" when there is no such file, or the name
// reaches out of the folder, or Folder is empty.
std::string FindFileInFolder(const std::string& Name, const std::string& Folder);

// Reads the whole of a regular file of at most MaxBytes bytes; false when it
// cannot be read or is larger. Read, when given, gets the file that was read.
bool ReadWholeFile(const std::string& Path, std::vector<uint8_t>& Bytes, int64_t MaxBytes,
                   TFileIdentity* Read = nullptr);

// Lists Path (a file found by FindReportFile that decoded as a picture, Read
// being the file decoded) in the renderer's ImagesToDelete, once, when it may
// be deleted: a regular file reached without a link at its own name, in the
// report's folder or below (on real paths), other than the report (Report).
// Reports the renderer does not trust list nothing. True when listed.
bool MarkImageForDeletion(tRenderer& Renderer, const std::string& Path, const TFileIdentity& Read,
                          const TFileIdentity& Report);

// Deletes the pictures listed in the renderer's ImagesToDelete and empties
// the list; nothing at all while the report is untrusted. Each is checked
// again just before it goes: still the very file that decoded, still a
// regular file in the report's folder or below, reached from the root with no
// symbolic link on the way. The application runs this when it is done with a
// report (another report is opened, the program ends).
void CleanUpImageFiles(tRenderer& Renderer);

// Deletes the report the user asked to have deleted (the /DELETE switch): the
// regular file the name reaches, through a symbolic link if the name is one
// (the link itself stays). A folder, a device or a FIFO is left alone. True
// when a file was deleted.
bool DeleteReportFile(const std::string& Path);

}  // namespace quillard
