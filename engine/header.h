// The vocabulary of the report header: paper names with their DMPAPER numbers
// and tray names with their DMBIN numbers, as {INIT PAPER=... TRAY=...} and
// the legacy tray tags write them.
#pragma once

#include <string>

namespace quillard {

// Number of a paper name (LETTER is 1, A4 is 9, A3_EXTRA_TRANSVERSE is 68);
// 0 for a name outside the list. The name must be upper case.
int PaperNumber(const std::string& Name);
// The name of a paper number, or an empty text.
std::string PaperName(int Number);
// Number of a tray name (UPPER 1, LOWER 2, ..., CASSETTE 14); 0 for a name
// outside the table. The name must be upper case.
int TrayNumber(const std::string& Name);

}  // namespace quillard
