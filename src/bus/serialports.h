#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// The serial ports of this machine and whether a DS2480B answers on each:
// what an operator needs to find the --bus=serial:PORT value.
class SerialPorts
{
public:
    struct Report
    {
        QString path;        // /dev/ttyUSB0
        QString description; // what the system says about the port; may be empty
        bool ds2480b = false;
        QString problem;     // why no DS2480B answers there
        int latencyMs = -1;  // the converter's latency timer after the probe; -1 none
    };

    // Probes `paths`, or every serial port the system lists when it is empty.
    // Each probe opens the port, resets the chip and asks it one question,
    // waiting at most `timeoutMs` for the answer.
    static QVector<Report> survey(const QStringList &paths, int timeoutMs);
};
