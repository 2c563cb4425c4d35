#pragma once

#include "preferences/UserDefaults.h"

#include <QImage>
#include <QObject>
#include <QThread>
#include <QThreadPool>

#include <atomic>

// Encodes accepted photos as PNG and stores them under SavedImageData on one low-priority
// worker thread. Writes run in the order the photos were handed over, so the stored photo
// is always the last one accepted; a photo already superseded by a newer one waiting
// behind it is skipped instead of encoded for nothing.
class SavedPhotoWriter : public QObject
{
    Q_OBJECT

public:
    explicit SavedPhotoWriter(UserDefaults& store = UserDefaults::standard(), QObject* parent = nullptr);
    // Hands the photos still queued to the store first, which saves them before it closes:
    // a photo the user just chose is not lost on exit.
    ~SavedPhotoWriter() override;

    // Returns at once; the image is shared, not copied.
    void write(const QImage& square);

    // Blocks until every photo handed over so far has been stored or skipped, and the store
    // has saved it in its file; whether it could within the store's close timeout.
    bool waitForDone();

private:
    void finishHandedOver();

    UserDefaults& m_store;
    QThread m_thread;
    QObject m_worker;          // lives on m_thread; queued calls to it run there, in order
    QThreadPool m_encoderPool; // helps m_thread encode the stripes of a PNG
    std::atomic<quint64> m_latest{0};
};
