#pragma once

#include "base/switches.h"
#include "gui/mainwindow.h"
#include "session/measurementsession.h"
#include "support/scripteddialogs.h"
#include "model/sensordevice.h"
#include "support/simfixture.h"

#include <QTemporaryDir>
#include <QWidget>
#include <memory>

// A main window on a simulated bus, in virtual time, with the start-up
// questions answered: record or not, into the rig's temporary folder, at a
// given interval. Its timer is stopped; the test drives the ticks and moves
// virtual time itself. Without a backend the bus holds only an adapter
// identity chip (kIdentityRom).
struct WindowRig
{
    static const QByteArray kIdentityRom;
    // A simulated chip's ROM as the window shows it (reversed, CRC first).
    static QString romText(const QByteArray &rom);

    // Once per test process, before the first window or settings object:
    // settings in a folder of the process's own that outlives the settings
    // object (so its last write at exit leaves nothing behind), a
    // single-instance key of its own, virtual time.
    // Returns the settings folder.
    static QString prepareProcess();
    // Start-up answers: record into `folder` (the folder dialog cancelled
    // when it is empty) at `intervalS` seconds (0 takes the offered
    // interval, -1 cancels the interval dialog).
    static ScriptedDialogs::Responder startUp(bool record, const QString &folder, int intervalS);

    WindowRig();
    explicit WindowRig(std::unique_ptr<SimBackend> backend);

    // Answers the start-up questions (startUp, into `folder`), builds the
    // window, hands it `switches` as main() does, and stops its timer.
    void start(bool record, int intervalS);
    // The same with any answers; they stay in force until the next
    // dialogs.setResponder.
    void start(const ScriptedDialogs::Responder &answers);
    // One timer tick; a tick that does not end the program leaves the timer
    // running, which is checked and stopped again.
    void tick();
    // Moves virtual time forward by `ms`, then one tick.
    void tickAfter(qint64 ms);

    template <typename T = QWidget>
    T *child(const char *name)
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    // Types `text` into a line edit and presses Return.
    void enter(const char *field, const QString &text);
    // The window's record of the simulated chip with this ROM, or null.
    SensorDevice *device(const QByteArray &rom);
    QString text(const char *label);
    QString style(const char *name);
    bool countdownShown();
    int trafficSize() { return f.backend().traffic().size(); }

    SimFixture f;
    QTemporaryDir folder;
    Switches switches; // none given, unless a test sets them before start()
    // The outputs registered; null: the program's.
    const QVector<OutputEntry> *outputs = nullptr;
    // The operator and the desktop the window talks to.
    ScriptedDialogs dialogs;
    NotingDesktop desktop;
    std::unique_ptr<MainWindow> window;
};
