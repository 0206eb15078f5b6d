#include "support/windowrig.h"

#include "platform/clock.h"
#include "sim/simidentitychip.h"

#include <QLabel>
#include <QTimer>
#include <QtTest>

const QByteArray WindowRig::kIdentityRom = SimFixture::rom(0x81, 0x1B2A4E);

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
    const QString path = folder.path();
    start([=](const DialogRequest &r) {
        DialogAnswer a;
        if (r.kind == DialogRequest::Message)
            a.button = record ? QMessageBox::Yes : QMessageBox::No;
        a.accepted = true;
        a.textValue = path;
        a.intValue = intervalS;
        return a;
    });
}

void WindowRig::start(const Dialogs::Responder &answers)
{
    Dialogs::setResponder(answers);
    window = std::make_unique<MainWindow>();
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
