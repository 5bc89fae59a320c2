#include "platform/cupsprinter.h"

#include "engine/header.h"
#include "surfaces/canvas.h"
#include "surfaces/rastercanvas.h"

#include <QDir>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QStringDecoder>
#include <QTemporaryFile>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/pwg.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <strings.h>
#include <thread>
#include <unistd.h>

namespace quillard {

namespace {

const char* const NoDefaultPrinter = "There is no default printer currently selected";

// Resolution of a printer whose driver names none.
constexpr int AssumedDpi = 600;

struct THttpCloser {
    void operator()(http_t* h) const { httpClose(h); }
};
using THttp = std::unique_ptr<http_t, THttpCloser>;

struct TIppDeleter {
    void operator()(ipp_t* p) const { ippDelete(p); }
};
using TIpp = std::unique_ptr<ipp_t, TIppDeleter>;

// A connection of its own to the spooler for each piece of work, so that a
// long pause while a document is drawn never meets a connection the spooler
// has closed in between.
THttp Connect()
{
    return THttp(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 10000, nullptr));
}

std::string SpoolerUnreachable()
{
    std::string why = cupsLastErrorString() ? cupsLastErrorString() : "";
    if (why.empty() || cupsLastError() == IPP_STATUS_OK)
        why = std::strerror(errno);
    return "The print spooler (" + std::string(cupsServer()) + ") cannot be reached: " + why;
}

std::string LastCupsError()
{
    const char* s = cupsLastErrorString();
    return s && *s ? s : "the print spooler gave no reason";
}

// Job names are UTF-8 of at most 255 bytes. Report texts are Windows-1252
// unless they already read as UTF-8 (file names usually do).
std::string JobName(const std::string& Text)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = utf8.decode(QByteArrayView(Text.data(), static_cast<qsizetype>(Text.size())));
    if (utf8.hasError())
        s = Cp1252ToQString(Text);
    QByteArray out = s.toUtf8();
    if (out.size() > 255) {
        qsizetype n = 255;
        while (n > 0 && (static_cast<unsigned char>(out[n]) & 0xC0) == 0x80)
            --n;
        out.truncate(n);
    }
    return out.toStdString();
}

// "600dpi", "300x600dpi": the larger of the two, 0 when unreadable.
int ParseResolution(const char* Text)
{
    if (!Text)
        return 0;
    int x = 0, y = 0;
    if (std::sscanf(Text, "%dx%ddpi", &x, &y) == 2)
        return std::max(x, y);
    if (std::sscanf(Text, "%ddpi", &x) == 1)
        return x;
    return 0;
}

struct TBin {
    int Bin;
    const char* Source;  // IPP media-source keyword
    const char* Slots;   // driver InputSlot choices it goes by, "|" between
};
const TBin Bins[] = {
    {1, "top", "Upper|Top"},
    {2, "bottom", "Lower|Bottom"},
    {3, "middle", "Middle"},
    {4, "manual", "Manual|ManualFeed"},
    {5, "envelope", "Envelope|EnvelopeFeed"},
    {6, "manual", "EnvManual|ManualEnvelope|EnvelopeManual"},
    {7, "auto", "Auto|AutoSelect"},
    {8, "main-roll", "Tractor|Continuous"},
    {9, "by-pass-tray", "SmallFormat|Multipurpose|MP"},
    {10, "alternate", "LargeFormat"},
    {11, "large-capacity", "LargeCapacity|LCT"},
    {14, "main", "Cassette|Main"},
    {15, "auto", "FormSource"},
};

// The number a driver's slot name carries, with nothing but letters,
// dashes or spaces around it ("1Tray", "Tray2", "Cassette-3"), or 0.
int SlotNumber(const std::string& Slot)
{
    int number = 0, runs = 0;
    for (size_t i = 0; i < Slot.size();) {
        const unsigned char c = static_cast<unsigned char>(Slot[i]);
        if (std::isdigit(c)) {
            ++runs;
            number = 0;
            for (; i < Slot.size() && std::isdigit(static_cast<unsigned char>(Slot[i])) && number < 1000; ++i)
                number = number * 10 + (Slot[i] - '0');
            continue;
        }
        if (!std::isalpha(c) && c != '-' && c != ' ' && c != '_')
            return 0;
        ++i;
    }
    return runs == 1 ? number : 0;
}

// The choice of the driver's InputSlot option a tray goes by, or empty.
std::string SlotFor(int DmBin, const std::vector<std::string>& Slots)
{
    if (Slots.empty())
        return {};
    std::vector<std::string> wanted;
    if (DmBin >= 256) {
        wanted.push_back("Tray" + std::to_string(DmBin - 255));
    } else {
        for (const TBin& b : Bins) {
            if (b.Bin != DmBin)
                continue;
            std::string list = b.Slots;
            size_t start = 0;
            while (start <= list.size()) {
                size_t bar = list.find('|', start);
                if (bar == std::string::npos)
                    bar = list.size();
                wanted.push_back(list.substr(start, bar - start));
                start = bar + 1;
            }
        }
    }
    // The media-source keyword itself, as some drivers name their slots.
    std::string source = TCupsPrinterLayer::MediaSourceOf(DmBin);
    source.erase(std::remove(source.begin(), source.end(), '-'), source.end());
    if (!source.empty())
        wanted.push_back(source);
    for (const std::string& w : wanted)
        for (const std::string& s : Slots)
            if (strcasecmp(w.c_str(), s.c_str()) == 0)
                return s;
    // Drivers that number their trays ("1Tray" to "5Tray", "Cassette2",
    // "Tray-3"): the upper tray is the first, the lower the second, the
    // middle the third, a driver's tray number N (256 + N - 1) the Nth.
    const int number = DmBin >= 256 ? DmBin - 255 : DmBin >= 1 && DmBin <= 3 ? DmBin : 0;
    if (number > 0)
        for (const std::string& s : Slots)
            if (SlotNumber(s) == number)
                return s;
    return {};
}

// How a report's tray reads in a message: its name, or its number.
std::string TrayText(int DmBin)
{
    static const char* const names[] = {"", "Upper", "Lower", "Middle", "Manual", "Envelope", "Envelope manual feed",
                                        "Auto", "Tractor", "Small format", "Large format", "Large capacity", "", "",
                                        "Cassette", "Form source"};
    if (DmBin >= 1 && DmBin < static_cast<int>(std::size(names)) && *names[DmBin])
        return std::string("the ") + names[DmBin] + " tray";
    if (DmBin >= 256)
        return "tray " + std::to_string(DmBin - 255) + " of the driver";
    return "tray number " + std::to_string(DmBin);
}

}  // namespace

// ---------------------------------------------------------------------------
// The description of a queue

struct TCupsPrinterLayer::TMedia {
    std::string Name;  // the driver's name (PageSize choice) or the paper's key
    std::string Pwg;   // IPP media name sent with a job
    double Width = 0, Length = 0;                      // points, portrait
    double Left = 0, Bottom = 0, Right = 0, Top = 0;   // unprintable margins, points
};

struct TCupsPrinterLayer::TDescription {
    bool FromDriver = false;  // false: a queue without a driver (raw): any size, no margins
    std::vector<TMedia> Media;
    int DefaultMedia = 0;
    bool VariableSizes = false;
    double MinWidth = 0, MinLength = 0, MaxWidth = 0, MaxLength = 0;
    double CustomMargins[4] = {0, 0, 0, 0};  // left, bottom, right, top
    std::vector<std::string> InputSlots;
    int Dpi = AssumedDpi;
    bool LandscapeMinus90 = false;
    bool Colour = false;  // the driver says the device prints colour
};

struct TCupsPrinterLayer::TPageSetup {
    TMedia Media;
    QPageLayout Layout;   // for the PDF of a job
    int Dpi = AssumedDpi;
    // In device pixels, in the orientation of the page: the sheet, and the
    // printable area within it. Each is the driver's points times dpi / 72,
    // rounded on its own, the printable size being what the margins leave.
    QRect Sheet, Printable;
    std::string Problem;
};

struct TCupsPrinterLayer::TJob {
    QTemporaryFile File;
    std::unique_ptr<QPdfWriter> Writer;
    std::unique_ptr<TDeviceContext> DC;  // before Writer in destruction
    std::string Queue;
    std::string Title;
    int Id = 0;

    ~TJob()
    {
        DC.reset();
        Writer.reset();
    }
};

namespace {

std::string PwgNameOf(const std::string& PpdName, double Width, double Length)
{
    if (pwg_media_t* m = pwgMediaForPPD(PpdName.c_str()))
        if (m->pwg)
            return m->pwg;
    if (pwg_media_t* m = pwgMediaForSize(static_cast<int>(std::lround(Width * 2540.0 / 72)),
                                         static_cast<int>(std::lround(Length * 2540.0 / 72))))
        if (m->pwg)
            return m->pwg;
    return PpdName;
}

// The DMPAPER number of a sheet, DMPAPER_USER when Windows has none for it.
int16_t DmPaperOf(double Width, double Length)
{
    QPageSize size(QSizeF(Width, Length), QPageSize::Point, QString(), QPageSize::FuzzyMatch);
    int id = size.windowsId();
    return static_cast<int16_t>(id > 0 && id < DMPAPER_USER ? id : DMPAPER_USER);
}

}  // namespace

TCupsPrinterLayer::TCupsPrinterLayer() = default;

TCupsPrinterLayer::~TCupsPrinterLayer()
{
    if (FPrinting) {
        try {
            Abort();
        } catch (...) {
            // Nothing leaves a destructor; the job is cancelled or gone.
        }
    }
}

std::string TCupsPrinterLayer::MediaSourceOf(int DmBin)
{
    if (DmBin >= 256 && DmBin <= 255 + 20)
        return "tray-" + std::to_string(DmBin - 255);
    for (const TBin& b : Bins)
        if (b.Bin == DmBin)
            return b.Source;
    return {};
}

// ---------------------------------------------------------------------------
// The printer list

namespace {

// The spooler's queue names, sorted; false with Error when it gave none.
bool QueueNames(http_t* Http, std::vector<std::string>& Names, std::string& Error)
{
    Names.clear();
    ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
    static const char* const wanted[] = {"printer-name", "printer-type"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, wanted);
    TIpp response(cupsDoRequest(Http, request, "/"));
    if (cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND) {
        Error = "No printers are installed.";
        return false;
    }
    if (cupsLastError() > IPP_STATUS_OK_CONFLICTING || !response) {
        Error = "The print spooler did not list its printers: " + LastCupsError();
        return false;
    }
    for (ipp_attribute_t* a = ippFirstAttribute(response.get()); a; a = ippNextAttribute(response.get())) {
        if (ippGetGroupTag(a) != IPP_TAG_PRINTER || !ippGetName(a))
            continue;
        if (std::strcmp(ippGetName(a), "printer-name") == 0 && ippGetValueTag(a) == IPP_TAG_NAME)
            Names.emplace_back(ippGetString(a, 0, nullptr));
    }
    std::sort(Names.begin(), Names.end(),
              [](const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) < 0; });
    return true;
}

}  // namespace

void TCupsPrinterLayer::FollowQueues()
{
    // One request for the names; the descriptions are read again only when
    // the queues changed.
    if (FListed) {
        THttp http = Connect();
        std::vector<std::string> names;
        std::string error;
        if (http && QueueNames(http.get(), names, error) && names == FNames)
            return;
    }
    Refresh();
}

void TCupsPrinterLayer::EnsureList() const
{
    if (!FListed)
        LoadList();
}

void TCupsPrinterLayer::LoadList() const
{
    FListed = true;
    FNames.clear();
    FDefault = -1;
    FCurrent = -1;
    FError.clear();
    FDescription.reset();

    THttp http = Connect();
    if (!http) {
        FError = SpoolerUnreachable();
        return;
    }
    if (!QueueNames(http.get(), FNames, FError))
        return;
    if (FNames.empty()) {
        FError = "No printers are installed.";
        return;
    }

    // The default: LPDEST or PRINTER when they name a printer, else the
    // spooler's.
    for (const char* var : {"LPDEST", "PRINTER"}) {
        const char* v = std::getenv(var);
        if (FDefault < 0 && v && *v)
            FDefault = IndexOf(v);
    }
    if (FDefault < 0) {
        ipp_t* req = ippNewRequest(IPP_OP_CUPS_GET_DEFAULT);
        TIpp resp(cupsDoRequest(http.get(), req, "/"));
        if (resp)
            if (ipp_attribute_t* a = ippFindAttribute(resp.get(), "printer-name", IPP_TAG_NAME))
                FDefault = IndexOf(ippGetString(a, 0, nullptr));
    }
    http.reset();
    // Without a default the first printer serves.
    Select(FDefault >= 0 ? FDefault : 0);
}

void TCupsPrinterLayer::Refresh()
{
    std::string current = FCurrent >= 0 && FCurrent < static_cast<int>(FNames.size()) ? FNames[FCurrent] : "";
    const int16_t paper = FPaper, source = FSource;
    const int orientation = FOrientation, copies = FCopies;
    LoadList();
    // The same printer stays selected with its settings when it is still there.
    const int again = current.empty() ? -1 : IndexOf(current);
    if (again >= 0) {
        Select(again);
        FPaper = paper;
        FSource = source;
        FOrientation = orientation;
        FCopies = copies;
    }
}

int TCupsPrinterLayer::IndexOf(const std::string& Name) const
{
    EnsureList();
    for (size_t i = 0; i < FNames.size(); ++i)
        if (FNames[i] == Name)
            return static_cast<int>(i);
    for (size_t i = 0; i < FNames.size(); ++i)
        if (strcasecmp(FNames[i].c_str(), Name.c_str()) == 0)
            return static_cast<int>(i);
    return -1;
}

int TCupsPrinterLayer::Count() const
{
    EnsureList();
    return static_cast<int>(FNames.size());
}

std::vector<std::string> TCupsPrinterLayer::Printers() const
{
    EnsureList();
    return FNames;
}

int TCupsPrinterLayer::PrinterIndex() const
{
    EnsureList();
    return FCurrent;
}

int TCupsPrinterLayer::DefaultIndex() const
{
    EnsureList();
    return FDefault;
}

std::string TCupsPrinterLayer::LastError() const
{
    EnsureList();
    return FError;
}

void TCupsPrinterLayer::SetPrinterIndex(int Index)
{
    EnsureList();
    if (FPrinting)
        throw std::runtime_error("Cannot change printers while printing");
    if (Index == -1)
        Index = FDefault >= 0 ? FDefault : (FNames.empty() ? -1 : 0);
    if (Index < 0 || Index >= static_cast<int>(FNames.size()))
        throw std::out_of_range("Printer index out of range");
    if (Index == FCurrent) {
        // Selecting the same printer again reads its description again and
        // keeps its settings.
        LoadDescription();
        return;
    }
    // What the print dialog chose was for the printer before.
    FDialogOptions.clear();
    Select(Index);
}

// Makes a printer current with its own default settings.
void TCupsPrinterLayer::Select(int Index) const
{
    FCurrent = Index;
    LoadDescription();
    FPaper = FDefaultPaper;
    FSource = 0;
    FOrientation = 0;
    FCopies = 1;
}

void TCupsPrinterLayer::LoadDescription() const
{
    FDescription.reset();
    FDefaultPaper = DMPAPER_LETTER;
    if (FCurrent < 0)
        return;
    const std::string& name = FNames[FCurrent];
    THttp http = Connect();
    if (!http) {
        FError = SpoolerUnreachable();
        return;
    }
    char path[1024] = "";
    time_t modified = 0;
    const http_status_t status = cupsGetPPD3(http.get(), name.c_str(), &modified, path, sizeof path);
    auto desc = std::make_unique<TDescription>();
    if (status == HTTP_STATUS_OK) {
        ppd_file_t* ppd = ppdOpenFile(path);
        int line = 0;
        const ppd_status_t why = ppd ? PPD_OK : ppdLastError(&line);
        ::unlink(path);
        if (!ppd) {
            FError = "The driver description of \"" + name + "\" cannot be read: " + ppdErrorString(why);
            return;
        }
        ppdMarkDefaults(ppd);
        desc->FromDriver = true;
        const ppd_size_t* def = ppdPageSize(ppd, nullptr);
        for (int i = 0; i < ppd->num_sizes; ++i) {
            const ppd_size_t& s = ppd->sizes[i];
            if (std::strcmp(s.name, "Custom") == 0 || s.width <= 0 || s.length <= 0)
                continue;
            TMedia m;
            m.Name = s.name;
            m.Width = s.width;
            m.Length = s.length;
            m.Left = std::max(0.0f, s.left);
            m.Bottom = std::max(0.0f, s.bottom);
            m.Right = std::max(0.0f, s.width - s.right);
            m.Top = std::max(0.0f, s.length - s.top);
            m.Pwg = PwgNameOf(m.Name, m.Width, m.Length);
            if (def && std::strcmp(def->name, s.name) == 0)
                desc->DefaultMedia = static_cast<int>(desc->Media.size());
            desc->Media.push_back(m);
        }
        desc->VariableSizes = ppd->variable_sizes != 0;
        desc->MinWidth = ppd->custom_min[0];
        desc->MinLength = ppd->custom_min[1];
        desc->MaxWidth = ppd->custom_max[0];
        desc->MaxLength = ppd->custom_max[1];
        for (int i = 0; i < 4; ++i)
            desc->CustomMargins[i] = std::max(0.0f, ppd->custom_margins[i]);
        if (ppd_option_t* inputSlot = ppdFindOption(ppd, "InputSlot"))
            for (int i = 0; i < inputSlot->num_choices; ++i)
                desc->InputSlots.emplace_back(inputSlot->choices[i].choice);
        int dpi = 0;
        if (ppd_attr_t* a = ppdFindAttr(ppd, "DefaultResolution", nullptr))
            dpi = ParseResolution(a->value);
        if (dpi <= 0)
            if (ppd_option_t* r = ppdFindOption(ppd, "Resolution"))
                dpi = ParseResolution(r->defchoice);
        desc->Dpi = dpi >= 72 && dpi <= 9600 ? dpi : AssumedDpi;
        desc->LandscapeMinus90 = ppd->landscape < 0;
        desc->Colour = ppd->color_device != 0;
        ppdClose(ppd);
        if (desc->Media.empty()) {
            FError = "The driver description of \"" + name + "\" lists no paper sizes";
            return;
        }
    } else if (status == HTTP_STATUS_NOT_FOUND) {
        // A queue without a driver passes documents through as they are: it
        // takes any sheet, printable to its edges. Its default sheet is the
        // one the spooler reports, else Letter.
        desc->FromDriver = false;
        TMedia m{"Letter", "na_letter_8.5x11in", 612, 792};
        ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
        char uri[1024];
        httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(), "/printers/%s",
                         name.c_str());
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "media-default");
        TIpp response(cupsDoRequest(http.get(), request, "/"));
        if (response)
            if (ipp_attribute_t* a = ippFindAttribute(response.get(), "media-default", IPP_TAG_ZERO))
                if (const char* kw = ippGetString(a, 0, nullptr))
                    if (pwg_media_t* pm = pwgMediaForPWG(kw)) {
                        m.Pwg = pm->pwg;
                        m.Name = pm->ppd ? pm->ppd : pm->pwg;
                        m.Width = pm->width * 72.0 / 2540;
                        m.Length = pm->length * 72.0 / 2540;
                    }
        desc->Media.push_back(m);
    } else {
        FError = "The driver description of \"" + name + "\" cannot be had from the print spooler: " + LastCupsError();
        return;
    }
    const TMedia& d = desc->Media[desc->DefaultMedia];
    FDefaultPaper = DmPaperOf(d.Width, d.Length);
    FDescription = std::move(desc);
}

const TCupsPrinterLayer::TDescription& TCupsPrinterLayer::Description() const
{
    EnsureList();
    if (FCurrent < 0)
        throw std::runtime_error(NoDefaultPrinter);
    if (!FDescription)
        throw std::runtime_error(FError.empty() ? "Error retrieving Printer Handle" : FError);
    return *FDescription;
}

// ---------------------------------------------------------------------------
// Settings and metrics

bool TCupsPrinterLayer::CanOrientation() const { return PrinterIndex() >= 0; }
bool TCupsPrinterLayer::CanCopies() const { return PrinterIndex() >= 0; }

int TCupsPrinterLayer::Orientation() const
{
    EnsureList();
    return FOrientation;
}

void TCupsPrinterLayer::SetOrientation(int Orientation)
{
    EnsureList();
    FOrientation = Orientation == 1 ? 1 : 0;
}

int TCupsPrinterLayer::Copies() const
{
    EnsureList();
    return FCopies;
}

void TCupsPrinterLayer::SetCopies(int Copies)
{
    EnsureList();
    FCopies = std::clamp(Copies, 1, 9999);
}

bool TCupsPrinterLayer::HasHandle() const
{
    EnsureList();
    return FCurrent >= 0 && FDescription != nullptr;
}

int16_t TCupsPrinterLayer::PaperSize() const
{
    EnsureList();
    return FPaper;
}

void TCupsPrinterLayer::SetPaperSize(int16_t DmPaper)
{
    // Kept even without a printer: the PDF job lays out on the report's paper.
    EnsureList();
    FPaper = DmPaper;
}

int16_t TCupsPrinterLayer::DefaultSource() const
{
    EnsureList();
    return FSource;
}

void TCupsPrinterLayer::SetDefaultSource(int16_t DmBin)
{
    EnsureList();
    if (FCurrent < 0)
        throw std::runtime_error(NoDefaultPrinter);
    FSource = DmBin;
}

TCupsPrinterLayer::TPageSetup TCupsPrinterLayer::CurrentSetup() const
{
    const TDescription& d = Description();
    TPageSetup setup;
    setup.Dpi = d.Dpi;

    // The sheet of the paper number: the driver's size of that name, else of
    // those dimensions, else a custom size when the driver takes them.
    std::optional<TMedia> media;
    if (FPaper == FDefaultPaper) {
        media = d.Media[d.DefaultMedia];
    } else {
        QPageSize::PageSizeId id = FPaper > 0 ? QPageSize::id(static_cast<int>(FPaper)) : QPageSize::Custom;
        // Folio (8.5 x 13 inches) has no Windows number in Qt's table; its
        // sheet is Qt's German legal fanfold.
        if (FPaper == 14)
            id = QPageSize::FanFoldGermanLegal;
        if (id != QPageSize::Custom) {
            const QPageSize size(id);
            const std::string key = size.key().toStdString();
            const QSizeF pts = size.definitionSize().isValid() ? size.size(QPageSize::Point) : QSizeF();
            if (!d.FromDriver) {
                TMedia m;
                m.Name = key;
                m.Width = pts.width();
                m.Length = pts.height();
                m.Pwg = PwgNameOf(key, m.Width, m.Length);
                media = m;
            }
            for (const TMedia& m : d.Media)
                if (!media && m.Name == key)
                    media = m;
            for (int pass = 0; pass < 2 && !media; ++pass)
                for (const TMedia& m : d.Media) {
                    // Plain sizes before their variants (A4.Fullbleed).
                    const bool variant = m.Name.find('.') != std::string::npos;
                    if (!media && variant == (pass == 1) && std::abs(m.Width - pts.width()) <= 1.5 &&
                        std::abs(m.Length - pts.height()) <= 1.5)
                        media = m;
                }
            if (!media && d.VariableSizes && pts.width() >= d.MinWidth && pts.width() <= d.MaxWidth &&
                pts.height() >= d.MinLength && pts.height() <= d.MaxLength) {
                TMedia m;
                m.Width = pts.width();
                m.Length = pts.height();
                m.Name = "Custom." + std::to_string(std::lround(m.Width)) + "x" + std::to_string(std::lround(m.Length));
                m.Left = d.CustomMargins[0];
                m.Bottom = d.CustomMargins[1];
                m.Right = d.CustomMargins[2];
                m.Top = d.CustomMargins[3];
                m.Pwg = PwgNameOf(key, m.Width, m.Length);
                media = m;
            }
        }
        if (!media) {
            const std::string paper = PaperName(FPaper);
            media = d.Media[d.DefaultMedia];
            setup.Problem = "The printer \"" + FNames[FCurrent] + "\" has no paper " +
                            (paper.empty() ? "number " + std::to_string(FPaper) : paper + " (number " + std::to_string(FPaper) + ")") +
                            ".\r\nThe report is laid out and printed on its default paper, " + media->Name + ".";
        }
    }
    setup.Media = *media;

    // The imageable area turns with the sheet: landscape turns the page a
    // quarter to the left on the paper (a quarter to the right for drivers
    // that say Minus90).
    const TMedia& m = setup.Media;
    QMarginsF margins(m.Left, m.Top, m.Right, m.Bottom);
    if (FOrientation == 1)
        margins = d.LandscapeMinus90 ? QMarginsF(m.Top, m.Right, m.Bottom, m.Left) : QMarginsF(m.Bottom, m.Left, m.Top, m.Right);
    const QPageSize sheet(QSizeF(m.Width, m.Length), QPageSize::Point, QString::fromStdString(m.Name), QPageSize::ExactMatch);
    setup.Layout = QPageLayout(sheet, FOrientation == 1 ? QPageLayout::Landscape : QPageLayout::Portrait, margins,
                               QPageLayout::Point);
    auto px = [&](double Points) { return static_cast<int>(std::lround(Points * setup.Dpi / 72.0)); };
    const double across = FOrientation == 1 ? m.Length : m.Width, down = FOrientation == 1 ? m.Width : m.Length;
    setup.Sheet = QRect(0, 0, px(across), px(down));
    const int left = px(margins.left()), top = px(margins.top());
    setup.Printable = QRect(left, top, setup.Sheet.width() - left - px(margins.right()),
                            setup.Sheet.height() - top - px(margins.bottom()));
    if (!setup.Layout.isValid() || setup.Printable.width() < 1 || setup.Printable.height() < 1)
        throw std::runtime_error("The paper " + m.Name + " of \"" + FNames[FCurrent] + "\" has no printable area");
    return setup;
}

std::string TCupsPrinterLayer::PaperProblem() const
{
    std::string problem;
    try {
        problem = CurrentSetup().Problem;
        // A tray the driver has nothing for (the printer then takes the
        // paper from where it likes). Automatic choice needs no tray.
        const TDescription& d = Description();
        // Said once for each printer and tray in a run, not with every job.
        const std::string told = FNames[FCurrent] + "\n" + std::to_string(FSource);
        if (FSource > 0 && FSource != 7 /* auto */ && FSource != 15 /* form source */ && d.FromDriver &&
            SlotFor(FSource, d.InputSlots).empty() && FTrayTold.insert(told).second) {
            std::string trays;
            for (const std::string& s : d.InputSlots)
                trays += (trays.empty() ? "" : ", ") + s;
            const std::string tray = "The report asks for " + TrayText(FSource) + ", which the printer \"" +
                                     FNames[FCurrent] + "\" does not have";
            problem += (problem.empty() ? "" : "\r\n") + tray +
                       (trays.empty() ? std::string(": it has no trays to choose from.")
                                      : " (its trays: " + trays + "): the printer chooses the tray.");
        }
    } catch (const std::exception&) {
    }
    return problem;
}

int TCupsPrinterLayer::GetDeviceCaps(int Index) const
{
    const TPageSetup s = CurrentSetup();
    const QRect& paint = s.Printable;
    const QRect& full = s.Sheet;
    switch (Index) {
    case LOGPIXELSX:
    case LOGPIXELSY: return s.Dpi;
    case PHYSICALOFFSETX: return paint.left();
    case PHYSICALOFFSETY: return paint.top();
    case HORZRES: return paint.width();
    case VERTRES: return paint.height();
    case PHYSICALWIDTH: return full.width();
    case PHYSICALHEIGHT: return full.height();
    default: return 0;
    }
}

int TCupsPrinterLayer::PageWidth() const
{
    return CurrentSetup().Printable.width();
}

int TCupsPrinterLayer::PageHeight() const
{
    return CurrentSetup().Printable.height();
}

// ---------------------------------------------------------------------------
// The print job

bool TCupsPrinterLayer::Printing() const { return FPrinting; }

TDeviceContext* TCupsPrinterLayer::DeviceContext() { return FJob ? FJob->DC.get() : nullptr; }

void TCupsPrinterLayer::BeginDoc()
{
    EnsureList();
    if (FPrinting)
        throw std::runtime_error("Printing in progress");
    if (FCurrent < 0)
        throw std::runtime_error(NoDefaultPrinter);
    const TPageSetup setup = CurrentSetup();
    const TDescription& d = Description();
    const std::string queue = FNames[FCurrent];

    auto job = std::make_unique<TJob>();
    job->Queue = queue;
    job->Title = JobName(FTitle);
    job->File.setFileTemplate(QDir::tempPath() + "/quillard-print-XXXXXX.pdf");
    if (!job->File.open())
        throw std::runtime_error("Cannot create the print file in " + QDir::tempPath().toStdString() + ": " +
                                 job->File.errorString().toStdString());

    // The job's settings as the spooler knows them.
    cups_option_t* options = nullptr;
    int count = 0;
    count = cupsAddOption("media", setup.Media.Pwg.c_str(), count, &options);
    count = cupsAddOption("orientation-requested", FOrientation == 1 ? "4" : "3", count, &options);
    count = cupsAddOption("print-scaling", "none", count, &options);
    if (FSource > 0) {
        const std::string source = MediaSourceOf(FSource);
        if (!source.empty())
            count = cupsAddOption("media-source", source.c_str(), count, &options);
        const std::string slot = SlotFor(FSource, d.InputSlots);
        if (!slot.empty())
            count = cupsAddOption("InputSlot", slot.c_str(), count, &options);
    }
    if (FCopies > 1)
        count = cupsAddOption("copies", std::to_string(FCopies).c_str(), count, &options);
    // Grey when the report asks for it; colour where the device has it (a
    // queue whose own default is grey would print a colour report grey).
    if (FMonochrome)
        count = cupsAddOption("print-color-mode", "monochrome", count, &options);
    else if (d.Colour)
        count = cupsAddOption("print-color-mode", "color", count, &options);
    for (const auto& [name, value] : FDialogOptions)
        count = cupsAddOption(name.c_str(), value.c_str(), count, &options);
    for (const auto& [name, value] : FJobOptions)
        count = cupsAddOption(name.c_str(), value.c_str(), count, &options);

    {
        THttp http = Connect();
        if (!http) {
            cupsFreeOptions(count, options);
            throw std::runtime_error(SpoolerUnreachable());
        }
        job->Id = cupsCreateJob(http.get(), queue.c_str(), job->Title.c_str(), count, options);
        cupsFreeOptions(count, options);
        if (job->Id <= 0)
            throw std::runtime_error("The printer \"" + queue + "\" did not take the job: " + LastCupsError());
    }

    auto cancel = [&] {
        if (THttp http = Connect())
            cupsCancelJob2(http.get(), queue.c_str(), job->Id, 0);
    };
    job->Writer = std::make_unique<QPdfWriter>(&job->File);
    job->Writer->setResolution(setup.Dpi);
    job->Writer->setCreator(QStringLiteral("Quillard " QUILLARD_VERSION));
    job->Writer->setTitle(QString::fromUtf8(job->Title.c_str()));
    if (!job->Writer->setPageLayout(setup.Layout)) {
        cancel();
        throw std::runtime_error("The page layout of \"" + queue + "\" cannot be used");
    }
    job->DC = std::make_unique<TDeviceContext>(job->Writer.get(), setup.Dpi, setup.Dpi, setup.Printable.left(),
                                               setup.Printable.top());
    if (!job->DC->Painter().isActive()) {
        cancel();
        throw std::runtime_error("The print document for \"" + queue + "\" cannot be started");
    }
    FJob = std::move(job);
    FPrinting = true;
}

void TCupsPrinterLayer::NewPage()
{
    if (!FPrinting || !FJob)
        throw std::runtime_error("Printing not in progress");
    if (!FJob->Writer->newPage())
        throw std::runtime_error("The printer could not start a new page");
}

void TCupsPrinterLayer::EndDoc()
{
    if (!FPrinting || !FJob)
        throw std::runtime_error("Printing not in progress");
    FPrinting = false;
    FJobNotice.clear();
    TJob& job = *FJob;
    job.DC->End();
    job.Writer.reset();  // the device context draws no more

    std::string error;
    if (THttp http = Connect()) {
        job.File.flush();
        job.File.seek(0);
        http_status_t status = cupsStartDocument(http.get(), job.Queue.c_str(), job.Id, job.Title.c_str(), CUPS_FORMAT_PDF, 1);
        if (status == HTTP_STATUS_CONTINUE) {
            char block[65536];
            qint64 n;
            while (status == HTTP_STATUS_CONTINUE && (n = job.File.read(block, sizeof block)) > 0)
                status = cupsWriteRequestData(http.get(), block, static_cast<size_t>(n));
            const ipp_status_t finished = cupsFinishDocument(http.get(), job.Queue.c_str());
            if (status != HTTP_STATUS_CONTINUE || finished > IPP_STATUS_OK_CONFLICTING)
                error = LastCupsError();
        } else {
            error = LastCupsError();
        }
        if (!error.empty()) {
            cupsCancelJob2(http.get(), job.Queue.c_str(), job.Id, 0);
        } else {
            // A stopped queue takes jobs and keeps them: the user waits for
            // paper that does not come unless told.
            ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
            char uri[1024];
            httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                             "/printers/%s", job.Queue.c_str());
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
            static const char* const wanted[] = {"printer-state", "printer-state-message"};
            ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, wanted);
            TIpp response(cupsDoRequest(http.get(), request, "/"));
            ipp_attribute_t* state = response ? ippFindAttribute(response.get(), "printer-state", IPP_TAG_ENUM) : nullptr;
            if (state && ippGetInteger(state, 0) == IPP_PSTATE_STOPPED) {
                FJobNotice = "The printer \"" + job.Queue +
                             "\" is stopped: the document waits in its queue until the printer is started again.";
                ipp_attribute_t* why = ippFindAttribute(response.get(), "printer-state-message", IPP_TAG_TEXT);
                if (why && ippGetString(why, 0, nullptr) && *ippGetString(why, 0, nullptr))
                    FJobNotice += std::string("\r\n(") + ippGetString(why, 0, nullptr) + ")";
            }
        }
    } else {
        error = SpoolerUnreachable();
    }
    job.File.remove();
    if (!error.empty())
        throw std::runtime_error("The document could not be handed to the printer \"" + job.Queue + "\": " + error);
    FSubmitted.push_back(job.Queue + "-" + std::to_string(job.Id));
}

std::string TCupsPrinterLayer::WaitForJob(const std::string& Job, std::chrono::steady_clock::time_point Deadline,
                                          int Seconds) const
{
    const size_t dash = Job.rfind('-');
    const int id = dash == std::string::npos ? 0 : std::atoi(Job.c_str() + dash + 1);
    if (id <= 0)
        return "is not a job of the spooler";
    const auto deadline = Deadline;
    // One connection for all the questions.
    THttp http = Connect();
    if (!http)
        return "cannot be followed: " + SpoolerUnreachable();
    for (;;) {
        ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
        char uri[256];
        httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(), "/jobs/%d", id);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
        static const char* const wanted[] = {"job-state", "job-state-reasons", "job-printer-state-message"};
        ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, wanted);
        TIpp response(cupsDoRequest(http.get(), request, "/"));
        if (!response || ippGetStatusCode(response.get()) > IPP_STATUS_OK_CONFLICTING)
            return "cannot be followed: " + LastCupsError();
        ipp_attribute_t* stateAttribute = ippFindAttribute(response.get(), "job-state", IPP_TAG_ENUM);
        const int state = stateAttribute ? ippGetInteger(stateAttribute, 0) : 0;
        std::string reasons;
        if (ipp_attribute_t* r = ippFindAttribute(response.get(), "job-state-reasons", IPP_TAG_KEYWORD))
            for (int i = 0; i < ippGetCount(r); ++i)
                if (const char* k = ippGetString(r, i, nullptr); k && std::strcmp(k, "none") != 0)
                    reasons += (reasons.empty() ? "" : ", ") + std::string(k);
        if (ipp_attribute_t* m = ippFindAttribute(response.get(), "job-printer-state-message", IPP_TAG_TEXT))
            if (const char* text = ippGetString(m, 0, nullptr); text && *text)
                reasons += (reasons.empty() ? "" : ": ") + std::string(text);
        const std::string why = reasons.empty() ? std::string() : " (" + reasons + ")";
        switch (state) {
        case IPP_JSTATE_COMPLETED:
            return {};
        case IPP_JSTATE_CANCELED:
            return "was cancelled" + why;
        case IPP_JSTATE_ABORTED:
            return "was aborted" + why;
        case IPP_JSTATE_STOPPED:
            return "was stopped" + why;
        case IPP_JSTATE_HELD:
            return "is held in the queue" + why;
        default:
            break;
        }
        if (state == IPP_JSTATE_PENDING) {
            // A stopped printer keeps its jobs waiting for as long as it
            // stays stopped.
            ipp_t* ask = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
            char printer[1024];
            httpAssembleURIf(HTTP_URI_CODING_ALL, printer, sizeof printer, "ipp", nullptr, "localhost", ippPort(),
                             "/printers/%s", Job.substr(0, dash).c_str());
            ippAddString(ask, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printer);
            static const char* const about[] = {"printer-state", "printer-state-message"};
            ippAddStrings(ask, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, about);
            TIpp answer(cupsDoRequest(http.get(), ask, "/"));
            ipp_attribute_t* printerState =
                answer ? ippFindAttribute(answer.get(), "printer-state", IPP_TAG_ENUM) : nullptr;
            if (printerState && ippGetInteger(printerState, 0) == IPP_PSTATE_STOPPED) {
                std::string message;
                if (ipp_attribute_t* m = ippFindAttribute(answer.get(), "printer-state-message", IPP_TAG_TEXT))
                    if (const char* text = ippGetString(m, 0, nullptr); text && *text)
                        message = std::string(" (") + text + ")";
                return "waits in the queue: the printer \"" + Job.substr(0, dash) + "\" is stopped" + message;
            }
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return "did not end within " + std::to_string(Seconds) + " second" + (Seconds == 1 ? "" : "s") +
                   " (it is " + (state == IPP_JSTATE_PROCESSING ? "printing" : "waiting") + why +
                   "); it stays in the queue";
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

void TCupsPrinterLayer::Abort()
{
    if (!FPrinting || !FJob)
        return;
    FPrinting = false;
    FJob->DC->End();
    FJob->Writer.reset();
    FJob->File.remove();
    if (THttp http = Connect())
        cupsCancelJob2(http.get(), FJob->Queue.c_str(), FJob->Id, 0);
}

}  // namespace quillard

#pragma GCC diagnostic pop
