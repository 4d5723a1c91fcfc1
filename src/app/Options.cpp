#include "app/Options.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <array>
#include <utility>

namespace kurumu::app {

namespace {

struct RuleName {
    const char16_t* name;
    judgement::Rule rule;
};

constexpr std::array<RuleName, 5> kRuleNames{{
    {u"count", judgement::Rule::FixedCount},
    {u"first-bracket", judgement::Rule::FirstBracket},
    {u"last-bracket", judgement::Rule::LastBracket},
    {u"last-of", judgement::Rule::LastOf},
    {u"number", judgement::Rule::Numbering},
}};

std::optional<judgement::Rule> ruleNamed(const QString& name) {
    for (const RuleName& entry : kRuleNames) {
        if (name == QString::fromUtf16(entry.name)) return entry.rule;
    }
    return std::nullopt;
}

ParsedArguments failure(const QString& message) {
    return {std::nullopt, message, 2};
}

QCommandLineOption flag(const QString& name, const QString& description) {
    return {name, description};
}

}  // namespace

ParsedArguments parseBatchArguments(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Gathers files and folders whose names begin alike into one folder per group.\n"
                       "Without --judge or --run the window opens and takes the paths as one drop."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption judge = flag(QStringLiteral("judge"), QStringLiteral("Print the judged item list."));
    const QCommandLineOption run = flag(QStringLiteral("run"), QStringLiteral("Gather every group, as Execute does."));
    const QCommandLineOption rule(
        QStringLiteral("rule"),
        QStringLiteral("The grouping rule: count, first-bracket, last-bracket, last-of, number."),
        QStringLiteral("rule"));
    const QCommandLineOption count(QStringLiteral("count"), QStringLiteral("Characters that must match (default 30)."),
                                   QStringLiteral("N"), QStringLiteral("30"));
    const QCommandLineOption copy = flag(QStringLiteral("copy"), QStringLiteral("Copy instead of moving."));
    const QCommandLineOption move = flag(QStringLiteral("move"), QStringLiteral("Move (the default)."));
    const QCommandLineOption keep =
        flag(QStringLiteral("keep-structure"), QStringLiteral("Keep folder trees' structure."));
    const QCommandLineOption crc =
        flag(QStringLiteral("crc32"), QStringLiteral("Equal files must also agree in CRC-32."));
    const QCommandLineOption afterExt =
        flag(QStringLiteral("number-after-ext"), QStringLiteral("Put collision numbers after the extension."));
    const QCommandLineOption allNumbers =
        flag(QStringLiteral("check-all-numbers"), QStringLiteral("Test every numbered name from 000 on."));
    const QCommandLineOption ignore = flag(QStringLiteral("ignore-other-errors"),
                                           QStringLiteral("Pass silently over errors other than write errors."));
    const QCommandLineOption byCount =
        flag(QStringLiteral("folder-name-by-count"), QStringLiteral("Name created folders by the matched characters."));
    const QCommandLineOption create =
        flag(QStringLiteral("create-folders"), QStringLiteral("Create a folder for every group first (C.F.)."));
    const QCommandLineOption dryRun =
        flag(QStringLiteral("dry-run"), QStringLiteral("With --run: print what the run would do, and change nothing."));
    const QCommandLineOption undo =
        flag(QStringLiteral("undo"), QStringLiteral("Take back the last run, or the run named (see --history)."));
    const QCommandLineOption history =
        flag(QStringLiteral("history"), QStringLiteral("List the runs that are kept, and whether they were undone."));
    // Taken by the window, listed here so that --help tells it.
    const QCommandLineOption fromDesktop =
        flag(QStringLiteral("from-desktop"),
             QStringLiteral("Without a batch mode: the window was started from the desktop or a file manager, and "
                            "keeps its settings in $XDG_CONFIG_HOME/kurumu/ (~/.config/kurumu/) instead of the "
                            "working directory."));
    parser.addOptions({judge, run, dryRun, undo, history, rule, count, copy, move, keep, crc, afterExt, allNumbers,
                       ignore, byCount, create, fromDesktop});
    parser.addPositionalArgument(QStringLiteral("PATH"),
                                 QStringLiteral("Files and folders to gather (with --undo: the run to take back)."),
                                 QStringLiteral("PATH..."));

    if (!parser.parse(arguments)) return failure(parser.errorText());
    // Without an application object the parser does not know the program's name.
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all")))
        return {std::nullopt, parser.helpText().replace(QLatin1String("<executable_name>"), arguments.constFirst()), 0};
    if (parser.isSet(version)) {
        return {std::nullopt, QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion(), 0};
    }
    const int modes =
        int{parser.isSet(judge)} + int{parser.isSet(run)} + int{parser.isSet(undo)} + int{parser.isSet(history)};
    if (modes != 1) return failure(QStringLiteral("give exactly one of --judge, --run, --undo and --history"));
    if (parser.isSet(dryRun) && !parser.isSet(run)) return failure(QStringLiteral("--dry-run goes with --run"));
    if (parser.isSet(history) || parser.isSet(undo)) {
        BatchOptions options;
        options.mode = parser.isSet(history) ? BatchMode::History : BatchMode::Undo;
        const QStringList named = parser.positionalArguments();
        if (named.size() > (parser.isSet(undo) ? 1 : 0)) return failure(QStringLiteral("too many arguments"));
        if (!named.isEmpty()) options.undoRun = named.front();
        return {std::move(options), {}, 0};
    }
    if (parser.isSet(copy) && parser.isSet(move))
        return failure(QStringLiteral("--copy and --move exclude each other"));

    BatchOptions options;
    options.mode = parser.isSet(run) ? BatchMode::Run : BatchMode::Judge;
    options.arguments = arguments;
    options.states = platform::readSettingsFileOnly(platform::kSettingsFileName);
    std::copy(options.states.rules.begin(), options.states.rules.end(), options.rules.checked.begin());
    if (parser.isSet(rule)) {
        const std::optional<judgement::Rule> chosen = ruleNamed(parser.value(rule));
        if (!chosen) return failure(QStringLiteral("unknown rule: ") + parser.value(rule));
        options.rules = judgement::RuleSet::only(*chosen);
    }
    bool isNumber = false;
    parser.value(count).toLongLong(&isNumber);
    if (!isNumber) return failure(QStringLiteral("--count takes a whole number: ") + parser.value(count));
    options.rules.count = judgement::characterCount(parser.value(count));

    if (parser.isSet(copy)) options.states.operationMode = platform::kCopyMode;
    if (parser.isSet(move)) options.states.operationMode = platform::kMoveMode;
    if (parser.isSet(keep)) options.states.folderKeep = 1;
    if (parser.isSet(crc)) options.states.crc32 = true;
    if (parser.isSet(afterExt)) options.states.numberAfterExtension = true;
    if (parser.isSet(allNumbers)) options.states.checkAllNumbers = true;
    if (parser.isSet(ignore)) options.states.ignoreOtherErrors = true;
    if (parser.isSet(byCount)) options.states.folderNameByCount = true;
    options.createFolders = parser.isSet(create);
    options.dryRun = parser.isSet(dryRun);

    if (parser.positionalArguments().isEmpty()) return failure(QStringLiteral("no PATH given"));
    // With its separator once, rather than for each path joined to it; empty when it has
    // no name that a QString can hold.
    const QString working = platform::workingFolder();
    const QString workingFolder = working.isEmpty() ? working : platform::withTrailingSeparator(working);
    options.paths.reserve(parser.positionalArguments().size());
    for (const QString& path : parser.positionalArguments()) {
        const QString absolute = platform::absolutePath(path, workingFolder);
        if (absolute.isEmpty())
            return failure(QStringLiteral("the working folder's name is not valid UTF-8; give absolute paths: ") +
                           path);
        options.paths.append(absolute);
    }
    const QList<bool> there = platform::pathsExist(options.paths);
    for (qsizetype i = 0; i < there.size(); ++i) {
        if (!there[i]) return failure(QStringLiteral("no such file or folder: ") + parser.positionalArguments()[i]);
    }
    return {std::move(options), {}, 0};
}

}  // namespace kurumu::app
