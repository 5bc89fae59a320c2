// Small routines the engine and the application share: the program's version,
// temporary file names, and the command-line switch test.
#pragma once

#include <string>
#include <vector>

namespace quillard {

// The value of Name in the program's version block ("FileVersion",
// "ProductName", ...), or one of the error texts when there is none.
std::string FileVersionValue(const std::string& Name);
// Major and minor number of the program, such as "1.52".
std::string ProgramVersionText();
// The short version built from a version value: digits and the first point,
// up to the second point ("1.52.0.3" gives "1.52").
std::string ShortVersion(const std::string& Value);

// Creates a new empty temporary file QX<number>.TMP, readable by its owner
// only, in the folder named by TEMP (else TMPDIR, else /tmp), and returns its
// path; an empty text when no file could be made.
std::string MakeTempFileName();

// The program's command-line parameters (without the program name).
void SetProgramArguments(const std::vector<std::string>& Args);
const std::vector<std::string>& ProgramArguments();
// Whether a parameter is "-Name" or "/Name", ignoring letter case.
bool HasSwitch(const std::string& Name);

}  // namespace quillard
