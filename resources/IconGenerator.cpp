// Draws one of the toolbar button's icons and writes it as an icns file with PNG payloads.
// Each icon shows a terminal prompt in front of a scene of the system family it belongs to:
// a snowflake (snow), mountain peaks (liomount), a breaking wave (mav), a granite dome
// (yose), desert dunes at dusk (moj).
#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// Everything is drawn on a 512-unit square and scaled to the size asked for.
constexpr double kCanvas = 512;

void fillBackground(QPainter& painter, const QColor& top, const QColor& bottom) {
    QLinearGradient gradient(0, 0, 0, kCanvas);
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    QPainterPath tile;
    tile.addRoundedRect(QRectF(16, 16, kCanvas - 32, kCanvas - 32), 96, 96);
    painter.setClipPath(tile);
    painter.fillPath(tile, gradient);
}

void drawSnowflake(QPainter& painter) {
    fillBackground(painter, QColor(0x0b, 0x1f, 0x4d), QColor(0x3a, 0x6e, 0xa5));
    painter.setPen(QPen(Qt::white, 22, Qt::SolidLine, Qt::RoundCap));
    const QPointF centre(256, 200);
    for (int arm = 0; arm < 6; ++arm) {
        painter.save();
        painter.translate(centre);
        painter.rotate(arm * 60.0);
        painter.drawLine(QPointF(0, 0), QPointF(0, -140));
        for (double along : {60.0, 105.0}) {
            painter.drawLine(QPointF(0, -along), QPointF(-38, -along - 38));
            painter.drawLine(QPointF(0, -along), QPointF(38, -along - 38));
        }
        painter.restore();
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 200));
    for (QPointF flake : {QPointF(80, 90), QPointF(430, 120), QPointF(420, 320), QPointF(70, 300),
                          QPointF(360, 420)}) {
        painter.drawEllipse(flake, 12, 12);
    }
}

void drawMountains(QPainter& painter) {
    fillBackground(painter, QColor(0xf6, 0x8b, 0x3d), QColor(0xfb, 0xd3, 0x8d));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xff, 0xf3, 0xc4));
    painter.drawEllipse(QPointF(390, 120), 58, 58);
    painter.setBrush(QColor(0x5b, 0x3a, 0x5e));
    painter.drawPolygon(QPolygonF({QPointF(-10, 470), QPointF(180, 130), QPointF(370, 470)}));
    painter.setBrush(QColor(0x7a, 0x4f, 0x73));
    painter.drawPolygon(QPolygonF({QPointF(200, 470), QPointF(360, 210), QPointF(530, 470)}));
    painter.setBrush(Qt::white);
    painter.drawPolygon(QPolygonF({QPointF(180, 130), QPointF(228, 216), QPointF(200, 200),
                                   QPointF(180, 222), QPointF(158, 198), QPointF(132, 216)}));
    painter.drawPolygon(QPolygonF({QPointF(360, 210), QPointF(396, 268), QPointF(372, 256),
                                   QPointF(352, 272), QPointF(324, 268)}));
}

void drawWave(QPainter& painter) {
    fillBackground(painter, QColor(0x00, 0x4e, 0x64), QColor(0x00, 0xa5, 0xcf));
    painter.setPen(Qt::NoPen);
    QPainterPath wave;
    wave.moveTo(0, 470);
    wave.cubicTo(60, 330, 150, 120, 300, 100);
    wave.cubicTo(420, 85, 470, 190, 420, 250);
    wave.cubicTo(390, 285, 330, 270, 335, 220);
    wave.cubicTo(340, 185, 380, 190, 380, 215);
    wave.cubicTo(330, 200, 250, 260, 280, 470);
    wave.closeSubpath();
    painter.setBrush(QColor(0xe0, 0xfb, 0xfc));
    painter.drawPath(wave);
    painter.setBrush(QColor(0x25, 0x8e, 0xa6));
    painter.drawPath(QTransform().translate(40, 40).scale(0.85, 0.9).map(wave));
    painter.setBrush(QColor(255, 255, 255, 220));
    for (QPointF foam : {QPointF(300, 80), QPointF(340, 70), QPointF(380, 84), QPointF(440, 160)}) {
        painter.drawEllipse(foam, 10, 10);
    }
}

void drawDome(QPainter& painter) {
    fillBackground(painter, QColor(0x6c, 0xb4, 0xee), QColor(0xd8, 0xec, 0xfa));
    painter.setPen(Qt::NoPen);
    QPainterPath dome;
    dome.moveTo(40, 470);
    dome.cubicTo(60, 300, 170, 120, 330, 110);
    dome.lineTo(340, 470);
    dome.closeSubpath();
    painter.setBrush(QColor(0x8d, 0x8f, 0x94));
    painter.drawPath(dome);
    painter.setBrush(QColor(0x6b, 0x6d, 0x72));
    painter.drawRect(QRectF(318, 110, 22, 360));
    painter.setBrush(QColor(0x1f, 0x6b, 0x3a));
    for (double x : {360.0, 410.0, 460.0}) {
        painter.drawPolygon(
            QPolygonF({QPointF(x, 250), QPointF(x - 34, 470), QPointF(x + 34, 470)}));
    }
}

// A dune: a ridge of two curves across the tile, filled down to the bottom.
void drawDune(QPainter& painter, const QPointF (&ridge)[7], const QColor& colour) {
    QPainterPath path(ridge[0]);
    path.cubicTo(ridge[1], ridge[2], ridge[3]);
    path.cubicTo(ridge[4], ridge[5], ridge[6]);
    path.lineTo(520, 520);
    path.lineTo(0, 520);
    path.closeSubpath();
    painter.setBrush(colour);
    painter.drawPath(path);
}

void drawDunes(QPainter& painter) {
    fillBackground(painter, QColor(0x2b, 0x1b, 0x4f), QColor(0xf0, 0x8a, 0x4b));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xff, 0xe0, 0x8a));
    painter.drawEllipse(QPointF(330, 250), 80, 80);
    painter.setBrush(QColor(255, 255, 255, 210));
    for (QPointF star : {QPointF(90, 80), QPointF(170, 130), QPointF(420, 70), QPointF(300, 60)}) {
        painter.drawEllipse(star, 6, 6);
    }
    const QPointF far[] = {{0, 330},   {120, 250}, {220, 280}, {300, 320},
                           {380, 360}, {450, 300}, {520, 290}};
    drawDune(painter, far, QColor(0xc2, 0x6b, 0x3c));
    const QPointF near[] = {{0, 420},   {100, 360}, {230, 360}, {330, 410},
                            {400, 445}, {460, 420}, {520, 400}};
    drawDune(painter, near, QColor(0x8a, 0x3f, 0x2a));
}

// A small terminal window with a ">_" prompt: what the button opens.
void drawPrompt(QPainter& painter) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x10, 0x12, 0x16, 235));
    painter.drawRoundedRect(QRectF(48, 316, 250, 150), 26, 26);
    painter.setPen(QPen(QColor(0x7c, 0xfc, 0x9a), 20, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(QPolygonF({QPointF(86, 352), QPointF(136, 391), QPointF(86, 430)}));
    painter.drawLine(QPointF(160, 430), QPointF(240, 430));
}

using Scene = void (*)(QPainter&);

Scene sceneOf(const std::string& name) {
    if (name == "snow")
        return drawSnowflake;
    if (name == "liomount")
        return drawMountains;
    if (name == "mav")
        return drawWave;
    if (name == "yose")
        return drawDome;
    if (name == "moj")
        return drawDunes;
    return nullptr;
}

QByteArray png(Scene scene, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / kCanvas, size / kCanvas);
        scene(painter);
        painter.setClipping(false);
        drawPrompt(painter);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void appendBigEndian(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xff));
}

// An icns file: "icns" and the total length, then elements of a four-letter type, their
// length (header included) and the data. "ic08" holds 256 and "ic09" 512 pixels square; both
// take PNG data, which macOS and libicns (icns2png) read alike.
std::string icns(Scene scene) {
    std::string elements;
    for (auto [type, size] : {std::pair{"ic08", 256}, std::pair{"ic09", 512}}) {
        QByteArray data = png(scene, size);
        elements.append(type, 4);
        appendBigEndian(elements, static_cast<std::uint32_t>(data.size() + 8));
        elements.append(data.constData(), static_cast<std::size_t>(data.size()));
    }
    std::string file = "icns";
    appendBigEndian(file, static_cast<std::uint32_t>(elements.size() + 8));
    return file + elements;
}

}  // namespace

int main(int argc, char** argv) {
    Scene scene = argc == 3 ? sceneOf(argv[1]) : nullptr;
    if (!scene) {
        std::fprintf(stderr, "usage: quaymark-icon-generator snow|liomount|mav|yose|moj FILE\n");
        return 2;
    }
    std::filesystem::path target(argv[2]);
    std::error_code error;
    std::filesystem::create_directories(target.parent_path(), error);
    std::string bytes = icns(scene);
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        std::fprintf(stderr, "quaymark-icon-generator: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
