// Font names for reports. The Windows core names a report uses are drawn with
// installed faces that have the same advance widths (fonts-liberation2 gives
// them: Liberation Sans for Arial, Liberation Serif for Times New Roman,
// Liberation Mono for Courier New), so text laid out on a page measures what
// the report expects. fontconfig already aliases most of these names; the
// substitutions installed here make the choice independent of the local
// fontconfig set-up and add the names fontconfig does not know.
#include "surfaces/fontlist.h"

#include "surfaces/rastercanvas.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QStringList>

#include <algorithm>
#include <map>
#include <mutex>

namespace quillard {

namespace {

struct TAlias {
    const char* Name;     // as a report names it
    const char* Faces[3];  // installed faces that may stand in, best first
    bool Listed;          // offered in the font list
};

const TAlias Aliases[] = {
    {"Arial", {"Liberation Sans", "Arimo", nullptr}, true},
    {"Arial Narrow", {"Liberation Sans Narrow", nullptr, nullptr}, true},
    {"Times New Roman", {"Liberation Serif", "Tinos", nullptr}, true},
    {"Courier New", {"Liberation Mono", "Cousine", nullptr}, true},
    {"Helvetica", {"Liberation Sans", "Arimo", nullptr}, true},
    {"Times", {"Liberation Serif", "Tinos", nullptr}, true},
    {"Courier", {"Liberation Mono", "Cousine", nullptr}, true},
    // Box drawing in a fixed pitch; Liberation Mono has the box-drawing
    // characters at the width of its letters.
    {"MS LineDraw", {"Liberation Mono", "DejaVu Sans Mono", nullptr}, true},
    // The default face of a new font. It has no metric twin here; a
    // Helvetica-like face keeps it closer to the other surfaces than the
    // wider DejaVu Sans fontconfig would pick. Not offered by name.
    {"MS Sans Serif", {"Liberation Sans", "Arimo", nullptr}, false},
    {"Microsoft Sans Serif", {"Liberation Sans", "Arimo", nullptr}, false},
};

const char* FaceFor(const TAlias& A, const QStringList& Families)
{
    for (const char* Face : A.Faces)
        if (Face && Families.contains(QString::fromLatin1(Face), Qt::CaseInsensitive))
            return Face;
    return nullptr;
}

std::string ToCp1252(const QString& S)
{
    static const std::map<char16_t, char> High = [] {
        std::map<char16_t, char> M;
        for (int B = 0x80; B <= 0x9F; ++B) {
            const QString C = Cp1252ToQString(std::string(1, char(B)));
            M[C.at(0).unicode()] = char(B);
        }
        return M;
    }();
    std::string Out;
    Out.reserve(size_t(S.size()));
    for (const QChar C : S) {
        const char16_t U = C.unicode();
        if (U < 0x80 || (U >= 0xA0 && U <= 0xFF)) {
            Out += char(U);
        } else {
            const auto It = High.find(U);
            Out += It != High.end() ? It->second : '?';
        }
    }
    return Out;
}

}  // namespace

void InstallFontSubstitutions()
{
    static std::once_flag Once;
    std::call_once(Once, [] {
        const QStringList Families = QFontDatabase::families();
        for (const TAlias& A : Aliases) {
            const char* Face = FaceFor(A, Families);
            if (!Face)
                continue;
            const QString Name = QString::fromLatin1(A.Name);
            if (!QFont::substitutes(Name).contains(QString::fromLatin1(Face), Qt::CaseInsensitive))
                QFont::insertSubstitution(Name, QString::fromLatin1(Face));
        }
    });
}

const std::vector<std::string>& SurfaceFontList()
{
    static const std::vector<std::string> List = [] {
        InstallFontSubstitutions();
        const QStringList Families = QFontDatabase::families();
        std::vector<std::string> Names;
        for (const QString& F : Families)
            if (!QFontDatabase::isPrivateFamily(F))
                Names.push_back(ToCp1252(F));
        // A core name is offered when it really comes out in its metric twin.
        for (const TAlias& A : Aliases) {
            const char* Face = A.Listed ? FaceFor(A, Families) : nullptr;
            if (Face && QFontInfo(QFont(QString::fromLatin1(A.Name))).family().compare(
                            QString::fromLatin1(Face), Qt::CaseInsensitive) == 0)
                Names.emplace_back(A.Name);
        }
        auto Lower = [](const std::string& S) {
            std::string L = S;
            std::transform(L.begin(), L.end(), L.begin(), [](unsigned char C) { return char(std::tolower(C)); });
            return L;
        };
        std::sort(Names.begin(), Names.end(),
                  [&](const std::string& A, const std::string& B) { return Lower(A) < Lower(B); });
        Names.erase(std::unique(Names.begin(), Names.end(),
                                [&](const std::string& A, const std::string& B) { return Lower(A) == Lower(B); }),
                    Names.end());
        return Names;
    }();
    return List;
}

}  // namespace quillard
