// The header scan over arbitrary report bytes: an {INIT ...} first line or
// legacy page-setup tags anywhere, with a printer layer that takes every
// setting (or one without printers). Whatever the bytes, the scan ends with
// true, the values it sets are in their ranges, it leaves the printer's
// settings as the report asks, and scanning the same file again gives the
// same result.
//
// Input: one byte of options, then the report.
//   bit 0   the printer layer answers orientation (otherwise: no printers)
//   bit 1   a gauge is passed
#include "tests/fuzz/fuzzutil.h"

#include "engine/header.h"
#include "engine/printer.h"
#include "engine/renderer.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace quillard;

namespace {

[[noreturn]] void Fail(const char* What, const std::string& Detail = {})
{
    std::fprintf(stderr, "fuzz_header: %s %s\n", What, Detail.c_str());
    std::abort();
}

// A printer layer that keeps what it is told, with orientation.
class TOrientingPrinter : public TPrinterLayer {
public:
    int Orient = 0;
    int OrientationCalls = 0;
    bool CanOrientation() const override { return true; }
    int Orientation() const override { return Orient; }
    void SetOrientation(int O) override
    {
        if (O != 0 && O != 1)
            Fail("orientation out of range:", std::to_string(O));
        Orient = O;
        ++OrientationCalls;
    }
};

struct TScan {
    bool Ok = false;
    uint8_t Version = 0, Orientation = 0;
    int16_t Tray = 0, Paper = 0;
    bool Colour = true;
    uint8_t Cpi10 = 0, Cpi12 = 0, Cpi17 = 0;
    std::string Fixed, Prop;
    bool operator==(const TScan&) const = default;
};

TScan Scan(const std::string& Path, bool Orienting, bool WithGauge)
{
    TOrientingPrinter printer;
    TPrinterLayer plain;
    SetPrinterLayer(Orienting ? static_cast<TPrinterLayer*>(&printer) : &plain);
    TScan s;
    {
        tRenderer r;
        TGauge gauge;
        s.Ok = r.OpenFile(Path, WithGauge ? &gauge : nullptr);
        if (WithGauge && (gauge.Progress < 0 || gauge.MaxValue < 0))
            Fail("gauge went negative");
        s.Version = r.Setup.Version;
        s.Orientation = r.Setup.Orientation;
        s.Tray = r.Setup.Tray;
        s.Paper = Printer().PaperSize();
        s.Colour = r.Setup.ColourMode;
        s.Cpi10 = r.Setup.Cpi10Size;
        s.Cpi12 = r.Setup.Cpi12Size;
        s.Cpi17 = r.Setup.Cpi17Size;
        s.Fixed = r.Setup.FixedFontName;
        s.Prop = r.Setup.PropFontName;
        if (r.FileName != Path)
            Fail("the file name was not kept");
        if (Orienting && printer.OrientationCalls > 0 && printer.Orient != r.Setup.Orientation)
            Fail("the printer's orientation differs from the report's");
    }
    SetPrinterLayer(nullptr);
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::StartQt();
    // The paper vocabulary goes both ways.
    for (int n = 1; n <= 68; ++n)
        if (PaperNumber(PaperName(n)) != n)
            Fail("paper name and number disagree:", std::to_string(n));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    if (Size < 1)
        return 0;
    const uint8_t options = Data[0];
    const std::string& path = fuzz::WriteScratch(Data + 1, Size - 1);
    const bool orienting = options & 1, gauge = options & 2;

    const TScan first = Scan(path, orienting, gauge);
    if (!first.Ok)
        Fail("the scan of a readable file failed");
    if (first.Orientation > 1)
        Fail("orientation out of range:", std::to_string(first.Orientation));
    if (first.Fixed != "Courier New" || first.Prop != "Times New Roman")
        Fail("the pitch font names changed");
    // Only an {INIT} tag opening the first line sets the paper; a UTF-8
    // byte-order mark in front of it is no part of the line.
    size_t lead = 1;
    if (Size >= 4 && Data[1] == 0xEF && Data[2] == 0xBB && Data[3] == 0xBF)
        lead = 4;
    while (lead < Size && (Data[lead] == ' ' || Data[lead] == '\r' || Data[lead] == 0xFF))
        ++lead;
    if (first.Paper != DMPAPER_LETTER && (lead >= Size || Data[lead] != '{'))
        Fail("a paper size set by a report that does not start with a tag");

    const TScan again = Scan(path, orienting, !gauge);
    if (!(again == first))
        Fail("a second scan of the same file differs");
    fuzz::RemoveScratch();
    return 0;
}
