#include "support/simcycle.h"

#include "sim/simbusloader.h"

SimCycle::SimCycle(const QByteArray &json)
{
    std::unique_ptr<SimBackend> backend = SimBusLoader::load(json, QStringLiteral("x"), &error);
    if (!backend) {
        session = std::make_unique<MeasurementSession>(nullptr);
        return;
    }
    fixture = std::make_unique<SimFixture>(std::move(backend));
    fixture->backend().setTrafficLogging(false);
    session = std::make_unique<MeasurementSession>(&fixture->backend());
    openResult = session->refresh().openResult;
    session->measure();
}

Sensor &SimCycle::sensor()
{
    return session->sensor();
}
