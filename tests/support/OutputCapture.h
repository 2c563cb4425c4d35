#pragma once

#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

// Collects what the program writes to standard output (or to the stream given) while it
// lives. While standard output is captured, Qt's messages, which the test logger would print
// there, go to standard error as they do in the program.
class OutputCapture
{
public:
    explicit OutputCapture(std::FILE* stream = stdout) : m_stream(stream)
    {
        if (stream == stdout)
            m_handler = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
                std::fprintf(stderr, "%s\n", qPrintable(text));
            });
        m_file.open();
        std::fflush(stream);
        m_saved = ::dup(::fileno(stream));
        ::dup2(m_file.handle(), ::fileno(stream));
    }
    ~OutputCapture() { finish(); }

    // Restores the stream and returns what was written.
    QString finish()
    {
        if (m_saved < 0)
            return {};
        std::fflush(m_stream);
        ::dup2(m_saved, ::fileno(m_stream));
        ::close(std::exchange(m_saved, -1));
        if (m_stream == stdout)
            qInstallMessageHandler(m_handler);
        m_file.seek(0);
        return QString::fromUtf8(m_file.readAll());
    }

private:
    std::FILE* m_stream;
    QTemporaryFile m_file;
    int m_saved = -1;
    QtMessageHandler m_handler = nullptr;
};
