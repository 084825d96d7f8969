// The fair start-up floor: a bare Qt Widgets program that shows what the panel
// shows at start and Qt makes costly: the same menus, 100 channel buttons (the
// first bank's 20 on screen), two editable combo boxes, the display's font,
// a status bar and the window icon. Nothing of the panel's own: no settings
// file, no port, no scripting socket, no translations, no frames or labels.
#include "channel/bank.h"

#include <QApplication>
#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>

namespace {

// At the toolkit's default font, where the benchmark runs: 15 twips a pixel.
QRect pixels(int left, int top, int width, int height) { return {left / 15, top / 15, width / 15, height / 15}; }

// Kept out of line, so that callgrind counts the menus apart as it does the panel's.
Q_NEVER_INLINE void buildMenus(QMenuBar *bar)
{
    bar->addMenu(QStringLiteral("&File"))->addAction(QStringLiteral("E&xit"));
    QMenu *set = bar->addMenu(QStringLiteral("&Set"));
    QMenu *ports = set->addMenu(QStringLiteral("Serial &Port"));
    ports->addAction(QStringLiteral("com&1"))->setCheckable(true);
    ports->addAction(QStringLiteral("com&2"))->setCheckable(true);
    ports->addAction(QStringLiteral("Choose &Device…"));
    QMenu *counts = set->addMenu(QStringLiteral("&Channel Count"));
    for (int k = 0; k < queltor::bank::kIndexCount; ++k)
        counts->addAction(QString::number(queltor::bank::channelCount(k)))->setCheckable(true);
    bar->addMenu(QStringLiteral("&Help"))->addAction(QStringLiteral("&About"));
}

} // namespace

int main(int argc, char *argv[])
{
    namespace bank = queltor::bank;
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("floor"));
    window.setWindowIcon(QIcon(QStringLiteral(":/queltor.png")));
    buildMenus(window.menuBar());

    auto *client = new QWidget;
    window.setCentralWidget(client);
    auto *display = new QLabel(QStringLiteral("00"), client);
    QFont font(QStringLiteral("굴림"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(30);
    font.setBold(true);
    display->setFont(font);
    display->move(7860 / 15, 330 / 15);
    display->adjustSize();
    for (int top : {240, 630}) {
        auto *list = new QComboBox(client);
        list->setEditable(true);
        for (int channel = 0; channel < bank::channelCount(1); ++channel)
            list->addItem(QString::number(channel));
        list->setGeometry(pixels(1140, top, 645, 300));
    }
    for (int i = 0; i < bank::kButtonCount; ++i) {
        auto *button = new QPushButton(QStringLiteral("CH %1").arg(i, 2, 10, QLatin1Char('0')), client);
        button->setGeometry(pixels(bank::buttonLeft(i) + 90, bank::buttonTop(i) + bank::kFrameTop, bank::kButtonWidth,
                                   bank::kButtonHeight));
        button->setVisible(bank::buttonVisible(i, 1));
    }
    window.statusBar()->addWidget(new QLabel(QStringLiteral("COM1 · /dev/pts/0 · connected")), 1);
    client->setFixedSize(9195 / 15, (bank::kFrameTop + bank::frameHeight(1) + 90) / 15);
    window.show();
    return QApplication::exec();
}
