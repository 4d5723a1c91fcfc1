#include "app/Batch.h"

#include "app/Options.h"
#include "judgement/Editing.h"
#include "judgement/GroupPlan.h"
#include "judgement/ItemLine.h"
#include "platform/FileServices.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "transfer/Execute.h"

#include <QCoreApplication>

#include <cstdio>
#include <string_view>

namespace kurumu::app {

namespace {

void printLine(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fputc('\n', stream);
}

// The run's view of the command line: messages on standard error, every log line on
// standard output as it happens.
class BatchRunHost final : public transfer::ExecuteHost {
public:
    void showWarning(const QString& title, const QString& text) override {
        std::fflush(stdout);
        printLine(stderr, title + QStringLiteral(": ") + text);
    }
    void showStatus(const QString& line) override { printLine(stdout, line); }
    void processEvents() override {}
    void runStarted(const QString&, qint32) override {}
    void itemStarted(qint32) override {}
    void runEnded(const transfer::RunEnd& end) override {
        printLine(stdout, end.stopped ? transfer::kRunStopped : transfer::kRunFinished);
        std::fflush(stdout);
    }
    void groupReached(std::size_t, const QString&) override {}
    void groupEnded(std::size_t, qsizetype) override {}
};

QStringList judgedLines(const BatchOptions& options) {
    QStringList stored;
    for (const QString& path : options.paths) stored.append(judgement::storedLineForPath(path));
    judgement::sortStoredLines(stored);
    return judgement::judgeStoredLines(stored, options.rules);
}

bool ensureFolder(const QString& path) {
    if (platform::FolderExists(path)) return true;
    const platform::Status created = platform::realFileServices().createFolder(path);
    if (created.ok()) return true;
    printLine(stderr, QStringLiteral("kurumu: フォルダを作成できませんでした(%1) %2").arg(created.code()).arg(path));
    return false;
}

int runGroups(const BatchOptions& options, QStringList lines) {
    if (options.createFolders) {
        lines =
            judgement::withGatheringFolders(lines, options.rules.count, options.states.folderNameByCount, ensureFolder);
    }
    std::vector<transfer::Group> groups;
    for (const judgement::Group& group : judgement::groupsOf(lines))
        groups.push_back({group.leaderPath, group.memberPaths});
    transfer::RunVariables variables;
    BatchRunHost host;
    const bool finished = transfer::Execute(variables, host, platform::realFileServices(),
                                            transfer::runOptionsOf(options.states), groups);
    return finished ? 0 : 1;
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
    const QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kurumu"));
    QCoreApplication::setApplicationVersion(QStringLiteral("0.1.3.15"));
    const ParsedArguments parsed = parseBatchArguments(QCoreApplication::arguments());
    if (!parsed.options) {
        printLine(parsed.exitCode == 0 ? stdout : stderr,
                  parsed.exitCode == 0 ? parsed.message : QStringLiteral("kurumu: ") + parsed.message);
        return parsed.exitCode;
    }
    const QStringList lines = judgedLines(*parsed.options);
    if (parsed.options->mode == BatchMode::Judge) {
        for (const QString& line : lines) printLine(stdout, line);
        return 0;
    }
    return runGroups(*parsed.options, lines);
}

}  // namespace kurumu::app
