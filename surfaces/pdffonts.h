// Fonts embedded in a PDF: TrueType faces of the machine, chosen by
// fontconfig for each of the standard fonts (the metric-compatible faces
// first, then the faces that have a character those lack), and written as
// subsets (HarfBuzz's subsetter) of the glyphs a document used:
// - for the Windows-1252 text of a standard font, a TrueType font of its
//   first face in WinAnsiEncoding (a byte a character, as the standard
//   fonts), with a ToUnicode map;
// - for every other character, a Type0 font with a CIDFontType2 descendant,
//   Identity-H, widths, a ToUnicode map and the subset's FontFile2.
// The widths written are the face's own, so that they agree with the font
// program; text measured at other widths is placed with displacements.
//
// The codes (CIDs) of a font are handed out in the order characters are first
// shown: each character at each width has one code of its own, mapped to its
// glyph by a CIDToGIDMap and to its text by the ToUnicode map. A code is two
// bytes that a literal string holds as they are (printable ASCII but for the
// parentheses and the backslash, and 0xA0 to 0xFF): text costs two bytes a
// character in the page content, with nothing to escape. So two
// characters that share a glyph, or a character a face has no glyph for (its
// missing-glyph box), still extract as themselves, and a glyph shown at the
// width of a standard font and at its own width advances by each.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace quillard {

struct TFontFace;

// The face that shows a character for one of the standard fonts, the glyph,
// and the glyph's advance in the face's units.
struct TFaceGlyph {
    TFontFace* Face = nullptr;  // null: no face of the machine can be embedded
    uint32_t Glyph = 0;         // 0: no face has the character (the missing-glyph box)
    int32_t Advance = 0;
    int32_t UnitsPerEm = 1000;
    // The advance in thousandths of an em, rounded, as the font's widths say.
    int32_t Width() const
    {
        return static_cast<int32_t>((int64_t{Advance} * 2000 + UnitsPerEm) / (2 * int64_t{UnitsPerEm}));
    }
};

// Characters that show nothing: C0 and C1 controls and DEL.
inline bool IsControlCharacter(char32_t C) { return C < 0x20 || (C >= 0x7F && C < 0xA0); }

// A character as the document shows it in an embedded font: the font's
// resource number (/E<Font>) and the two-byte code (0: none).
struct TEmbeddedCode {
    int Font = 0;
    uint16_t Cid = 0;
};

// The two bytes of a code, as a literal string holds them.
inline void AppendCode(std::string& S, uint16_t Cid)
{
    S += static_cast<char>(Cid >> 8);
    S += static_cast<char>(Cid & 0xFF);
}

class TPdfFontSet {
public:
    TPdfFontSet();
    ~TPdfFontSet();
    TPdfFontSet(const TPdfFontSet&) = delete;
    TPdfFontSet& operator=(const TPdfFontSet&) = delete;

    // Which face shows C for standard font Standard (0 to 13): looked up once
    // per character and font.
    const TFaceGlyph& Lookup(int Standard, char32_t C);
    // Whether any face can be embedded for the standard font.
    bool HasFace(int Standard);
    // A glyph that shows where a character no face has stands, other than
    // the missing-glyph box: the replacement character, or "?".
    const TFaceGlyph& StandIn(int Standard)
    {
        const TFaceGlyph& g = Lookup(Standard, U'\uFFFD');
        return g.Glyph != 0 ? g : Lookup(Standard, U'?');
    }

    // The code that shows C as Glyph found it.
    TEmbeddedCode Use(const TFaceGlyph& Glyph, char32_t C);

    // The embedded TrueType font that shows standard font Standard's
    // Windows-1252 bytes (/T<Standard+1>): each byte's width in thousandths
    // of an em as its face has it, -1 for a byte it does not show (a control
    // character, a character the face lacks: those take the codes of Use);
    // and the bytes the document shows in it, which the caller marks.
    const int16_t* SimpleWidths(int Standard);
    bool* SimpleUsed(int Standard);

    // Forgets the codes handed out (a new document); the faces stay open.
    void Clear();

    // Writes every font that has codes: NextObject numbers an object,
    // WriteObject writes one whole. Returns the entries of the resources'
    // /Font dictionary ("/E1 12 0 R" ...), one a line.
    std::vector<std::string> WriteFonts(const std::function<int32_t()>& NextObject,
                                        const std::function<void(const std::string&)>& WriteObject);

    // What went wrong with the machine's faces since last asked (a face
    // asked for and not installed, a file that cannot be read or
    // subsetted): each said once.
    std::vector<std::string> TakeWarnings();

private:
    struct TStandardFaces;
    struct TPdfFont;
    TStandardFaces& FacesOf(int Standard);
    TFontFace* OpenFace(const std::string& File, int Index);
    void Warn(const std::string& Text);

    std::vector<std::unique_ptr<TFontFace>> FFaces;
    std::unique_ptr<TStandardFaces> FStandard[14];  // each made when first asked
    std::unordered_map<uint64_t, TFaceGlyph> FLookups;      // standard font << 32 | character
    std::vector<std::unique_ptr<TPdfFont>> FFonts;           // /E1, /E2 ...
    std::vector<std::string> FWarnings;
    std::vector<std::string> FSaid;
    struct TSimpleFont {
        bool Ready = false;
        int16_t Width[256] = {};
        bool Used[256] = {};
    } FSimple[14];
};

}  // namespace quillard
