#include "app/Batch.h"

#include "app/Options.h"
#include "judgement/Editing.h"
#include "judgement/GroupPlan.h"
#include "judgement/ItemLine.h"
#include "platform/FileServices.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/SignalCloser.h"
#include "transfer/Execute.h"

#include <QCoreApplication>

#include <cstdio>
#include <optional>
#include <string_view>

namespace kurumu::app {

namespace {

// One stream of lines, each written and flushed at once, so that a crash loses no line
// already reported. Once the reader has gone (a closed pipe), the stream stays silent and
// the work goes on: the exit status still tells how it ended.
class LineStream {
public:
    explicit LineStream(std::FILE* stream) : m_stream(stream) {}

    void line(const QString& text) {
        if (m_closed) return;
        const QByteArray bytes = text.toUtf8() + '\n';
        const std::size_t written = std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), m_stream);
        m_closed = written != static_cast<std::size_t>(bytes.size()) || std::fflush(m_stream) != 0;
    }

private:
    std::FILE* m_stream;
    bool m_closed = false;
};

LineStream& out() {
    static LineStream stream(stdout);
    return stream;
}

LineStream& err() {
    static LineStream stream(stderr);
    return stream;
}

// The run's view of the command line: messages on standard error, every log line on
// standard output as it happens.
class BatchRunHost final : public transfer::ExecuteHost {
public:
    explicit BatchRunHost(transfer::RunVariables& variables) : m_variables(variables) {}

    void showWarning(const QString& title, const QString& text) override { err().line(title + u": " + text); }
    void showStatus(const QString& line) override { out().line(line); }
    // SIGTERM, SIGINT or SIGHUP stop the run as the Stop button does: the file under way
    // is finished or abandoned whole, and the run ends "処理中止".
    void processEvents() override {
        if (!platform::takeCloseRequest()) return;
        m_variables.intCancel = transfer::kStopRequested;
        m_variables.strLog += QStringLiteral("\r\n");
    }
    void runStarted(const QString&, qint32) override {}
    void itemStarted(qint32) override {}
    void runEnded(const transfer::RunEnd& end) override {
        out().line(end.stopped ? transfer::kRunStopped : transfer::kRunFinished);
    }
    void groupReached(std::size_t, const QString&) override {}
    void groupEnded(std::size_t, qsizetype) override {}

private:
    transfer::RunVariables& m_variables;
};

QList<judgement::Line> judgedLines(const BatchOptions& options) {
    QList<judgement::Item> stored;
    for (const QString& path : options.paths) stored.append(judgement::itemForPath(path));
    judgement::sortItems(stored);
    return judgement::judgeItems(stored, options.rules);
}

bool ensureFolder(const QString& path) {
    if (platform::FolderExists(path)) return true;
    const platform::Status created = platform::realFileServices().createFolder(path, {});
    if (created.ok()) return true;
    err().line(QStringLiteral("kurumu: フォルダを作成できませんでした(%1) %2").arg(created.code()).arg(path));
    return false;
}

int runGroups(const BatchOptions& options, QList<judgement::Line> lines) {
    if (options.createFolders) {
        judgement::GatheredLines gathered =
            judgement::withGatheringFolders(lines, options.rules.count, options.states.folderNameByCount, ensureFolder);
        if (!gathered.refused.isEmpty())
            err().line(QStringLiteral("kurumu: ") + judgement::refusedFoldersText(gathered.refused));
        lines = std::move(gathered.lines);
    }
    std::vector<transfer::Group> groups;
    for (const judgement::Group& group : judgement::groupsOf(lines))
        groups.push_back({group.leaderPath, group.memberPaths});
    transfer::RunVariables variables;
    BatchRunHost host(variables);
    const bool finished = transfer::Execute(variables, host, *platform::diskServices(),
                                            transfer::runOptionsOf(options.states), groups);
    return finished ? 0 : 1;
}

// An argument whose bytes do not survive decoding would name another file than the one
// meant: it is refused before anything happens, shown with its odd bytes escaped.
std::optional<QString> unfaithfulArgument(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray bytes(argv[i]);
        if (platform::isFaithfulPath(bytes)) continue;
        QString shown;
        for (const char byte : bytes) {
            const auto code = static_cast<unsigned char>(byte);
            shown += code < 0x80 ? QString(QLatin1Char(static_cast<char>(code)))
                                 : QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
        }
        return shown;
    }
    return std::nullopt;
}

}  // namespace

bool isBatchInvocation(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--judge" || argument == "--run" || argument == "--help" || argument == "-h" ||
            argument == "--version" || argument == "-v")
            return true;
    }
    return false;
}

int runBatch(int argc, char** argv) {
    platform::ignoreClosedPipes();
    platform::catchCloseSignals();
    const QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kurumu"));
    QCoreApplication::setApplicationVersion(QStringLiteral("0.1.3.15"));
    if (const std::optional<QString> refused = unfaithfulArgument(argc, argv)) {
        err().line(QStringLiteral("kurumu: a path that is not valid UTF-8 cannot be taken exactly: ") + *refused);
        return 2;
    }
    const ParsedArguments parsed = parseBatchArguments(QCoreApplication::arguments());
    if (!parsed.options) {
        if (parsed.exitCode == 0) {
            out().line(parsed.message);
        } else {
            err().line(QStringLiteral("kurumu: ") + parsed.message);
        }
        return parsed.exitCode;
    }
    const QList<judgement::Line> lines = judgedLines(*parsed.options);
    if (parsed.options->mode == BatchMode::Judge) {
        for (const judgement::Line& line : lines) out().line(line.text());
        return 0;
    }
    return runGroups(*parsed.options, lines);
}

}  // namespace kurumu::app
