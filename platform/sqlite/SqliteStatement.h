#pragma once

#include <QByteArray>
#include <QString>

#include <sqlite3.h>

// One prepared statement of an SQLite database, finalized when it goes out of scope.
// A statement that did not compile is null: stepping it does nothing and fails.
class SqliteStatement
{
public:
    SqliteStatement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
    ~SqliteStatement() { sqlite3_finalize(m_stmt); }
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    explicit operator bool() const { return m_stmt != nullptr; }
    sqlite3_stmt* handle() const { return m_stmt; }

    SqliteStatement& bind(int index, const QString& text)
    {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        return *this;
    }
    SqliteStatement& bind(int index, qint64 value)
    {
        sqlite3_bind_int64(m_stmt, index, value);
        return *this;
    }
    // True while a row is there to read.
    bool step() { return m_stmt && sqlite3_step(m_stmt) == SQLITE_ROW; }
    // True when a statement that returns no rows has run to its end.
    bool run() { return m_stmt && sqlite3_step(m_stmt) == SQLITE_DONE; }

    QString text(int column) const
    {
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column)),
                                 sqlite3_column_bytes(m_stmt, column));
    }
    qint64 integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
    int type(int column) const { return sqlite3_column_type(m_stmt, column); }
    bool isNull(int column) const { return type(column) == SQLITE_NULL; }

private:
    sqlite3_stmt* m_stmt = nullptr;
};
