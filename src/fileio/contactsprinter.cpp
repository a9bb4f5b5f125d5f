#include "fileio/contactsprinter.h"

#include "core/texts.h"

#include <QDate>
#include <QDir>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLocale>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include <algorithm>
#include <stdexcept>

using namespace Qt::StringLiterals;
using namespace pim;

namespace {

constexpr int kCardsPerPage = 8;
// The PDF is laid out at screen resolution, as the print preview is.
constexpr int kPdfResolution = 96;

// The photo of a contact (JPEG, else PNG), or the default picture.
QImage cardPicture(const Contact &contact)
{
    const QByteArray bytes = contact.firstRow(ENTITY_PHOTO).value(u"data15"_s).toByteArray();
    QImage image;
    if (!bytes.isEmpty() && !image.loadFromData(bytes, "JPG"))
        image.loadFromData(bytes, "PNG");
    if (image.isNull())
        image.load(u":res/empty_contact.png"_s);
    return image;
}

// The date of the first birthday event, in the system's short form; the text as it stands when it is no
// ISO date ("--02-29"); empty when there is no birthday.
QString birthday(const Contact &contact)
{
    for (const DataRow &event : contact.rows(ENTITY_EVENT)) {
        if (event.text(u"data2"_s).toInt() != 3)
            continue;
        const QString text = event.text(u"data1"_s).trimmed();
        QDate date = QDate::fromString(text, Qt::ISODate);
        if (!date.isValid())
            date = QDate::fromString(text, u"yyyyMMdd"_s);
        return date.isValid() ? QLocale::system().toString(date, QLocale::ShortFormat) : text;
    }
    return {};
}

} // namespace

ContactsPrinter::ContactsPrinter(QList<Contact> contacts) : m_contacts(std::move(contacts))
{
}

void ContactsPrinter::setUpPage(QPagedPaintDevice &device)
{
    device.setPageSize(QPageSize(QPageSize::A4));
    device.setPageOrientation(QPageLayout::Portrait);
    device.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Point);
}

int ContactsPrinter::paint(QPagedPaintDevice &device) const
{
    QPainter painter;
    if (!painter.begin(&device))
        return -1;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // The painter's origin is the corner of the area inside the margins.
    const QRect area = device.pageLayout().paintRectPixels(device.logicalDpiX());
    const int w = area.width();
    const int rowGap = (w * 45 + 45) / 570;
    const int columnGap = (w * 20 + 20) / 820;
    const int cardWidth = (w - columnGap + 1) / 2;
    const int cardHeight = cardWidth * 10 / 16;
    int top = 0;
    int n = 0;
    for (const Contact &contact : m_contacts) {
        if (n > 0 && n % kCardsPerPage == 0) {
            device.newPage();
            top = 0;
        }
        const bool left = n % 2 == 0;
        paintCard(painter, QRect(left ? 0 : cardWidth + columnGap, top, cardWidth, cardHeight), contact);
        if (!left)
            top += cardHeight + rowGap;
        ++n;
    }
    painter.end();
    return n;
}

void ContactsPrinter::paintCard(QPainter &painter, const QRect &card, const Contact &contact) const
{
    const int cw = card.width();
    const int ch = card.height();
    // Sizes in proportion to the card: text size, small gap, margin, outline width.
    const int a = cw * 12 / 339;
    const int b = cw * 3 / 339;
    const int c = cw * 10 / 399;
    const int e = cw * 2 / 399;

    painter.save();
    painter.translate(card.topLeft());
    painter.setClipRect(QRect(0, 0, cw, ch));
    painter.fillRect(QRect(0, 0, cw, ch), Qt::white);
    QPen outline(QColor(185, 185, 187), e, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
    painter.setPen(outline);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(e / 2.0, e / 2.0, cw - e, ch - e));

    const int side = cw * 90 / 270;
    const QImage picture = cardPicture(contact);
    if (!picture.isNull()) {
        const QSize size = picture.size().scaled(side, side, Qt::KeepAspectRatio);
        painter.drawImage(
            QRect(c + (side - size.width()) / 2, c + (side - size.height()) / 2, size.width(), size.height()), picture);
    }

    const int x = c + b + side;
    const int width = cw - x - 10;
    const int bottom = ch - c;
    int y = c;
    painter.setPen(Qt::black);
    QFont font = QGuiApplication::font();
    const auto drawLine = [&](const QString &text) {
        const QFontMetrics metrics = painter.fontMetrics();
        painter.drawText(QRect(x, y, width, metrics.height()), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                         metrics.elidedText(text, Qt::ElideRight, width));
        y += metrics.height();
    };

    font.setPixelSize(std::max(1, a + a / 7));
    painter.setFont(font);
    drawLine(contact.full_name);
    y += b;

    font.setPixelSize(std::max(1, a));
    painter.setFont(font);
    QStringList head;
    const DataRow org = contact.firstRow(ENTITY_ORGANIZATION);
    const QString orgLine =
        QStringList{org.text(u"data4"_s), org.text(u"data5"_s), org.text(u"data1"_s)}.join(u' ').simplified();
    if (!orgLine.isEmpty())
        head << orgLine;
    if (const QString date = birthday(contact); !date.isEmpty())
        head << u"Birthday:"_s + date;

    QList<DataRow> phones = contact.rows(ENTITY_PHONE);
    std::stable_sort(phones.begin(), phones.end(),
                     [](const DataRow &l, const DataRow &r) { return phonePriority(l) < phonePriority(r); });

    QStringList tail;
    if (contact.hasRows(ENTITY_EMAIL))
        tail << u"E-Mail:"_s + contact.firstRow(ENTITY_EMAIL).text(u"data1"_s);
    if (contact.hasRows(ENTITY_ADDRESS)) {
        const QStringList lines = addressText(contact.firstRow(ENTITY_ADDRESS)).split(u'\n');
        tail << u"Address:"_s + lines.first();
        tail << lines.mid(1);
    }

    // Phones give way first when the card is full, so that the e-mail and the address stay.
    const int fits = std::max(0, (bottom - y) / std::max(1, painter.fontMetrics().height()));
    const qsizetype phoneLines = std::clamp<qsizetype>(fits - head.size() - tail.size(), 0, phones.size());
    QStringList lines = head;
    for (qsizetype i = 0; i < phoneLines; ++i)
        lines << label(LabelFamily::Phone, phones.at(i)) + u':' + phones.at(i).text(u"data1"_s);
    lines << tail;
    for (const QString &line : std::as_const(lines)) {
        if (y + painter.fontMetrics().height() > bottom)
            break;
        drawLine(line);
    }
    painter.restore();
}

int ContactsPrinter::writePdf(const QString &path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error(file.errorString().toStdString());
    int count = 0;
    {
        QPdfWriter writer(&file);
        writer.setResolution(kPdfResolution);
        writer.setTitle(Product::title());
        writer.setCreator(Product::title());
        setUpPage(writer);
        count = paint(writer);
    }
    if (count < 0) {
        file.cancelWriting();
        throw std::runtime_error(
            QStringLiteral("Cannot write the PDF file %1.").arg(QDir::toNativeSeparators(path)).toStdString());
    }
    if (!file.commit())
        throw std::runtime_error(file.errorString().toStdString());
    return count;
}
