// Answering the program's modal windows in window tests: a poll looks for the
// next modal window (of a class, when one is named) and hands it to the
// answer. A poll still waiting when its test ends is cancelled, so that it
// cannot answer a window of the next test.
#pragma once

#include <QWidget>
#include <functional>
#include <gtest/gtest.h>

namespace quillard::test {

// Runs Answer on the next modal window to appear; with ClassName, on the
// next one that inherits that class (other modal windows are left alone).
void WhenModal(std::function<void(QWidget*)> Answer, const char* ClassName = nullptr);
// Runs Answer on the next modal window, which must be a Dialog: any other
// modal window fails the test and is closed, so the test goes on.
template <class Dialog, class F>
void WhenDialog(F Answer)
{
    WhenModal([Answer](QWidget* w) {
        auto* d = qobject_cast<Dialog*>(w);
        if (!d) {
            ADD_FAILURE() << "another modal window: " << w->metaObject()->className() << " "
                          << w->objectName().toStdString();
            w->close();
            return;
        }
        Answer(d);
    });
}
// Stops every poll still waiting (run after each test).
void CancelModalAnswers();

}  // namespace quillard::test
