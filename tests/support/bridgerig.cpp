#include "support/bridgerig.h"

#include "onewire/tmex.h"

QByteArray fromHex(const char *digits)
{
    return QByteArray::fromHex(digits);
}

BridgeRig::BridgeRig(quint64 serial)
{
    chip = f.add(std::make_unique<SimDs28e17>(SimFixture::rom(0x19, serial)));
    rom = SimFixture::romId(chip->rom());
    f.open();
}

SimMultiHub *BridgeRig::addHub(uint8_t address)
{
    return chip->i2c().setHub(std::make_unique<SimMultiHub>(address));
}

uint8_t *BridgeRig::state()
{
    return f.adapter.accessStateBuffer();
}

std::unique_ptr<I2cBridge> BridgeRig::bridge(BridgeContext *context)
{
    return std::make_unique<I2cBridge>(f.tmex, session(), state(), romBuffer(), context ? context : &this->context);
}

bool BridgeRig::select()
{
    return f.tmex.selectDevice(*session(), state(), romBuffer());
}

QVector<BridgePacket> BridgeRig::packets(int from)
{
    QVector<int> sent, got;
    const QVector<TrafficEntry> &log = f.backend().traffic();
    for (int i = from; i < log.size(); ++i) {
        if (log[i].call == QLatin1String("TMTouchByte")) {
            sent << log[i].args.value(0);
            got << log[i].result;
        }
    }
    QVector<BridgePacket> result;
    int i = 0;
    auto take = [&](int count) {
        QByteArray bytes;
        for (int k = 0; k < count && i < sent.size(); ++k, ++i)
            bytes.append(char(sent[i]));
        return bytes;
    };
    while (i < sent.size()) {
        const int command = sent[i];
        BridgePacket p;
        if ((command == 0x4B || command == 0x5A) && i + 2 < sent.size()) {
            p.packet = take(5 + sent[i + 2]);
            if (i < sent.size())
                p.status = got[i++];
            if (i < sent.size())
                p.writeStatus = got[i++];
        } else if (command == 0x87 && i + 2 < sent.size()) {
            const int length = sent[i + 2];
            p.packet = take(5);
            if (i < sent.size())
                p.status = got[i++];
            for (int k = 0; p.status == 0 && k < length && i < sent.size(); ++k)
                p.data.append(char(got[i++]));
        } else {
            ++i; // configuration and sleep broadcasts
            continue;
        }
        result << p;
    }
    return result;
}

QVector<QByteArray> BridgeRig::packetBytes(int from)
{
    QVector<QByteArray> bytes;
    for (const BridgePacket &p : packets(from))
        bytes << p.packet;
    return bytes;
}

QVector<int> BridgeRig::writeAddresses(int from)
{
    QVector<int> addresses;
    for (const BridgePacket &p : packets(from)) {
        if (uint8_t(p.packet.at(0)) != 0x87)
            addresses << uint8_t(p.packet.at(1));
    }
    return addresses;
}

int BridgeRig::callCount(const QString &call, int from)
{
    int count = 0;
    const QVector<TrafficEntry> &log = f.backend().traffic();
    for (int i = from; i < log.size(); ++i)
        count += log[i].call == call ? 1 : 0;
    return count;
}
