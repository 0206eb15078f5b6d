#include "base/switches.h"

#include <QtTest>

class TstSwitches : public QObject
{
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("ldbg");
        QTest::addColumn<bool>("pt100");
        QTest::addColumn<bool>("v1");
        QTest::addColumn<bool>("sht");

        QTest::newRow("upper case") << QStringList{"-PT100"} << false << true << false << false;
        QTest::newRow("prefix of a longer argument") << QStringList{"-Pt100x"} << false << true << false << false;
        QTest::newRow("-v12") << QStringList{"-v12"} << false << false << true << false;
        QTest::newRow("none: the program, too short, no dash, the bus option")
            << QStringList{"/opt/orvex/orvex", "-sh", "-pt10", "-ldb", "-v", "pt100", "sht", "--bus=sim"} << false << false
            << false << false;
        QTest::newRow("any order")
            << QStringList{"orvex", "-SHT", "-v1", "--bus=sim:x.json", "-LDBG", "-pt100"} << true << true << true << true;
        QTest::newRow("two of four") << QStringList{"-sht", "-ldbg"} << true << false << false << true;
    }

    void parse()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, ldbg);
        QFETCH(bool, pt100);
        QFETCH(bool, v1);
        QFETCH(bool, sht);

        const Switches s = Switches::parse(args);

        QCOMPARE(s.defaultLogOutput, ldbg);
        QCOMPARE(s.pt100Mode, pt100);
        QCOMPARE(s.logFileEnabled, v1);
        QCOMPARE(s.shtMode, sht);
    }
};

QTEST_APPLESS_MAIN(TstSwitches)
#include "tst_switches.moc"
