#include "textbox.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

bool TextBox::Line::operator==(const Line& other) const
{
    return cells == other.cells && colour == other.colour && style == other.style;
}

QFont TextBox::font(Style style)
{
    QFont font;
    font.setPixelSize(style == Style::Title ? 28 : style == Style::Plain ? 20 : 16);
    font.setBold(style == Style::Title);
    return font;
}

std::vector<TextBox::Line> TextBox::wrapped(const std::vector<Line>& lines, int widest)
{
    std::vector<Line> out;
    for (const Line& line : lines) {
        const QFontMetrics metrics(font(line.style));
        if (!line.cells[1].isEmpty() || metrics.horizontalAdvance(line.cells[0]) <= widest) {
            out.push_back(line);
            continue;
        }
        Line part = line;
        part.cells[0].clear();
        for (const QString& word : line.cells[0].split(' ')) {
            const QString longer = part.cells[0].isEmpty() ? word : part.cells[0] + ' ' + word;
            if (!part.cells[0].isEmpty() && metrics.horizontalAdvance(longer) > widest) {
                out.push_back(part);
                part.cells[0] = word;
            } else {
                part.cells[0] = longer;
            }
        }
        out.push_back(part);
    }
    return out;
}

std::pair<int, int> TextBox::columns(const std::vector<Line>& lines)
{
    std::pair<int, int> widths(0, 0);
    for (const Line& line : lines) {
        if (line.cells[1].isEmpty())
            continue;
        const QFontMetrics metrics(font(line.style));
        widths.first = std::max(widths.first, metrics.horizontalAdvance(line.cells[0]));
        widths.second = std::max(widths.second, metrics.horizontalAdvance(line.cells[1]));
    }
    return widths;
}

QSize TextBox::size(const std::vector<Line>& lines)
{
    const auto [first, second] = columns(lines);
    int width = 0;
    int height = 0;
    for (const Line& line : lines) {
        const QFontMetrics metrics(font(line.style));
        width =
            std::max(width, line.cells[1].isEmpty() ? metrics.horizontalAdvance(line.cells[0])
                                                    : first + second + 2 * ColumnGap +
                                                          metrics.horizontalAdvance(line.cells[2]));
        height += metrics.height() + LineGap;
    }
    return QSize(width + 2 * Padding, height + 2 * Padding);
}

QRect TextBox::lineRect(const std::vector<Line>& lines, const QRect& box, std::size_t index)
{
    int top = box.top() + Padding;
    for (std::size_t i = 0; i < index; ++i)
        top += QFontMetrics(font(lines[i].style)).height() + LineGap;
    const int height = QFontMetrics(font(lines[index].style)).height() + LineGap;
    return QRect(box.left(), top, box.width(), height);
}

// Opaque white with a black border: it reads over every background.
void TextBox::draw(QPainter& painter, const std::vector<Line>& lines, const QRect& box,
                   const QRect& bounds)
{
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(Qt::black, 2));
    painter.setBrush(Qt::white);
    painter.drawRect(box.adjusted(1, 1, -1, -1));
    const auto [first, second] = columns(lines);
    const int right = box.left() + box.width() - Padding;
    for (std::size_t index = 0; index < lines.size(); ++index) {
        const QRect rect = lineRect(lines, box, index);
        if (!rect.intersects(bounds))
            continue;
        const Line& line = lines[index];
        const QFont lineFont = font(line.style);
        const QFontMetrics metrics(lineFont);
        painter.setFont(lineFont);
        painter.setPen(line.colour);
        const int baseline = rect.top() + metrics.ascent();
        int x = box.left() + Padding;
        if (!line.cells[1].isEmpty()) {
            painter.drawText(QPoint(x, baseline), line.cells[0]);
            painter.drawText(QPoint(x + first + ColumnGap, baseline), line.cells[1]);
            x += first + second + 2 * ColumnGap;
        }
        const QString& last = line.cells[1].isEmpty() ? line.cells[0] : line.cells[2];
        const bool fits = metrics.horizontalAdvance(last) <= right - x;
        painter.drawText(QPoint(x, baseline),
                         fits ? last : metrics.elidedText(last, Qt::ElideRight, right - x));
    }
}
