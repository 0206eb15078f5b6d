#pragma once

#include "bus/masterentry.h"

#include <QString>
#include <QStringList>
#include <QVector>

// Every kind of bus master the program can open, one entry each, in the
// order the usage texts and `orvexctl ports` list them.
namespace MasterRegistry {

const QVector<MasterEntry> &entries();

// The entry a --bus value names, with what follows "prefix:" in *argument
// (empty for the prefix alone); null when no master takes the value.
const MasterEntry *find(const QString &value, QString *argument);

// Every form of every master ("sim", "sim:FILE", ...), in order.
QStringList forms();

// The masters that take part in the default choice, in the order tried.
QVector<const MasterEntry *> defaultOrder();

} // namespace MasterRegistry
