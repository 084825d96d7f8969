#pragma once

#include <QDialog>

namespace queltor {

// Help > About: icon, title and version, closed by OK, Enter or Esc.
// Made afresh for every showing and destroyed when closed.
class frmAbout : public QDialog
{
    Q_OBJECT
public:
    explicit frmAbout(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void cmdOK_Click();
};

} // namespace queltor
