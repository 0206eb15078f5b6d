#pragma once

#include "model/outputentry.h"

#include <QString>
#include <memory>
#include <vector>

class BusBackend;

// What one run measures and where its readings go: the bus or buses, the
// scan options, the recording and the outputs with their plans. The window
// makes it from its settings and the operator's answers, orvexctl from its
// options; MeasurementSession::fromDescription assembles the run from it.
struct SessionDescription
{
    // The buses, owned by the session; or `bus`, one it does not own (the
    // window's, a test's), used when `buses` is empty.
    std::vector<std::unique_ptr<BusBackend>> buses;
    BusBackend *bus = nullptr;

    // The stored scan options ("Settings/ScanAllChannel", "Settings/ScanAllType").
    bool scanAllChannel = false;
    bool scanAllType = false;

    // The table runs after every cycle even with no output (a window shows it).
    bool keepTable = false;
    // The folder the measurement files go into; empty: no recording. The
    // stored recorder settings apply, and `nameTemplate` when not empty.
    QString recordingFolder;
    QString nameTemplate;

    // The outputs, in the registry's order, each under its entry's name.
    struct PlannedOutput
    {
        QString name;
        std::unique_ptr<OutputPlan> plan;
    };
    OutputHost host;
    std::vector<PlannedOutput> outputs;
};
