#pragma once

#include <QFile>
#include <QString>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

// Collects what the program writes to standard output (or to the stream given) while it
// lives. Keep test macros outside its lifetime when capturing standard output: QTest
// reports there too.
class OutputCapture
{
public:
    explicit OutputCapture(std::FILE* stream = stdout) : m_stream(stream), m_fd(::fileno(stream))
    {
        m_file.open();
        std::fflush(m_stream);
        m_saved = ::dup(m_fd);
        ::dup2(m_file.handle(), m_fd);
    }
    ~OutputCapture() { finish(); }

    // What was written so far, while the capture goes on.
    QString text() const
    {
        if (m_saved < 0)
            return m_text;
        std::fflush(m_stream);
        QFile read(m_file.fileName());
        read.open(QIODevice::ReadOnly);
        return QString::fromUtf8(read.readAll());
    }

    // Restores the stream and returns what was written.
    QString finish()
    {
        if (m_saved >= 0) {
            m_text = text();
            ::dup2(m_saved, m_fd);
            ::close(m_saved);
            m_saved = -1;
        }
        return m_text;
    }

private:
    std::FILE* m_stream;
    int m_fd;
    QTemporaryFile m_file;
    int m_saved = -1;
    QString m_text;
};

using StdoutCapture = OutputCapture;
