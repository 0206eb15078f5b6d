// orvex-screenshots: the pictures of the README and the user guide, taken
// of the real window on the demo bus in virtual time (so every run gives the
// same readings): recording every 60 s, a reference sample for channel 0, an
// alarm limit on the thermocouple, three cycles. Run offscreen, as
// `make screenshots` does:
//   orvex-screenshots FOLDER [WIDTHxHEIGHT] [--states]
// writes FOLDER/mainwindow.png (Russian), FOLDER/mainwindow-en.png (English),
// FOLDER/chart.png (three thermometers over an hour and a half, in Russian)
// and FOLDER/filenametemplate-en.png (the template window with its warning);
// with --states also the window before its first cycle and during one
// (start*.png, measuring*.png), to look for texts cut off.

#include "alarms/alarmrules.h"
#include "base/appsettings.h"
#include "base/clock.h"
#include "base/language.h"
#include "gui/chartwindow.h"
#include "model/alarmboard.h"
#include "sim/simbusloader.h"
#include "support/windowrig.h"
#include "table/tableman.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QSettings>
#include <QTableView>
#include <QTextStream>
#include <QTranslator>

namespace {

void settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

bool save(QWidget *widget, const QString &path)
{
    settle();
    const bool ok = widget->grab().save(path);
    QTextStream(stdout) << (ok ? "wrote " : "could not write ") << path << "\n";
    return ok;
}

bool shoot(const QString &language, const QString &folder, const QSize &size, bool states)
{
    for (QTranslator *translator : QCoreApplication::instance()->findChildren<QTranslator *>()) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
    Language::install(QCoreApplication::instance(), language);
    appSettings().clear();
    Clock::setVirtual();
    QString error;
    WindowRig rig(SimBusLoader::loadDemo(&error));
    rig.start(true, 60);
    rig.window->resize(size);
    rig.window->show();
    const QString suffix = language == QLatin1String("ru") ? QString() : QStringLiteral("-") + language;
    bool ok = true;
    if (states) {
        ok = save(rig.window.get(), folder + QStringLiteral("/start") + suffix + QStringLiteral(".png"));
        // The first table update runs inside the cycle, with its red label.
        auto *shot = new QObject;
        QObject::connect(&rig.window->measurementSession()->table(), &TableMan::updated, shot, [&, shot] {
            ok = save(rig.window.get(), folder + QStringLiteral("/measuring") + suffix + QStringLiteral(".png")) && ok;
            shot->deleteLater();
        });
    }
    rig.tick();
    TableMan &table = rig.window->measurementSession()->table();
    for (int row = 0; row < table.rowTotal(); ++row) {
        if (table.cellText(row, TableMan::ColType) == QLatin1String("MAX31850 Temperature sensor")
            && table.cellText(row, TableMan::ColValue).toDouble() > 300) {
            AlarmLimits limits;
            AlarmRules::parseLimits(QStringLiteral(":300"), &limits, &error);
            rig.window->measurementSession()->alarms().setLimits(table.channelAt(row), limits);
        }
    }
    rig.enter("lineSampleCh1", QStringLiteral("22"));
    for (int cycle = 0; cycle < 2; ++cycle)
        rig.tickAfter(60000);
    rig.tickAfter(2000); // the countdown, as the window shows it between cycles
    ok = save(rig.window.get(), folder + QStringLiteral("/mainwindow") + suffix + QStringLiteral(".png"));
    if (language == QLatin1String("ru")) {
        // An hour and a half more, then the three thermometers on one chart
        // with both reference values.
        for (int cycle = 0; cycle < 90; ++cycle)
            rig.tickAfter(60000);
        rig.enter("lineSampleCh1", QStringLiteral("20"));
        rig.enter("lineSampleCh2", QStringLiteral("23"));
        auto *view = rig.child<QTableView>("tblSens");
        view->selectRow(0);
        rig.child<QAction>("actionChart")->trigger();
        ChartWindow *chart = rig.window->chartWindows().value(0);
        for (int row : {1, 3})
            chart->addChannel(rig.window->trendArchive().channel(table.channelAt(row).text()));
        chart->resize(1400, 600);
        chart->show();
        ok = save(chart, folder + QStringLiteral("/chart.png")) && ok;
        chart->close();
    } else {
        rig.child<QAction>("action_6")->trigger();
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->inherits("FileNameTemplate") && w->isVisible()) {
                w->findChild<QAbstractButton *>(QStringLiteral("rbI2CTemplate"))->click();
                ok = save(w, folder + QStringLiteral("/filenametemplate") + suffix + QStringLiteral(".png")) && ok;
                w->close();
            }
        }
    }
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVEX_VERSION));
    const QStringList args = app.arguments();
    QStringList rest = args.mid(1);
    const bool states = rest.removeAll(QStringLiteral("--states")) > 0;
    if (rest.isEmpty() || rest.size() > 2) {
        QTextStream(stderr) << "usage: orvex-screenshots FOLDER [WIDTHxHEIGHT] [--states]\n";
        return 2;
    }
    QSize size(1600, 1100);
    if (rest.size() == 2) {
        const QStringList parts = rest.at(1).split(QLatin1Char('x'));
        size = QSize(parts.value(0).toInt(), parts.value(1).toInt());
    }
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    WindowRig::prepareProcess();
    const bool ok = shoot(QStringLiteral("ru"), rest.at(0), size, states) && shoot(QStringLiteral("en"), rest.at(0), size, states);
    return ok ? 0 : 1;
}
