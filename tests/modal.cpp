#include "tests/modal.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <vector>

namespace quillard::test {

namespace {
std::vector<QPointer<QTimer>>& Polls()
{
    static std::vector<QPointer<QTimer>> polls;
    return polls;
}
}  // namespace

void WhenModal(std::function<void(QWidget*)> Answer, const char* ClassName)
{
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, Answer, ClassName] {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || (ClassName && !w->inherits(ClassName)))
            return;
        poll->stop();
        poll->deleteLater();
        Answer(w);
    });
    Polls().push_back(poll);
    poll->start();
}

void CancelModalAnswers()
{
    for (QPointer<QTimer>& p : Polls())
        delete p.data();
    Polls().clear();
}

}  // namespace quillard::test
