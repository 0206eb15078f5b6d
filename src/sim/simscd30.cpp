#include "sim/simscd30.h"

#include "base/clock.h"
#include "sim/simjson.h"

#include <QJsonValue>
#include <cstring>

namespace {

QByteArray floatBytes(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    QByteArray bytes;
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.append(char((bits >> shift) & 0xFF));
    return bytes;
}

QVector<uint16_t> wordsOf(const QByteArray &bytes)
{
    QVector<uint16_t> words;
    for (int i = 0; i + 1 < bytes.size(); i += 2)
        words << uint16_t(uint8_t(bytes.at(i)) << 8 | uint8_t(bytes.at(i + 1)));
    return words;
}

} // namespace

SimScd30::SimScd30(double ppm, double celsius, double humidity)
    : SimSensirionChip(kDefaultAddress)
    , m_co2(ppm)
    , m_temperature(celsius)
    , m_humidity(humidity)
{
}

qint64 SimScd30::latestMeasurement() const
{
    if (!m_measuring)
        return -1;
    return Clock::tickMs() / (qint64(m_intervalS) * 1000);
}

bool SimScd30::dataReady() const
{
    return !m_neverReady && latestMeasurement() > m_readIndex;
}

bool SimScd30::readable(bool repeated) const
{
    return !repeated && replyWaiting();
}

bool SimScd30::knows(uint16_t command) const
{
    switch (command) {
    case 0x0010:
    case 0x0104:
    case 0x4600:
    case 0x0202:
    case 0x0300:
    case 0xD033:
    case 0xD100:
    case 0xD304:
        return true;
    default:
        return false;
    }
}

void SimScd30::command(uint16_t command, const QByteArray &arguments)
{
    dropReply();
    switch (command) {
    case 0x0010:
        m_measuring = true;
        break;
    case 0x0104:
        m_measuring = false;
        break;
    case 0x4600:
        if (arguments.size() >= 2)
            m_intervalS = qBound(2, uint8_t(arguments.at(0)) << 8 | uint8_t(arguments.at(1)), 1800);
        else
            reply({uint16_t(m_intervalS)});
        break;
    case 0x0202:
        reply({uint16_t(dataReady() ? 1 : 0)});
        break;
    case 0x0300: {
        const qint64 index = latestMeasurement();
        QByteArray data = m_pinned;
        if (data.isEmpty()) {
            const qint64 atMs = qMax<qint64>(0, index) * m_intervalS * 1000;
            data = floatBytes(float(m_co2.at(atMs))) + floatBytes(float(m_temperature.at(atMs)))
                + floatBytes(float(m_humidity.at(atMs)));
        }
        m_readIndex = qMax(m_readIndex, index);
        reply(wordsOf(data));
        break;
    }
    case 0xD033: {
        QByteArray text = m_serial.left(31);
        text.append(QByteArray(32 - text.size(), '\0'));
        reply(wordsOf(text));
        break;
    }
    case 0xD100:
        reply({0x0342});
        break;
    case 0xD304:
        m_readIndex = -1;
        break;
    default:
        break;
    }
}

std::unique_ptr<SimI2cSlave> SimScd30::fromJson(const QJsonObject &entry, QString *error)
{
    auto chip = std::make_unique<SimScd30>();
    QByteArray pinned;
    int crcErrors = 0;
    if (!SimTemperature::fromJson(entry, "co2", &chip->m_co2, error, "ppm")
        || !SimTemperature::fromJson(entry, "temperature", &chip->m_temperature, error)
        || !SimTemperature::fromJson(entry, "humidity", &chip->m_humidity, error, "%RH")
        || !SimJson::readHex(entry, "measurement", 12, &pinned, error)
        || !SimJson::readInt(entry, "intervalS", 2, 1800, &chip->m_intervalS, error)
        || !SimJson::readBool(entry, "measuring", &chip->m_measuring, error)
        || !SimJson::readBool(entry, "neverReady", &chip->m_neverReady, error)
        || !SimJson::readInt(entry, "crcErrors", 0, 1000000, &crcErrors, error))
        return nullptr;
    const QJsonValue serial = entry.value(QStringLiteral("serial"));
    if (!serial.isUndefined()) {
        const QString text = serial.toString();
        if (!serial.isString() || text.size() > 31 || text.toLatin1() != text.toUtf8() || text.contains(QChar(0))) {
            *error = QStringLiteral("serial: expected a text of up to 31 ASCII characters");
            return nullptr;
        }
        chip->m_serial = text.toLatin1();
    }
    chip->m_pinned = pinned;
    chip->failCrc(crcErrors);
    return chip;
}
