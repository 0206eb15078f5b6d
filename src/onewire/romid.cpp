#include "onewire/romid.h"

uint64_t romKey(const RomId &rom, bool reversed)
{
    if (rom.size() != 8)
        return 0;
    uint64_t key = 0;
    for (int i = 0; i < 8; ++i)
        key = (key << 8) | uint64_t(rom.at(reversed ? 7 - i : i) & 0xFF);
    return key;
}

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
