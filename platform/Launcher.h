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

// A promise that outlives this process: a small helper process, forked
// here, starts `program` (without argument, in a session of its own) once
// this process has ended, however it ends (a lost display, a crash, a
// kill), if the start is still owed then. Call it before any thread exists,
// that is before the application object is made. False when no helper
// could be made; the promise is then kept only by an orderly ending.
bool startAfterExit(const QString &program);
// Whether the helper must start the program when this process is gone. An
// orderly ending sets it false just before starting the program itself, so
// that one ending never starts it twice.
void setStartOwed(bool owed);

} // namespace Launcher
