// The list of font names a report may select: the installed families plus the
// Windows core names that fontconfig resolves to metric-compatible faces.
#pragma once

#include <string>
#include <vector>

namespace quillard {

// Names in the list keep the form a report uses ("Courier New", "Arial").
// Built once, on first use; needs a QGuiApplication.
const std::vector<std::string>& SurfaceFontList();

// Registers the substitutions the surfaces rely on ("MS LineDraw" drawn with a
// fixed-pitch face that has the box-drawing characters). Idempotent.
void InstallFontSubstitutions();

}  // namespace quillard
