// A private session bus for the automation tests: a real dbus-daemon on a
// socket of its own, with an activation folder of its own and an
// environment for the programs it starts. Clients are real too: gdbus.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <string>

namespace quillard::test {

class TDBusSession {
public:
    ~TDBusSession();
    // Starts dbus-daemon in Dir; ServiceDir is where it looks for
    // activation files; programs it starts get Env (plus the bus's own
    // address). False with Error() saying why.
    bool Start(const QString& Dir, const QString& ServiceDir, QProcessEnvironment Env);
    // Ends every program still on the bus, then the bus.
    void Stop();
    // Sends Signal to the bus's daemon alone and waits until it has ended:
    // the programs on the bus are left to find it gone.
    bool EndDaemon(int Signal);
    const QString& Address() const { return FAddress; }
    const std::string& Error() const { return FError; }
    // Process id of the owner of Name, or 0.
    qint64 OwnerPid(const QString& Name) const;
    // Whether Name has an owner.
    bool HasOwner(const QString& Name) const;

private:
    QProcess FDaemon;
    QString FAddress;
    std::string FError;
};

// The signals the owner of a bus name sends, as `gdbus monitor` prints them
// ("/QuillardX: com.merrowgate.Quillard.IQuillardX.LoadFinished (true, '')").
class TSignalMonitor {
public:
    ~TSignalMonitor();
    // Starts listening on the bus at Address to Name, which has an owner;
    // false when gdbus cannot.
    bool Start(const QString& Address, const QString& Name);
    // Waits, with the events running, until what was printed after the
    // last line waited for holds Text; false when it has not after
    // TimeoutMs.
    bool WaitForLine(const std::string& Text, int TimeoutMs = 30000);
    // Everything printed so far.
    std::string Output();

private:
    QProcess FMonitor;
    std::string FOutput;
    size_t FSeen = 0;
};

struct TGdbusResult {
    int Code = -1;
    std::string Out, Err;
};

// Runs gdbus with Args on the bus at Address. With Pump the caller's
// events keep running meanwhile (a server in this process answers).
// WorkingDir, when given, is the folder gdbus runs in.
TGdbusResult Gdbus(const QString& Address, const QStringList& Args, bool Pump = false, int TimeoutMs = 60000,
                   const QString& WorkingDir = QString());

// gdbus call shorthands on the Quillard object.
QStringList QxCall(const QString& Member, const QStringList& Args = {});
QStringList QxGet(const QString& Property);
QStringList QxSet(const QString& Property, const QString& Value);

}  // namespace quillard::test
