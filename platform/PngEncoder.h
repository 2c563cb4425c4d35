#pragma once

#include <QByteArray>
#include <QImage>

// The one PNG encoder: 8-bit RGB, or RGBA when the image has an alpha channel. The rows
// are filtered and deflated in horizontal stripes on several threads, then joined into
// one zlib stream (each stripe but the last ends on a byte-aligned sync flush), so a
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
    // Chosen by measurement (bench/): on photos, Paeth with zlib level 2 writes files
    // no bigger than a level 6 unfiltered writer in a fraction of its time.
    int level = 2;
    RowFilter filter = RowFilter::Paeth;
    // Threads working on stripes; 0 means one per core.
    int threads = 0;
};

// The PNG file of `image`; empty when the image is null or memory runs out.
QByteArray encode(const QImage& image, const Options& options = {});

} // namespace PngEncoder
