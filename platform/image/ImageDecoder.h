#pragma once

#include "platform/image/DecodeLimits.h"
#include "platform/image/JpegSquareStream.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <memory>
#include <optional>

// The one way a photo is decoded: every format Qt reads, plus HEIC and HEIF through
// libheif, always upright (the EXIF orientation of JPEGs and the transformations of HEIF
// containers are applied, so the size is the upright size). Failure gives a null image;
// so does an image cut short, such as a photo still being copied, in every format.
// Safe to call from any thread; big photos should be decoded off the GUI thread.
namespace ImageDecoder {

QImage decode(const QByteArray& data, const Limits& limits = {});

// Decodes `path` if it names a regular file (see readRegularFile); the file is only read.
QImage decodeFile(const QString& path);

// The centred square of the upright photo, the same pixels as cut from decode(), but decoded
// only as far as the format allows: a JPEG down to the square's last row and into a buffer
// of the square alone (in the orientation stored, the square's place is found through the
// EXIF orientation), a HEIF image without copying its pixels.
QImage decodeCentredSquare(const QByteArray& data, const Limits& limits = {});

// decodeCentredSquare's square, decoded as a stream whose rows others may read while later
// ones decode, for a JPEG that its orientation does not turn or mirror. Null for every other
// photo (decodeCentredSquare takes those), and for data decodeCentredSquare would refuse.
std::unique_ptr<JpegSquareStream> streamCentredSquare(const QByteArray& data, const Limits& limits = {});

// The upright photo stretched to `side` × `side` pixels (area-averaged), or as it is where it
// is no larger: enough for a small rendering such as the tray icon. Qt's PNG and JPEG readers
// scale as they read, so such a photo is never held whole in memory and decodes in about half
// the time; other formats are decoded in full and then scaled.
QImage decodeStretched(const QByteArray& data, int side, const Limits& limits = {});

// A quick rendering of that square, to show while decodeCentredSquare runs: a JPEG decoded at
// the smallest of its reduced scales that keeps `pixels` on the square's side, or a HEIF
// image's own thumbnail (of at least 64 pixels). Null where there is nothing quicker than the
// full decode, or where the photo is too small for it to matter.
QImage decodeCentredSquarePreview(const QByteArray& data, int pixels, const Limits& limits = {});

// Whether `path` is a regular file that begins like an image of a format decode() reads.
// Only the first bytes are read, and a FIFO or device is never opened.
bool isPhotoFile(const QString& path);

// The contents of `path` if it is a regular file (after following links) of at most
// kMaxFileBytes. A folder, FIFO, socket or device is refused without blocking, and
// without being opened at all when it is already one at the time of the check.
std::optional<QByteArray> readRegularFile(const QString& path);
// The same for a file already open for reading (a descriptor handed over by another process);
// read from where the descriptor stands, and not closed.
std::optional<QByteArray> readRegularFile(int descriptor);

} // namespace ImageDecoder
