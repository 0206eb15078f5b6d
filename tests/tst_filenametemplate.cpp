#include "app/appsettings.h"
#include "app/appstate.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "support/settingsfolder.h"
#include "table/filenametemplate.h"
#include "table/recorder.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

class TstFileNameTemplate : public QObject
{
    Q_OBJECT

    SettingsFolder settingsDir;
    std::unique_ptr<FileNameTemplate> window;

    void click(const char *name) { window->findChild<QAbstractButton *>(name)->click(); }
    QLineEdit *edit() { return window->findChild<QLineEdit *>("edtFileTemplateName"); }
    // The line edit, the preview, and the template as kept by the recorder, AppState and the settings.
    QString state()
    {
        return QStringList({edit()->text(), window->findChild<QLabel *>("lblResultat")->text(),
                            Recorder::instance().nameTemplate(), AppState::instance().fileNameTemplate(),
                            appSettings().value("Settings/OutFileFormat", "-").toString()}).join('|');
    }

private slots:
    void init()
    {
        Dialogs::setResponder([](const DialogRequest &) { return DialogAnswer::pressed(QMessageBox::Ok, true); });
        Clock::setVirtual();
        AppState::instance().resetForTest();
        AppState::instance().setFileNameTemplate("%SN1W%");
        Recorder::instance().setNameTemplate("%SN1W%");
        appSettings().remove("Settings/OutFileFormat");
        Dialogs::clearHistory();
        window.reset(new FileNameTemplate);
        window->show();
    }

    void presetsPreviewAndCancel()
    {
        QCOMPARE(state(), QStringLiteral("%SN1W%|941955A80300002C|%SN1W%|%SN1W%|-"));
        click("rb1WTemplate");
        QCOMPARE(state(), QStringLiteral("%TS%%SC%_%SN1W%|T1_941955A80300002C|%SN1W%|%SN1W%|-"));
        click("rbI2CTemplate");
        QCOMPARE(state(), QStringLiteral("%TS%%SC%_%I2CSNL%_%MHCH%|T1_0000000000000035_3|%SN1W%|%SN1W%|-"));
        click("rbDefaltTemplate");
        QCOMPARE(state().section('|', 0, 1), QStringLiteral("%TS%%SC%_%SN1W%_%I2CSNH%_%I2CSNL%_%I2CA%_%MHCH%|"
                                                            "T1_941955A80300002C0000000000000035_238_3"));
        click("rbFullDefaultTemplate");
        edit()->clear();                                          // the last preview stays
        QCOMPARE(state(), QStringLiteral("|2025.01.27-14.03.05_T1_941955A80300002C0000000000000035_238_3|"
                                         "%SN1W%|%SN1W%|-"));
        edit()->setText("%TS%:x!");
        click("btnCancel");
        QCOMPARE(state(), QStringLiteral("%TS%:x!|T_x!|%SN1W%|%SN1W%|-"));
        QVERIFY(!window->isVisible() && Dialogs::history().isEmpty());
    }

    void okCleansAndStores()
    {
        edit()->setText("%TS%%SC% %SN1W%!");
        click("btnOk");
        QCOMPARE(state(), QStringLiteral("%TS%%SC% %SN1W%!|T1_941955A80300002C!|"
                                         "%TS%%SC%_%SN1W%_|%TS%%SC%_%SN1W%_|%TS%%SC%_%SN1W%_"));
        QVERIFY(!window->isVisible());
        QCOMPARE(Dialogs::history().size(), 1);
        const DialogRequest box = Dialogs::history().first();
        QCOMPARE(box.title + "|" + box.text, QStringLiteral("Информация|Параметры будут применены после перезапуска программы"));

        init();
        edit()->setText("  \t ");
        click("btnOk");
        const QString full = Recorder::DefaultTemplate;
        QCOMPARE(state().split('|').mid(2) << edit()->text(), QStringList({full, full, full, full}));
    }
};

QTEST_MAIN(TstFileNameTemplate)
#include "tst_filenametemplate.moc"
