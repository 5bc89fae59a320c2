// Opening a report: the header scan. The report is read once for its page
// setup before anything is laid out: an {INIT ...} tag opening the first line,
// or the legacy page-setup tags anywhere in the file. Paper size and
// orientation go to the printer's device settings; the tray stays with the
// renderer until the next print job.
#include "engine/header.h"

#include "base/bytefile.h"
#include "base/strings.h"
#include "engine/markup.h"
#include "engine/printer.h"
#include "engine/renderer.h"
#include "engine/services.h"
#include "base/textencoding.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <cstdint>
#include <stdexcept>

namespace quillard {

namespace {

// The n-th name has the number n.
const char* const PaperNames[] = {
    "LETTER", "LETTERSMALL", "TABLOID", "LEDGER", "LEGAL", "STATEMENT", "EXECUTIVE", "A3", "A4", "A4SMALL",
    "A5", "B4", "B5", "FOLIO", "QUARTO", "10X14", "11X17", "NOTE", "ENV_9", "ENV_10",
    "ENV_11", "ENV_12", "ENV_14", "CSHEET", "DSHEET", "ESHEET", "ENV_DL", "ENV_C5", "ENV_C3", "ENV_C4",
    "ENV_C6", "ENV_C65", "ENV_B4", "ENV_B5", "ENV_B6", "ENV_ITALY", "ENV_MONARCH", "ENV_PERSONAL",
    "FANFOLD_US", "FANFOLD_STD_GERMAN", "FANFOLD_LGL_GERMAN", "ISO_B4", "JAPANESE_POSTCARD", "9X11", "10X11",
    "15X11", "ENV_INVITE", "RESERVED_48", "RESERVED_49", "LETTER_EXTRA", "LEGAL_EXTRA", "TABLOID_EXTRA",
    "A4_EXTRA", "LETTER_TRANSVERSE", "A4_TRANSVERSE", "LETTER_EXTRA_TRANSVERSE", "A_PLUS", "B_PLUS",
    "LETTER_PLUS", "A4_PLUS", "A5_TRANSVERSE", "B5_TRANSVERSE", "A3_EXTRA", "A5_EXTRA", "B5_EXTRA", "A2",
    "A3_TRANSVERSE", "A3_EXTRA_TRANSVERSE"};
constexpr int PaperCount = sizeof PaperNames / sizeof PaperNames[0];
static_assert(PaperCount == 68, "the paper list numbers 68 names");

struct TTrayName {
    const char* Name;
    int Number;
};
const TTrayName TrayNames[] = {
    {"UPPER", 1},   {"DEFAULT", 1},       {"LOWER", 2},        {"MIDDLE", 3},         {"MANUAL", 4},
    {"ENVELOPE", 5}, {"ENVELOPE MANUAL", 6}, {"AUTOMATIC", 7}, {"AUTO", 7},           {"TRACTOR", 8},
    {"SMALL-FORMAT", 9}, {"LARGE-FORMAT", 10}, {"LARGE", 11},  {"CASSETTE", 14},
};

bool StartsWithDigit(const std::string& s) { return !s.empty() && s[0] >= '0' && s[0] <= '9'; }

// A tray value: a leading digit gives the number, a tray name its number;
// anything else leaves the tray as it was.
void ApplyTray(const std::string& Value, int16_t& Tray)
{
    if (StartsWithDigit(Value)) {
        Tray = static_cast<int16_t>(ParseIntPrefix(Value, 0));
        return;
    }
    if (int n = TrayNumber(Value))
        Tray = static_cast<int16_t>(n);
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

}  // namespace

int PaperNumber(const std::string& Name)
{
    for (int i = 0; i < PaperCount; ++i)
        if (Name == PaperNames[i])
            return i + 1;
    return 0;
}

std::string PaperName(int Number)
{
    if (Number < 1 || Number > PaperCount)
        return {};
    return PaperNames[Number - 1];
}

int TrayNumber(const std::string& Name)
{
    for (const TTrayName& t : TrayNames)
        if (Name == t.Name)
            return t.Number;
    return 0;
}

namespace {

// What a byte above 0x7F says when it stands between two ASCII letters, as
// a letter of a word does: that the text is CP437 (the byte is a letter there
// and no letter in Windows-1252), Windows-1252 (the other way round), or
// nothing (a letter in both, or a mark that Windows-1252 text puts between
// letters: the right quote in "don't", the em dash, the no-break space).
enum class TLetterVote : uint8_t { None, Cp437, Cp1252 };

constexpr std::array<TLetterVote, 256> LetterVotes = [] {
    std::array<TLetterVote, 256> v{};
    // CP437's accented letters: Windows-1252 has punctuation or nothing there.
    for (int b = 0x80; b <= 0x9A; ++b)
        v[b] = TLetterVote::Cp437;
    for (int b = 0xA1; b <= 0xA5; ++b)
        v[b] = TLetterVote::Cp437;
    // Windows-1252's letters: CP437 has box drawing, Greek and signs there.
    for (int b = 0xC0; b <= 0xFF; ++b)
        v[b] = TLetterVote::Cp1252;
    v[0x9C] = v[0x9E] = v[0x9F] = TLetterVote::Cp1252;  // oe z-caron Y-diaeresis; pound, peseta, florin
    // Letters in both: e-grave, i-circumflex, A- and U-umlaut against S-, OE-
    // and Z-caron, s-caron; sharp s against a-acute.
    for (int b : {0x8A, 0x8C, 0x8E, 0x9A, 0xE1})
        v[b] = TLetterVote::None;
    // Times and divide; the quotes and em dash of Windows-1252 (ae, AE,
    // u-grave in CP437); the no-break spaces of both (a-acute, y-diaeresis).
    for (int b : {0xD7, 0xF7, 0x91, 0x92, 0x97, 0xA0, 0xFF})
        v[b] = TLetterVote::None;
    return v;
}();

bool IsAsciiLetter(unsigned char B) { return (B >= 'A' && B <= 'Z') || (B >= 'a' && B <= 'z'); }

// The votes of the bytes of a text (LetterVotes), taken in order.
struct TLetterCount {
    int64_t Cp437 = 0, Cp1252 = 0;

    void Take(unsigned char B)
    {
        const bool letter = IsAsciiLetter(B);
        if (letter && Pending == TLetterVote::Cp437)
            ++Cp437;
        else if (letter && Pending == TLetterVote::Cp1252)
            ++Cp1252;
        Pending = AfterLetter ? LetterVotes[B] : TLetterVote::None;
        AfterLetter = letter;
    }
    // Eight ASCII bytes, of which only the first and the last matter.
    void TakeAscii(unsigned char First, unsigned char Last)
    {
        Take(First);
        AfterLetter = IsAsciiLetter(Last);
    }

private:
    TLetterVote Pending = TLetterVote::None;  // of the byte before, if a letter follows
    bool AfterLetter = false;
};

// What the report's text is made of: the bytes up to the first in-line
// picture (DATA=" in any letter case), whose bytes are no text.
struct TTextScan {
    bool CarriageReturn = false;
    bool Bom = false;
    bool BoxRuns = false;  // two bytes of 179 to 223 side by side
    TLetterCount Letters;
    bool KnownTag = false; // a tag the report reader knows (IsKnownTagAt)
    TUtf8Validator Utf8;
};

// Whether Text at At starts with Word (upper case) in any letter case.
bool StartsWithWordAt(std::string_view Text, size_t At, std::string_view Word)
{
    if (Text.size() - At < Word.size())
        return false;
    for (size_t i = 0; i < Word.size(); ++i) {
        char c = Text[At + i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != Word[i])
            return false;
    }
    return true;
}

// Whether a line after the first may hold what the scan looks for there: a
// page-setup tag or the DATA=" of in-line picture data. A line without one
// of these is passed over without copying it.
bool MayHoldSetupTag(std::string_view Line)
{
    static constexpr std::string_view Tags[] = {"LANDSCAPE}", "PORTRAIT}", "FONTSIZE1", "MONO", "TRAY=", "PAPERTRAY="};
    const char* const start = Line.data();
    const char* const end = start + Line.size();
    for (const char* p = start; (p = static_cast<const char*>(std::memchr(p, '{', end - p))) != nullptr; ++p)
        for (std::string_view tag : Tags)
            if (StartsWithWordAt(Line, p - start + 1, tag))
                return true;
    for (const char* p = start; (p = static_cast<const char*>(std::memchr(p, '=', end - p))) != nullptr; ++p) {
        const size_t at = p - start;
        if (at >= 4 && at + 1 < Line.size() && Line[at + 1] == '"' && StartsWithWordAt(Line, at - 4, "DATA"))
            return true;
    }
    return false;
}

TTextScan ScanReportText(TByteFile& File)
{
    TTextScan scan;
    File.Seek(0);
    std::vector<char> block(64 * 1024);
    std::string tail;  // the last bytes of the block before, for a word across blocks
    bool first = true;
    bool previousBox = false;
    for (;;) {
        const size_t n = File.Read(block.data(), block.size());
        if (n == 0)
            return scan;
        std::string text = tail;
        text.append(block.data(), n);
        if (first) {
            scan.Bom = StartsWithUtf8Bom(text);
            first = false;
        }
        size_t end = text.size();
        for (size_t q = text.find('"'); q != std::string::npos; q = text.find('"', q + 1))
            if (q >= 5 && text[q - 1] == '=' && SameText(text.substr(q - 5, 4), "DATA")) {
                end = q;
                break;
            }
        if (!scan.CarriageReturn && std::memchr(text.data(), '\r', end))
            scan.CarriageReturn = true;
        // A tag may begin in the tail and end in this block.
        for (const char* p = text.data(); !scan.KnownTag && p < text.data() + end &&
                                          (p = static_cast<const char*>(std::memchr(p, '{', text.data() + end - p)));
             ++p)
            scan.KnownTag = IsKnownTagAt(std::string_view(text.data(), end), p - text.data());
        // The tail was checked with the block before.
        if (end > tail.size()) {
            scan.Utf8.Feed(text.data() + tail.size(), end - tail.size());
            for (size_t i = tail.size(); i < end; ++i) {
                if (end - i >= 8 && IsAsciiWord(text.data() + i)) {
                    previousBox = false;  // no box byte among these eight
                    scan.Letters.TakeAscii(text[i], text[i + 7]);
                    i += 7;
                    continue;
                }
                const auto b = static_cast<unsigned char>(text[i]);
                const bool box = b >= 179 && b <= 223;
                scan.BoxRuns = scan.BoxRuns || (box && previousBox);
                previousBox = box;
                scan.Letters.Take(b);
            }
        }
        if (end < text.size()) {
            // The text ends in the middle of this block: whatever follows is
            // picture data, and a sequence the text leaves open is no fault.
            return scan;
        }
        // Enough for DATA=" and for the longest tag name.
        tail = text.substr(text.size() - std::min<size_t>(text.size(), 20));
    }
}

// Whether a text without a byte-order mark that is no UTF-8 reads better as
// CP437 than as Windows-1252. The bytes between letters decide (LetterVotes):
// with box drawing side by side, at least two CP437 votes and three times as
// many as Windows-1252 ones; without, at least three CP437 votes and not one
// for Windows-1252. A DOS ledger's accented names vote for CP437, and its
// frame never (box bytes stand beside each other, spaces and digits). A
// Windows-1252 text with accents votes for Windows-1252 (its small accented
// letters are 0xE0 and up), a report with the box-range capitals side by
// side (E-acute U-umlaut, 0xC9 0xDC) too, unless its words hold far more of
// CP437's letters; its curly quotes, dashes and euro signs stand beside
// spaces, digits and punctuation, and do not vote.
bool ReadsBetterAsCp437(const TTextScan& Text)
{
    const TLetterCount& v = Text.Letters;
    if (Text.BoxRuns)
        return v.Cp437 >= 2 && v.Cp437 >= 3 * v.Cp1252;
    return v.Cp437 >= 3 && v.Cp1252 == 0;
}

}  // namespace

bool tRenderer::ScanHeader(const std::string& AFileName, TGauge* Gauge)
{
    TPrinterLayer& printer = Printer();
    // The pictures listed for deletion belong to the report that listed them
    // (every pass of it adds to the list); another report starts afresh.
    if (AFileName != FileName)
        ImagesToDelete.clear();
    FileName = AFileName;
    PictureCache.Clear();
    try {
        Setup.Orientation = printer.CanOrientation() ? static_cast<uint8_t>(printer.Orientation() == 1 ? 1 : 0) : 0;
    } catch (const std::exception&) {
        // A printer that cannot tell: the report starts portrait.
        Setup.Orientation = 0;
    }
    Setup.Tray = 0;
    Setup.Paper = 0;
    Setup.FixedFontName = "Courier New";
    Setup.PropFontName = "Times New Roman";
    if (Spans[1])
        Spans[1]->LinesPerPage = 0;
    Setup.ColourMode = true;
    int lineCount = 0;
    UnixLineEnds = LineEndChoice == TLineEnds::Unix;
    ReportEncoding = EncodingChoice == TEncodingChoice::Utf8    ? TReportEncoding::Utf8
                     : EncodingChoice == TEncodingChoice::Cp437 ? TReportEncoding::Cp437
                                                                : TReportEncoding::Cp1252;
    ReportHasBom = false;
    ReportHasBoxRuns = true;
    PlainLayout = SetupOverrides.PlainText || PlainTextChoice == TPlainTextChoice::Always;
    if (FileName.empty())
        return true;

    TByteFile file;
    try {
        file.Open(FileName);
        FileSize = file.Size();
        if (Gauge) {
            Gauge->MaxValue = static_cast<int>(std::min<int64_t>(FileSize, INT_MAX));
            Gauge->Progress = 1;
        }
        {
            const TTextScan text = ScanReportText(file);
            ReportHasBoxRuns = text.BoxRuns;
            if (LineEndChoice == TLineEnds::Auto)
                UnixLineEnds = !text.CarriageReturn;
            // Auto: a byte-order mark or valid UTF-8 with bytes above 0x7F
            // means UTF-8; else a file whose words read better in CP437 is
            // CP437 (ReadsBetterAsCp437): a text file without a carriage
            // return, or any file with box drawing side by side (a DOS
            // program's ledger); reports without box drawing keep
            // Windows-1252. Else Windows-1252.
            if (EncodingChoice == TEncodingChoice::Auto)
                ReportEncoding = text.Bom || (text.Utf8.Complete() && text.Utf8.NonAscii) ? TReportEncoding::Utf8
                                 : (!text.CarriageReturn || text.BoxRuns) && ReadsBetterAsCp437(text) ? TReportEncoding::Cp437
                                                                                        : TReportEncoding::Cp1252;
            ReportHasBom = text.Bom;
            if (PlainTextChoice == TPlainTextChoice::Auto && !text.CarriageReturn && !text.KnownTag)
                PlainLayout = true;
        }
        file.Seek(0);
    } catch (const std::exception& e) {
        NoteOpenFailure(FileName);
        ShowMessage("Error opening " + Quoted(FileName) + "\r\n" + e.what(), "Cannot Open File");
        return false;
    }
    // A plain text file has no header: its braces are text.
    if (PlainLayout) {
        file.Close();
        return true;
    }

    // Applies an orientation to the printer when it has one; a printer that
    // refuses is passed over without a message.
    auto orientPrinter = [&] {
        try {
            if (printer.CanOrientation())
                printer.SetOrientation(Setup.Orientation);
        } catch (const std::exception&) {
        }
    };

    std::string scan;
    try {
        while (!file.Eof()) {
            ProcessMessages();
            std::string line, lineEnd;
            const int64_t before = file.Position();
            // A longer line is scanned in pieces: the scan never holds more.
            GetLn(file, line, lineEnd, TLineReading{false, MaxLineBytes, false});
            if (file.Position() == before && !file.Eof())
                throw std::runtime_error("The file could not be read past byte " + std::to_string(before));
            ++lineCount;
            // The byte-order mark is no part of the header.
            if (before == 0 && ReportHasBom && ReportEncoding == TReportEncoding::Utf8)
                line.erase(0, 3);
            if (Gauge) {
                const int64_t progress = static_cast<int64_t>(Gauge->Progress) + line.size() + lineEnd.size();
                Gauge->Progress = static_cast<int>(std::min<int64_t>(progress, INT_MAX));
            }
            // Only the first line can hold {INIT}; most of a report is
            // passed over without copying it.
            if (lineCount > 1 ? !MayHoldSetupTag(line) : !HoldsAnyOf(line, "{="))
                continue;
            scan = UpperCase(Trim(ReplaceAll(line, "\\{", "[[")));

            if (lineCount == 1 && scan.compare(0, 5, "{INIT") == 0) {
                const size_t close = scan.find('}');
                const std::string tag = close == std::string::npos ? std::string() : scan.substr(0, close + 1);
                auto attribute = [&](const char* Names) { return Trim(GetAttribute(tag, Names)); };

                std::string value = attribute("VER;VERSION");
                if (!IsBlank(value))
                    Setup.Version = static_cast<uint8_t>(ParseIntPrefix(value, 0));

                value = attribute("PAPERSIZE;PAPER");
                if (!IsBlank(value)) {
                    try {
                        // Names first: 10X14, 11X17, 9X11, 10X11 and 15X11
                        // start with a digit but are names, not numbers.
                        if (int n = PaperNumber(value))
                            Setup.Paper = static_cast<int16_t>(n);
                        else if (StartsWithDigit(value))
                            Setup.Paper = static_cast<int16_t>(ParseIntPrefix(value, 0));
                        if (Setup.Paper != 0)
                            printer.SetPaperSize(Setup.Paper);
                        printer.SetOrientation(Setup.Orientation);
                    } catch (const std::exception&) {
                        // A printer without that paper keeps its own; the
                        // page is laid out on what it has.
                    }
                }

                value = attribute("ORIENTATION");
                if (value == "PORTRAIT" || value == "LANSCAPE") {
                    Setup.Orientation = value == "PORTRAIT" ? 0 : 1;
                    orientPrinter();
                }

                value = attribute("PAPERTRAY;TRAY");
                if (!IsBlank(value))
                    ApplyTray(value, Setup.Tray);

                value = attribute("MONOCHROME;MONO");
                if (!value.empty() && value[0] == 'Y')
                    Setup.ColourMode = false;

                if (Setup.Version != 0) {
                    file.Close();
                    return true;
                }
            }

            // Legacy page-setup tags, anywhere in the line.
            if (scan.find("{LANDSCAPE}") != std::string::npos) {
                Setup.Orientation = 1;
                orientPrinter();
            }
            if (scan.find("{PORTRAIT}") != std::string::npos) {
                Setup.Orientation = 0;
                orientPrinter();
            }
            struct TPitch {
                const char* Tag;
                uint8_t& Size;
                int Default;
            };
            const TPitch pitches[] = {{"{FONTSIZE10", Setup.Cpi10Size, 12}, {"{FONTSIZE12", Setup.Cpi12Size, 10}, {"{FONTSIZE17", Setup.Cpi17Size, 7}};
            for (const TPitch& p : pitches) {
                const size_t at = scan.find(p.Tag);
                if (at != std::string::npos)
                    p.Size = static_cast<uint8_t>(ParseIntPrefix(GetAttribute(TagAt(scan, static_cast<int>(at) + 1), ""), p.Default));
            }
            if (scan.find("{MONO}") != std::string::npos || scan.find("{MONOCHROME}") != std::string::npos)
                Setup.ColourMode = false;
            if (scan.find("{TRAY=") != std::string::npos || scan.find("{PAPERTRAY=") != std::string::npos) {
                size_t at = scan.find("{TRAY=") != std::string::npos ? scan.find("{TRAY") : scan.find("{PAPERTRAY");
                ApplyTray(GetAttribute(TagAt(scan, static_cast<int>(at) + 1), ""), Setup.Tray);
            }

            // In-line picture data follows: nothing after it is header.
            if (scan.find("DATA=\"") != std::string::npos) {
                file.Close();
                return true;
            }
        }
    } catch (const std::exception& e) {
        ShowMessage(std::string(e.what()) + "\r\nLine #: " + std::to_string(lineCount) + "\r\nLine  = \"" +
                        scan.substr(0, 50) + "\"",
                    "Error Reading File");
        file.Close();
        return false;
    }
    file.Close();
    if (Gauge) {
        Gauge->MaxValue = lineCount;
        Gauge->Progress = lineCount;
    }
    return true;
}

}  // namespace quillard
