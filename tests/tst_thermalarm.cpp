#include "base/appsettings.h"
#include "base/clock.h"
#include "bus/romcommands.h"
#include "model/readingsink.h"
#include "onewire/adapter.h"
#include "onewire/tmex.h"
#include "sensors/ds18b20.h"
#include "sensors/ds18s20.h"
#include "sensors/sensor.h"
#include "session/measurementsession.h"
#include "sim/simds18b20.h"
#include "sim/simds18s20.h"
#include "sim/simmax31850.h"
#include "sim/simromdevice.h"
#include "sim/simbusloader.h"
#include "support/orvexctlrun.h"
#include "support/serialfixture.h"
#include "support/simfixture.h"
#include "support/windowrig.h"
#include "table/tableman.h"

#include <QAction>
#include <QMenu>
#include <QTableView>
#include <QtTest>
#include <algorithm>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// Converts every thermometer at once (Skip ROM, Convert T) and lets the
// conversions end.
void convertAll(SimFixture &f)
{
    f.tmex.TMTouchReset(f.session);
    f.tmex.TMTouchByte(f.session, RomCommand::kSkip);
    f.tmex.TMTouchByte(f.session, 0x44);
    Clock::advanceMs(800);
    f.tmex.TMTouchReset(f.session);
}

// Selects `rom` with Match ROM and sends `bytes`; returns what came back.
QByteArray sendTo(SimFixture &f, const QByteArray &rom, const QByteArray &bytes)
{
    f.tmex.TMTouchReset(f.session);
    QByteArray answer;
    for (char b : QByteArray(char(RomCommand::kMatch) + rom + bytes))
        answer.append(char(f.tmex.TMTouchByte(f.session, uint8_t(b))));
    return answer.mid(9);
}

// The ROMs an Alarm Search finds, sorted, as hex.
QStringList alarming(Adapter &adapter, int *result = nullptr)
{
    RomList roms;
    const int r = adapter.alarmSearch(roms);
    if (result)
        *result = r;
    QStringList list;
    for (const RomId &rom : roms) {
        QByteArray bytes;
        for (short b : rom)
            bytes.append(char(b));
        list << bytes.toHex().toUpper();
    }
    std::sort(list.begin(), list.end());
    return list;
}

QStringList sortedHex(QList<QByteArray> roms)
{
    QStringList list;
    for (const QByteArray &rom : roms)
        list << rom.toHex().toUpper();
    std::sort(list.begin(), list.end());
    return list;
}

// The driver as the dispatcher builds it, for one device.
template <typename Driver>
int writeThresholds(SimFixture &f, const QByteArray &rom, int high, int low)
{
    RomId buffer = SimFixture::romId(rom);
    Driver driver(f.tmex, &f.session, f.adapter.accessStateBuffer(), buffer.data());
    return driver.writeThresholds(high, low);
}

// Calls from log entry `from` on, one word each: byte values for
// TMTouchByte, names for the rest (TMOneWireLevel with its level).
QStringList callsSince(SimFixture &f, int from)
{
    QStringList calls;
    const QVector<TrafficEntry> &log = f.backend().traffic();
    for (int i = from; i < log.size(); ++i) {
        const TrafficEntry &e = log[i];
        if (e.call == QLatin1String("TMTouchByte"))
            calls << QString::number(e.args.value(0), 16).toUpper().rightJustified(2, '0');
        else if (e.call == QLatin1String("TMOneWireLevel"))
            calls << QStringLiteral("level%1").arg(e.args.value(1));
        else if (e.call != QLatin1String("TMValidSession") && e.call != QLatin1String("TMCRC"))
            calls << e.call;
    }
    return calls;
}

// The simulated bus whose adapter fails every Alarm Search step (TMFirstAlarm
// or TMNextAlarm, by `failFrom`: 0 the first step on, 1 the second) while
// `failing` is set, as one that noise keeps garbling does.
class FailingAlarmSearch : public SimBackend
{
public:
    bool failing = false;
    int failFrom = 0;
    short firstAlarm(int32_t session, void *state) override
    {
        return failing && failFrom == 0 ? -1 : SimBackend::firstAlarm(session, state);
    }
    short nextAlarm(int32_t session, void *state) override
    {
        return failing ? -1 : SimBackend::nextAlarm(session, state);
    }
};

// A reading sink that asks for a threshold write from inside the cycle's
// table update, as an operator's click processed during a read would.
class WritingSink : public ReadingSink
{
public:
    WritingSink(MeasurementSession &session, uint64_t key)
        : m_session(session)
        , m_key(key)
    {
    }
    void takeReading(const SensorDevice &, int) override
    {
        if (asked)
            return;
        asked = true;
        m_session.writeThresholds(m_key, 30, 10, [this](int r) { result = r; });
        answeredInside = result != 0;
    }
    bool asked = false;
    bool answeredInside = false;
    int result = 0;

private:
    MeasurementSession &m_session;
    uint64_t m_key;
};

} // namespace

// The thermometers' own alarm thresholds: the simulated chips' TH/TL and
// alarm flag, the Alarm Search on several masters, the driver's write,
// the session's marks and the window's action.
class TstThermAlarm : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
        WindowRig::prepareProcess();
    }
    void init() { Clock::setVirtual(); }

    // The flag follows each conversion: whole degrees (rounded down) above
    // TH or at or below TL, compared as signed bytes; it stays as it was until the next
    // conversion (a TH written meanwhile changes nothing) and is clear after
    // power-on.
    void simAlarmFlag()
    {
        struct Case
        {
            double celsius;
            int th, tl;
            bool alarm;
        } const cases[] = {
            {25.0, 25, 10, false},  {25.5, 25, 10, false},   {26.0, 25, 10, true},   {10.0, 25, 10, true},
            {10.5, 25, 10, true},   {11.0, 25, 10, false},   {9.5, 25, 10, true},    {-0.5, 25, 0, true},
            {-4.0, -5, -20, true},  {-5.0, -5, -20, false},  {-20.0, -5, -20, true}, {-19.5, -5, -20, true},
            {-19.0, -5, -20, false}, {125.0, 125, -55, false},
        };
        for (bool s20 : {false, true}) {
            for (const Case &c : cases) {
                SimFixture f;
                const QByteArray rom = SimFixture::rom(s20 ? 0x10 : 0x28, 0x51);
                SimDs18x20 *chip = s20 ? static_cast<SimDs18x20 *>(f.add(std::make_unique<SimDs18s20>(rom, c.celsius)))
                                       : f.add(std::make_unique<SimDs18b20>(rom, c.celsius));
                QVERIFY(!chip->alarmCondition());
                QCOMPARE(f.open(), 1);
                sendTo(f, rom, QByteArray("\x4E") + char(int8_t(c.th)) + char(int8_t(c.tl)) + (s20 ? "" : "\x7F"));
                convertAll(f);
                const QString what = QStringLiteral("%1 °C TH %2 TL %3 %4")
                                         .arg(c.celsius).arg(c.th).arg(c.tl).arg(chip->kind());
                QVERIFY2(chip->alarmCondition() == c.alarm, qPrintable(what));
                // Thresholds that would turn it over count only from the next conversion.
                sendTo(f, rom, QByteArray("\x4E") + char(c.alarm ? 125 : -55) + char(c.alarm ? -55 : 125)
                                   + (s20 ? "" : "\x7F"));
                QVERIFY2(chip->alarmCondition() == c.alarm, qPrintable(what));
                convertAll(f);
                QVERIFY2(chip->alarmCondition() == !c.alarm, qPrintable(what));
                chip->powerCycle();
                QVERIFY(!chip->alarmCondition());
            }
        }
    }

    // TH/TL live in the scratchpad until Copy Scratchpad puts them in EEPROM;
    // Recall E2 and power-on bring the EEPROM back. A parasite-powered chip
    // copies only on the strong pull-up.
    void simEepromCopy()
    {
        SimFixture f;
        const QByteArray rom = SimFixture::rom(0x28, 0x52);
        auto *chip = f.add(std::make_unique<SimDs18b20>(rom));
        chip->setResolution(10);
        QCOMPARE(f.open(), 1);
        sendTo(f, rom, hex("4E1E0A3F"));
        QCOMPARE(chip->scratchpad().mid(2, 3), hex("1E0A3F"));
        QCOMPARE(chip->eeprom(), hex("4B463F"));
        sendTo(f, rom, hex("B8"));
        QCOMPARE(chip->scratchpad().mid(2, 3), hex("4B463F"));
        sendTo(f, rom, hex("4E1E0A3F"));
        sendTo(f, rom, hex("48"));
        QCOMPARE(chip->eeprom(), hex("1E0A3F"));
        chip->powerCycle();
        QCOMPARE(chip->scratchpad().mid(2, 3), hex("1E0A3F"));

        chip->setParasite(true);
        sendTo(f, rom, hex("4E2814"));
        sendTo(f, rom, hex("48"));
        QCOMPARE(chip->eeprom(), hex("1E0A3F"));
        sendTo(f, rom, hex("4E2814"));
        f.tmex.TMTouchReset(f.session);
        for (char b : QByteArray("\x55" + rom))
            f.tmex.TMTouchByte(f.session, uint8_t(b));
        f.tmex.TMOneWireLevel(f.session, 0, 1, 2);
        f.tmex.TMTouchByte(f.session, 0x48);
        Clock::advanceMs(10);
        f.tmex.TMOneWireLevel(f.session, 0, 0, 0);
        QCOMPARE(chip->eeprom(), hex("28143F"));
    }

    // Only the flagged devices take part: on a bus whose ROMs branch at
    // many bits, each subset of alarming chips is found exactly, through the
    // plain master's time slots and through the DS2480B's search
    // accelerator; a bus with none alarming costs one reset and a few slots.
    void alarmSearchFindsFlagged_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::newRow("time slots") << false;
        QTest::newRow("DS2480B") << true;
    }
    void alarmSearchFindsFlagged()
    {
        QFETCH(bool, serial);
        SimFixture plain;
        SerialFixture adapter;
        SimFixture &f = serial ? adapter : plain;
        const quint64 serials[] = {0x01, 0x02, 0x03, 0x81, 0x8000000001, 0xFF};
        QVector<SimDs18x20 *> chips;
        for (quint64 s : serials)
            chips << f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, s), 20.0));
        chips << f.add(std::make_unique<SimDs18s20>(SimFixture::rom(0x10, 0x02), 20.0));
        f.add(std::make_unique<SimRomDevice>(SimFixture::rom(0x01, 0x03)));
        QCOMPARE(f.open(), 1);
        RomList all;
        QCOMPARE(f.adapter.search(all), 1);
        QCOMPARE(all.size(), 8);

        // Each chip's TH decides: 19 alarms at 20 °C, 25 does not.
        for (int mask : {0x00, 0x7F, 0x01, 0x12, 0x48, 0x2D}) {
            QList<QByteArray> expected;
            for (int i = 0; i < chips.size(); ++i) {
                const bool on = mask & (1 << i);
                sendTo(f, chips[i]->rom(), QByteArray("\x4E") + char(on ? 19 : 25) + char(-10)
                                               + (chips[i]->kind() == QLatin1String("DS18B20") ? "\x7F" : ""));
                if (on)
                    expected << chips[i]->rom();
            }
            convertAll(f);
            int result = 0;
            QCOMPARE(alarming(f.adapter, &result), sortedHex(expected));
            QCOMPARE(result, 1);
        }
        // The full search still finds every device after the alarm searches.
        QCOMPARE(f.adapter.search(all), 1);
        QCOMPARE(all.size(), 8);
    }

    // The write on the wire: the scratchpad read first, Write Scratchpad
    // with TH, TL and the configuration the device has (the DS18S20 has
    // none), the read back, then Copy Scratchpad with the strong pull-up
    // held over the EEPROM wait; the thresholds survive power-on.
    void writeOnTheWire()
    {
        SimFixture f;
        const QByteArray b20 = SimFixture::rom(0x28, 0x61);
        const QByteArray s20 = SimFixture::rom(0x10, 0x62);
        auto *chipB = f.add(std::make_unique<SimDs18b20>(b20));
        auto *chipS = f.add(std::make_unique<SimDs18s20>(s20));
        chipB->setResolution(11);
        chipS->setParasite(true);
        QCOMPARE(f.open(), 1);
        f.backend().setTrafficLogging(true);

        const QString read = QStringLiteral("TMStrongAccess BE FF FF FF FF FF FF FF FF FF");
        int from = f.backend().traffic().size();
        QCOMPARE(writeThresholds<Ds18b20>(f, b20, 30, -10), 1);
        QCOMPARE(callsSince(f, from).join(' '),
                 "TMRom " + read + " TMStrongAccess 4E 1E F6 5F " + read + " TMStrongAccess level1 48 level0");
        QCOMPARE(chipB->eeprom(), hex("1EF65F"));

        from = f.backend().traffic().size();
        QCOMPARE(writeThresholds<Ds18s20>(f, s20, 125, -55), 1);
        QCOMPARE(callsSince(f, from).join(' '),
                 "TMRom " + read + " TMStrongAccess 4E 7D C9 " + read + " TMStrongAccess level1 48 level0");
        QCOMPARE(chipS->eeprom(), hex("7DC9"));
        // The pull-up stays on for the EEPROM wait (at most 10 ms by the datasheet).
        const QVector<TrafficEntry> &log = f.backend().traffic();
        qint64 copyUs = -1, offUs = -1;
        for (int i = from; i < log.size(); ++i) {
            if (log[i].call == QLatin1String("TMTouchByte") && log[i].args.value(0) == 0x48)
                copyUs = log[i].timeUs;
            if (copyUs >= 0 && log[i].call == QLatin1String("TMOneWireLevel") && log[i].args.value(1) == 0)
                offUs = log[i].timeUs;
        }
        QVERIFY(copyUs >= 0 && offUs - copyUs >= 10000);

        chipB->powerCycle();
        chipS->powerCycle();
        QCOMPARE(chipB->scratchpad().mid(2, 3), hex("1EF65F"));
        QCOMPARE(chipS->scratchpad().mid(2, 2), hex("7DC9"));

        // The read's own copy (12-bit resolution kept in EEPROM) reaches a
        // parasite-powered chip's EEPROM too.
        chipB->setParasite(true);
        chipB->setResolution(9);
        RomId buffer = SimFixture::romId(b20);
        Ds18b20 reader(f.tmex, &f.session, f.adapter.accessStateBuffer(), buffer.data());
        double value = 0;
        QCOMPARE(reader.convertAndRead(&value, Ds18x20::ConvertThis), 1);
        QCOMPARE(chipB->eeprom(), hex("1EF67F"));
    }

    // Refusals and failures say so and change nothing they should not:
    // values out of range send nothing; a first read that fails its CRC
    // writes nothing; a read back that differs copies nothing; a device
    // that does not answer is reported as such.
    void writeRefusedOrFailed()
    {
        SimFixture f;
        const QByteArray rom = SimFixture::rom(0x28, 0x71);
        auto *chip = f.add(std::make_unique<SimDs18b20>(rom));
        QCOMPARE(f.open(), 1);
        f.backend().setTrafficLogging(true);
        for (auto range : {std::make_pair(126, 0), std::make_pair(20, -56), std::make_pair(10, 11)}) {
            const int from = f.backend().traffic().size();
            QCOMPARE(writeThresholds<Ds18b20>(f, rom, range.first, range.second), Ds18x20::kThresholdsOutOfRange);
            QCOMPARE(f.backend().traffic().size(), from);
        }
        QCOMPARE(writeThresholds<Ds18b20>(f, rom, 10, 10), 1);
        QCOMPARE(chip->eeprom(), hex("0A0A7F"));

        chip->failCrc(1);
        int from = f.backend().traffic().size();
        QCOMPARE(writeThresholds<Ds18b20>(f, rom, 40, 5), Ds18x20::kBadScratchpad);
        QVERIFY(!callsSince(f, from).contains("4E"));
        QCOMPARE(chip->scratchpad().mid(2, 3), hex("0A0A7F"));

        chip->loseWrites(1);
        from = f.backend().traffic().size();
        QCOMPARE(writeThresholds<Ds18b20>(f, rom, 40, 5), Ds18x20::kReadBackDiffers);
        QVERIFY(callsSince(f, from).contains("4E"));
        QVERIFY(!callsSince(f, from).contains("48"));
        QCOMPARE(chip->eeprom(), hex("0A0A7F"));

        chip->setSilent(true);
        QCOMPARE(writeThresholds<Ds18b20>(f, rom, 40, 5), Ds18x20::kNotSelected);
        chip->setSilent(false);
        QCOMPARE(writeThresholds<Ds18b20>(f, rom, 40, 5), 1);
        QCOMPARE(chip->eeprom(), hex("2805" "7F"));
    }

    // A cycle ends with one Alarm Search per bus: the channels of the
    // thermometers it finds carry the mark, the table shows it in words beside
    // the type (the value cell stays the number) with
    // the thermometer's TH/TL in the value's tooltip, and a bus without
    // thermometers is not searched. The cost: one search step per alarming
    // device and one to end.
    void sessionMarksHardwareAlarms()
    {
        SimFixture f;
        auto *hot = f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x81), 30.0));
        auto *cold = f.add(std::make_unique<SimDs18s20>(SimFixture::rom(0x10, 0x82), 12.0));
        f.add(std::make_unique<SimRomDevice>(SimFixture::rom(0x01, 0x83)));
        QCOMPARE(f.open(), 1);
        sendTo(f, hot->rom(), hex("4E19F67F"));  // TH 25: 30 °C alarms
        sendTo(f, cold->rom(), hex("4E1905"));   // TH 25, TL 5: 12 °C does not
        f.backend().setTrafficLogging(true);

        MeasurementSession session(&f.backend());
        session.keepTable(true);
        session.cycle();
        QCOMPARE(f.backend().callCount("TMFirstAlarm"), 1);
        QCOMPARE(f.backend().callCount("TMNextAlarm"), 1);
        QCOMPARE(session.alarmSearchResult(), 1);
        TableMan &table = session.table();
        const int hotRow = table.findRow(WindowRig::romText(hot->rom()), 0, -1, 0);
        const int coldRow = table.findRow(WindowRig::romText(cold->rom()), 0, -1, 0);
        QVERIFY(hotRow >= 0 && coldRow >= 0);
        QVERIFY(table.isRowHardwareAlarm(hotRow));
        QVERIFY(!table.isRowHardwareAlarm(coldRow));
        const QString shown = table.data(table.index(hotRow, TableMan::ColType)).toString();
        QVERIFY2(shown.startsWith("DS18B20") && shown.contains("аппаратная тревога"), qPrintable(shown));
        QCOMPARE(table.data(table.index(hotRow, TableMan::ColValue)).toString(),
                 table.cellText(hotRow, TableMan::ColValue));
        QVERIFY(table.data(table.index(hotRow, TableMan::ColValue), Qt::BackgroundRole).isValid());
        QVERIFY(table.valueTip(hotRow).contains("TL -10 °C, TH 25 °C"));
        QVERIFY(table.valueTip(hotRow).contains("Аппаратная тревога"));
        QVERIFY(table.valueTip(coldRow).contains("TL 5 °C, TH 25 °C"));
        QVERIFY(!table.data(table.index(coldRow, TableMan::ColType)).toString().contains("тревога"));

        // Cooled down: the next cycle clears the mark.
        hot->setTemperature(SimTemperature(20.0));
        cold->setTemperature(SimTemperature(4.0));
        session.cycle();
        QVERIFY(!table.isRowHardwareAlarm(hotRow));
        QVERIFY(table.isRowHardwareAlarm(coldRow));

        SimFixture plain;
        plain.add(std::make_unique<SimRomDevice>(SimFixture::rom(0x01, 0x84)));
        plain.backend().setTrafficLogging(true);
        MeasurementSession other(&plain.backend());
        other.cycle();
        QCOMPARE(plain.backend().callCount("TMFirstAlarm"), 0);
    }

    // An Alarm Search whose adapter failed, at its first step or a later
    // one, is a failure, never "none in alarm" or a shorter list: the cycle
    // reports it and every mark stays as the last search that came to its
    // end left it, alarming or not.
    void failedAlarmSearchKeepsMarks_data()
    {
        QTest::addColumn<int>("failFrom");
        QTest::newRow("first step") << 0;
        QTest::newRow("second step") << 1;
    }
    void failedAlarmSearchKeepsMarks()
    {
        QFETCH(int, failFrom);
        auto owned = std::make_unique<FailingAlarmSearch>();
        FailingAlarmSearch *backend = owned.get();
        SimFixture f(std::move(owned));
        auto *hot = f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x91), 30.0));
        auto *warm = f.add(std::make_unique<SimDs18s20>(SimFixture::rom(0x10, 0x92), 30.0));
        auto *cold = f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x93), 20.0));
        QCOMPARE(f.open(), 1);
        for (SimDs18x20 *chip : {static_cast<SimDs18x20 *>(hot), static_cast<SimDs18x20 *>(warm),
                                 static_cast<SimDs18x20 *>(cold)})
            sendTo(f, chip->rom(), QByteArray("\x4E\x19\xF6") + (chip == warm ? "" : "\x7F")); // TH 25
        MeasurementSession session(&f.backend());
        session.keepTable(true);
        session.cycle();
        QCOMPARE(session.alarmSearchResult(), 2);
        TableMan &table = session.table();
        auto marked = [&](SimDs18x20 *chip) {
            return table.isRowHardwareAlarm(table.findRow(WindowRig::romText(chip->rom()), 0, -1, 0));
        };
        QVERIFY(marked(hot) && marked(warm) && !marked(cold));

        // All three would now answer differently: a failure must change nothing.
        hot->setTemperature(SimTemperature(20.0));
        cold->setTemperature(SimTemperature(30.0));
        backend->failFrom = failFrom;
        backend->failing = true;
        session.cycle();
        QCOMPARE(session.alarmSearchResult(), Adapter::kAlarmSearchFailed);
        QVERIFY(marked(hot) && marked(warm) && !marked(cold));

        backend->failing = false;
        session.cycle();
        QCOMPARE(session.alarmSearchResult(), 2);
        QVERIFY(!marked(hot) && marked(warm) && marked(cold));
    }

    // Through the session: refused while the last reading failed (nothing
    // on the wire), written once it reads again; asked during a cycle, the
    // write waits for the cycle's end; outcomes come back in words.
    void sessionWrites()
    {
        SimFixture f;
        auto *chip = f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x91), 20.0));
        f.backend().setTrafficLogging(true);
        MeasurementSession session(&f.backend());
        session.keepTable(true);
        const uint64_t key = Sensor::keyOf(SimFixture::romId(chip->rom()));

        chip->failCrc(1000);
        session.cycle();
        int result = 0;
        int from = f.backend().traffic().size();
        session.writeThresholds(key, 30, 10, [&](int r) { result = r; });
        QCOMPARE(result, int(MeasurementSession::kLastReadingFailed));
        QCOMPARE(f.backend().touchedBytes(from), QByteArray());
        QVERIFY(MeasurementSession::thresholdsResultText(result).contains("не прошло проверку"));

        chip->failCrc(0);
        session.cycle();
        QVERIFY(!std::isnan(session.sensor().devices()->first()->channels.first().value));
        session.writeThresholds(0x1234, 30, 10, [&](int r) { result = r; });
        QCOMPARE(result, int(MeasurementSession::kNoSuchThermometer));

        WritingSink sink(session, key);
        session.addSink(&sink);
        result = 0;
        session.cycle();
        QVERIFY(sink.asked);
        QVERIFY(!sink.answeredInside);
        QCOMPARE(sink.result, 1);
        QCOMPARE(chip->eeprom(), hex("1E0A7F"));
        QCOMPARE(session.sensor().devices()->first()->channels.first().alarmHigh, 30.0);
        QVERIFY(MeasurementSession::thresholdsResultText(1).contains("записаны"));
        session.removeSink(&sink);
    }

    // The window: the table's menu offers the write for a thermometer only,
    // asks TH then TL through the dialogs, writes and reports; the next
    // cycle's marks follow the new thresholds.
    void windowAction()
    {
        WindowRig rig;
        auto *chip = rig.f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0xA5), 20.0));
        rig.f.add(std::make_unique<SimMax31850>(SimFixture::rom(0x3B, 0xA6)));
        rig.start(false, 5);
        rig.tick();
        auto *view = rig.child<QTableView>("tblSens");
        TableMan *table = rig.window->tableManager();
        const int row = table->findRow(WindowRig::romText(chip->rom()), 0, -1, 0);
        QVERIFY(row >= 0);
        // Factory TH 75 / TL 70: 20 °C is at or below TL.
        QVERIFY(table->isRowHardwareAlarm(row));

        auto menuActions = [&](int r) {
            view->selectRow(r);
            emit view->customContextMenuRequested(QPoint(2, 2));
            QMenu *menu = rig.window->findChildren<QMenu *>().last();
            QStringList texts;
            QAction *write = nullptr;
            for (QAction *action : menu->actions()) {
                texts << action->text();
                if (action->text() == QStringLiteral("Записать пороги в датчик"))
                    write = action;
            }
            menu->close();
            return std::make_pair(texts, write);
        };

        QList<DialogRequest> asked;
        rig.dialogs.setResponder([&](const DialogRequest &r) {
            asked << r;
            DialogAnswer a = DialogAnswer::pressed(QMessageBox::Ok, true);
            if (r.kind == DialogRequest::InputInt)
                a.intValue = r.text.contains("TH") ? 30 : 10;
            return ScriptedDialogs::Answer(a);
        });
        auto found = menuActions(row);
        QVERIFY(found.second);
        found.second->trigger();
        QCOMPARE(asked.size(), 3);
        QCOMPARE(asked[0].kind, DialogRequest::InputInt);
        QCOMPARE(asked[0].intValue, 75);
        QCOMPARE(asked[0].intMin, -55);
        QCOMPARE(asked[0].intMax, 125);
        QCOMPARE(asked[1].kind, DialogRequest::InputInt);
        QCOMPARE(asked[1].intMax, 30);
        QCOMPARE(asked[2].kind, DialogRequest::Message);
        QCOMPARE(asked[2].icon, QMessageBox::Information);
        QCOMPARE(asked[2].text, MeasurementSession::thresholdsResultText(1));
        QCOMPARE(chip->eeprom(), hex("1E0A7F"));

        rig.tickAfter(5000);
        QVERIFY(!table->isRowHardwareAlarm(row));
        QVERIFY(table->valueTip(row).contains("TL 10 °C, TH 30 °C"));

        // Cancelling the first question writes nothing; a non-thermometer
        // row has no such action.
        asked.clear();
        rig.dialogs.setResponder([&](const DialogRequest &r) {
            asked << r;
            return ScriptedDialogs::Answer(DialogAnswer::pressed(QMessageBox::Cancel, false));
        });
        menuActions(row).second->trigger();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(chip->eeprom(), hex("1E0A7F"));
        QCOMPARE(table->rowTotal(), 3);
        for (int r = 0; r < table->rowTotal(); ++r) {
            if (r != row)
                QVERIFY(!menuActions(r).second);
        }
    }

    // orvexctl thresholds: written after a cycle (standard output, 0); an
    // unknown ROM or values out of range are refused in words (6); a
    // malformed TL:TH is a usage error (2).
    void orvexctlCommand()
    {
        const QString busFile = SimFixture::busFile(QStringLiteral("thermometers.json"));
        QString error;
        const std::unique_ptr<SimBackend> bus = SimBusLoader::loadFile(busFile, &error);
        QVERIFY2(bus, qPrintable(error));
        QString rom;
        for (int i = 0; i < bus->bus().deviceCount() && rom.isEmpty(); ++i) {
            if (bus->bus().device(i)->family() == 0x28)
                rom = WindowRig::romText(bus->bus().device(i)->rom());
        }
        const QString busValue = QStringLiteral("--bus=sim:") + busFile;
        // --fast: the cycle before the write runs in virtual time. Its texts
        // are compared in their source language.
        const QStringList russian{QStringLiteral("LANGUAGE=ru")};
        OrvexctlRun run = runOrvexctl(ORVEXCTL_BIN, {"thresholds", rom.toLower(), "10:30", busValue, "--fast"}, russian);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(QString::fromUtf8(run.out).trimmed(),
                 rom.toLower() + ": " + MeasurementSession::thresholdsResultText(1));

        run = runOrvexctl(ORVEXCTL_BIN, {"thresholds", rom, "10:200", busValue, "--fast"}, russian);
        QCOMPARE(run.exitCode, 6);
        QVERIFY(QString::fromUtf8(run.err).contains(
            MeasurementSession::thresholdsResultText(Ds18x20::kThresholdsOutOfRange)));
        run = runOrvexctl(ORVEXCTL_BIN, {"thresholds", "0000000000000000", "10:30", busValue, "--fast"}, russian);
        QCOMPARE(run.exitCode, 6);
        QVERIFY(QString::fromUtf8(run.err).contains(
            MeasurementSession::thresholdsResultText(MeasurementSession::kNoSuchThermometer)));
        run = runOrvexctl(ORVEXCTL_BIN, {"thresholds", rom, "10-30", busValue, "--fast"}, russian);
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.err.contains("TL:TH"));
    }
};

QTEST_MAIN(TstThermAlarm)
#include "tst_thermalarm.moc"
