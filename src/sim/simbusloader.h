#pragma once

#include "bus/masterentry.h"

#include <QByteArray>
#include <QString>
#include <memory>

class SimBackend;

// Builds a simulated bus from its JSON description (see the README for the
// format). Errors come back as one line: "<source>:<position>: <what>", the
// position being line:column for a syntax error or the path of the entry
// ("devices[2].rom") for a bad value.
class SimBusLoader
{
public:
    static std::unique_ptr<SimBackend> load(const QByteArray &json, const QString &sourceName, QString *error);
    static std::unique_ptr<SimBackend> loadFile(const QString &path, QString *error);
    // The built-in demo bus (a resource compiled into the program).
    static std::unique_ptr<SimBackend> loadDemo(QString *error);
    static QByteArray demoJson();
    // sim (the demo bus), sim:FILE; the last resort of the default choice.
    static MasterEntry masterEntry();
    // The ROM an entry without "rom" gets: family code `family`, a serial
    // number derived from the entry's `index` (distinct, the same on every
    // run) and a valid CRC.
    static QByteArray defaultRom(int family, int index);
};
