#pragma once

#include "judgement/GroupPlan.h"
#include "platform/Paths.h"
#include "transfer/RunHost.h"
#include "window/MessageBox.h"
#include "window/frmMatome.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>

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
        const QString name = item.isEmpty() ? line.text : platform::GetFileName(item);
        m_window.prgbShinkou->setFormat(QString(name).replace(u'%', u'％') + QStringLiteral("  %v / %m"));
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
        m_window.prgbShinkou->setValue(0);
        m_window.prgbShinkou->setMaximum(itemCount);
        m_window.prgbShinkou->show();
    }
    void itemStarted(qint32 index) override { m_window.prgbShinkou->setValue(index); }
    void runEnded(const transfer::RunEnd& end) override {
        m_window.prgbShinkou->hide();
        m_window.cmdCancel->setEnabled(false);
        if (end.disableCreateFolders) m_window.cmdCF->setEnabled(false);
        if (!end.stopped) m_window.txtPath->setAcceptDrops(true);
        m_window.rtfMatomefile->setPlainText(end.resultText);
        m_window.setCaptionTimes(end.startTime, end.endTime);
        m_window.keepLog(end);
    }
    void groupReached(std::size_t /*group*/, const QString& destinationFolder) override {
        m_window.txtPath->setText(destinationFolder);
    }
    void groupEnded(std::size_t group, qsizetype membersDone) override {
        // The lines of the members that went through leave the list; those of the members
        // that a stop or an error left where they are stay.
        m_window.removeMemberRows(m_groups[group], membersDone);
    }

    void setGroups(std::vector<judgement::Group> groups) { m_groups = std::move(groups); }

private:
    frmMatome& m_window;
    std::vector<judgement::Group> m_groups;
};

}  // namespace kurumu::window
