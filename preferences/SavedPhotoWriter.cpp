#include "preferences/SavedPhotoWriter.h"

#include "platform/base/ProcessMemory.h"
#include "platform/image/PngEncoder.h"
#include "preferences/PreferenceKeys.h"

#include <utility>

SavedPhotoWriter::SavedPhotoWriter(UserDefaults& store, QObject* parent) : QObject(parent), m_store(store)
{
    m_thread.setObjectName(QStringLiteral("SavedPhotoWriter"));
    m_worker.moveToThread(&m_thread);
    m_thread.start(QThread::LowPriority);
    m_encoderPool.setMaxThreadCount(QThread::idealThreadCount());
    m_encoderPool.setThreadPriority(QThread::LowPriority);
    // Told apart where the store reports the change: this writer sets the photo on its own thread.
    connect(
        &m_store, &UserDefaults::valueChanged, this,
        [this](const QString& key) {
            if (key == PreferenceKeys::SavedImageData && QThread::currentThread() != &m_thread)
                emit replacedElsewhere();
        },
        Qt::DirectConnection);
}

SavedPhotoWriter::~SavedPhotoWriter()
{
    m_waiting.clear(); // their contexts may be going too; an owner that wants them runs waitForDone first
    // The store saves what it was handed before it closes: a photo just chosen is not lost.
    finishHandedOver();
    m_thread.quit();
    m_thread.wait();
}

void SavedPhotoWriter::write(const QImage& square, const QFuture<QByteArray>& png)
{
    quint64 sequence = 0;
    {
        QMutexLocker lock(&m_pendingMutex);
        m_pending = square;
        sequence = ++m_pendingSequence;
    }
    QMetaObject::invokeMethod(
        &m_worker,
        [this, sequence, encoding = png]() mutable {
            QImage photo;
            {
                QMutexLocker lock(&m_pendingMutex);
                if (m_pendingSequence != sequence)
                    return; // a newer photo is queued behind this one and will be stored
                photo = m_pending;
            }
            QByteArray png = encoding.isValid() ? encoding.result() : QByteArray();
            encoding = {}; // its copy of the file goes with it
            if (png.isEmpty()) {
                PngEncoder::Options options;
                options.pool = &m_encoderPool;
                png = PngEncoder::encode(photo, options);
            }
            if (!png.isEmpty()) {
                m_store.setData(PreferenceKeys::SavedImageData, png);
                // The photo is most of the file: once it has landed, the file alone holds it,
                // and the log does not keep a second copy of it.
                m_store.checkpoint();
            }
            {
                // Stored, or failed and left to the store's previous photo: pending no more.
                QMutexLocker lock(&m_pendingMutex);
                if (m_pendingSequence == sequence)
                    m_pending = QImage();
            }
            photo = QImage();
            png = QByteArray();
            // The decoder's and the encoder's buffers were freed on the threads that used them.
            ProcessMemory::releaseFreedMemory();
            QMetaObject::invokeMethod(this, &SavedPhotoWriter::runWaitingActions, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

QImage SavedPhotoWriter::pendingPhoto() const
{
    QMutexLocker lock(&m_pendingMutex);
    return m_pending;
}

void SavedPhotoWriter::whenStored(QObject* context, std::function<void()> action)
{
    if (pendingPhoto().isNull()) {
        action();
        return;
    }
    m_waiting.append({QPointer<QObject>(context), std::move(action)});
}

void SavedPhotoWriter::runWaitingActions()
{
    if (!pendingPhoto().isNull())
        return; // a newer photo is on its way; they wait for that one
    const auto waiting = std::exchange(m_waiting, {});
    for (const auto& [context, action] : waiting) {
        if (context)
            action();
    }
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
    const bool saved = m_store.waitUntilSaved();
    if (QThread::currentThread() == thread())
        runWaitingActions();
    return saved;
}
