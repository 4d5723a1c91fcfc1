#pragma once

// The batch modes: --judge prints the judged item list; --run gathers every group.
namespace kurumu::app {

// True when the arguments ask for a batch mode (or for help or the version), which
// needs no display.
bool isBatchInvocation(int argc, char** argv);

// Exit status: 0 after "処理終了" (or a judgement), 1 after "処理中止", 2 for bad arguments.
int runBatch(int argc, char** argv);

}  // namespace kurumu::app
