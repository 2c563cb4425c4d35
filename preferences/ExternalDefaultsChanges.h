#pragma once

#include "preferences/UserDefaults.h"

#include <QMutex>
#include <QObject>
#include <QSet>

class FolderWatch;
struct sqlite3;

// Makes a UserDefaults report the writes that other processes commit to its file (the other
// edition, for one) through its valueChanged, as it reports its own, so that whatever follows
// the store follows those too. The store's own writes are told apart by their revision.
class ExternalDefaultsChanges : public QObject
{
    Q_OBJECT

public:
    explicit ExternalDefaultsChanges(UserDefaults& store, QObject* parent = nullptr);
    ~ExternalDefaultsChanges() override;

private:
    void noteOwnWrite(const QString& key);
    void reportOthers();

    UserDefaults& m_store;
    sqlite3* m_db = nullptr;
    QMutex m_mutex;
    qint64 m_seen = 0;  // the highest revision reported or written here
    QSet<qint64> m_own; // revisions above m_seen that this process wrote
};
