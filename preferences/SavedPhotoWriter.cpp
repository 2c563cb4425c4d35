#include "preferences/SavedPhotoWriter.h"

#include "platform/image/PngEncoder.h"
#include "preferences/PreferenceKeys.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// The encoder's buffers of a few megabytes each are served from the heaps of the threads
// that used them, and glibc keeps such memory after it is freed. Handing it back after
// every photo keeps the settled size of the process that of a program without a photo.
void releaseFreedMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

} // namespace

SavedPhotoWriter::SavedPhotoWriter(UserDefaults& store, QObject* parent) : QObject(parent), m_store(store)
{
    m_thread.setObjectName(QStringLiteral("SavedPhotoWriter"));
    m_worker.moveToThread(&m_thread);
    m_thread.start(QThread::LowPriority);
    m_encoderPool.setMaxThreadCount(QThread::idealThreadCount());
    m_encoderPool.setThreadPriority(QThread::LowPriority);
}

SavedPhotoWriter::~SavedPhotoWriter()
{
    finishHandedOver();
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
            PngEncoder::Options options;
            options.pool = &m_encoderPool;
            const QByteArray png = PngEncoder::encode(square, options);
            if (!png.isEmpty()) {
                m_store.setData(PreferenceKeys::SavedImageData, png);
                // The photo is most of the file: once it has landed, the file alone holds it,
                // and the log does not keep a second copy of it.
                m_store.checkpoint();
            }
            releaseFreedMemory();
        },
        Qt::QueuedConnection);
}

void SavedPhotoWriter::finishHandedOver()
{
    if (QThread::currentThread() == &m_thread)
        return;
    QMetaObject::invokeMethod(
        &m_worker, [] {}, Qt::BlockingQueuedConnection);
}

bool SavedPhotoWriter::waitForDone()
{
    finishHandedOver();
    return m_store.waitUntilSaved();
}
