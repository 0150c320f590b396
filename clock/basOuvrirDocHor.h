#pragma once

#include <QString>

class MessageBox;

// Starts a program the way the desktop shell opens a document, and tells
// the user when it could not.
namespace basOuvrirDocHor {

// The start's result code: greater than 32 when the program started.
int LancerDocument(const QString &document, const QString &paramètres);
// Starts the program; on failure shows the text of the code in a box.
void OuvrirDocument(const QString &document, const QString &paramètres, MessageBox &messages);
// The user's text for a result code of 32 or less.
QString errorText(int code);

} // namespace basOuvrirDocHor
