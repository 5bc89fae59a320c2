#include "app/autoserver.h"

#include "app/addtextwindow.h"
#include "app/previewwindow.h"
#include "app/automation.h"
#include "app/webclient.h"
#include "app/qtservices.h"
#include "base/strings.h"
#include "engine/globals.h"
#include "engine/renderer.h"
#include "engine/services.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusSignature>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <QDBusReply>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dlfcn.h>
#include <unistd.h>
#include <vector>

namespace quillard {

// ---------------------------------------------------------------------------
// The members as the bus sees them

namespace {

const QString IntrospectableInterface = QStringLiteral("org.freedesktop.DBus.Introspectable");
const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString DocumentPath = QStringLiteral("/QuillardX/Document");
const QString SpanPathPrefix = QStringLiteral("/QuillardX/Document/Span/");

using TGetter = QVariant (*)(TAutomationCommands&);
using TSetter = void (*)(TAutomationCommands&, const QVariant&);

struct TProperty {
    const char* Name;
    const char* Signature;  // "i", "s", "b", "d" or "o"
    TGetter Get;
    TSetter Set;  // nullptr: read only
};

// Report texts are Windows-1252 bytes, file names the system's UTF-8; the
// bus carries Unicode.
QString Text(const std::string& Bytes) { return FromBytes(Bytes); }
std::string Bytes(const QVariant& V) { return V.toString().toUtf8().toStdString(); }
int Int(const QVariant& V)
{
    const long long v = V.toLongLong();
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

#define QX_INT(Name)                                                                  \
    {#Name, "i", [](TAutomationCommands& X) { return QVariant(X.Name()); },                   \
     [](TAutomationCommands& X, const QVariant& V) { X.Set##Name(Int(V)); }}
#define QX_INT_RO(Name) {#Name, "i", [](TAutomationCommands& X) { return QVariant(X.Name()); }, nullptr}
#define QX_DOUBLE_RO(Name) {#Name, "d", [](TAutomationCommands& X) { return QVariant(X.Name()); }, nullptr}
#define QX_BOOL(Name)                                                                 \
    {#Name, "b", [](TAutomationCommands& X) { return QVariant(X.Name()); },                   \
     [](TAutomationCommands& X, const QVariant& V) { X.Set##Name(V.toBool()); }}

const TProperty Properties[] = {
    QX_INT(NumberOfCopies),
    {"PrinterName", "s", [](TAutomationCommands& X) { return QVariant(Text(X.PrinterName())); }, nullptr},
    QX_INT(PrinterIndex),
    {"PrintTitle", "s", [](TAutomationCommands& X) { return QVariant(Text(X.PrintTitle())); },
     [](TAutomationCommands& X, const QVariant& V) { X.SetPrintTitle(Bytes(V)); }},
    QX_BOOL(Visible),
    QX_INT_RO(PrinterCount),
    QX_INT_RO(Pages),
    QX_INT(CurrentPage),
    QX_INT(Zoom),
    QX_INT(Top),
    QX_INT(Left),
    QX_INT(Height),
    QX_INT(Width),
    QX_INT(VerticalScrollPosition),
    QX_INT(HorizontalScrollPosition),
    QX_INT_RO(PrinterPageWidth),
    QX_INT_RO(PrinterPageHeight),
    QX_DOUBLE_RO(PrinterPageWidth_IN),
    QX_DOUBLE_RO(PrinterPageHeight_IN),
    QX_INT_RO(PrinterNonPrintableX),
    QX_INT_RO(PrinterNonPrintableY),
    QX_DOUBLE_RO(PrinterNonPrintableX_IN),
    QX_DOUBLE_RO(PrinterNonPrintableY_IN),
    QX_BOOL(CloseAfterPrint),
    QX_BOOL(PrintEnabled),
    {"Version", "s", [](TAutomationCommands& X) { return QVariant(Text(X.Version())); }, nullptr},
    {"Document", "o", [](TAutomationCommands&) { return QVariant::fromValue(QDBusObjectPath(DocumentPath)); }, nullptr},
    // Writing is accepted and changes nothing.
    {"LastErrorMessage", "s", [](TAutomationCommands& X) { return QVariant(Text(X.LastErrorMessage())); },
     [](TAutomationCommands&, const QVariant&) {}},
    {"LastErrorName", "s", [](TAutomationCommands& X) { return QVariant(QString::fromStdString(X.LastErrorName())); },
     nullptr},
};

#undef QX_INT
#undef QX_INT_RO
#undef QX_DOUBLE_RO
#undef QX_BOOL

struct TMethod {
    const char* Name;
    const char* In;   // argument signature
    const char* Out;  // result signature, "" for none
    const char* ArgName;
};

const TMethod Methods[] = {
    {"Print", "", "", nullptr},
    {"Printers", "i", "s", "nIndex"},
    {"Close", "", "", nullptr},
    {"LoadFile", "s", "i", "cFileName"},
    {"LoadReport", "s", "i", "TextReport"},
    {"LoadReportBytes", "ay", "i", "ReportBytes"},
    {"LoadReportFd", "h", "i", "ReportFd"},
    {"SaveAsPDF", "s", "i", "TextReport"},
};

const TProperty* FindProperty(const QString& Name)
{
    for (const TProperty& p : Properties)
        if (Name == QLatin1String(p.Name))
            return &p;
    return nullptr;
}

// Whether V can be a value of the D-Bus type Signature.
bool Fits(const QVariant& V, const char* Signature)
{
    const int t = V.metaType().id();
    switch (Signature[0]) {
    case 'i':
        return t == QMetaType::Int || t == QMetaType::UInt || t == QMetaType::LongLong || t == QMetaType::ULongLong ||
               t == QMetaType::Short || t == QMetaType::UShort || t == QMetaType::UChar;
    case 'b':
        return t == QMetaType::Bool;
    case 's':
        return t == QMetaType::QString;
    default:
        return false;
    }
}

const char* SpanPathNote = "Span objects are /QuillardX/Document/Span/N, with mN for a negative index";

// The path of the span object with Index, and back.
QString SpanPath(int Index)
{
    return SpanPathPrefix + (Index < 0 ? QStringLiteral("m") + QString::number(-static_cast<long long>(Index))
                                       : QString::number(Index));
}

bool SpanIndex(const QString& Path, int& Index)
{
    if (!Path.startsWith(SpanPathPrefix))
        return false;
    QString rest = Path.mid(SpanPathPrefix.size());
    bool negative = false;
    if (rest.startsWith(QLatin1Char('m'))) {
        negative = true;
        rest = rest.mid(1);
    }
    if (rest.isEmpty() || rest.size() > 10)
        return false;
    for (QChar c : rest)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    const long long v = (negative ? -1 : 1) * rest.toLongLong();
    if (v < INT_MIN || v > INT_MAX || (negative && v == 0))
        return false;
    Index = static_cast<int>(v);
    return true;
}

QString XmlEscape(const char* Text) { return QString::fromUtf8(Text).toHtmlEscaped(); }

QString ChangedAnnotation()
{
    return QStringLiteral(
        "    <annotation name=\"org.freedesktop.DBus.Property.EmitsChangedSignal\" value=\"false\"/>\n");
}

}  // namespace

// The description of one of the three interfaces, as an <interface> element.
QString AutomationInterfaceXml(const char* Interface)
{
    QString x = QStringLiteral("  <interface name=\"%1\">\n").arg(QLatin1String(Interface));
    if (std::strcmp(Interface, AutomationInterface) == 0) {
        x += QStringLiteral("    <annotation name=\"com.merrowgate.Quillard.TypeLibrary\" value=\"Quillard\"/>\n"
                            "    <annotation name=\"com.merrowgate.Quillard.Description\" "
                            "value=\"Quillard Print Preview Automation Server\"/>\n");
        x += ChangedAnnotation();
        for (const TMethod& m : Methods) {
            x += QStringLiteral("    <method name=\"%1\">\n").arg(QLatin1String(m.Name));
            if (*m.In)
                x += QStringLiteral("      <arg name=\"%1\" type=\"%2\" direction=\"in\"/>\n")
                         .arg(QLatin1String(m.ArgName), QLatin1String(m.In));
            if (*m.Out)
                x += QStringLiteral("      <arg name=\"Result\" type=\"%1\" direction=\"out\"/>\n")
                         .arg(QLatin1String(m.Out));
            x += QStringLiteral("    </method>\n");
        }
        x += QStringLiteral("    <signal name=\"LoadFinished\"><arg name=\"ok\" type=\"b\"/>"
                            "<arg name=\"message\" type=\"s\"/></signal>\n"
                            "    <signal name=\"Progress\"><arg name=\"done\" type=\"i\"/>"
                            "<arg name=\"total\" type=\"i\"/></signal>\n"
                            "    <signal name=\"JobFinished\"><arg name=\"ok\" type=\"b\"/>"
                            "<arg name=\"message\" type=\"s\"/></signal>\n");
        for (const TProperty& p : Properties)
            x += QStringLiteral("    <property name=\"%1\" type=\"%2\" access=\"%3\"/>\n")
                     .arg(QLatin1String(p.Name), QLatin1String(p.Signature),
                          QLatin1String(p.Set ? "readwrite" : "read"));
    } else if (std::strcmp(Interface, DocumentInterface) == 0) {
        x += QStringLiteral("    <method name=\"Span\">\n"
                            "      <arg name=\"index\" type=\"i\" direction=\"in\"/>\n"
                            "      <arg name=\"Result\" type=\"o\" direction=\"out\"/>\n"
                            "      <annotation name=\"com.merrowgate.Quillard.Note\" value=\"%1\"/>\n"
                            "    </method>\n")
                 .arg(XmlEscape(SpanPathNote));
    } else {
        x += ChangedAnnotation();
        x += QStringLiteral("    <property name=\"Text\" type=\"s\" access=\"readwrite\"/>\n");
    }
    x += QStringLiteral("  </interface>\n");
    return x;
}

namespace {

QString StandardInterfacesXml()
{
    return QStringLiteral(
        "  <interface name=\"org.freedesktop.DBus.Introspectable\">\n"
        "    <method name=\"Introspect\"><arg name=\"xml_data\" type=\"s\" direction=\"out\"/></method>\n"
        "  </interface>\n"
        "  <interface name=\"org.freedesktop.DBus.Properties\">\n"
        "    <method name=\"Get\"><arg name=\"interface_name\" type=\"s\" direction=\"in\"/>"
        "<arg name=\"property_name\" type=\"s\" direction=\"in\"/><arg name=\"value\" type=\"v\" direction=\"out\"/>"
        "</method>\n"
        "    <method name=\"Set\"><arg name=\"interface_name\" type=\"s\" direction=\"in\"/>"
        "<arg name=\"property_name\" type=\"s\" direction=\"in\"/><arg name=\"value\" type=\"v\" direction=\"in\"/>"
        "</method>\n"
        "    <method name=\"GetAll\"><arg name=\"interface_name\" type=\"s\" direction=\"in\"/>"
        "<arg name=\"values\" type=\"a{sv}\" direction=\"out\"/></method>\n"
        "    <signal name=\"PropertiesChanged\"><arg name=\"interface_name\" type=\"s\"/>"
        "<arg name=\"changed_properties\" type=\"a{sv}\"/><arg name=\"invalidated_properties\" type=\"as\"/>"
        "</signal>\n"
        "  </interface>\n"
        "  <interface name=\"org.freedesktop.DBus.Peer\">\n"
        "    <method name=\"Ping\"/>\n"
        "    <method name=\"GetMachineId\"><arg name=\"machine_uuid\" type=\"s\" direction=\"out\"/></method>\n"
        "  </interface>\n");
}

}  // namespace

// ---------------------------------------------------------------------------
// What a call may bring

namespace {

// How many bytes Text takes in UTF-8, as the bus carries it.
size_t Utf8Size(const QString& Text)
{
    size_t n = 0;
    const qsizetype size = Text.size();
    const QChar* c = Text.constData();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t u = c[i].unicode();
        if (u < 0x80) {
            n += 1;
        } else if (u < 0x800) {
            n += 2;
        } else if (QChar::isHighSurrogate(u) && i + 1 < size && QChar::isLowSurrogate(c[i + 1].unicode())) {
            n += 4;
            ++i;
        } else {
            n += 3;
        }
    }
    return n;
}

// The most a text argument of a call may hold, and its name in a refusal.
struct TTextLimit {
    size_t Bytes;
    std::string What;
};

TTextLimit LimitOf(const QDBusMessage& M, const QList<QVariant>& Args, int Index)
{
    const QString member = M.member();
    if (M.interface() == PropertiesInterface) {
        if (member == QLatin1String("Set") && Index == 2) {
            // The property's name came before and is short.
            const QString name = Args.value(1).toString();
            if (M.path().startsWith(SpanPathPrefix))
                return {MaxSpanTextBytes, "The span's Text"};
            if (name == QLatin1String("PrintTitle") || name == QLatin1String("LastErrorMessage"))
                return {MaxTitleBytes, name.toStdString()};
            return {MaxNameBytes, "The value for " + name.toStdString()};
        }
        return {MaxNameBytes, Index == 0 ? "The interface name" : "The property name"};
    }
    if (member == QLatin1String("LoadReport"))
        return {MaxReportTextBytes, "LoadReport's report text"};
    if (member == QLatin1String("LoadReportBytes"))
        return {MaxReportTextBytes, "LoadReportBytes's report"};
    if (member == QLatin1String("LoadFile"))
        return {MaxFileNameBytes, "LoadFile's file name"};
    if (member == QLatin1String("SaveAsPDF"))
        return {MaxFileNameBytes, "SaveAsPDF's file name"};
    // (Member names are at most 255 bytes on the bus.)
    return {MaxNameBytes, "An argument of " + member.toStdString()};
}

bool IsNumberOrTruth(const QMetaType& Type)
{
    switch (Type.id()) {
    case QMetaType::Bool:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

// What no member takes is refused at once, before the call waits its turn:
// an argument that is not a text, a number or a truth value, and a text
// over its limit (LastErrorMessage then says which). The refusal, or an
// invalid message when the call may go on; TextBytes is what its texts
// hold.
QDBusMessage Refusal(const QDBusMessage& M, size_t& TextBytes)
{
    TextBytes = 0;
    const QList<QVariant> args = M.arguments();
    for (int i = 0; i < args.size(); ++i) {
        QVariant a = args[i];
        if (a.metaType() == QMetaType::fromType<QDBusVariant>())
            a = qvariant_cast<QDBusVariant>(a).variant();
        const QMetaType type = a.metaType();
        size_t size = 0;
        if (type == QMetaType::fromType<QString>())
            size = Utf8Size(a.toString());
        else if (type == QMetaType::fromType<QDBusObjectPath>())
            size = Utf8Size(qvariant_cast<QDBusObjectPath>(a).path());
        else if (type == QMetaType::fromType<QDBusSignature>())
            size = Utf8Size(qvariant_cast<QDBusSignature>(a).signature());
        else if (type == QMetaType::fromType<QByteArray>() && M.member() == QLatin1String("LoadReportBytes"))
            size = size_t(a.toByteArray().size());
        else if (type == QMetaType::fromType<QDBusUnixFileDescriptor>() && M.member() == QLatin1String("LoadReportFd"))
            continue;
        else if (IsNumberOrTruth(type))
            continue;
        else
            return M.createErrorReply(QDBusError::InvalidArgs,
                                      QStringLiteral("Quillard's members take only texts, numbers and truth values "
                                                     "(and LoadReportFd a file descriptor)"));
        TextBytes += size;
        const TTextLimit limit = LimitOf(M, args, i);
        if (size > limit.Bytes) {
            Globals().LastErrorMessage = OverLimitMessage(limit.What, size, limit.Bytes);
            return M.createErrorReply(QDBusError::LimitsExceeded, MessageText(Globals().LastErrorMessage));
        }
    }
    return {};
}

// Calls that only read, answered even while the window is busy.
bool IsRead(const QDBusMessage& M)
{
    const QString member = M.member();
    if (M.interface() == PropertiesInterface)
        return member == QLatin1String("Get") || member == QLatin1String("GetAll");
    return member == QLatin1String("Printers") || member == QLatin1String("Span");
}

bool IsClose(const QDBusMessage& M)
{
    return M.path() == QLatin1String(AutomationObjectPath) && M.member() == QLatin1String("Close") &&
           (M.interface().isEmpty() || M.interface() == QLatin1String(AutomationInterface));
}

// How often a client hears how far the work of a call has come.
constexpr int ProgressEveryMs = 250;

// The message services while a client's call is carried out. Nobody is at
// the window for the call: a message is not shown but written to stderr,
// and the messages of the call become LastErrorMessage, one a line; a
// question takes its default answer. The pump and the beep are the
// program's.
class TClientCallServices : public IUserServices {
public:
    TClientCallServices() : FProgram(UserServices()) { SetUserServices(this); }
    ~TClientCallServices() override { SetUserServices(&FProgram); }
    TClientCallServices(const TClientCallServices&) = delete;
    TClientCallServices& operator=(const TClientCallServices&) = delete;

    TMsgResult MessageBox(const std::string& Text, const std::string& Caption, TMsgButtons Buttons) override
    {
        const std::string line = Caption.empty() ? Text : Caption + ": " + Text;
        std::string& last = Globals().LastErrorMessage;
        if (FMessages++ == 0)
            last = line;
        else if (last.size() < MaxMessagesBytes)
            last += "\r\n" + line;
        if (last.size() > MaxMessagesBytes)
            last.resize(MaxMessagesBytes);
        THeadlessServices headless;
        return headless.MessageBox(Text, Caption, Buttons);
    }
    void ProcessMessages() override { FProgram.ProcessMessages(); }
    void Beep() override {}

private:
    static constexpr size_t MaxMessagesBytes = 16384;
    IUserServices& FProgram;
    int FMessages = 0;
};

// At most this many calls wait their turn, holding at most this much text.
constexpr size_t MaxWaitingCalls = 256;
constexpr size_t MaxWaitingTextBytes = 64 * 1024 * 1024;

}  // namespace

// ---------------------------------------------------------------------------
// The object on the bus

// Serves /QuillardX and the document and span objects below it. Calls are
// carried out one at a time from the message loop, in the order they came,
// never while the window is in the middle of a page pass, a print or a PDF
// job, nor while another call is carried out (a member that lets messages
// run would otherwise be entered again): such calls wait their turn. Calls
// that only read are answered at once all the same (after any earlier call
// of the same client). While a report is fetched from a web server or read
// from a client's file descriptor, which can take minutes, a call that
// would wait is refused as busy instead. A Close that would wait is
// answered at once: a transfer under way stops, and the window closes when
// the call's turn comes.
//
// Signals tell every client how the work goes: LoadFinished(ok, message)
// when the window has loaded a report (or failed to), Progress(done, total)
// while a call's work runs, JobFinished(ok, message) when a client's Print
// or SaveAsPDF has ended.
class TAutomationObject : public QDBusVirtualObject {
public:
    TAutomationObject(TAutomationServerLayer* Layer, TPreviewWindow* Window) : FLayer(Layer), FWindow(Window)
    {
        FPump.setSingleShot(true);
        QObject::connect(&FPump, &QTimer::timeout, this, [this] { Pump(); });
        QObject::connect(&FProgressTick, &QTimer::timeout, this, [this] { TellProgress(); });
    }

    // The connection the signals go out on.
    void SetSignalConnection(const QDBusConnection& Connection) { FSignals = Connection; }

    void LoadEnded(bool Loaded)
    {
        Emit("LoadFinished", {Loaded, Loaded ? QString() : FailureText("The report was not loaded")});
    }

    QString introspect(const QString& Path) const override
    {
        if (Path == QLatin1String(AutomationObjectPath))
            return AutomationInterfaceXml(AutomationInterface) + QStringLiteral("  <node name=\"Document\"/>\n");
        if (Path == DocumentPath)
            return AutomationInterfaceXml(DocumentInterface) + QStringLiteral("  <node name=\"Span\"/>\n");
        int index = 0;
        if (SpanIndex(Path, index))
            return AutomationInterfaceXml(SpanInterface);
        return QString();
    }

    bool handleMessage(const QDBusMessage& Message, const QDBusConnection& Connection) override
    {
        if (Message.type() != QDBusMessage::MethodCallMessage)
            return false;
        if (Message.interface() == IntrospectableInterface && Message.member() == QLatin1String("Introspect")) {
            Connection.send(Message.createReply(Introspect(Message.path())));
            return true;
        }
        FLayer->NoteClient(Message.service());
        size_t bytes = 0;
        QDBusMessage refusal = Refusal(Message, bytes);
        if (refusal.type() == QDBusMessage::InvalidMessage &&
            (FQueue.size() >= MaxWaitingCalls || FWaitingTextBytes + bytes > MaxWaitingTextBytes))
            refusal = Message.createErrorReply(QLatin1String(AutomationBusyErrorName),
                                               QStringLiteral("Too many calls are waiting for Quillard: try again later"));
        if (refusal.type() != QDBusMessage::InvalidMessage) {
            if (Message.isReplyRequired())
                Connection.send(refusal);
            return true;
        }
        FQueue.push_back({Message, Connection, bytes, false, QElapsedTimer()});
        FQueue.back().Waiting.start();
        FWaitingTextBytes += bytes;
        FPump.start(0);
        return true;
    }

    bool Busy() const { return FServing || !FQueue.empty(); }

    // A Close answered before its turn is in the queue.
    bool CloseWaiting() const
    {
        return std::any_of(FQueue.begin(), FQueue.end(), [](const TCall& C) { return C.Answered; });
    }

    // Refuses or carries out Call at once, as if its turn had come.
    QDBusMessage AnswerNow(const QDBusMessage& Call)
    {
        size_t bytes = 0;
        const QDBusMessage refusal = Refusal(Call, bytes);
        if (refusal.type() != QDBusMessage::InvalidMessage)
            return refusal;
        const bool serving = FServing;
        FServing = true;
        QDBusMessage reply = Carry(Call);
        FServing = serving;
        return reply;
    }

private:
    struct TCall {
        QDBusMessage Message;
        QDBusConnection Connection;
        size_t TextBytes = 0;
        bool Answered = false;  // a Close answered before its turn
        QElapsedTimer Waiting;  // since it came
    };

    void Emit(const char* Name, const QVariantList& Args)
    {
        if (!FSignals.isConnected())
            return;
        QDBusMessage m = QDBusMessage::createSignal(QLatin1String(AutomationObjectPath),
                                                    QLatin1String(AutomationInterface), QLatin1String(Name));
        m.setArguments(Args);
        FSignals.send(m);
    }

    // LastErrorMessage, or Otherwise when it says nothing.
    static QString FailureText(const char* Otherwise)
    {
        return MessageText(Globals().LastErrorMessage.empty() ? std::string(Otherwise) : Globals().LastErrorMessage);
    }

    void TellProgress()
    {
        int done = 0, total = 0;
        if (!TAutomationCommands::ReceivedSoFar(done, total) && !FWindow->WorkUnderWay(done, total))
            return;
        if (done == FToldDone && total == FToldTotal)
            return;
        FToldDone = done;
        FToldTotal = total;
        Emit("Progress", {done, total});
    }

    QString Introspect(const QString& Path) const
    {
        QString body = introspect(Path);
        const bool known = !body.isEmpty() || Path == SpanPathPrefix.chopped(1);
        QString x = QStringLiteral(
            "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n<node>\n");
        if (known && Path != SpanPathPrefix.chopped(1))
            x += StandardInterfacesXml();
        x += body + QStringLiteral("</node>\n");
        return x;
    }

    bool Fetching() const { return FWindow->HttpClient && FWindow->HttpClient->Busy(); }
    // A report is on its way, which can take minutes.
    bool Transferring() const { return Fetching() || TAutomationCommands::ReceivingReport(); }

    bool WindowBusy() const
    {
        const tRenderer* r = FWindow->Session().Renderer();
        return (r && (r->Rendering || r->Printing || r->MakingPdf)) || Transferring();
    }

    TCall Take(size_t Index)
    {
        TCall call = std::move(FQueue[Index]);
        FQueue.erase(FQueue.begin() + static_cast<std::ptrdiff_t>(Index));
        FWaitingTextBytes -= call.TextBytes;
        return call;
    }

    static void Send(const TCall& Call, const QDBusMessage& Reply)
    {
        // A client that asked for no answer gets none, nor one answered before.
        if (Call.Message.isReplyRequired() && !Call.Answered)
            Call.Connection.send(Reply);
    }

    // Whether a call of the same client came before the call at Index.
    bool EarlierCallOfItsClient(size_t Index) const
    {
        const QString client = FQueue[Index].Message.service();
        for (size_t i = 0; i < Index; ++i)
            if (FQueue[i].Message.service() == client)
                return true;
        return false;
    }

    // Carries out one call (nobody is at the window for it: see
    // TClientCallServices) and gives its answer; a failure the member
    // throws is the answer's error and LastErrorMessage.
    QDBusMessage Carry(const QDBusMessage& M)
    {
        TClientCallServices services;
        struct TDepth {
            int& Depth;
            explicit TDepth(int& D) : Depth(D) { ++Depth; }
            ~TDepth() { --Depth; }
        } depth(FWindow->ClientCallDepth);
        // A call that does something starts without an error: afterwards
        // LastErrorMessage tells of it (a read leaves it as it is).
        const bool reads = M.interface() == QLatin1String("org.freedesktop.DBus.Introspectable") ||
                           M.interface() == QLatin1String("org.freedesktop.DBus.Peer") ||
                           (M.interface() == QLatin1String("org.freedesktop.DBus.Properties") &&
                            M.member() != QLatin1String("Set"));
        if (!reads) {
            Globals().LastErrorMessage.clear();
            Globals().LastFailure = TFailureKind::None;
        }
        // The outermost call that does something tells how its work goes.
        struct TProgress {
            TAutomationObject& O;
            bool Tells;
            TProgress(TAutomationObject& Object, bool Tell) : O(Object), Tells(Tell && !Object.FProgressTick.isActive())
            {
                if (!Tells)
                    return;
                O.FToldDone = O.FToldTotal = -1;
                O.FProgressTick.start(ProgressEveryMs);
            }
            ~TProgress()
            {
                if (Tells)
                    O.FProgressTick.stop();
            }
        } progress(*this, !reads);
        const bool job = M.path() == QLatin1String(AutomationObjectPath) &&
                         (M.member() == QLatin1String("Print") || M.member() == QLatin1String("SaveAsPDF"));
        QDBusMessage reply = CarryCall(M, reads);
        if (job) {
            const bool ok = reply.type() == QDBusMessage::ReplyMessage &&
                            (M.member() == QLatin1String("Print") || reply.arguments().value(0).toInt() == 0);
            Emit("JobFinished", {ok, ok ? QString() : FailureText("The job failed")});
        }
        return reply;
    }

    // Serves M; a failure becomes the error answer and LastErrorMessage,
    // with its kind: the member's, else what the engine noted during a
    // call that does something (a read that fails is of no kind of its
    // own, never of the failure before it).
    QDBusMessage CarryCall(const QDBusMessage& M, bool Reads)
    {
        try {
            return Serve(M);
        } catch (const std::bad_alloc&) {
            Globals().LastErrorMessage = "Out of memory";
            if (Reads)
                Globals().LastFailure = TFailureKind::None;
        } catch (const TAutomationError& e) {
            Globals().LastErrorMessage = e.what();
            if (e.Kind() != TFailureKind::None || Reads)
                Globals().LastFailure = e.Kind();
        } catch (const std::exception& e) {
            Globals().LastErrorMessage = e.what();
            if (Reads)
                Globals().LastFailure = TFailureKind::None;
        }
        return M.createErrorReply(QString::fromStdString(FailureName(Globals().LastFailure)),
                                  MessageText(Globals().LastErrorMessage));
    }

    void Pump()
    {
        // Pages drawn ahead while the window was idle give way to a client
        // at once: the pass stops, and the call goes next.
        if (!FQueue.empty() && FWindow->DrawingAhead())
            if (tRenderer* r = FWindow->Session().Renderer())
                r->Abort();
        bool waiting = false;
        size_t i = 0;
        while (i < FQueue.size()) {
            if (FWindow->Session().Terminated()) {
                // The program is ending: nothing more is served.
                TCall call = Take(i);
                Send(call, call.Message.createErrorReply(QLatin1String(AutomationErrorName),
                                                         QStringLiteral("Quillard is ending")));
                continue;
            }
            const bool busy = FServing || WindowBusy();
            if (!busy) {
                // With the window free the first call goes.
                TCall call = Take(0);
                FServing = true;
                FServedClient = call.Message.service();
                const QDBusMessage reply = Carry(call.Message);
                FServing = false;
                FServedClient.clear();
                Send(call, reply);
                i = 0;  // the call let messages run: the queue is looked at anew
                continue;
            }
            if (IsClose(FQueue[i].Message) && !FQueue[i].Answered && !EarlierCallOfItsClient(i)) {
                // The client hears at once; a transfer under way stops (it
                // could take minutes), and so does writing into a FIFO or
                // socket whose reader is slow (CloseWaiting); the window
                // closes in turn.
                Send(FQueue[i], FQueue[i].Message.createReply());
                FQueue[i].Answered = true;
                if (Fetching())
                    FWindow->HttpClient->Abort();
                TAutomationCommands::StopReceiving();
            }
            if (IsRead(FQueue[i].Message) && !EarlierCallOfItsClient(i)) {
                TCall call = Take(i);
                const bool serving = FServing;
                FServing = true;
                const QDBusMessage reply = Carry(call.Message);
                FServing = serving;
                Send(call, reply);
                i = 0;
                continue;
            }
            if (Transferring() && !FQueue[i].Answered) {
                TCall call = Take(i);
                Send(call, call.Message.createErrorReply(
                               QLatin1String(AutomationBusyErrorName),
                               Fetching() ? QStringLiteral("Quillard is busy fetching a report from a web server: "
                                                           "try again once the fetch has ended")
                                          : QStringLiteral("Quillard is busy receiving a report: try again once "
                                                           "it has arrived")));
                continue;
            }
            if (!FQueue[i].Answered && FQueue[i].Waiting.elapsed() >= FLayer->BusyAfterMs &&
                FQueue[i].Message.service() != FServedClient && !EarlierCallOfItsClient(i)) {
                // Another client's long call, or a job, holds the window:
                // this client hears so rather than waiting on.
                TCall call = Take(i);
                Send(call, call.Message.createErrorReply(
                               QLatin1String(AutomationBusyErrorName),
                               QStringLiteral("Quillard is busy with other work (another client's call, a page being "
                                              "drawn, a print or PDF job): try again once it has ended")));
                continue;
            }
            waiting = true;
            ++i;
        }
        if (waiting)
            FPump.start(20);
        FLayer->CheckIdle();
    }

    static QDBusMessage Error(const QDBusMessage& M, QDBusError::ErrorType Type, const QString& Text)
    {
        return M.createErrorReply(Type, Text);
    }

    QDBusMessage Serve(const QDBusMessage& M)
    {
        const QString path = M.path();
        if (path == QLatin1String(AutomationObjectPath))
            return ServeQuillardX(M);
        if (path == DocumentPath)
            return ServeDocument(M);
        int index = 0;
        if (SpanIndex(path, index))
            return ServeSpan(M, index);
        // (An object path has no limit of its own: a long one is not sent back whole.)
        return Error(M, QDBusError::UnknownObject,
                     QStringLiteral("No object at ") +
                         (path.size() > 255 ? path.left(255) + QStringLiteral("...") : path));
    }

    QDBusMessage ServeQuillardX(const QDBusMessage& M)
    {
        TAutomationCommands x(*FWindow);
        const QString iface = M.interface();
        const QString member = M.member();
        const QList<QVariant> args = M.arguments();
        if (iface == PropertiesInterface)
            return ServeProperties(M, AutomationInterface, [&](const QString& Name, const QVariant* Value,
                                                               QVariant& Out) -> QDBusMessage {
                const TProperty* p = FindProperty(Name);
                if (!p)
                    return Error(M, QDBusError::UnknownProperty, QStringLiteral("No property ") + Name);
                if (!Value) {
                    Out = p->Get(x);
                    return {};
                }
                if (!p->Set)
                    return Error(M, QDBusError::PropertyReadOnly, QStringLiteral("Property %1 is read-only").arg(Name));
                if (!Fits(*Value, p->Signature))
                    return Error(M, QDBusError::InvalidArgs,
                                 QStringLiteral("Property %1 takes type %2").arg(Name, QLatin1String(p->Signature)));
                p->Set(x, *Value);
                return {};
            });
        if (!iface.isEmpty() && iface != QLatin1String(AutomationInterface))
            return Error(M, QDBusError::UnknownInterface, QStringLiteral("No interface ") + iface);
        for (const TMethod& m : Methods) {
            if (member != QLatin1String(m.Name))
                continue;
            if (M.signature() != QLatin1String(m.In))
                return Error(M, QDBusError::InvalidArgs,
                             QStringLiteral("%1 takes arguments of type \"%2\"")
                                 .arg(member, QLatin1String(m.In)));
            if (member == QLatin1String("Print")) {
                x.Print();
                return M.createReply();
            }
            if (member == QLatin1String("Close")) {
                x.Close();
                return M.createReply();
            }
            if (member == QLatin1String("Printers"))
                return M.createReply(Text(x.Printers(args.value(0).toInt())));
            if (member == QLatin1String("LoadReportFd")) {
                const QDBusUnixFileDescriptor fd = args.value(0).value<QDBusUnixFileDescriptor>();
                if (!fd.isValid())
                    throw TAutomationError("LoadReportFd: no file descriptor came with the call");
                return M.createReply(x.LoadReportFd(fd.fileDescriptor()));
            }
            if (member == QLatin1String("LoadReportBytes")) {
                const QByteArray bytes = args.value(0).toByteArray();
                return M.createReply(x.LoadReport(std::string(bytes.constData(), size_t(bytes.size()))));
            }
            const QString text = args.value(0).toString();
            if (member == QLatin1String("LoadReport"))
                return M.createReply(x.LoadReport(ReportTextOf(text)));
            // A relative name is the client's, in its own folder: the
            // server's folder is nothing the client knows of.
            const std::string name = PathFromQ(text);
            const bool relative = !name.empty() && name[0] != '/' && !IsHttpAddress(name);
            const std::string folder = relative ? FLayer->ClientFolder(M.service()) : std::string();
            if (relative && folder.empty())
                throw TAutomationError(member.toStdString() + ": the file name \"" + name +
                                       "\" is relative, and the folder of the program that called is not known: "
                                       "give the whole path");
            if (member == QLatin1String("LoadFile"))
                return M.createReply(x.LoadFile(relative ? folder + "/" + name : name));
            return M.createReply(x.SaveAsPDF(name, folder));
        }
        return Error(M, QDBusError::UnknownMethod, QStringLiteral("No method ") + member);
    }

    QDBusMessage ServeDocument(const QDBusMessage& M)
    {
        const QString iface = M.interface();
        if (iface == PropertiesInterface)
            return ServeProperties(M, DocumentInterface,
                                   [&](const QString& Name, const QVariant*, QVariant&) -> QDBusMessage {
                                       return Error(M, QDBusError::UnknownProperty, QStringLiteral("No property ") + Name);
                                   });
        if (!iface.isEmpty() && iface != QLatin1String(DocumentInterface))
            return Error(M, QDBusError::UnknownInterface, QStringLiteral("No interface ") + iface);
        if (M.member() != QLatin1String("Span"))
            return Error(M, QDBusError::UnknownMethod, QStringLiteral("No method ") + M.member());
        if (M.signature() != QLatin1String("i"))
            return Error(M, QDBusError::InvalidArgs, QStringLiteral("Span takes arguments of type \"i\""));
        return M.createReply(QVariant::fromValue(QDBusObjectPath(SpanPath(M.arguments().value(0).toInt()))));
    }

    QDBusMessage ServeSpan(const QDBusMessage& M, int Index)
    {
        const QString iface = M.interface();
        if (iface != PropertiesInterface)
            return Error(M, iface.isEmpty() || iface == QLatin1String(SpanInterface) ? QDBusError::UnknownMethod
                                                                                     : QDBusError::UnknownInterface,
                         QStringLiteral("No method ") + M.member());
        return ServeProperties(M, SpanInterface, [&](const QString& Name, const QVariant* Value,
                                                     QVariant& Out) -> QDBusMessage {
            if (Name != QLatin1String("Text"))
                return Error(M, QDBusError::UnknownProperty, QStringLiteral("No property ") + Name);
            if (!Value) {
                Out = QString::fromStdString(QuillardXSpanText(Index));
                return {};
            }
            if (!Fits(*Value, "s"))
                return Error(M, QDBusError::InvalidArgs, QStringLiteral("Property Text takes type s"));
            return {};  // accepted, and nothing changes
        });
    }

    // Get, Set and GetAll of org.freedesktop.DBus.Properties. Access gets or
    // (with a value) sets one property; it returns an error message or an
    // invalid message on success.
    template <typename TAccess>
    QDBusMessage ServeProperties(const QDBusMessage& M, const char* Interface, TAccess Access)
    {
        const QList<QVariant> args = M.arguments();
        const QString member = M.member();
        const QString iface = args.value(0).toString();
        if (!iface.isEmpty() && iface != QLatin1String(Interface))
            return Error(M, QDBusError::UnknownInterface, QStringLiteral("No interface ") + iface);
        if (member == QLatin1String("Get") && M.signature() == QLatin1String("ss")) {
            QVariant out;
            QDBusMessage e = Access(args.value(1).toString(), nullptr, out);
            if (e.type() == QDBusMessage::ErrorMessage)
                return e;
            return M.createReply(QVariant::fromValue(QDBusVariant(out)));
        }
        if (member == QLatin1String("Set") && M.signature() == QLatin1String("ssv")) {
            const QVariant value = args.value(2).value<QDBusVariant>().variant();
            QVariant unused;
            QDBusMessage e = Access(args.value(1).toString(), &value, unused);
            if (e.type() == QDBusMessage::ErrorMessage)
                return e;
            return M.createReply();
        }
        if (member == QLatin1String("GetAll") && M.signature() == QLatin1String("s")) {
            QVariantMap all;
            if (std::strcmp(Interface, AutomationInterface) == 0) {
                // A property that cannot be read now (printer metrics
                // without a printer) is left out, and LastErrorMessage
                // says which and why.
                std::string leftOut, why;
                for (const TProperty& p : Properties) {
                    QVariant out;
                    std::string failure;
                    try {
                        QDBusMessage e = Access(QLatin1String(p.Name), nullptr, out);
                        if (e.type() == QDBusMessage::ErrorMessage)
                            failure = PathFromQ(e.errorMessage());
                    } catch (const std::exception& e) {
                        failure = e.what();
                    }
                    if (failure.empty()) {
                        all.insert(QLatin1String(p.Name), out);
                        continue;
                    }
                    leftOut += (leftOut.empty() ? "" : ", ") + std::string(p.Name);
                    if (why.empty())
                        why = failure;
                }
                if (!leftOut.empty()) {
                    Globals().LastErrorMessage = "GetAll left out " + leftOut + ", which cannot be read now (" +
                                                 why + ")";
                    Globals().LastFailure = TFailureKind::None;
                }
            } else if (std::strcmp(Interface, SpanInterface) == 0) {
                QVariant out;
                Access(QStringLiteral("Text"), nullptr, out);
                all.insert(QStringLiteral("Text"), out);
            }
            return M.createReply(QVariant::fromValue(all));
        }
        return Error(M, QDBusError::InvalidArgs, QStringLiteral("Wrong arguments for ") + member);
    }

    TAutomationServerLayer* FLayer;
    TPreviewWindow* FWindow;
    std::deque<TCall> FQueue;
    size_t FWaitingTextBytes = 0;
    QTimer FPump;
    bool FServing = false;
    QString FServedClient;  // whose call is being carried out
    QDBusConnection FSignals{QString()};
    QTimer FProgressTick;
    int FToldDone = -1, FToldTotal = -1;
};

// ---------------------------------------------------------------------------
// Registration

namespace {

QString DataHome()
{
    const QByteArray xdg = qgetenv("XDG_DATA_HOME");
    if (!xdg.isEmpty() && xdg.startsWith('/'))
        return QString::fromLocal8Bit(xdg);
    return QDir::homePath() + QStringLiteral("/.local/share");
}

// Replaces Path whole with Text; false, saying why, when it cannot.
bool WriteFileWhole(const QString& Path, const QByteArray& Text, std::string* Reason)
{
    if (!QDir().mkpath(QFileInfo(Path).absolutePath())) {
        SayWhy(Reason, "cannot make the folder " + PathFromQ(QFileInfo(Path).absolutePath()));
        return false;
    }
    QSaveFile f(Path);
    if (!f.open(QIODevice::WriteOnly) || f.write(Text) != Text.size() || !f.commit()) {
        SayWhy(Reason, "cannot write " + PathFromQ(Path) + ": " + PathFromQ(f.errorString()));
        return false;
    }
    return true;
}

bool RemoveFile(const QString& Path, std::string* Reason)
{
    if (!QFileInfo::exists(Path) && !QFileInfo(Path).isSymLink())
        return true;
    if (!QFile::remove(Path)) {
        SayWhy(Reason, "cannot remove " + PathFromQ(Path));
        return false;
    }
    return true;
}

// Quotes a word of the activation file's Exec line when it needs it.
std::string ExecWord(const std::string& Word)
{
    if (!Word.empty() && Word.find_first_of(" \t\"'\\$`") == std::string::npos)
        return Word;
    std::string q = "'";
    for (char c : Word) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

const char* const InterfaceNames[] = {AutomationInterface, DocumentInterface, SpanInterface};

}  // namespace

std::string AutomationServiceFile()
{
    return PathFromQ(DataHome() + QStringLiteral("/dbus-1/services/") + QLatin1String(AutomationServiceName) +
                     QStringLiteral(".service"));
}

std::string AutomationInterfaceFile(const char* Interface)
{
    return PathFromQ(DataHome() + QStringLiteral("/dbus-1/interfaces/") + QLatin1String(Interface) +
                     QStringLiteral(".xml"));
}

std::string AutomationServiceFileText(const std::string& ProgramPath)
{
    return std::string("# Quillard Print Preview Automation Server\n"
                       "[D-BUS Service]\n"
                       "Name=") +
           AutomationServiceName + "\nExec=" + ExecWord(ProgramPath) + " -AUTOMATION\n";
}

std::string RunningProgramPath()
{
    std::vector<char> buf(4096);
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0)
        return {};
    return std::string(buf.data(), static_cast<size_t>(n));
}

TAutomationServerLayer::TAutomationServerLayer(const TStartSwitches& Switches) : FSwitches(Switches)
{
    FIdleTimer.setSingleShot(true);
    connect(&FIdleTimer, &QTimer::timeout, this, [this] {
        if (FPublished && FClients.isEmpty() && FWindow && !FWindow->isVisible() && !(FObject && FObject->Busy()) &&
            OnIdleEnd)
            OnIdleEnd();
    });
    connect(&FBusWatch, &QTimer::timeout, this, [this] {
        if (FPublished && !FConnection.isConnected())
            BusLost();
    });
    if (const char* linger = std::getenv("QUILLARD_AUTOMATION_LINGER_MS")) {
        char* end = nullptr;
        const long v = std::strtol(linger, &end, 10);
        if (end != linger && *end == '\0' && v >= 0 && v <= 24L * 3600 * 1000)
            LingerMs = static_cast<int>(v);
    }
}

TAutomationServerLayer::~TAutomationServerLayer() { Withdraw(); }

bool TAutomationServerLayer::Register(std::string* Reason)
{
    const std::string program = RunningProgramPath();
    if (program.empty()) {
        SayWhy(Reason, "the program's own path cannot be read");
        return false;
    }
    for (const char* iface : InterfaceNames) {
        const QString xml = QStringLiteral(
                                "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
                                " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n<node>\n") +
                            AutomationInterfaceXml(iface) + QStringLiteral("</node>\n");
        if (!WriteFileWhole(PathToQ(AutomationInterfaceFile(iface)), xml.toUtf8(), Reason))
            return false;
    }
    const std::string text = AutomationServiceFileText(program);
    return WriteFileWhole(PathToQ(AutomationServiceFile()), QByteArray::fromStdString(text), Reason);
}

bool TAutomationServerLayer::Unregister(std::string* Reason)
{
    bool ok = RemoveFile(PathToQ(AutomationServiceFile()), Reason);
    for (const char* iface : InterfaceNames) {
        std::string why;
        if (!RemoveFile(PathToQ(AutomationInterfaceFile(iface)), &why)) {
            if (ok)
                SayWhy(Reason, why);
            ok = false;
        }
    }
    return ok;
}

bool TAutomationServerLayer::IsRegistered() { return QFileInfo::exists(PathToQ(AutomationServiceFile())); }

bool KeepReadingWhateverArrives(const QDBusConnection& Connection)
{
    // libdbus stops reading a connection while the messages it has received
    // and not yet freed hold more than 63 MB (or 4,096 file descriptors),
    // and reads again once enough of them are freed. QtDBus reads on a
    // thread of its own, but the messages of this object are freed on the
    // main thread, where the switch back cannot reach QtDBus's socket
    // notifier ("QSocketNotifier: Socket notifiers cannot be enabled or
    // disabled from another thread"): after one message over 63 MB, or a
    // backlog of calls that size, the connection was never read again.
    // The thresholds are lifted out of reach here; what the server holds is
    // bounded by its own limits instead (arguments refused at once, the
    // queue of waiting calls).
    using TSetter = void (*)(void*, long);
    void* library = ::dlopen("libdbus-1.so.3", RTLD_NOW | RTLD_NOLOAD);
    void* connection = Connection.internalPointer();
    if (!library || !connection)
        return false;
    auto setSize = reinterpret_cast<TSetter>(::dlsym(library, "dbus_connection_set_max_received_size"));
    auto setFds = reinterpret_cast<TSetter>(::dlsym(library, "dbus_connection_set_max_received_unix_fds"));
    if (setSize)
        setSize(connection, LONG_MAX);
    if (setFds)
        setFds(connection, LONG_MAX);
    ::dlclose(library);
    return setSize && setFds;
}

bool TAutomationServerLayer::Publish(TPreviewWindow* Window, const QDBusConnection& Connection, std::string* Reason)
{
    Withdraw();
    if (FSwitches.NoRegServer) {
        SayWhy(Reason, "the program was started without an automation server");
        return false;
    }
    if (!Connection.isConnected()) {
        SayWhy(Reason, "there is no session bus (" + PathFromQ(Connection.lastError().message()) + ")");
        return false;
    }
    FConnection = Connection;
    FWindow = Window;
    KeepReadingWhateverArrives(FConnection);
    FObject = std::make_unique<TAutomationObject>(this, Window);
    FObject->SetSignalConnection(FConnection);
    if (!FConnection.registerVirtualObject(QLatin1String(AutomationObjectPath), FObject.get(),
                                           QDBusConnection::SubPath)) {
        SayWhy(Reason, "the object path " + std::string(AutomationObjectPath) + " is taken");
        FObject.reset();
        return false;
    }
    if (!FConnection.registerService(QLatin1String(AutomationServiceName))) {
        const QString why = FConnection.lastError().message();
        SayWhy(Reason, std::string("the bus name ") + AutomationServiceName + " is not free" +
                (why.isEmpty() ? std::string() : " (" + PathFromQ(why) + ")"));
        FConnection.unregisterObject(QLatin1String(AutomationObjectPath));
        FObject.reset();
        return false;
    }
    FWatcher = new QDBusServiceWatcher(this);
    FWatcher->setConnection(FConnection);
    FWatcher->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(FWatcher, &QDBusServiceWatcher::serviceUnregistered, this, &TAutomationServerLayer::ClientLeft);
    FPublished = true;
    if (!OnIdleEnd)
        OnIdleEnd = [Window] { Window->EndApplication(Window->Session().ExitCode()); };
    if (!OnBusLost)
        OnBusLost = [Window] { Window->EndWithoutAsking(Window->Session().ExitCode()); };
    FBusWatch.start(BusWatchMs);
    CheckIdle();
    return true;
}

void TAutomationServerLayer::BusLost()
{
    // The bus went away (its daemon ended): no client can call again. A
    // process the bus started ends; one a user started stays for the user.
    Withdraw();
    if (StartedByAutomation() && FWindow && OnBusLost)
        OnBusLost();
}

void TAutomationServerLayer::Withdraw()
{
    FIdleTimer.stop();
    FBusWatch.stop();
    if (!FPublished)
        return;
    FPublished = false;
    FConnection.unregisterService(QLatin1String(AutomationServiceName));
    FConnection.unregisterObject(QLatin1String(AutomationObjectPath), QDBusConnection::UnregisterTree);
    delete FWatcher;
    FWatcher = nullptr;
    FClients.clear();
    FObject.reset();
}

QDBusMessage TAutomationServerLayer::Answer(TPreviewWindow* Window, const QDBusMessage& Call)
{
    if (!FObject || FWindow != Window) {
        Withdraw();
        FWindow = Window;
        FObject = std::make_unique<TAutomationObject>(this, Window);
    }
    return FObject->AnswerNow(Call);
}

void TAutomationServerLayer::LoadEnded(bool Loaded)
{
    if (FObject && FPublished)
        FObject->LoadEnded(Loaded);
}

bool TAutomationServerLayer::CloseWaiting() const { return FObject && FObject->CloseWaiting(); }

void TAutomationServerLayer::NoteClient(const QString& Sender)
{
    if (Sender.isEmpty() || FClients.contains(Sender))
        return;
    FClients.insert(Sender);
    if (FWatcher)
        FWatcher->addWatchedService(Sender);
    // A client that left before the watch began is gone already.
    if (FConnection.isConnected() && FConnection.interface() &&
        !FConnection.interface()->isServiceRegistered(Sender).value()) {
        ClientLeft(Sender);
        return;
    }
    CheckIdle();
}

std::string TAutomationServerLayer::ClientFolder(const QString& Sender) const
{
    if (Sender.isEmpty() || !FConnection.isConnected() || !FConnection.interface())
        return {};
    const QDBusReply<uint> pid = FConnection.interface()->servicePid(Sender);
    if (!pid.isValid() || pid.value() == 0)
        return {};
    char folder[PATH_MAX];
    const std::string link = "/proc/" + std::to_string(pid.value()) + "/cwd";
    const ssize_t n = ::readlink(link.c_str(), folder, sizeof folder - 1);
    if (n <= 0 || folder[0] != '/')
        return {};
    return std::string(folder, static_cast<size_t>(n));
}

void TAutomationServerLayer::ClientLeft(const QString& Name)
{
    if (!FClients.remove(Name))
        return;
    if (FWatcher)
        FWatcher->removeWatchedService(Name);
    CheckIdle();
}

void TAutomationServerLayer::CheckIdle()
{
    if (!FPublished || !StartedByAutomation() || !FWindow)
        return;
    const bool idle = FClients.isEmpty() && !FWindow->isVisible() && !(FObject && FObject->Busy());
    if (!idle)
        FIdleTimer.stop();
    else if (!FIdleTimer.isActive())
        FIdleTimer.start(LingerMs);
}

}  // namespace quillard

namespace quillard {

std::unique_ptr<TAutomationPresence> MakeAutomationPresence(const TStartSwitches& Switches)
{
    return std::make_unique<TAutomationServerLayer>(Switches);
}

TAutomationServerLayer& ServerLayerOf(TPreviewWindow& Window)
{
    return static_cast<TAutomationServerLayer&>(*Window.AutomationServer);
}

}  // namespace quillard
