#!/usr/bin/env python3
"""Writes surfaces/pdffontmetrics.cpp: advance widths of the fourteen standard
PDF fonts for every byte of the text the PDF surface writes, and the cell
height (ascent plus descent) of the faces that measure like them.

Sources, all from Debian packages:
  a2ps               /usr/share/a2ps/afm/*.afm     Adobe's core font metrics
  fonts-urw-base35   /usr/share/fonts/type1/urw-base35/*.afm
                     (metric clones; used only for glyphs the Adobe files lack,
                     such as the Euro sign) and the Symbol and Dingbats faces
  fonts-liberation2  /usr/share/fonts/truetype/liberation2/*.ttf (the faces
                     metric-compatible with Arial, Times New Roman and Courier
                     New, whose line heights text is laid out with)

Run from the top of the source tree:  python3 tools/gen_pdffontmetrics.py [OUTPUT]
"""
import os
import struct
import sys

ADOBE = "/usr/share/a2ps/afm"
URW_AFM = "/usr/share/fonts/type1/urw-base35"
URW_OTF = "/usr/share/fonts/opentype/urw-base35"
LIB = "/usr/share/fonts/truetype/liberation2"

# index, base font, Adobe AFM, URW AFM, face file for the cell height
FONTS = [
    ("Helvetica", "phvr", "NimbusSans-Regular", LIB + "/LiberationSans-Regular.ttf"),
    ("Helvetica-Bold", "phvb", "NimbusSans-Bold", LIB + "/LiberationSans-Bold.ttf"),
    ("Helvetica-Oblique", "phvro", "NimbusSans-Italic", LIB + "/LiberationSans-Italic.ttf"),
    ("Helvetica-BoldOblique", "phvbo", "NimbusSans-BoldItalic", LIB + "/LiberationSans-BoldItalic.ttf"),
    ("Courier", "pcrr", "NimbusMonoPS-Regular", LIB + "/LiberationMono-Regular.ttf"),
    ("Courier-Bold", "pcrb", "NimbusMonoPS-Bold", LIB + "/LiberationMono-Bold.ttf"),
    ("Courier-Oblique", "pcrro", "NimbusMonoPS-Italic", LIB + "/LiberationMono-Italic.ttf"),
    ("Courier-BoldOblique", "pcrbo", "NimbusMonoPS-BoldItalic", LIB + "/LiberationMono-BoldItalic.ttf"),
    ("Times-Roman", "ptmr", "NimbusRoman-Regular", LIB + "/LiberationSerif-Regular.ttf"),
    ("Times-Bold", "ptmb", "NimbusRoman-Bold", LIB + "/LiberationSerif-Bold.ttf"),
    ("Times-Italic", "ptmi", "NimbusRoman-Italic", LIB + "/LiberationSerif-Italic.ttf"),
    ("Times-BoldItalic", "ptmbi", "NimbusRoman-BoldItalic", LIB + "/LiberationSerif-BoldItalic.ttf"),
    ("Symbol", "psyr", "StandardSymbolsPS", URW_OTF + "/StandardSymbolsPS.otf"),
    ("ZapfDingbats", "pzdr", "D050000L", URW_OTF + "/D050000L.otf"),
]

# WinAnsiEncoding: glyph name of every byte. The unused codes above 0x20 show
# the bullet; the control codes have no glyph.
ASCII = ("space exclam quotedbl numbersign dollar percent ampersand quotesingle parenleft parenright "
         "asterisk plus comma hyphen period slash zero one two three four five six seven eight nine "
         "colon semicolon less equal greater question at A B C D E F G H I J K L M N O P Q R S T U V W "
         "X Y Z bracketleft backslash bracketright asciicircum underscore grave a b c d e f g h i j k l "
         "m n o p q r s t u v w x y z braceleft bar braceright asciitilde bullet").split()
HIGH = ("Euro bullet quotesinglbase florin quotedblbase ellipsis dagger daggerdbl circumflex perthousand "
        "Scaron guilsinglleft OE bullet Zcaron bullet bullet quoteleft quoteright quotedblleft "
        "quotedblright bullet endash emdash tilde trademark scaron guilsinglright oe bullet zcaron "
        "Ydieresis space exclamdown cent sterling currency yen brokenbar section dieresis copyright "
        "ordfeminine guillemotleft logicalnot hyphen registered macron degree plusminus twosuperior "
        "threesuperior acute mu paragraph periodcentered cedilla onesuperior ordmasculine "
        "guillemotright onequarter onehalf threequarters questiondown Agrave Aacute Acircumflex Atilde "
        "Adieresis Aring AE Ccedilla Egrave Eacute Ecircumflex Edieresis Igrave Iacute Icircumflex "
        "Idieresis Eth Ntilde Ograve Oacute Ocircumflex Otilde Odieresis multiply Oslash Ugrave Uacute "
        "Ucircumflex Udieresis Yacute Thorn germandbls agrave aacute acircumflex atilde adieresis aring "
        "ae ccedilla egrave eacute ecircumflex edieresis igrave iacute icircumflex idieresis eth ntilde "
        "ograve oacute ocircumflex otilde odieresis divide oslash ugrave uacute ucircumflex udieresis "
        "yacute thorn ydieresis").split()
WINANSI = [None] * 32 + ASCII + HIGH
assert len(WINANSI) == 256, len(WINANSI)


def read_afm(path):
    """Glyph name -> width, and built-in code -> width."""
    by_name, by_code = {}, {}
    in_metrics = False
    with open(path, encoding="latin-1") as f:
        for line in f:
            if line.startswith("StartCharMetrics"):
                in_metrics = True
                continue
            if line.startswith("EndCharMetrics"):
                break
            if not in_metrics:
                continue
            fields = {}
            for part in line.split(";"):
                words = part.split()
                if len(words) >= 2:
                    fields[words[0]] = words[1]
            if "N" not in fields or "WX" not in fields:
                continue
            w = int(round(float(fields["WX"])))
            by_name[fields["N"]] = w
            code = int(fields.get("C", "-1"))
            if 0 <= code <= 255:
                by_code[code] = w
    return by_name, by_code


def read_sfnt_metrics(path):
    """unitsPerEm (head), usWinAscent and usWinDescent (OS/2)."""
    with open(path, "rb") as f:
        data = f.read()
    num_tables = struct.unpack(">H", data[4:6])[0]
    tables = {}
    for i in range(num_tables):
        tag, _, offset, length = struct.unpack(">4sIII", data[12 + 16 * i:28 + 16 * i])
        tables[tag] = (offset, length)
    head = tables[b"head"][0]
    upm = struct.unpack(">H", data[head + 18:head + 20])[0]
    os2 = tables[b"OS/2"][0]
    win_ascent, win_descent = struct.unpack(">HH", data[os2 + 74:os2 + 78])
    return upm, win_ascent, win_descent


def main():
    out_path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "surfaces", "pdffontmetrics.cpp")
    rows = []
    for index, (base, adobe, urw, face) in enumerate(FONTS):
        names, codes = read_afm(os.path.join(ADOBE, adobe + ".afm"))
        urw_names, _ = read_afm(os.path.join(URW_AFM, urw + ".afm"))
        symbolic = base in ("Symbol", "ZapfDingbats")
        widths = []
        for b in range(256):
            if symbolic:
                # Text in these faces is in the font's own encoding.
                widths.append(codes.get(b, 0))
                continue
            name = WINANSI[b]
            if name is None:
                widths.append(0)
            elif name in names:
                widths.append(names[name])
            elif name in urw_names:
                widths.append(urw_names[name])
            else:
                sys.exit("no width for %s in %s" % (name, base))
        upm, asc, desc = read_sfnt_metrics(face)
        rows.append((index, base, widths, upm, asc, desc, os.path.basename(face)))

    with open(out_path, "w", encoding="ascii", newline="\n") as f:
        f.write("// Generated by tools/gen_pdffontmetrics.py from Adobe's core font metrics\n")
        f.write("// (a2ps), the URW base-35 metric clones and the Liberation faces. Do not edit.\n")
        f.write('#include "surfaces/pdffontmetrics.h"\n\nnamespace quillard {\n\n')
        f.write("const TPdfFontMetrics PdfStandardFontMetrics[PdfStandardFontCount] = {\n")
        for index, base, widths, upm, asc, desc, face in rows:
            f.write("    // %d %s; cell height from %s\n" % (index, base, face))
            f.write('    {"%s", %d, %d, %d, {\n' % (base, upm, asc, desc))
            for start in range(0, 256, 16):
                f.write("        " + ", ".join("%d" % w for w in widths[start:start + 16]) + ",\n")
            f.write("    }},\n")
        f.write("};\n\n}  // namespace quillard\n")
    print("wrote", os.path.normpath(out_path))


if __name__ == "__main__":
    main()
