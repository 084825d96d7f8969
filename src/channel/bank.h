#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The channel bank: how many channels the window offers and where the
// channel buttons sit. All lengths are in twips.
namespace queltor::bank {

constexpr int kIndexCount = 10; // menu entries 10, 20, ... 100
constexpr int kButtonCount = 100;
constexpr int kButtonsPerRow = 10;

constexpr int kButtonLeft = 150;
constexpr int kButtonTop = 270;
constexpr int kColumnStep = 870;
constexpr int kRowStep = 330;
constexpr int kButtonWidth = 885;
constexpr int kButtonHeight = 345;

constexpr int kFrameTop = 1200;         // top edge of the button frame
constexpr int kFrameBottomMargin = 160; // below the last visible row

constexpr bool isIndex(long long index) { return index >= 0 && index < kIndexCount; }

constexpr int channelCount(int index) { return index * 10 + 10; }

constexpr int buttonLeft(int button) { return kButtonLeft + kColumnStep * (button % kButtonsPerRow); }
constexpr int buttonTop(int button) { return kButtonTop + kRowStep * (button / kButtonsPerRow); }
constexpr bool buttonVisible(int button, int index) { return button < (index + 1) * kButtonsPerRow; }

// The button rows away and columns across from button, in the grid of ten
// columns; nothing past its edges.
constexpr std::optional<int> neighbour(int button, int rows, int columns)
{
    const int row = button / kButtonsPerRow + rows;
    const int column = button % kButtonsPerRow + columns;
    if (row < 0 || row >= kButtonCount / kButtonsPerRow || column < 0 || column >= kButtonsPerRow)
        return std::nullopt;
    return row * kButtonsPerRow + column;
}

// Height of the button frame: down to the last visible row plus its margin.
constexpr int frameHeight(int index) { return buttonTop(index * kButtonsPerRow) + kButtonHeight + kFrameBottomMargin; }

// "CH 00" ... "CH 99".
QString buttonCaption(int button);

// The items of the start and end lists: "0", "1", ... up to the last channel.
QStringList listItems(int index);

// The bank index a stored "ChNum" number stands for, through the same 16-bit
// arithmetic the count is kept in; nullopt when that overflows or the index
// is not one of 0..9.
std::optional<int> indexFromSetting(double storedNumber);

} // namespace queltor::bank
