// The two languages: the translation covers every text marked in the
// sources, the window reads Russian or English, orvexctl follows the
// locale, and nothing the program writes changes with the language.

#include "base/appsettings.h"
#include "base/clock.h"
#include "base/language.h"
#include "model/alarmboard.h"
#include "bus/serialbackend.h"
#include "gui/chartwindow.h"
#include "gui/mainwindow.h"
#include "gui/trendplot.h"
#include "sim/simbackend.h"
#include "sim/simbusloader.h"
#include "sim/simds18b20.h"
#include "sim/simpt100emulator.h"
#include "support/orvexctlrun.h"
#include "support/windowrig.h"
#include "table/tableman.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QGuiApplication>
#include <QScreen>
#include <QSet>
#include <QStatusBar>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

struct Message
{
    QString context;
    QString source;
    QString translation;
    QString type; // "unfinished", "vanished", "obsolete" or empty
};

// The messages of a .ts file, keyed by context and source.
QMap<QString, Message> readTs(const QString &path, QString *error)
{
    QMap<QString, Message> messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return messages;
    }
    QXmlStreamReader xml(&file);
    QString context;
    Message current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("message")) {
            current = Message();
            current.context = context;
        } else if (xml.name() == QLatin1String("source")) {
            current.source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            current.type = xml.attributes().value(QLatin1String("type")).toString();
            // A plural's forms are child elements: take them all.
            current.translation = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            messages.insert(current.context + QLatin1Char('|') + current.source, current);
        }
    }
    if (xml.hasError())
        *error = path + QStringLiteral(": ") + xml.errorString();
    return messages;
}

// The %1..%9 a text takes, in order of their numbers.
QStringList placeholders(const QString &text)
{
    QStringList found;
    QRegularExpressionMatchIterator it = QRegularExpression(QStringLiteral("%[1-9]")).globalMatch(text);
    while (it.hasNext())
        found << it.next().captured();
    found.sort();
    return found;
}

// Every file under `folder`, by path relative to it, with its bytes.
QMap<QString, QByteArray> filesUnder(const QString &folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            files.insert(QDir(folder).relativeFilePath(path), file.readAll());
    }
    return files;
}

// The program's and Qt's translators out again: back to the source texts.
void removeTranslators()
{
    for (QTranslator *translator : QCoreApplication::instance()->findChildren<QTranslator *>()) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
}

QStringList menuTitles(MainWindow *window)
{
    QStringList titles;
    for (QAction *action : window->menuBar()->actions())
        titles << action->text();
    return titles;
}

} // namespace

class TstLanguage : public QObject
{
    Q_OBJECT

    // The window on the demo bus, recording every 10 s for three cycles in
    // virtual time from the same start: its files.
    QMap<QString, QByteArray> recordDemoWindow()
    {
        Clock::setVirtual();
        QString error;
        WindowRig rig(SimBusLoader::loadDemo(&error));
        rig.start(true, 10);
        for (int cycle = 0; cycle < 3; ++cycle)
            rig.tickAfter(10000);
        rig.window.reset();
        return filesUnder(rig.folder.path());
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
        WindowRig::prepareProcess();
    }

    void cleanup()
    {
        removeTranslators();
        appSettings().clear();
    }

    // The English translation holds every text the sources mark, finished,
    // with the same placeholders; a text added without its translation fails
    // here. The Russian file holds the same texts.
    void translationIsComplete()
    {
        QTemporaryDir dir;
        const QString fresh = dir.path() + QStringLiteral("/fresh.ts");
        QProcess lupdate;
        lupdate.setProcessChannelMode(QProcess::MergedChannels);
        lupdate.start(QStringLiteral(LUPDATE_BIN), {QStringLiteral("-no-obsolete"), QStringLiteral("-locations"),
                                                    QStringLiteral("none"), QStringLiteral(SOURCE_DIR "/src"),
                                                    QStringLiteral("-ts"), fresh});
        QVERIFY(lupdate.waitForFinished(120000));
        QVERIFY2(lupdate.exitCode() == 0, lupdate.readAll().constData());

        QString error;
        const QMap<QString, Message> marked = readTs(fresh, &error);
        const QMap<QString, Message> english = readTs(QStringLiteral(SOURCE_DIR "/translations/orvex_en.ts"), &error);
        const QMap<QString, Message> russian = readTs(QStringLiteral(SOURCE_DIR "/translations/orvex_ru.ts"), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY2(marked.size() > 150, qPrintable(QString::number(marked.size())));

        QStringList faults;
        for (const Message &m : marked) {
            const QString key = m.context + QLatin1Char('|') + m.source;
            const Message en = english.value(key);
            if (!english.contains(key))
                faults << QStringLiteral("no English entry: ") + key;
            else if (!en.type.isEmpty() || en.translation.isEmpty())
                faults << QStringLiteral("English unfinished: ") + key;
            else if (placeholders(en.translation) != placeholders(m.source))
                faults << QStringLiteral("placeholders differ: ") + key;
            if (!russian.contains(key))
                faults << QStringLiteral("no Russian entry: ") + key;
        }
        for (const Message &en : english) {
            if (en.type.isEmpty() && !marked.contains(en.context + QLatin1Char('|') + en.source))
                faults << QStringLiteral("English entry for a text no longer in the sources: ") + en.source;
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    }

    // The locale decides unless the settings hold a choice; anything that is
    // not Russian reads English, the C locale included.
    void languageChoice()
    {
        const QList<QPair<QStringList, QString>> locales{
            {{"ru-RU"}, "ru"}, {{"ru"}, "ru"}, {{"RU_ru"}, "ru"}, {{"en-US"}, "en"},
            {{"C"}, "en"},     {{}, "en"},     {{"de-DE", "ru-RU"}, "en"}, {{"uk-UA"}, "en"},
        };
        for (const auto &locale : locales)
            QCOMPARE(Language::fromUiLanguages(locale.first), locale.second);
        QCOMPARE(Language::chosen(QStringLiteral("en"), {QStringLiteral("ru-RU")}), QStringLiteral("en"));
        QCOMPARE(Language::chosen(QStringLiteral(" RU "), {QStringLiteral("en-GB")}), QStringLiteral("ru"));
        QCOMPARE(Language::chosen(QStringLiteral("fr"), {QStringLiteral("ru-RU")}), QStringLiteral("ru"));
        QCOMPARE(Language::chosen(QString(), {QStringLiteral("en-GB")}), QStringLiteral("en"));
        // The suite runs under LANGUAGE=ru: the window's choice is read from the settings.
        QCOMPARE(Language::forConsole(), QStringLiteral("ru"));
        appSettings().setValue(QLatin1String(Language::kSettingsKey), QStringLiteral("en"));
        QCOMPARE(Language::forWindow(appSettings()), QStringLiteral("en"));
        appSettings().setValue(QLatin1String(Language::kSettingsKey), QStringLiteral("garbage"));
        QCOMPARE(Language::forWindow(appSettings()), QStringLiteral("ru"));
    }

    // The same window in either language: title, menus, table headers, the
    // start-up questions and About (with the version). The language menu
    // stores the choice and says it applies at the next start.
    void windowInBothLanguages_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("ru") << "ru"
                            << QStringList{"Орвекс 25.01.27.0", "Файл|Настройки|Графики|Справка", "Значение", "Имя файла",
                                           "Задание параметров: Включить запись в файл?", "О программе",
                                           "Версия 25.01.27.0", "Язык сменится при следующем запуске программы."};
        QTest::newRow("en") << "en"
                            << QStringList{"Orvex 25.01.27.0", "File|Settings|Charts|Help", "Value", "File name",
                                           "Settings: Record into files?", "About", "Version 25.01.27.0",
                                           "The language changes when the program is started next."};
    }

    void windowInBothLanguages()
    {
        QFETCH(QString, language);
        QFETCH(QStringList, expected);
        QVERIFY(Language::install(QCoreApplication::instance(), language));
        QCOMPARE(Language::current(), language);
        QCoreApplication::setApplicationVersion(ORVEX_VERSION);
        Clock::setVirtual();
        WindowRig rig;
        rig.start(true, 10);
        QCOMPARE(rig.window->windowTitle(), expected.at(0));
        QCOMPARE(menuTitles(rig.window.get()).join(QLatin1Char('|')), expected.at(1));
        QAbstractItemModel *table = rig.child<QTableView>("tblSens")->model();
        QCOMPARE(table->headerData(TableMan::ColValue, Qt::Horizontal).toString(), expected.at(2));
        QCOMPARE(table->headerData(TableMan::ColFileName, Qt::Horizontal).toString(), expected.at(3));
        const DialogRequest first = rig.dialogs.history().value(0);
        QCOMPARE(first.title + QStringLiteral(": ") + first.text, expected.at(4));

        rig.dialogs.clearHistory();
        rig.dialogs.setResponder([](const DialogRequest &) { return DialogAnswer::pressed(QMessageBox::Ok); });
        rig.child<QAction>("action_7")->trigger();
        const DialogRequest about = rig.dialogs.history().value(0);
        QCOMPARE(about.title, expected.at(5));
        QVERIFY2(about.text.endsWith(expected.at(6)), qPrintable(about.text));

        // "Язык / Language" reads the same in both, each language named in itself.
        auto *menu = rig.window->findChild<QMenu *>(QStringLiteral("menuLanguage"));
        QVERIFY(menu);
        QCOMPARE(menu->title(), QStringLiteral("Язык / Language"));
        QCOMPARE(menu->actions().size(), 3);
        QVERIFY(menu->actions().at(0)->isChecked()); // nothing stored: the system's
        rig.dialogs.clearHistory();
        menu->actions().at(language == QLatin1String("ru") ? 2 : 1)->trigger();
        QCOMPARE(appSettings().value(QLatin1String(Language::kSettingsKey)).toString(),
                 language == QLatin1String("ru") ? QStringLiteral("en") : QStringLiteral("ru"));
        QCOMPARE(rig.dialogs.history().value(0).text, expected.at(7));
    }

    // In English every dialog the window's commands open — the start-up
    // questions, About, the separators, calibration refused and reset, the
    // alarm limits with a bad entry, a thermometer's thresholds, the
    // language choice — and the status texts carry no Russian word.
    void everyDialogInEnglish()
    {
        QVERIFY(Language::install(QCoreApplication::instance(), QStringLiteral("en")));
        Clock::setVirtual();
        WindowRig rig;
        rig.switches.pt100Mode = true;
        rig.f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x21), 21.0));
        rig.f.add(std::make_unique<SimPt100Emulator>(SimFixture::rom(0x3B, 0x17), 36.6, 0.25f));
        rig.start([](const DialogRequest &request) {
            // Record nothing; every question is declined, every input given.
            DialogAnswer answer = DialogAnswer::pressed(QMessageBox::No, true);
            if (request.kind == DialogRequest::InputInt)
                answer.intValue = request.intValue;
            if (request.kind == DialogRequest::InputText)
                answer.textValue = QStringLiteral("bad");
            return ScriptedDialogs::Answer(answer);
        });
        rig.tick();
        for (const char *action : {"action_7", "action_11"})
            rig.child<QAction>(action)->trigger();
        for (const char *button : {"btnCalibrate", "btnResetCal"})
            rig.child<QAbstractButton>(button)->click();
        auto *view = rig.child<QTableView>("tblSens");
        for (int row = 0; row < view->model()->rowCount(); ++row) {
            view->selectRow(row);
            emit view->customContextMenuRequested(QPoint(2, 2));
            QMenu *menu = rig.window->findChildren<QMenu *>().last();
            for (QAction *action : menu->actions()) {
                if (!action->text().contains(QLatin1String("chart")))
                    action->trigger();
            }
            menu->close();
            rig.tickAfter(5000);
        }
        rig.window->findChild<QMenu *>(QStringLiteral("menuLanguage"))->actions().at(2)->trigger();

        const QRegularExpression cyrillic(QStringLiteral("[\\x{0400}-\\x{04FF}]"));
        QSet<QString> titles;
        for (const DialogRequest &request : rig.dialogs.history()) {
            titles << request.title;
            // "Язык / Language" is the one title meant for both.
            QString seen = request.title + QLatin1Char('|') + request.text + QLatin1Char('|') + request.whatsThis;
            seen.remove(QStringLiteral("Язык / Language"));
            QVERIFY2(!seen.contains(cyrillic), qPrintable(seen));
        }
        // About, the separators, calibration, its reset, the limits and their
        // refusal, the thresholds, the language: every kind was asked.
        QVERIFY2(titles.size() >= 7, qPrintable(QStringList(titles.values()).join(QLatin1Char('|'))));
        for (QLabel *label : rig.window->statusBar()->findChildren<QLabel *>())
            QVERIFY2(!label->text().contains(cyrillic), qPrintable(label->text()));
        for (const char *label : {"lblUsbAdapter", "lblTimeTo", "lblInterval"})
            QVERIFY2(!rig.text(label).contains(cyrillic), qPrintable(rig.text(label)));
    }

    // A first start fits the screen; a later one opens where the window was
    // closed, with its size.
    void geometryRemembered()
    {
        Clock::setVirtual();
        QSize first;
        {
            WindowRig rig;
            rig.start(false, 0);
            first = rig.window->size();
            const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
            QCOMPARE(first, QSize(1600, 1100).boundedTo(screen));
            rig.window->resize(first - QSize(100, 50));
            rig.window->close();
        }
        QVERIFY(!appSettings().value(QStringLiteral("View/Geometry")).toByteArray().isEmpty());
        WindowRig again;
        again.start(false, 0);
        QCOMPARE(again.window->size(), first - QSize(100, 50));
    }

    // The adapter line names the kind of master it waits for and says why
    // in the window's language, the port as given.
    void adapterLineInBothLanguages_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ru") << "ru" << "Последовательный адаптер DS2480B не найден. /dev/orvex-absent: нет такого порта "
                                       "(подключён ли адаптер?)";
        QTest::newRow("en") << "en" << "DS2480B serial adapter not found. /dev/orvex-absent: no such port "
                                       "(is the adapter plugged in?)";
    }

    void adapterLineInBothLanguages()
    {
        QFETCH(QString, language);
        QFETCH(QString, expected);
        QVERIFY(Language::install(QCoreApplication::instance(), language));
        SerialBackend serial(QStringLiteral("/dev/orvex-absent"));
        ScriptedDialogs dialogs;
        dialogs.setResponder(WindowRig::startUp(false, QString(), 0));
        NotingDesktop desktop;
        WindowPeers peers;
        peers.dialogs = &dialogs;
        peers.desktop = &desktop;
        MainWindow window(&serial, peers);
        window.applicationTimer()->stop();
        window.onAppTimer();
        window.applicationTimer()->stop();
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("lblUsbAdapter"))->text(), expected);
    }

    // The window records the demo bus into byte-identical files (names
    // included) whichever language it speaks.
    void windowDataIndependentOfLanguage()
    {
        const QMap<QString, QByteArray> russian = recordDemoWindow();
        QVERIFY(Language::install(QCoreApplication::instance(), QStringLiteral("en")));
        const QMap<QString, QByteArray> english = recordDemoWindow();
        QVERIFY2(russian.size() >= 10, qPrintable(QStringList(russian.keys()).join(' ')));
        QCOMPARE(english.keys(), russian.keys());
        for (auto it = russian.cbegin(); it != russian.cend(); ++it) {
            QVERIFY2(english.value(it.key()) == it.value(), qPrintable(it.key()));
            QVERIFY2(it.value().count('\n') >= 3, qPrintable(it.key()));
        }
    }

    // orvexctl speaks the locale's language, and records the same files
    // under both.
    void orvexctlFollowsTheLocale()
    {
        QTemporaryDir home;
        const QStringList base{"XDG_CONFIG_HOME=" + home.path() + "/config", "XDG_DATA_HOME=" + home.path() + "/data",
                               "ORVEX_MQTT_PASSWORD"};
        const QString missing = home.path() + QStringLiteral("/no-such-password");
        const QList<QPair<QStringList, QString>> locales{
            {{"LANGUAGE=ru"}, "не удалось прочитать файл пароля " + missing},
            {{"LANGUAGE", "LANG=ru_RU.UTF-8"}, "не удалось прочитать файл пароля " + missing},
            {{"LANGUAGE"}, "could not read the password file " + missing}, // the C locale
            {{"LANGUAGE=en_GB"}, "could not read the password file " + missing},
        };
        for (const auto &locale : locales) {
            const OrvexctlRun run = runOrvexctl(QStringLiteral(ORVEXCTL_BIN),
                                                {"read", "--bus=sim", "--fast", "--mqtt", "mqtt://127.0.0.1:1/lab",
                                                 "--mqtt-user", "lab", "--mqtt-password-file", missing},
                                                base + locale.first);
            QCOMPARE(run.exitCode, 2);
            QVERIFY2(QString::fromUtf8(run.err).contains(locale.second), run.err.constData());
        }

        QMap<QString, QByteArray> recorded[2];
        const QStringList languages{"LANGUAGE=ru", "LANGUAGE=en"};
        for (int i = 0; i < 2; ++i) {
            QTemporaryDir folder;
            const OrvexctlRun run = runOrvexctl(QStringLiteral(ORVEXCTL_BIN),
                                                {"read", "--bus=sim", "--fast", "--start", "2025-01-27T14:03:05",
                                                 "--cycles", "3", "--interval", "10", "--record", folder.path()},
                                                base + QStringList{languages.at(i)});
            QCOMPARE(run.exitCode, 0);
            recorded[i] = filesUnder(folder.path());
        }
        QVERIFY(recorded[0].size() >= 10);
        QCOMPARE(recorded[1], recorded[0]);
    }

    // orvexctl's own texts, usage and usage errors, are English at the source
    // and Russian under a Russian locale; both name the same options, and the
    // Russian lines keep to the usage's width and alignment.
    void orvexctlUsageInBothLanguages()
    {
        struct Expected
        {
            const char *language;
            QString error;
            QStringList inUsage; // lines of the error's usage and of --help begin so
        };
        const QList<Expected> expected{
            {"LANGUAGE=ru",
             "orvexctl: --cycles: нужно целое число от 0 (0 — до остановки)",
             {"использование: orvexctl scan", "                  шина (по умолчанию: ORVEX_BUS, иначе",
              "  --mqtt URL      публиковать", "  --cycles N      число циклов"}},
            {"LANGUAGE=en",
             "orvexctl: --cycles takes a whole number from 0 (0: until stopped)",
             {"usage: orvexctl scan", "                  the bus (default: ORVEX_BUS, else",
              "  --mqtt URL      publish", "  --cycles N      measurement cycles"}},
        };
        const QRegularExpression option(QStringLiteral("--[a-z][a-z0-9-]*"));
        QSet<QString> options[2];
        for (int i = 0; i < expected.size(); ++i) {
            const Expected &e = expected.at(i);
            const QStringList env{QString::fromLatin1(e.language)};
            const OrvexctlRun refused =
                runOrvexctl(QStringLiteral(ORVEXCTL_BIN), {"read", "--bus=sim", "--cycles", "many"}, env);
            QCOMPARE(refused.exitCode, 2);
            const QStringList lines = QString::fromUtf8(refused.err).split(QLatin1Char('\n'));
            QCOMPARE(lines.value(0), e.error);
            const OrvexctlRun help = runOrvexctl(QStringLiteral(ORVEXCTL_BIN), {"--help"}, env);
            QCOMPARE(help.exitCode, 0);
            const QStringList helpLines = QString::fromUtf8(help.out).split(QLatin1Char('\n'));
            for (const QString &begin : e.inUsage) {
                QVERIFY2(lines.filter(QRegularExpression("^" + QRegularExpression::escape(begin))).size() == 1,
                         qPrintable(begin + QStringLiteral(" not in:\n") + lines.join(QLatin1Char('\n'))));
                QVERIFY2(helpLines.filter(QRegularExpression("^" + QRegularExpression::escape(begin))).size() == 1,
                         qPrintable(begin));
            }
            for (const QString &line : lines.mid(1)) {
                // The Russian is wrapped to 100 columns (the default template excepted).
                if (i == 0)
                    QVERIFY2(line.size() <= 100 || line.contains(QLatin1String("%DATE%")), qPrintable(line));
                for (QRegularExpressionMatchIterator it = option.globalMatch(line); it.hasNext();)
                    options[i].insert(it.next().captured());
            }
            // The outputs' synopsis lines up under the read command's second line.
            const int read = lines.indexOf(QRegularExpression(QStringLiteral(" +\\[--record DIR.*")));
            QVERIFY(read > 0);
            const QString outputs = lines.value(read + 1);
            QVERIFY2(outputs.trimmed().startsWith(QLatin1String("[--")), qPrintable(outputs));
            QCOMPARE(outputs.indexOf(QLatin1Char('[')), lines.at(read).indexOf(QLatin1Char('[')));
        }
        QVERIFY(options[0].size() > 20);
        QCOMPARE(options[0], options[1]);
    }

    // The template window has a title, and its warning about channels that
    // would share a name wraps inside the window instead of running past
    // its edge.
    void templateWindowInEnglish()
    {
        QVERIFY(Language::install(QCoreApplication::instance(), QStringLiteral("en")));
        Clock::setVirtual();
        WindowRig rig(SimBusLoader::loadDemo(nullptr));
        rig.start(false, 0);
        rig.tick();
        rig.child<QAction>("action_6")->trigger();
        QWidget *templates = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->inherits("FileNameTemplate") && w->isVisible())
                templates = w;
        }
        QVERIFY(templates);
        QCOMPARE(templates->windowTitle(), QStringLiteral("File name format"));
        templates->findChild<QAbstractButton *>(QStringLiteral("rbI2CTemplate"))->click();
        auto *preview = templates->findChild<QLabel *>(QStringLiteral("lblResultat"));
        QVERIFY2(preview->text().contains(QStringLiteral("\nWarning: several connected channels")),
                 qPrintable(preview->text()));
        QCoreApplication::processEvents();
        QVERIFY(preview->wordWrap());
        QVERIFY2(preview->geometry().right() <= templates->width(),
                 qPrintable(QStringLiteral("%1 > %2").arg(preview->geometry().right()).arg(templates->width())));
        // Every line of it, not only the first two: the window grows to it.
        QVERIFY2(preview->heightForWidth(preview->width()) <= preview->height(),
                 qPrintable(QStringLiteral("%1 > %2").arg(preview->heightForWidth(preview->width())).arg(preview->height())));
        templates->close();
    }

    // The window on the demo bus at the two sizes it is shown at, in both
    // languages, recording (files named, folder in the tooltip) or not with
    // the Pt100 controls: every label shows its whole text within the window,
    // the serial number fits its field, the alarm's words fit beside the
    // value, a deviation column fits its header, the unit column is as wide
    // as its texts (the table scrolls sideways instead), a device behind no
    // hub shows no hub channel. Types and units are the window's; the files
    // keep the records' ("%" for the SHT3x's humidity the table calls "%RH").
    void windowTextsFit_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("record");
        QTest::newRow("ru 1280x800 recording") << "ru" << QSize(1280, 800) << true;
        QTest::newRow("en 1280x800 recording") << "en" << QSize(1280, 800) << true;
        QTest::newRow("ru 1600x1100 -pt100") << "ru" << QSize(1600, 1100) << false;
        QTest::newRow("en 1600x1100 -pt100") << "en" << QSize(1600, 1100) << false;
    }

    void windowTextsFit()
    {
        QFETCH(QString, language);
        QFETCH(QSize, size);
        QFETCH(bool, record);
        QVERIFY(Language::install(QCoreApplication::instance(), language));
        Clock::setVirtual();
        WindowRig rig(SimBusLoader::loadDemo(nullptr));
        rig.switches.pt100Mode = !record;
        rig.start(record, 60);
        rig.window->resize(size);
        rig.window->show();
        rig.tick();
        TableMan &table = rig.window->measurementSession()->table();
        int hot = -1, thermometer = -1, humidity = -1;
        for (int row = 0; row < table.rowTotal(); ++row) {
            const QString type = table.cellText(row, TableMan::ColType);
            if (type == QLatin1String("MAX31850 Temperature sensor"))
                hot = row;
            else if (type == QLatin1String("DS18B20 Temperature sensor") && thermometer < 0)
                thermometer = row;
            else if (type == QLatin1String("SHT3x humidity channel"))
                humidity = row;
        }
        QVERIFY(hot >= 0 && thermometer >= 0 && humidity >= 0);
        AlarmLimits limits;
        limits.high = table.cellText(hot, TableMan::ColValue).toDouble() - 10;
        rig.window->measurementSession()->alarms().setLimits(table.channelAt(hot), limits);
        rig.enter("lineSampleCh1", QStringLiteral("22"));
        rig.tickAfter(60000);
        QCoreApplication::processEvents();

        QMainWindow *window = rig.window.get();
        QCOMPARE(window->size(), size); // its layout asks for no more
        for (QLabel *label : window->findChildren<QLabel *>()) {
            if (!label->isVisibleTo(window) || label->wordWrap() || label->text().isEmpty())
                continue;
            const QString what = label->objectName() + QStringLiteral(": ") + label->text();
            const int textWidth = label->fontMetrics().horizontalAdvance(label->text()) + 2 * label->margin();
            QVERIFY2(label->contentsRect().width() >= textWidth, qPrintable(what));
            QVERIFY2(label->mapTo(window, QPoint(label->width(), 0)).x() <= window->width(), qPrintable(what));
        }
        auto *serial = rig.child<QLineEdit>("lineSnUSBadapter");
        QVERIFY(!serial->text().isEmpty());
        QVERIFY2(serial->width() >= serial->fontMetrics().horizontalAdvance(serial->text()) + 4, qPrintable(serial->text()));

        auto *view = rig.child<QTableView>("tblSens");
        const QString value = table.index(hot, TableMan::ColValue).data().toString();
        QVERIFY2(value.endsWith(table.alarmMark(hot)) && !table.alarmMark(hot).isEmpty(), qPrintable(value));
        QVERIFY2(view->columnWidth(TableMan::ColValue) > view->fontMetrics().horizontalAdvance(value), qPrintable(value));
        QVERIFY(!view->isColumnHidden(TableMan::ColDeviation0));
        QVERIFY(view->columnWidth(TableMan::ColDeviation0) >= view->horizontalHeader()->sectionSizeHint(TableMan::ColDeviation0));
        QVERIFY(!view->horizontalHeader()->stretchLastSection());
        const int unitWidth = view->columnWidth(TableMan::ColUnit);
        QVERIFY2(unitWidth < 3 * view->horizontalHeader()->sectionSizeHint(TableMan::ColUnit), qPrintable(QString::number(unitWidth)));
        QVERIFY(view->horizontalScrollBar()->maximum() > 0 || !record);

        QCOMPARE(table.index(thermometer, TableMan::ColHubChannel).data().toString(), QString());
        QCOMPARE(table.cellText(thermometer, TableMan::ColHubChannel), QStringLiteral("-1"));
        QCOMPARE(table.index(thermometer, TableMan::ColType).data().toString(),
                 language == QLatin1String("ru") ? QStringLiteral("DS18B20, датчик температуры")
                                                 : QStringLiteral("DS18B20 Temperature sensor"));
        QCOMPARE(table.index(thermometer, TableMan::ColUnit).data().toString(), QStringLiteral("°C"));
        QCOMPARE(table.index(humidity, TableMan::ColUnit).data().toString(), QStringLiteral("%RH"));
        if (record) {
            const QString path = table.cellText(humidity, TableMan::ColFileName);
            QCOMPARE(table.index(humidity, TableMan::ColFileName).data().toString(), QFileInfo(path).fileName());
            QCOMPARE(table.index(humidity, TableMan::ColFileName).data(Qt::ToolTipRole).toString(),
                     QDir::toNativeSeparators(path));
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray header = file.readAll();
            QVERIFY2(header.contains("Sensor Unit;%\r\n") && header.contains("Sensor type;SHT3x humidity channel\r\n"),
                     header.constData());
        }
    }

    // Without a display the window says so in one line, with the command
    // that reads the bus from a terminal, and exits with 3 instead of Qt's
    // abort; in English too.
    void windowWithoutDisplay()
    {
        QTemporaryDir home;
        for (const char *language : {"LANGUAGE=ru", "LANGUAGE=en"}) {
            const OrvexctlRun run = runOrvexctl(QStringLiteral(ORVEX_BIN), {"--bus=sim"},
                                                {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", language,
                                                 "XDG_CONFIG_HOME=" + home.path()});
            QCOMPARE(run.exitCode, 3);
            QVERIFY2(run.out.isEmpty(), run.out.constData());
            const QString err = QString::fromUtf8(run.err);
            QCOMPARE(err.count(QLatin1Char('\n')), 1);
            QVERIFY2(err.startsWith(QLatin1String("orvex: ")) && err.contains(QLatin1String("DISPLAY"))
                         && err.contains(QLatin1String("orvexctl read --bus=sim --cycles 1")),
                     qPrintable(err));
            QCOMPARE(err.contains(QStringLiteral("нет дисплея")), QByteArray(language).endsWith("ru"));
        }
    }

    // The window's usage needs no display: asked where Qt's platform plugin
    // cannot start, it is printed all the same.
    void windowHelpWithoutDisplay()
    {
        const OrvexctlRun run = runOrvexctl(QStringLiteral(ORVEX_BIN), {"--help"},
                                            {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM=xcb"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.startsWith("usage: orvex [--bus=VALUE]"), run.out.constData());
        QVERIFY2(run.err.isEmpty(), run.err.constData());
    }

    // The chart window's buttons and empty-chart text follow the language;
    // the readings it saves do not.
    void chartWindowInEnglish()
    {
        QVERIFY(Language::install(QCoreApplication::instance(), QStringLiteral("en")));
        ScriptedDialogs dialogs;
        ChartWindow *chart = ChartWindow::showForRow(ChartWindow::Sources(), -1, &dialogs);
        QVERIFY(chart);
        QStringList texts;
        for (QPushButton *button : chart->findChildren<QPushButton *>())
            texts << button->text();
        QVERIFY2(texts.contains(QStringLiteral("Save readings (CSV)…")) && texts.contains(QStringLiteral("Save summary (CSV)…")),
                 qPrintable(texts.join('|')));
        QCOMPARE(QString::fromUtf8(chart->plot()->readingsCsv()), QStringLiteral("Канал;Ед.изм.;Время;Значение\r\n"));
        QCOMPARE(chart->windowTitle(), QStringLiteral("Chart — Orvex"));
        delete chart;
    }
};

QTEST_MAIN(TstLanguage)
#include "tst_language.moc"
