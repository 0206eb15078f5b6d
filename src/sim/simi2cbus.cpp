#include "sim/simi2cbus.h"

#include "sim/simi2cslave.h"
#include "sim/simmultihub.h"

SimI2cBus::SimI2cBus() = default;
SimI2cBus::~SimI2cBus() = default;

SimI2cSlave *SimI2cBus::add(std::unique_ptr<SimI2cSlave> chip)
{
    m_chips.push_back(std::move(chip));
    return m_chips.back().get();
}

SimMultiHub *SimI2cBus::setHub(std::unique_ptr<SimMultiHub> hub)
{
    m_hub = std::move(hub);
    return m_hub.get();
}

SimI2cSlave *SimI2cBus::find(uint8_t address) const
{
    for (const auto &chip : m_chips) {
        if (chip->address() == address)
            return chip.get();
    }
    if (!m_hub)
        return nullptr;
    if (m_hub->address() == address)
        return m_hub.get();
    return m_hub->routed(address);
}

QVector<SimI2cSlave *> SimI2cBus::chips() const
{
    QVector<SimI2cSlave *> all;
    for (const auto &chip : m_chips)
        all << chip.get();
    if (m_hub)
        all += m_hub->chips();
    return all;
}

SimI2cSlave *SimI2cBus::begin(uint8_t address, bool read, SimI2cTransfer &transfer)
{
    transfer.busBytes = 1;
    SimI2cSlave *chip = find(address);
    // A start to another chip ends what the open one was doing.
    if (m_open && m_open != chip)
        end(m_open);
    if (!chip)
        return nullptr;
    if (!chip->addressed(read)) {
        end(chip);
        return nullptr;
    }
    transfer.addressAcked = true;
    return chip;
}

void SimI2cBus::end(SimI2cSlave *chip)
{
    chip->stopped();
    if (m_open == chip)
        m_open = nullptr;
}

void SimI2cBus::sendBytes(SimI2cSlave *chip, const QByteArray &data, bool stop, SimI2cTransfer &transfer)
{
    for (int i = 0; i < data.size(); ++i) {
        ++transfer.busBytes;
        if (!chip->written(uint8_t(data.at(i)))) {
            transfer.nackedByte = i + 1;
            end(chip); // the master stops after a byte that was not acknowledged
            return;
        }
    }
    if (stop)
        end(chip);
    else
        m_open = chip;
}

SimI2cTransfer SimI2cBus::write(uint8_t address, const QByteArray &data, bool stop)
{
    SimI2cTransfer transfer;
    if (SimI2cSlave *chip = begin(address, false, transfer))
        sendBytes(chip, data, stop, transfer);
    return transfer;
}

SimI2cTransfer SimI2cBus::writeMore(const QByteArray &data, bool stop)
{
    SimI2cTransfer transfer;
    if (!m_open)
        return transfer;
    transfer.addressAcked = true;
    sendBytes(m_open, data, stop, transfer);
    return transfer;
}

SimI2cTransfer SimI2cBus::read(uint8_t address, int count)
{
    SimI2cTransfer transfer;
    SimI2cSlave *chip = begin(address, true, transfer);
    if (!chip)
        return transfer;
    transfer.stretchUs = chip->stretchUs();
    for (int i = 0; i < count; ++i) {
        transfer.data.append(char(chip->readOut()));
        ++transfer.busBytes;
    }
    end(chip);
    return transfer;
}

void SimI2cBus::onCycle()
{
    if (m_hub)
        m_hub->onCycle();
}
