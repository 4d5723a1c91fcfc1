#pragma once

#include "transfer/RunDriver.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// Execute: every group of a judged list run in turn into its leader's folder. The one
// walk that the window, the batch mode, the dry run and the journal all use.
namespace kurumu::transfer {

// One group of the judged list, by the items' paths.
struct Group {
    QString leader;
    QStringList members;
};

class ExecuteHost : public RunHost {
public:
    // The walk reaches a group: its leader's folder becomes the destination. (A last
    // group of its leader alone is not reached: the walk ends on it.)
    virtual void groupReached(std::size_t group, const QString& destinationFolder) = 0;
    // The group's run has ended; membersDone members went through to the end (all of
    // them unless the run stopped).
    virtual void groupEnded(std::size_t group, qsizetype membersDone) = 0;
};

// A host that tells a run as text: every log line as it is reported, the run's end
// ("処理終了" or "処理中止") and every message, each handed on as it happens. The batch mode
// prints them; the window's preview collects them.
class TextHost final : public ExecuteHost {
public:
    using Sink = std::function<void(const QString&)>;
    // stopAsked, asked whenever the run lets its host handle events, stops the run as the
    // Stop button does when it answers true.
    TextHost(RunVariables& variables, Sink lines, Sink messages, std::function<bool()> stopAsked = {})
        : m_variables(variables),
          m_lines(std::move(lines)),
          m_messages(std::move(messages)),
          m_stopAsked(std::move(stopAsked)) {}

    void showWarning(const QString& title, const QString& text, const QString& detail = {}) override {
        m_messages(title + u": " + text + (detail.isEmpty() ? QString() : u' ' + detail));
    }
    void showStatus(const QString& line) override { m_lines(line); }
    void processEvents() override;
    void runStarted(const QString&, qint32) override {}
    void itemStarted(qint32) override {}
    void runEnded(const RunEnd& end) override { m_lines(end.stopped ? kRunStopped : kRunFinished); }
    void groupReached(std::size_t, const QString&) override {}
    void groupEnded(std::size_t, qsizetype) override {}

private:
    RunVariables& m_variables;
    Sink m_lines;
    Sink m_messages;
    std::function<bool()> m_stopAsked;
};

// Asks the run under way to stop as the Stop button does: the file under way is finished or
// abandoned whole, and no further group of the Execute runs.
void requestStop(RunVariables& variables);

// Runs every group that has members, in order, its leader first. An error reported in a
// group's run ends that run ("処理中止") and the next group runs; Stop (requestStop) ends
// the whole Execute. Returns true when every group ran to its end.
// Folders made before the run for it (by folder creation) are never walked, as those the
// run makes itself.
bool Execute(RunVariables& variables, ExecuteHost& host, platform::FileServices& files, const RunOptions& options,
             const std::vector<Group>& groups, const QSet<platform::Identity>& madeFolders = {});

}  // namespace kurumu::transfer
