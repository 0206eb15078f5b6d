#pragma once

#include <QString>
#include <QStringList>
#include <cstddef>

// Lookups in the tables of the chip factories: each entry has a `type` name
// and `keys`, the entry keys the chip reads, blank-separated.
namespace SimTypeTable {

template <typename Entry, std::size_t N>
const Entry *find(const Entry (&table)[N], const QString &type)
{
    for (const Entry &e : table) {
        if (type == QLatin1String(e.type))
            return &e;
    }
    return nullptr;
}

template <typename Entry, std::size_t N>
QStringList types(const Entry (&table)[N])
{
    QStringList list;
    for (const Entry &e : table)
        list << QLatin1String(e.type);
    return list;
}

template <typename Entry, std::size_t N>
QStringList keys(const Entry (&table)[N], const QString &type)
{
    const Entry *e = find(table, type);
    return e ? QString::fromLatin1(e->keys).split(QLatin1Char(' '), Qt::SkipEmptyParts) : QStringList();
}

} // namespace SimTypeTable
