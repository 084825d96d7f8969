#include "shell/about_box.h"

#include "shell/twips.h"

#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

namespace queltor {

namespace {
constexpr int kLineLeft = 120;
constexpr int kLineRight = 2430;
constexpr int kLineTop = 690;
} // namespace

frmAbout::frmAbout(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(tr("About QUELTOR"));
    // A dialog without a window icon, rather than the main window's it would inherit.
    setWindowIcon(QIcon());
    setModal(true);
    setFixedSize(twips::toPixels(2550), twips::toPixels(1245));

    auto *image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setGeometry(twips::rect(150, 90, 480, 480));
    image->setPixmap(QPixmap(QStringLiteral(":/queltor.png")));

    // In the palette's text colour: black on a light desktop, readable on a dark one.
    auto *title = new QLabel(tr("QUELTOR Demo"), this);
    title->setObjectName(QStringLiteral("lblTitle"));
    title->setTextFormat(Qt::PlainText);
    title->move(twips::point(720, 150));
    title->adjustSize();

    auto *version = new QLabel(tr("Version %1").arg(QStringLiteral("1.0.0")), this);
    version->setObjectName(QStringLiteral("lblVersion"));
    version->setTextFormat(Qt::PlainText);
    version->move(twips::point(720, 390));
    version->adjustSize();

    auto *ok = new QPushButton(tr("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setGeometry(twips::rect(690, 810, 1185, 345));
    ok->setDefault(true); // Enter presses it; QDialog maps Esc to the same close
    ok->setFocus();
    connect(ok, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
}

void frmAbout::cmdOK_Click() { accept(); }

void frmAbout::paintEvent(QPaintEvent *event)
{
    QDialog::paintEvent(event);
    // A white line under a grey one: the etched separator.
    QPainter painter(this);
    const int y = twips::toPixels(kLineTop);
    const int left = twips::toPixels(kLineLeft);
    const int right = twips::toPixels(kLineRight);
    painter.setPen(QPen(Qt::white, 2));
    painter.drawLine(left, y + 1, right, y + 1);
    painter.setPen(QPen(QColor(128, 128, 128), 1));
    painter.drawLine(left, y, right, y);
}

} // namespace queltor
