// Fonts embedded in a PDF: TrueType faces of the machine, chosen by
// fontconfig for each of the standard fonts (the metric-compatible faces
// first, then the faces that have a character those lack), and written as
// subsets (HarfBuzz's subsetter) of the glyphs a document used: a Type0 font
// with a CIDFontType2 descendant, Identity-H, widths, a ToUnicode map and
// the subset's FontFile2.
//
// The codes (CIDs) of a font are handed out in the order characters are first
// shown: each character at each width has one code of its own, mapped to its
// glyph by a CIDToGIDMap and to its text by the ToUnicode map. So two
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
};

// A character as the document shows it in an embedded font: the font's
// resource number (/E<Font>) and the two-byte code.
struct TEmbeddedCode {
    int Font = 0;
    uint16_t Cid = 0;
};

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

    // The code that shows C as Glyph found it, advancing by Width thousandths
    // of an em.
    TEmbeddedCode Use(const TFaceGlyph& Glyph, char32_t C, int32_t Width);
    // The code of a Windows-1252 byte of standard font Standard shown at the
    // standard font's width (C is its character): remembered for the
    // document, as most text is such bytes.
    TEmbeddedCode ByteCode(int Standard, unsigned char Byte, char32_t C, int32_t Width)
    {
        TEmbeddedCode& code = FByteCodes[Standard][Byte];
        if (code.Cid == 0)
            code = Use(Lookup(Standard, C), C, Width);
        return code;
    }

    // Forgets the codes handed out (a new document); the faces stay open.
    void Clear();
    // Whether any code has been handed out since Clear.
    bool Used() const;

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
    std::vector<std::unique_ptr<TStandardFaces>> FStandard;  // 14, made when first asked
    std::unordered_map<uint64_t, TFaceGlyph> FLookups;      // standard font << 32 | character
    std::vector<std::unique_ptr<TPdfFont>> FFonts;           // /E1, /E2 ...
    std::vector<std::string> FWarnings;
    std::vector<std::string> FSaid;
    TEmbeddedCode FByteCodes[14][256] = {};
};

// Deflates Data whole (zlib's FlateDecode format).
std::string DeflateBytes(const std::string& Data);

}  // namespace quillard
