#pragma once

#include <QString>
#include <QStringList>

// Starts programs that outlive the one starting them.
namespace Launcher {

// Starts `program` with `arguments` in `workingFolder`, in a session of
// its own, without waiting. Returns a code as the desktop shell's open
// does: greater than 32 on success; 2 no such program, 3 no such folder,
// 5 access denied, 8 out of memory, 11 not an executable, 0 anything else.
int startDetached(const QString &program, const QStringList &arguments, const QString &workingFolder);

} // namespace Launcher
