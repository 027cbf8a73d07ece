// Draws the program's pictures at build time, one coherent look (blue-green gradients, soft rings, white
// glyphs): kavo_pictures OUT_DIR. Formats and pixel sizes are the ones the program expects.
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>

namespace {

QColor hue(double h, double s = 0.55, double v = 0.92)
{
    return QColor::fromHsvF(std::fmod(h, 1.0), s, v);
}

// A soft landscape of gradient bands and rings; `seed` turns the hues.
QImage scenery(int width, int height, double seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0, hue(0.55 + seed, 0.45, 0.98));
    sky.setColorAt(1, hue(0.48 + seed, 0.35, 0.85));
    p.fillRect(image.rect(), sky);
    for (int i = 0; i < 6; ++i) {
        const double r = height * (0.25 + 0.12 * i);
        QRadialGradient glow(QPointF(width * (0.15 + 0.14 * i), height * (0.2 + 0.1 * (i % 3))), r);
        glow.setColorAt(0, QColor(255, 255, 255, 70));
        glow.setColorAt(1, QColor(255, 255, 255, 0));
        p.setBrush(glow);
        p.setPen(Qt::NoPen);
        p.drawEllipse(glow.center(), r, r);
    }
    for (int band = 0; band < 3; ++band) {
        QPainterPath hill;
        const double base = height * (0.62 + 0.12 * band);
        hill.moveTo(0, height);
        for (int x = 0; x <= width; x += std::max(1, width / 60))
            hill.lineTo(
                x, base + std::sin(x * (0.008 + 0.004 * band) * 836.0 / width + seed * 9 + band) * height * 0.06);
        hill.lineTo(width, height);
        p.setBrush(hue(0.40 + seed + band * 0.03, 0.45 + band * 0.1, 0.80 - band * 0.12));
        p.drawPath(hill);
    }
    return image;
}

// A square picture with a white glyph drawn by `glyph` on a rounded gradient tile.
template <typename Glyph> QImage tile(int width, int height, double seed, Glyph glyph)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, height);
    fill.setColorAt(0, hue(0.56 + seed, 0.50, 0.98));
    fill.setColorAt(1, hue(0.58 + seed, 0.75, 0.78));
    p.setBrush(fill);
    p.setPen(QPen(QColor(255, 255, 255, 150), 1));
    p.drawRoundedRect(QRectF(0.5, 0.5, width - 1, height - 1), height / 5.0, height / 5.0);
    p.setPen(QPen(Qt::white, std::max(1.5, height / 10.0), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    glyph(p, QRectF(width * 0.28, height * 0.22, width * 0.44, height * 0.44));
    return image;
}

bool save(const QImage &image, const QString &path, const char *format, int quality = 90)
{
    const bool ok = image.save(path, format, quality);
    if (!ok)
        std::fprintf(stderr, "kavo_pictures: cannot write %s\n", path.toLocal8Bit().constData());
    return ok;
}

void writeMusic(const QString &path)
{
    // Eight bars of a calm arpeggio, 16-bit stereo 22,050 Hz, about 8 seconds, seamless as a loop.
    const int rate = 22050;
    const double notes[] = {
        261.6, 329.6, 392.0, 523.3, 392.0, 329.6, 293.7, 349.2, 440.0, 587.3, 440.0, 349.2, 246.9, 293.7, 392.0, 493.9};
    const int perNote = rate / 2;
    QByteArray samples;
    for (double frequency : notes) {
        for (int i = 0; i < perNote; ++i) {
            const double t = static_cast<double>(i) / rate;
            const double envelope = std::exp(-3.0 * t) * std::min(1.0, i / 300.0);
            const auto value = static_cast<qint16>(
                6000 * envelope * (std::sin(2 * M_PI * frequency * t) + 0.3 * std::sin(4 * M_PI * frequency * t)));
            for (int channel = 0; channel < 2; ++channel)
                samples.append(reinterpret_cast<const char *>(&value), 2);
        }
    }
    QByteArray wav("RIFF");
    const auto put32 = [&wav](quint32 v) { wav.append(reinterpret_cast<const char *>(&v), 4); };
    const auto put16 = [&wav](quint16 v) { wav.append(reinterpret_cast<const char *>(&v), 2); };
    put32(36 + samples.size());
    wav.append("WAVEfmt ");
    put32(16);
    put16(1);
    put16(2);
    put32(rate);
    put32(rate * 4);
    put16(4);
    put16(16);
    wav.append("data");
    put32(samples.size());
    wav.append(samples);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(wav);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const QString out = QString::fromLocal8Bit(argv[1]) + QLatin1Char('/');
    bool ok = save(scenery(836, 194, 0.0), out + QStringLiteral("default.png"), "PNG");
    for (int k = 1; k <= 10; ++k)
        ok &= save(scenery(68, 43, k * 0.09), out + QStringLiteral("preset%1.jpg").arg(k), "JPG");
    ok &= save(scenery(800, 650, 0.93), out + QStringLiteral("preset11.jpg"), "JPG");
    ok &= save(scenery(1600, 1200, 0.27), out + QStringLiteral("preset12.jpg"), "JPG");
    ok &= save(scenery(1440, 900, 0.61), out + QStringLiteral("board.jpg"), "JPG", 85);

    const auto line = [](QPainter &p, QPointF a, QPointF b) { p.drawLine(a, b); };
    const char *tabs[] = {"home", "software", "source", "module", "tips", "common", "feedback"};
    for (int k = 0; k < 7; ++k) {
        const QImage picture = tile(64, 44, k * 0.02, [k, &line](QPainter &p, QRectF r) {
            switch (k) {
            case 0: // a house
                p.drawPolyline(
                    QPolygonF({r.bottomLeft(), QPointF(r.left(), r.center().y()), QPointF(r.center().x(), r.top()),
                        QPointF(r.right(), r.center().y()), r.bottomRight(), r.bottomLeft()}));
                break;
            case 1: // a download arrow
                line(p, QPointF(r.center().x(), r.top()), QPointF(r.center().x(), r.bottom()));
                p.drawPolyline(QPolygonF({QPointF(r.left() + 3, r.center().y() + 2),
                    QPointF(r.center().x(), r.bottom()), QPointF(r.right() - 3, r.center().y() + 2)}));
                break;
            case 2: // angle brackets
                p.drawPolyline(QPolygonF({QPointF(r.center().x() - 2, r.top()), QPointF(r.left(), r.center().y()),
                    QPointF(r.center().x() - 2, r.bottom())}));
                p.drawPolyline(QPolygonF({QPointF(r.center().x() + 2, r.top()), QPointF(r.right(), r.center().y()),
                    QPointF(r.center().x() + 2, r.bottom())}));
                break;
            case 3: // a puzzle block
                p.drawRoundedRect(r.adjusted(2, 2, -2, -2), 2, 2);
                p.drawEllipse(QPointF(r.center().x(), r.top() + 1), 3, 3);
                break;
            case 4: // a page of text
                p.drawRect(r.adjusted(3, 0, -3, 0));
                for (int i = 1; i <= 3; ++i)
                    line(p, QPointF(r.left() + 6, r.top() + i * r.height() / 4),
                        QPointF(r.right() - 6, r.top() + i * r.height() / 4));
                break;
            case 5: // a star
                p.drawPolygon(QPolygonF({QPointF(r.center().x(), r.top()), QPointF(r.right(), r.bottom()),
                    QPointF(r.left(), r.center().y() - 2), QPointF(r.right(), r.center().y() - 2),
                    QPointF(r.left(), r.bottom())}));
                break;
            default: // a speech bubble
                p.drawRoundedRect(r.adjusted(0, 0, 0, -5), 4, 4);
                line(p, QPointF(r.left() + 5, r.bottom() - 5), QPointF(r.left() + 3, r.bottom()));
            }
        });
        ok &= save(picture, out + QStringLiteral("tab-%1.png").arg(QString::fromLatin1(tabs[k])), "PNG");
    }
    const char *buttons[] = {"close", "maximise", "minimise", "menu", "skin"};
    for (int k = 0; k < 5; ++k) {
        const QImage picture = tile(k == 0 ? 39 : 28, 20, 0.0, [k, &line](QPainter &p, QRectF r) {
            const QRectF s(r.center().x() - 4, r.center().y() - 4, 8, 8);
            if (k == 0) {
                line(p, s.topLeft(), s.bottomRight());
                line(p, s.topRight(), s.bottomLeft());
            } else if (k == 1) {
                p.drawRect(s);
            } else if (k == 2) {
                line(p, s.bottomLeft(), s.bottomRight());
            } else if (k == 3) {
                for (int i = 0; i < 3; ++i)
                    line(p, QPointF(s.left(), s.top() + i * 4), QPointF(s.right(), s.top() + i * 4));
            } else {
                p.drawPolyline(QPolygonF({s.topLeft(), QPointF(s.center().x(), s.top() + 2), s.topRight(),
                    s.bottomRight(), s.bottomLeft(), s.topLeft()}));
            }
        });
        ok &= save(picture, out + QStringLiteral("button-%1.png").arg(QString::fromLatin1(buttons[k])), "PNG");
    }
    writeMusic(out + QStringLiteral("windows.wav"));
    return ok ? 0 : 1;
}
