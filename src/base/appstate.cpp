#include "base/appstate.h"

#include "base/clock.h"

AppState::AppState()
    : m_startTime(Clock::now())
{
}

AppState &AppState::instance()
{
    static AppState state;
    return state;
}

void AppState::resetForTest()
{
    m_pt100Mode = false;
    m_shtMode = false;
    m_startTime = Clock::now();
    m_fileNameTemplate.clear();
}
