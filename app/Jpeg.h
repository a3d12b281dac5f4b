#pragma once
// JPEG decoding through libjpeg, called directly (not through Qt's image
// plug-ins, which may be missing on a minimal system).

#include <QImage>
#include <cstddef>

// The decoded picture as RGB888, or a null image when the data is not a
// JPEG that libjpeg can read. Never throws.
QImage DecodeJpeg(const unsigned char *data, std::size_t size);
