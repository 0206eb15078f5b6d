#include "bus/seriallink.h"
#include "sim/simbus.h"
#include "sim/simds2480b.h"
#include "sim/simpty.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// An emulated DS2480B on a pseudo-terminal with a stable name, in this thread.
struct PtyRig
{
    PtyRig()
        : chip(&bus)
        , port(&chip)
    {
        QString error;
        if (!port.open(dir.filePath(QStringLiteral("ttyDS2480")), &error))
            qFatal("pseudo-terminal: %s", qPrintable(error));
    }

    QTemporaryDir dir;
    SimBus bus;
    SimDs2480b chip;
    SimPty port;
};

// The timing byte after power-on (no answer), then a read of the baud rate
// parameter, answered 00 at 9600 baud.
const QByteArray kTimingByte = QByteArray::fromHex("C1");
const QByteArray kReadBaudRate = QByteArray::fromHex("0F");

} // namespace

// How a port's failures reach the operator and the master: the texts of the
// ways opening fails, and what a read makes of no answer and of a port that
// goes away under it.
class TstSerialLink : public QObject
{
    Q_OBJECT
private slots:
    // No such node: the "plugged in?" text; a file that is no terminal: the
    // system's reason after the path; a port another link holds: busy, with
    // the dialout remedy. None of them leaves the link open or lost.
    void openFailuresInOperatorWords()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("ttyUSB9"));
        QFile plain(dir.filePath(QStringLiteral("notaport")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        PtyRig rig;
        SerialLink holder;
        QString error;
        QVERIFY2(holder.open(rig.port.path(), &error), qPrintable(error));

        // What opening `path` says, when it fails and leaves the link closed,
        // not lost and refusing writes.
        auto refusal = [](const QString &path) {
            SerialLink link;
            QString why;
            const bool refused = !link.open(path, &why) && !link.isOpen() && !link.lost() && !link.write(kReadBaudRate);
            return refused ? why : QStringLiteral("not refused cleanly");
        };
        QCOMPARE(refusal(missing), SerialLink::missingPortText(missing));
        const QString notTty = refusal(plain.fileName());
        QVERIFY2(notTty.startsWith(plain.fileName() + QStringLiteral(": ")) && notTty.size() > plain.fileName().size() + 2
                     && !notTty.contains(QStringLiteral("dialout")) && notTty != SerialLink::missingPortText(plain.fileName()),
                 qPrintable(notTty));
        const QString busy = refusal(rig.port.path());
        QVERIFY2(busy.startsWith(rig.port.path() + QStringLiteral(": permission denied or the port is in use"))
                     && busy.contains(QStringLiteral("usermod -aG dialout")),
                 qPrintable(busy));
        // The holder was not disturbed by the refused second open.
        QVERIFY(holder.write(kTimingByte + kReadBaudRate));
        QCOMPARE(holder.read(1, 1000), QByteArray(1, '\0'));
    }

    // No answer within the timeout is no failure: fewer bytes, the link
    // still open and usable. A port that vanishes with the answer owed is
    // lost, refuses writes, and a replugged port opens afresh.
    void readOutcomes()
    {
        PtyRig rig;
        SerialLink link;
        QString error;
        QVERIFY2(link.open(rig.port.path(), &error), qPrintable(error));
        QVERIFY(link.write(kTimingByte));
        QVERIFY(link.read(1, 30).isEmpty());
        QVERIFY(link.isOpen());
        QVERIFY(!link.lost());
        QVERIFY(link.write(kReadBaudRate));
        QCOMPARE(link.read(1, 1000), QByteArray(1, '\0'));

        // The chip takes the first byte and the port is gone before it
        // answers: the read comes back short, and the next write finds the
        // port lost and closes it.
        rig.port.vanishAfter(1);
        QVERIFY(link.write(kReadBaudRate + kReadBaudRate));
        QVERIFY(link.read(2, 100).isEmpty());
        QVERIFY(!link.write(kReadBaudRate));
        QVERIFY(link.lost());
        QVERIFY(!link.isOpen());
        QVERIFY(link.read(1, 30).isEmpty());

        QVERIFY2(rig.port.replug(&error), qPrintable(error));
        QVERIFY2(link.open(rig.port.path(), &error), qPrintable(error));
        QVERIFY(!link.lost());
        QVERIFY(link.write(kTimingByte + kReadBaudRate));
        QCOMPARE(link.read(1, 1000), QByteArray(1, '\0'));
    }
};

QTEST_GUILESS_MAIN(TstSerialLink)
#include "tst_seriallink.moc"
