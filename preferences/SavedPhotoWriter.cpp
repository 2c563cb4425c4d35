#include "preferences/SavedPhotoWriter.h"

#include "platform/PngEncoder.h"
#include "preferences/PreferenceKeys.h"

SavedPhotoWriter::SavedPhotoWriter(UserDefaults& store, QObject* parent) : QObject(parent), m_store(store)
{
    m_thread.setObjectName(QStringLiteral("SavedPhotoWriter"));
    m_worker.moveToThread(&m_thread);
    m_thread.start(QThread::LowPriority);
}

SavedPhotoWriter::~SavedPhotoWriter()
{
    waitForDone();
    m_thread.quit();
    m_thread.wait();
}

void SavedPhotoWriter::write(const QImage& square)
{
    const quint64 sequence = ++m_latest;
    QMetaObject::invokeMethod(
        &m_worker,
        [this, sequence, square] {
            if (sequence != m_latest.load())
                return; // a newer photo is queued behind this one and will be stored
            const QByteArray png = PngEncoder::encode(square);
            if (!png.isEmpty())
                m_store.setData(PreferenceKeys::SavedImageData, png);
        },
        Qt::QueuedConnection);
}

void SavedPhotoWriter::waitForDone()
{
    if (QThread::currentThread() == &m_thread)
        return;
    QMetaObject::invokeMethod(
        &m_worker, [] {}, Qt::BlockingQueuedConnection);
}
