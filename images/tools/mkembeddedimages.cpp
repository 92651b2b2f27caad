// Draws the built-in pictures and writes them, compressed, as the source file of the image
// table. Run by hand when a picture changes: mkembeddedimages images/EmbeddedImageData.cpp
// The output depends only on this program, Qt's rasteriser and zlib: two runs give the same bytes.
#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>
#include <QString>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

const QColor outline(40, 40, 40);
const QColor paper(250, 250, 250);
const QColor arrowBlue(30, 80, 200);

// Icons are drawn without antialiasing, so every pixel is either untouched (alpha 0) or opaque.
QImage icon(int w, int h, const std::function<void(QPainter&)>& draw)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    draw(p);
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

void page(QPainter& p, const QRect& r)
{
    p.setPen(outline);
    p.setBrush(paper);
    p.drawRect(r.adjusted(0, 0, -1, -1));
    p.setPen(QColor(120, 120, 120));
    for (int y = r.top() + 3; y < r.bottom() - 1; y += 2)
        p.drawLine(r.left() + 2, y, r.right() - 2, y);
}

void curvedArrow(QPainter& p)
{
    // Bends from the lower left over the top and ends in a head pointing down at the right.
    p.setPen(QPen(arrowBlue, 3, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRect(3, 5, 14, 14), 180 * 16, -180 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(arrowBlue);
    p.drawPolygon(QPolygon({QPoint(13, 11), QPoint(21, 11), QPoint(17, 17)}));
    p.drawRect(2, 12, 3, 6);
}

QImage editcopy()
{
    return icon(22, 22, [](QPainter& p) {
        page(p, QRect(2, 1, 11, 14));
        page(p, QRect(8, 7, 12, 14));
    });
}

QImage editcut()
{
    return icon(22, 22, [](QPainter& p) {
        p.setPen(QPen(QColor(90, 90, 100), 2));
        p.drawLine(6, 1, 13, 14);
        p.drawLine(15, 1, 8, 14);
        p.setPen(QPen(QColor(180, 20, 20), 2));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRect(3, 14, 5, 5));
        p.drawEllipse(QRect(13, 14, 5, 5));
    });
}

QImage editpaste()
{
    return icon(22, 22, [](QPainter& p) {
        p.setPen(outline);
        p.setBrush(QColor(170, 120, 60));
        p.drawRect(2, 3, 14, 17);
        p.setBrush(QColor(190, 190, 200));
        p.drawRect(6, 1, 6, 4);
        page(p, QRect(9, 8, 11, 13));
    });
}

QImage filenew()
{
    return icon(22, 22, [](QPainter& p) {
        p.setPen(outline);
        p.setBrush(paper);
        p.drawPolygon(QPolygon({QPoint(4, 1), QPoint(13, 1), QPoint(18, 6), QPoint(18, 20), QPoint(4, 20)}));
        p.setBrush(QColor(200, 200, 200));
        p.drawPolygon(QPolygon({QPoint(13, 1), QPoint(13, 6), QPoint(18, 6)}));
    });
}

QImage fileopen()
{
    return icon(22, 22, [](QPainter& p) {
        p.setPen(outline);
        p.setBrush(QColor(200, 160, 50));
        p.drawPolygon(QPolygon({QPoint(1, 8), QPoint(6, 8), QPoint(8, 10), QPoint(17, 10), QPoint(17, 20), QPoint(1, 20)}));
        p.setBrush(QColor(240, 200, 80));
        p.drawPolygon(QPolygon({QPoint(4, 13), QPoint(21, 13), QPoint(17, 20), QPoint(1, 20)}));
        // Arrow out of the folder, up and to the right.
        p.setPen(QPen(QColor(30, 150, 40), 2));
        p.drawLine(10, 8, 16, 3);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 150, 40));
        p.drawPolygon(QPolygon({QPoint(13, 1), QPoint(20, 0), QPoint(19, 7)}));
    });
}

QImage filesave()
{
    return icon(22, 22, [](QPainter& p) {
        p.setPen(outline);
        p.setBrush(QColor(40, 60, 140));
        p.drawPolygon(QPolygon({QPoint(1, 1), QPoint(18, 1), QPoint(20, 3), QPoint(20, 20), QPoint(1, 20)}));
        p.setBrush(QColor(200, 200, 210));
        p.drawRect(5, 1, 10, 6);
        p.setBrush(QColor(40, 60, 140));
        p.drawRect(11, 2, 2, 4);
        p.setBrush(paper);
        p.drawRect(4, 11, 13, 9);
    });
}

QImage print()
{
    return icon(22, 22, [](QPainter& p) {
        p.setPen(outline);
        p.setBrush(paper);
        p.drawRect(5, 1, 11, 8);
        p.setBrush(QColor(150, 150, 160));
        p.drawRect(1, 8, 19, 9);
        p.setBrush(paper);
        p.drawRect(5, 14, 11, 7);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(40, 200, 60));
        p.drawRect(16, 10, 2, 2);
    });
}

QImage redo()
{
    return icon(22, 22, curvedArrow);
}

QImage undo()
{
    return redo().mirrored(true, false);
}

QImage searchfind()
{
    return icon(22, 22, [](QPainter& p) {
        // Question mark: a hook and a dot.
        p.setPen(QPen(QColor(200, 30, 30), 2, Qt::SolidLine, Qt::FlatCap));
        p.setBrush(Qt::NoBrush);
        QPainterPath hook;
        hook.moveTo(5, 5);
        hook.arcTo(QRectF(5, 1, 8, 8), 180, -270);
        hook.lineTo(9, 11);
        p.drawPath(hook);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(200, 30, 30));
        p.drawRect(8, 13, 2, 2);
        // Lens over it, then the handle.
        p.setPen(QPen(outline, 2));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRect(2, 0, 14, 16));
        p.setPen(QPen(QColor(110, 70, 30), 3, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(14, 14, 20, 20);
    });
}

QImage up()
{
    return icon(13, 19, [](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(10, 30, 110));
        p.drawPolygon(QPolygon({QPoint(6, 0), QPoint(12, 7), QPoint(0, 7)}));
        p.drawRect(4, 7, 5, 12);
    });
}

QImage backdrop()
{
    QImage image(640, 480, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(QPointF(0, 479), QPointF(639, 0));
    g.setColorAt(0, QColor(190, 200, 215));
    g.setColorAt(1, QColor(55, 65, 85));
    p.fillRect(image.rect(), g);
    p.end();
    return image;
}

struct Entry
{
    const char* name;
    QImage image;
    bool alpha;
};

// Pixels as the table stores them: rows from the top, bytes blue, green, red, alpha.
QByteArray pixelBytes(const QImage& image)
{
    QByteArray out;
    out.reserve(image.width() * image.height() * 4);
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            out.append(char(qBlue(line[x])));
            out.append(char(qGreen(line[x])));
            out.append(char(qRed(line[x])));
            out.append(char(qAlpha(line[x])));
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.cpp\n", argv[0]);
        return 2;
    }
    const std::vector<Entry> entries = {
        {"editcopy", editcopy(), true},
        {"editcut", editcut(), true},
        {"editpaste", editpaste(), true},
        {"filenew", filenew(), true},
        {"fileopen", fileopen(), true},
        {"filesave", filesave(), true},
        {"print", print(), true},
        {"redo", redo(), true},
        {"searchfind", searchfind(), true},
        {"undo", undo(), true},
        {"Up.png", up(), true},
        {"backdrop.jpg", backdrop(), false},
    };

    QByteArray src = "// Generated by images/tools/mkembeddedimages. Do not edit.\n"
                     "#include \"EmbeddedImages.h\"\n\nnamespace {\n\n";
    QByteArray table = "const EmbeddedImage embeddedImageTable[] = {\n";
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        const QByteArray packed = qCompress(pixelBytes(e.image), 9);
        src += "const unsigned char image" + QByteArray::number(qulonglong(i)) + "[] = {";
        for (int k = 0; k < packed.size(); ++k) {
            src += (k % 16 == 0) ? "\n    " : " ";
            src += "0x" + QByteArray::number(uchar(packed[k]), 16).rightJustified(2, '0') + ',';
        }
        src += "\n};\n\n";
        table += QStringLiteral("    {%1, %2, 32, image%3, %4, 0, nullptr, %5, \"%6\"},\n")
                     .arg(e.image.width())
                     .arg(e.image.height())
                     .arg(i)
                     .arg(packed.size())
                     .arg(e.alpha ? "true" : "false", QString::fromUtf8(e.name))
                     .toUtf8();
    }
    table += "    {0, 0, 0, nullptr, 0, 0, nullptr, false, nullptr},\n};\n";
    src += "} // namespace\n\n" + table;

    QFile out(QString::fromLocal8Bit(argv[1]));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(src) != src.size()) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
