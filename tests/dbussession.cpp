#include "tests/dbussession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace quillard::test {

TDBusSession::~TDBusSession() { Stop(); }

bool TDBusSession::Start(const QString& Dir, const QString& ServiceDir, QProcessEnvironment Env)
{
    const QString socket = QDir(Dir).filePath(QStringLiteral("bus"));
    FAddress = QStringLiteral("unix:path=") + socket;
    const QString config = QDir(Dir).filePath(QStringLiteral("bus.conf"));
    QFile f(config);
    if (!f.open(QIODevice::WriteOnly)) {
        FError = "cannot write " + config.toStdString();
        return false;
    }
    f.write(QStringLiteral(
                "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                "<busconfig>\n"
                "  <type>session</type>\n"
                "  <listen>%1</listen>\n"
                "  <servicedir>%2</servicedir>\n"
                "  <policy context=\"default\">\n"
                "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                "    <allow eavesdrop=\"true\"/>\n"
                "    <allow own=\"*\"/>\n"
                "  </policy>\n"
                // The limits of the system's session bus (session.conf):
                // messages up to the protocol's 128 MB pass.
                "  <limit name=\"max_incoming_bytes\">1000000000</limit>\n"
                "  <limit name=\"max_outgoing_bytes\">1000000000</limit>\n"
                "  <limit name=\"max_message_size\">1000000000</limit>\n"
                "</busconfig>\n")
                .arg(FAddress, ServiceDir)
                .toUtf8());
    f.close();
    QDir().mkpath(ServiceDir);
    // Programs the bus starts inherit its environment.
    Env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), FAddress);
    FDaemon.setProcessEnvironment(Env);
    FDaemon.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                   QStringLiteral("--print-address=1")});
    if (!FDaemon.waitForStarted(10000)) {
        FError = "dbus-daemon does not start (package dbus)";
        return false;
    }
    QElapsedTimer t;
    t.start();
    while (!FDaemon.canReadLine() && t.elapsed() < 10000)
        FDaemon.waitForReadyRead(100);
    if (!FDaemon.canReadLine()) {
        FError = "dbus-daemon printed no address: " + FDaemon.readAllStandardError().toStdString();
        return false;
    }
    FDaemon.readLine();
    return true;
}

void TDBusSession::Stop()
{
    if (FDaemon.state() == QProcess::NotRunning)
        return;
    // Programs the bus started are not its children to end with it.
    const TGdbusResult names = Gdbus(FAddress, {"call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                                                "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.ListNames"});
    const QRegularExpression unique(QStringLiteral("'(:[0-9.]+)'"));
    auto it = unique.globalMatch(QString::fromStdString(names.Out));
    while (it.hasNext()) {
        const qint64 pid = OwnerPid(it.next().captured(1));
        if (pid > 0 && pid != ::getpid())
            ::kill(static_cast<pid_t>(pid), SIGKILL);
    }
    FDaemon.kill();
    FDaemon.waitForFinished(5000);
}

bool TDBusSession::EndDaemon(int Signal)
{
    if (FDaemon.state() == QProcess::NotRunning)
        return false;
    ::kill(static_cast<pid_t>(FDaemon.processId()), Signal);
    return FDaemon.waitForFinished(10000);
}

qint64 TDBusSession::OwnerPid(const QString& Name) const
{
    const TGdbusResult r =
        Gdbus(FAddress, {"call", "--session", "--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
                         "--method", "org.freedesktop.DBus.GetConnectionUnixProcessID", Name});
    const QRegularExpression number(QStringLiteral("uint32 ([0-9]+)"));
    const auto m = number.match(QString::fromStdString(r.Out));
    return r.Code == 0 && m.hasMatch() ? m.captured(1).toLongLong() : 0;
}

bool TDBusSession::HasOwner(const QString& Name) const
{
    const TGdbusResult r =
        Gdbus(FAddress, {"call", "--session", "--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
                         "--method", "org.freedesktop.DBus.NameHasOwner", Name});
    return r.Out.find("true") != std::string::npos;
}

TSignalMonitor::~TSignalMonitor()
{
    if (FMonitor.state() != QProcess::NotRunning) {
        FMonitor.kill();
        FMonitor.waitForFinished(5000);
    }
}

bool TSignalMonitor::Start(const QString& Address, const QString& Name)
{
    FMonitor.start(QStringLiteral("gdbus"), {QStringLiteral("monitor"), QStringLiteral("--address"), Address,
                                             QStringLiteral("--dest"), Name});
    // Once it says who owns the name, its match rule is in place.
    return FMonitor.waitForStarted(10000) && WaitForLine("is owned by");
}

std::string TSignalMonitor::Output()
{
    FOutput += FMonitor.readAllStandardOutput().toStdString();
    return FOutput;
}

bool TSignalMonitor::WaitForLine(const std::string& Text, int TimeoutMs)
{
    QElapsedTimer t;
    t.start();
    size_t found;
    while ((found = Output().find(Text, FSeen)) == std::string::npos) {
        if (t.elapsed() > TimeoutMs || FMonitor.state() == QProcess::NotRunning)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        FMonitor.waitForReadyRead(5);
    }
    FSeen = found + Text.size();
    return true;
}

TGdbusResult Gdbus(const QString& Address, const QStringList& Args, bool Pump, int TimeoutMs, const QString& WorkingDir)
{
    QProcess p;
    if (!WorkingDir.isEmpty())
        p.setWorkingDirectory(WorkingDir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), Address);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("gdbus"), Args);
    TGdbusResult r;
    if (!p.waitForStarted(10000)) {
        r.Err = "gdbus does not start (package libglib2.0-bin)";
        return r;
    }
    QElapsedTimer t;
    t.start();
    if (Pump) {
        while (p.state() != QProcess::NotRunning && t.elapsed() < TimeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            p.waitForFinished(5);
        }
    } else {
        p.waitForFinished(TimeoutMs);
    }
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(1000);
        r.Err = "gdbus did not finish";
        return r;
    }
    r.Code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.Out = p.readAllStandardOutput().trimmed().toStdString();
    r.Err = p.readAllStandardError().trimmed().toStdString();
    return r;
}

QStringList QxCall(const QString& Member, const QStringList& Args)
{
    const QString path = Member.startsWith(QLatin1String("Document.")) ? QStringLiteral("/QuillardX/Document")
                                                                        : QStringLiteral("/QuillardX");
    QString method = Member;
    if (Member.startsWith(QLatin1String("Document.")))
        method = QStringLiteral("com.merrowgate.Quillard.IQuillardXDocument.") + Member.mid(9);
    else if (!Member.contains(QLatin1Char('.')))
        method = QStringLiteral("com.merrowgate.Quillard.IQuillardX.") + Member;
    return QStringList{"call", "--session", "--dest", "com.merrowgate.Quillard", "--object-path", path,
                       "--method", method} +
           Args;
}

QStringList QxGet(const QString& Property)
{
    return QxCall(QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                  {QStringLiteral("com.merrowgate.Quillard.IQuillardX"), Property});
}

QStringList QxSet(const QString& Property, const QString& Value)
{
    return QxCall(QStringLiteral("org.freedesktop.DBus.Properties.Set"),
                  {QStringLiteral("com.merrowgate.Quillard.IQuillardX"), Property, QStringLiteral("<") + Value + ">"});
}

}  // namespace quillard::test
