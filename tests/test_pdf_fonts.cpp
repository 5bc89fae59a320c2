// Fonts embedded in PDF files, compressed pages and PDF/A-2b: reports in
// several scripts written by the program, read back with the PDF tools
// (pdffonts, pdftotext, pdfinfo, qpdf), and the document information and
// metadata the writer gives them.
#include "surfaces/pdffonts.h"
#include "surfaces/pdfwriter.h"
#include "base/textencoding.h"
#include "tests/pdftestutil.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <cmath>
#include <fstream>
#include <hb.h>
#include <map>
#include <optional>
#include <sys/time.h>
#include <sstream>

namespace quillard::test {
namespace {

// One line of each script; the box drawing is drawn as lines and kept as
// unseen text.
const char* const ScriptLines[] = {
    "Latin: caf\xC3\xA9 cr\xC3\xA8me, na\xC3\xAFve \xE2\x80\x94 \xE2\x80\x9Cquoted\xE2\x80\x9D",
    "Greek: \xCE\x9A\xCE\xB1\xCE\xBB\xCE\xB7\xCE\xBC\xCE\xAD\xCF\x81\xCE\xB1 \xCE\xBA\xCF\x8C\xCF\x83\xCE\xBC\xCE\xB5",
    "Cyrillic: \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80",
    "Box: \xE2\x94\x8C\xE2\x94\x80\xE2\x94\xAC\xE2\x94\x80\xE2\x94\x90 \xE2\x94\x82" "ab\xE2\x94\x82" "cd\xE2\x94\x82",
};

std::string ScriptsReport(const std::string& Font = "")
{
    std::string r = Font;
    for (const char* line : ScriptLines)
        r += std::string(line) + "\n";
    return r;
}

struct TFontRow {
    std::string Name, Type;
    bool Embedded = false, Unicode = false;
};

// pdffonts' table: the name, the type and the emb and uni columns.
std::vector<TFontRow> FontRows(const std::string& Pdf)
{
    const TToolRun r = RunTool("pdffonts", {QString::fromStdString(Pdf)});
    EXPECT_EQ(r.Code, 0) << r.Err;
    std::vector<TFontRow> rows;
    std::istringstream lines(r.Out);
    bool body = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("---", 0) == 0) {
            body = true;
            continue;
        }
        if (!body || line.empty())
            continue;
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string s; words >> s;)
            w.push_back(s);
        if (w.size() < 7)
            continue;
        TFontRow row;
        row.Name = w[0];
        for (size_t i = 1; i + 6 < w.size(); ++i)
            row.Type += (i > 1 ? " " : "") + w[i];
        row.Embedded = w[w.size() - 5] == "yes";
        row.Unicode = w[w.size() - 3] == "yes";
        rows.push_back(row);
    }
    return rows;
}

size_t Count(const std::string& Text, const std::string& Part)
{
    size_t n = 0;
    for (size_t p = Text.find(Part); p != std::string::npos; p = Text.find(Part, p + 1))
        ++n;
    return n;
}

class PdfFontsTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;

    std::string Path(const QString& Name) const { return Dir.filePath(Name).toStdString(); }

    QProcessEnvironment Environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.insert("CUPS_SERVER", "/nonexistent/quillard-no-cups.sock");
        env.insert("XDG_CONFIG_HOME", Dir.filePath("config"));
        env.insert("XDG_CONFIG_DIRS", Dir.filePath("system"));
        env.insert("SOURCE_DATE_EPOCH", "1700000000");
        return env;
    }

    TToolRun Run(const std::string& Bytes, const QStringList& Options, const QString& Out = "out.pdf",
                 const std::optional<QProcessEnvironment>& Env = std::nullopt)
    {
        std::ofstream(Path("report.txt"), std::ios::binary) << Bytes;
        return RunTool(QUILLARD_BINARY,
                       QStringList(Options) << "--pdf" << Dir.filePath(Out) << Dir.filePath("report.txt"),
                       Env ? *Env : Environment());
    }
};

// ---- every script comes back, in every way of writing ---------------------------

struct ScriptCase {
    const char* Name;
    QStringList Options;
    bool EveryFontEmbedded;
};

void PrintTo(const ScriptCase& C, std::ostream* Os) { *Os << C.Name; }

class PdfScriptsTest : public PdfFontsTest, public ::testing::WithParamInterface<ScriptCase> {};

TEST_P(PdfScriptsTest, TextComesBackAndFontsAreEmbedded)
{
    const ScriptCase& c = GetParam();
    for (const char* font : {"", "{FONT NAME=\"Arial\" SIZE=11}", "{FONT NAME=\"Times New Roman\" SIZE=13 BOLD}"}) {
        const TToolRun r = Run(ScriptsReport(font), c.Options);
        ASSERT_EQ(r.Code, 0) << r.Err;
        EXPECT_EQ(r.Err.find("written as"), std::string::npos) << r.Err;
        EXPECT_EQ(r.Err.find("missing-glyph"), std::string::npos) << r.Err;
        const std::string pdf = Path("out.pdf");
        EXPECT_TRUE(PassesQpdfCheck(pdf));
        const std::string text = PdfText(pdf);
        for (const char* line : ScriptLines) {
            // Box drawing stands in character cells: in a proportional face
            // the letters between the lines are not in those cells.
            if (*font && std::string(line).rfind("Box", 0) == 0)
                continue;
            EXPECT_NE(text.find(line), std::string::npos) << font << "\n" << line << "\nin\n" << text;
        }

        const std::vector<TFontRow> rows = FontRows(pdf);
        size_t embedded = 0;
        for (const TFontRow& row : rows) {
            if (c.EveryFontEmbedded || row.Type != "Type 1") {
                EXPECT_TRUE(row.Embedded) << row.Name;
                EXPECT_TRUE(row.Unicode) << row.Name;
                EXPECT_TRUE(row.Type == "CID TrueType" || row.Type == "TrueType") << row.Name << ": " << row.Type;
            }
            embedded += row.Embedded;
        }
        EXPECT_GE(embedded, 1u);
        if (!c.EveryFontEmbedded) {
            EXPECT_EQ(rows.size(), 14 + embedded);  // the standard fonts besides
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ways, PdfScriptsTest,
    ::testing::Values(ScriptCase{"StandardFontsBesides", {}, false}, ScriptCase{"EmbedFonts", {"--embed-fonts"}, true},
                      ScriptCase{"PdfA", {"--pdfa"}, true},
                      ScriptCase{"EmbeddedAndCompressed", {"--embed-fonts", "--compress"}, true},
                      ScriptCase{"Compressed", {"--compress"}, false}),
    [](const auto& info) { return std::string(info.param.Name); });

// Reports all in Windows-1252 (and the character-printer ones) give the
// bytes they gave before fonts could be embedded: the digests were taken of
// those files, laid out by the report rules (the manual page would be plain
// text without --markup).
struct BytesCase {
    const char* Name;
    const char* File;
    const char* Sha256;
};

void PrintTo(const BytesCase& C, std::ostream* Os) { *Os << C.Name; }

class PdfKeptBytesTest : public PdfFontsTest, public ::testing::WithParamInterface<BytesCase> {};

TEST_P(PdfKeptBytesTest, Windows1252ReportKeepsItsBytes)
{
    const TToolRun r = RunTool(QUILLARD_BINARY,
                               {"--markup", "--pdf", Dir.filePath("out.pdf"),
                                QString(QUILLARD_SOURCE_DIR "/examples/") + GetParam().File},
                               Environment());
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::string pdf = ReadBytes(Path("out.pdf"));
    EXPECT_EQ(QCryptographicHash::hash(QByteArray::fromStdString(pdf), QCryptographicHash::Sha256).toHex().toStdString(),
              GetParam().Sha256);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, PdfKeptBytesTest,
    ::testing::Values(
        BytesCase{"Form", "form.txt", "da6fc6e93acf2d005888db6c014909ba6fa7d78d469c31f475f6dadd37973926"},
        BytesCase{"Invoice", "invoice.txt", "8bd51e028eeca0161d2260b18de4b71199ab959b1e60d0687e1c5ed195f0193d"},
        BytesCase{"Ledger", "ledger.txt", "214dca4e069321877b1b2a8db881182e829568be31f1b862272adb7b834c0af8"},
        BytesCase{"Statement", "statement.txt", "d6e6a4e90358f59c74d7944ff5bd573b043ff62342ae52c69dbf078e511c915b"},
        BytesCase{"StatementWindows", "linux/statement-cp1252.txt",
                  "7f6bd89bbf34b3a6c7b2fccba7631b63d9edfa229cd4c988e60eb30a5af80018"},
        BytesCase{"ManualPage", "linux/manual-page.txt",
                  "1398f0161001230dcf204fb3784cf7da9c5763860e07019d005cdbb1a06f3972"}),
    [](const auto& info) { return std::string(info.param.Name); });

// Embedding every font does not move any text: the same report gives the same
// words at the same places as with the standard fonts.
TEST_F(PdfFontsTest, EmbeddingKeepsTheLayout)
{
    const std::string report = "{FONT NAME=\"Arial\" SIZE=10}Amount      1,234.56 \xC2\xB1" "0.5\nTotal due  99,999.00\n"
                               "{FONT NAME=\"Times New Roman\" SIZE=10}5\xC2\xB5m \xC3\xB7 2 =\n"
                               "{FONT NAME=\"Courier New\" SIZE=10}Column  one  two\n";
    ASSERT_EQ(Run(report, {}, "standard.pdf").Code, 0);
    ASSERT_EQ(Run(report, {"--embed-fonts"}, "embedded.pdf").Code, 0);
    const TToolRun a = RunTool("pdftotext", {"-bbox", Dir.filePath("standard.pdf"), "-"});
    const TToolRun b = RunTool("pdftotext", {"-bbox", Dir.filePath("embedded.pdf"), "-"});
    auto words = [](const std::string& Html) {
        std::vector<std::string> out;
        const QRegularExpression word("<word xMin=\"([0-9.]+)\" yMin=\"[0-9.]+\" xMax=\"([0-9.]+)\"[^>]*>([^<]*)</word>");
        for (auto it = word.globalMatch(QString::fromStdString(Html)); it.hasNext();) {
            const auto m = it.next();
            // Where each word starts, to a tenth of a point (a word ends
            // where its last glyph does, which a displacement moves on from).
            out.push_back(m.captured(3).toStdString() + "@" + QString::number(m.captured(1).toDouble(), 'f', 1).toStdString());
        }
        return out;
    };
    const std::vector<std::string> standard = words(a.Out), embedded = words(b.Out);
    EXPECT_EQ(standard.size(), 13u);
    EXPECT_EQ(standard, embedded);
}

// The glyph of each code of the Type0 fonts of a PDF, by font, as qpdf
// reads them (code to glyph through the CIDToGIDMap, for the codes /W lists).
std::vector<std::vector<uint32_t>> CodeGlyphs(const std::string& Pdf)
{
    const TToolRun json = RunTool("qpdf", {"--json", "--json-stream-data=inline", "--json-key=qpdf", QString::fromStdString(Pdf)});
    EXPECT_EQ(json.Code, 0) << json.Err;
    const QJsonObject objects = QJsonDocument::fromJson(QByteArray::fromStdString(json.Out))["qpdf"][1].toObject();
    std::vector<std::vector<uint32_t>> out;
    for (auto it = objects.begin(); it != objects.end(); ++it) {
        const QJsonObject font = it.value().toObject()["value"].toObject();
        if (font["/Subtype"].toString() != "/CIDFontType2")
            continue;
        const QByteArray map = QByteArray::fromBase64(
            objects["obj:" + font["/CIDToGIDMap"].toString()].toObject()["stream"].toObject()["data"].toString().toLatin1());
        const QJsonArray w = font["/W"].toArray();
        out.emplace_back();
        for (int i = 0; i + 1 < w.size(); i += 2)
            for (int k = 0; k < w[i + 1].toArray().size(); ++k) {
                const int cid = w[i].toInt() + k;
                out.back().push_back(2 * cid + 1 < map.size() ? uint32_t(uint8_t(map[2 * cid]) << 8 | uint8_t(map[2 * cid + 1]))
                                                              : 0xFFFFFFFF);
            }
    }
    return out;
}

// A character no installed face has is drawn as the face's missing-glyph box
// and still extracts as itself; the run says so once. PDF/A, which shows no
// missing-glyph box, draws the replacement character in its place.
TEST_F(PdfFontsTest, CharacterNoFaceHasExtractsAsItself)
{
    const std::string report = "Private: \xF3\xB0\x80\x80 and \xF4\x8F\xBF\xBD end\n";
    for (const QStringList& options : {QStringList{}, QStringList{"--embed-fonts"}, QStringList{"--pdfa"}}) {
        const TToolRun r = Run(report, options);
        ASSERT_EQ(r.Code, 0) << r.Err;
        EXPECT_NE(r.Err.find("2 characters of"), std::string::npos) << r.Err;
        EXPECT_EQ(Count(r.Err, options == QStringList{"--pdfa"} ? "replacement character" : "missing-glyph"), 1u) << r.Err;
        EXPECT_TRUE(PassesQpdfCheck(Path("out.pdf")));
        EXPECT_NE(PdfText(Path("out.pdf")).find(report.substr(0, report.size() - 1)), std::string::npos);
        size_t boxes = 0;
        for (const std::vector<uint32_t>& glyphs : CodeGlyphs(Path("out.pdf")))
            boxes += size_t(std::count(glyphs.begin(), glyphs.end(), 0u));
        EXPECT_EQ(boxes, options == QStringList{"--pdfa"} ? 0u : 2u) << options.join(" ").toStdString();
    }
}

// The same face at a hundred sizes is one subset; a subset holds only what
// the document shows.
TEST_F(PdfFontsTest, OneSubsetPerFaceAtEverySize)
{
    std::string report;
    for (int size = 6; size < 106; ++size)
        report += "{FONT NAME=\"Arial\" SIZE=" + std::to_string(size) + "}\xCE\xB1\xCE\xB2 " + std::to_string(size) + "\n";
    const TToolRun r = Run(report, {"--embed-fonts"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::string pdf = ReadBytes(Path("out.pdf"));
    // One font for the face's Windows-1252 text (the digits), one for the
    // Greek letters, whatever the sizes.
    const std::vector<TFontRow> rows = FontRows(Path("out.pdf"));
    ASSERT_EQ(rows.size(), 2u);
    for (const TFontRow& row : rows)
        EXPECT_NE(row.Name.find("+LiberationSans"), std::string::npos) << row.Name;
    EXPECT_EQ(Count(pdf, "/FontFile2"), 2u);
    // Liberation Sans holds thousands of glyphs; its subset a handful.
    EXPECT_LT(pdf.size(), 40000u);
}

// Ten thousand different characters in one report: every font embedded,
// a sound file, and the characters of the scripts come back.
TEST_F(PdfFontsTest, TenThousandDistinctCharacters)
{
    std::string report;
    int n = 0;
    for (char32_t c = 0x100; n < 10000; ++c) {
        if ((c >= 0x2500 && c <= 0x259F) || (c >= 0xD800 && c <= 0xDFFF) || (c >= 0xFDD0 && c <= 0xFDEF))
            continue;
        AppendUtf8(report, c);
        if (++n % 80 == 0)
            report += '\n';
    }
    const TToolRun r = Run(report, {"--embed-fonts", "--paginate"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(PassesQpdfCheck(Path("out.pdf")));
    EXPECT_EQ(PdfInfo(Path("out.pdf"), "Pages"), "3");
    for (const TFontRow& row : FontRows(Path("out.pdf"))) {
        EXPECT_TRUE(row.Embedded) << row.Name;
        EXPECT_TRUE(row.Unicode) << row.Name;
    }
    const std::string text = PdfText(Path("out.pdf"));
    for (const char* c : {"\xCE\xA9", "\xD0\x96", "\xD7\x90", "\xE2\x88\x80"})  // Omega, Zhe, Alef, for all
        EXPECT_NE(text.find(c), std::string::npos) << c;
}

// The widths a PDF gives its embedded fonts agree with their font programs
// (as PDF/A asks), also where the text stands at the standard fonts' other
// widths (plus-minus, micro sign, division sign), which displacements make up.
TEST_F(PdfFontsTest, EmbeddedWidthsAgreeWithTheFontPrograms)
{
    const std::string report = "{FONT NAME=\"Arial\" SIZE=11}Plus \xC2\xB1 micro \xC2\xB5 \xC3\xB7 \xC2\xAF \xCE\xB1\xCE\xB2\n"
                               "{FONT NAME=\"Times New Roman\" SIZE=11 ITALIC}\xC2\xB1\xC2\xB5\xC3\xB7 \xD0\x96\n"
                               "{FONT NAME=\"Courier New\" SIZE=11}\xE2\x94\x8C\xE2\x94\x80\xE2\x94\x90\x7F\n";
    ASSERT_EQ(Run(report, {"--pdfa"}).Code, 0);
    const TToolRun json = RunTool("qpdf", {"--json", "--json-stream-data=inline", "--json-key=qpdf", Dir.filePath("out.pdf")});
    ASSERT_EQ(json.Code, 0) << json.Err;
    const QJsonObject objects = QJsonDocument::fromJson(QByteArray::fromStdString(json.Out))["qpdf"][1].toObject();
    auto object = [&](const QJsonValue& Ref) { return objects["obj:" + Ref.toString()].toObject(); };
    auto streamData = [&](const QJsonValue& Ref) {
        return QByteArray::fromBase64(object(Ref)["stream"].toObject()["data"].toString().toLatin1());
    };
    int fonts = 0, checked = 0;
    for (auto it = objects.begin(); it != objects.end(); ++it) {
        const QJsonObject font = it.value().toObject()["value"].toObject();
        const QString subtype = font["/Subtype"].toString();
        if (subtype != "/TrueType" && subtype != "/CIDFontType2")
            continue;
        ++fonts;
        const QByteArray program = streamData(object(font["/FontDescriptor"])["value"].toObject()["/FontFile2"]);
        hb_blob_t* blob = hb_blob_create(program.constData(), unsigned(program.size()), HB_MEMORY_MODE_READONLY, nullptr, nullptr);
        hb_face_t* face = hb_face_create(blob, 0);
        hb_font_t* hb = hb_font_create(face);
        const double perEm = 1000.0 / hb_face_get_upem(face);
        auto expectWidth = [&](uint32_t Glyph, double Width, const std::string& What) {
            EXPECT_LE(std::fabs(hb_font_get_glyph_h_advance(hb, Glyph) * perEm - Width), 1.0)
                << font["/BaseFont"].toString().toStdString() << " " << What;
            ++checked;
        };
        if (subtype == "/TrueType") {
            const QJsonArray widths = font["/Widths"].toArray();
            const int first = font["/FirstChar"].toInt();
            for (int i = 0; i < widths.size(); ++i) {
                if (widths[i].toInt() == 0)
                    continue;
                hb_codepoint_t glyph = 0;
                ASSERT_TRUE(hb_font_get_nominal_glyph(hb, Cp1252ToUnicode(static_cast<unsigned char>(first + i)), &glyph))
                    << "byte " << first + i << " is not in the font's character map";
                expectWidth(glyph, widths[i].toDouble(), "byte " + std::to_string(first + i));
            }
        } else {
            const QByteArray map = streamData(font["/CIDToGIDMap"]);
            const QJsonArray w = font["/W"].toArray();
            for (int i = 0; i + 1 < w.size(); i += 2) {
                const int start = w[i].toInt();
                const QJsonArray run = w[i + 1].toArray();
                for (int k = 0; k < run.size(); ++k) {
                    const int cid = start + k;
                    ASSERT_LT(2 * cid + 1, map.size());
                    const uint32_t glyph = uint8_t(map[2 * cid]) << 8 | uint8_t(map[2 * cid + 1]);
                    expectWidth(glyph, run[k].toDouble(), "code " + std::to_string(cid));
                }
            }
        }
        hb_font_destroy(hb);
        hb_face_destroy(face);
        hb_blob_destroy(blob);
    }
    EXPECT_GE(fonts, 4);
    EXPECT_GE(checked, 20);
}

// ---- compression -------------------------------------------------------------------

TEST_F(PdfFontsTest, CompressedPagesAreSmallerAndSayTheSame)
{
    std::string report;
    for (int line = 0; line < 3000; ++line)
        report += std::string(line > 0 && line % 50 == 0 ? "\f" : "") + "Invoice line " + std::to_string(line) +
                  "   Widget, blue, boxed     12 x 3.50 = 42.00\n";
    ASSERT_EQ(Run(report, {}, "plain.pdf").Code, 0);
    ASSERT_EQ(Run(report, {"--compress"}, "deflated.pdf").Code, 0);
    const std::string plain = ReadBytes(Path("plain.pdf")), deflated = ReadBytes(Path("deflated.pdf"));
    EXPECT_TRUE(PassesQpdfCheck(Path("deflated.pdf")));
    EXPECT_GT(plain.size(), 3 * deflated.size()) << plain.size() << " against " << deflated.size();
    EXPECT_EQ(PdfText(Path("plain.pdf")), PdfText(Path("deflated.pdf")));
    EXPECT_EQ(Count(deflated, "/Filter /FlateDecode"), Count(deflated, "/Type /Page\r\n"));
    EXPECT_EQ(Count(plain, "/FlateDecode"), 0u);
}

// The settings ask for embedded fonts and compressed pages in every run.
TEST_F(PdfFontsTest, SettingsEmbedAndCompress)
{
    {
        QSettings settings(Dir.filePath("config/Merrowgate/Quillard.conf"), QSettings::IniFormat);
        settings.setValue("Embed PDF Fonts", "yes");
        settings.setValue("Compress PDF", "YES");
    }
    ASSERT_EQ(Run("Plain text\n", {}).Code, 0);
    const std::string pdf = ReadBytes(Path("out.pdf"));
    for (const TFontRow& row : FontRows(Path("out.pdf")))
        EXPECT_TRUE(row.Embedded) << row.Name;
    EXPECT_EQ(Count(pdf, "/Subtype /Type1"), 0u);
    EXPECT_EQ(Count(pdf, "/Filter /FlateDecode\r\n >>"), 1u);  // the page
    EXPECT_NE(PdfText(Path("out.pdf")).find("Plain text"), std::string::npos);
}

// ---- PDF/A -------------------------------------------------------------------------

// The values of the XMP packet's simple properties and of the first item of
// its lists, by qualified name.
std::map<std::string, std::string> XmpValues(const std::string& Packet, std::string* Error)
{
    std::map<std::string, std::string> values;
    QXmlStreamReader xml(QByteArray::fromStdString(Packet));
    std::vector<std::string> open;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            open.push_back(xml.qualifiedName().toString().toStdString());
        } else if (xml.isEndElement()) {
            open.pop_back();
        } else if (xml.isCharacters() && !xml.isWhitespace() && !open.empty()) {
            std::string key = open.back();
            if (key == "rdf:li" && open.size() >= 3)
                key = open[open.size() - 3];
            values.emplace(key, xml.text().toString().toStdString());
        }
    }
    if (xml.hasError() && Error)
        *Error = xml.errorString().toStdString();
    return values;
}

std::string ObjectStreamData(const std::string& Pdf, int Object)
{
    return RunTool("qpdf", {"--show-object=" + QString::number(Object), "--filtered-stream-data",
                            QString::fromStdString(Pdf)})
        .Out;
}

TEST_F(PdfFontsTest, PdfAHasItsIdentificationMetadataAndOutputIntent)
{
    const TToolRun r = Run(ScriptsReport(), {"--pdfa"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::string path = Path("out.pdf");
    const std::string pdf = ReadBytes(path);
    EXPECT_TRUE(PassesQpdfCheck(path));
    EXPECT_EQ(pdf.rfind("%PDF-1.7\r\n%\xE2\xE3\xCF\xD3\r\n", 0), 0u);
    EXPECT_TRUE(QRegularExpression("/ID \\[<[0-9A-F]{32}><[0-9A-F]{32}>\\]").match(QString::fromLatin1(pdf)).hasMatch());

    // The metadata: PDF/A-2b, and what the document information says.
    const TToolRun meta = RunTool("pdfinfo", {"-meta", QString::fromStdString(path)});
    std::string error;
    std::map<std::string, std::string> xmp = XmpValues(meta.Out, &error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(xmp["pdfaid:part"], "2");
    EXPECT_EQ(xmp["pdfaid:conformance"], "B");
    EXPECT_EQ(xmp["dc:title"], "report.txt");  // no print title: the report's name
    EXPECT_EQ(xmp["dc:title"], PdfInfo(path, "Title"));
    EXPECT_EQ(xmp["dc:creator"], PdfInfo(path, "Author"));
    EXPECT_EQ(xmp["xmp:CreatorTool"], PdfInfo(path, "Creator"));
    EXPECT_EQ(xmp["pdf:Producer"], PdfInfo(path, "Producer"));
    const TToolRun iso = RunTool("pdfinfo", {"-isodates", QString::fromStdString(path)});
    EXPECT_NE(iso.Out.find("CreationDate:    " + xmp["xmp:CreateDate"]), std::string::npos) << iso.Out;
    EXPECT_NE(iso.Out.find("ModDate:         " + xmp["xmp:ModifyDate"]), std::string::npos) << iso.Out;
    EXPECT_EQ(xmp["xmp:CreateDate"], "2023-11-14T22:13:20Z");

    // The output intent: sRGB, its profile as the system holds it.
    const QRegularExpressionMatch intent =
        QRegularExpression("/OutputIntents \\[ << /Type /OutputIntent /S /GTS_PDFA1 .*/DestOutputProfile (\\d+) 0 R >> \\]")
            .match(QString::fromLatin1(pdf));
    ASSERT_TRUE(intent.hasMatch());
    QFile profile("/usr/share/color/icc/colord/sRGB.icc");
    ASSERT_TRUE(profile.open(QIODevice::ReadOnly));
    EXPECT_EQ(ObjectStreamData(path, intent.captured(1).toInt()), profile.readAll().toStdString());

    for (const TFontRow& row : FontRows(path))
        EXPECT_TRUE(row.Embedded && row.Unicode) << row.Name;
}

// ---- what the machine's fonts cannot do --------------------------------------------

// A font file the font list offers and that cannot be used: said once, and
// the run falls back to the standard fonts; PDF/A, which needs the font,
// fails and writes nothing.
TEST_F(PdfFontsTest, UnusableFontFileFallsBackToTheStandardFonts)
{
    ASSERT_TRUE(QDir(Dir.path()).mkpath("fonts"));
    const QString face = Dir.filePath("fonts/LiberationSans-Regular.ttf");
    ASSERT_TRUE(QFile::copy("/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf", face));
    const QString conf = Dir.filePath("fonts.conf");
    std::ofstream(conf.toStdString()) << "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n"
                                      << "<fontconfig><dir>" << Dir.filePath("fonts").toStdString() << "</dir><cachedir>"
                                      << Dir.filePath("cache").toStdString() << "</cachedir></fontconfig>\n";
    QProcessEnvironment env = Environment();
    env.insert("FONTCONFIG_FILE", conf);
    env.remove("SOURCE_DATE_EPOCH");  // fontconfig would date its cache by it
    // The folder an hour old: a cache made in the second the folder changed
    // is not trusted, and the font list would be read again.
    const timeval past[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    ASSERT_EQ(::utimes(Dir.filePath("fonts").toLocal8Bit().constData(), past), 0);
    ASSERT_EQ(RunTool("fc-cache", {}, env).Code, 0);
    // The file spoilt in place: the font list still offers it.
    {
        std::fstream f(face.toStdString(), std::ios::in | std::ios::out | std::ios::binary);
        const std::string zeros(4096, '\0');
        f.write(zeros.data(), std::streamsize(zeros.size()));
    }
    const std::string report = "Greek: \xCE\xB1\xCE\xB2\n";
    const TToolRun r = Run(report, {}, "out.pdf", env);
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(Count(r.Err, face.toStdString()), 1u) << r.Err;
    EXPECT_NE(r.Err.find("2 characters of"), std::string::npos) << r.Err;
    EXPECT_NE(PdfText(Path("out.pdf")).find("Greek: ??"), std::string::npos);

    const TToolRun a = Run(report, {"--pdfa"}, "archive.pdf", env);
    EXPECT_NE(a.Code, 0);
    EXPECT_NE(a.Err.find("PDF/A needs every font embedded"), std::string::npos) << a.Err;
    EXPECT_FALSE(FileExists(Path("archive.pdf")));
}

// A face the report names that is not installed, or that is installed but
// is none of the PDF's faces, is said once however often it is named; the
// job goes on in the font before it.
TEST_F(PdfFontsTest, FacesThePdfCannotUseAreSaidOnce)
{
    const TToolRun r = Run("{FONT NAME=\"No Such Face\" SIZE=10}one\n{FONT NAME=\"Arial\"}two\n"
                           "{FONT NAME=\"NO SUCH FACE\"}three\n{FONT NAME=\"DejaVu Sans\"}four\n"
                           "{FONT NAME=\"DejaVu Sans\" SIZE=14}five\n",
                           {});
    ASSERT_EQ(r.Code, 0) << r.Err;
    // (the tag reader gives names in capitals)
    EXPECT_EQ(Count(r.Err, "\"NO SUCH FACE\" is not installed"), 1u) << r.Err;
    EXPECT_EQ(Count(r.Err, "\"DEJAVU SANS\" is not one of the PDF's faces"), 1u) << r.Err;
    EXPECT_EQ(Count(r.Err, "is not"), 2u) << r.Err;
    const std::string text = PdfText(Path("out.pdf"));
    for (const char* word : {"one", "two", "three", "four", "five"})
        EXPECT_NE(text.find(word), std::string::npos) << word;
    EXPECT_EQ(Run("{FONT NAME=\"No Such Face\"}one\n", {"--quiet"}).Err.find("FACE"), std::string::npos);
}

// ---- the document information ------------------------------------------------------

struct TitleCase {
    const char* Name;
    std::string Title;
    std::string Written;  // in the file
    std::string Shown;    // by pdfinfo, UTF-8
};

void PrintTo(const TitleCase& C, std::ostream* Os) { *Os << C.Name; }

class PdfTitleTest : public PdfFontsTest, public ::testing::WithParamInterface<TitleCase> {};

TEST_P(PdfTitleTest, TitleIsATextString)
{
    const TitleCase& c = GetParam();
    EXPECT_EQ(PdfTextString(c.Title), c.Written);
    for (bool archive : {false, true}) {
        TPdfWriter w;
        w.FileName = Path("title.pdf");
        w.TITLE = c.Title;
        w.PdfA = archive;
        w.BeginDoc();
        w.EndDoc();
        const std::string pdf = ReadBytes(w.FileName);
        EXPECT_NE(pdf.find("/Title " + c.Written + "\r\n"), std::string::npos) << pdf.substr(0, 400);
        EXPECT_EQ(PdfInfo(w.FileName, "Title"), c.Shown);
        EXPECT_TRUE(PassesQpdfCheck(w.FileName));
        if (archive) {
            std::string error;
            EXPECT_EQ(XmpValues(RunTool("pdfinfo", {"-meta", Dir.filePath("title.pdf")}).Out, &error)["dc:title"], c.Shown);
            EXPECT_EQ(error, "");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Titles, PdfTitleTest,
    ::testing::Values(
        TitleCase{"Ascii", "Q3 (final) \\ draft", "(Q3 \\(final\\) \\\\ draft)", "Q3 (final) \\ draft"},
        TitleCase{"Windows1252AsToday", "Caf\xE9 M\xFCller", "(Caf\xE9 M\xFCller)", "Caf\xC3\xA9 M\xC3\xBCller"},
        TitleCase{"Windows1252EuroSign", "\x80 5", "<FEFF20AC00200035>", "\xE2\x82\xAC 5"},
        TitleCase{"Utf8Greek", "\xCE\x91\xCF\x81\xCF\x87\xCE\xB5\xCE\xAF\xCE\xBF (\xCE\xB1) <&>",
                  "<FEFF039103C103C703B503AF03BF0020002803B100290020003C0026003E>",
                  "\xCE\x91\xCF\x81\xCF\x87\xCE\xB5\xCE\xAF\xCE\xBF (\xCE\xB1) <&>"},
        TitleCase{"BeyondThePlane", "\xF0\x9D\x84\x9E", "<FEFFD834DD1E>", "\xF0\x9D\x84\x9E"}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace quillard::test
