#pragma once

#include "link/failure.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <map>

class QMessageBox;
class QWidget;

namespace queltor {

// Where the panel's failures reach the operator: each in a message box over
// the window, opened with QMessageBox::open(), so no handler ever waits in a
// nested event loop and the panel goes on working under the box. There is at
// most one box per kind of failure: a newer failure of a kind on screen takes
// over its box. Until the window is first shown, boxes wait, and they open
// once it is.
class FailureReporter : public QObject
{
    Q_OBJECT
public:
    explicit FailureReporter(QWidget *window);

    // afterClose runs when the operator closes the box, and not when it is withdrawn.
    void report(const Failure &failure, const std::function<void()> &afterClose = {});
    // The condition of kind has cleared: its box goes, or never opens.
    void withdraw(Failure::Kind kind);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Shown
    {
        QPointer<QMessageBox> box;
        QMetaObject::Connection closed;
    };

    void openWaiting();

    QWidget *m_window;
    std::map<Failure::Kind, Shown> m_boxes;
};

} // namespace queltor
