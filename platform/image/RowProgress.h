#pragma once

#include <QMutex>
#include <QWaitCondition>

// How far an image filled from the top down has come: its writer publishes the rows done,
// and readers of those rows wait for them on other threads. A writer that fails says so,
// and every reader waiting stops waiting.
class RowProgress
{
public:
    // The first `rows` rows are written and stay as they are.
    void publish(int rows)
    {
        QMutexLocker lock(&m_mutex);
        m_rows = rows;
        m_changed.wakeAll();
    }
    // No more rows will come.
    void fail()
    {
        QMutexLocker lock(&m_mutex);
        m_failed = true;
        m_changed.wakeAll();
    }
    // Blocks until the first `rows` rows are written: true, or false once the writer failed.
    bool waitFor(int rows) const
    {
        QMutexLocker lock(&m_mutex);
        while (m_rows < rows && !m_failed)
            m_changed.wait(&m_mutex);
        return m_rows >= rows;
    }

private:
    mutable QMutex m_mutex;
    mutable QWaitCondition m_changed;
    int m_rows = 0;
    bool m_failed = false;
};
