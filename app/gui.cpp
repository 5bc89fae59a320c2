#include "app/gui.h"

#include "app/appicons.h"

#include "app/autoserver.h"
#include "app/opendocumentwindow.h"
#include "app/previewwindow.h"
#include "app/qtservices.h"
#include "app/switches.h"
#include "engine/printer.h"
#include "platform/cupsprinter.h"
#include "platform/endsignals.h"
#include "surfaces/fontlist.h"

#include <QApplication>
#include <QDBusConnection>
#include <exception>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

namespace quillard {

namespace {

// Every window command runs in its own protected block: a failure that no
// handler caught is shown and the program goes on.
class TQuillardApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* Receiver, QEvent* Event) override
    {
        try {
            return QApplication::notify(Receiver, Event);
        } catch (const std::exception& e) {
            ShowMessage(e.what(), "Error");
        } catch (...) {
            ShowMessage("Unknown failure", "Error");
        }
        return false;
    }
};

}  // namespace

int RunGui(char* Argv0, const std::vector<std::string>& Params)
{
    const TStartSwitches start = ParseStartSwitches(Params);
    if (start.RegServer || start.UnregServer) {
        // Registration ends the program at once, without a window.
        TAutomationServerLayer server(start);
        std::string why;
        const bool ok = start.RegServer ? server.Register(&why) : server.Unregister(&why);
        if (!ok)
            std::fprintf(stderr, "quillard: %s\n", why.c_str());
        return ok ? 0 : 1;
    }

    // A program the bus started finds its bus in the starter's variables.
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
        const char* type = std::getenv("DBUS_STARTER_BUS_TYPE");
        const char* address = std::getenv("DBUS_STARTER_ADDRESS");
        if (type && address && std::string(type) == "session")
            setenv("DBUS_SESSION_BUS_ADDRESS", address, 1);
    }

    const bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM");
    if (!display && start.Automation) {
        // A server without a display still serves its clients: reports
        // loaded, printed and saved as PDF, windows never seen.
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    } else if (!display) {
        std::fprintf(stderr,
                     "quillard: there is no display to show the preview on (DISPLAY is not set).\n"
                     "Try 'quillard --help' for the options that work without one.\n");
        return 1;
    }

    // Qt reads no options of its own from the report's command line.
    int qargc = 1;
    char* qargv[] = {Argv0, nullptr};
    TQuillardApplication app(qargc, qargv);
    // The application's title. (A display name would be added to every
    // window caption on X11; the captions are the window's own.)
    QCoreApplication::setApplicationName(QStringLiteral("Quillard"));
    app.setQuitOnLastWindowClosed(false);
    app.setDesktopFileName(QStringLiteral("quillard"));
    UseDesktopIconTheme();
    app.setWindowIcon(ApplicationIcon());
    InstallFontSubstitutions();
    std::srand(static_cast<unsigned>(std::time(nullptr)));

    bool namesReport = false;
    for (const std::string& p : Params) {
        const TSwitch kind = ClassifyParameter(p);
        // The registration switches need no report either.
        namesReport = namesReport || kind == TSwitch::ReportPath || kind == TSwitch::Register ||
                      kind == TSwitch::Unregister;
    }
    if (Unattended() && !namesReport && !start.Automation) {
        // Nobody could answer the open-document window.
        std::fprintf(stderr, "quillard: no report named\n");
        return 2;
    }

    TQtUserServices services;
    SetUserServices(&services);
    // Printers are those of the print spooler.
    TCupsPrinterLayer printers;
    SetPrinterLayer(&printers);
    // The main window first, then the open-document window; the main
    // window ends first, since its end writes the open-document window's
    // folder into the settings.
    auto previewer = std::make_unique<TPreviewWindow>(Params);
    auto openDocument = std::make_unique<TOpenDocumentWindow>();
    previewer->OpenDocumentWindow = openDocument.get();
    services.BeforePump = [p = previewer.get()] { p->SyncGauges(); };

    previewer->NobodyToAsk = Unattended();

    TAutomationServerLayer& server = ServerLayerOf(*previewer);
    if (!start.NoRegServer) {
        // A registered server is registered again on every start, so the
        // bus starts the program from where it is now.
        if (TAutomationServerLayer::IsRegistered()) {
            std::string why;
            if (!server.Register(&why))
                std::fprintf(stderr, "quillard: the automation server's registration was not renewed: %s\n",
                             why.c_str());
        }
        std::string why;
        if (!server.Publish(previewer.get(), QDBusConnection::sessionBus(), &why) && start.Automation) {
            // Nobody could reach a server without its name.
            std::fprintf(stderr, "quillard: the automation server cannot start: %s\n", why.c_str());
            services.BeforePump = nullptr;
            previewer.reset();
            openDocument.reset();
            SetPrinterLayer(nullptr);
            SetUserServices(nullptr);
            return 1;
        }
    }

    // Asked to end by the system, the program ends as when its user closes
    // it: the pass stops and the temporary files go.
    TEndSignals endSignals;
    endSignals.OnSignal = [p = previewer.get()](int Signal) { p->EndWithoutAsking(128 + Signal); };

    if (server.StandAlone())
        previewer->show();
    app.exec();
    const int code = previewer->Session().ExitCode();
    services.BeforePump = nullptr;
    previewer.reset();
    openDocument.reset();
    SetPrinterLayer(nullptr);
    SetUserServices(nullptr);
    return code;
}

}  // namespace quillard
