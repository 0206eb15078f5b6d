#pragma once

#include <QDateTime>
#include <QString>

// Process-wide state handed between parts of the program: two switch copies,
// the program's start time and the template passed to the template window.
class AppState
{
public:
    // Created on first use; the creation time becomes the start time.
    static AppState &instance();

    bool pt100Mode() const { return m_pt100Mode; }
    void setPt100Mode(bool on) { m_pt100Mode = on; }
    bool shtMode() const { return m_shtMode; }
    void setShtMode(bool on) { m_shtMode = on; }
    QDateTime startTime() const { return m_startTime; }
    QString fileNameTemplate() const { return m_fileNameTemplate; }
    void setFileNameTemplate(const QString &text) { m_fileNameTemplate = text; }

    // Tests only: start a new run with a fresh start time and no switches.
    void resetForTest();

private:
    AppState();

    bool m_pt100Mode = false;
    bool m_shtMode = false;
    QDateTime m_startTime;
    QString m_fileNameTemplate;
};
