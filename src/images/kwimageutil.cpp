#include "images/kwimageutil.h"

#include <QPainter>

namespace {

// Premultiplied ARGB from the planes: exact for alpha 0 and 255, and the
// form QPainter composites fastest.
QImage ImageFromPlanes(const KwImagePlanes& planes) {
  QImage image(planes.width, planes.height, QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) return image;
  for (int y = 0; y < planes.height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    size_t base = static_cast<size_t>(y) * static_cast<size_t>(planes.width) * 3;
    for (int x = 0; x < planes.width; ++x) {
      size_t i = base + static_cast<size_t>(x) * 3;
      int a = planes.alpha[i];
      int b = planes.colour[i], g = planes.colour[i + 1], r = planes.colour[i + 2];
      line[x] = qRgba((r * a + 127) / 255, (g * a + 127) / 255, (b * a + 127) / 255, a);
    }
  }
  return image;
}

}  // namespace

int CKwImageUtil::Decode(const uint8_t* bytes, int count) {
  KwImagePlanes planes;
  if (KwDecodeImage(bytes, count, &planes) != 0) return -1;
  QImage image = ImageFromPlanes(planes);
  if (image.isNull()) return -1;
  planes_ = std::move(planes);
  image_ = std::move(image);
  return 0;
}

void CKwImageUtil::Draw(QPainter* dc, int x, int y, int width, int height) const {
  if (dc == nullptr) return;
  if (!icon_.isNull()) {
    icon_.paint(dc, QRect(x, y, width > 0 ? width : 32, height > 0 ? height : 32));
    return;
  }
  if (image_.isNull() || width <= 0 || height <= 0) return;
  if (width == image_.width() && height == image_.height()) {
    dc->drawImage(QPoint(x, y), image_);
    return;
  }
  dc->save();
  dc->setRenderHint(QPainter::SmoothPixmapTransform, true);
  dc->drawImage(QRect(x, y, width, height), image_);
  dc->restore();
}
