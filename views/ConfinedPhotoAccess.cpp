#include "views/ConfinedPhotoAccess.h"

#include "platform/sandbox/OutsideFileChooser.h"

#include <QFileInfo>

ConfinedPhotoAccess::ConfinedPhotoAccess(std::unique_ptr<OutsideFileChooser> chooser,
                                         const QStringList& readableFolders)
    : m_chooser(std::move(chooser))
{
    for (const QString& folder : readableFolders) {
        const QString canonical = QFileInfo(folder).canonicalFilePath();
        if (!canonical.isEmpty())
            m_readableFolders << canonical;
    }
}

ConfinedPhotoAccess::~ConfinedPhotoAccess() = default;

bool ConfinedPhotoAccess::readsByItself(const QString& path) const
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    for (const QString& folder : m_readableFolders) {
        if (canonical.startsWith(folder + QLatin1Char('/')))
            return true;
    }
    return false;
}
