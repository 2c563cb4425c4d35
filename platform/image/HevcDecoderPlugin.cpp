#include "platform/image/HevcDecoderPlugin.h"

#include <QThread>

#include <libde265/de265.h>
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>

#include <cstring>
#include <limits>
#include <memory>

namespace HevcDecoderPlugin {
namespace {

// A still image's stream holds one picture; a stream with many is malformed, and each one
// costs a whole decode.
constexpr int kMaxPictures = 8;

// libheif's own decoder ranks 100; the highest rank decodes.
constexpr int kPriority = 200;

struct Decoder
{
    de265_decoder_context* context = nullptr;

    ~Decoder()
    {
        if (context)
            de265_free_decoder(context);
    }
};

heif_error success()
{
    return {heif_error_Ok, heif_suberror_Unspecified, "Success"};
}

heif_error failure(heif_suberror_code code, const char* message)
{
    return {heif_error_Decoder_plugin_error, code, message};
}

struct ImageReleaser
{
    void operator()(heif_image* image) const { heif_image_release(image); }
};
using OwnedImage = std::unique_ptr<heif_image, ImageReleaser>;

// The picture's planes copied into a heif_image, as libheif's own decoder hands them on.
heif_error toHeifImage(const de265_image* picture, OwnedImage& out)
{
    const bool mono = de265_get_chroma_format(picture) == de265_chroma_mono;
    heif_image* raw = nullptr;
    const heif_error created = heif_image_create(de265_get_image_width(picture, 0), de265_get_image_height(picture, 0),
                                                 mono ? heif_colorspace_monochrome : heif_colorspace_YCbCr,
                                                 static_cast<heif_chroma>(de265_get_chroma_format(picture)), &raw);
    if (created.code != heif_error_Ok)
        return created;
    OwnedImage image(raw);

    const heif_channel channels[] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
    const int bits = de265_get_bits_per_pixel(picture, 0);
    for (int plane = 0; plane < (mono ? 1 : 3); ++plane) {
        if (de265_get_bits_per_pixel(picture, plane) != bits)
            return failure(heif_suberror_Unsupported_color_conversion, "Planes of different bit depths");
        const int width = de265_get_image_width(picture, plane);
        const int height = de265_get_image_height(picture, plane);
        if (width <= 0 || height <= 0)
            return failure(heif_suberror_Invalid_image_size, "Empty plane");
        const heif_error added = heif_image_add_plane(image.get(), channels[plane], width, height, bits);
        if (added.code != heif_error_Ok)
            return added;
        int sourceStride = 0;
        int targetStride = 0;
        const uint8_t* source = de265_get_image_plane(picture, plane, &sourceStride);
        uint8_t* target = heif_image_get_plane(image.get(), channels[plane], &targetStride);
        const size_t rowBytes = size_t(width) * size_t((bits + 7) / 8);
        for (int y = 0; y < height; ++y)
            std::memcpy(target + qsizetype(y) * targetStride, source + qsizetype(y) * sourceStride, rowBytes);
    }

    // The stream's own colour description: libheif converts to RGB by it unless the file
    // overrides it.
    heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
    if (!nclx)
        return failure(heif_suberror_Unspecified, "Out of memory");
    // A value the setters do not know leaves the field unspecified, which is what is wanted.
    heif_nclx_color_profile_set_color_primaries(nclx, uint16_t(de265_get_image_colour_primaries(picture)));
    heif_nclx_color_profile_set_transfer_characteristics(nclx,
                                                         uint16_t(de265_get_image_transfer_characteristics(picture)));
    heif_nclx_color_profile_set_matrix_coefficients(nclx, uint16_t(de265_get_image_matrix_coefficients(picture)));
    nclx->full_range_flag = uint8_t(de265_get_image_full_range_flag(picture) != 0);
    const heif_error profiled = heif_image_set_nclx_color_profile(image.get(), nclx);
    heif_nclx_color_profile_free(nclx);
    if (profiled.code != heif_error_Ok)
        return profiled;
    out = std::move(image);
    return success();
}

const char* pluginName()
{
    return "libde265 on every core";
}

int rank(heif_compression_format format)
{
    return format == heif_compression_HEVC ? kPriority : 0;
}

heif_error newDecoder(void** out)
{
    auto decoder = std::make_unique<Decoder>();
    decoder->context = de265_new_decoder();
    if (!decoder->context)
        return failure(heif_suberror_Unspecified, "libde265 has no decoder");
    // Without workers libde265 decodes on the calling thread, which is still a decode.
    de265_start_worker_threads(decoder->context, QThread::idealThreadCount());
    *out = decoder.release(); // libheif hands it back to freeDecoder
    return success();
}

void freeDecoder(void* decoder)
{
    delete static_cast<Decoder*>(decoder);
}

// The data is a sequence of NAL units, each after its size in four bytes.
heif_error pushData(void* decoder, const void* data, size_t size)
{
    de265_decoder_context* context = static_cast<Decoder*>(decoder)->context;
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t at = 0;
    while (at < size) {
        if (size - at < 4)
            return failure(heif_suberror_End_of_data, "Truncated NAL unit size");
        const uint32_t unitSize =
            uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 | uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
        at += 4;
        if (unitSize > size - at)
            return failure(heif_suberror_End_of_data, "Truncated NAL unit");
        if (unitSize > uint32_t(std::numeric_limits<int>::max()))
            return failure(heif_suberror_Unspecified, "NAL unit too large");
        if (unitSize > 0 && de265_push_NAL(context, bytes + at, int(unitSize), 0, nullptr) != DE265_OK)
            return failure(heif_suberror_Unspecified, "libde265 refused a NAL unit");
        at += unitSize;
    }
    return success();
}

// The last picture of the stream, as libheif's own decoder returns.
heif_error decodeImage(void* decoder, heif_image** out)
{
    *out = nullptr;
    de265_decoder_context* context = static_cast<Decoder*>(decoder)->context;
    de265_flush_data(context);
    OwnedImage last;
    int pictures = 0;
    int more = 0;
    do {
        more = 0;
        if (de265_decode(context, &more) != DE265_OK)
            break;
        if (const de265_image* picture = de265_get_next_picture(context)) {
            if (++pictures > kMaxPictures)
                return failure(heif_suberror_Unspecified, "Too many pictures");
            const heif_error converted = toHeifImage(picture, last);
            de265_release_next_picture(context);
            if (converted.code != heif_error_Ok)
                return converted;
        }
    } while (more);
    if (!last)
        return failure(heif_suberror_Unspecified, "No picture decoded");
    *out = last.release();
    return success();
}

// Version 1 of the plugin interface: libheif reads neither of the last two fields.
const heif_decoder_plugin kPlugin = {
    .plugin_api_version = 1,
    .get_plugin_name = pluginName,
    .init_plugin = nullptr,
    .deinit_plugin = nullptr,
    .does_support_format = rank,
    .new_decoder = newDecoder,
    .free_decoder = freeDecoder,
    .push_data = pushData,
    .decode_image = decodeImage,
    .set_strict_decoding = nullptr,
    .id_name = nullptr,
};

} // namespace

bool registerWith(heif_context* context)
{
    return heif_register_decoder(context, &kPlugin).code == heif_error_Ok;
}

} // namespace HevcDecoderPlugin
