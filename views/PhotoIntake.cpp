#include "views/PhotoIntake.h"

#include "platform/image/ImageDecoder.h"
#include "platform/image/PngEncoder.h"
#include "views/PhotoWell.h"

#include <QCoreApplication>
#include <QSemaphore>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

#include <unistd.h>

PhotoIntake::PhotoIntake(QObject* parent) : QObject(parent)
{
    // The preview and the full decode of a photo run side by side, even on one core.
    m_pool.setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
    // Encodes the photos to store, at the store's own low priority: a thread per core for the
    // stripes, and one more for the encode that waits for them.
    m_encoderPool.setMaxThreadCount(QThread::idealThreadCount() + 1);
    m_encoderPool.setThreadPriority(QThread::LowPriority);
}

PhotoIntake::~PhotoIntake()
{
    finish();
}

quint64 PhotoIntake::load(const QString& path, int pixels)
{
    return start([path] { return ImageDecoder::readRegularFile(path); }, pixels);
}

quint64 PhotoIntake::load(int descriptor, int pixels)
{
    return start(
        [descriptor] {
            const auto data = ImageDecoder::readRegularFile(descriptor);
            ::close(descriptor);
            return data;
        },
        pixels);
}

quint64 PhotoIntake::start(std::function<std::optional<QByteArray>()> read, int pixels)
{
    const quint64 ticket = ++m_issued;
    // The tasks post their results to this object; finish() waits for them before it goes.
    m_pool.start([this, ticket, read = std::move(read), pixels] {
        const auto data = read();
        if (!data) {
            QMetaObject::invokeMethod(
                this, [this, ticket] { takePhoto(ticket, {}, {}, {}); }, Qt::QueuedConnection);
            return;
        }
        // The preview is what a person waits for: the encoder, which would slow it, waits for it.
        auto previewDone = std::make_shared<QSemaphore>();
        m_pool.start([this, ticket, pixels, data = *data, previewDone] {
            auto [square, png] = decodeAndEncode(data, previewDone);
            const QImage shown = PhotoWell::filledSquare(square, pixels);
            QMetaObject::invokeMethod(
                this,
                [this, ticket, shown, square = std::move(square), png = std::move(png)] {
                    takePhoto(ticket, shown, square, png);
                },
                Qt::QueuedConnection);
        });
        const QImage preview = PhotoWell::filledSquare(ImageDecoder::decodeCentredSquarePreview(*data, pixels), pixels);
        previewDone->release();
        if (!preview.isNull())
            QMetaObject::invokeMethod(
                this, [this, ticket, preview] { showPreview(ticket, preview); }, Qt::QueuedConnection);
    });
    return ticket;
}

std::pair<QImage, QFuture<QByteArray>> PhotoIntake::decodeAndEncode(const QByteArray& data,
                                                                    const std::shared_ptr<QSemaphore>& start)
{
    const auto stream = ImageDecoder::streamCentredSquare(data);
    if (!stream)
        return {ImageDecoder::decodeCentredSquare(data), {}};
    auto png = QtConcurrent::run(&m_encoderPool, [this, square = stream->image(), rows = stream->progress(), start] {
        start->acquire();
        PngEncoder::Options options;
        options.pool = &m_encoderPool;
        options.rowsWritten = rows.get();
        return PngEncoder::encode(square, options);
    });
    if (!stream->decode())
        return {};
    return {stream->image(), png};
}

void PhotoIntake::finish()
{
    m_pool.waitForDone();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void PhotoIntake::showPreview(quint64 ticket, const QImage& preview)
{
    // Too late once this photo or a later one was accepted, or a later one's preview shown.
    if (ticket <= m_accepted || ticket <= m_previewTicket)
        return;
    m_previewTicket = ticket;
    m_preview = preview;
    emit previewShown(preview);
}

void PhotoIntake::takePhoto(quint64 ticket, const QImage& shown, const QImage& square, const QFuture<QByteArray>& png)
{
    const bool ownPreviewShown = ticket == m_previewTicket && !m_preview.isNull();
    if (square.isNull() || ticket <= m_accepted) {
        if (ownPreviewShown) {
            m_preview = QImage();
            emit previewWithdrawn();
        }
        emit loadFinished(ticket, false);
        return;
    }
    m_accepted = ticket;
    if (ticket >= m_previewTicket)
        m_preview = QImage();
    emit photoAccepted(shown, square, png);
    emit loadFinished(ticket, true);
}
