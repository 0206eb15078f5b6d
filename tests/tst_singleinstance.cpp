#include "support/testprocess.h"

#include <QDateTime>
#include <QProcess>
#include <QSharedMemory>
#include <QSystemSemaphore>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

const char kSegments[] = "/proc/sysvipc/shm";

// Shared-memory segments the kernel lists: creator pid -> number of attached processes.
QMap<qint64, int> segmentsByCreator()
{
    QMap<qint64, int> result;
    QFile file(kSegments);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    const QList<QByteArray> header = file.readLine().simplified().split(' ');
    const int cpid = header.indexOf("cpid");
    const int nattch = header.indexOf("nattch");
    while (!file.atEnd()) {
        const QList<QByteArray> row = file.readLine().simplified().split(' ');
        if (cpid >= 0 && nattch >= 0 && row.size() > qMax(cpid, nattch))
            result.insert(row.at(cpid).toLongLong(), row.at(nattch).toInt());
    }
    return result;
}

} // namespace

// Real copies of the program on one instance key: the guard must refuse a
// second copy while one runs, and must not be fooled by a crashed copy's
// leftover segment.
class TstSingleInstance : public QObject
{
    Q_OBJECT
private:
    QString key;
    QTemporaryDir config;
    std::vector<std::unique_ptr<TestProcess>> started;

    QProcess *launch()
    {
        started.push_back(std::make_unique<TestProcess>(
            QStringLiteral(ORVEX_BIN), QStringList{"QT_QPA_PLATFORM=offscreen", "ORVEX_DIALOGS=auto", "ORVEX_BUS=sim",
                                                   "ORVEX_INSTANCE_KEY=" + key, "XDG_CONFIG_HOME=" + config.path()}));
        started.back()->start({});
        return &started.back()->process();
    }

    // Waits until `process` has created its segment (it is then the running copy).
    static bool waitUntilHolding(QProcess *process)
    {
        QDeadlineTimer deadline(15000);
        while (!deadline.hasExpired()) {
            if (process->state() != QProcess::Running)
                return false;
            if (segmentsByCreator().contains(process->processId()))
                return true;
            QTest::qWait(20);
        }
        return false;
    }

    static void expectRefused(QProcess *process)
    {
        QVERIFY(process->waitForFinished(15000));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), 1);
        const QString err = QString::fromUtf8(process->readAllStandardError());
        QVERIFY2(err.contains("dialog: Орвекс: Приложение уже запущено.\nВы можете запустить только один экземпляр приложения."),
                 qPrintable(err));
    }

private slots:
    void initTestCase()
    {
        if (!QFile::exists(kSegments))
            QSKIP("the kernel's shared-memory listing is not available");
        key = QString("orvex-test-%1-%2").arg(QCoreApplication::applicationPid())
                  .arg(QDateTime::currentMSecsSinceEpoch());
    }

    void secondCopyRefusedAndCrashedCopyForgotten()
    {
        QProcess *a = launch();
        QVERIFY(waitUntilHolding(a));

        expectRefused(launch());
        QCOMPARE(a->state(), QProcess::Running); // the first copy is unaffected

        // A crash leaves A's segment behind with nobody attached.
        const qint64 aPid = a->processId();
        a->kill();
        QVERIFY(a->waitForFinished(5000));
        QCOMPARE(segmentsByCreator().value(aPid, -1), 0);

        QProcess *c = launch();
        QVERIFY2(waitUntilHolding(c), "a copy started after a crash must run");
        QVERIFY(!segmentsByCreator().contains(aPid));

        expectRefused(launch());
        QCOMPARE(c->state(), QProcess::Running);
    }

    void cleanupTestCase()
    {
        started.clear(); // kills those still running
        // Killed copies leave the segment and its lock behind: remove both.
        QSharedMemory probe(key);
        if (probe.attach())
            probe.detach();
        QSystemSemaphore lock(key, 1, QSystemSemaphore::Create);
    }
};

QTEST_GUILESS_MAIN(TstSingleInstance)
#include "tst_singleinstance.moc"
