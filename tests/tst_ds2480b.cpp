#include "onewire/adapter.h"
#include "bus/crc.h"
#include "onewire/tmex.h"
#include "base/clock.h"
#include "sensors/acquisition.h"
#include "sensors/ds18b20.h"
#include "sensors/ds18s20.h"
#include "sensors/sensor.h"
#include "session/measurementsession.h"
#include "bus/wirebackend.h"
#include "sim/simds18b20.h"
#include "sim/simds18s20.h"
#include "sim/simidentitychip.h"
#include "sim/simromdevice.h"
#include "support/serialfixture.h"
#include "support/forwardingmaster.h"
#include "support/simfixture.h"

#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <cstring>

namespace {

QByteArray hex(const QByteArray &bytes)
{
    return bytes.toHex().toUpper();
}

// Touches each byte of `bytes` through TMEX; returns what came back.
QByteArray touch(Tmex &tmex, int32_t session, const QByteArray &bytes)
{
    QByteArray back;
    for (char b : bytes)
        back.append(char(tmex.TMTouchByte(session, short(uchar(b)))));
    return back;
}

QByteArray bytes(const char *hexText)
{
    return QByteArray::fromHex(hexText);
}

// Selects the device with `rom` through TMEX (Match ROM); the access's
// result, -1 when the ROM was not taken.
short matchRom(SimFixture &f, const QByteArray &rom)
{
    RomId id = SimFixture::romId(rom);
    uint8_t *state = f.adapter.accessStateBuffer();
    if (f.tmex.TMRom(f.session, state, id.data()) != 1)
        return -1;
    return f.tmex.TMAccess(f.session, state);
}

const QByteArray ReadNine = bytes("BEFFFFFFFFFFFFFFFFFF"); // Read Scratchpad

// The readings of one cycle by ROM text (bus order): the first channel's value.
QMap<QString, double> cycle(MeasurementSession &session, int *openResult)
{
    *openResult = session.refresh().openResult;
    session.measure();
    QMap<QString, double> values;
    for (const SensorDevice *device : session.allDevices()) {
        if (!device->channels.isEmpty() && device->channels.at(0).updated & 1)
            values.insert(romToText(device->rom, true), device->channels.at(0).value);
    }
    return values;
}

// A chip that claims overdrive but does not keep up at that speed (a marginal
// part, a long cable): it misses every reset at overdrive speed.
class SimOverdriveDropout : public SimRomDevice
{
public:
    SimOverdriveDropout(const QByteArray &rom, const SimBus *bus)
        : SimRomDevice(rom, true)
        , m_bus(bus)
    {
    }
    void onReset() override { setSilent(m_bus->overdrive()); }

private:
    const SimBus *m_bus;
};

// A master whose search accelerator answers come back with the direction
// and discrepancy bits swapped: its searches never settle.
class SwappedSearchMaster : public ForwardingMaster
{
public:
    using ForwardingMaster::ForwardingMaster;
    int searchTriplets(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8]) override
    {
        const int result = m_bus->searchTriplets(path, discrepancies, rom);
        ++passes;
        return result;
    }
    int passes = 0;
};

// Reads one DS18S20 as a cycle does after the broadcast conversion; NaN when it gave no value.
double readS20(SerialFixture &f, RomId &rom)
{
    Ds18s20 driver(f.tmex, &f.session, f.adapter.accessStateBuffer(), rom.data());
    double value = 0;
    driver.convertAndRead(&value, Ds18x20::ReadOnly);
    return value;
}

} // namespace

// The DS2480B master against the emulated chip on a real pseudo-terminal:
// the bytes on the serial line and what the master makes of the answers.
class TstDs2480b : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false")); }

    // Power-up: the break and a NUL at half the baud rate (a master reset
    // that passes where a break does not), the timing byte C1 (which a chip
    // just reset does not answer),
    // then SPUD = infinite (3F, echoed as 3E) and a read of the baud rate
    // (0F, answered 00 = 9600). Later opens ask the chip once more; a chip
    // that does not answer is an adapter not found, retried on every open.
    // Trying overdrive on the empty bus stops at the first reset (C1, no
    // presence).
    void powerUp()
    {
        SerialFixture f;
        QCOMPARE(f.open(), 1);
        QCOMPARE(f.adapter.statusText(), QStringLiteral("Adapter found, No error; Info: OverDrive OFF"));
        // The master reset: the break (which a pseudo-terminal does not
        // carry) and a NUL at 4800 baud; then the timing byte C1.
        QCOMPARE(f.lines(), "00C13F0FC1 / 3E00CF");
        QCOMPARE(f.chip().masterResets(), 1);
        QCOMPARE(f.chip().parameter(3), 7);
        QCOMPARE(f.open(), 1);
        QCOMPARE(f.lines(), "0F / 00");
        QVERIFY(f.backend().problem().isEmpty());

        SerialFixture silent;
        silent.chip().setSilent(true);
        QCOMPARE(silent.open(), -2);
        QVERIFY(silent.adapter.statusText().endsWith(QStringLiteral("Adapter not found")));
        QVERIFY(silent.backend().problem().contains(QStringLiteral("no DS2480B answers")));
        QCOMPARE(silent.open(), -2);
        silent.chip().setSilent(false);
        QCOMPARE(silent.open(), 1);
        QVERIFY(silent.backend().problem().isEmpty());
    }

    // The datasheet's sequences: reset C1 → CD; Read ROM: E1, 33 → 33,
    // FF × 8 → the ROM, E3 before the next command; Match ROM: 55 and the
    // ROM echoed; Read Scratchpad: BE, then FF × 9 → the scratchpad. An E3
    // in the data goes out twice and comes back once. The reset answer's
    // bits 1..0 (00 shorted, 01 presence, 10 alarming presence, 11 none) and
    // the single bit's answer (bits 1..0 both the bit read; writing 0 reads 0).
    void datasheetSequences()
    {
        SerialFixture f;
        const QByteArray rom = SimFixture::rom(0x28, 0xE3A1B2);
        QVERIFY(rom.contains(char(0xE3)));
        auto *chip = f.add(std::make_unique<SimDs18b20>(rom, 21.5));
        QCOMPARE(f.open(), 1);

        f.clearLines();
        QCOMPARE(f.tmex.TMTouchReset(f.session), short(1));
        QCOMPARE(f.lines(), "C1 / CD");

        QCOMPARE(touch(f.tmex, f.session, QByteArray::fromHex("33FFFFFFFFFFFFFFFF")), "\x33" + rom);
        f.tmex.TMTouchReset(f.session);
        QCOMPARE(f.lines(), "E133FFFFFFFFFFFFFFFFE3C1 / 33" + hex(rom) + "CD");

        QCOMPARE(matchRom(f, rom), short(1));
        QCOMPARE(f.lines(), "C1E155" + hex(rom).replace("E3", "E3E3") + " / CD55" + hex(rom));

        const QByteArray scratchpad = touch(f.tmex, f.session, ReadNine).mid(1);
        QCOMPARE(scratchpad, chip->scratchpad());
        QCOMPARE(f.lines(), "BEFFFFFFFFFFFFFFFFFF / BE" + hex(scratchpad));

        const struct { int result; short presence; } cases[] = {{1, 1}, {2, 1}, {3, 0}, {0, 0}};
        for (const auto &c : cases) {
            f.chip().setResetResult(c.result);
            QCOMPARE(f.tmex.TMTouchReset(f.session), c.presence);
        }
        QVERIFY(f.backend().problem().contains(QStringLiteral("shorted")));
        f.chip().setResetResult(-1);
        QCOMPARE(f.tmex.TMTouchReset(f.session), short(1));
        f.clearLines();
        QCOMPARE(f.tmex.TMTouchBit(f.session, 1), short(1));
        QCOMPARE(f.tmex.TMTouchBit(f.session, 0), short(0));
        QCOMPARE(f.lines(), "9181 / 9380");
    }

    // Parasite power: Convert T armed with the strong pull-up goes out as
    // eight single bits, the last one starting the pull-up (83), which F1
    // ends after the wait (answered EC); the chip converts. Without it the
    // chip browns out and keeps the power-on +85 °C.
    void parasitePower()
    {
        SerialFixture f;
        auto *chip = f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x77), 25.0));
        chip->setParasite(true);
        QCOMPARE(f.open(), 1);
        for (const bool pullup : {false, true}) {
            f.tmex.TMTouchReset(f.session);
            f.tmex.TMTouchByte(f.session, 0xCC);
            f.clearLines();
            if (pullup)
                f.tmex.TMOneWireLevel(f.session, 0, 1, 2);
            QCOMPARE(f.tmex.TMTouchByte(f.session, 0x44), short(0x44));
            f.tmex.waitKeepingSession(f.session, 800);
            f.tmex.TMOneWireLevel(f.session, 0, 0, 0);
            QCOMPARE(f.lines(), pullup ? "E38181918181819183F1 / 8080938080809380EC" : "44 / 44");
            f.tmex.TMTouchReset(f.session);
            QCOMPARE(hex(touch(f.tmex, f.session, "\xCC" + ReadNine).mid(2, 2)), pullup ? "9001" : "5005");
        }

        // A reset ends a pull-up that is still on, and disarms it.
        f.tmex.TMOneWireLevel(f.session, 0, 1, 2);
        f.tmex.TMTouchByte(f.session, 0xCC);
        QVERIFY(f.chip().pulseRunning());
        f.clearLines();
        QCOMPARE(f.tmex.TMTouchReset(f.session), short(1));
        QCOMPARE(f.tmex.TMTouchByte(f.session, 0xCC), short(0xCC));
        QCOMPARE(f.lines(), "F1C1E1CC / ECCDCC");
        QVERIFY(!f.chip().pulseRunning());
    }

    // Every device follows: standard reset C1, Overdrive Skip ROM 3C, overdrive
    // reset C9 with presence, then the devices counted by the search
    // accelerator at overdrive (B9/A9) and at standard speed (B1/A1) and the
    // switch made again. From then on every command carries the overdrive
    // speed bits 10, and the bus time is that of overdrive: 121 µs a reset,
    // 10 µs a time slot.
    void overdriveOn()
    {
        SerialFixture f;
        QVector<QByteArray> roms;
        for (int i = 0; i < 3; ++i)
            roms << SimFixture::rom(0x2D, quint64(0x10E3 + i));
        roms << SimFixture::rom(0x01, 0x5D0C3A);
        for (int i = 0; i < 3; ++i)
            f.add(std::make_unique<SimRomDevice>(roms.at(i), true));
        f.add(std::make_unique<SimIdentityChip>(roms.at(3)));
        QCOMPARE(f.open(), 1);
        QCOMPARE(f.adapter.statusText(), QStringLiteral("Adapter found, No error; Info: OverDrive ON"));
        QVERIFY(f.bus().overdrive());
        const QByteArray host = f.chip().hostBytes();
        QVERIFY(host.startsWith(bytes("00C13F0F" "C1E13CE3C9")));
        QCOMPARE(host.count(bytes("C9E1F0E3B9E1")), 4);
        QCOMPARE(host.count(bytes("C1E1F0E3B1E1")), 4);
        QVERIFY(host.endsWith(bytes("E3A1" "C1E13CE3C9")));

        f.clearLines();
        const qint64 startUs = Clock::tickUs();
        QCOMPARE(matchRom(f, roms.at(3)), short(1));
        QCOMPARE(Clock::tickUs() - startUs, qint64(121 + 9 * 80));
        QCOMPARE(f.tmex.TMTouchBit(f.session, 1), short(1));
        QCOMPARE(Clock::tickUs() - startUs, qint64(121 + 9 * 80 + 10));
        QCOMPARE(f.lines(), "C9E155" + hex(roms.at(3)) + "E399 / CD55" + hex(roms.at(3)) + "9B");

        // The emulator holds a master to its speed bits: after a command at
        // standard speed, a Read ROM in data mode reaches no device.
        QCOMPARE(f.chip().receive(bytes("E3C9A1E133FF")), bytes("CD33FF"));
        QCOMPARE(f.chip().receive(bytes("E3C9A9E133FF")), bytes("CD3301"));
    }

    // A chip that drops off at overdrive speed is missing from the count
    // there: a standard reset brings every device back, the adapter reports
    // "OverDrive OFF", every command keeps the standard speed bits and every
    // device is found. (A DS18B20 that misses the overdrive reset is the
    // serial emulator test's bus of thermometers.)
    void overdriveRefused()
    {
        SerialFixture f;
        const QByteArray dropout = SimFixture::rom(0x2D, 0x3C);
        f.add(std::make_unique<SimRomDevice>(SimFixture::rom(0x2D, 0x1234), true));
        f.add(std::make_unique<SimOverdriveDropout>(dropout, &f.bus()));
        QCOMPARE(f.open(), 1);
        QCOMPARE(f.adapter.statusText(), QStringLiteral("Adapter found, No error; Info: OverDrive OFF"));
        QVERIFY(!f.bus().overdrive());
        const QByteArray host = f.chip().hostBytes();
        QCOMPARE(host.count(bytes("E13C")), 1);
        QCOMPARE(host.count(bytes("C9E1F0E3B9E1")), 1);
        QVERIFY(host.contains(bytes("E3A9" "C1E1F0E3B1E1")));
        RomList found;
        QCOMPARE(f.adapter.search(found), 1);
        QCOMPARE(found.size(), 2);
        QVERIFY(found.contains(SimFixture::romId(dropout)));
    }

    // A garbled or lost answer byte is never taken as data: the operation
    // fails, the master resynchronises the chip (E3, break, C1, the
    // configuration) and the next operation works on the same session.
    void resynchronisation()
    {
        SerialFixture f;
        f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x99), 20.0));
        QCOMPARE(f.open(), 1);
        QCOMPARE(f.tmex.TMTouchReset(f.session), short(1));

        const QByteArray resync = bytes("00C13F0F");
        struct Fault { const char *what; std::function<void(SimDs2480b &)> arm; std::function<short(Tmex &, int32_t)> op; } faults[] = {
            {"echo of a written byte", [](SimDs2480b &c) { c.corruptAnswer(0, 0x01); },
             [](Tmex &t, int32_t s) { return t.TMTouchByte(s, 0xCC); }},
            {"reset answer", [](SimDs2480b &c) { c.corruptAnswer(0, 0x40); },
             [](Tmex &t, int32_t s) { return t.TMTouchReset(s); }},
            {"single bit answer", [](SimDs2480b &c) { c.corruptAnswer(0, 0x01); },
             [](Tmex &t, int32_t s) { return t.TMTouchBit(s, 1); }},
            {"lost echo", [](SimDs2480b &c) { c.dropAnswer(0); },
             [](Tmex &t, int32_t s) { return t.TMTouchByte(s, 0xCC); }},
            {"lost search answer", [](SimDs2480b &c) { c.dropAnswer(5); },
             [](Tmex &t, int32_t s) { uint8_t st[64] = {}; return t.TMFirst(s, st); }},
        };
        for (const Fault &fault : faults) {
            f.clearLines();
            fault.arm(f.chip());
            QVERIFY2(fault.op(f.tmex, f.session) < 1 || QByteArray(fault.what) == "lost search answer", fault.what);
            QVERIFY2(f.chip().hostBytes().endsWith(resync), fault.what);
            QCOMPARE(f.tmex.TMValidSession(f.session), short(1));
            QCOMPARE(f.tmex.TMTouchReset(f.session), short(1));
            QCOMPARE(f.tmex.TMTouchByte(f.session, 0xCC), short(0xCC));
        }
        QCOMPARE(f.open(), 1);
        RomList roms;
        f.adapter.search(roms);
        QCOMPARE(roms.size(), 1);
    }

    // The echo of a search command and the pulse response that follows the
    // end of a strong pull-up are checked wherever they come back: a
    // garbled one fails the exchange (the master resynchronises the chip),
    // so it never turns into a pass that finds no device (an Alarm Search
    // garbled into Skip ROM, EC into CC, would end the alarm list at once)
    // or an answer taken one byte off; the next exchange works again.
    void garbledEchoAndPulseResponse()
    {
        SerialFixture f;
        // 80 °C, above its TH of 75 °C: in alarm once it has converted.
        auto *chip = f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x5E), 80.0));
        QCOMPARE(f.open(), 1);
        Ds2480b &master = f.backend().master();
        QCOMPARE(master.reset(), 1);
        uint8_t convert[] = {0xCC, 0x44};
        QCOMPARE(master.touchBlock(convert, 2), 2);
        Clock::advanceMs(800);
        const QByteArray rom = chip->rom();
        uint8_t path[8], found[8], flags[8];
        std::memcpy(path, rom.constData(), 8);
        auto pullupOn = [&]() {
            QCOMPARE(master.reset(), 1);
            QCOMPARE(master.touchByte(0xCC), 0xCC);
            master.setStrongPullup(true);
            QCOMPARE(master.touchByte(0x44), 0x44);
            QVERIFY(f.chip().pulseRunning());
        };
        struct Case
        {
            const char *what;
            bool pullup;      // the exchange ends a strong pull-up first
            int answer;       // the garbled answer byte of the exchange
            uint8_t mask;
            std::function<int()> op; // -1 expected
        } cases[] = {
            {"disarming", true, 0, 0x80, [&]() { master.setStrongPullup(false); return f.chip().pulseRunning() ? 0 : -1; }},
            {"reset", true, 0, 0x20, [&]() { return master.reset(); }},
            {"bit", true, 0, 0x80, [&]() { return master.touchBit(1); }},
            {"byte", true, 0, 0x40, [&]() { return master.touchByte(0xFF); }},
            {"run", true, 0, 0x80, [&]() { uint8_t run[] = {0xFF, 0xFF}; return master.touchBlock(run, 2); }},
            {"search pass", true, 0, 0x20, [&]() { return master.resetAndSearch(path, found, flags); }},
            {"accelerated pass", true, 0, 0x40, [&]() { return master.searchTriplets(path, found, flags); }},
            {"adapter check", true, 0, 0x80, [&]() { return master.setUp() && f.chip().hostBytes().endsWith(bytes("00C13F0F")) ? -1 : 1; }},
            {"Search ROM echo", false, 1, 0x80, [&]() { return master.resetAndSearch(path, found, flags); }},
            {"Alarm Search echo", false, 1, 0x20,
             [&]() { return master.resetAndSearch(path, found, flags, RomCommand::kAlarmSearch); }},
            {"Alarm Search byte", false, 1, 0x20, [&]() {
                 master.reset();
                 master.touchByte(RomCommand::kAlarmSearch);
                 return master.searchTriplets(path, found, flags);
             }},
            {"Search ROM in a run", false, 1, 0x80, [&]() {
                 master.reset();
                 uint8_t command[] = {RomCommand::kSearch};
                 master.touchBlock(command, 1);
                 return master.searchTriplets(path, found, flags);
             }},
        };
        for (const Case &c : cases) {
            if (c.pullup)
                pullupOn();
            f.clearLines();
            f.chip().corruptAnswer(c.answer, c.mask);
            QVERIFY2(c.op() == -1, c.what);
            QVERIFY2(f.chip().hostBytes().endsWith(bytes("00C13F0F")), c.what);
            QVERIFY2(!f.chip().pulseRunning(), c.what);
            QVERIFY2(master.resetAndSearch(path, found, flags, RomCommand::kAlarmSearch) == 1, c.what);
            QVERIFY2(std::memcmp(found, path, 8) == 0, c.what);
        }
    }

    // One thermometer read: the selection (reset, Search ROM and the
    // accelerated pass along its ROM) and Read Scratchpad with its nine read
    // slots go out in one write: one turnaround on the line. Then a
    // fault at every answer byte of that read: a noise byte before it, the
    // byte lost, a bit flipped. A reading is the right one or none, and the
    // next read is right again.
    void thermometerRead()
    {
        SerialFixture f;
        const QByteArray rom = SimFixture::rom(0x10, 0x4F10);
        auto *chip = f.add(std::make_unique<SimDs18s20>(rom, 21.0));
        RomId id = SimFixture::romId(rom);
        QCOMPARE(f.open(), 1);
        f.tmex.TMTouchReset(f.session);
        touch(f.tmex, f.session, bytes("CC44"));
        Clock::advanceMs(1000);
        f.clearLines();
        f.port().clearCounts();
        QCOMPARE(readS20(f, id), 21.0);
        QCOMPARE(f.port().turnarounds(), qint64(1));
        const int answers = f.chip().answerBytes().size();
        QCOMPARE(answers, 2 + 16 + 10);

        struct Fault { const char *what; std::function<void(SimDs2480b &, int)> arm; } faults[] = {
            {"noise 4F", [](SimDs2480b &c, int at) { c.injectNoise(at, 0x4F); }},
            {"noise 00", [](SimDs2480b &c, int at) { c.injectNoise(at, 0x00); }},
            {"noise FF", [](SimDs2480b &c, int at) { c.injectNoise(at, 0xFF); }},
            {"dropped", [](SimDs2480b &c, int at) { c.dropAnswer(at); }},
            {"bit 0 flipped", [](SimDs2480b &c, int at) { c.corruptAnswer(at, 0x01); }},
            {"bit 6 flipped", [](SimDs2480b &c, int at) { c.corruptAnswer(at, 0x40); }},
        };
        // Right after the Read Scratchpad echo, one noise value in 256 makes
        // the shifted scratchpad pass its CRC: that one.
        const QByteArray scratchpad = chip->scratchpad();
        int passing = 0;
        while (Crc::dallas8(QByteArray(1, char(passing)) + scratchpad.left(8)) != 0)
            ++passing;
        f.chip().injectNoise(answers - 9, uint8_t(passing));
        const double value = readS20(f, id);
        QVERIFY2(std::isnan(value) || value == 21.0, QByteArray::number(value));
        // A thermometer that has left the bus: the pass ends on the one that
        // is there, which gets the Read Scratchpad; its answers are dropped.
        RomId gone = SimFixture::romId(SimFixture::rom(0x10, 0x4F11));
        QVERIFY(std::isnan(readS20(f, gone)));
        QCOMPARE(readS20(f, id), 21.0);
        f.backend().master().setReadTimeoutMs(30);
        for (const Fault &fault : faults) {
            for (int at = 0; at < answers; ++at) {
                const QByteArray where = QByteArray(fault.what) + " at answer " + QByteArray::number(at);
                fault.arm(f.chip(), at);
                const double value = readS20(f, id);
                QVERIFY2(std::isnan(value) || value == 21.0, where + ": " + QByteArray::number(value));
                QCOMPARE(readS20(f, id), 21.0);
            }
        }
    }

    // Without a break reaching the chip (a pseudo-terminal carries none): a
    // chip left in its infinite strong pull-up by a lost answer is reset by
    // the slow NUL; a chip whose answers come 30 ms late, after the settling
    // time, still powers up.
    void recoveryWithoutBreak()
    {
        SerialFixture f;
        f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x5A), 25.0));
        QCOMPARE(f.open(), 1);
        f.tmex.TMTouchReset(f.session);
        f.tmex.TMTouchByte(f.session, 0xCC);
        f.tmex.TMOneWireLevel(f.session, 0, 1, 2);
        f.chip().dropAnswer(7);
        QCOMPARE(f.tmex.TMTouchByte(f.session, 0x44), short(-1));
        QVERIFY(!f.chip().pulseRunning());
        QCOMPARE(f.tmex.TMTouchReset(f.session), short(1));
        QCOMPARE(hex(touch(f.tmex, f.session, bytes("CCBEFF"))), "CCBE50");

        SerialFixture late;
        late.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x5B), 25.0));
        late.port().setAnswerDelayMs(30);
        QCOMPARE(late.open(), 1);
        QVERIFY(late.chip().hostBytes().startsWith(bytes("00C13F0F" "C1E13C")));
        QVERIFY2(late.chip().answerBytes().startsWith(bytes("3E00")), hex(late.chip().answerBytes()));
        QCOMPARE(late.tmex.TMTouchReset(late.session), short(1));
        QCOMPARE(hex(touch(late.tmex, late.session, bytes("CCBEFF"))), "CCBE50");
    }

    // Bytes that do not belong to an answer: one inside it (the answer
    // arrives complete with one byte left over), one that trails it a moment
    // later, one that came before the exchange; and an echo with a 1 where a
    // 0 was written. The first two and the last fail the exchange (the
    // master resynchronises), the stale one is dropped and the exchange
    // reads right. Read ROM answers in read slots, so no echo check could
    // catch a shifted answer.
    void bytesThatDoNotBelong()
    {
        SerialFixture f;
        const QByteArray rom = SimFixture::rom(0x28, 0x4B46);
        f.add(std::make_unique<SimDs18b20>(rom, 21.5));
        QCOMPARE(f.open(), 1);
        auto readRom = [&]() {
            if (f.tmex.TMTouchReset(f.session) != 1)
                return QByteArray("no presence");
            QByteArray run = bytes("33FFFFFFFFFFFFFFFF");
            if (f.tmex.blockIO(f.session, run) != run.size())
                return QByteArray("failed");
            return run.mid(1);
        };
        QCOMPARE(readRom(), rom);
        f.chip().injectNoise(3, 0x5A); // the reset's answer, the echo of 33, then the noise
        QCOMPARE(readRom(), QByteArray("failed"));
        QCOMPARE(readRom(), rom);
        f.tmex.TMTouchReset(f.session);
        f.port().trailNextAnswer(0x5A);
        QByteArray run = bytes("33FFFFFFFFFFFFFFFF");
        QCOMPARE(int(f.tmex.blockIO(f.session, run)), -1);
        QCOMPARE(readRom(), rom);
        f.tmex.TMTouchReset(f.session);
        f.port().sendUnasked(bytes("5A"));
        run = bytes("33FFFFFFFFFFFFFFFF");
        QCOMPARE(int(f.tmex.blockIO(f.session, run)), run.size());
        QCOMPARE(run.mid(1), rom);

        f.tmex.TMTouchReset(f.session);
        f.clearLines();
        f.chip().corruptAnswer(0, 0x02);
        run = "\x55" + rom;
        QCOMPARE(int(f.tmex.blockIO(f.session, run)), -1);
        QVERIFY(f.chip().hostBytes().endsWith(bytes("00C13F0F")));
        QCOMPARE(readRom(), rom);
    }

    // A power-up whose answers come garbled is tried again, up to three
    // times (from the second on with F1 E3 first); a third garbled one
    // means no adapter.
    void powerUpTries()
    {
        for (const int garbled : {2, 3}) {
            SerialFixture f;
            for (int i = 0; i < garbled; ++i)
                f.chip().corruptAnswer(2 * i, 0x40);
            QCOMPARE(f.open(), garbled < 3 ? 1 : -2);
            QCOMPARE(f.chip().hostBytes().count(bytes("F1E3")), 2);
        }
    }

    // The master leaves the chip in command mode, with no pull-up running,
    // when it goes (after a run in data mode, after a pull-up): the next
    // program's reset is a reset.
    void leavesCommandMode()
    {
        SimFixture sim;
        sim.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x31), 20.0));
        SimDs2480b chip(&sim.bus());
        SimPty port(&chip);
        QTemporaryDir dir;
        QString error;
        QVERIFY2(port.open(dir.filePath(QStringLiteral("tty")), &error), qPrintable(error));
        for (const bool pullup : {false, true}) {
            {
                Ds2480b master(port.path());
                master.setReadTimeoutMs(100);
                QVERIFY(master.setUp());
                QCOMPARE(master.reset(), 1);
                uint8_t run[] = {0xCC, 0xBE, 0xFF};
                QCOMPARE(master.touchBlock(run, 3), 3);
                if (pullup) {
                    QCOMPARE(master.reset(), 1);
                    QCOMPARE(master.touchByte(0xCC), 0xCC);
                    master.setStrongPullup(true);
                    QCOMPARE(master.touchByte(0x44), 0x44);
                    QVERIFY(chip.pulseRunning());
                } else {
                    QVERIFY(chip.dataMode());
                }
            }
            QTRY_VERIFY(!chip.dataMode() && !chip.pulseRunning());
            QVERIFY2(chip.violations().isEmpty(), qPrintable(chip.violations().join(QLatin1Char(';'))));
            QCOMPARE(chip.receive(bytes("C1")), bytes("CD"));
        }
    }

    // The emulated chip counts what the datasheet forbids: a first byte
    // after a reset that is not a reset command, a byte that overruns the
    // one-byte input buffer (bytes sent faster than the bus takes them), a
    // byte at another baud rate. A NUL at half the rate resets it.
    void datasheetViolations()
    {
        SimFixture sim;
        sim.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x32), 20.0));
        SimDs2480b chip(&sim.bus());
        chip.receive(bytes("F1"));
        QCOMPARE(chip.violations().size(), 1);
        QVERIFY(chip.violations().at(0).contains(QStringLiteral("F1")));
        chip.setHostBaud(4800);
        chip.receive(bytes("00"));
        QCOMPARE(chip.masterResets(), 1);
        chip.setHostBaud(19200);
        chip.receive(bytes("C1"));
        QCOMPARE(chip.violations().size(), 2);
        chip.setHostBaud(9600);
        chip.clearViolations();
        QCOMPARE(chip.receive(bytes("C1C1E1FF")), bytes("CDFF"));
        QVERIFY(chip.violations().isEmpty());
        // At 9600 baud a data byte's eight slots (0.56 ms) fit in a byte's
        // line time (1.04 ms); at 115.2 kbps they do not.
        chip.setByteTimeUs(1042);
        chip.receive(bytes("FFFFFFFF"));
        QVERIFY(chip.violations().isEmpty());
        chip.setByteTimeUs(87);
        chip.receive(bytes("FFFFFFFF"));
        QVERIFY(chip.violations().size() >= 2);
        QVERIFY(chip.violations().at(0).contains(QStringLiteral("input buffer")));
    }

    // A noise byte and a dropped byte in one scratchpad answer: the shifted
    // bytes 5E 00 FF 4B 46 7F FF 0C 10 pass their CRC by chance and read
    // 5.875 °C with configuration 46h. Their fixed bytes are wrong, a second
    // read disagrees, and the read after gives the true -10.125 °C; nothing
    // is written to the sensor. The 12-bit configuration is written only
    // from two agreeing reads and copied to EEPROM only after a read back.
    void noisyScratchpads()
    {
        SerialFixture f;
        const QByteArray rom = SimFixture::rom(0x28, 0x1013);
        auto *chip = f.add(std::make_unique<SimDs18b20>(rom, -10.125));
        chip->pinScratchpad(bytes("5EFF4B467FFF0C10"));
        const QByteArray factory = chip->eeprom();
        QCOMPARE(f.open(), 1);
        RomId id = SimFixture::romId(rom);
        auto readB20 = [&]() {
            Ds18b20 driver(f.tmex, &f.session, f.adapter.accessStateBuffer(), id.data());
            double value = 0;
            driver.convertAndRead(&value, Ds18x20::ReadOnly);
            return value;
        };
        QCOMPARE(readB20(), -10.125);
        // Selection 18 answers, then BE and the scratchpad: noise before its
        // second byte, its CRC byte lost.
        f.chip().injectNoise(18 + 2, 0x00);
        f.chip().dropAnswer(18 + 9);
        QCOMPARE(readB20(), -10.125);
        QCOMPARE(chip->scratchpad().mid(2, 3), bytes("4B467F"));
        QCOMPARE(chip->eeprom(), factory);

        chip->pinScratchpad(bytes("93011E055FFF0C10"));
        const QByteArray pinned = chip->eeprom();
        // The second read (after the first read's 28 answers and the
        // selection's 18) garbled in a read slot: no write this time.
        f.chip().corruptAnswer(28 + 18 + 2, 0x01);
        QCOMPARE(readB20(), 25.125);
        QCOMPARE(chip->scratchpad().at(4), char(0x5F));
        QCOMPARE(chip->eeprom(), pinned);
        QCOMPARE(readB20(), 25.125);
        QCOMPARE(chip->eeprom(), bytes("1E057F"));
    }

    // Three cycles of four thermometers (in alarm at their factory TH/TL,
    // so the Alarm Search finds all four): the first opens the adapter
    // (power-up, overdrive tried and refused), every cycle checks the
    // adapter, searches, converts them all, reads each in one round trip
    // and runs the Alarm Search. 26 a cycle, 86 in all, when a read took two.
    void cycleRoundTrips()
    {
        SerialFixture f;
        for (int i = 0; i < 4; ++i)
            f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, quint64(0x4400 + i)), 20.0 + i));
        MeasurementSession session(&f.backend());
        QVector<qint64> trips;
        for (int c = 0; c < 3; ++c) {
            int opened = 0;
            const qint64 before = f.port().turnarounds();
            QCOMPARE(cycle(session, &opened).size(), 4);
            trips << f.port().turnarounds() - before;
        }
        QCOMPARE(trips, QVector<qint64>({30, 22, 22}));
    }

    // A master whose search answers never settle: the search ends with an
    // error after a bounded number of passes instead of running for ever.
    void searchThatNeverSettles()
    {
        SimFixture sim;
        for (int i = 0; i < 5; ++i)
            sim.add(std::make_unique<SimRomDevice>(SimFixture::rom(0x28, quint64(0x1000 + 37 * i))));
        SwappedSearchMaster master(&sim.bus());
        WireBackend backend(&master);
        sim.tmex.setBackend(&backend);
        QCOMPARE(sim.adapter.open(), 1);
        master.passes = 0;
        RomList roms;
        QCOMPARE(sim.adapter.search(roms), Adapter::kSearchUnsettled);
        QVERIFY(master.passes > 1 && master.passes <= 4096);
    }

    // The adapter is pulled out in the middle of a cycle: the cycle ends
    // without readings, the session is invalid, every open reports the
    // adapter not found; plugged in again, the next cycle reads again.
    void unplugAndReplug()
    {
        SerialFixture f;
        f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x11), 21.0));
        f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x22), 22.0));
        MeasurementSession session(&f.backend());
        Adapter &adapter = session.adapter();
        int opened = 0;
        QMap<QString, double> values = cycle(session, &opened);
        QCOMPARE(opened, 1);
        QCOMPARE(values.size(), 2);
        QCOMPARE(values.value(romToText(SimFixture::romId(SimFixture::rom(0x28, 0x22)), false)), 22.0);

        // Enough for the next open and search, not for the readings.
        f.port().vanishAfter(60);
        const qint64 startMs = Clock::tickMs();
        values = cycle(session, &opened);
        QCOMPARE(opened, 1);
        QVERIFY(values.isEmpty());
        QVERIFY(!f.port().plugged());
        QVERIFY(Clock::tickMs() - startMs < 20000);
        QCOMPARE(adapter.tmex().TMValidSession(adapter.sessionHandle()), short(0));
        QCOMPARE(adapter.open(), -2);
        QVERIFY(f.backend().problem().contains(QStringLiteral("gone")));
        QCOMPARE(adapter.open(), -2);

        QString error;
        QVERIFY2(f.port().replug(&error), qPrintable(error));
        values = cycle(session, &opened);
        QCOMPARE(opened, 1);
        QCOMPARE(values.size(), 2);
        QVERIFY(f.backend().problem().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TstDs2480b)
#include "tst_ds2480b.moc"
