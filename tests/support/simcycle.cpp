#include "support/simcycle.h"

#include "sim/simbusloader.h"

SimCycle::SimCycle(const QByteArray &json)
    : sensor(session.sensor())
{
    std::unique_ptr<SimBackend> backend = SimBusLoader::load(json, QStringLiteral("x"), &error);
    if (!backend)
        return;
    fixture = std::make_unique<SimFixture>(std::move(backend));
    fixture->backend().setTrafficLogging(false);
    openResult = session.refresh().openResult;
    session.measure();
}
