#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <memory>

class SimI2cSlave;

// Makes simulated I2C chips from the "i2c" entries of a bridge in a bus
// description. Adding a chip: one line in the table in simi2cfactory.cpp.
class SimI2cFactory
{
public:
    // Builds a chip of `type` from its entry: its own keys and the keys every
    // I2C chip has ("address", "stopAckAfter", "nackData"); where it sits is
    // the bridge's business. Null on a bad entry, with *error
    // "field: what is wrong".
    static std::unique_ptr<SimI2cSlave> create(const QString &type, const QJsonObject &entry, QString *error);
    static QStringList types();
    // The keys a chip of this type reads besides the common ones.
    static QStringList keys(const QString &type);
    // The keys of any I2C chip entry, the bridge's placement keys included.
    static QStringList commonKeys();
    // An "address" read from an entry (empty when absent) is a 7-bit I2C
    // address; otherwise false with *error saying so.
    static bool checkAddress(const QByteArray &address, QString *error);
};
