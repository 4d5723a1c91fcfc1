#include "app/Batch.h"

#include "app/Options.h"
#include "judgement/Editing.h"
#include "judgement/GroupPlan.h"
#include "judgement/ItemLine.h"
#include "platform/FileServices.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/SignalCloser.h"
#include "platform/Version.h"
#include "session/Session.h"

#include <QCoreApplication>
#include <QStringEncoder>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string_view>
#include <utility>

namespace kurumu::app {

namespace {

// One stream of lines. The output is written in blocks: whenever a block is full, at least
// every tenth of a second while the work goes on (asked whenever the run lets its host
// handle events), before every message on standard error, on a signal and at the end; the
// journal, not the output, is the record of what happened. Messages are written at once.
// Every write ends at a line end, so that a kill leaves whole lines.
// Once the reader has gone (a closed pipe), the stream stays silent and the work goes on:
// the exit status still tells how it ended.
class LineStream {
public:
    LineStream(int stream, bool inBlocks) : m_stream(stream), m_inBlocks(inBlocks) {
        if (inBlocks) m_block.reserve(kBlock + 4096);
    }

    void line(const QString& text) {
        if (m_closed) return;
        // Encoded straight into the block, which keeps its room from block to block.
        QStringEncoder utf8(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
        const qsizetype start = m_block.size();
        m_block.resize(start + utf8.requiredSpace(text.size()) + 1);
        char* const end = utf8.appendToBuffer(m_block.data() + start, text);
        *end = '\n';
        m_block.truncate(end + 1 - m_block.constData());
        if (!m_inBlocks || m_block.size() >= kBlock) flush();
    }

    void flushIfDue() {
        if (!m_block.isEmpty() && std::chrono::steady_clock::now() - m_flushed >= kAtLeastEvery) flush();
    }

    void flush() {
        m_flushed = std::chrono::steady_clock::now();
        if (m_closed || m_block.isEmpty()) return;
        m_closed = !platform::writeWholeLines(m_stream, m_block).ok();
        m_block.truncate(0);
    }

private:
    static constexpr qsizetype kBlock = qsizetype{64} * 1024;
    static constexpr auto kAtLeastEvery = std::chrono::milliseconds(100);

    int m_stream;
    bool m_inBlocks;
    QByteArray m_block;
    std::chrono::steady_clock::time_point m_flushed = std::chrono::steady_clock::now();
    bool m_closed = false;
};

LineStream& out() {
    static LineStream stream(STDOUT_FILENO, true);
    return stream;
}

// A message follows every line of the output before it.
LineStream& err() {
    static LineStream stream(STDERR_FILENO, false);
    out().flush();
    return stream;
}

// Asked whenever the run lets its host handle events: the output is written if it is due,
// and a signal (SIGTERM, SIGINT, SIGHUP) stops the run as the Stop button does.
bool stopAsked() {
    out().flushIfDue();
    if (!platform::takeCloseRequest()) return false;
    out().flush();
    return true;
}

QList<judgement::Line> judgedLines(const BatchOptions& options) {
    QList<judgement::Line> lines = judgement::sortedLinesForPaths(options.paths);
    judgement::judgeLines(lines, options.rules);
    return lines;
}

// How --create-folders makes the gathering folders, its failures said on standard error.
session::FolderMaking folderMakingOf(const BatchOptions& options) {
    return {
        options.rules.count,
        options.states.folderNameByCount,
        {},
        [](const QString& path, const platform::Status& status) {
            err().line(QStringLiteral("kurumu: フォルダを作成できませんでした(%1) %2").arg(status.code()).arg(path));
        }};
}

session::Request requestOf(const BatchOptions& options) {
    return {QStringLiteral("batch"), options.arguments, options.paths, transfer::runOptionsOf(options.states), {}};
}

// The state folder for a run, an undo or the history, checked before anything is touched;
// nothing (and the reason said) when it is refused.
std::optional<platform::StateFolder> stateFolder(platform::StateFolder::Making making) {
    platform::Result<platform::StateFolder> state = platform::StateFolder::open(making);
    if (!state.value.note().isEmpty()) err().line(QStringLiteral("kurumu: ") + state.value.note());
    if (state.ok()) return std::move(state.value);
    err().line(
        QStringLiteral("kurumu: ") +
        (state.value.refusal().isEmpty()
             ? QStringLiteral("記録のフォルダを開けません(%1): %2").arg(state.status.code()).arg(state.value.path())
             : state.value.refusal()));
    return std::nullopt;
}

// The run: with --create-folders, the folders first (a dry run only remembers them; a
// real run makes them under a journal of their own, which the run's names), then Execute.
int run(BatchOptions options, QList<judgement::Line> judged) {
    // A dry run writes no journal.
    std::optional<platform::StateFolder> state =
        options.dryRun ? platform::StateFolder() : stateFolder(platform::StateFolder::Making::Missing);
    if (!state) return 1;
    QSet<platform::Identity> made;
    QStringList folderRuns;
    QList<judgement::Line> lines = judged;
    std::optional<session::DryRun> dry;
    if (options.dryRun) dry.emplace();
    if (options.createFolders) {
        const session::FoldersMade created = session::makeGatheringFolders(
            *state, requestOf(options), judged, folderMakingOf(options), made, dry ? &*dry : nullptr);
        if (!created.gathered.refused.isEmpty())
            err().line(QStringLiteral("kurumu: ") + judgement::refusedFoldersText(created.gathered.refused));
        lines = created.gathered.lines;
        if (!options.dryRun && !created.journal.ok()) {
            err().line(QStringLiteral("kurumu: ") +
                       session::journalUnwritableText(*state, created.journal.status, false));
            return 1;
        }
        if (!options.dryRun) folderRuns.append(created.journal.value.id);
        if (!options.dryRun && !created.journal.value.kept.ok())
            err().line(QStringLiteral("kurumu: ") + session::journalNotKeptText(*state, created.journal.value.kept));
    }
    transfer::RunVariables variables;
    variables.keepLog = false;
    // Log lines on standard output, messages on standard error; SIGTERM, SIGINT or SIGHUP
    // stop the run as the Stop button does.
    session::TextHost host(
        variables, [](const QString& line) { out().line(line); }, [](const QString& text) { err().line(text); },
        stopAsked);
    const std::vector<transfer::Group> groups = session::runGroupsOf(judgement::groupsOf(lines));
    // Once grouped, the lines are done with: a long list is not kept through the run.
    lines = {};
    judged = {};
    // The request holds the paths from here, and lets them go once its journal is open.
    session::Request request = requestOf(options);
    request.after = folderRuns;
    options.paths = {};
    options.arguments = {};
    const platform::Result<session::RunOutcome> finished =
        session::run(variables, host, *state, std::move(request), groups, made, dry ? &*dry : nullptr);
    if (!finished.ok()) {
        err().line(QStringLiteral("kurumu: ") + session::journalUnwritableText(*state, finished.status, false));
        return 1;
    }
    return finished.value.finished ? 0 : 1;
}

int undo(const BatchOptions& options) {
    const std::optional<platform::StateFolder> state = stateFolder(platform::StateFolder::Making::Missing);
    if (!state) return 1;
    const session::UndoOutcome outcome = session::undo(*state, options.undoRun, QStringLiteral("batch"));
    const platform::Result<transfer::UndoReport>& report = outcome.report;
    const QString named = options.undoRun.isEmpty() ? report.value.run.id : options.undoRun;
    switch (outcome.status) {
        case session::UndoStatus::Done:
            break;
        case session::UndoStatus::NoSuchRun:
            err().line(QStringLiteral("kurumu: no such run to take back: ") + options.undoRun);
            return 2;
        case session::UndoStatus::UndoOfAnUndo:
            err().line(QStringLiteral("kurumu: an undo is not taken back: ") + options.undoRun);
            return 2;
        case session::UndoStatus::AnotherUndo:
            err().line(QStringLiteral("kurumu: another undo is under way: try again when it has ended"));
            return 1;
        case session::UndoStatus::RunStillGoing:
            err().line(
                QStringLiteral("kurumu: run %1 is still going (or being taken back): it cannot be taken back now")
                    .arg(named));
            return 1;
        case session::UndoStatus::NotTrusted:
            err().line(QStringLiteral("kurumu: the journals in %1 are not this user's own (or others may write "
                                      "them): they are not trusted")
                           .arg(state->runsPath()));
            return 1;
        case session::UndoStatus::LockIsLink:
            err().line(QStringLiteral("kurumu: %1/undo.lock is a link: it is not followed").arg(state->path()));
            return 1;
        case session::UndoStatus::NotJournaled:
            err().line(QStringLiteral("kurumu: the undo cannot be journaled (error %1)").arg(report.status.error));
            return 1;
    }
    for (const transfer::UndoLine& line : report.value.lines) out().line(line.text());
    for (const transfer::UndoLine& line : report.value.notes) out().line(line.text());
    out().line(report.value.everything ? QStringLiteral("元に戻した: ") + report.value.run.id
                                       : QStringLiteral("一部を戻せなかった: ") + report.value.run.id);
    return report.value.everything ? 0 : 1;
}

int history() {
    const std::optional<platform::StateFolder> folder = stateFolder(platform::StateFolder::Making::Nothing);
    if (!folder) return 1;
    for (const transfer::RunSummary& run : session::history(*folder)) {
        QString state = run.undone ? QStringLiteral("undone") : QStringLiteral("not undone");
        if (run.kind == QLatin1String("undo"))
            state = run.undoOf.isEmpty() ? QStringLiteral("undo") : QStringLiteral("undo of ") + run.undoOf;
        QString end = run.end;
        if (end.isEmpty()) end = run.running ? QStringLiteral("running") : QStringLiteral("killed");
        // Journals from before identities were recorded are taken back with the checks of their time.
        if (run.format < transfer::journal::kIdentityFormat && !run.damaged) state += QStringLiteral("  (old journal)");
        if (run.damaged)
            state += run.kind.isEmpty() ? QStringLiteral("  (damaged journal: what it was is not known)")
                                        : QStringLiteral("  (damaged journal)");
        out().line(QStringLiteral("%1  %2  %3  items %4  operations %5  %6  %7")
                       .arg(run.id, run.start, run.origin)
                       .arg(run.items)
                       .arg(run.operations)
                       .arg(end, state));
    }
    return 0;
}

// An argument shown with the bytes that are not UTF-8 escaped.
QString escaped(QByteArrayView bytes) {
    QString shown;
    for (const char byte : bytes) {
        const auto code = static_cast<unsigned char>(byte);
        shown += code < 0x80 ? QString(QLatin1Char(static_cast<char>(code)))
                             : QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
    }
    return shown;
}

// The program's name and its arguments as text. An argument whose bytes do not survive
// decoding would name another file than the one meant: it is refused (given back escaped,
// as the error) before anything happens.
platform::Result<QStringList> decodedArguments(int argc, char** argv) {
    QStringList arguments;
    arguments.reserve(argc);
    for (int i = 0; i < argc; ++i) {
        const QByteArrayView bytes(argv[i]);
        if (i > 0 && !platform::isFaithfulPath(bytes)) return {QStringList{escaped(bytes)}, platform::Status{EILSEQ}};
        // ASCII, as most paths are, reads the same in Latin-1, which is decoded faster.
        const bool ascii = QtPrivate::isAscii(QLatin1StringView(bytes.data(), bytes.size()));
        arguments.append(ascii ? QString::fromLatin1(bytes) : QString::fromUtf8(bytes));
    }
    return {std::move(arguments), {}};
}

}  // namespace

bool isBatchInvocation(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--judge" || argument == "--run" || argument == "--undo" || argument == "--history" ||
            argument == "--help" || argument == "--help-all" || argument == "-h" || argument == "--version" ||
            argument == "-v")
            return true;
    }
    return false;
}

namespace {

int runBatchMode(int argc, char** argv) {
    platform::ignoreClosedPipes();
    platform::catchCloseSignals();
    // No application object: the batch mode runs no event loop, and making one would
    // decode every argument again.
    QCoreApplication::setApplicationName(QStringLiteral("kurumu"));
    QCoreApplication::setApplicationVersion(platform::programVersion());
    const platform::Result<QStringList> arguments = decodedArguments(argc, argv);
    if (!arguments.ok()) {
        err().line(QStringLiteral("kurumu: a path that is not valid UTF-8 cannot be taken exactly: ") +
                   arguments.value.constFirst());
        return 2;
    }
    ParsedArguments parsed = parseBatchArguments(arguments.value);
    if (!parsed.options) {
        if (parsed.exitCode == 0) {
            out().line(parsed.message);
        } else {
            err().line(QStringLiteral("kurumu: ") + parsed.message);
        }
        return parsed.exitCode;
    }
    switch (parsed.options->mode) {
        case BatchMode::History:
            return history();
        case BatchMode::Undo:
            return undo(*parsed.options);
        case BatchMode::Judge:
            for (const judgement::Line& line : judgedLines(*parsed.options)) out().line(line.text());
            return 0;
        case BatchMode::Run:
            break;
    }
    QList<judgement::Line> judged = judgedLines(*parsed.options);
    return run(std::move(*parsed.options), std::move(judged));
}

}  // namespace

int runBatch(int argc, char** argv) {
    const int status = runBatchMode(argc, argv);
    out().flush();
    return status;
}

}  // namespace kurumu::app
