// Cost of one full acquisition cycle of the demo bus with recording on, as
// the window's tick runs it: adapter check, search, device-list upkeep, the
// measurement cycle and the table update that writes every channel's line.
// Reports the bus time a cycle takes (virtual time: conversion waits plus the
// wire timing) and the CPU time the program and the simulation need for it.
// Log messages are dropped.
//
// usage: bench_cycle [cycles]   (default 50)

#include "onewire/adapter.h"
#include "onewire/tmex.h"
#include "platform/clock.h"
#include "sensors/acquisition.h"
#include "sensors/sensor.h"
#include "sim/simbackend.h"
#include "sim/simbusloader.h"
#include "table/recorder.h"
#include "table/tableman.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <ctime>

namespace {

void dropMessages(QtMsgType, const QMessageLogContext &, const QString &)
{
}

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(dropMessages);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int cycles = 50;
    if (argc > 1)
        cycles = qMax(1, QString::fromLocal8Bit(argv[1]).toInt());

    QTextStream out(stdout);
    QString error;
    std::unique_ptr<SimBackend> backend = SimBusLoader::loadDemo(&error);
    QTemporaryDir folder;
    if (!backend || !folder.isValid()) {
        out << "cannot set up: " << error << "\n";
        return 1;
    }
    Clock::setVirtual();
    Tmex::setBackend(backend.get());
    Adapter::instance().forgetSession();

    Recorder::instance().setFolder(folder.path());
    Sensor sensor;
    Acquisition acquisition(&sensor);
    QTableWidget table;
    TableMan tableMan(&table);
    tableMan.setOutputFolder(folder.path());
    tableMan.init(sensor.devices());
    sensor.setTableMan(&tableMan);

    // The first cycle creates the files; measure the steady state after it.
    auto cycle = [&] {
        acquisition.refresh();
        sensor.measureAll();
        tableMan.update();
    };
    cycle();

    const qint64 busStartUs = Clock::tickUs();
    const std::clock_t cpuStart = std::clock();
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < cycles; ++i)
        cycle();
    const double cpuMs = double(std::clock() - cpuStart) * 1000.0 / CLOCKS_PER_SEC;
    const double wallMs = double(wall.nsecsElapsed()) / 1e6;
    const double busMs = double(Clock::tickUs() - busStartUs) / 1000.0;

    int channels = 0;
    for (const SensorDevice *device : qAsConst(*sensor.devices()))
        channels += device->channels.size();
    out << "Full cycle of the demo bus with recording on, " << cycles << " cycles, "
        << sensor.devices()->size() << " devices, " << channels << " channels, "
        << QDir(folder.path()).entryList(QDir::Files).size() << " files\n";
    out << "  bus time per cycle:  " << QString::number(busMs / cycles, 'f', 1) << " ms (virtual)\n";
    out << "  CPU time per cycle:  " << QString::number(cpuMs / cycles, 'f', 2) << " ms\n";
    out << "  real time per cycle: " << QString::number(wallMs / cycles, 'f', 2) << " ms\n";

    Tmex::setBackend(nullptr);
    Adapter::instance().forgetSession();
    return 0;
}
