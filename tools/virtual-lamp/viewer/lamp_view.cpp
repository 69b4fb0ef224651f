#include "tools/virtual-lamp/viewer/lamp_view.h"

#include <QFile>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QStringDecoder>

#include <algorithm>

namespace tintrava {

namespace {

constexpr int CardWidth = 260;
constexpr int CardHeight = 340;
constexpr int DiscSize = 180;
constexpr int Margin = 16;
constexpr int FooterHeight = 28;

const QColor Background(0x30, 0x30, 0x30);
const QColor TextColour(0xE8, 0xE8, 0xE8);
const QColor DimText(0xA0, 0xA0, 0xA0);
const QColor Warning(0xFF, 0x8A, 0x80);

// Device descriptions are whatever bytes the device file holds: UTF-8 from
// most editors, the program's own 8-bit texts otherwise.
QString displayText(const std::string &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    if (utf8.hasError())
        text = QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
    // A description may carry control bytes; they must not break the card's lines.
    for (QChar &c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QChar(0xFFFD);
    return text;
}

QString protocolName(const std::string &firmware)
{
    if (firmware == "text")
        return QStringLiteral("Text (115200 Baud)");
    if (firmware == "byte")
        return QStringLiteral("Byte (9600 Baud)");
    return QStringLiteral("Kabel ohne Lampe");
}

QString colourCaption(const TraceLamp &lamp)
{
    if (!lamp.hasColour)
        return lamp.firmware == "cable" ? QStringLiteral("Farbe: –") : QStringLiteral("Farbe: noch keine");
    if (lamp.firmware == "byte")
        return QStringLiteral("Farbe: %1 %2").arg(lamp.colourNumber).arg(QString::fromStdString(colourName(lamp.colourNumber)));
    const QString hex = QString::fromStdString(lamp.colour).toUpper();
    return lamp.off ? QStringLiteral("Farbe: %1 (aus)").arg(hex) : QStringLiteral("Farbe: %1").arg(hex);
}

} // namespace

LampView::LampView(const QString &tracePath, QWidget *parent)
    : QWidget(parent), m_follower(QFile::encodeName(tracePath).toStdString())
{
    setAutoFillBackground(false);
    setMinimumSize(CardWidth + 2 * Margin, CardHeight + 2 * Margin + FooterHeight);
    connect(&m_timer, &QTimer::timeout, this, &LampView::pollTrace);
    m_timer.start(PollIntervalMs);
    pollTrace();
}

void LampView::pollTrace()
{
    const std::size_t before = m_trace.lamps().size();
    const TraceFollower::Result result = m_follower.poll(m_trace);
    if (result == TraceFollower::Result::Unchanged)
        return;
    if (m_trace.lamps().size() != before) {
        updateGeometry();
        // A window grows to show a newly seen lamp; it never shrinks under the user's hand.
        if (isWindow() && m_trace.lamps().size() > before)
            resize(size().expandedTo(sizeHint()));
    }
    update();
}

QSize LampView::sizeHint() const
{
    const int lamps = std::max<int>(1, int(m_trace.lamps().size()));
    const int across = std::min(lamps, 3);
    const int down = (lamps + across - 1) / across;
    return {across * CardWidth + 2 * Margin, down * CardHeight + 2 * Margin + FooterHeight};
}

int LampView::columns() const
{
    return std::max(1, (width() - 2 * Margin) / CardWidth);
}

QRect LampView::cardRect(int index) const
{
    const int across = columns();
    return QRect(Margin + (index % across) * CardWidth, Margin + (index / across) * CardHeight, CardWidth,
                 CardHeight);
}

QRect LampView::discRect(int index) const
{
    const QRect card = cardRect(index);
    return QRect(card.left() + (CardWidth - DiscSize) / 2, card.top() + 8, DiscSize, DiscSize);
}

void LampView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), Background);

    QFont base = font();
    QFont title = base;
    title.setBold(true);
    title.setPointSizeF(base.pointSizeF() > 0 ? base.pointSizeF() * 1.25 : 12);

    const auto &lamps = m_trace.lamps();
    if (lamps.empty()) {
        painter.setPen(TextColour);
        painter.setFont(title);
        painter.drawText(rect().adjusted(Margin, Margin, -Margin, -Margin - FooterHeight),
                         Qt::AlignCenter | Qt::TextWordWrap,
                         m_follower.exists()
                             ? QStringLiteral("Noch keine Lampe in der Spur.\nSie erscheint, sobald Tintrava nach Lampen sucht.")
                             : QStringLiteral("Die Spurdatei gibt es noch nicht."));
    }

    for (int i = 0; i < int(lamps.size()); ++i) {
        const TraceLamp &lamp = lamps[std::size_t(i)];
        const QRect disc = discRect(i);
        const QRect card = cardRect(i);

        painter.setOpacity(lamp.attached ? 1.0 : 0.35);
        if (lamp.hasColour) {
            painter.setPen(QPen(QColor(0x90, 0x90, 0x90), 2));
            painter.setBrush(QColor(lamp.r, lamp.g, lamp.b));
        } else {
            painter.setPen(QPen(QColor(0x90, 0x90, 0x90), 2, Qt::DashLine));
            painter.setBrush(QColor(0x48, 0x48, 0x48));
        }
        painter.drawEllipse(disc.adjusted(1, 1, -1, -1));
        painter.setOpacity(1.0);

        QRect text(card.left() + 8, disc.bottom() + 12, CardWidth - 16, 0);
        const auto line = [&](const QString &content, const QFont &font, const QColor &colour) {
            painter.setFont(font);
            painter.setPen(colour);
            const QFontMetrics metrics(font);
            text.setHeight(metrics.height());
            painter.drawText(text, Qt::AlignHCenter | Qt::AlignVCenter,
                             metrics.elidedText(content, Qt::ElideRight, text.width()));
            text.translate(0, metrics.height() + 2);
        };
        line(displayText(lamp.description), title, TextColour);
        line(QStringLiteral("Seriennummer: %1").arg(displayText(lamp.serial)), base, TextColour);
        line(QStringLiteral("Protokoll: %1").arg(protocolName(lamp.firmware)), base, TextColour);
        line(colourCaption(lamp), base, TextColour);
        line(QStringLiteral("Zuletzt gehört: %1")
                 .arg(lamp.lastHeard.empty() ? QStringLiteral("–") : QString::fromLatin1(lamp.lastHeard.c_str())),
             base, DimText);
        if (!lamp.attached)
            line(QStringLiteral("nicht angeschlossen"), base, Warning);
    }

    painter.setFont(base);
    painter.setPen(DimText);
    const QRect footer(Margin, height() - FooterHeight, width() - 2 * Margin, FooterHeight - 6);
    painter.drawText(footer, Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetrics(base).elidedText(QStringLiteral("Spur: %1").arg(QFile::decodeName(m_follower.path().c_str())),
                                                   Qt::ElideMiddle, footer.width()));
}

} // namespace tintrava
