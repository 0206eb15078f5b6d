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
    std::unique_ptr<MeasurementSession> session;
    // The session's model of the bus (an empty one when the text was refused).
    Sensor &sensor();
    int openResult = 0;
};
