#pragma once

#include "transfer/RunDriver.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>

// A host for the transfer code that records what it is asked to show.
namespace kurumu::test {

struct Warning {
    QString title;
    QString text;
};

class RecordingHost final : public transfer::RunHost {
public:
    std::map<transfer::Option, bool> options;
    QString mode = QStringLiteral("移動");
    QString destination;
    QList<Warning> warnings;
    QStringList statuses;
    QList<qint32> progress;
    QList<transfer::RunEnd> ends;
    qint32 itemCount = -1;
    int eventsProcessed = 0;
    std::function<void()> onProcessEvents;
    std::function<void(const QString&)> onStatus;  // runs after a line is reported, before its operation

    bool option(transfer::Option option) override { return options[option]; }
    void showWarning(const QString& title, const QString& text) override { warnings.append({title, text}); }
    void showStatus(const QString& line) override {
        statuses.append(line);
        if (onStatus) onStatus(line);
    }
    void processEvents() override;
    QString operationMode() override { return mode; }
    QString destinationFolder() override { return destination; }
    void runStarted(const QString&, qint32 count) override { itemCount = count; }
    void itemStarted(qint32 index) override { progress.append(index); }
    void runEnded(const transfer::RunEnd& end) override { ends.append(end); }

    QStringList warningTexts() const;
};

}  // namespace kurumu::test
