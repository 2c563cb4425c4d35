#pragma once

#include "platform/image/RowProgress.h"

#include <QByteArray>
#include <QImage>
#include <QRect>

#include <memory>

// The centred square of a JPEG, decoded from the top down with libjpeg-turbo into an image
// that exists before its rows do: other threads read the rows published so far (progress())
// while later ones decode, as the PNG encoder does with stripes of a photo being taken in.
// The rows above the square are skipped, and the columns beside it are not transformed.
// The pixels are those of Qt's reader (the same DCT and upsampling), as Format_RGB32.
class JpegSquareStream
{
public:
    // Reads the header of `jpeg` and allocates the image of `square`, a square within the
    // image as stored; null when it is no JPEG this decodes (CMYK), or memory runs out. The
    // data is read in place.
    static std::unique_ptr<JpegSquareStream> open(const QByteArray& jpeg, QRect square);
    ~JpegSquareStream();
    JpegSquareStream(const JpegSquareStream&) = delete;
    JpegSquareStream& operator=(const JpegSquareStream&) = delete;

    // The square: final in its published rows, the others still to come.
    QImage image() const { return m_image; }
    std::shared_ptr<const RowProgress> progress() const { return m_progress; }

    // Decodes the square's rows, publishing them as they come; once only. False when the data
    // is damaged: the progress fails then too, and the image is not the photo.
    bool decode();

private:
    struct Decompressor;
    JpegSquareStream();
    bool start(QRect square);

    QByteArray m_jpeg;
    std::unique_ptr<Decompressor> m_decompressor;
    QImage m_image;
    uchar* m_rows = nullptr; // the image's buffer: its rows as libjpeg writes them
    qsizetype m_rowBytes = 0;
    int m_skipRows = 0;
    std::shared_ptr<RowProgress> m_progress = std::make_shared<RowProgress>();
};
