#include "platform/desktop.h"

#include "platform/qtstrings.h"

#include <QDesktopServices>
#include <QProcess>
#include <QProcessEnvironment>
#include <QUrl>

namespace quillard {

bool OpenWithDesktopProgram(const std::string& Path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(PathToQ(Path)));
}

bool StartUserTextEditor(const std::string& Path)
{
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* var : {"VISUAL", "EDITOR"}) {
        const QString command = env.value(QString::fromLatin1(var)).trimmed();
        if (command.isEmpty())
            continue;
        QStringList args = QProcess::splitCommand(command);
        if (args.isEmpty())
            continue;
        const QString program = args.takeFirst();
        args << PathToQ(Path);
        if (QProcess::startDetached(program, args))
            return true;
    }
    return false;
}

}  // namespace quillard
