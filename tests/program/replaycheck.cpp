// Checks a screenshot of the visualiser after it replayed a recording against
// the recording's translated frames: every point where a contact was down
// (and no eraser passed later) has its stroke colour, no stroke colour lies
// away from the contacts' paths (such as a line joining two fingers), and no
// marker or info tag is left.
// Usage: replaycheck <screenshot.png> <recording>; exit status 0 when it matches.

#include "boardpackets.h"
#include "eventtranslator.h"
#include "recording.h"

#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

// Half the width of the strokes of contacts without a size, as at start.
constexpr double DefaultHalfWidth = 3;
// Room for antialiasing around a path.
constexpr double Margin = 3;
// Erasers apart from touches in the keys of the paths.
constexpr int EraserKey = 1000;

struct Point
{
    QPointF at;
    double halfWidth = DefaultHalfWidth;
};

bool strokeColour(QRgb c)
{
    const bool red = qRed(c) > 200 && qGreen(c) < 100 && qBlue(c) < 100;
    const bool green = qGreen(c) > 200 && qRed(c) < 100 && qBlue(c) < 100;
    return red || green;
}

} // namespace

int main(int argc, char** argv)
{
    // Image reading needs an application object, not a display.
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    if (argc != 3) {
        out << "usage: replaycheck <screenshot.png> <recording>\n";
        return 2;
    }
    const QImage shot =
        QImage(QString::fromLocal8Bit(argv[1])).convertToFormat(QImage::Format_RGB32);
    const Recording recording = Recording::load(argv[2]);
    if (shot.isNull() || recording.events.empty()) {
        out << "cannot read the screenshot or the recording\n";
        return 2;
    }
    const double w = shot.width();
    const double h = shot.height();
    const auto pixel = [&](int x, int y) { return QPointF(x * w / 32768, y * h / 32768); };

    // The paths, widened, where stroke colour may be; the points where a
    // contact was down, which must have it unless an eraser passed over them
    // later; the points where the eraser was, which must not unless a stroke
    // passed over them later.
    QImage allowed(shot.size(), QImage::Format_Grayscale8);
    allowed.fill(0);
    QPainter painter(&allowed);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::white);
    std::map<int, Point> last;
    std::vector<Point> required;
    std::vector<Point> cleared;
    std::size_t erased = 0;
    // Drops the points within reach of the segment from a to b.
    const auto cover = [](std::vector<Point>& points, QPointF a, QPointF b, double reach) {
        const QPointF ab = b - a;
        const double length2 = QPointF::dotProduct(ab, ab);
        points.erase(std::remove_if(points.begin(), points.end(),
                                    [&](const Point& p) {
                                        const double t =
                                            length2 > 0
                                                ? std::clamp(QPointF::dotProduct(p.at - a, ab) /
                                                                 length2,
                                                             0.0, 1.0)
                                                : 0.0;
                                        const QPointF d = p.at - (a + t * ab);
                                        return std::hypot(d.x(), d.y()) <= reach;
                                    }),
                     points.end());
    };
    // A segment from the contact's last point, or a dot where it starts.
    const auto follow = [&](int key, bool down, const Point& point, bool eraser) {
        const auto found = last.find(key);
        const QPointF from = found != last.end() ? found->second.at : point.at;
        const double reach = point.halfWidth + Margin;
        if (found != last.end() || down) {
            if (eraser) {
                const std::size_t before = required.size();
                cover(required, from, point.at, reach);
                erased += before - required.size();
            } else {
                cover(cleared, from, point.at, reach);
                painter.setPen(QPen(Qt::white, 2 * reach, Qt::SolidLine, Qt::RoundCap));
                painter.drawLine(from, point.at);
                painter.setPen(Qt::NoPen);
                painter.drawEllipse(point.at, reach, reach);
            }
        }
        if (down) {
            last[key] = point;
            (eraser ? cleared : required).push_back(point);
        } else if (found != last.end()) {
            last.erase(found);
        }
    };

    EventTranslator translator(recording.device);
    const auto take = [&](const std::vector<EventTranslator::Packet>& packets) {
        for (const EventTranslator::Packet& bytes : packets) {
            const QByteArray packet = BoardPackets::stripPrefix(
                BoardPackets::delivery(bytes.data(), quint32(bytes.size())));
            switch (BoardPackets::classify(packet)) {
            case BoardPackets::Kind::Pen: {
                const NorvaHardware::PenEvent pen = BoardPackets::decodePen(packet);
                follow(-1 - pen.pen, pen.tip || pen.button, {pixel(pen.x, pen.y)}, false);
                break;
            }
            case BoardPackets::Kind::Touch:
                for (const NorvaHardware::TouchContact& c : BoardPackets::decodeTouch(packet)) {
                    const double radius = c.size * w / 32768;
                    follow(c.id, c.down, {pixel(c.x, c.y), radius > 0 ? radius : DefaultHalfWidth},
                           false);
                }
                break;
            case BoardPackets::Kind::Erase:
                for (const NorvaHardware::EraseContact& c : BoardPackets::decodeErase(packet))
                    follow(EraserKey + c.id, c.down,
                           {pixel(c.x, c.y), std::max(c.width * w, c.height * h) / 32768}, true);
                break;
            default:
                break;
            }
        }
    };
    for (const InputDevice::Event& event : recording.events)
        take(translator.feed(event));
    take(translator.finish());
    painter.end();

    int missing = 0;
    for (const Point& p : required) {
        const QPoint at = p.at.toPoint();
        if (shot.rect().contains(at) && !strokeColour(shot.pixel(at)))
            ++missing;
    }
    int uncleared = 0;
    for (const Point& p : cleared) {
        const QPoint at = p.at.toPoint();
        if (shot.rect().contains(at) && strokeColour(shot.pixel(at)))
            ++uncleared;
    }
    int stray = 0;
    int dark = 0;
    for (int y = 0; y < shot.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(shot.constScanLine(y));
        const uchar* mask = allowed.constScanLine(y);
        for (int x = 0; x < shot.width(); ++x) {
            stray += strokeColour(line[x]) && mask[x] == 0 ? 1 : 0;
            // Info tags and marker crosses are drawn in black.
            dark += std::max({qRed(line[x]), qGreen(line[x]), qBlue(line[x])}) < 100 ? 1 : 0;
        }
    }
    out << required.size() - std::size_t(missing) << " of " << required.size()
        << " contact points drawn (" << erased << " more erased), "
        << cleared.size() - std::size_t(uncleared) << " of " << cleared.size()
        << " eraser points cleared, " << stray << " stroke pixels off the paths, " << dark
        << " dark pixels\n";
    return missing == 0 && uncleared == 0 && stray == 0 && dark == 0 ? 0 : 1;
}
