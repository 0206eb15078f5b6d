#include "bus/serialports.h"

#include "bus/ds2480b.h"

#include <QSerialPortInfo>

QVector<SerialPorts::Report> SerialPorts::survey(const QStringList &paths, int timeoutMs)
{
    QVector<Report> reports;
    if (paths.isEmpty()) {
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
            Report r;
            r.path = info.systemLocation();
            QStringList words;
            for (const QString &w : {info.description(), info.manufacturer(), info.serialNumber()}) {
                if (!w.isEmpty())
                    words << w;
            }
            r.description = words.join(QStringLiteral(", "));
            reports.append(r);
        }
    } else {
        for (const QString &path : paths) {
            Report r;
            r.path = path;
            reports.append(r);
        }
    }
    for (Report &r : reports) {
        r.ds2480b = Ds2480b::probe(r.path, timeoutMs, &r.problem);
        r.latencyMs = SerialLink::latencyTimerMs(r.path);
    }
    return reports;
}
