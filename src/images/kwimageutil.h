// CKwImageUtil: one decoded picture that draws itself with transparency.
//
// Owned by whoever made it (a cell, a dialog, a stock table, an image pack).
// Decode keeps the previous picture when the new bytes are corrupt.  The
// picture is kept as the three planes of the design (alpha, inverse alpha,
// colour) plus a premultiplied image made once per decode, so drawing is a
// single composite.  Not thread-safe: decode on one thread, then hand over.
#pragma once

#include <QIcon>
#include <QImage>
#include <cstdint>
#include <vector>

#include "images/kwimagedecode.h"

class QPainter;

class CKwImageUtil {
 public:
  CKwImageUtil() = default;
  virtual ~CKwImageUtil() = default;
  CKwImageUtil(const CKwImageUtil&) = delete;
  CKwImageUtil& operator=(const CKwImageUtil&) = delete;

  // 0 on success, -1 on failure (the previous picture stays).
  int Decode(const uint8_t* bytes, int count);
  int Decode(const char* bytes, int count) {
    return Decode(reinterpret_cast<const uint8_t*>(bytes), count);
  }

  // Draws the picture into (x, y, width, height), smoothly scaled when that
  // differs from the picture's size, alpha-blended over what is already
  // there: alpha 255 replaces, alpha 0 leaves the background untouched.
  // With an icon set, draws the icon instead.  No picture: draws nothing.
  void Draw(QPainter* dc, int x, int y, int width, int height) const;
  // At the picture's own size.
  void Draw(QPainter* dc, int x, int y) const { Draw(dc, x, y, Width(), Height()); }

  void SetIcon(const QIcon& icon) { icon_ = icon; }
  bool HasIcon() const { return !icon_.isNull(); }

  int Width() const { return planes_.width; }
  int Height() const { return planes_.height; }
  bool HasPicture() const { return !planes_.IsEmpty(); }
  const KwImagePlanes& Planes() const { return planes_; }
  // The picture as a premultiplied ARGB image (null without a picture).
  const QImage& Image() const { return image_; }

 private:
  KwImagePlanes planes_;
  QImage image_;
  QIcon icon_;
};
