#pragma once

#include <QByteArray>
#include <QImage>

class QThreadPool;
class RowProgress;

// The one PNG encoder: 8-bit RGB, or RGBA when the image has an alpha channel. The rows
// are filtered and deflated in horizontal stripes on several threads, then joined into
// one zlib stream (each stripe but the last ends on a byte-aligned flush), so a
// 16-megapixel photo is stored in a fraction of the time of a single-threaded writer.
namespace PngEncoder {

enum class RowFilter
{
    None = 0,
    Sub = 1,
    Up = 2,
    Average = 3,
    Paeth = 4
};

struct Options
{
    // Chosen by measurement (./scripts/bench.sh photo): on photos, Up is the fastest filter
    // that compresses; Average writes files 4 % smaller in a fifth more time.
    RowFilter filter = RowFilter::Up;
    // Threads working on stripes; 0 means one per core.
    int threads = 0;
    // zlib's own deflate, with its run-length strategy, in place of the program's coder: the
    // reference that the benchmark measures the coder against.
    bool zlibReference = false;
    // Where the stripes run, while the calling thread waits: a caller on one of the pool's own
    // threads leaves the stripes a thread fewer. Not Qt's global pool by default: Qt converts
    // and scales images on the GUI thread with that pool's help, and would wait there for our
    // long stripes to end.
    QThreadPool* pool = nullptr;
    // For an image still being written from the top down: each stripe waits for its rows
    // here, so the first stripes are encoded while later rows are still being decoded. The
    // encode fails when the writer does.
    const RowProgress* rowsWritten = nullptr;
};

// The PNG file of `image`; empty when the image is null or memory runs out.
QByteArray encode(const QImage& image, const Options& options = {});

} // namespace PngEncoder
