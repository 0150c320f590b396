#pragma once

#include <QString>

// The folder that holds the running program's file, without a trailing
// separator. Data files and the sibling programs are looked up there only.
QString programFolder();

// programFolder() + "/" + name.
QString programPath(const QString &name);
