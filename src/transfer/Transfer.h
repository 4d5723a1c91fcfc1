#pragma once

#include "platform/Errors.h"
#include "transfer/RunVariables.h"
#include "transfer/SameFile.h"
#include "transfer/TransferHost.h"

#include <QString>

// The transfer routines: one algorithm for a single file and one for a folder tree, each
// with four faces that differ only in the data below (move or copy, and where a
// collision number goes).
namespace kurumu::transfer {

enum class Operation { Move, Copy };

struct Family {
    Operation operation;
    NumberPlace numberPlace;
};

inline constexpr Family kMove{Operation::Move, NumberPlace::AfterName};
inline constexpr Family kCopy{Operation::Copy, NumberPlace::AfterName};
inline constexpr Family kMove2{Operation::Move, NumberPlace::BeforeExtension};
inline constexpr Family kCopy2{Operation::Copy, NumberPlace::BeforeExtension};

// The family of a run: move when the mode text is exactly "移動", copy for any other
// text; numbers after the name when the numbering option is on.
Family familyFor(const QString& operationMode, bool numberAfterExtension);

class Transfer {
public:
    Transfer(RunVariables& variables, TransferHost& host) : m_vars(variables), m_host(host) {}

    // Moves or copies one file into a destination folder that ends in "/".
    void transferFile(const Family& family, const QString& source, const QString& destinationFolder);
    // Moves or copies a folder tree into a destination folder that ends in "/".
    void transferFolder(const Family& family, const QString& source, const QString& destinationFolder);

    void FileMove(const QString& source, const QString& destination) { transferFile(kMove, source, destination); }
    void FileCopy(const QString& source, const QString& destination) { transferFile(kCopy, source, destination); }
    void FileMove2(const QString& source, const QString& destination) { transferFile(kMove2, source, destination); }
    void FileCopy2(const QString& source, const QString& destination) { transferFile(kCopy2, source, destination); }
    void FolderMove(const QString& source, const QString& destination) { transferFolder(kMove, source, destination); }
    void FolderCopy(const QString& source, const QString& destination) { transferFolder(kCopy, source, destination); }
    void FolderMove2(const QString& source, const QString& destination) { transferFolder(kMove2, source, destination); }
    void FolderCopy2(const QString& source, const QString& destination) { transferFolder(kCopy2, source, destination); }

private:
    struct ErrorMessages;

    bool stopRequested() const { return m_vars.intCancel == kStopRequested; }
    void report(const QString& line);
    void handleError(const platform::Status& status, const ErrorMessages& messages);
    void fileError(const platform::Status& status);
    void folderError(const platform::Status& status);
    qint64 nextNumber(const QString& name, qint64 tries);
    void finishSameFile(const Family& family, const QString& source, const QString& line);
    void removeEmptiedSource(const QString& source, const QString& destinationFolder);

    RunVariables& m_vars;
    TransferHost& m_host;
};

}  // namespace kurumu::transfer
