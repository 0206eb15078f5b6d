#include "support/scripteddialogs.h"

void ScriptedDialogs::answerPending(const DialogAnswer &answer)
{
    if (m_pending.isEmpty())
        return;
    const Done done = m_pending.takeFirst().second;
    if (done)
        done(answer);
}

void ScriptedDialogs::clearHistory()
{
    m_history.clear();
    m_pending.clear();
}

void ScriptedDialogs::show(QWidget *parent, const DialogRequest &request, Done done)
{
    m_history.append(request);
    if (!m_responder) {
        Dialogs::show(parent, request, std::move(done));
        return;
    }
    const Answer answer = m_responder(request);
    if (answer.pending)
        m_pending.append({request, std::move(done)});
    else if (done)
        done(answer);
}

DialogAnswer ScriptedDialogs::wait(QWidget *parent, const DialogRequest &request, Qt::WindowFlags flags)
{
    m_history.append(request);
    if (!m_responder)
        return Dialogs::wait(parent, request, flags);
    return m_responder(request);
}
