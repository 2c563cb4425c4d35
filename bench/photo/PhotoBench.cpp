// Measures the photo intake on real files: prints one "name value unit" line per figure.
//
//   perch_bench_photo intake <photo> <label>   loadPhoto to shown, to stored, GUI stalls, RSS,
//                                              `vips crop` + pngsave of the same square, and the
//                                              floors: preview, square decode and encode alone
//   perch_bench_photo encoders <photo>         every PNG encoder candidate on the photo's square
//   perch_bench_photo startup <stored.png>     cold start to tray icon, ours and a bare Qt one, and
//                                              the memory each holds once settled
//   perch_bench_photo rotated-heic <in> <out>  a HEIC of the picture with a quarter turn to show
//                                              it upright (irot), as a phone held upright writes it
//
// Never fails on speed; scripts/bench.sh runs the whole set.
#include "app/AppDelegate.h"
#include "app/StatusIconRenderer.h"
#include "platform/base/ProcessMemory.h"
#include "platform/image/ImageDecoder.h"
#include "platform/image/PngEncoder.h"
#include "preferences/DefaultsDatabase.h"
#include "preferences/PreferenceKeys.h"
#include "views/PhotoIntake.h"
#include "views/PhotoWell.h"
#include "views/PopoverView.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTimer>

#include <libheif/heif.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// One line per figure: name, value, unit and, where the figure has one, its target.
void report(const QString& name, double value, const char* unit, const QString& target = {})
{
    std::printf("%s %.3f %s%s%s\n", qPrintable(name), value, unit, target.isEmpty() ? "" : " target",
                qPrintable(target));
    std::fflush(stdout);
}

double residentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

// Seconds since this process was started by the kernel.
double secondsSinceExec()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    stat.open(QIODevice::ReadOnly);
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.value(19).toDouble(); // field 22 of the man page
    QFile uptime(QStringLiteral("/proc/uptime"));
    uptime.open(QIODevice::ReadOnly);
    const double now = uptime.readAll().split(' ').first().toDouble();
    return now - startTicks / double(sysconf(_SC_CLK_TCK));
}

// Records the longest gap between ticks of a 5 ms GUI-thread timer: how long the GUI
// thread could not react.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        m_timer.setInterval(5);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] { m_longest = std::max(m_longest, m_sinceTick.restart()); });
        m_sinceTick.start();
        m_timer.start();
    }
    qint64 longestMs() const { return m_longest; }

private:
    QTimer m_timer;
    QElapsedTimer m_sinceTick;
    qint64 m_longest = 0;
};

// Sets the high-water mark of resident memory back to what is resident now (Linux 4.0+).
bool resetPeakMemory()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

double statusMegabytes(const QByteArray& field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

double secondsOf(const std::function<void()>& work)
{
    QElapsedTimer clock;
    clock.start();
    work();
    return clock.nsecsElapsed() / 1e9;
}

// The store's own write of `png` over another photo of its size, in a file of its own that
// nothing else writes or checkpoints meanwhile. Neither this nor the file write it is compared
// with is synced: the store syncs its log at the checkpoint, after the photo counts as stored.
double storeWriteSeconds(QByteArray png, const QString& path)
{
    DefaultsDatabase::Outcome outcome;
    sqlite3* db = DefaultsDatabase::openWriter(QFile::encodeName(path), &outcome);
    if (!db)
        return -1;
    // As in the store's write queue, the log is copied into the file after the commit.
    sqlite3_wal_autocheckpoint(db, 0);
    auto write = [&] {
        qint64 revision = 0;
        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        DefaultsDatabase::upsert(db, {PreferenceKeys::SavedImageData, {DefaultsDatabase::Kind::Data, png}}, &revision);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    };
    write();
    sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    png[png.size() / 2] = char(~png[png.size() / 2]);
    const double seconds = secondsOf(write);
    sqlite3_close_v2(db);
    return seconds;
}

// One photo taken in as the program does it, from loadPhoto on: the first picture shown
// (a preview, or the photo itself), the photo decoded in full, the PNG stored. Then the
// reference, and the parts that set the floors: the preview decode, the square's decode
// and the PNG encode, each alone.
int intake(const QString& path, const QString& label)
{
    const bool heif = label.startsWith(QLatin1String("heic"));
    AppDelegate delegate(Edition::Perchlight);
    PopoverView view(&delegate);
    view.show();
    // The view's reading of the stored photo ends before the clock starts.
    while (view.image().isNull())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    delegate.savedPhotoWriter().waitForDone();
    ProcessMemory::releaseFreedMemory();
    const double rssBefore = residentMegabytes();
    const bool peakReset = resetPeakMemory();

    QElapsedTimer clock;
    QEventLoop untilStored;
    double shownAt = 0;
    double fullShownAt = 0;
    double storedAt = 0;
    PhotoIntake& photoIntake = delegate.photoIntake();
    QObject::connect(&photoIntake, &PhotoIntake::previewShown, [&] { shownAt = clock.nsecsElapsed() / 1e9; });
    QObject::connect(&photoIntake, &PhotoIntake::photoAccepted, [&] {
        fullShownAt = clock.nsecsElapsed() / 1e9;
        shownAt = shownAt > 0 ? shownAt : fullShownAt;
    });
    QObject::connect(
        &UserDefaults::standard(), &UserDefaults::valueChanged, &view,
        [&](const QString& key) {
            if (key != PreferenceKeys::SavedImageData)
                return;
            // Set is not yet stored: the figure counts until the photo is in the file.
            UserDefaults::standard().waitUntilSaved();
            storedAt = clock.nsecsElapsed() / 1e9;
            QMetaObject::invokeMethod(&untilStored, &QEventLoop::quit, Qt::QueuedConnection);
        },
        Qt::DirectConnection);

    QObject::connect(&photoIntake, &PhotoIntake::loadFinished, [&](quint64, bool taken) {
        if (!taken)
            untilStored.quit();
    });

    StallMeter stalls;
    clock.start();
    view.loadPhoto(QUrl::fromLocalFile(path));
    untilStored.exec();
    if (storedAt == 0) {
        std::fprintf(stderr, "perch_bench_photo: %s was not taken in\n", qPrintable(path));
        return 1;
    }
    const qint64 longestStall = stalls.longestMs();
    delegate.savedPhotoWriter().waitForDone();
    QApplication::processEvents();
    const double peak = peakReset ? statusMegabytes("VmHWM:") : peakMegabytes();
    const double settled = residentMegabytes();

    const QByteArray stored = UserDefaults::standard().dataForKey(PreferenceKeys::SavedImageData).value_or("");
    QBuffer storedBuffer;
    storedBuffer.setData(stored);
    const int side = QImageReader(&storedBuffer).size().width();
    const double squareMegabytes = double(side) * side * 4 / (1024.0 * 1024.0);

    report(label + "_to_shown", shownAt, "s", heif ? "<=0.5" : "<=0.10");
    report(label + "_to_shown_full", fullShownAt, "s");
    report(label + "_to_stored", storedAt, "s");
    report(label + "_gui_longest_stall", longestStall / 1000.0, "s", "<=0.100");
    report(label + "_stored_png", stored.size() / 1e6, "MB");
    report(label + "_rss_before", rssBefore, "MB");
    report(label + "_rss_peak", peak, "MB", QStringLiteral("<=%1").arg(2.5 * squareMegabytes + 40, 0, 'f', 0));
    report(label + "_rss_settled", settled, "MB", "<=60");

    // The reference: libvips' command-line crop of the same square, saved at its defaults.
    const QByteArray data = ImageDecoder::readRegularFile(path).value_or(QByteArray());
    const QRect square = ImageDecoder::centredSquare(ImageDecoder::decode(data).size());
    QTemporaryDir scratch;
    const QString out = scratch.filePath(QStringLiteral("vips.png"));
    int status = 1;
    const double vips = secondsOf([&] {
        status = QProcess::execute(QStringLiteral("vips"),
                                   {QStringLiteral("crop"), heif ? path + "[autorotate]" : path, out,
                                    QString::number(square.x()), QString::number(square.y()),
                                    QString::number(square.width()), QString::number(square.height())});
    });
    if (status == 0 && !square.isEmpty()) {
        report(label + "_vips_crop_pngsave", vips, "s");
        report(label + "_vips_png", QFileInfo(out).size() / 1e6, "MB");
        report(label + "_stored_over_vips", storedAt / vips, "", heif ? "<=0.8" : "<=0.5");
    }

    report(label + "_floor_preview_decode",
           secondsOf([&] { ImageDecoder::decodeCentredSquarePreview(data, PhotoWell::kSide); }), "s");
    QImage decoded;
    report(label + "_floor_square_decode", secondsOf([&] { decoded = ImageDecoder::decodeCentredSquare(data); }), "s");
    QByteArray png;
    report(label + "_floor_png_encode", secondsOf([&] { png = PngEncoder::encode(decoded); }), "s");
    report(label + "_floor_store_write", storeWriteSeconds(png, scratch.filePath(QStringLiteral("store.sqlite3"))),
           "s");
    QFile file(scratch.filePath(QStringLiteral("photo.png")));
    report(label + "_floor_file_write", secondsOf([&] {
               if (file.open(QIODevice::WriteOnly))
                   file.write(png);
               file.close();
           }),
           "s");
    return 0;
}

int encoders(const QString& path)
{
    const QImage square = PopoverView::cropToSquare(ImageDecoder::decodeFile(path));
    auto time = [&](const QString& name, const std::function<QByteArray()>& encode) {
        QElapsedTimer clock;
        clock.start();
        const QByteArray png = encode();
        report(QStringLiteral("encode_%1_time").arg(name), clock.nsecsElapsed() / 1e9, "s");
        report(QStringLiteral("encode_%1_size").arg(name), png.size() / 1e6, "MB");
    };
    for (int quality : {-1, 0, 10, 20}) {
        time(QStringLiteral("qt_q%1").arg(quality), [&] {
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            QImageWriter writer(&buffer, "png");
            writer.setCompression(quality);
            writer.write(square);
            return bytes;
        });
    }
    const std::pair<const char*, PngEncoder::RowFilter> filters[] = {
        {"none", PngEncoder::RowFilter::None},   {"sub", PngEncoder::RowFilter::Sub},
        {"up", PngEncoder::RowFilter::Up},       {"average", PngEncoder::RowFilter::Average},
        {"paeth", PngEncoder::RowFilter::Paeth},
    };
    for (const auto& [name, filter] : filters) {
        for (int threads : {1, 0}) {
            PngEncoder::Options options;
            options.filter = filter;
            options.threads = threads;
            time(QStringLiteral("ours_%1_%2").arg(QLatin1String(name), threads == 1 ? "1thread" : "threads"),
                 [&] { return PngEncoder::encode(square, options); });
        }
    }
    // The reference for the program's coder: zlib's own deflate, same filter and stripes.
    for (int threads : {1, 0}) {
        PngEncoder::Options options;
        options.zlibReference = true;
        options.threads = threads;
        time(QStringLiteral("zlib_rle_up_%1").arg(threads == 1 ? "1thread" : "threads"),
             [&] { return PngEncoder::encode(square, options); });
    }
    return 0;
}

// Resident memory once start-up is over: both programs run their event loop for the same
// few seconds after the icon is set, so that work queued behind the icon has ended too.
void reportSettledMemory(const QString& name)
{
    QEventLoop settling;
    QTimer::singleShot(3000, &settling, &QEventLoop::quit);
    settling.exec();
    report(name, residentMegabytes(), "MB");
}

// Both figures run from the kernel's start of this process to the tray icon being set.
int startup(int argc, char** argv, const QString& storedPng, bool bare)
{
    if (!bare)
        ProcessMemory::returnLargeBlocksWhenFreed(); // as the program's main does
    QApplication application(argc, argv);
    if (bare) {
        // A plain Qt tray program that decodes the same PNG for its icon.
        QFile file(storedPng);
        if (!file.open(QIODevice::ReadOnly))
            return 1;
        QSystemTrayIcon tray;
        tray.setIcon(QIcon(QPixmap::fromImage(QImage::fromData(file.readAll()))));
        tray.show();
        report(QStringLiteral("startup_bare_qt_tray_plus_decode"), secondsSinceExec(), "s");
        // Its memory is taken with an icon of the size a tray shows, not with the photo in full
        // that this plain program hands over and a careful one would not keep.
        tray.setIcon(QIcon(tray.icon().pixmap(44)));
        reportSettledMemory(QStringLiteral("startup_bare_rss_settled"));
        return 0;
    }
    // The photo stored by a previous intake run is in the defaults database. The clock stops
    // when the icon is on the tray item, whenever the program sets it.
    AppDelegate delegate(Edition::Perchlight);
    delegate.applicationDidFinishLaunching();
    while (delegate.statusItem()->image().isNull())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    report(QStringLiteral("startup_to_tray_icon"), secondsSinceExec(), "s");
    reportSettledMemory(QStringLiteral("startup_rss_settled"));
    return 0;
}

// The picture as the sensor saw it, with the orientation that shows it upright: a portrait
// (EXIF 6, a clockwise quarter turn), at the quality the other HEICs have.
int rotatedHeic(const QString& in, const QString& out)
{
    const QImage picture = QImage(in).convertToFormat(QImage::Format_RGB888);
    heif_image* image = nullptr;
    if (picture.isNull() ||
        heif_image_create(picture.width(), picture.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image)
                .code != heif_error_Ok)
        return 1;
    heif_image_add_plane(image, heif_channel_interleaved, picture.width(), picture.height(), 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < picture.height(); ++y)
        std::memcpy(plane + qsizetype(y) * stride, picture.constScanLine(y), size_t(picture.width()) * 3);
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder);
    heif_encoder_set_lossy_quality(encoder, 85);
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = heif_orientation_rotate_90_cw;
    const bool written = encoder &&
                         heif_context_encode_image(context, image, encoder, options, nullptr).code == heif_error_Ok &&
                         heif_context_write_to_file(context, QFile::encodeName(out).constData()).code == heif_error_Ok;
    heif_encoding_options_free(options);
    heif_encoder_release(encoder);
    heif_context_free(context);
    heif_image_release(image);
    return written ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const QStringList args = [&] {
        QStringList list;
        for (int i = 1; i < argc; ++i)
            list << QString::fromLocal8Bit(argv[i]);
        return list;
    }();
    const QString mode = args.value(0);
    if (mode == QLatin1String("startup") || mode == QLatin1String("startup-bare"))
        return startup(argc, argv, args.value(1), mode == QLatin1String("startup-bare"));
    ProcessMemory::returnLargeBlocksWhenFreed(); // as the program's main does
    QApplication application(argc, argv);
    if (mode == QLatin1String("intake"))
        return intake(args.value(1), args.value(2));
    if (mode == QLatin1String("encoders"))
        return encoders(args.value(1));
    if (mode == QLatin1String("rotated-heic"))
        return rotatedHeic(args.value(1), args.value(2));
    std::fprintf(stderr,
                 "usage: perch_bench_photo intake|encoders|startup|startup-bare|rotated-heic <file> [label|output]\n");
    return 2;
}
