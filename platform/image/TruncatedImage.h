#pragma once

#include <QByteArray>

// Whether image bytes end before their format says the image does: a photo still being
// copied or downloaded. Qt's JPEG, GIF and BMP readers decode such a file without
// complaint and fill the missing part with grey or black, so the cut is found from the
// file's own structure. Other formats, and bytes too damaged to tell, are left to the
// decoder, which refuses them when they are cut short.
namespace TruncatedImage {

bool isTruncated(const QByteArray& data);

} // namespace TruncatedImage
