#pragma once

#include "preferences/UserDefaults.h"

#include <QByteArray>
#include <QFuture>
#include <QImage>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QThreadPool>

#include <functional>

// Encodes accepted photos as PNG and stores them under SavedImageData on one low-priority
// worker thread. Writes run in the order the photos were handed over, so the stored photo
// is always the last one accepted; a photo already superseded by a newer one waiting
// behind it is skipped instead of encoded for nothing.
//
// Until its write ends, the newest photo is the pending photo: readers of the saved photo
// take it instead of the store's older one, or wait for its write (whenStored).
class SavedPhotoWriter : public QObject
{
    Q_OBJECT

public:
    explicit SavedPhotoWriter(UserDefaults& store = UserDefaults::standard(), QObject* parent = nullptr);
    // Hands the photos still queued to the store first, which saves them before it closes:
    // a photo the user just chose is not lost on exit.
    ~SavedPhotoWriter() override;

    // Returns at once; the image is shared, not copied. `png`, where given, is the square's PNG
    // file, encoded or still encoding elsewhere; the writer encodes the square itself when
    // there is none or that encode failed.
    void write(const QImage& square, const QFuture<QByteArray>& png = {});

    // The newest photo handed over whose write has not ended; null when there is none. A
    // write that fails leaves no pending photo: the store keeps the previous one, and so
    // does every reader.
    QImage pendingPhoto() const;

    // Runs `action` once no photo is pending (at once when none is), unless `context` is gone
    // by then. Called on the writer's thread, where the action runs too.
    void whenStored(QObject* context, std::function<void()> action);

    // Blocks until every photo handed over so far has been stored or skipped and the store
    // has saved it in its file, then runs the actions waiting for that (when called on the
    // writer's thread). Whether the store could save within its close timeout.
    bool waitForDone();

signals:
    // The stored photo was replaced by another writer than this one: the other edition, or
    // any other program, as the store reports it.
    void replacedElsewhere();

private:
    void finishHandedOver();
    void runWaitingActions();

    UserDefaults& m_store;
    QThread m_thread;
    QObject m_worker;          // lives on m_thread; queued calls to it run there, in order
    QThreadPool m_encoderPool; // helps m_thread encode the stripes of a PNG
    mutable QMutex m_pendingMutex;
    QImage m_pending;
    quint64 m_pendingSequence = 0; // of the newest photo handed over
    QList<std::pair<QPointer<QObject>, std::function<void()>>> m_waiting;
};
