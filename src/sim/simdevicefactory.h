#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <memory>

class SimDevice;

// Makes simulated chips from the device entries of a bus description.
// Adding a chip: one line in the table in simdevicefactory.cpp.
class SimDeviceFactory
{
public:
    // Builds a chip of `type` with ROM `rom` (8 bytes, bus order) from the
    // rest of its entry. On a bad entry returns null and sets *error to
    // "field: what is wrong" (the field name relative to the entry).
    static std::unique_ptr<SimDevice> create(const QString &type, const QByteArray &rom,
                                             const QJsonObject &entry, QString *error);
    // The family code a ROM of this type gets when the entry gives none;
    // 0 for an unknown type.
    static int defaultFamily(const QString &type);
    static QStringList types();
    // The entry keys a chip of this type reads, besides the ones every device has.
    static QStringList keys(const QString &type);
};
