#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>

#include <array>
#include <cstddef>
#include <utility>
#include <vector>

class QPainter;

// Lines of text in a white box with a black border, which reads over every
// background: each line one text, or three columns lined up across the
// lines that have them (a report's name, verdict and figures), in a title,
// plain or small font.
class TextBox
{
public:
    static constexpr int Padding = 14;
    static constexpr int ColumnGap = 24;
    static constexpr int LineGap = 4;

    enum class Style
    {
        Title,
        Plain,
        Small
    };

    struct Line
    {
        std::array<QString, 3> cells;
        QColor colour;
        Style style = Style::Plain;

        bool operator==(const Line& other) const;
    };

    static QFont font(Style style);
    // Single texts wider than widest wrapped at their words.
    static std::vector<Line> wrapped(const std::vector<Line>& lines, int widest);
    // The box that holds the lines, padding included.
    static QSize size(const std::vector<Line>& lines);
    // A line's band across the box.
    static QRect lineRect(const std::vector<Line>& lines, const QRect& box, std::size_t index);
    // The box and the lines that fall within bounds; a last text too long
    // for the box ends in an ellipsis.
    static void draw(QPainter& painter, const std::vector<Line>& lines, const QRect& box,
                     const QRect& bounds);

private:
    // The widths of the first two columns, over the lines that have three.
    static std::pair<int, int> columns(const std::vector<Line>& lines);
};
