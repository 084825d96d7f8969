#include "message_catcher.h"

#include <QAbstractButton>
#include <QApplication>

MessageCatcher::MessageCatcher(int pollMs)
{
    m_poll.setInterval(pollMs);
    connect(&m_poll, &QTimer::timeout, this, &MessageCatcher::answer);
    m_poll.start();
}

QStringList MessageCatcher::texts() const
{
    QStringList all;
    for (const Box &box : m_boxes)
        all << box.text;
    return all;
}

void MessageCatcher::answer()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    m_boxes.append({box->windowTitle(), box->text(), box->icon(), box->textFormat()});
    if (QAbstractButton *ok = box->button(QMessageBox::Ok))
        ok->click();
    else
        box->reject();
}
