#pragma once

#include "session/measurementsession.h"
#include "support/simfixture.h"

#include <QByteArray>
#include <QString>
#include <memory>

// A simulated bus made from a bus file's text, installed, searched and
// measured once, as one tick of the window does it (traffic log off). When
// the loader refuses the text, `error` says why and nothing else happens.
struct SimCycle
{
    explicit SimCycle(const QByteArray &json);

    QString error;
    std::unique_ptr<SimFixture> fixture;
    MeasurementSession session;
    Sensor &sensor;
    int openResult = 0;
};
