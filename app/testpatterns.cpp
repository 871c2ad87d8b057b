#include "testpatterns.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>
#include <array>

namespace {

constexpr int gridStep = 32;
constexpr int squareSize = 32;
constexpr int barColumns = 17;
constexpr int helpPixels = 32;
// The notice's text, and its box's distance from the view's edges and from
// the text.
constexpr int noticePixels = 24;
constexpr int noticeMargin = 24;
constexpr int noticePadding = 12;
constexpr int noticeFrame = 2;
constexpr int noticeFlags = Qt::AlignHCenter | Qt::TextWordWrap;

const char* const helpText[] = {
    "Keyboard controls",
    "H to toggle this help screen",
    "ESC to exit",
    "ENTER to toggle full screen",
    "BACKSPACE to clear strokes",
    "SPACE to toggle info tag boxes",
    "G to toggle grid",
    "S to toggle shape field",
    "C to toggle colour field",
    "B to toggle all black",
    "<- to toggle vertical bars",
    "-> to toggle horizontal bars",
    "0-9 to select stroke width",
    "M to toggle measurements",
    "T to toggle tap targets",
    "K to run the board check",
};

// A cosmetic pen: one device pixel wide at any scale.
QPen hairline(Qt::PenStyle style)
{
    return QPen(QBrush(Qt::black, Qt::SolidPattern), 0, style, Qt::RoundCap, Qt::RoundJoin);
}

QFont noticeFont()
{
    QFont font;
    font.setPixelSize(noticePixels);
    return font;
}

} // namespace

void TestPatterns::draw(QPainter& painter, BackgroundMode mode, const QSize& imageSize,
                        const QSize& viewSize, const QStringList& notice)
{
    const QRect box = noticeBox(notice, viewSize);
    switch (mode) {
    case BackgroundMode::None:
        break;
    case BackgroundMode::Grid:
        drawGrid(painter, imageSize);
        break;
    case BackgroundMode::ColourField:
        drawColourField(painter, imageSize);
        break;
    case BackgroundMode::ShapeField:
        drawShapeField(painter, viewSize);
        break;
    case BackgroundMode::AllBlack:
        drawAllBlack(painter, viewSize);
        break;
    case BackgroundMode::VerticalBars:
        drawBars(painter, viewSize, Qt::Vertical);
        break;
    case BackgroundMode::HorizontalBars:
        drawBars(painter, viewSize, Qt::Horizontal);
        break;
    case BackgroundMode::Help:
        drawHelp(painter, box.isEmpty() ? viewSize.height() : box.top());
        break;
    }
    if (!box.isEmpty())
        drawNotice(painter, notice, box);
}

QRect TestPatterns::noticeBox(const QStringList& notice, const QSize& viewSize)
{
    if (notice.isEmpty())
        return QRect();
    const int inset = noticeMargin + noticePadding;
    const QRect room(0, 0, std::max(1, viewSize.width() - 2 * inset), viewSize.height());
    QRect box = QFontMetrics(noticeFont())
                    .boundingRect(room, noticeFlags, notice.join(QLatin1Char('\n')))
                    .adjusted(-noticePadding, -noticePadding, noticePadding, noticePadding);
    box.moveCenter(QPoint(viewSize.width() / 2, 0));
    box.moveBottom(viewSize.height() - 1 - noticeMargin);
    return box;
}

void TestPatterns::drawShapeMark(QPainter& painter, float x, float y, float size)
{
    painter.drawEllipse(QRect(int(x - 0.5f * size), int(y - 0.5f * size), int(size), int(size)));
    const float q = 0.25f * size;
    painter.drawLine(QLine(int(x - q), int(y), int(x + q), int(y)));
    painter.drawLine(QLine(int(x), int(y - q), int(x), int(y + q)));
}

void TestPatterns::drawGrid(QPainter& painter, const QSize& size)
{
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(hairline(Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    const float width = float(size.width());
    const float height = float(size.height());
    for (float x = 0.0f; x < width; x += float(gridStep))
        painter.drawLine(QLineF(x, 0.0, x, height));
    for (float y = 0.0f; y < height; y += float(gridStep))
        painter.drawLine(QLineF(0.0, y, width, y));
}

void TestPatterns::drawColourField(QPainter& painter, const QSize& size)
{
    // Index 2 * (column parity) + (row parity): red, green, blue, white.
    static const std::array<QBrush, 4> brushes = {QBrush(Qt::red), QBrush(Qt::green),
                                                  QBrush(Qt::blue), QBrush(Qt::white)};
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    for (int y = 0; y < size.height(); y += squareSize) {
        for (int x = 0; x < size.width(); x += squareSize) {
            const int index = 2 * ((x / squareSize) % 2) + (y / squareSize) % 2;
            painter.fillRect(QRect(x, y, squareSize, squareSize), brushes[index]);
        }
    }
}

// Rows and columns of marks in bands around the centre lines; each band's
// marks are half again as large as the previous band's.
void TestPatterns::drawShapeField(QPainter& painter, const QSize& size)
{
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(hairline(Qt::SolidLine));
    painter.setBrush(Qt::NoBrush);
    const int cx = size.width() / 2;
    const int cy = size.height() / 2;
    if (cx <= 0)
        return;
    const int reach = std::max(cx, cy);
    int s = 32;
    int d = 0;
    do {
        const int h = s / 2;
        const int e = d + h;
        const float fs = float(s);
        for (int t = e; t < reach + h; t += s) {
            drawShapeMark(painter, float(cx + t), float(cy + e), fs);
            drawShapeMark(painter, float(cx + t), float(cy - e), fs);
            drawShapeMark(painter, float(cx - t), float(cy + e), fs);
            drawShapeMark(painter, float(cx - t), float(cy - e), fs);
            drawShapeMark(painter, float(cx + e), float(cy + t), fs);
            drawShapeMark(painter, float(cx + e), float(cy - t), fs);
            drawShapeMark(painter, float(cx - e), float(cy + t), fs);
            drawShapeMark(painter, float(cx - e), float(cy - t), fs);
        }
        d += s;
        s = int(float(s) * 1.5f);
    } while (d < cx);
}

void TestPatterns::drawAllBlack(QPainter& painter, const QSize& size)
{
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::black);
}

// Seventeen equal stripes from the left (top) edge, alternately white and
// black; the remainder of the division stays white at the far edge.
void TestPatterns::drawBars(QPainter& painter, const QSize& size, Qt::Orientation orientation)
{
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    const bool vertical = orientation == Qt::Vertical;
    const int b = (vertical ? size.width() : size.height()) / barColumns;
    for (int i = 1; i < barColumns; i += 2) {
        const QRect bar =
            vertical ? QRect(i * b, 0, b, size.height()) : QRect(0, i * b, size.width(), b);
        painter.fillRect(bar, Qt::black);
    }
}

// The help text starts at the left edge, its first baseline one line height
// below the top.
void TestPatterns::drawHelp(QPainter& painter, int height)
{
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QBrush(Qt::black, Qt::SolidPattern));
    QFont font;
    font.setStyleHint(QFont::Serif, QFont::PreferAntialias);
    font.setPixelSize(helpPixels);
    const int lines = int(std::size(helpText));
    const int needed = lines * QFontMetrics(font).height() + QFontMetrics(font).descent();
    if (needed > height)
        font.setPixelSize(std::max(1, helpPixels * height / needed));
    const int lineHeight = QFontMetrics(font).height();
    QPainterPath path;
    int k = 1;
    for (const char* line : helpText)
        path.addText(QPointF(0, k++ * lineHeight), font, QString::fromLatin1(line));
    painter.drawPath(path);
}

void TestPatterns::drawNotice(QPainter& painter, const QStringList& notice, const QRect& box)
{
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(Qt::black, noticeFrame));
    painter.setBrush(Qt::white);
    painter.drawRect(
        box.adjusted(noticeFrame / 2, noticeFrame / 2, -noticeFrame / 2, -noticeFrame / 2));
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setFont(noticeFont());
    painter.drawText(box.adjusted(noticePadding, noticePadding, -noticePadding, -noticePadding),
                     noticeFlags, notice.join(QLatin1Char('\n')));
}
