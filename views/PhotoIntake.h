#pragma once

#include <QByteArray>
#include <QFuture>
#include <QImage>
#include <QObject>
#include <QSemaphore>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <optional>

// Takes chosen and dropped photos in, off the GUI thread. It outlives the views that start
// loads, so a photo still decoding when its view is replaced reaches the tray icon, the store
// and the view then on screen all the same.
//
// A load shows a quick preview first where the file offers one (a JPEG at a reduced scale, a
// HEIF image's thumbnail), then the photo decoded in full: its centred square, to be stored,
// and that square at the size shown, which replaces the preview (the same crop, so nothing
// jumps). Whatever order decoding ends in, the last photo chosen decides what is shown.
//
// Where the photo decodes from the top down (a JPEG that is not turned), its PNG for the store
// is encoded in stripes as the rows come, rather than after the decode.
class PhotoIntake : public QObject
{
    Q_OBJECT

public:
    explicit PhotoIntake(QObject* parent = nullptr);
    // Delivers what is still decoding first (see finish).
    ~PhotoIntake() override;

    // Starts loading the photo at `path`, to be shown at `pixels` a side; returns the load's
    // ticket (see loadFinished).
    quint64 load(const QString& path, int pixels);
    // The same for a file open for reading, whose descriptor the intake takes over and closes.
    quint64 load(int descriptor, int pixels);

    // The preview on show while its photo decodes; null when none is.
    QImage preview() const { return m_preview; }

    // Waits for every load started so far and delivers its results before it returns: what
    // the program does on Exit, so that a photo chosen just before is stored.
    void finish();

    // Where photos are decoded; the views read the stored photo there too.
    QThreadPool& pool() { return m_pool; }

signals:
    // A preview to show until its photo is accepted or the preview is withdrawn.
    void previewShown(const QImage& preview);
    // The preview on show belongs to no readable photo after all: show the photo shown before.
    void previewWithdrawn();
    // A photo decoded in full: `shown` is its square at the size shown, `square` the square to
    // store, and `png` that square's PNG file, encoding still or encoded (or no future where
    // the store is to encode it). While a later photo's preview is on show, that preview
    // stays until its own end.
    void photoAccepted(const QImage& shown, const QImage& square, const QFuture<QByteArray>& png);
    // The end of the load `ticket`: accepted, or refused (no readable image, or a photo chosen
    // later was accepted first).
    void loadFinished(quint64 ticket, bool accepted);

private:
    quint64 start(std::function<std::optional<QByteArray>()> read, int pixels);
    void showPreview(quint64 ticket, const QImage& preview);
    void takePhoto(quint64 ticket, const QImage& shown, const QImage& square, const QFuture<QByteArray>& png);
    // Decodes the square to store, and encodes it as a PNG as its rows come where they come in
    // order, once `start` is released.
    std::pair<QImage, QFuture<QByteArray>> decodeAndEncode(const QByteArray& data,
                                                           const std::shared_ptr<QSemaphore>& start);

    QThreadPool m_encoderPool; // waited for after m_pool, whose decoders it reads from
    QThreadPool m_pool;
    quint64 m_issued = 0;
    quint64 m_accepted = 0;
    quint64 m_previewTicket = 0;
    QImage m_preview;
};
