#include "onewire/crc.h"

#include <QtTest>

// Check values published with each algorithm.
class TstCrc : public QObject
{
    Q_OBJECT
private slots:
    void checkValues()
    {
        // CRC-16/MAXIM: the complement of the chips' register over "123456789" is 0x44C2.
        QCOMPARE(uint16_t(~Crc::maxim16(QByteArray("123456789"))), uint16_t(0x44C2));
        // Sensirion: 0xBE 0xEF gives 0x92.
        QCOMPARE(Crc::sensirion8(QByteArray::fromHex("BEEF")), uint8_t(0x92));
        // Dallas CRC-8: "123456789" gives 0xA1; data followed by its CRC gives 0.
        QCOMPARE(Crc::dallas8(QByteArray("123456789")), uint8_t(0xA1));
        const QByteArray rom = QByteArray::fromHex("28FF641E1D1603");
        QCOMPARE(Crc::dallas8(rom + char(Crc::dallas8(rom))), uint8_t(0));
    }
};

QTEST_APPLESS_MAIN(TstCrc)
#include "tst_crc.moc"
