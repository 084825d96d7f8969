#pragma once

#include "remote/protocol.h"

#include <QObject>

namespace queltor {

class frmMain;

// The window's other face: a request from a script (queltor-ctl) taken the
// way the controls take the operator's, through the same handlers a click
// calls. A select is a click on its button, a scan is Auto and Start Scan. A
// failure goes back in the reply, with the text the window would show, and
// never into a message box.
class PanelRequests : public QObject
{
    Q_OBJECT
public:
    // For as long as window lives.
    explicit PanelRequests(frmMain &window);

    remote::Reply answer(const remote::Request &request);

    // What the panel shows, from the window's data.
    remote::PanelStatus status() const;

signals:
    // The status after every change to it.
    void statusChanged(const queltor::remote::PanelStatus &status);

private:
    remote::Reply select(int channel);
    remote::Reply scan(const remote::Request &request);
    void windowChanged();

    frmMain &m_window;
    QByteArray m_said; // the status last told, as its JSON
};

} // namespace queltor
