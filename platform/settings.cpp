#include "platform/settings.h"

#include "platform/qtstrings.h"
#include "engine/globals.h"
#include "engine/markup.h"
#include "engine/renderer.h"

#include <QSettings>
#include <algorithm>
#include <climits>

namespace quillard {

namespace {

const char* const Organisation = "Merrowgate";
const char* const Application = "Quillard";

std::optional<std::string> Value(const QSettings& s, const char* Name)
{
    const QString key = QString::fromLatin1(Name);
    if (!s.contains(key))
        return std::nullopt;
    return PathFromQ(s.value(key).toString());
}

}  // namespace

TUserSettings ReadUserSettings()
{
    TUserSettings out;
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, Organisation, Application);
    // The user's values only: the system scope is another store.
    s.setFallbacksEnabled(false);
    if (s.status() != QSettings::NoError)
        return out;
    out.ZoomLevel = Value(s, "Zoom Level");
    out.SaveTxtDir = Value(s, "Save TXT Dir");
    out.SavePdfDir = Value(s, "Save PDF Dir");
    out.SaveGraphicDir = Value(s, "Save Graphic Dir");
    out.OpenDir = Value(s, "Open Dir");
    out.ExitOnEsc = Value(s, "Exit On Esc");
    out.UseLineDrawFont = Value(s, "Use MS LineDraw Font");
    out.Encoding = Value(s, "Encoding");
    out.LineEnds = Value(s, "Line Ends");
    out.PlainText = Value(s, "Plain Text");
    out.EmbedPdfFonts = Value(s, "Embed PDF Fonts");
    out.CompressPdf = Value(s, "Compress PDF");
    return out;
}

void ApplyDrawingSettings(const TUserSettings& Settings)
{
    if (Settings.UseLineDrawFont) {
        Globals().UseLineDrawFont = SettingIsYes(*Settings.UseLineDrawFont);
        Globals().LineDrawChosen = true;
    }
    // A name the program does not know leaves the choice to the report.
    Globals().ReportEncoding = "AUTO";
    tRenderer::TEncodingChoice choice;
    if (Settings.Encoding && tRenderer::EncodingChoiceOf(*Settings.Encoding, choice))
        Globals().ReportEncoding = UpperCase(Trim(*Settings.Encoding));
    // A value that names no choice leaves the default, Auto.
    Globals().LineEnds = TLineEndChoice::Auto;
    if (Settings.LineEnds)
        if (const std::optional<TLineEndChoice> choice = ParseLineEnds(*Settings.LineEnds))
            Globals().LineEnds = *choice;
    Globals().PlainText = TPlainTextChoice::Auto;
    if (Settings.PlainText) {
        const std::string v = UpperCase(Trim(*Settings.PlainText));
        if (v == "NEVER" || v == "NO")
            Globals().PlainText = TPlainTextChoice::Never;
        else if (v == "ALWAYS" || v == "YES")
            Globals().PlainText = TPlainTextChoice::Always;
    }
    Globals().EmbedPdfFonts = Settings.EmbedPdfFonts && SettingIsYes(*Settings.EmbedPdfFonts);
    Globals().CompressPdf = Settings.CompressPdf && SettingIsYes(*Settings.CompressPdf);
}

std::optional<TLineEndChoice> ParseLineEnds(const std::string& Value)
{
    const std::string v = UpperCase(Trim(Value));
    if (v == "AUTO")
        return TLineEndChoice::Auto;
    if (v == "PRINTER")
        return TLineEndChoice::Printer;
    if (v == "UNIX")
        return TLineEndChoice::Unix;
    return std::nullopt;
}

TInternetSettings ReadInternetSettings()
{
    TInternetSettings out;
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, Organisation, Application);
    s.setFallbacksEnabled(false);
    if (s.status() != QSettings::NoError)
        return out;
    s.beginGroup(QStringLiteral("Internet Settings"));
    out.ProxyEnable = Value(s, "ProxyEnable");
    out.ProxyServer = Value(s, "ProxyServer");
    return out;
}

int ParseFetchTimeLimit(const std::optional<std::string>& Value)
{
    if (!Value)
        return DefaultFetchTimeLimit;
    const std::string t = Trim(*Value);
    if (t.empty() || t.size() > 12)
        return DefaultFetchTimeLimit;
    long long v = 0;
    for (char c : t) {
        if (c < '0' || c > '9')
            return DefaultFetchTimeLimit;
        v = v * 10 + (c - '0');
    }
    if (v < 1)
        return DefaultFetchTimeLimit;
    return static_cast<int>(std::min<long long>(v, MaxFetchTimeLimit));
}

int ReadFetchTimeLimit()
{
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, Organisation, Application);
    s.setFallbacksEnabled(false);
    if (s.status() != QSettings::NoError)
        return DefaultFetchTimeLimit;
    return ParseFetchTimeLimit(Value(s, "Fetch Time Limit"));
}

bool NoOpenOrSave()
{
    QSettings s(QSettings::NativeFormat, QSettings::SystemScope, Organisation, Application);
    return s.status() == QSettings::NoError && s.contains(QStringLiteral("No Open or Save"));
}

bool WriteExitSettings(const std::string& ZoomText, const std::string& SaveTxtDir, const std::string& SaveGraphicDir,
                       const std::string& OpenDir)
{
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, Organisation, Application);
    s.setFallbacksEnabled(false);
    s.setValue(QStringLiteral("Zoom Level"), FromBytes(ZoomText));
    s.setValue(QStringLiteral("Save TXT Dir"), PathToQ(SaveTxtDir));
    s.setValue(QStringLiteral("Save Graphic Dir"), PathToQ(SaveGraphicDir));
    s.setValue(QStringLiteral("Open Dir"), PathToQ(OpenDir));
    s.sync();
    return s.status() == QSettings::NoError;
}

bool WriteUserSetting(const std::string& Name, const std::string& Value)
{
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, Organisation, Application);
    s.setFallbacksEnabled(false);
    s.setValue(QString::fromStdString(Name), FromBytes(Value));
    s.sync();
    return s.status() == QSettings::NoError;
}

int ParseZoomLevel(const std::string& Value, int Current, bool* Replaced)
{
    if (Replaced)
        *Replaced = false;
    size_t n = 0;
    long long v = 0;
    while (n < Value.size() && Value[n] >= '0' && Value[n] <= '9') {
        if (v <= INT_MAX)
            v = v * 10 + (Value[n] - '0');
        ++n;
    }
    if (n == 0)
        return Current;
    if (v > 300) {
        if (Replaced)
            *Replaced = true;
        return 70;
    }
    return static_cast<int>(v);
}

bool SettingIsYes(const std::string& Value) { return UpperCase(Value) == "YES"; }

}  // namespace quillard
