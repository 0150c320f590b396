#pragma once

#include "Ostrevol.h"

#include <QString>
#include <memory>

class MessageBox;

// The calls the programs make on the class DemarrApp of libOstrevol.so, in
// Qt's terms. Tests put a fake in its place.
class StartupLibrary
{
public:
    virtual ~StartupLibrary() = default;

    // The value's text, or empty text when it cannot be read.
    virtual QString CléLectureValeur(ostrevol::HKey HKey, const QString &Chemin, const QString &Clé,
                                     bool MessageErreur = true) = 0;
    virtual bool RegDemarrAjoutApp(const QString &AppTitre, const QString &AppChemin, const QString &AppNomExe,
                                   bool MessageErreur = true) = 0;
    virtual bool RegDemarrSupprimApp(const QString &AppTitre, bool MessageErreur = true) = 0;

    // The program's one DemarrApp, created on first use and kept until the
    // program ends. Null when the library cannot be loaded, with the reason,
    // which names the library, in *error; a later call tries again.
    static StartupLibrary *global(QString *error = nullptr);

    // A new DemarrApp from the library registered for the class, else from
    // libOstrevol.so in folder. Its messages go to messages, which must
    // outlive it.
    static std::unique_ptr<StartupLibrary> load(const QString &folder, MessageBox &messages, QString *error);

    // Where the global instance shows the library's messages from now on:
    // Qt message boxes while none is given (null).
    static void setMessageBox(MessageBox *messages);
};
