#include "onewire/romid.h"

QString romToText(const RomId &rom, bool reversed)
{
    QString text;
    text.reserve(rom.size() * 2);
    for (int i = 0; i < rom.size(); ++i) {
        const short element = rom.at(reversed ? rom.size() - 1 - i : i);
        text += QString::number(element & 0xFF, 16).toUpper().rightJustified(2, QLatin1Char('0'));
    }
    return text;
}
