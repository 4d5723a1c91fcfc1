#pragma once

#include "judgement/Rules.h"
#include "platform/Settings.h"

#include <QString>
#include <QStringList>

#include <optional>

// The command line of the batch modes, shared by --judge and --run.
namespace kurumu::app {

enum class BatchMode { Judge, Run, Undo, History };

struct BatchOptions {
    BatchMode mode = BatchMode::Judge;
    judgement::RuleSet rules;
    platform::OptionStates states;  // the options, as the window's controls would hold them
    bool createFolders = false;
    bool dryRun = false;    // --run: print what the run would do, change nothing
    QString undoRun;        // --undo: the run to take back; empty for the last one
    QStringList paths;      // absolute paths, each of which exists
    QStringList arguments;  // the command line as given, the program's name first
};

struct ParsedArguments {
    std::optional<BatchOptions> options;
    QString message;  // help text (exit 0) or error (exit 2) when there are no options
    int exitCode = 0;
};

// Parses the arguments (the program name first). Options default to the settings file
// in the working directory, which is only read.
ParsedArguments parseBatchArguments(const QStringList& arguments);

}  // namespace kurumu::app
