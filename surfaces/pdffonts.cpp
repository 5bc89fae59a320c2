#include "surfaces/pdffonts.h"

#include "surfaces/pdfwriter.h"
#include "base/textencoding.h"

#include <fontconfig/fontconfig.h>
#include <hb-ot.h>
#include <hb-subset.h>
#include <hb.h>

#include <QCryptographicHash>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace quillard {

// An installed face, opened with HarfBuzz.
struct TFontFace {
    std::string File;
    int Index = 0;
    bool Usable = false;  // a TrueType face that can be subsetted
    hb_blob_t* Blob = nullptr;
    hb_face_t* Face = nullptr;
    hb_font_t* Font = nullptr;
    int32_t UnitsPerEm = 1000;
    std::string PostScriptName;
    int PdfFont = -1;  // the document's font of this face (index), -1 for none yet

    ~TFontFace()
    {
        if (Font)
            hb_font_destroy(Font);
        if (Face)
            hb_face_destroy(Face);
        if (Blob)
            hb_blob_destroy(Blob);
    }
};

// The faces fontconfig offers for one standard font, best first.
struct TPdfFontSet::TStandardFaces {
    struct TCandidate {
        std::string File;
        std::string Family;
        int Index = 0;
        FcCharSet* Chars = nullptr;  // owned by Fonts
        TFontFace* Face = nullptr;   // opened when first needed
        bool Tried = false;
    };
    std::vector<TCandidate> Candidates;
    FcFontSet* Fonts = nullptr;
    TFontFace* Primary = nullptr;
    bool PrimaryFound = false;
    ~TStandardFaces()
    {
        if (Fonts)
            FcFontSetDestroy(Fonts);
    }
};

struct TPdfFontSet::TPdfFont {
    TFontFace* Face = nullptr;
    struct TCode {
        uint32_t Glyph;
        char32_t Char;
        int32_t Width;
    };
    std::vector<TCode> Codes;  // code k+1 at index k
    std::unordered_map<uint64_t, uint16_t> CodeOf;
};

namespace {

// The bytes a code is made of: printable ASCII but for the parentheses and
// the backslash, and 0xA0 to 0xFF.
struct TCodeBytes {
    unsigned char Byte[187];
    TCodeBytes()
    {
        int n = 0;
        for (int b = 0; b < 256; ++b)
            if ((b >= 0x21 && b <= 0x7E && b != '(' && b != ')' && b != '\\') || b >= 0xA0)
                Byte[n++] = static_cast<unsigned char>(b);
    }
};
const TCodeBytes CodeBytes;
constexpr size_t CodeByteCount = 187;
constexpr size_t MaxCodes = CodeByteCount * CodeByteCount;

// The code of the k-th character of a font (from 0).
uint16_t CodeOfOrdinal(size_t K)
{
    return static_cast<uint16_t>(CodeBytes.Byte[K / CodeByteCount] << 8 | CodeBytes.Byte[K % CodeByteCount]);
}

struct TStandardFamily {
    const char* Name;  // the standard font as messages call it
    const char* Families[3];
};

const TStandardFamily StandardFamilies[4] = {
    {"Helvetica", {"Liberation Sans", "Arial", "Helvetica"}},
    {"Courier", {"Liberation Mono", "Courier New", "Courier"}},
    {"Times", {"Liberation Serif", "Times New Roman", "Times"}},
    {"Symbol", {"Symbol", nullptr, nullptr}},
};

bool FontconfigReady()
{
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = FcInit() == FcTrue; });
    return ready;
}

std::string StyleName(int Standard)
{
    if (Standard >= 12)
        return "";
    switch (Standard % 4) {
    case 1: return " Bold";
    case 2: return " Italic";
    case 3: return " Bold Italic";
    default: return "";
    }
}

uint32_t TableUint(hb_blob_t* Table, size_t Offset, int Bytes)
{
    unsigned int length = 0;
    const char* d = hb_blob_get_data(Table, &length);
    if (!d || Offset + size_t(Bytes) > length)
        return 0;
    uint32_t v = 0;
    for (int i = 0; i < Bytes; ++i)
        v = v << 8 | static_cast<unsigned char>(d[Offset + size_t(i)]);
    return v;
}

hb_subset_input_t* SubsetInput(const std::vector<uint32_t>& Glyphs, const std::vector<char32_t>& Chars)
{
    hb_subset_input_t* input = hb_subset_input_create_or_fail();
    if (!input)
        return nullptr;
    hb_set_t* glyphs = hb_subset_input_glyph_set(input);
    for (uint32_t g : Glyphs)
        hb_set_add(glyphs, g);
    // Characters keep their entries in the font's character map.
    hb_set_t* chars = hb_subset_input_unicode_set(input);
    for (char32_t c : Chars)
        hb_set_add(chars, c);
    // The PDF shows glyphs by number: no shaping, no hinting programs (the
    // readers' rasterisers do without), and the missing-glyph box kept.
    hb_subset_input_set_flags(input, HB_SUBSET_FLAGS_NO_HINTING | HB_SUBSET_FLAGS_NOTDEF_OUTLINE);
    hb_set_t* drop = hb_subset_input_set(input, HB_SUBSET_SETS_DROP_TABLE_TAG);
    for (const char* tag : {"GSUB", "GPOS", "GDEF", "kern", "BASE", "JSTF", "MATH", "morx", "mort", "kerx", "DSIG",
                            "hdmx", "VDMX", "LTSH", "gasp", "PCLT", "vhea", "vmtx", "feat", "prop"})
        hb_set_add(drop, HB_TAG(tag[0], tag[1], tag[2], tag[3]));
    return input;
}

// The subset of Face holding Glyphs and the glyphs of Chars (in its
// character map), and each old glyph's new number.
bool Subset(hb_face_t* Face, const std::vector<uint32_t>& Glyphs, std::string& Bytes,
            std::unordered_map<uint32_t, uint32_t>* NewGlyph, const std::vector<char32_t>& Chars = {})
{
    hb_subset_input_t* input = SubsetInput(Glyphs, Chars);
    if (!input)
        return false;
    hb_subset_plan_t* plan = hb_subset_plan_create_or_fail(Face, input);
    hb_subset_input_destroy(input);
    if (!plan)
        return false;
    bool ok = false;
    if (hb_face_t* subset = hb_subset_plan_execute_or_fail(plan)) {
        hb_blob_t* blob = hb_face_reference_blob(subset);
        unsigned int length = 0;
        const char* data = hb_blob_get_data(blob, &length);
        if (data && length > 0) {
            Bytes.assign(data, length);
            ok = true;
        }
        hb_blob_destroy(blob);
        hb_face_destroy(subset);
    }
    if (ok && NewGlyph) {
        const hb_map_t* map = hb_subset_plan_old_to_new_glyph_mapping(plan);
        for (uint32_t g : Glyphs) {
            const hb_codepoint_t n = hb_map_get(map, g);
            if (n == HB_MAP_VALUE_INVALID) {
                ok = false;
                break;
            }
            (*NewGlyph)[g] = n;
        }
    }
    hb_subset_plan_destroy(plan);
    return ok;
}

// V in Digits hexadecimal capitals.
void AppendHex(std::string& S, uint32_t V, int Digits)
{
    static const char digits[] = "0123456789ABCDEF";
    for (int shift = 4 * (Digits - 1); shift >= 0; shift -= 4)
        S += digits[(V >> shift) & 0xF];
}

std::string Num(int64_t V) { return std::to_string(V); }

// A name as a PDF name object may hold it: printable ASCII without the
// delimiters and the number sign.
std::string PdfNameText(const std::string& S)
{
    std::string out;
    for (char c : S)
        if (c > ' ' && c < 0x7F && !std::strchr("()<>[]{}/%#", c))
            out += c;
    return out.empty() ? std::string("Font") : out;
}

std::string StreamObject(int32_t Number, const std::string& Dictionary, const std::string& Data)
{
    std::string o = Num(Number) + " 0 obj\r\n<< " + Dictionary + "/Filter /FlateDecode\r\n/Length " +
                    Num(int64_t(Data.size())) + "\r\n>>\r\nstream\r\n";
    o += Data;
    o += "\r\nendstream\r\nendobj\r\n";
    return o;
}

}  // namespace

TPdfFontSet::TPdfFontSet() = default;

TPdfFontSet::~TPdfFontSet() = default;

void TPdfFontSet::Warn(const std::string& Text)
{
    if (std::find(FSaid.begin(), FSaid.end(), Text) != FSaid.end())
        return;
    FSaid.push_back(Text);
    FWarnings.push_back(Text);
}

std::vector<std::string> TPdfFontSet::TakeWarnings() { return std::exchange(FWarnings, {}); }

TFontFace* TPdfFontSet::OpenFace(const std::string& File, int Index)
{
    for (const auto& f : FFaces)
        if (f->File == File && f->Index == Index)
            return f->Usable ? f.get() : nullptr;
    auto face = std::make_unique<TFontFace>();
    face->File = File;
    face->Index = Index;
    TFontFace* f = face.get();
    FFaces.push_back(std::move(face));
    f->Blob = hb_blob_create_from_file_or_fail(File.c_str());
    if (!f->Blob) {
        Warn("The font file " + File + " cannot be read: other fonts show its characters");
        return nullptr;
    }
    f->Face = hb_face_create(f->Blob, static_cast<unsigned>(Index));
    f->UnitsPerEm = static_cast<int32_t>(hb_face_get_upem(f->Face));
    hb_blob_t* glyf = hb_face_reference_table(f->Face, HB_TAG('g', 'l', 'y', 'f'));
    const bool trueType = hb_blob_get_length(glyf) > 0;
    hb_blob_destroy(glyf);
    if (!trueType || f->UnitsPerEm < 16 || f->UnitsPerEm > 16384 || hb_face_get_glyph_count(f->Face) == 0) {
        // The font list calls it TrueType; the file says otherwise.
        Warn("The font file " + File + " holds no usable TrueType face: other fonts show its characters");
        return nullptr;
    }
    // A face the subsetter cannot take is no use to the document.
    std::string trial;
    if (!Subset(f->Face, {0}, trial, nullptr)) {
        Warn("The font file " + File + " cannot be subsetted: other fonts show its characters");
        return nullptr;
    }
    f->Font = hb_font_create(f->Face);
    char name[128];
    unsigned int size = sizeof name;
    if (hb_ot_name_get_utf8(f->Face, HB_OT_NAME_ID_POSTSCRIPT_NAME, HB_LANGUAGE_INVALID, &size, name) > 0)
        f->PostScriptName = PdfNameText(std::string(name, size));
    if (f->PostScriptName.empty() || f->PostScriptName == "Font") {
        const size_t slash = File.rfind('/');
        std::string base = File.substr(slash == std::string::npos ? 0 : slash + 1);
        base = base.substr(0, base.rfind('.'));
        f->PostScriptName = PdfNameText(base);
    }
    f->Usable = true;
    return f;
}

TPdfFontSet::TStandardFaces& TPdfFontSet::FacesOf(int Standard)
{
    Standard = std::clamp(Standard, 0, 13);
    std::unique_ptr<TStandardFaces>& slot = FStandard[Standard];
    if (slot)
        return *slot;
    slot = std::make_unique<TStandardFaces>();
    TStandardFaces& s = *slot;
    const TStandardFamily& family = StandardFamilies[Standard >= 12 ? 3 : Standard / 4];
    if (!FontconfigReady()) {
        Warn("No font list could be read (fontconfig): characters outside Windows-1252 are written as \"?\"");
        return s;
    }
    FcPattern* pattern = FcPatternCreate();
    for (const char* name : family.Families)
        if (name)
            FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name));
    if (Standard < 12) {
        FcPatternAddInteger(pattern, FC_WEIGHT, Standard % 4 == 1 || Standard % 4 == 3 ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
        FcPatternAddInteger(pattern, FC_SLANT, Standard % 4 >= 2 ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    }
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    s.Fonts = FcFontSort(nullptr, pattern, FcTrue, nullptr, &result);
    FcPatternDestroy(pattern);
    if (s.Fonts) {
        for (int i = 0; i < s.Fonts->nfont; ++i) {
            FcPattern* p = s.Fonts->fonts[i];
            FcChar8* file = nullptr;
            FcChar8* format = nullptr;
            int index = 0;
            if (FcPatternGetString(p, FC_FILE, 0, &file) != FcResultMatch || !file)
                continue;
            if (FcPatternGetString(p, FC_FONTFORMAT, 0, &format) == FcResultMatch && format &&
                std::strcmp(reinterpret_cast<const char*>(format), "TrueType") != 0)
                continue;
            FcPatternGetInteger(p, FC_INDEX, 0, &index);
            TStandardFaces::TCandidate c;
            c.File = reinterpret_cast<const char*>(file);
            c.Index = index;
            FcCharSet* chars = nullptr;
            if (FcPatternGetCharSet(p, FC_CHARSET, 0, &chars) == FcResultMatch)
                c.Chars = chars;
            FcChar8* name = nullptr;
            c.Family = FcPatternGetString(p, FC_FAMILY, 0, &name) == FcResultMatch && name
                           ? reinterpret_cast<const char*>(name)
                           : c.File;
            s.Candidates.push_back(std::move(c));
        }
    }
    // The first face that opens shows the standard font's characters.
    for (TStandardFaces::TCandidate& c : s.Candidates) {
        c.Tried = true;
        c.Face = OpenFace(c.File, c.Index);
        if (!c.Face)
            continue;
        s.Primary = c.Face;
        const bool compatible = std::any_of(std::begin(family.Families), std::end(family.Families),
                                            [&](const char* n) { return n && c.Family == n; });
        if (Standard < 12 && !compatible)
            Warn("The font " + std::string(family.Families[0]) + StyleName(Standard) + " is not installed: " +
                 c.Family + " is embedded for " + family.Name + StyleName(Standard));
        break;
    }
    if (!s.Primary)
        Warn(std::string("No TrueType font can be embedded for ") + family.Name + StyleName(Standard) +
             ": its characters outside Windows-1252 are written as \"?\"");
    return s;
}

bool TPdfFontSet::HasFace(int Standard) { return FacesOf(Standard).Primary != nullptr; }

const TFaceGlyph& TPdfFontSet::Lookup(int Standard, char32_t C)
{
    Standard = std::clamp(Standard, 0, 13);
    const uint64_t key = uint64_t(uint32_t(Standard)) << 32 | C;
    auto found = FLookups.find(key);
    if (found != FLookups.end())
        return found->second;
    TStandardFaces& s = FacesOf(Standard);
    TFaceGlyph g;
    // Control characters take the space's glyph: they show nothing.
    const char32_t wanted = IsControlCharacter(C) ? U' ' : C;
    for (TStandardFaces::TCandidate& c : s.Candidates) {
        if (c.Chars && !FcCharSetHasChar(c.Chars, wanted))
            continue;
        if (!c.Tried) {
            c.Tried = true;
            c.Face = OpenFace(c.File, c.Index);
        }
        hb_codepoint_t glyph = 0;
        if (c.Face && hb_font_get_nominal_glyph(c.Face->Font, wanted, &glyph) && glyph != 0) {
            g.Face = c.Face;
            g.Glyph = glyph;
            break;
        }
    }
    if (!g.Face)
        g.Face = s.Primary;  // its missing-glyph box, or no face at all
    if (g.Face) {
        g.UnitsPerEm = g.Face->UnitsPerEm;
        g.Advance = hb_font_get_glyph_h_advance(g.Face->Font, g.Glyph);
    }
    return FLookups.emplace(key, g).first->second;
}

TEmbeddedCode TPdfFontSet::Use(const TFaceGlyph& Glyph, char32_t C)
{
    const int32_t Width = Glyph.Width();
    TFontFace* face = Glyph.Face;
    if (!face)
        return {};
    if (face->PdfFont < 0 || FFonts[size_t(face->PdfFont)]->Codes.size() >= MaxCodes) {
        // A new font for the face (also when its codes run out).
        auto font = std::make_unique<TPdfFont>();
        font->Face = face;
        face->PdfFont = static_cast<int>(FFonts.size());
        FFonts.push_back(std::move(font));
    }
    const int index = face->PdfFont;
    TPdfFont& font = *FFonts[size_t(index)];
    const uint64_t key = uint64_t(uint32_t(Width)) << 32 | C;
    auto found = font.CodeOf.find(key);
    if (found != font.CodeOf.end())
        return {index + 1, found->second};
    const uint16_t cid = CodeOfOrdinal(font.Codes.size());
    font.Codes.push_back({Glyph.Glyph, C, Width});
    font.CodeOf.emplace(key, cid);
    return {index + 1, cid};
}

const int16_t* TPdfFontSet::SimpleWidths(int Standard)
{
    TSimpleFont& s = FSimple[Standard];
    if (!s.Ready) {
        s.Ready = true;
        TFontFace* face = FacesOf(Standard).Primary;
        for (int b = 0; b < 256; ++b) {
            const char32_t c = Cp1252ToUnicode(static_cast<unsigned char>(b));
            hb_codepoint_t glyph = 0;
            s.Width[b] = -1;
            if (face && !IsControlCharacter(c) && hb_font_get_nominal_glyph(face->Font, c, &glyph) &&
                glyph != 0) {
                TFaceGlyph g;
                g.Advance = hb_font_get_glyph_h_advance(face->Font, glyph);
                g.UnitsPerEm = face->UnitsPerEm;
                s.Width[b] = static_cast<int16_t>(std::clamp(g.Width(), 0, 30000));
            }
        }
    }
    return s.Width;
}

bool* TPdfFontSet::SimpleUsed(int Standard) { return FSimple[Standard].Used; }

void TPdfFontSet::Clear()
{
    FFonts.clear();
    for (TSimpleFont& s : FSimple)
        std::fill(std::begin(s.Used), std::end(s.Used), false);
    for (const auto& f : FFaces)
        f->PdfFont = -1;
}


namespace {

// A subset's name: six capitals that follow from the face and its glyphs.
std::string SubsetName(const TFontFace& Face, const std::vector<uint32_t>& Glyphs, const std::vector<char32_t>& Chars)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView(Face.PostScriptName.data(), qsizetype(Face.PostScriptName.size())));
    hash.addData(QByteArrayView(reinterpret_cast<const char*>(Glyphs.data()), qsizetype(Glyphs.size() * 4)));
    hash.addData(QByteArrayView(reinterpret_cast<const char*>(Chars.data()), qsizetype(Chars.size() * 4)));
    const QByteArray digest = hash.result();
    std::string tag;
    for (int i = 0; i < 6; ++i)
        tag += static_cast<char>('A' + static_cast<unsigned char>(digest[i]) % 26);
    return "/" + tag + "+" + Face.PostScriptName;
}

// The font descriptor of a face: its measures in thousandths of an em.
std::string Descriptor(int32_t Number, const TFontFace& Face, const std::string& BaseFont, bool Symbolic, int32_t File)
{
    const double scale = 1000.0 / Face.UnitsPerEm;
    auto metric = [&](hb_ot_metrics_tag_t Tag, int32_t Fallback) {
        hb_position_t v = 0;
        return hb_ot_metrics_get_position(Face.Font, Tag, &v) ? int64_t(std::lround(v * scale)) : Fallback;
    };
    const int64_t ascent = metric(HB_OT_METRICS_TAG_HORIZONTAL_ASCENDER, 800);
    const int64_t descent = metric(HB_OT_METRICS_TAG_HORIZONTAL_DESCENDER, -200);
    const int64_t capHeight = metric(HB_OT_METRICS_TAG_CAP_HEIGHT, 700);
    hb_blob_t* head = hb_face_reference_table(Face.Face, HB_TAG('h', 'e', 'a', 'd'));
    auto signed16 = [&](size_t Offset) { return int64_t(int16_t(uint16_t(TableUint(head, Offset, 2)))); };
    const int64_t bbox[4] = {std::lround(signed16(36) * scale), std::lround(signed16(38) * scale),
                             std::lround(signed16(40) * scale), std::lround(signed16(42) * scale)};
    hb_blob_destroy(head);
    hb_blob_t* post = hb_face_reference_table(Face.Face, HB_TAG('p', 'o', 's', 't'));
    const double italicAngle = int32_t(TableUint(post, 4, 4)) / 65536.0;
    const bool fixedPitch = TableUint(post, 12, 4) != 0;
    hb_blob_destroy(post);
    const int flags = (Symbolic ? 4 : 32) | (fixedPitch ? 1 : 0) | (italicAngle != 0 ? 64 : 0);
    char angle[32];
    auto res = std::to_chars(angle, angle + sizeof angle, italicAngle, std::chars_format::fixed, 2);
    return Num(Number) + " 0 obj\r\n<< /Type /FontDescriptor\r\n/FontName " + BaseFont + "\r\n/Flags " + Num(flags) +
           "\r\n/FontBBox [ " + Num(bbox[0]) + " " + Num(bbox[1]) + " " + Num(bbox[2]) + " " + Num(bbox[3]) +
           "]\r\n/ItalicAngle " + std::string(angle, res.ptr) + "\r\n/Ascent " + Num(ascent) + "\r\n/Descent " +
           Num(descent) + "\r\n/CapHeight " + Num(capHeight) + "\r\n/StemV 80\r\n/FontFile2 " + Num(File) +
           " 0 R\r\n>>\r\nendobj\r\n";
}

// A ToUnicode map from codes of CodeBytes bytes to characters.
std::string ToUnicodeMap(const std::vector<std::pair<uint32_t, char32_t>>& Codes, int CodeBytes)
{
    std::string cmap =
        "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n/CIDSystemInfo << /Registry (Adobe) "
        "/Ordering (UCS) /Supplement 0 >> def\n/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
        "1 begincodespacerange\n";
    cmap += CodeBytes == 1 ? "<00> <FF>\n" : "<0000> <FFFF>\n";
    cmap += "endcodespacerange\n";
    for (size_t i = 0; i < Codes.size(); i += 100) {
        const size_t n = std::min<size_t>(100, Codes.size() - i);
        cmap += Num(int64_t(n)) + " beginbfchar\n";
        for (size_t j = i; j < i + n; ++j) {
            cmap += '<';
            AppendHex(cmap, Codes[j].first, 2 * CodeBytes);
            cmap += "> <";
            AppendUtf16Hex(cmap, Codes[j].second);
            cmap += ">\n";
        }
        cmap += "endbfchar\n";
    }
    cmap += "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
    return cmap;
}

}  // namespace

std::vector<std::string> TPdfFontSet::WriteFonts(const std::function<int32_t()>& NextObject,
                                                 const std::function<void(const std::string&)>& WriteObject)
{
    std::vector<std::string> entries;

    // The Windows-1252 fonts: the bytes used, through the face's character map.
    for (int k = 0; k < 14; ++k) {
        const TSimpleFont& simple = FSimple[k];
        std::vector<std::pair<uint32_t, char32_t>> codes;
        std::vector<char32_t> chars;
        for (int b = 0; b < 256; ++b)
            if (simple.Used[b] && simple.Width[b] >= 0) {
                codes.emplace_back(uint32_t(b), Cp1252ToUnicode(static_cast<unsigned char>(b)));
                chars.push_back(Cp1252ToUnicode(static_cast<unsigned char>(b)));
            }
        if (codes.empty())
            continue;
        const TFontFace& face = *FacesOf(k).Primary;
        std::string program;
        if (!Subset(face.Face, {0}, program, nullptr, chars))
            throw std::runtime_error("The font file " + face.File + " could not be subsetted");
        const std::string baseFont = SubsetName(face, {0}, chars);
        const int32_t font = NextObject(), descriptor = NextObject(), file = NextObject(), toUnicode = NextObject();
        const int first = int(codes.front().first), last = int(codes.back().first);
        std::string widths = "/Widths [";
        for (int b = first; b <= last; ++b) {
            widths += ((b - first) % 16 == 0) ? "\r\n" : " ";
            widths += Num(simple.Used[b] ? std::max<int>(simple.Width[b], 0) : 0);
        }
        widths += " ]";
        WriteObject(Num(font) + " 0 obj\r\n<< /Type /Font\r\n/Subtype /TrueType\r\n/BaseFont " + baseFont +
                    "\r\n/FirstChar " + Num(first) + "\r\n/LastChar " + Num(last) + "\r\n" + widths +
                    "\r\n/Encoding /WinAnsiEncoding\r\n/FontDescriptor " + Num(descriptor) + " 0 R\r\n/ToUnicode " +
                    Num(toUnicode) + " 0 R\r\n>>\r\nendobj\r\n");
        WriteObject(Descriptor(descriptor, face, baseFont, false, file));
        WriteObject(StreamObject(file, "/Length1 " + Num(int64_t(program.size())) + "\r\n", DeflateBytes(program)));
        WriteObject(StreamObject(toUnicode, "", DeflateBytes(ToUnicodeMap(codes, 1))));
        entries.push_back("/T" + Num(k + 1) + " " + Num(font) + " 0 R ");
    }

    // The fonts of every other character: codes to glyphs.
    for (size_t k = 0; k < FFonts.size(); ++k) {
        const TPdfFont& font = *FFonts[k];
        const TFontFace& face = *font.Face;

        std::vector<uint32_t> glyphs{0};
        for (const TPdfFont::TCode& c : font.Codes)
            glyphs.push_back(c.Glyph);
        std::sort(glyphs.begin(), glyphs.end());
        glyphs.erase(std::unique(glyphs.begin(), glyphs.end()), glyphs.end());
        std::string program;
        std::unordered_map<uint32_t, uint32_t> newGlyph;
        if (!Subset(face.Face, glyphs, program, &newGlyph))
            throw std::runtime_error("The font file " + face.File + " could not be subsetted");
        const std::string baseFont = SubsetName(face, glyphs, {});

        const int32_t type0 = NextObject(), cidFont = NextObject(), descriptor = NextObject(), file = NextObject(),
                      toUnicode = NextObject(), cidToGid = NextObject();

        WriteObject(Num(type0) + " 0 obj\r\n<< /Type /Font\r\n/Subtype /Type0\r\n/BaseFont " + baseFont +
                    "\r\n/Encoding /Identity-H\r\n/DescendantFonts [ " + Num(cidFont) + " 0 R]\r\n/ToUnicode " +
                    Num(toUnicode) + " 0 R\r\n>>\r\nendobj\r\n");

        // Widths of each run of consecutive codes.
        std::string widths = "/W [";
        for (size_t i = 0; i < font.Codes.size(); ++i) {
            const uint16_t cid = CodeOfOrdinal(i);
            if (i == 0 || cid != CodeOfOrdinal(i - 1) + 1) {
                if (i > 0)
                    widths += " ]";
                widths += "\r\n" + Num(cid) + " [";
            } else if (i % 16 == 0) {
                widths += "\r\n";
            }
            widths += " " + Num(font.Codes[i].Width);
        }
        widths += " ] ]";
        WriteObject(Num(cidFont) + " 0 obj\r\n<< /Type /Font\r\n/Subtype /CIDFontType2\r\n/BaseFont " + baseFont +
                    "\r\n/CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>\r\n/FontDescriptor " +
                    Num(descriptor) + " 0 R\r\n/DW 1000\r\n" + widths + "\r\n/CIDToGIDMap " + Num(cidToGid) +
                    " 0 R\r\n>>\r\nendobj\r\n");
        WriteObject(Descriptor(descriptor, face, baseFont, true, file));
        WriteObject(StreamObject(file, "/Length1 " + Num(int64_t(program.size())) + "\r\n", DeflateBytes(program)));

        std::vector<std::pair<uint32_t, char32_t>> codes;
        for (size_t i = 0; i < font.Codes.size(); ++i)
            codes.emplace_back(CodeOfOrdinal(i), font.Codes[i].Char);
        WriteObject(StreamObject(toUnicode, "", DeflateBytes(ToUnicodeMap(codes, 2))));

        std::string map(2 * (size_t(CodeOfOrdinal(font.Codes.size() - 1)) + 1), '\0');
        for (size_t i = 0; i < font.Codes.size(); ++i) {
            const uint32_t g = newGlyph[font.Codes[i].Glyph];
            const size_t at = 2 * size_t(CodeOfOrdinal(i));
            map[at] = static_cast<char>(g >> 8);
            map[at + 1] = static_cast<char>(g & 0xFF);
        }
        WriteObject(StreamObject(cidToGid, "", DeflateBytes(map)));

        entries.push_back("/E" + Num(int64_t(k) + 1) + " " + Num(type0) + " 0 R ");
    }
    return entries;
}

}  // namespace quillard
