// The program's settings: string values under organisation "Merrowgate",
// application "Quillard". The user scope holds the current user's values,
// the system scope the one administrative value.
#pragma once

#include "engine/globals.h"

#include <optional>
#include <string>

namespace quillard {

// The current user's values as stored; a value that is absent stays empty.
struct TUserSettings {
    std::optional<std::string> ZoomLevel;
    std::optional<std::string> SaveTxtDir;
    std::optional<std::string> SavePdfDir;
    std::optional<std::string> SaveGraphicDir;
    std::optional<std::string> OpenDir;
    std::optional<std::string> ExitOnEsc;
    std::optional<std::string> UseLineDrawFont;
    // "Auto", "UTF-8", "CP1252" or "CP437": the character set of reports.
    std::optional<std::string> Encoding;
    std::optional<std::string> LineEnds;
    std::optional<std::string> PlainText;  // "Plain Text": Auto, Never or Always
    // "Yes" or "No": PDF files embed every font, and deflate their pages.
    std::optional<std::string> EmbedPdfFonts;
    std::optional<std::string> CompressPdf;
};

// Reads the current user's values; a missing or unreadable store gives no
// values at all.
TUserSettings ReadUserSettings();
// Puts into force the values that change how a report is drawn ("Use MS
// LineDraw Font", "Line Ends"); the window and the command line both lay reports out by
// them. The print window's fonts and pitch sizes are the run's own and are
// not stored.
void ApplyDrawingSettings(const TUserSettings& Settings);
// Whether "No Open or Save" is present (with any content) in the system scope.
bool NoOpenOrSave();

// The proxy values of the user's "Internet Settings" group, as stored.
struct TInternetSettings {
    std::optional<std::string> ProxyEnable;
    std::optional<std::string> ProxyServer;
};
TInternetSettings ReadInternetSettings();

// "Fetch Time Limit": how many seconds a report may take to arrive from a
// web server, a whole number from 1 to 86,400 (more counts as 86,400).
// Absent, or anything else, it is DefaultFetchTimeLimit: five minutes
// bring tens of megabytes even over a slow line, and a fetch for a client
// makes the automation server refuse other clients' calls as busy that long.
inline constexpr int DefaultFetchTimeLimit = 300;
inline constexpr int MaxFetchTimeLimit = 86400;
int ParseFetchTimeLimit(const std::optional<std::string>& Value);
// The user's value.
int ReadFetchTimeLimit();

// The values written when the program ends. Returns false when the store
// could not be written.
bool WriteExitSettings(const std::string& ZoomText, const std::string& SaveTxtDir, const std::string& SaveGraphicDir,
                       const std::string& OpenDir);

// Writes one current-user value ("Use MS LineDraw Font", "Save PDF Dir", ...);
// false when the store could not be written.
bool WriteUserSetting(const std::string& Name, const std::string& Value);

// "Zoom Level": the value's leading digits as a percentage; no digits keep
// Current; above 300 gives 70 (and sets *Replaced).
int ParseZoomLevel(const std::string& Value, int Current, bool* Replaced = nullptr);
// "Line Ends" (and --line-ends=): Auto, Printer or Unix in any letter case;
// nothing for anything else.
std::optional<TLineEndChoice> ParseLineEnds(const std::string& Value);

// "Exit On Esc" and "Use MS LineDraw Font": "YES" in any letter case.
bool SettingIsYes(const std::string& Value);

}  // namespace quillard
