// Draws the demo site's posters from its catalogue: one picture per title, in the format its
// file name asks for. Run once and keep the pictures; the site only serves them.
//   QT_QPA_PLATFORM=offscreen demo_site_posters demo-site/data
#include <QtGui/QColor>
#include <QtGui/QFont>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QLinearGradient>
#include <QtGui/QPainter>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "demo-site/catalogue.h"

namespace {

constexpr int kWidth = 200;
constexpr int kHeight = 280;

QImage draw_poster(const demo_site::Title& title, int index) {
  // Hues walk round the colour circle so neighbouring titles look different.
  const int hue = (index * 137) % 360;
  const QColor top = QColor::fromHsv(hue, 140, 235);
  const QColor bottom = QColor::fromHsv((hue + 40) % 360, 200, 90);
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient gradient(0, 0, 0, kHeight);
  gradient.setColorAt(0, top);
  gradient.setColorAt(1, bottom);
  painter.fillRect(image.rect(), gradient);

  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(255, 255, 255, 40));
  painter.drawEllipse(QPoint(150 - (index % 5) * 20, 70 + (index % 3) * 20), 60, 60);
  painter.setBrush(QColor(0, 0, 0, 50));
  painter.drawRect(0, kHeight - 70, kWidth, 70);

  QFont name_font("Noto Sans CJK SC");
  name_font.setPixelSize(title.name.size() > 12 ? 22 : 28);
  name_font.setBold(true);
  painter.setFont(name_font);
  painter.setPen(Qt::white);
  painter.drawText(QRect(10, 120, kWidth - 20, 90), Qt::AlignCenter | Qt::TextWordWrap,
                   QString::fromStdString(title.name));

  QFont small_font("Noto Sans CJK SC");
  small_font.setPixelSize(13);
  painter.setFont(small_font);
  painter.drawText(QRect(10, kHeight - 64, kWidth - 20, 24), Qt::AlignCenter,
                   QString::fromStdString(title.category + " · " + title.year));
  painter.setPen(QColor(230, 245, 220));
  painter.drawText(QRect(10, kHeight - 38, kWidth - 20, 24), Qt::AlignCenter,
                   QString::fromStdString("青柚影院 · " + title.note));
  painter.end();
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: demo_site_posters DATA_DIR\n");
    return 2;
  }
  const std::string data_dir = argv[1];
  std::ifstream in(data_dir + "/catalogue.tsv", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::string error;
  const auto catalogue = demo_site::parse_catalogue(text.str(), error);
  if (!catalogue) {
    std::fprintf(stderr, "demo_site_posters: %s\n", error.c_str());
    return 1;
  }
  int index = 0;
  for (const demo_site::Title& title : catalogue->titles) {
    const QImage poster = draw_poster(title, index++);
    const std::string path = data_dir + "/posters/" + title.poster;
    const bool png = title.poster.ends_with(".png");
    // Few colours keep the PNGs small.
    const bool saved = png ? poster.convertToFormat(QImage::Format_Indexed8)
                                 .save(QString::fromStdString(path), "PNG")
                           : poster.save(QString::fromStdString(path), "JPEG", 80);
    if (!saved) {
      std::fprintf(stderr, "demo_site_posters: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
