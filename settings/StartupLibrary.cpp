#include "StartupLibrary.h"

#include "ClassFactory.h"
#include "MessageBox.h"
#include "ProgramFolder.h"

#include <QDir>
#include <QFileInfo>

#include <cstdlib>

namespace {

// Forwards the library's message boxes to the program's.
class MessageBoxHost : public ostrevol::IMessageBoxHost
{
public:
    explicit MessageBoxHost(MessageBox &messages) : m_messages(messages) {}

    void showMessage(const char *caption, const char *text, std::uint32_t style) override
    {
        MessageBox::Icon icon = MessageBox::Icon::None;
        switch (style & 0xF0) {
        case 0x10: icon = MessageBox::Icon::Critical; break;
        case 0x20: icon = MessageBox::Icon::Question; break;
        case 0x30: icon = MessageBox::Icon::Warning; break;
        case 0x40: icon = MessageBox::Icon::Information; break;
        }
        const auto buttons = (style & 0x0F) == 4 ? MessageBox::Buttons::YesNo : MessageBox::Buttons::Ok;
        m_messages.show(QString::fromUtf8(caption), QString::fromUtf8(text), icon, buttons);
    }

private:
    MessageBox &m_messages;
};

class LoadedDemarrApp : public StartupLibrary
{
public:
    LoadedDemarrApp(InstancePtr<ostrevol::_DemarrApp> object, MessageBox &messages)
        : m_host(messages), m_object(std::move(object))
    {
        if (auto site = m_object.query<ostrevol::IMessageBoxSite>(ostrevol::IID_IMessageBoxSite))
            site->SetMessageBoxHost(&m_host);
    }
    ~LoadedDemarrApp() override
    {
        if (auto site = m_object.query<ostrevol::IMessageBoxSite>(ostrevol::IID_IMessageBoxSite))
            site->SetMessageBoxHost(nullptr);
    }

    QString CléLectureValeur(ostrevol::HKey HKey, const QString &Chemin, const QString &Clé,
                             bool MessageErreur) override
    {
        char *text = nullptr;
        if (!inproc::succeeded(m_object->CléLectureValeur(HKey, Chemin.toUtf8().constData(),
                                                          Clé.toUtf8().constData(), MessageErreur, &text)))
            return {};
        const QString value = QString::fromUtf8(text);
        std::free(text);
        return value;
    }
    bool RegDemarrAjoutApp(const QString &AppTitre, const QString &AppChemin, const QString &AppNomExe,
                           bool MessageErreur) override
    {
        bool written = false;
        return inproc::succeeded(m_object->RegDemarrAjoutApp(AppTitre.toUtf8().constData(),
                                                             AppChemin.toUtf8().constData(),
                                                             AppNomExe.toUtf8().constData(), MessageErreur, &written))
            && written;
    }
    bool RegDemarrSupprimApp(const QString &AppTitre, bool MessageErreur) override
    {
        bool deleted = false;
        return inproc::succeeded(m_object->RegDemarrSupprimApp(AppTitre.toUtf8().constData(), MessageErreur, &deleted))
            && deleted;
    }

private:
    MessageBoxHost m_host;
    InstancePtr<ostrevol::_DemarrApp> m_object;
};

MessageBox *chosenMessageBox = nullptr;

// The box chosen when a message comes, so that a program may choose after
// the library was loaded.
class ChosenMessageBox : public MessageBox
{
public:
    Answer show(const QString &caption, const QString &text, Icon icon, Buttons buttons) override
    {
        if (chosenMessageBox)
            return chosenMessageBox->show(caption, text, icon, buttons);
        static QtMessageBox qtMessages;
        return qtMessages.show(caption, text, icon, buttons);
    }
};

ChosenMessageBox globalMessageBox;

// Test programs are built in folders of their own inside the build tree,
// away from the program folder where the library is built.
QString buildTreeProgramFolder()
{
#if defined(OSTREVOL_BUILD_TREE) && defined(OSTREVOL_BUILD_PROGRAM_DIR)
    const QString tree = QDir(QStringLiteral(OSTREVOL_BUILD_TREE)).canonicalPath();
    if (!tree.isEmpty() && programFolder().startsWith(tree + QLatin1Char('/')))
        return QStringLiteral(OSTREVOL_BUILD_PROGRAM_DIR);
#endif
    return {};
}

} // namespace

std::unique_ptr<StartupLibrary> StartupLibrary::load(const QString &folder, MessageBox &messages, QString *error)
{
    auto object = createInstance<ostrevol::_DemarrApp>(ostrevol::CLSID_DemarrApp, ostrevol::IID__DemarrApp, folder,
                                                       QString::fromUtf8(ostrevol::libraryFileName), error);
    if (!object)
        return nullptr;
    return std::make_unique<LoadedDemarrApp>(std::move(object), messages);
}

StartupLibrary *StartupLibrary::global(QString *error)
{
    static std::unique_ptr<StartupLibrary> instance;
    if (!instance) {
        QString why;
        instance = load(programFolder(), globalMessageBox, &why);
        const QString buildTree = buildTreeProgramFolder();
        if (!instance && !buildTree.isEmpty())
            instance = load(buildTree, globalMessageBox, nullptr);
        if (!instance && error)
            *error = why;
    }
    return instance.get();
}

void StartupLibrary::setMessageBox(MessageBox *messages)
{
    chosenMessageBox = messages;
}
