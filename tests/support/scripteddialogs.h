#pragma once

#include "gui/desktop.h"
#include "gui/dialogs.h"

#include <QList>
#include <QStringList>
#include <functional>
#include <utility>

// The operator, as a test plays it: every request is noted (history()) and,
// with a responder, answered by it at once or left open until the test
// answers (answerPending). Without a responder the real dialogs run.
class ScriptedDialogs : public Dialogs
{
public:
    // An answer that may keep its dialog open.
    struct Answer : DialogAnswer
    {
        // Implicit: a responder may return a plain answer.
        Answer(const DialogAnswer &answer = DialogAnswer())
            : DialogAnswer(answer)
        {
        }
        // The operator has not answered yet: ask()'s dialog stays open until
        // answerPending() delivers the answer (a waiting form takes it as it is).
        bool pending = false;
    };
    using Responder = std::function<Answer(const DialogRequest &)>;

    // Answers every request with `responder`; null lets the real dialogs run.
    void setResponder(Responder responder) { m_responder = std::move(responder); }
    // Dialogs opened by ask() whose answer was pending, oldest first.
    int pendingCount() const { return m_pending.size(); }
    DialogRequest pendingRequest(int index = 0) const { return m_pending.value(index).first; }
    // Closes the oldest pending dialog with `answer` (its done runs now).
    void answerPending(const DialogAnswer &answer);
    // Every request since the last clearHistory(), in order.
    QList<DialogRequest> history() const { return m_history; }
    // Forgets the requests and the pending dialogs.
    void clearHistory();

protected:
    void show(QWidget *parent, const DialogRequest &request, Done done) override;
    DialogAnswer wait(QWidget *parent, const DialogRequest &request, Qt::WindowFlags flags) override;

private:
    Responder m_responder;
    QList<DialogRequest> m_history;
    QList<std::pair<DialogRequest, Done>> m_pending;
};

// The desktop, as a test watches it: the paths shown in the file manager and
// the folders opened are noted, nothing is started; with `noFileManager`
// every call fails as on a machine without one.
class NotingDesktop : public Desktop
{
public:
    void showInFileManager(const QString &path, QObject *, const Failed &failed) override
    {
        shown << path;
        if (noFileManager && failed)
            failed();
    }
    void openFolder(const QString &folder, QObject *, const Failed &failed) override
    {
        opened << folder;
        if (noFileManager && failed)
            failed();
    }

    QStringList shown;
    QStringList opened;
    bool noFileManager = false;
};
