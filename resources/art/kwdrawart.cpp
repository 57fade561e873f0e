// Draws every skin picture of the installer at its pixel size and writes the
// PNG files into the folder given as the first argument.  The PNGs are
// committed; the build embeds them and never runs this program.
//
//   kwdrawart resources/images
#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

const QColor kAccent(47, 111, 235);
const QColor kAccentDark(35, 65, 166);
const QColor kLight(220, 222, 228);
const QColor kMuted(120, 122, 130);
const QColor kTrack(72, 72, 78);

QString g_folder;
int g_failures = 0;

void Save(const char* name, int width, int height, const std::function<void(QPainter&)>& draw) {
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing, true);
  draw(p);
  p.end();
  QString path = g_folder + "/" + name;
  if (!image.save(path, "PNG", 9)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    ++g_failures;
  }
}

QPen RoundPen(const QColor& colour, double width) {
  QPen pen(colour, width);
  pen.setCapStyle(Qt::RoundCap);
  pen.setJoinStyle(Qt::RoundJoin);
  return pen;
}

// Caption buttons: 24 x 24 light glyphs on transparent ground.
void CaptionImages() {
  Save("close.png", 24, 24, [](QPainter& p) {
    p.setPen(RoundPen(kLight, 2.0));
    p.drawLine(QPointF(6.5, 6.5), QPointF(17.5, 17.5));
    p.drawLine(QPointF(17.5, 6.5), QPointF(6.5, 17.5));
  });
  Save("min.png", 24, 24, [](QPainter& p) {
    p.setPen(RoundPen(kLight, 2.0));
    p.drawLine(QPointF(6.5, 12.5), QPointF(17.5, 12.5));
  });
  Save("max.png", 24, 24, [](QPainter& p) {
    p.setPen(RoundPen(kLight, 1.8));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(6.5, 6.5, 11, 11), 1.5, 1.5);
  });
  // The product mark: a rounded square with a stylised "T" over a wave.
  Save("me.png", 48, 48, [](QPainter& p) {
    QLinearGradient g(0, 0, 48, 48);
    g.setColorAt(0, QColor(64, 140, 255));
    g.setColorAt(1, kAccentDark);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(2, 2, 44, 44), 10, 10);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(11, 11, 26, 6), 3, 3);
    p.drawRoundedRect(QRectF(21, 11, 6, 25), 3, 3);
    p.setPen(RoundPen(QColor(255, 255, 255, 150), 2.5));
    p.setBrush(Qt::NoBrush);
    QPainterPath wave;
    wave.moveTo(9, 40);
    wave.cubicTo(17, 34, 31, 46, 39, 38);
    p.drawPath(wave);
  });
}

// A toggle switch, the look of check boxes of style 0.
void Switch(QPainter& p, int w, int h, bool on) {
  QRectF track(4, 8, w - 8, h - 16);
  double r = track.height() / 2;
  p.setPen(Qt::NoPen);
  p.setBrush(on ? kAccent : kTrack);
  p.drawRoundedRect(track, r, r);
  double knob = track.height() - 12;
  double x = on ? track.right() - 6 - knob : track.left() + 6;
  QRadialGradient shade(x + knob / 2, track.top() + 6 + knob / 2, knob / 2);
  shade.setColorAt(0.85, QColor(250, 250, 252));
  shade.setColorAt(1.0, QColor(205, 207, 214));
  p.setBrush(shade);
  p.drawEllipse(QRectF(x, track.top() + 6, knob, knob));
}

void Radio(QPainter& p, int size, bool on) {
  QRectF outer(3, 3, size - 6, size - 6);
  p.setPen(QPen(on ? kAccent : kMuted, 4));
  p.setBrush(QColor(40, 40, 44));
  p.drawEllipse(outer);
  if (on) {
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    double d = size * 0.42;
    p.drawEllipse(QRectF((size - d) / 2, (size - d) / 2, d, d));
  }
}

// A button face: rounded body with a soft vertical light.
void Face(QPainter& p, int w, int h, QColor top, QColor bottom, QColor rim) {
  QRectF body(2, 2, w - 4, h - 4);
  double r = h * 0.22;
  QLinearGradient g(0, 0, 0, h);
  g.setColorAt(0, top);
  g.setColorAt(1, bottom);
  p.setPen(QPen(rim, 3));
  p.setBrush(g);
  p.drawRoundedRect(body, r, r);
}

void SmallCheck(QPainter& p, bool on) {
  p.setRenderHint(QPainter::Antialiasing, false);
  if (on) {
    p.fillRect(QRect(0, 0, 14, 14), kAccent);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(RoundPen(Qt::white, 1.8));
    p.drawLine(QPointF(3.2, 7.2), QPointF(6.0, 10.0));
    p.drawLine(QPointF(6.0, 10.0), QPointF(11.0, 4.0));
  } else {
    p.setPen(QPen(kMuted, 1));
    p.setBrush(QColor(40, 40, 44));
    p.drawRect(QRect(0, 0, 13, 13));
  }
}

void CellImages() {
  Save("check_on.png", 160, 96, [](QPainter& p) { Switch(p, 160, 96, true); });
  Save("check_off.png", 160, 96, [](QPainter& p) { Switch(p, 160, 96, false); });
  Save("radio_on.png", 56, 56, [](QPainter& p) { Radio(p, 56, true); });
  Save("radio_off.png", 56, 56, [](QPainter& p) { Radio(p, 56, false); });
  Save("button101.png", 712, 148, [](QPainter& p) {
    Face(p, 712, 148, QColor(70, 140, 255), kAccentDark, QColor(30, 60, 150));
  });
  Save("button102.png", 775, 148, [](QPainter& p) {
    Face(p, 775, 148, QColor(86, 86, 94), QColor(58, 58, 64), QColor(100, 100, 110));
  });
  Save("button103.png", 525, 190, [](QPainter& p) {
    Face(p, 525, 190, QColor(64, 200, 140), QColor(24, 130, 84), QColor(20, 100, 64));
  });
  Save("button104.png", 522, 189,
       [](QPainter& p) { Face(p, 522, 189, QColor(60, 60, 66), QColor(44, 44, 48), kAccent); });
  Save("slider_thumb.png", 93, 93, [](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 70));
    p.drawEllipse(QRectF(8, 11, 78, 78));
    QRadialGradient g(40, 38, 44);
    g.setColorAt(0, Qt::white);
    g.setColorAt(1, QColor(200, 204, 214));
    p.setBrush(g);
    p.setPen(QPen(kAccent, 6));
    p.drawEllipse(QRectF(8, 6, 77, 77));
  });
  Save("check14_on.png", 14, 14, [](QPainter& p) { SmallCheck(p, true); });
  Save("check14_off.png", 14, 14, [](QPainter& p) { SmallCheck(p, false); });
  Save("combo_arrow.png", 120, 120, [](QPainter& p) {
    p.setPen(RoundPen(kLight, 14));
    p.drawLine(QPointF(28, 46), QPointF(60, 78));
    p.drawLine(QPointF(60, 78), QPointF(92, 46));
  });
}

void Circle(QPainter& p, QRectF r, QColor c) {
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  p.drawEllipse(r);
}

void IconImages() {
  // 0: beside the input field of the save-as box: a folder.
  Save("icon0_folder.png", 98, 101, [](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(214, 160, 40));
    QPainterPath back;
    back.addRoundedRect(QRectF(6, 18, 86, 68), 8, 8);
    back.addRoundedRect(QRectF(6, 10, 36, 20), 6, 6);
    p.drawPath(back.simplified());
    QLinearGradient g(0, 30, 0, 92);
    g.setColorAt(0, QColor(255, 210, 90));
    g.setColorAt(1, QColor(236, 170, 40));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(6, 32, 86, 60), 8, 8);
  });
  // 1: a gear.
  Save("icon1_gear.png", 108, 108, [](QPainter& p) {
    p.translate(54, 54);
    p.setPen(Qt::NoPen);
    p.setBrush(kMuted);
    for (int i = 0; i < 8; ++i) {
      p.drawRoundedRect(QRectF(-9, -50, 18, 24), 4, 4);
      p.rotate(45);
    }
    Circle(p, QRectF(-36, -36, 72, 72), kMuted);
    Circle(p, QRectF(-15, -15, 30, 30), QColor(40, 40, 44));
  });
  // 2: the icon of message boxes: an exclamation mark in an amber disc.
  Save("icon2_message.png", 56, 51, [](QPainter& p) {
    Circle(p, QRectF(3, 1, 49, 49), QColor(245, 166, 35));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(24.5, 10, 7, 22), 3.5, 3.5);
    p.drawEllipse(QRectF(24, 35, 8, 8));
  });
  // 3: a large product emblem.
  Save("icon3_emblem.png", 208, 208, [](QPainter& p) {
    QLinearGradient g(0, 0, 208, 208);
    g.setColorAt(0, QColor(64, 140, 255));
    g.setColorAt(1, kAccentDark);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(8, 8, 192, 192), 44, 44);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(48, 48, 112, 24), 12, 12);
    p.drawRoundedRect(QRectF(92, 48, 24, 110), 12, 12);
  });
  // 4: a small tick in a green disc.
  Save("icon4_ok.png", 48, 48, [](QPainter& p) {
    Circle(p, QRectF(2, 2, 44, 44), QColor(46, 170, 100));
    p.setPen(RoundPen(Qt::white, 5));
    p.drawLine(QPointF(13, 25), QPointF(21, 33));
    p.drawLine(QPointF(21, 33), QPointF(35, 16));
  });
  // 5: a download arrow in a ring.
  Save("icon5_download.png", 78, 78, [](QPainter& p) {
    p.setPen(QPen(kAccent, 5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(4, 4, 70, 70));
    p.setPen(RoundPen(kLight, 6));
    p.drawLine(QPointF(39, 20), QPointF(39, 52));
    p.drawLine(QPointF(26, 40), QPointF(39, 53));
    p.drawLine(QPointF(52, 40), QPointF(39, 53));
  });
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: kwdrawart OUTPUT_FOLDER\n");
    return 2;
  }
  g_folder = QString::fromLocal8Bit(argv[1]);
  CaptionImages();
  CellImages();
  IconImages();
  return g_failures == 0 ? 0 : 1;
}
