#include "support/windowrig.h"

#include "base/clock.h"
#include "sensors/sensor.h"
#include "sim/simidentitychip.h"

#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QtTest>

const QByteArray WindowRig::kIdentityRom = SimFixture::rom(0x81, 0x1B2A4E);

QString WindowRig::prepareProcess()
{
    static QTemporaryDir settings;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    qputenv("ORVEX_INSTANCE_KEY", QStringLiteral("orvex-test-%1-%2")
                                      .arg(QCoreApplication::applicationPid())
                                      .arg(QDateTime::currentMSecsSinceEpoch())
                                      .toUtf8());
    Clock::setVirtual();
    return settings.path();
}

ScriptedDialogs::Responder WindowRig::startUp(bool record, const QString &folder, int intervalS)
{
    return [=](const DialogRequest &r) {
        DialogAnswer a = DialogAnswer::pressed(record ? QMessageBox::Yes : QMessageBox::No);
        a.accepted = r.kind == DialogRequest::Directory ? !folder.isEmpty() : intervalS >= 0;
        a.textValue = folder;
        a.intValue = intervalS > 0 ? intervalS : r.intValue;
        return a;
    };
}

WindowRig::WindowRig()
{
    f.add(std::make_unique<SimIdentityChip>(kIdentityRom));
}

WindowRig::WindowRig(std::unique_ptr<SimBackend> backend)
    : f(std::move(backend))
{
}

void WindowRig::start(bool record, int intervalS)
{
    start(startUp(record, folder.path(), intervalS));
}

void WindowRig::start(const ScriptedDialogs::Responder &answers)
{
    dialogs.setResponder(answers);
    WindowPeers peers;
    peers.dialogs = &dialogs;
    peers.desktop = &desktop;
    peers.outputs = outputs;
    window = std::make_unique<MainWindow>(&f.backend(), peers);
    window->applySwitches(switches);
    window->applicationTimer()->stop();
}

void WindowRig::tick()
{
    window->onAppTimer();
    if (!window->exitRequested())
        QVERIFY(window->applicationTimer()->isActive());
    window->applicationTimer()->stop();
}

void WindowRig::tickAfter(qint64 ms)
{
    Clock::advanceMs(ms);
    tick();
}

void WindowRig::enter(const char *field, const QString &text)
{
    child<QLineEdit>(field)->setText(text);
    QTest::keyClick(child<QLineEdit>(field), Qt::Key_Return);
}

SensorDevice *WindowRig::device(const QByteArray &rom)
{
    for (SensorDevice *d : *window->sensorObject()->devices())
        if (d->key == Sensor::keyOf(SimFixture::romId(rom)))
            return d;
    return nullptr;
}

QString WindowRig::romText(const QByteArray &rom)
{
    return romToText(SimFixture::romId(rom), true);
}

QString WindowRig::text(const char *label)
{
    return child<QLabel>(label)->text();
}

QString WindowRig::style(const char *name)
{
    return child(name)->styleSheet();
}

bool WindowRig::countdownShown()
{
    return !child("lblTextTimeTo")->isHidden() && !child("lblTimeTo")->isHidden();
}
