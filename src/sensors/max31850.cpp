#include "sensors/max31850.h"

#include "base/logging.h"
#include "onewire/tmex.h"
#include "base/clock.h"
#include "base/operatornotices.h"
#include "model/sensordevice.h"
#include "sensors/typektable.h"

#include <QCoreApplication>
#include <QDebug>
#include <QStringList>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

const short kConvertT = 0x44;
const short kReadScratchpad = 0xBE;
const short kReadCalibration = 0xFC;
const short kWriteCalibration = 0xFE;
const short kReadSubtype = 0xFA;
const short kWriteSubtype = 0xFB;
const int kAttempts = 4;
const int kScratchpadSize = 9;
// The chip turns the thermocouple voltage into °C with this linear slope.
const double kChipSlopeMvPerC = 41.276 / 1000.0;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

QString clockText(const QDateTime &time)
{
    return time.toString(QStringLiteral("hh:mm:ss"));
}

// Sub-type codes on the wire: 0 Pt100, 1 100П, 0xFF unknown.
uint8_t subtypeCode(uint8_t subtype)
{
    switch (subtype) {
    case 1:
        return 0x00;
    case 2:
        return 0x01;
    default:
        return 0xFF;
    }
}

uint8_t subtypeFromCode(uint8_t code)
{
    switch (code) {
    case 0x00:
        return 1;
    case 0x01:
        return 2;
    default:
        return 0;
    }
}

// A function command and the bytes after it (0xFF for a byte to read) in
// one run, so an adapter that carries a run in one exchange waits for its
// answers once. What came back after the command; all ones when the run
// failed, as from an empty bus.
QByteArray transfer(Tmex &tmex, int32_t session, uint8_t command, const QByteArray &after)
{
    QByteArray run = char(command) + after;
    if (tmex.blockIO(session, run) < 0)
        run.fill(char(0xFF));
    return run.mid(1);
}

QByteArray readBytes(Tmex &tmex, int32_t session, uint8_t command, int count)
{
    return transfer(tmex, session, command, QByteArray(count, char(0xFF)));
}

// The emulator's types as the window shows them: the records write the chip
// and "Emulator" as one word, which the window parts before it translates.
[[maybe_unused]] const char *const kShownEmulatorTypes[] = {
    QT_TRANSLATE_NOOP("SensorType", "MAX31850 Emulator"),
    QT_TRANSLATE_NOOP("SensorType", "MAX31850 Emulator Pt100"),
    QT_TRANSLATE_NOOP("SensorType", "MAX31850 Emulator 100П"),
    QT_TRANSLATE_NOOP("SensorType", "MAX31850 Emulator Thermocouple Cold-Junction sensor"),
};

} // namespace

const SensorTraits Max31850::kTraits = SensorTraits("MAX31850")
                                           .channel("C", "°C", Quantity::Temperature)
                                           .property("thermocouple")
                                           .channel("C", "°C", Quantity::Temperature)
                                           .property("temperature")
                                           .conversion(kConversionMs);

Max31850::Max31850(Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer)
    : m_tmex(tmex)
    , m_session(session)
    , m_state(state)
    , m_romBuffer(romBuffer)
    , m_hotValue(kNaN)
    , m_coldValue(kNaN)
{
    qDebug() << "create Max31850 " << clockText(Clock::now());
}

Max31850::~Max31850()
{
    qDebug() << "destroy Max31850 " << clockText(Clock::now());
}

bool Max31850::select()
{
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (m_tmex.selectDevice(*m_session, m_state, m_romBuffer))
            return true;
    }
    return false;
}

void Max31850::waitWhileConverting(int ms)
{
    m_tmex.waitKeepingSession(*m_session, ms);
}

int Max31850::convertAndRead(double *hot, double *cold)
{
    *hot = kNaN;
    *cold = kNaN;
    int status = kNotSelected;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (!m_tmex.selectDevice(*m_session, m_state, m_romBuffer)) {
            status = kNotSelected;
            continue;
        }
        m_tmex.TMOneWireLevel(*m_session, 0, 1, 2);
        m_tmex.TMTouchByte(*m_session, kConvertT);
        waitWhileConverting(kConversionMs);
        m_tmex.TMOneWireLevel(*m_session, 0, 0, 0);

        if (m_tmex.TMStrongAccess(*m_session, m_state) < 1) {
            status = kNotSelected;
            continue;
        }
        m_scratchpad = readBytes(m_tmex, *m_session, kReadScratchpad, kScratchpadSize);

        QByteArray bytes = m_scratchpad;
        if (m_tmex.TMCRC(short(bytes.size()), reinterpret_cast<unsigned char *>(bytes.data()), 0, 0) != 0) {
            qDebug() << "Error CRC MAX31850";
            status = kBadScratchpad;
            continue;
        }
        if (toTemperature(m_scratchpad, hot, cold) != 1) {
            qDebug() << "Error Convert Temperature MAX31850";
            status = kNoTemperature;
            continue;
        }
        m_hotTime = Clock::now();
        m_coldTime = m_hotTime;
        qDebug() << "max31850DT convert: " << clockText(m_hotTime);
        return 1;
    }
    return status;
}

int Max31850::toTemperature(const QByteArray &scratchpad, double *hot, double *cold)
{
    *hot = kNaN;
    *cold = kNaN;
    m_hotValue = kNaN;
    m_coldValue = kNaN;
    const uint8_t b0 = uint8_t(scratchpad.at(0));
    const uint8_t b1 = uint8_t(scratchpad.at(1));
    const uint8_t b2 = uint8_t(scratchpad.at(2));
    const uint8_t b3 = uint8_t(scratchpad.at(3));
    if ((b0 & 0x01) || (b2 & 0x07))
        return kNoTemperature;

    // The chip's value, turned back into the voltage it was computed from.
    // The cold junction is deliberately not taken out again.
    const int16_t hotRaw = int16_t((b1 << 8) | (b0 & 0xFC));
    const double millivolts = hotRaw * 0.0625 * kChipSlopeMvPerC;

    const int16_t coldRaw = int16_t((b3 << 8) | (b2 & 0xF0));
    m_coldValue = std::trunc(coldRaw * 0.00390625 * 100.0) / 100.0;
    *cold = m_coldValue;

    const double *table = TypeKTable::values();
    int i = 0;
    while (i < TypeKTable::kSize && table[i] <= millivolts)
        ++i;
    if (i == 0 || i >= TypeKTable::kSize - 1)
        return kNoTemperature;
    const double celsius = (i + TypeKTable::kFirstCelsius) + (millivolts - table[i]) / (table[i] - table[i - 1]);
    m_hotValue = std::trunc(celsius * 100.0) / 100.0;
    *hot = m_hotValue;
    return 1;
}

int Max31850::readCalibration(float *offset, bool *isEmulator)
{
    const bool pt100Mode = m_pt100Mode;
    int result = kUnknownAnswer;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (!select())
            return kNotSelected;
        const QByteArray bytes = readBytes(m_tmex, *m_session, kReadCalibration, 8);
        uint8_t answer[8];
        QStringList hex;
        for (int i = 0; i < 8; ++i) {
            answer[i] = uint8_t(bytes.at(i));
            hex << QString::number(answer[i], 16).toUpper().rightJustified(2, QLatin1Char('0'));
        }
        qDebug() << "ReadCalibrateValue " << hex.join(QLatin1Char(' '));

        bool complemented = true;
        for (int i = 0; i < 4; ++i)
            complemented = complemented && answer[i] == uint8_t(~answer[i + 4]);
        if (complemented) {
            if (pt100Mode)
                qDebug() << "Sensor - EMULATOR Pt100";
            const uint32_t bits = uint32_t(answer[0]) | uint32_t(answer[1]) << 8 | uint32_t(answer[2]) << 16
                                  | uint32_t(answer[3]) << 24;
            float value;
            std::memcpy(&value, &bits, sizeof value);
            qDebug() << "FloatAs = " << value;
            *offset = value;
            *isEmulator = true;
            return 1;
        }

        *isEmulator = false;
        *offset = 0.0f;
        bool allOnes = true;
        for (uint8_t byte : answer)
            allOnes = allOnes && byte == 0xFF;
        result = allOnes ? 1 : kUnknownAnswer;
        if (pt100Mode)
            qDebug() << "Sensor not emulator Pt100";
        if (result == 1)
            return result;
    }
    return result;
}

int Max31850::writeCalibration(float offset)
{
    if (!select())
        return kNotSelected;
    uint32_t bits;
    std::memcpy(&bits, &offset, sizeof bits);
    QByteArray data;
    for (int shift = 24; shift >= 0; shift -= 8)
        data.append(char((bits >> shift) & 0xFF));
    for (int shift = 24; shift >= 0; shift -= 8)
        data.append(char(~(bits >> shift) & 0xFF));
    transfer(m_tmex, *m_session, kWriteCalibration, data);
    return 1;
}

int Max31850::readSubtype(uint8_t *subtype)
{
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (!select())
            return kNotSelected;
        const QByteArray answer = readBytes(m_tmex, *m_session, kReadSubtype, 2);
        const uint8_t code = uint8_t(answer.at(0));
        const uint8_t check = uint8_t(answer.at(1));
        if (code == uint8_t(~check)) {
            *subtype = subtypeFromCode(code);
            return 1;
        }
        *subtype = 0;
    }
    return kNotSelected;
}

int Max31850::writeSubtype(uint8_t subtype)
{
    if (!select())
        return kNotSelected;
    const uint8_t code = subtypeCode(subtype);
    transfer(m_tmex, *m_session, kWriteSubtype, QByteArray(1, char(code)) + char(~code));
    return 1;
}

// Writes a new offset only when it is a number computed from a measured value
// and a set reference sample, within ±kMaxOffsetCelsius; a reset writes 0
// and needs neither. Every refusal is shown to the operator.
// Shown without waiting for the operator: the cycle this read belongs to goes on.
void Max31850::warnOperator(const QString &text) const
{
    const QString title = QCoreApplication::translate("Max31850", "ВНИМАНИЕ!");
    if (m_notices)
        m_notices->warn(title, text);
    else
        OperatorNotices().warn(title, text);
}

void Max31850::serveCalibrationRequest(const SensorChannel &channel)
{
    const float offset = float(double(channel.calibrationTarget) - (channel.value - double(channel.calibration)));
    qDebug() << "Write new value calibrate = " << offset;
    if (channel.resetCalibration) {
        writeCalibration(0.0f);
    } else if (channel.calibrationTarget <= kNoSampleLimit) {
        warnOperator(QCoreApplication::translate("Max31850", "Ошибка значений калибровки. Эталонное значение не задано, калибровка не записана!"));
    } else if (!std::isfinite(offset)) {
        warnOperator(QCoreApplication::translate("Max31850", "Ошибка значений калибровки. Датчик не дал значения температуры, калибровка не записана!"));
    } else if (offset >= -kMaxOffsetCelsius && offset <= kMaxOffsetCelsius) {
        writeCalibration(offset);
    } else {
        warnOperator(QCoreApplication::translate("Max31850", "Ошибка значений калибровки. Смещение не может быть более 5 градусов!"));
    }
}

void Max31850::fillChannels(SensorDevice &device)
{
    const bool pt100Mode = m_pt100Mode;
    qCDebug(logInfo()) << "CreateNewAndADD MAX31850 " << QString::number(device.key, 16).toUpper();
    qCDebug(logInfo()) << "MAX31850 fillChannel channel.count= " << device.channels.size();
    if (device.channels.size() != 2) {
        device.channels.clear();
        device.channels.append(SensorChannel());
        device.channels.append(SensorChannel());
    }

    SensorChannel &hot = device.channels[0];
    hot.value = m_hotValue;
    if (!m_hotTime.isValid())
        m_hotTime = Clock::now();
    hot.time = m_hotTime;
    qDebug() << "max31850Set " << clockText(m_hotTime);
    hot.setNativeTemperature(-270.0, 1372.0, 0);
    hot.traits = &kTraits;
    hot.alarmHigh = kNaN;
    hot.alarmLow = kNaN;

    readCalibration(&hot.calibration, &hot.isEmulator);
    hot.type = QStringLiteral(QT_TRANSLATE_NOOP("SensorType", "MAX31850 Temperature sensor"));
    if (hot.isEmulator) {
        if (pt100Mode)
            hot.type = QStringLiteral("MAX31850Emulator");
        readSubtype(&hot.subtype);
        if (!pt100Mode)
            hot.subtype = 0;
        else if (hot.subtype == 1)
            hot.type += QStringLiteral(" Pt100");
        else if (hot.subtype == 2)
            hot.type += QStringLiteral(" 100П");
    }
    qDebug() << "ReadNewCalibration Data = ";

    // The requests are taken off the record before they are served, so one
    // the operator makes meanwhile (events run inside the bus work) waits for
    // the next read. The function commands exist only in an emulator's
    // firmware: a plain converter's requests are dropped without a word to it
    // or the operator.
    const SensorChannel requests = hot;
    hot.calibrateRequest = false;
    hot.resetCalibration = false;
    hot.subtypeWriteRequest = false;
    if (requests.calibrateRequest && requests.isEmulator)
        serveCalibrationRequest(requests);
    if (requests.subtypeWriteRequest && requests.isEmulator)
        writeSubtype(requests.requestedSubtype);
    const bool emulatorType = hot.isEmulator && pt100Mode;

    SensorChannel &cold = device.channels[1];
    cold.value = m_coldValue;
    if (!m_coldTime.isValid())
        m_coldTime = Clock::now();
    cold.time = m_coldTime;
    qDebug() << "max318502Set " << clockText(m_coldTime);
    cold.setNativeTemperature(-55.0, 127.0, 1);
    cold.traits = &kTraits;
    cold.alarmHigh = kNaN;
    cold.alarmLow = kNaN;
    cold.type = emulatorType
        ? QStringLiteral("MAX31850Emulator Thermocouple Cold-Junction sensor ")
        : QStringLiteral(QT_TRANSLATE_NOOP("SensorType", "MAX31850 Thermocouple Cold-Junction sensor"));
    cold.isEmulator = false;
    cold.calibration = 0;
    cold.subtype = 0;
}
