#include "support/logcapture.h"

namespace {
LogCapture *active = nullptr;
}

LogCapture::LogCapture()
    : m_previous(qInstallMessageHandler(handler))
{
    active = this;
}

LogCapture::~LogCapture()
{
    active = nullptr;
    qInstallMessageHandler(m_previous);
}

void LogCapture::handler(QtMsgType, const QMessageLogContext &context, const QString &text)
{
    if (!active)
        return;
    active->m_lines << QString::fromLatin1(context.category ? context.category : "") + QStringLiteral(": ") + text;
    active->m_texts << text;
}

int LogCapture::count(const QString &start) const
{
    int n = 0;
    for (const QString &t : m_texts)
        n += t.startsWith(start) ? 1 : 0;
    return n;
}

void LogCapture::clear()
{
    m_lines.clear();
    m_texts.clear();
}
