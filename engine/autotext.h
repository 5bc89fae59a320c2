// The markup of the items a user adds to a report from the preview (text
// items and shapes), the insertion of that markup at the end of a page of
// the report, and the reading back of the items for the edit window.
#pragma once

#include "engine/markup.h"

#include <string>
#include <vector>

namespace quillard {

class tRenderer;

// A number in the general decimal form of the markup: at most 15
// significant digits, no trailing zeros, no exponent for ordinary sizes
// ("1.5", "2.25", "0", "-0.125").
std::string GeneralNumber(double Value);

// The look of a text item.
struct TAutoTextStyle {
    std::string FontName = "Arial";
    int FontSize = 19;
    COLORREF Color = 0;   // 0x00BBGGRR
    int Rotation = 0;     // degrees
    bool Bold = false, Italic = false, Underline = false;
};

// The span of a new text item named "AutoText" + Number at X, Y inches from
// the printable area's top-left corner.
std::string AutoTextMarkup(int Number, const TAutoTextStyle& Style, double X, double Y, const std::string& Text);
// The span written back by the edit window for the item named Name (no
// ALIGN attribute).
std::string AutoTextEditMarkup(const std::string& Name, const TAutoTextStyle& Style, double X, double Y,
                               const std::string& Text);

enum class TAutoShapeKind { Line, Box, Oval };

// The span of a shape from (X1, Y1) to (X2, Y2) inches from the sheet's
// top-left corner; Width in points.
std::string AutoShapeMarkup(TAutoShapeKind Kind, int Width, COLORREF Color, bool Filled, double X1, double Y1,
                            double X2, double Y2);

// Report text with Markup put in front of the page break that ends page
// TargetPage, or at the very end when the report has fewer page breaks.
// Form feeds become {PAGE} tags on the way (one tag for each); the bytes of
// in-line picture data are carried over untouched.
std::string InsertAtEndOfPage(const std::string& Report, const std::string& Markup, int TargetPage);

// Rewrites the report FileName with Markup inserted as InsertAtEndOfPage
// does. Failures show "Error Adding Text" messages and leave the file as it
// was; true when the report was rewritten.
bool AddTextToReportFile(const std::string& FileName, const std::string& Markup, int TargetPage);

// One item added by a user, as found in the report.
struct tAddTextSpanCollectionItem {
    std::string SpanName;
    std::string Kind;           // "AUTOTEXT", "LINE", "OVAL", "RECT" or empty
    int SpanPos = 0;            // 1-based position of "{SPAN" in the report text
    std::string DisplayText;
    double PosX = 0, PosY = 0;  // inches
    double EndX = 0, EndY = 0;  // inches, shapes only
    std::string FontName;       // "%DISABLE%" for shapes
    int FontSizeOrWidth = 10;
    bool Italic = false, Bold = false, Underline = false;
    COLORREF Color = 0;
    int Rotation = 0;
    bool Filled = false;
};

using tAddTextSpanCollection = std::vector<tAddTextSpanCollectionItem>;

// Finds the text items and shapes in ReportText, in file order; span tags
// are found in any letter case and ReportText is left as it is. Errors
// counts the spans that could not be read.
tAddTextSpanCollection ReadAutoTextSpans(tRenderer& Renderer, const std::string& ReportText, int& Errors);

// Removes the span starting at the 1-based position P through the end of
// the first "{/SPAN}" (any letter case) at or after it; no change when there
// is none (the result says whether anything was removed).
bool DeleteSpanFromStr(std::string& ReportText, int P);

// The list entry of an item: its text, cut after 15 characters with "...".
std::string ListEntryText(const std::string& DisplayText);

}  // namespace quillard
