#include "shell/failure_reporter.h"

#include <QEvent>
#include <QMessageBox>
#include <QWidget>

namespace queltor {

FailureReporter::FailureReporter(QWidget *window)
    : QObject(window)
    , m_window(window)
{
    window->installEventFilter(this);
}

void FailureReporter::report(const Failure &failure, const std::function<void()> &afterClose)
{
    Shown &shown = m_boxes[failure.kind];
    if (!shown.box) {
        shown.box = new QMessageBox(m_window);
        shown.box->setAttribute(Qt::WA_DeleteOnClose);
        shown.box->setStandardButtons(QMessageBox::Ok);
        // Messages quote the settings file and device paths: never markup.
        shown.box->setTextFormat(Qt::PlainText);
        // Closed, it is deleted later: the next failure of its kind gets a box of its own.
        connect(shown.box, &QDialog::finished, this, [this, kind = failure.kind, box = shown.box.data()] {
            const auto found = m_boxes.find(kind);
            if (found != m_boxes.end() && found->second.box == box)
                m_boxes.erase(found);
        });
    }
    QMessageBox *box = shown.box;
    box->setWindowTitle(failure.title.isEmpty() ? QStringLiteral("QUELTOR") : failure.title);
    box->setIcon(failure.icon == Failure::Icon::Information ? QMessageBox::Information : QMessageBox::Warning);
    box->setText(failure.text());
    disconnect(shown.closed);
    if (afterClose)
        shown.closed = connect(box, &QDialog::finished, this, afterClose);
    if (m_window->isVisible() && !box->isVisible())
        box->open();
}

void FailureReporter::withdraw(Failure::Kind kind)
{
    const auto found = m_boxes.find(kind);
    if (found == m_boxes.end())
        return;
    disconnect(found->second.closed);
    if (QMessageBox *box = found->second.box) {
        box->hide();
        box->deleteLater();
    }
    m_boxes.erase(found);
}

bool FailureReporter::eventFilter(QObject *watched, QEvent *event)
{
    // Shown, the window is not on screen yet: the boxes open from the event loop, over it.
    if (watched == m_window && event->type() == QEvent::Show)
        QMetaObject::invokeMethod(this, &FailureReporter::openWaiting, Qt::QueuedConnection);
    return QObject::eventFilter(watched, event);
}

void FailureReporter::openWaiting()
{
    if (!m_window->isVisible())
        return;
    for (auto &[kind, shown] : m_boxes) {
        if (shown.box && !shown.box->isVisible())
            shown.box->open();
    }
}

} // namespace queltor
