// The automation server layer: the program as a service on the D-Bus session
// bus, under the well-known name com.merrowgate.Quillard with the object
// /QuillardX. It knows how the process was started (by a user, or by the bus
// because a client called), registers the server (an activation file the bus
// starts the program from, and the interface descriptions), publishes the
// automation object, and keeps count of the clients: a process the bus
// started ends once no client remains and its window is hidden.
#pragma once

#include "app/automationpresence.h"
#include "app/switches.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

class QDBusServiceWatcher;

namespace quillard {

class TPreviewWindow;
class TAutomationObject;

// The bus names of the server.
inline constexpr const char* AutomationServiceName = "com.merrowgate.Quillard";
inline constexpr const char* AutomationObjectPath = "/QuillardX";
inline constexpr const char* AutomationInterface = "com.merrowgate.Quillard.IQuillardX";
inline constexpr const char* DocumentInterface = "com.merrowgate.Quillard.IQuillardXDocument";
inline constexpr const char* SpanInterface = "com.merrowgate.Quillard.IQuillardXSpan";
// The error name of a failure inside a member.
inline constexpr const char* AutomationErrorName = "com.merrowgate.Quillard.Error";
// The error name of a call refused because Quillard cannot take it now (a
// report is being fetched, too many calls wait); it may be made again.
inline constexpr const char* AutomationBusyErrorName = "com.merrowgate.Quillard.Busy";

// Where the registration lives: the activation file of the session bus and
// the interface descriptions, under the user's data folder
// ($XDG_DATA_HOME, else ~/.local/share).
std::string AutomationServiceFile();
std::string AutomationInterfaceFile(const char* Interface);
// The activation file's text for a program at ProgramPath.
std::string AutomationServiceFileText(const std::string& ProgramPath);
// The path of the running program.
std::string RunningProgramPath();

// Lets libdbus read every message the bus passes on Connection, however
// much of it the program still holds; false when libdbus could not be told.
bool KeepReadingWhateverArrives(const QDBusConnection& Connection);

class TAutomationServerLayer : public QObject, public TAutomationPresence {
    Q_OBJECT
public:
    explicit TAutomationServerLayer(const TStartSwitches& Switches);
    ~TAutomationServerLayer() override;

    // Whether the server is published on a bus (never with "NOREGSERVER").
    bool Exists() const override { return FPublished; }
    // Started by an automation client ("AUTOMATION" or "EMBEDDING").
    bool StartedByAutomation() const { return FSwitches.Automation; }
    // The window is shown at start and closing it ends the program unless a
    // server exists and a client started the process.
    bool StandAlone() const override { return !Exists() || !StartedByAutomation(); }
    // Number of clients that called the server and are still on the bus.
    int ObjectCount() const override { return static_cast<int>(FClients.size()); }
    const TStartSwitches& Switches() const { return FSwitches; }

    // Writes the activation file and the interface descriptions (each
    // replaced whole); false with the reason in Error when that fails.
    bool Register(std::string* Reason) override;
    // Removes them; removing what is not there succeeds.
    bool Unregister(std::string* Reason) override;
    // Whether an activation file of this server exists.
    static bool IsRegistered();

    // Publishes the automation object of Window on Connection and takes the
    // server's name. False with the reason in Error when the bus refuses.
    bool Publish(TPreviewWindow* Window, const QDBusConnection& Connection, std::string* Reason);
    // Withdraws the object and the name.
    void Withdraw();

    // Looks again whether a process the bus started has anything left to
    // do: with no client and the window hidden it ends after the linger
    // time (a client that makes one call per connection, as command-line
    // tools do, has that long to call again).
    void CheckIdle() override;
    // Tells the clients (the signal LoadFinished).
    void LoadEnded(bool Loaded) override;
    bool CloseWaiting() const override;
    // How long an idle process started by the bus waits before it ends.
    int LingerMs = 15000;
    // Ends the program (the window's end, replaceable by tests).
    std::function<void()> OnIdleEnd;
    // How often a process the bus started looks whether its bus is still
    // there: without it nobody can reach the process, which ends.
    static constexpr int BusWatchMs = 250;
    // How long a client's call that changes something waits while the
    // window is busy with another client's call or a job before it is
    // refused as busy (its own earlier calls it waits for).
    int BusyAfterMs = 1000;
    std::function<void()> OnBusLost;

    // Called for every message the object takes: the sender counts as a
    // client until it leaves the bus.
    void NoteClient(const QString& Sender);
    // The folder the client Sender works in (its process's current folder),
    // or an empty text when that cannot be known.
    std::string ClientFolder(const QString& Sender) const;

    // Refuses or carries out Call for the automation object of Window at
    // once, as the object does when the call's turn has come, and gives the
    // answer: the members without a bus (the fuzz target).
    QDBusMessage Answer(TPreviewWindow* Window, const QDBusMessage& Call);

private:
    void ClientLeft(const QString& Name);

    TStartSwitches FSwitches;
    bool FPublished = false;
    QDBusConnection FConnection{QString()};
    std::unique_ptr<TAutomationObject> FObject;
    QDBusServiceWatcher* FWatcher = nullptr;
    QSet<QString> FClients;
    QTimer FIdleTimer;
    QTimer FBusWatch;
    void BusLost();
    TPreviewWindow* FWindow = nullptr;
};

// The server layer of Window's process.
TAutomationServerLayer& ServerLayerOf(TPreviewWindow& Window);

}  // namespace quillard
