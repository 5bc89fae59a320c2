// The user-added items of a report, as the edit window loads them: the text
// items and shapes read from arbitrary report text (ReadAutoTextSpans, the
// core of the edit window's LoadAutoTextSpans), deleting one of them, writing
// an item back as the edit window does, and putting a new item at the end of
// a page.
//
// Input: one byte, the page a new item goes to (1-16) and which item found
// is deleted and written back (high four bits); then the report text.
#include "tests/fuzz/fuzzutil.h"

#include "engine/autotext.h"
#include "engine/fileeditor.h"
#include "engine/markup.h"
#include "engine/renderer.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace quillard;

namespace {

[[noreturn]] void Fail(const char* What, const std::string& Detail = {})
{
    std::fprintf(stderr, "fuzz_autotext: %s %s\n", What, Detail.c_str());
    std::abort();
}

tRenderer* Renderer = nullptr;

bool StartsSpan(const std::string& S, int Pos)
{
    return Pos >= 1 && size_t(Pos) + 4 <= S.size() && UpperCase(S.substr(size_t(Pos) - 1, 5)) == "{SPAN";
}

TAutoTextStyle StyleOf(const tAddTextSpanCollectionItem& Item)
{
    TAutoTextStyle s;
    s.FontName = Item.FontName;
    s.FontSize = Item.FontSizeOrWidth;
    s.Color = Item.Color;
    s.Rotation = Item.Rotation;
    s.Bold = Item.Bold;
    s.Italic = Item.Italic;
    s.Underline = Item.Underline;
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::StartQt();
    Renderer = new tRenderer();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    if (Size < 1)
        return 0;
    const int page = (Data[0] & 15) + 1;
    const size_t pick = Data[0] >> 4;
    const std::string report(reinterpret_cast<const char*>(Data + 1), Size - 1);
    tRenderer& r = *Renderer;

    int errors = -1;
    const tAddTextSpanCollection items = ReadAutoTextSpans(r, report, errors);
    if (errors < 0)
        Fail("negative error count");
    int last = 0;
    for (const auto& item : items) {
        if (item.SpanPos <= last)
            Fail("items out of file order");
        last = item.SpanPos;
        if (!StartsSpan(report, item.SpanPos))
            Fail("an item that does not start at a span tag:", std::to_string(item.SpanPos));
        if (item.Kind != "AUTOTEXT" && item.Kind != "LINE" && item.Kind != "OVAL" && item.Kind != "RECT" &&
            !item.Kind.empty())
            Fail("unknown item kind:", item.Kind);
        (void)ListEntryText(item.DisplayText);
    }

    if (!items.empty()) {
        const auto& item = items[pick % items.size()];
        // Deleting an item removes its span through the first closing tag.
        std::string cut = report;
        const bool removed = DeleteSpanFromStr(cut, item.SpanPos);
        if (removed) {
            if (cut.size() >= report.size() || cut.compare(0, size_t(item.SpanPos) - 1, report, 0, size_t(item.SpanPos) - 1) != 0)
                Fail("deleting a span changed what lies before it");
        } else if (cut != report) {
            Fail("a span that was not deleted changed the text");
        }

        // A text item written back by the edit window reads back as what was
        // written, and writing that again gives the same markup. (The markup
        // is written as it is, without escapes: a name, font or text holding
        // quotes or braces, as read from a damaged tag, changes on the way.)
        auto clean = [](const std::string& t) { return t.find_first_of("\"{}") == std::string::npos; };
        if (item.Kind == "AUTOTEXT" && clean(item.SpanName) && clean(item.FontName) && clean(item.DisplayText)) {
            const std::string once = AutoTextEditMarkup(item.SpanName, StyleOf(item), item.PosX, item.PosY, item.DisplayText);
            int e = 0;
            const auto back = ReadAutoTextSpans(r, once, e);
            if (back.empty() || back[0].Kind != "AUTOTEXT")
                Fail("a written text item does not read back:", once);
            const std::string twice =
                AutoTextEditMarkup(back[0].SpanName, StyleOf(back[0]), back[0].PosX, back[0].PosY, back[0].DisplayText);
            const auto again = ReadAutoTextSpans(r, twice, e);
            if (again.empty())
                Fail("a rewritten text item does not read back:", twice);
            const std::string thrice =
                AutoTextEditMarkup(again[0].SpanName, StyleOf(again[0]), again[0].PosX, again[0].PosY, again[0].DisplayText);
            if (thrice != twice)
                Fail("writing a text item back is not stable:", twice + " | " + thrice);
        }
    }

    // A new item at the end of a page. Without form feeds and in-line data
    // that is the file editor's insertion before the page's {PAGE} tag.
    TAutoTextStyle style;
    style.Bold = true;
    const std::string markup = AutoTextMarkup(7, style, 1.5, 2.25, "Fuzz");
    const std::string placed = InsertAtEndOfPage(report, markup, page);
    if (report.find('\f') == std::string::npos && PosNoCase("{IMG", report) == 0) {
        const int at = tFileEditor::FindNth("{PAGE}", report, page);
        std::string expect = report;
        if (at >= 1)
            expect.insert(size_t(at) - 1, markup);
        else
            expect += markup;
        if (placed != expect)
            Fail("the item was not put before the page's closing tag");
    }
    int e = 0;
    bool found = false;
    for (const auto& item : ReadAutoTextSpans(r, placed, e))
        if (SameText(item.SpanName, "AutoText7")) {
            found = found || (item.Kind == "AUTOTEXT" && item.DisplayText == "Fuzz" && item.Bold &&
                              std::fabs(item.PosX - 1.5) < 1e-9 && std::fabs(item.PosY - 2.25) < 1e-9);
        }
    if (!found)
        Fail("the new item is not found in the report");
    return 0;
}
