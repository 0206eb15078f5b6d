#include "base/clock.h"
#include "onewire/adapter.h"
#include "onewire/tmex.h"
#include "bus/tmexlibrary.h"

#include <QDir>
#include <QLibraryInfo>
#include <QtTest>

namespace {

const char kBusFile[] = TEST_DATA_DIR "/buses/several.json";

} // namespace

// The driver library is loaded at run time and every call resolved by name;
// the simulated bus built as such a library stands in for the real driver.
class TstTmexLoader : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // Read by the library at its first call.
        qputenv("ORVEX_SIM_BUS", kBusFile);
        Clock::setVirtual();
    }

    void sessionAndSearchThroughLibrary()
    {
        QString error;
        std::unique_ptr<TmexLibrary> library = TmexLibrary::load(SIMTMEX_LIB, &error);
        QVERIFY2(library, qPrintable(error));
        QVERIFY(library->description().contains(QFileInfo(SIMTMEX_LIB).fileName()));
        Tmex tmex(library.get());
        Adapter adapter(tmex);

        QCOMPARE(adapter.open(), 1);
        QCOMPARE(adapter.statusText(), QStringLiteral("Adapter found, No error; Info: OverDrive OFF"));
        QVERIFY(adapter.sessionHandle() > 0);
        QCOMPARE(adapter.open(), 1);
        QCOMPARE(adapter.statusText(), QStringLiteral("Error TMReadDefaultPort port=1  portType=6"));
        // (The search's order through the library is tst_orvexctl's scan.)
        RomList roms;
        QCOMPARE(adapter.search(roms), 1);
        QCOMPARE(roms.size(), 4);

        // Arguments and results cross the library boundary intact.
        RomId rom = roms.at(2);
        QVERIFY(tmex.TMRom(adapter.sessionHandle(), adapter.accessStateBuffer(), rom.data()) >= 1);
        QCOMPARE(tmex.TMStrongAccess(adapter.sessionHandle(), adapter.accessStateBuffer()), short(1));
        unsigned char bytes[8];
        for (int i = 0; i < 8; ++i)
            bytes[i] = uchar(rom.at(i));
        QCOMPARE(tmex.TMCRC(8, bytes, 0, 0), short(0));
        QCOMPARE(adapter.resetBus(), 1);
    }

    void missingLibraryOrSymbol()
    {
        QString error;
        QVERIFY(!TmexLibrary::load("/nonexistent/libtmex.so", &error));
        QVERIFY2(error.startsWith("/nonexistent/libtmex.so: "), qPrintable(error));
        QVERIFY(!error.contains('\n'));

        // A real library that is no TMEX driver.
        const QDir libraries(QLibraryInfo::location(QLibraryInfo::LibrariesPath));
        const QStringList core = libraries.entryList({"libQt5Core.so.5"}, QDir::Files);
        QVERIFY(!core.isEmpty());
        const QString path = libraries.filePath(core.first());
        QVERIFY(!TmexLibrary::load(path, &error));
        QCOMPARE(error, path + QStringLiteral(": the TMEX driver lacks the symbol TMReadDefaultPort"));
    }
};

QTEST_APPLESS_MAIN(TstTmexLoader)
#include "tst_tmexloader.moc"
