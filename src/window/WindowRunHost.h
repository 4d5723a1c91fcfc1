#pragma once

#include "judgement/GroupPlan.h"
#include "platform/Paths.h"
#include "transfer/RunHost.h"
#include "window/MessageBox.h"
#include "window/frmMatome.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace kurumu::window {

// The run's view of the window: every request is answered from a control at the moment
// it is made.
class WindowRunHost final : public transfer::RunHost {
public:
    explicit WindowRunHost(frmMatome& window) : m_window(window) {}

    // The first error of an Execute shows its box; later ones are kept for one closing box.
    void showWarning(const QString& title, const QString& text, const QString& detail) override {
        if (m_window.m_executeWarnings++ == 0)
            return showMessageBox(&m_window, title, MessageIcon::Warning, text, detail);
        m_window.m_laterWarnings.append(text);
    }
    void itemFailed(const QString& detail) override { m_window.m_failures.append(detail); }
    // The item under way shows on the progress bar, by the name it gets (a "%" there would
    // be read as the bar's own placeholder).
    void logged(const transfer::LogLine& line) override {
        m_window.rtfMatomefile->setPlainText(line.text);
        const QString& item = line.destination.isEmpty() ? line.source : line.destination;
        m_itemName = QString(item.isEmpty() ? line.text : platform::GetFileName(item)).replace(u'%', u'％');
        m_window.prgbShinkou->setFormat(itemText());
        m_window.prgbShinkou->setAccessibleDescription(line.text);
    }
    void carriedOut(const transfer::LogLine& line) override {
        frmMatome::OutcomeCounts& done = m_window.m_outcomes;
        switch (line.outcome) {
            case transfer::Outcome::MovedNumbered:
                ++done.numbered;
                [[fallthrough]];
            case transfer::Outcome::Moved:
                ++done.moved;
                break;
            case transfer::Outcome::CopiedNumbered:
                ++done.numbered;
                [[fallthrough]];
            case transfer::Outcome::Copied:
                ++done.copied;
                break;
            case transfer::Outcome::DuplicateDeleted:
                ++done.duplicatesDeleted;
                break;
            case transfer::Outcome::CopyNotNeeded:
                ++done.copiesNotNeeded;
                break;
            default:
                break;  // left where it is: nothing to count
        }
    }
    void processEvents() override { m_window.processPendingEvents(); }
    void runStarted(const QString& startTime, qint32 itemCount) override {
        m_window.cmdCancel->setEnabled(true);
        m_window.setCaptionTimes(startTime, {});
        m_itemCount = itemCount;
        m_steps = std::clamp(std::numeric_limits<int>::max() / std::max(itemCount, 1), 1, 1000);
        m_window.prgbShinkou->setValue(0);
        m_window.prgbShinkou->setMaximum(itemCount * m_steps);
        m_window.prgbShinkou->show();
    }
    // The bar counts the items done, and the part of a long file's bytes done.
    void itemStarted(qint32 index) override {
        m_index = index;
        m_sinceItemStart.start();
        m_window.prgbShinkou->setValue((index - 1) * m_steps);
        m_window.prgbShinkou->setTextVisible(false);
    }
    // A long file shows its name, its rate and the time it has left on the bar.
    void fileProgress(qint64 done, qint64 total) override {
        const auto part = static_cast<int>(done * m_steps / total);
        m_window.prgbShinkou->setValue((m_index - 1) * m_steps + part);
        const double seconds = static_cast<double>(m_sinceItemStart.nsecsElapsed()) / 1e9;
        if (seconds <= 0 || done <= 0) return;
        const double rate = static_cast<double>(done) / seconds;
        const auto left = std::llround(static_cast<double>(total - done) / rate);
        const QString status =
            itemText() + QStringLiteral("  ") +
            QLocale(QLocale::Japanese).formattedDataSize(static_cast<qint64>(rate), 1, QLocale::DataSizeSIFormat) +
            QStringLiteral("/s  残り ") + QString::number(left / 60) + u':' +
            QStringLiteral("%1").arg(left % 60, 2, 10, QLatin1Char('0'));
        m_window.prgbShinkou->setFormat(status);
        m_window.prgbShinkou->setTextVisible(true);
        m_window.prgbShinkou->setAccessibleDescription(status);
    }
    void runEnded(const transfer::RunEnd& end) override {
        m_window.prgbShinkou->hide();
        m_window.cmdCancel->setEnabled(false);
        if (end.disableCreateFolders) m_window.cmdCF->setEnabled(false);
        if (!end.stopped) m_window.txtPath->setAcceptDrops(true);
        m_window.rtfMatomefile->setPlainText(end.resultText);
        m_window.setCaptionTimes(end.startTime, end.endTime);
        m_window.keepLog(end);
    }
    void groupReached(std::size_t group, const QString& destinationFolder) override {
        m_window.txtPath->setText(destinationFolder);
        m_window.m_gatheredInto.append({m_groups[group].leaderPath, destinationFolder});
    }
    void groupEnded(std::size_t group, qsizetype membersDone) override {
        // The lines of the members that went through leave the list; those of the members
        // that a stop or an error left where they are stay.
        m_window.removeMemberRows(m_groups[group], membersDone);
    }

    void setGroups(std::vector<judgement::Group> groups) { m_groups = std::move(groups); }

private:
    QString itemText() const {
        return m_itemName + QStringLiteral("  ") + QString::number(m_index) + QStringLiteral(" / ") +
               QString::number(m_itemCount);
    }

    frmMatome& m_window;
    std::vector<judgement::Group> m_groups;
    QString m_itemName;
    qint32 m_index = 0;
    qint32 m_itemCount = 0;
    int m_steps = 1;  // of the bar for each item
    QElapsedTimer m_sinceItemStart;
};

}  // namespace kurumu::window
