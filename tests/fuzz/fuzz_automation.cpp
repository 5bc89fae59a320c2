// The automation members with whatever a client could send them: each input
// is a series of calls on IQuillardX (property sets and reads, the methods)
// and on the document and span objects, with values of any type and length
// taken from the input, carried out as the bus object carries out a call
// whose turn has come (the refusals first), on a fresh main window of the
// program on the offscreen platform. Whatever the calls: no crash and no
// hang; once shown or placed by a client, the window's frame stays on the
// screen's working area, no smaller than a usable window after a client
// placed it; a refusal or a failure
// leaves its message in LastErrorMessage; and at the end no temporary report
// is left, nor is a picture deleted that a report handed over as text marked
// for deletion.
//
// Input, one call after another: a byte choosing the call, then what the
// call reads. A value is a type byte (32- or 64-bit integer, truth value,
// double, text, bytes) and its bytes; a text is a two-byte length and that
// many bytes, or (high bit of the length) a text of one character repeated
// to just under, at or just over one of the limits. File names within their
// limit are turned into names in the scratch folder, and addresses into one
// on 127.0.0.1 where nothing listens.
#include "tests/fuzz/fuzzutil.h"

#include "app/previewwindow.h"
#include "app/printoptionswindow.h"
#include "app/autoserver.h"
#include "app/automation.h"
#include "app/qtservices.h"
#include "engine/globals.h"

#include <QApplication>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QScreen>
#include <QUrl>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace quillard;

namespace {

[[noreturn]] void Fail(const char* What, const std::string& Detail = {})
{
    std::fprintf(stderr, "fuzz_automation: %s %s\n", What, Detail.c_str());
    std::abort();
}

// The input, read from the front; past its end everything reads as zero.
class TReader {
public:
    TReader(const uint8_t* Data, size_t Size) : FData(Data), FSize(Size) {}
    bool AtEnd() const { return FPos >= FSize; }
    uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
    uint32_t U32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= uint32_t(Byte()) << (8 * i);
        return v;
    }
    uint64_t U64() { return uint64_t(U32()) | (uint64_t(U32()) << 32); }
    std::string Bytes(size_t Count)
    {
        const size_t n = std::min(Count, FSize - std::min(FPos, FSize));
        std::string s(reinterpret_cast<const char*>(FData + FPos), n);
        FPos += n;
        return s;
    }

private:
    const uint8_t* FData;
    size_t FSize;
    size_t FPos = 0;
};

const size_t Limits[] = {MaxNameBytes, MaxTitleBytes, MaxFileNameBytes, MaxSpanTextBytes, MaxReportTextBytes};

// A text: its bytes as UTF-8 where they are that, else as Windows-1252.
QString ReadText(TReader& In, bool* Huge = nullptr)
{
    const uint16_t length = uint16_t(In.Byte() | (In.Byte() << 8));
    if (Huge)
        *Huge = length & 0x8000;
    if (length & 0x8000) {
        const size_t limit = Limits[(length & 0xff) % std::size(Limits)];
        const size_t size = limit - 1 + ((length >> 8) & 0x7f) % 3;
        const uint8_t c = In.Byte();
        return QString(qsizetype(size), QChar(c < 0x20 ? 'x' : c));
    }
    return FromBytes(In.Bytes(length));
}

// A value of any of the types a client can send.
QVariant ReadValue(TReader& In)
{
    switch (In.Byte() % 8) {
    case 0:
        return QVariant(int(In.U32()));
    case 1:
        return QVariant(bool(In.Byte() & 1));
    case 2:
    case 3:
        return QVariant(ReadText(In));
    case 4:
        return QVariant(qlonglong(In.U64()));
    case 5: {
        const uint64_t bits = In.U64();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return QVariant(d);
    }
    case 6:
        return QVariant(QByteArray::fromStdString(In.Bytes(In.Byte())));
    default:
        return QVariant(uint(In.U32()));
    }
}

const char* const PropertyNames[] = {
    "NumberOfCopies", "PrinterName", "PrinterIndex", "PrintTitle", "Visible", "PrinterCount", "Pages",
    "CurrentPage", "Zoom", "Top", "Left", "Height", "Width", "VerticalScrollPosition", "HorizontalScrollPosition",
    "PrinterPageWidth", "PrinterPageHeight", "PrinterPageWidth_IN", "PrinterPageHeight_IN", "PrinterNonPrintableX",
    "PrinterNonPrintableY", "PrinterNonPrintableX_IN", "PrinterNonPrintableY_IN", "CloseAfterPrint", "PrintEnabled",
    "Version", "Document", "LastErrorMessage"};

bool IsGeometry(const QString& Name)
{
    return Name == QLatin1String("Top") || Name == QLatin1String("Left") || Name == QLatin1String("Width") ||
           Name == QLatin1String("Height");
}

QString Scratch;     // the scratch folder: reports, the picture, PDFs
QString TempFolder;  // TEMP: the program's temporary reports
std::vector<std::string> Reports;
std::string PictureReportFile;
QString Picture;

void MakeScratch()
{
    char pattern[] = "/tmp/quillard-fuzz-automation-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (!dir)
        Fail("no scratch folder");
    Scratch = QString::fromLocal8Bit(dir);
    TempFolder = Scratch + "/temp";
    QDir().mkpath(TempFolder);
    QDir().mkpath(Scratch + "/config");
    QDir().mkpath(Scratch + "/data");
    QDir().mkpath(Scratch + "/out");
    Picture = Scratch + "/PIC.BMP";
    std::atexit([] { QDir(Scratch).removeRecursively(); });
    Reports = {
        "Page 1 of the automated report\r\n\fPage 2 of the automated report\r\n\fPage 3\r\n",
        "{IMAGE SRC=\"" + Picture.toStdString() + "\" DELETE=YES}\r\nWith a picture\r\n",
        "{INIT VER=1}\r\n{FONT NAME=\"Courier New\" SIZE=12}One\fTwo\fThree\fFour",
        "",
    };
    for (size_t i = 0; i < Reports.size(); ++i) {
        const std::string path = Scratch.toStdString() + "/R" + std::to_string(i) + ".TXT";
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(Reports[i].data(), 1, Reports[i].size(), f) != Reports[i].size())
            Fail("cannot write", path);
        std::fclose(f);
        if (i == 1)
            PictureReportFile = path;
    }
}

// A file name for LoadFile or SaveAsPDF: over its limit as sent (it is
// refused), otherwise one in the scratch folder, a report of it, a web
// address where nothing listens, or nothing.
QString ReadFileName(TReader& In, bool& NamesPictureReport, const char* Suffix)
{
    const uint8_t kind = In.Byte();
    bool huge = false;
    const QString text = ReadText(In, &huge);
    if (huge || size_t(text.toUtf8().size()) > MaxFileNameBytes)
        return text;
    switch (kind % 6) {
    case 0:
    case 1: {
        const size_t index = In.Byte() % Reports.size();
        NamesPictureReport = NamesPictureReport || index == 1;
        return Scratch + "/R" + QString::number(index) + ".TXT";
    }
    case 2:
        return QStringLiteral("http://127.0.0.1:1/") + QString::fromLatin1(QUrl::toPercentEncoding(text.left(64)));
    case 3:
        return QString();
    case 4:
        return Scratch;  // a folder
    default: {
        QString name;
        for (QChar c : text.left(40))
            name += c.isLetterOrNumber() && c.unicode() < 0x80 ? c : QChar('_');
        return Scratch + "/out/F" + name + QLatin1String(Suffix);
    }
    }
}

QDBusMessage Method(const QString& Path, const QString& Interface, const QString& Member, const QVariantList& Args)
{
    QDBusMessage m = QDBusMessage::createMethodCall(QLatin1String(AutomationServiceName), Path, Interface, Member);
    m.setArguments(Args);
    return m;
}

const QString Properties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString QuillardX = QLatin1String(AutomationInterface);

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    MakeScratch();
    // The program's files stay in the scratch folder; no spooler, no proxy.
    setenv("TEMP", TempFolder.toLocal8Bit().constData(), 1);
    setenv("XDG_CONFIG_HOME", (Scratch + "/config").toLocal8Bit().constData(), 1);
    setenv("XDG_DATA_HOME", (Scratch + "/data").toLocal8Bit().constData(), 1);
    setenv("CUPS_SERVER", (Scratch + "/no-spooler").toLocal8Bit().constData(), 1);
    unsetenv("http_proxy");
    unsetenv("https_proxy");
    static int argc = 1;
    static char name[] = "quillard-fuzz";
    static char* argv[] = {name, nullptr};
    static auto* app = new QApplication(argc, argv);
    (void)app;
    InstallFontSubstitutions();
    Globals().PrinterWarningShown = true;
    TPrintOptionsWindow::NoPrinterWarningShown = true;
    SetUserServices(&fuzz::QuietServices());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    {
        QImage pic(8, 6, QImage::Format_RGB32);
        pic.fill(Qt::blue);
        if (!pic.save(Picture, "BMP"))
            Fail("cannot write the picture");
    }
    // Nothing of an earlier input carries over: the settings the window
    // wrote at its end, the program-wide values.
    QDir(Scratch + "/config").removeRecursively();
    Globals().LastErrorMessage.clear();
    Globals().ZoomLevel = 100;
    Globals().UseLineDrawFont = false;
    bool trustedPicture = false;  // a report file marking the picture was loaded
    TReader in(Data, Size);
    {
        TPreviewWindow w({"-AUTOMATION"});
        w.NobodyToAsk = true;
        w.OnTerminate = [](int) {};
        w.OpenWithDesktop = [](const std::string&) { return true; };
        TAutomationServerLayer& server = ServerLayerOf(w);
        const QRect area = w.screen() ? w.screen()->availableGeometry() : QRect();
        bool placed = false;
        for (int calls = 0; calls < 64 && !in.AtEnd() && !w.Session().Terminated(); ++calls) {
            const uint8_t op = in.Byte();
            QDBusMessage call;
            bool geometry = false;
            switch (op % 8) {
            case 0:
            case 1: {  // set a property, usually one that can be set
                const uint8_t which = in.Byte();
                const QString name = which < 224 ? QLatin1String(PropertyNames[which % std::size(PropertyNames)])
                                                 : ReadText(in);
                geometry = IsGeometry(name);
                call = Method(QLatin1String(AutomationObjectPath), Properties, QStringLiteral("Set"),
                              {QuillardX, name, QVariant::fromValue(QDBusVariant(ReadValue(in)))});
                break;
            }
            case 2: {  // read one, or all
                const uint8_t which = in.Byte();
                if (which >= 240)
                    call = Method(QLatin1String(AutomationObjectPath), Properties, QStringLiteral("GetAll"),
                                  {which & 1 ? ReadText(in) : QuillardX});
                else
                    call = Method(QLatin1String(AutomationObjectPath), Properties, QStringLiteral("Get"),
                                  {QuillardX, which < 224 ? QLatin1String(PropertyNames[which % std::size(PropertyNames)])
                                                          : ReadText(in)});
                break;
            }
            case 3:
            case 4: {  // a method
                const uint8_t which = in.Byte();
                const bool wrongType = which >= 240;
                switch (which % 7) {
                case 0: {
                    const uint8_t r = in.Byte();
                    const QString report = r & 0x80 ? ReadText(in) : FromBytes(Reports[r % Reports.size()]);
                    call = Method(QLatin1String(AutomationObjectPath), QuillardX, QStringLiteral("LoadReport"),
                                  {wrongType ? ReadValue(in) : QVariant(report)});
                    break;
                }
                case 1:
                    call = Method(QLatin1String(AutomationObjectPath), QuillardX, QStringLiteral("LoadFile"),
                                  {wrongType ? ReadValue(in) : QVariant(ReadFileName(in, trustedPicture, ".TXT"))});
                    break;
                case 2: {
                    bool unused = false;
                    call = Method(QLatin1String(AutomationObjectPath), QuillardX, QStringLiteral("SaveAsPDF"),
                                  {wrongType ? ReadValue(in) : QVariant(ReadFileName(in, unused, ".PDF"))});
                    break;
                }
                case 3:
                    call = Method(QLatin1String(AutomationObjectPath), QuillardX, QStringLiteral("Print"), {});
                    break;
                case 4:
                    call = Method(QLatin1String(AutomationObjectPath), QuillardX, QStringLiteral("Printers"),
                                  {wrongType ? ReadValue(in) : QVariant(int(in.U32()))});
                    break;
                case 5: {  // a report read from a descriptor
                    const uint8_t r = in.Byte();
                    const QByteArray report = r & 0x80 ? ReadText(in).toUtf8()
                                                       : QByteArray::fromStdString(Reports[r % Reports.size()]);
                    QVariant fdArgument;
                    const int fd = ::memfd_create("fuzz-report", MFD_CLOEXEC);
                    if (fd >= 0) {
                        if (::write(fd, report.constData(), size_t(report.size())) == report.size())
                            fdArgument = QVariant::fromValue(QDBusUnixFileDescriptor(fd));
                        ::close(fd);
                    }
                    call = Method(QLatin1String(AutomationObjectPath), QuillardX, QStringLiteral("LoadReportFd"),
                                  {wrongType || !fdArgument.isValid() ? ReadValue(in) : fdArgument});
                    break;
                }
                default:
                    call = Method(QLatin1String(AutomationObjectPath), QuillardX, QStringLiteral("Close"), {});
                    break;
                }
                break;
            }
            case 5: {  // the document and its spans
                const int index = int(in.U32());
                const QString span = QStringLiteral("/QuillardX/Document/Span/") +
                                     (index < 0 ? QStringLiteral("m") + QString::number(-qlonglong(index))
                                                : QString::number(index));
                const QString spanInterface = QLatin1String(SpanInterface);
                switch (in.Byte() % 3) {
                case 0:
                    call = Method(QStringLiteral("/QuillardX/Document"), QLatin1String(DocumentInterface),
                                  QStringLiteral("Span"), {index});
                    break;
                case 1:
                    call = Method(span, Properties, QStringLiteral("Get"), {spanInterface, QStringLiteral("Text")});
                    break;
                default:
                    call = Method(span, Properties, QStringLiteral("Set"),
                                  {spanInterface, QStringLiteral("Text"), QVariant::fromValue(QDBusVariant(ReadValue(in)))});
                    break;
                }
                break;
            }
            case 6:  // a call of any name on any of the objects
                call = Method(in.Byte() & 1 ? QStringLiteral("/QuillardX/Document") : QLatin1String(AutomationObjectPath),
                              in.Byte() & 1 ? QuillardX : Properties, ReadText(in).left(255), {ReadValue(in)});
                break;
            default:  // the program's own events run
                QCoreApplication::processEvents();
                continue;
            }
            if (call.member().isEmpty())
                continue;  // not a call a bus would carry
            const QDBusMessage reply = server.Answer(&w, call);
            QCoreApplication::processEvents();
            if (reply.type() == QDBusMessage::ErrorMessage &&
                (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.LimitsExceeded") ||
                 reply.errorName() == QLatin1String(AutomationErrorName))) {
                const std::string& last = Globals().LastErrorMessage;
                if (last.empty() || MessageText(last) != reply.errorMessage())
                    Fail("a refusal without its LastErrorMessage:", reply.errorMessage().toStdString() + " / " + last);
            }
            placed = placed || (geometry && reply.type() == QDBusMessage::ReplyMessage);
            // (Until it first shows or a client places it, the window is
            // tiny and out of sight on purpose.)
            const QRect frame = w.frameGeometry();
            if ((placed || w.isVisible()) && area.isValid() && !area.contains(frame))
                Fail("the window left the screen:", std::to_string(frame.x()) + "," + std::to_string(frame.y()) + " " +
                                                        std::to_string(frame.width()) + "x" +
                                                        std::to_string(frame.height()));
            if (placed && area.isValid() &&
                (frame.width() < std::min(MinWindowWidth, area.width()) ||
                 frame.height() < std::min(MinWindowHeight, area.height())))
                Fail("the window was made too small:",
                     std::to_string(frame.width()) + "x" + std::to_string(frame.height()));
        }
    }
    QCoreApplication::processEvents();
    // The program's end takes its temporary reports; the picture of a report
    // handed over as text stays.
    const QStringList left = QDir(TempFolder).entryList(QDir::Files | QDir::System);
    if (!left.isEmpty())
        Fail("a temporary file was left:", left.join(' ').toStdString());
    if (!trustedPicture && !QFile::exists(Picture))
        Fail("a picture of an untrusted report was deleted");
    QDir(Scratch + "/out").removeRecursively();
    QDir().mkpath(Scratch + "/out");
    return 0;
}
