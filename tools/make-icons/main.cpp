// Draws every icon and picture the program shows and writes them into one folder (the build tree), from where the
// resources library embeds them as ":/res/<name>". One palette and one stroke weight for all of them: filled flat
// shapes, 2 px lines at 32 px, an orange accent for movement (arrows) and small white-ringed badges at the
// bottom right for a second meaning (add, back up, folder).
//
// Usage: make-icons <output folder>

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

#include <cmath>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

namespace pal {
const QColor blue(0x3A, 0x78, 0xD4);
const QColor blueDark(0x2A, 0x5B, 0xA6);
const QColor blueLight(0x8F, 0xB4, 0xEA);
const QColor bluePale(0xDC, 0xE7, 0xF7);
const QColor green(0x34, 0xA8, 0x5F);
const QColor greenDark(0x23, 0x7F, 0x45);
const QColor greenPale(0xDD, 0xF3, 0xE5);
const QColor slate(0x3D, 0x48, 0x5A);
const QColor slateMid(0x6B, 0x77, 0x8C);
const QColor slatePale(0xDD, 0xE5, 0xF0);
const QColor orange(0xF0, 0x8A, 0x24);
const QColor red(0xE0, 0x52, 0x4A);
const QColor redDark(0xB8, 0x3A, 0x34);
const QColor yellow(0xF4, 0xB6, 0x3F);
const QColor yellowDark(0xD9, 0x94, 0x23);
const QColor purple(0x8A, 0x5C, 0xD0);
const QColor paper(0xFF, 0xFF, 0xFF);
const QColor line(0x8C, 0x99, 0xAD);
const QColor silhouette(0xA9, 0xB9, 0xD0);
const QColor silhouetteBack(0xE4, 0xEB, 0xF5);
} // namespace pal

enum class Device { Android, IPhone, Generic };

QImage canvas(int width, int height, const QColor &fill = Qt::transparent)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    return image;
}

void begin(QPainter &p)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
}

// Erases what a drawing covers, so that a shape in front is set off from the one behind by a transparent gap
// whatever the background the icon lands on.
void knockout(QPainter &p, const std::function<void()> &draw)
{
    p.save();
    p.setCompositionMode(QPainter::CompositionMode_DestinationOut);
    draw();
    p.restore();
}

QFont uiFont(qreal pixelSize, bool bold = false)
{
    QFont font(u"DejaVu Sans"_s);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(qRound(pixelSize));
    font.setBold(bold);
    return font;
}

// ---- Shapes shared by the icons ------------------------------------------------------------------------------

// A smartphone: coloured body, light screen; the platforms differ by colour and by a notch or a camera dot.
void phone(QPainter &p, const QRectF &body, Device kind)
{
    const QColor bodyColor = kind == Device::Android ? pal::green : kind == Device::IPhone ? pal::slate : pal::slateMid;
    const QColor screenColor = kind == Device::Android ? pal::greenPale : pal::slatePale;
    const qreal w = body.width();
    const qreal radius = w * 0.2;
    p.setPen(Qt::NoPen);
    p.setBrush(bodyColor);
    p.drawRoundedRect(body, radius, radius);
    const qreal side = qMax(1.5, w * 0.12);
    const qreal top = qMax(2.5, w * 0.2);
    const QRectF screen = body.adjusted(side, top, -side, -top);
    p.setBrush(screenColor);
    p.drawRoundedRect(screen, radius * 0.35, radius * 0.35);
    p.setBrush(screenColor);
    if (kind == Device::IPhone) {
        // Speaker slot above the screen and a home indicator below it.
        const qreal slot = w * 0.32;
        p.drawRoundedRect(QRectF(body.center().x() - slot / 2, body.top() + top * 0.38, slot, qMax(1.0, top * 0.25)),
                          0.5, 0.5);
        p.drawRoundedRect(QRectF(body.center().x() - slot / 2, body.bottom() - top * 0.62, slot, qMax(1.0, top * 0.25)),
                          0.5, 0.5);
    } else {
        const qreal dot = qMax(1.2, top * 0.32);
        p.drawEllipse(QPointF(body.center().x(), body.top() + top / 2), dot / 2, dot / 2);
    }
}

// A database: a cylinder of stacked disks.
QPainterPath cylinderOutline(const QRectF &r)
{
    const qreal eh = r.height() * 0.28; // ellipse height
    QPainterPath shape;
    shape.moveTo(r.left(), r.top() + eh / 2);
    shape.lineTo(r.left(), r.bottom() - eh / 2);
    shape.arcTo(QRectF(r.left(), r.bottom() - eh, r.width(), eh), 180, 180);
    shape.lineTo(r.right(), r.top() + eh / 2);
    shape.arcTo(QRectF(r.left(), r.top(), r.width(), eh), 0, 180);
    shape.closeSubpath();
    return shape;
}

// Cuts a gap of the given width around a cylinder.
void cylinderGap(QPainter &p, const QRectF &r, qreal gap)
{
    knockout(p, [&] {
        p.setPen(QPen(Qt::black, gap * 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::black);
        p.drawPath(cylinderOutline(r));
    });
}

void cylinder(QPainter &p, const QRectF &r, const QColor &body = pal::blue, const QColor &top = pal::blueLight)
{
    const qreal eh = r.height() * 0.28;
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawPath(cylinderOutline(r));
    // Disk seams: lighter arcs a third and two thirds down.
    QPen seam(top, qMax(1.0, r.width() / 16.0));
    seam.setCapStyle(Qt::FlatCap);
    p.setPen(seam);
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i <= 2; ++i) {
        const qreal y = r.top() + eh / 2 + (r.height() - eh) * i / 3.0;
        p.drawArc(QRectF(r.left(), y - eh / 2, r.width(), eh), 180 * 16, 180 * 16);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(top);
    p.drawEllipse(QRectF(r.left(), r.top(), r.width(), eh));
}

// An arrow from one point to another with a filled head; a gap around it keeps it readable over other shapes.
void arrow(QPainter &p, QPointF from, QPointF to, const QColor &color = pal::orange, qreal width = 2.5,
           bool halo = true)
{
    const QLineF shaft(from, to);
    const qreal head = width * 2.4;
    const QLineF unit = shaft.unitVector();
    const QPointF dir(unit.dx(), unit.dy());
    const QPointF normal(-dir.y(), dir.x());
    const QPointF base = to - dir * head;
    QPolygonF tip({to, base + normal * head * 0.8, base - normal * head * 0.8});
    const auto draw = [&](const QColor &c, qreal grow) {
        QPen pen(c, width + grow * 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(pen);
        p.drawLine(from, base + dir * 0.5);
        p.setPen(grow > 0 ? pen : QPen(c, 0.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(c);
        p.drawPolygon(tip);
    };
    if (halo)
        knockout(p, [&] { draw(Qt::black, 1.5); });
    draw(color, 0);
}

// A person: round head over rounded shoulders, fitted into a square box.
QPainterPath personOutline(const QRectF &box)
{
    const qreal s = box.width();
    QPainterPath shape;
    shape.addEllipse(QPointF(box.center().x(), box.top() + s * 0.3), s * 0.21, s * 0.21);
    QPainterPath shoulders;
    const QRectF torso(box.left() + s * 0.1, box.top() + s * 0.56, s * 0.8, s * 0.72);
    shoulders.moveTo(torso.left(), box.bottom());
    shoulders.lineTo(torso.left(), torso.top() + torso.height() * 0.45);
    shoulders.arcTo(torso, 180, -180);
    shoulders.lineTo(torso.right(), box.bottom());
    shoulders.closeSubpath();
    return shape.united(shoulders);
}

void person(QPainter &p, const QRectF &box, const QColor &color)
{
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPath(personOutline(box));
}

// A sheet of paper with a folded corner and three lines of text.
void document(QPainter &p, const QRectF &r)
{
    const qreal fold = r.width() * 0.35;
    QPainterPath sheet;
    sheet.moveTo(r.left(), r.top());
    sheet.lineTo(r.right() - fold, r.top());
    sheet.lineTo(r.right(), r.top() + fold);
    sheet.lineTo(r.right(), r.bottom());
    sheet.lineTo(r.left(), r.bottom());
    sheet.closeSubpath();
    p.setPen(QPen(pal::slateMid, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(pal::paper);
    p.drawPath(sheet);
    p.setBrush(pal::slatePale);
    p.drawPolygon(QPolygonF({QPointF(r.right() - fold, r.top()), QPointF(r.right() - fold, r.top() + fold),
                             QPointF(r.right(), r.top() + fold)}));
    p.setPen(QPen(pal::blueLight, 1.5, Qt::SolidLine, Qt::RoundCap));
    const qreal x0 = r.left() + r.width() * 0.2;
    const qreal x1 = r.right() - r.width() * 0.2;
    for (int i = 0; i < 3; ++i) {
        const qreal y = r.top() + r.height() * (0.45 + 0.17 * i);
        p.drawLine(QPointF(x0, y), QPointF(i == 2 ? (x0 + x1) / 2 : x1, y));
    }
}

// A round badge at the bottom right of a 32 px icon, set off by a gap; glyph draws inside it.
void badge(QPainter &p, const QColor &fill, const std::function<void(const QPointF &centre, qreal radius)> &glyph,
           QPointF centre = QPointF(24, 24), qreal radius = 7.8)
{
    p.setPen(Qt::NoPen);
    knockout(p, [&] {
        p.setBrush(Qt::black);
        p.drawEllipse(centre, radius + 1.5, radius + 1.5);
    });
    p.setBrush(fill);
    p.drawEllipse(centre, radius, radius);
    glyph(centre, radius);
}

void plusGlyph(QPainter &p, const QPointF &c, qreal r)
{
    p.setPen(QPen(Qt::white, r * 0.32, Qt::SolidLine, Qt::RoundCap));
    const qreal a = r * 0.5;
    p.drawLine(QPointF(c.x() - a, c.y()), QPointF(c.x() + a, c.y()));
    p.drawLine(QPointF(c.x(), c.y() - a), QPointF(c.x(), c.y() + a));
}

void minusGlyph(QPainter &p, const QPointF &c, qreal r)
{
    p.setPen(QPen(Qt::white, r * 0.32, Qt::SolidLine, Qt::RoundCap));
    const qreal a = r * 0.5;
    p.drawLine(QPointF(c.x() - a, c.y()), QPointF(c.x() + a, c.y()));
}

void folder(QPainter &p, const QRectF &r)
{
    p.setPen(Qt::NoPen);
    p.setBrush(pal::yellowDark);
    QPainterPath back;
    back.addRoundedRect(QRectF(r.left(), r.top(), r.width() * 0.45, r.height() * 0.3), 1.5, 1.5);
    back.addRoundedRect(QRectF(r.left(), r.top() + r.height() * 0.14, r.width(), r.height() * 0.86), 2, 2);
    p.drawPath(back.simplified());
    p.setBrush(pal::yellow);
    p.drawRoundedRect(QRectF(r.left(), r.top() + r.height() * 0.3, r.width(), r.height() * 0.7), 2, 2);
}

// ---- The 32 px icons -----------------------------------------------------------------------------------------

using Painter = std::function<void(QPainter &)>;

// Source device on the left, target on the right, an orange arrow across.
Painter transfer(Device from, Device to)
{
    return [from, to](QPainter &p) {
        phone(p, QRectF(2, 5, 12, 21), from);
        phone(p, QRectF(18, 7, 12, 21), to);
        arrow(p, QPointF(7, 17), QPointF(26, 17));
    };
}

Painter restore(Device to)
{
    return [to](QPainter &p) {
        cylinder(p, QRectF(1.5, 7, 14, 19));
        phone(p, QRectF(18, 5, 12, 21), to);
        arrow(p, QPointF(8, 17), QPointF(26, 17));
    };
}

void iconBackup(QPainter &p)
{
    // Contacts going down into a database.
    cylinder(p, QRectF(5, 13, 22, 18));
    arrow(p, QPointF(16, 1), QPointF(16, 15.5), pal::orange, 3);
}

void iconAdd(QPainter &p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(pal::green);
    p.drawEllipse(QPointF(16, 16), 13, 13);
    plusGlyph(p, QPointF(16, 16), 13);
}

void iconRemove(QPainter &p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(pal::red);
    p.drawEllipse(QPointF(16, 16), 13, 13);
    minusGlyph(p, QPointF(16, 16), 13);
}

void iconDelete(QPainter &p)
{
    // A waste bin: lid with handle, tapered body with grooves.
    p.setPen(Qt::NoPen);
    p.setBrush(pal::redDark);
    p.drawRoundedRect(QRectF(12, 3, 8, 4), 1.5, 1.5);
    p.setBrush(pal::red);
    p.drawRoundedRect(QRectF(5, 6, 22, 4), 1.5, 1.5);
    QPainterPath body;
    body.moveTo(7, 11.5);
    body.lineTo(25, 11.5);
    body.lineTo(23.3, 28);
    body.quadTo(23.1, 29.5, 21.6, 29.5);
    body.lineTo(10.4, 29.5);
    body.quadTo(8.9, 29.5, 8.7, 28);
    body.closeSubpath();
    p.drawPath(body);
    p.setPen(QPen(QColor(0xF6, 0xC9, 0xC6), 1.6, Qt::SolidLine, Qt::RoundCap));
    for (qreal x : {12.0, 16.0, 20.0})
        p.drawLine(QPointF(x, 15), QPointF(x, 26));
}

void iconEdit(QPainter &p)
{
    // A pencil from bottom left to top right.
    p.save();
    p.translate(16, 16);
    p.rotate(-45);
    p.setPen(Qt::NoPen);
    p.setBrush(pal::red);
    p.drawRoundedRect(QRectF(9, -4, 5, 8), 1.5, 1.5); // eraser
    p.setBrush(pal::slateMid);
    p.drawRect(QRectF(7, -4, 3, 8)); // ferrule
    p.setBrush(pal::yellow);
    p.drawRect(QRectF(-8, -4, 15.5, 8));
    p.setBrush(pal::yellowDark);
    p.drawRect(QRectF(-8, 0.5, 15.5, 3.5));
    p.setBrush(QColor(0xF3, 0xD9, 0xB1)); // bare wood
    p.drawPolygon(QPolygonF({QPointF(-8, -4), QPointF(-8, 4), QPointF(-15, 0)}));
    p.setBrush(pal::slate); // graphite
    p.drawPolygon(QPolygonF({QPointF(-12.2, -1.6), QPointF(-12.2, 1.6), QPointF(-15, 0)}));
    p.restore();
    p.setPen(QPen(pal::blueLight, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(14, 28.5), QPointF(29, 28.5));
}

void iconExit(QPainter &p)
{
    // A door frame left through its open side by an arrow.
    p.setPen(QPen(pal::slate, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath frame;
    frame.moveTo(18, 10);
    frame.lineTo(18, 6);
    frame.quadTo(18, 4, 16, 4);
    frame.lineTo(6, 4);
    frame.quadTo(4, 4, 4, 6);
    frame.lineTo(4, 26);
    frame.quadTo(4, 28, 6, 28);
    frame.lineTo(16, 28);
    frame.quadTo(18, 28, 18, 26);
    frame.lineTo(18, 22);
    p.drawPath(frame);
    p.setPen(Qt::NoPen);
    p.setBrush(pal::slatePale);
    p.drawRoundedRect(QRectF(6.5, 6.5, 9, 19), 1, 1);
    arrow(p, QPointF(11, 16), QPointF(29.5, 16), pal::orange, 3, false);
}

// Export: a document sending an arrow out; import: an arrow coming into a document.
void iconExport(QPainter &p)
{
    document(p, QRectF(3, 3, 17, 24));
    arrow(p, QPointF(14, 21), QPointF(29.5, 21));
}

void iconImport(QPainter &p)
{
    document(p, QRectF(12, 3, 17, 24));
    arrow(p, QPointF(2, 21), QPointF(19, 21));
}

void iconFromBackupOfMusicPlayer(QPainter &p)
{
    // A disc with a music note: the computer's media-library backups.
    p.setPen(Qt::NoPen);
    p.setBrush(pal::purple);
    p.drawEllipse(QPointF(14, 14), 12.5, 12.5);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(11.5, 18.5), 3.2, 2.6);
    p.drawEllipse(QPointF(18.5, 16.5), 3.2, 2.6);
    p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({QPointF(14, 18.5), QPointF(14, 7.5), QPointF(21, 6), QPointF(21, 16.5)}));
    badge(p, pal::orange, [&p](const QPointF &c, qreal r) {
        arrow(p, QPointF(c.x(), c.y() - r * 0.55), QPointF(c.x(), c.y() + r * 0.6), Qt::white, 1.8, false);
    });
}

void iconGroup(QPainter &p)
{
    person(p, QRectF(12, 3, 19, 19), pal::blueLight);
    const QRectF front(2, 8, 20, 23);
    knockout(p, [&] {
        p.setPen(QPen(Qt::black, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::black);
        p.drawPath(personOutline(front));
    });
    person(p, front, pal::blue);
}

void iconHelp(QPainter &p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(pal::blue);
    p.drawEllipse(QPointF(16, 16), 13.5, 13.5);
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath q;
    q.moveTo(11.5, 12.5);
    q.cubicTo(11.5, 6.5, 20.5, 6.5, 20.5, 12);
    q.cubicTo(20.5, 15.5, 16, 15.5, 16, 19);
    p.drawPath(q);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16, 23.8), 2, 2);
}

void iconAndroid(QPainter &p)
{
    phone(p, QRectF(7, 2, 18, 28), Device::Android);
    // A small robot head on the screen.
    p.setPen(Qt::NoPen);
    p.setBrush(pal::green);
    p.drawChord(QRectF(11, 12, 10, 10), 0, 180 * 16);
    p.setPen(QPen(pal::green, 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(13.2, 13.2), QPointF(12, 11));
    p.drawLine(QPointF(18.8, 13.2), QPointF(20, 11));
    p.setPen(Qt::NoPen);
    p.setBrush(pal::greenPale);
    p.drawEllipse(QPointF(14.2, 15), 0.9, 0.9);
    p.drawEllipse(QPointF(17.8, 15), 0.9, 0.9);
    p.setBrush(pal::green);
    p.drawRoundedRect(QRectF(11, 18, 10, 6), 1.5, 1.5);
}

void iconIPhone(QPainter &p)
{
    phone(p, QRectF(7, 2, 18, 28), Device::IPhone);
    // App tiles on the screen.
    p.setPen(Qt::NoPen);
    const QColor tiles[] = {pal::blue, pal::green, pal::orange, pal::blueLight, pal::red, pal::purple};
    for (int i = 0; i < 6; ++i) {
        p.setBrush(tiles[i]);
        p.drawRoundedRect(QRectF(11 + (i % 2) * 5.5, 9 + (i / 2) * 5, 4, 4), 1, 1);
    }
}

void iconDatabase(QPainter &p)
{
    cylinder(p, QRectF(5, 2, 22, 28));
}

void iconDatabases(QPainter &p)
{
    cylinder(p, QRectF(11, 1, 19, 24), pal::blueDark, pal::blue);
    const QRectF front(2, 7, 19, 24);
    cylinderGap(p, front, 1.5);
    cylinder(p, front);
}

void iconDevices(QPainter &p)
{
    // A tablet behind a phone.
    p.setPen(Qt::NoPen);
    p.setBrush(pal::slate);
    p.drawRoundedRect(QRectF(2, 3, 22, 26), 3, 3);
    p.setBrush(pal::slatePale);
    p.drawRoundedRect(QRectF(4.5, 5.5, 17, 21), 1, 1);
    const QRectF front(17, 11.5, 12.5, 19);
    knockout(p, [&] {
        p.setBrush(Qt::black);
        p.drawRoundedRect(front.adjusted(-1.5, -1.5, 1.5, 1.5), 4, 4);
    });
    phone(p, front, Device::Android);
}

void iconNewContact(QPainter &p)
{
    person(p, QRectF(2, 2, 24, 27), pal::blue);
    badge(p, pal::green, [&p](const QPointF &c, qreal r) { plusGlyph(p, c, r); });
}

void iconOpenFolder(QPainter &p)
{
    folder(p, QRectF(2, 4, 27, 22));
    const QRectF db(17, 15, 12, 16);
    cylinderGap(p, db, 1.5);
    cylinder(p, db);
}

void iconPrint(QPainter &p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(pal::paper);
    p.setPen(QPen(pal::slateMid, 1.5));
    p.drawRect(QRectF(9, 3, 14, 9)); // paper going in
    p.setPen(Qt::NoPen);
    p.setBrush(pal::slate);
    p.drawRoundedRect(QRectF(3, 10, 26, 13), 3, 3);
    p.setBrush(pal::slateMid);
    p.drawRect(QRectF(7, 19, 18, 3));
    p.setBrush(pal::green);
    p.drawEllipse(QPointF(24.5, 14.5), 1.4, 1.4);
    p.setBrush(pal::paper);
    p.setPen(QPen(pal::slateMid, 1.5));
    p.drawRect(QRectF(9, 19, 14, 10)); // printed sheet
    p.setPen(QPen(pal::blueLight, 1.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(12, 23), QPointF(20, 23));
    p.drawLine(QPointF(12, 26), QPointF(17, 26));
}

void iconUnmount(QPainter &p)
{
    // Eject: a triangle over a bar, on a slate disc.
    p.setPen(Qt::NoPen);
    p.setBrush(pal::slateMid);
    p.drawEllipse(QPointF(16, 16), 13.5, 13.5);
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygonF({QPointF(16, 8), QPointF(23.5, 16.5), QPointF(8.5, 16.5)}));
    p.drawRoundedRect(QRectF(8.5, 19.5, 15, 3.2), 1, 1);
}

void iconSearch(QPainter &p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(pal::bluePale);
    p.drawEllipse(QPointF(13, 13), 8.5, 8.5);
    p.setPen(QPen(pal::slate, 2.6));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(13, 13), 8.5, 8.5);
    p.setPen(QPen(pal::slate, 4.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(20, 20), QPointF(27.5, 27.5));
    p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(8, 8, 10, 10), 100 * 16, 70 * 16);
}

// The drop-down arrow of combo boxes in the style sheet: a small chevron.
QImage chevronDown()
{
    QImage image = canvas(12, 12);
    QPainter p(&image);
    begin(p);
    p.setPen(QPen(pal::slateMid, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(2.5, 4.5), QPointF(6, 8), QPointF(9.5, 4.5)}));
    return image;
}

// ---- Larger pictures -----------------------------------------------------------------------------------------

// The picture of a contact without a photo: a silhouette on a pale square.
QImage emptyContact()
{
    QImage image = canvas(128, 128, pal::silhouetteBack);
    QPainter p(&image);
    begin(p);
    p.setPen(Qt::NoPen);
    p.setBrush(pal::silhouette);
    p.drawEllipse(QPointF(64, 50), 23, 23);
    QPainterPath body;
    body.moveTo(18, 128);
    body.cubicTo(18, 96, 36, 82, 64, 82);
    body.cubicTo(92, 82, 110, 96, 110, 128);
    body.closeSubpath();
    p.drawPath(body);
    return image;
}

// The application icon: a contact card travelling along an orange arc, on a blue tile.
QImage appIcon(int size)
{
    QImage image = canvas(size, size);
    QPainter p(&image);
    begin(p);
    p.scale(size / 256.0, size / 256.0);
    p.setPen(Qt::NoPen);
    p.setBrush(pal::blue);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 52, 52);
    // The card left behind, faded.
    p.setBrush(QColor(255, 255, 255, 90));
    p.drawRoundedRect(QRectF(34, 54, 104, 136), 14, 14);
    // The card arriving.
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(106, 74, 118, 150), 16, 16);
    person(p, QRectF(131, 88, 68, 68), pal::blueLight);
    p.setPen(QPen(pal::bluePale, 9, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(130, 180), QPointF(200, 180));
    p.drawLine(QPointF(130, 200), QPointF(176, 200));
    // The move.
    QPainterPath arc;
    arc.moveTo(62, 116);
    arc.cubicTo(62, 58, 120, 34, 170, 48);
    p.setPen(QPen(pal::orange, 16, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(arc);
    p.setPen(Qt::NoPen);
    p.setBrush(pal::orange);
    p.drawPolygon(QPolygonF({QPointF(198, 60), QPointF(160, 80), QPointF(168, 26)}));
    return image;
}

// A phone outline large enough to show a screen.
QRectF bigPhone(QPainter &p, const QRectF &body, const QColor &bodyColor, const QColor &screenColor)
{
    p.setPen(Qt::NoPen);
    p.setBrush(bodyColor);
    p.drawRoundedRect(body, 14, 14);
    const QRectF screen = body.adjusted(5, 14, -5, -14);
    p.setBrush(screenColor);
    p.drawRoundedRect(screen, 4, 4);
    return screen;
}

void stepNumber(QPainter &p, const QPointF &centre, int n)
{
    p.setPen(Qt::NoPen);
    p.setBrush(pal::orange);
    p.drawEllipse(centre, 11, 11);
    p.setPen(Qt::white);
    p.setFont(uiFont(14, true));
    p.drawText(QRectF(centre.x() - 11, centre.y() - 11, 22, 22), Qt::AlignCenter, QString::number(n));
}

void highlight(QPainter &p, const QRectF &r, qreal radius)
{
    p.setPen(QPen(pal::orange, 2.5));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(r, radius, radius);
}

void toggle(QPainter &p, const QPointF &topLeft, bool on)
{
    const QRectF track(topLeft, QSizeF(20, 11));
    p.setPen(Qt::NoPen);
    p.setBrush(on ? pal::green : QColor(0xC9, 0xD0, 0xDB));
    p.drawRoundedRect(track, 5.5, 5.5);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(on ? track.right() - 5.5 : track.left() + 5.5, track.center().y()), 4.3, 4.3);
}

// Two steps on the iPhone: trust the computer, and turn contacts sync off in the settings.
QImage iPhoneSettingsHint()
{
    QImage image = canvas(320, 200, Qt::white);
    QPainter p(&image);
    begin(p);

    // Step 1: the trust question.
    QRectF s = bigPhone(p, QRectF(44, 6, 100, 188), pal::slate, pal::slatePale);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 40));
    p.drawRect(s);
    const QRectF alert(s.left() + 6, s.top() + 44, s.width() - 12, 78);
    p.setBrush(Qt::white);
    p.drawRoundedRect(alert, 8, 8);
    p.setPen(pal::slate);
    p.setFont(uiFont(10, true));
    p.drawText(QRectF(alert.left(), alert.top() + 6, alert.width(), 28), Qt::AlignCenter | Qt::TextWordWrap,
               u"Trust This\nComputer?"_s);
    p.setPen(QPen(pal::slatePale, 1));
    p.drawLine(QPointF(alert.left(), alert.top() + 40), QPointF(alert.right(), alert.top() + 40));
    p.drawLine(QPointF(alert.left(), alert.top() + 59), QPointF(alert.right(), alert.top() + 59));
    p.setFont(uiFont(10, true));
    p.setPen(pal::blue);
    const QRectF trust(alert.left(), alert.top() + 41, alert.width(), 18);
    p.drawText(trust, Qt::AlignCenter, u"Trust"_s);
    p.setFont(uiFont(10));
    p.drawText(QRectF(alert.left(), alert.top() + 60, alert.width(), 18), Qt::AlignCenter, u"Don't Trust"_s);
    highlight(p, trust.adjusted(10, 0, -10, 0), 6);
    stepNumber(p, QPointF(30, 26), 1);

    // Step 2: contacts sync off.
    s = bigPhone(p, QRectF(188, 6, 100, 188), pal::slate, Qt::white);
    p.setPen(pal::slate);
    p.setFont(uiFont(10, true));
    p.drawText(QRectF(s.left(), s.top() + 4, s.width(), 16), Qt::AlignCenter, u"iCloud"_s);
    const QColor tiles[] = {pal::blue, pal::green, pal::orange, pal::red, pal::purple};
    for (int i = 0; i < 5; ++i) {
        const qreal y = s.top() + 26 + i * 25;
        p.setPen(Qt::NoPen);
        p.setBrush(tiles[i]);
        p.drawRoundedRect(QRectF(s.left() + 5, y, 11, 11), 2.5, 2.5);
        if (i == 1) {
            p.setPen(pal::slate);
            p.setFont(uiFont(9));
            p.drawText(QRectF(s.left() + 19, y - 3, 44, 17), Qt::AlignVCenter | Qt::AlignLeft, u"Contacts"_s);
        } else {
            p.setBrush(pal::slatePale);
            p.drawRoundedRect(QRectF(s.left() + 20, y + 3, 26 + (i * 7) % 14, 5), 2.5, 2.5);
        }
        toggle(p, QPointF(s.right() - 25, y), i != 1);
        p.setPen(QPen(pal::slatePale, 1));
        p.drawLine(QPointF(s.left() + 19, y + 17), QPointF(s.right(), y + 17));
    }
    highlight(p, QRectF(s.left() + 2, s.top() + 47, s.width() - 4, 17), 5);
    stepNumber(p, QPointF(174, 26), 2);
    return image;
}

// A computer joined by a USB cable to a phone that asks whether to allow USB debugging.
QImage allowDebuggingHint()
{
    QImage image = canvas(320, 200, Qt::white);
    QPainter p(&image);
    begin(p);

    // Laptop.
    p.setPen(Qt::NoPen);
    p.setBrush(pal::slate);
    p.drawRoundedRect(QRectF(14, 58, 104, 70), 6, 6);
    p.setBrush(pal::bluePale);
    p.drawRect(QRectF(20, 64, 92, 58));
    p.setBrush(pal::slateMid);
    QPainterPath base;
    base.moveTo(4, 132);
    base.lineTo(128, 132);
    base.lineTo(122, 140);
    base.lineTo(10, 140);
    base.closeSubpath();
    p.drawPath(base);
    p.setBrush(pal::slate);
    p.drawRect(QRectF(6, 128, 120, 5));
    // A contact list on its screen.
    for (int i = 0; i < 4; ++i) {
        p.setBrush(pal::blueLight);
        p.drawEllipse(QPointF(30, 74 + i * 13), 4, 4);
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(38, 71 + i * 13, 40 + (i * 13) % 28, 6), 3, 3);
    }

    // Cable from the laptop's side to the bottom of the phone.
    QPainterPath cable;
    cable.moveTo(126, 124);
    cable.cubicTo(160, 124, 150, 196, 205, 194);
    cable.cubicTo(226, 194, 226, 192, 226, 190);
    p.setPen(QPen(pal::slateMid, 3.5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(cable);

    // Phone with the question.
    const QRectF s = bigPhone(p, QRectF(172, 4, 108, 186), pal::greenDark, pal::greenPale);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 35));
    p.drawRect(s);
    const QRectF dialog(s.left() + 4, s.top() + 18, s.width() - 8, 124);
    p.setBrush(Qt::white);
    p.drawRoundedRect(dialog, 6, 6);
    p.setPen(pal::slate);
    p.setFont(uiFont(10, true));
    p.drawText(QRectF(dialog.left() + 7, dialog.top() + 6, dialog.width() - 10, 28),
               Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, u"Allow USB\ndebugging?"_s);
    p.setPen(Qt::NoPen);
    p.setBrush(pal::slatePale);
    p.drawRoundedRect(QRectF(dialog.left() + 7, dialog.top() + 38, dialog.width() - 18, 5), 2.5, 2.5);
    p.drawRoundedRect(QRectF(dialog.left() + 7, dialog.top() + 47, dialog.width() - 36, 5), 2.5, 2.5);
    // Checked box: always allow.
    const QRectF box(dialog.left() + 7, dialog.top() + 60, 11, 11);
    p.setBrush(pal::green);
    p.drawRoundedRect(box, 2, 2);
    p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF(
        {box.topLeft() + QPointF(2.5, 5.8), box.topLeft() + QPointF(4.6, 8), box.topLeft() + QPointF(8.6, 3)}));
    p.setPen(pal::slate);
    p.setFont(uiFont(8));
    p.drawText(QRectF(box.right() + 4, box.top() - 1, dialog.width() - 28, 36), Qt::AlignLeft | Qt::TextWordWrap,
               u"Always allow from this computer"_s);
    highlight(p, QRectF(box.left() - 3, box.top() - 4, dialog.width() - 8, 36), 4);
    // Buttons.
    p.setFont(uiFont(9, true));
    p.setPen(pal::greenDark);
    p.drawText(QRectF(dialog.left() + 6, dialog.bottom() - 22, 44, 18), Qt::AlignCenter, u"Cancel"_s);
    const QRectF ok(dialog.right() - 40, dialog.bottom() - 22, 34, 18);
    p.drawText(ok, Qt::AlignCenter, u"OK"_s);
    highlight(p, ok, 5);
    return image;
}

bool write(const QImage &image, const QDir &dir, const QString &name, QTextStream &err)
{
    const QString path = dir.filePath(name);
    const bool jpeg = name.endsWith(u".jpg"_s);
    if (!image.save(path, jpeg ? "JPEG" : "PNG", jpeg ? 92 : -1)) {
        err << "make-icons: cannot write " << path << Qt::endl;
        return false;
    }
    return true;
}

QImage icon32(const Painter &draw)
{
    QImage image = canvas(32, 32);
    QPainter p(&image);
    begin(p);
    draw(p);
    return image;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc != 2) {
        err << "usage: make-icons <output folder>" << Qt::endl;
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(u"."_s)) {
        err << "make-icons: cannot create " << dir.path() << Qt::endl;
        return 1;
    }

    const std::pair<const char *, Painter> icons[] = {
        {"a2a", transfer(Device::Android, Device::Android)},
        {"a2i", transfer(Device::Android, Device::IPhone)},
        {"i2a", transfer(Device::IPhone, Device::Android)},
        {"i2i", transfer(Device::IPhone, Device::IPhone)},
        {"db2a", restore(Device::Android)},
        {"db2i", restore(Device::IPhone)},
        {"add", iconAdd},
        {"backup", iconBackup},
        {"del", iconDelete},
        {"edit", iconEdit},
        {"exit", iconExit},
        {"export", iconExport},
        {"from_itunes", iconFromBackupOfMusicPlayer},
        {"group", iconGroup},
        {"help", iconHelp},
        {"icon_android", iconAndroid},
        {"icon_database", iconDatabase},
        {"icon_databases", iconDatabases},
        {"icon_devices", iconDevices},
        {"import", iconImport},
        {"iphone", iconIPhone},
        {"new_ct", iconNewContact},
        {"open_db_folder", iconOpenFolder},
        {"print", iconPrint},
        {"remove", iconRemove},
        {"unmount", iconUnmount},
        {"search", iconSearch},
    };
    bool ok = true;
    for (const auto &[name, draw] : icons)
        ok &= write(icon32(draw), dir, QString::fromLatin1(name) + u".png"_s, err);
    ok &= write(emptyContact(), dir, u"empty_contact.png"_s, err);
    ok &= write(chevronDown(), dir, u"arrow_down.png"_s, err);
    ok &= write(appIcon(256), dir, u"app.png"_s, err);
    ok &= write(iPhoneSettingsHint(), dir, u"iphone_setting1.jpg"_s, err);
    ok &= write(allowDebuggingHint(), dir, u"trust-android.png"_s, err);
    return ok ? 0 : 1;
}
