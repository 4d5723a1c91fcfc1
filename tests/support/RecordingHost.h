#pragma once

#include "transfer/RunHost.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// A host for the transfer code that records what it is asked to show.
namespace kurumu::test {

struct Warning {
    QString title;
    QString text;
    QString detail;
};

class RecordingHost final : public transfer::RunHost {
public:
    QList<Warning> warnings;
    QStringList statuses;              // the log lines' texts
    QList<transfer::LogLine> carried;  // the lines carried out
    QList<qint32> progress;
    QList<transfer::RunEnd> ends;
    QStringList destinations;      // of the groups reached
    QList<qsizetype> membersDone;  // per group run
    qint32 itemCount = -1;
    int eventsProcessed = 0;
    std::function<void()> onProcessEvents;
    std::function<void(const QString&)> onStatus;  // runs after a line is reported, before its operation

    void showWarning(const QString& title, const QString& text, const QString& detail = {}) override {
        warnings.append({title, text, detail});
    }
    void logged(const transfer::LogLine& line) override {
        statuses.append(line.text);
        if (onStatus) onStatus(line.text);
    }
    void carriedOut(const transfer::LogLine& line) override { carried.append(line); }
    void processEvents() override;
    void runStarted(const QString&, qint32 count) override { itemCount = count; }
    void itemStarted(qint32 index) override { progress.append(index); }
    void runEnded(const transfer::RunEnd& end) override { ends.append(end); }
    void groupReached(std::size_t, const QString& destination) override { destinations.append(destination); }
    void groupEnded(std::size_t, qsizetype done) override { membersDone.append(done); }

    QStringList warningTexts() const;
};

}  // namespace kurumu::test
