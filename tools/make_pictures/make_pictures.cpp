// Draws the pictures the windows show and writes them into the folder given on the command line:
//   terminal.png    the window icon of the main and About windows (64 x 64, 256 colours)
//   background.jpg  the main window's background (640 x 512)
//   logo.png        the maker's logo (1024 x 768 RGB; only its top-left corner is ever shown)
// The output is kept under resources/ and compiled into the program; rerun this tool by hand
// after changing a drawing. It uses no randomness or clock, so every run writes the same bytes.

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QTransform>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// The terminal's front face, in its own units. The icon and the background relief both draw
// from this one layout, so the two pictures show the same device.

namespace Face {

constexpr QRectF caseRect(0, 0, 60, 124);
constexpr qreal caseRadius = 9;

// The display window and the glass inside its bezel.
constexpr QRectF display(6, 8, 48, 38);
constexpr qreal displayRadius = 3;
constexpr qreal bezelWidth = 3;

// The row of four function keys under the display.
constexpr int functionKeyCount = 4;
constexpr qreal functionKeysTop = 51;
constexpr QSizeF functionKeySize(10.5, 6);

// The keypad grid below the function keys.
constexpr int keypadColumns = 4;
constexpr int keypadRows = 5;
constexpr qreal keypadTop = 63;
constexpr QSizeF keypadKeySize(10.5, 8);
constexpr qreal keypadRowPitch = 10.5;

constexpr qreal keyRadius = 1.5;

// Keys are spread evenly across the display's width, so the face looks ordered.
QList<QRectF> keyRow(qreal top, QSizeF size, int count)
{
    QList<QRectF> keys;
    const qreal pitch = (display.width() - size.width()) / (count - 1);
    for (int i = 0; i < count; ++i)
        keys.append(QRectF(QPointF(display.left() + i * pitch, top), size));
    return keys;
}

QList<QRectF> functionKeys()
{
    return keyRow(functionKeysTop, functionKeySize, functionKeyCount);
}

QList<QRectF> keypadKeys()
{
    QList<QRectF> keys;
    for (int row = 0; row < keypadRows; ++row)
        keys += keyRow(keypadTop + row * keypadRowPitch, keypadKeySize, keypadColumns);
    return keys;
}

QPainterPath rounded(const QRectF &rect, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

// The corners of the case, in the order QTransform::quadToQuad expects.
QPolygonF caseCorners()
{
    return QPolygonF(
        {caseRect.topLeft(), caseRect.topRight(), caseRect.bottomRight(), caseRect.bottomLeft()});
}

} // namespace Face

// A stable integer hash standing in for a random generator: it gives the same texture with
// every compiler and standard library, which std:: distributions do not promise.
constexpr std::uint32_t textureSeed = 0x4b563402u;

// Mixes the two coordinates with large odd multipliers, then scrambles the bits the way
// MurmurHash3 finishes, so neighbouring pixels get unrelated values.
std::uint32_t hash(std::uint32_t x, std::uint32_t y)
{
    std::uint32_t h = x * 0x8da6b343u ^ y * 0xd8163841u ^ textureSeed;
    h ^= h >> 13;
    h *= 0x85ebca6bu;
    h ^= h >> 16;
    h *= 0xc2b2ae35u;
    h ^= h >> 16;
    return h;
}

// Hash of a lattice point mapped to [-1, 1].
float latticeNoise(int x, int y)
{
    constexpr float hashRange = 4294967295.0f;
    return float(hash(std::uint32_t(x), std::uint32_t(y))) / hashRange * 2.0f - 1.0f;
}

// Smooth value noise in [-1, 1] with features about `cell` pixels across.
float valueNoise(int x, int y, int cell)
{
    const int cx = x / cell;
    const int cy = y / cell;
    const auto smooth = [](float t) { return t * t * (3.0f - 2.0f * t); };
    const float tx = smooth(float(x % cell) / float(cell));
    const float ty = smooth(float(y % cell) / float(cell));
    const float top = std::lerp(latticeNoise(cx, cy), latticeNoise(cx + 1, cy), tx);
    const float bottom = std::lerp(latticeNoise(cx, cy + 1), latticeNoise(cx + 1, cy + 1), tx);
    return std::lerp(top, bottom, ty);
}

int clampChannel(float value)
{
    return std::clamp(int(std::lround(value)), 0, 255);
}

// ---------------------------------------------------------------------------------------------
// terminal.png: the window icon. It is drawn antialiased in true colour, then reduced to a
// palette of at most 256 colours, which is the icon's file kind.

constexpr int iconSize = 64;
constexpr int iconPaletteSize = 256;

constexpr QRgb iconBackground = qRgb(255, 255, 255);
constexpr QRgb iconCase = qRgb(212, 214, 218);
constexpr QRgb iconCaseSide = qRgb(150, 153, 160);
constexpr QRgb iconOutline = qRgb(96, 100, 108);
constexpr QRgb iconBezel = qRgb(70, 74, 82);
constexpr QRgb iconGlass = qRgb(168, 196, 178);
constexpr QRgb iconGlassShine = qRgb(206, 226, 212);
constexpr QRgb iconKey = qRgb(120, 124, 132);
constexpr QRgb iconAccentKey = qRgb(110, 176, 235);

// The face as seen tilted away and turned a little: the far (top) edge is shorter than the
// near one. Corners are top-left, top-right, bottom-right, bottom-left, in icon pixels.
const QPolygonF iconFaceQuad({{25.5, 2.0}, {49.5, 8.0}, {37.0, 59.0}, {9.5, 52.5}});

// The case's thickness shows as a darker side, built from copies of the case stepped outwards.
constexpr int iconDepthSteps = 3;
constexpr QPointF iconDepthStep(-0.8, 0.9);

// Index of the palette colour nearest to `colour`.
int nearestIndex(const QList<QRgb> &palette, QRgb colour)
{
    int best = 0;
    int bestDistance = INT_MAX;
    for (int i = 0; i < palette.size(); ++i) {
        const int dr = qRed(palette[i]) - qRed(colour);
        const int dg = qGreen(palette[i]) - qGreen(colour);
        const int db = qBlue(palette[i]) - qBlue(colour);
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

// Keeps the most used colours (ties broken by value, so the result is stable) and maps every
// other pixel to its nearest kept colour. An icon has few flat colours and some edge blends,
// so this loses next to nothing, unlike a fixed colour cube.
QImage toPalette(const QImage &image)
{
    const QImage source = image.convertToFormat(QImage::Format_RGB32);
    std::map<QRgb, int> uses;
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x)
            ++uses[source.pixel(x, y)];

    std::vector<std::pair<QRgb, int>> byUse(uses.begin(), uses.end());
    std::stable_sort(byUse.begin(), byUse.end(), [](const auto &a, const auto &b) {
        return a.second > b.second;
    });
    QList<QRgb> palette;
    for (const auto &[colour, count] : byUse) {
        if (palette.size() == iconPaletteSize)
            break;
        palette.append(colour);
    }

    QImage indexed(source.size(), QImage::Format_Indexed8);
    indexed.setColorTable(palette);
    std::map<QRgb, int> indexOf;
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            const QRgb colour = source.pixel(x, y);
            auto found = indexOf.find(colour);
            if (found == indexOf.end())
                found = indexOf.emplace(colour, nearestIndex(palette, colour)).first;
            indexed.setPixel(x, y, uint(found->second));
        }
    }
    return indexed;
}

QImage drawTerminal()
{
    QImage canvas(iconSize, iconSize, QImage::Format_RGB32);
    canvas.fill(iconBackground);

    QTransform face;
    QTransform::quadToQuad(Face::caseCorners(), iconFaceQuad, face);

    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath casePath = Face::rounded(Face::caseRect, Face::caseRadius);

    for (int step = iconDepthSteps; step > 0; --step) {
        painter.setTransform(
            face * QTransform::fromTranslate(iconDepthStep.x() * step, iconDepthStep.y() * step));
        painter.fillPath(casePath, QColor(iconCaseSide));
    }

    painter.setTransform(face);
    // A cosmetic pen keeps the outline one pixel wide whatever the face's scale.
    QPen outline{QColor(iconOutline)};
    outline.setCosmetic(true);
    painter.setPen(outline);
    painter.setBrush(QColor(iconCase));
    painter.drawPath(casePath);
    painter.setPen(Qt::NoPen);

    painter.fillPath(Face::rounded(Face::display, Face::displayRadius), QColor(iconBezel));
    const QRectF glass = Face::display.adjusted(Face::bezelWidth,
                                                Face::bezelWidth,
                                                -Face::bezelWidth,
                                                -Face::bezelWidth);
    painter.fillRect(glass, QColor(iconGlass));
    // A lighter upper half reads as glass catching the light.
    painter.fillRect(QRectF(glass.topLeft(), QSizeF(glass.width(), glass.height() / 2)),
                     QColor(iconGlassShine));

    // The function keys are the light blue ones; the keypad keys are grey.
    for (const QRectF &key : Face::functionKeys())
        painter.fillPath(Face::rounded(key, Face::keyRadius), QColor(iconAccentKey));
    for (const QRectF &key : Face::keypadKeys())
        painter.fillPath(Face::rounded(key, Face::keyRadius), QColor(iconKey));
    painter.end();

    return toPalette(canvas);
}

// ---------------------------------------------------------------------------------------------
// background.jpg: the main window's background. A pale embossed relief of the terminal on a
// textured off-white ground; labels and lists sit on top of it, so it stays low in contrast.

constexpr QSize backgroundSize(640, 512);
constexpr int backgroundJpegQuality = 85;

// Where the relief lies: centred a little right of the middle, turned and scaled up.
constexpr QPointF reliefCentre(380, 258);
constexpr qreal reliefAngle = 20;  // degrees, clockwise
constexpr qreal reliefScale = 3.4; // pixels per face unit

// Heights of the relief's parts. The glass is sunk into the case; the keys stand proud of it.
constexpr int groundHeight = 0;
constexpr int caseHeight = 120;
constexpr int glassHeight = 60;
constexpr int keyHeight = 180;

// Blurring the height map gives the relief rounded, soft edges instead of hard steps.
constexpr int heightBlurRadius = 2;
constexpr int heightBlurPasses = 2;
// Brightness change per unit of height difference across the light's direction.
constexpr float embossGain = 0.5f;

constexpr std::array<float, 3> groundColour = {238, 236, 229};
constexpr std::array<float, 3> reliefColour = {212, 213, 215};
constexpr float reliefColourAmount = 0.45f;

constexpr int mottleCell = 48;
constexpr float mottleAmount = 4.0f;
constexpr int grainCell = 5;
constexpr float grainAmount = 2.5f;
constexpr float speckleAmount = 2.5f;

// One box blur pass along rows and then columns.
void boxBlur(std::vector<float> &values, int width, int height, int radius)
{
    std::vector<float> rows(values.size());
    const auto at = [](int i, int limit) { return std::clamp(i, 0, limit - 1); };
    const float span = float(2 * radius + 1);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            float sum = 0;
            for (int d = -radius; d <= radius; ++d)
                sum += values[size_t(y * width + at(x + d, width))];
            rows[size_t(y * width + x)] = sum / span;
        }
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            float sum = 0;
            for (int d = -radius; d <= radius; ++d)
                sum += rows[size_t(at(y + d, height) * width + x)];
            values[size_t(y * width + x)] = sum / span;
        }
}

std::vector<float> reliefHeights()
{
    QImage map(backgroundSize, QImage::Format_Grayscale8);
    map.fill(QColor(groundHeight, groundHeight, groundHeight));

    QPainter painter(&map);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(reliefCentre);
    painter.rotate(reliefAngle);
    painter.scale(reliefScale, reliefScale);
    painter.translate(-Face::caseRect.center());

    const auto level = [](int height) { return QColor(height, height, height); };
    painter.fillPath(Face::rounded(Face::caseRect, Face::caseRadius), level(caseHeight));
    const QRectF glass = Face::display.adjusted(Face::bezelWidth,
                                                Face::bezelWidth,
                                                -Face::bezelWidth,
                                                -Face::bezelWidth);
    painter.fillPath(Face::rounded(glass, Face::displayRadius), level(glassHeight));
    for (const QRectF &key : Face::functionKeys() + Face::keypadKeys())
        painter.fillPath(Face::rounded(key, Face::keyRadius), level(keyHeight));
    painter.end();

    std::vector<float> heights(size_t(map.width() * map.height()));
    for (int y = 0; y < map.height(); ++y) {
        const uchar *line = map.constScanLine(y);
        for (int x = 0; x < map.width(); ++x)
            heights[size_t(y * map.width() + x)] = line[x];
    }
    for (int pass = 0; pass < heightBlurPasses; ++pass)
        boxBlur(heights, map.width(), map.height(), heightBlurRadius);
    return heights;
}

// Paper-like ground: broad soft mottling, finer grain and a per-pixel speckle.
float groundTexture(int x, int y)
{
    return mottleAmount * valueNoise(x, y, mottleCell) + grainAmount * valueNoise(x, y, grainCell)
           + speckleAmount * latticeNoise(x + backgroundSize.width(), y);
}

QImage drawBackground()
{
    const int width = backgroundSize.width();
    const int height = backgroundSize.height();
    const std::vector<float> heights = reliefHeights();
    const auto heightAt = [&](int x, int y) {
        return heights[size_t(std::clamp(y, 0, height - 1) * width + std::clamp(x, 0, width - 1))];
    };

    QImage picture(backgroundSize, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < width; ++x) {
            // Light falls from the top left: slopes facing it brighten, the others darken.
            const float shade = embossGain * (heightAt(x + 1, y + 1) - heightAt(x - 1, y - 1));
            // The case tints the ground towards a neutral grey where it stands.
            const float onCase = std::clamp(heightAt(x, y) / float(caseHeight), 0.0f, 1.0f)
                                 * reliefColourAmount;
            const float texture = groundTexture(x, y);
            std::array<int, 3> channel{};
            for (size_t c = 0; c < channel.size(); ++c)
                channel[c] = clampChannel(std::lerp(groundColour[c], reliefColour[c], onCase)
                                          + shade + texture);
            line[x] = qRgb(channel[0], channel[1], channel[2]);
        }
    }
    return picture;
}

// ---------------------------------------------------------------------------------------------
// logo.png: the maker's logo. Only its top-left corner is ever shown, so the red wordmark sits
// there on an otherwise white page. The letters are built from polygons rather than a font, so
// the logo looks the same on every machine, and they are drawn without antialiasing so every
// pixel is either pure red or pure white.

constexpr QSize logoSize(1024, 768);
constexpr QRgb logoPaper = qRgb(255, 255, 255);
constexpr QRgb logoRed = qRgb(255, 0, 0);

// The wordmark's top-left corner and spacing, in pixels.
constexpr QPoint wordmarkOrigin(1, 4);
constexpr int letterGap = 3;
// The letters' cap height, and the bar under them that spans the whole word.
constexpr qreal capHeight = 34;
constexpr int underlineGap = 4;
constexpr int underlineThickness = 5;

// Each letter is drawn in its own box, `width` wide and capHeight tall, top-left at 0,0.
// Upright strokes and bars this thick read as a bold sans-serif at this size.
constexpr qreal stroke = 6;
constexpr qreal bar = 5;

struct Letter
{
    qreal width;
    QPainterPath shape;
};

QPainterPath polygon(std::initializer_list<QPointF> points)
{
    QPainterPath path;
    path.addPolygon(QPolygonF(points));
    path.closeSubpath();
    return path;
}

QPainterPath box(qreal left, qreal top, qreal width, qreal height)
{
    QPainterPath path;
    path.addRect(left, top, width, height);
    return path;
}

QPainterPath stem()
{
    return box(0, 0, stroke, capHeight);
}

// The outlines of V, M, A and R are point lists in letter units, like a font's glyphs.

Letter letterV()
{
    return {18,
            polygon({{0, 0}, {6, 0}, {9, 24}, {12, 0}, {18, 0}, {12, capHeight}, {6, capHeight}})};
}

Letter letterE()
{
    constexpr qreal width = 13;
    constexpr qreal middleBarWidth = 12; // a shorter middle bar, as in most sans-serifs
    const qreal middleBarTop = (capHeight - bar) / 2;
    return {width,
            stem()
                .united(box(0, 0, width, bar))
                .united(box(0, middleBarTop, middleBarWidth, bar))
                .united(box(0, capHeight - bar, width, bar))};
}

Letter letterL()
{
    constexpr qreal width = 12;
    return {width, stem().united(box(0, capHeight - bar, width, bar))};
}

Letter letterM()
{
    return {22,
            polygon({{0, capHeight},
                     {0, 0},
                     {7, 0},
                     {11, 17},
                     {15, 0},
                     {22, 0},
                     {22, capHeight},
                     {16, capHeight},
                     {16, 12},
                     {13, 25},
                     {9, 25},
                     {6, 12},
                     {6, capHeight}})};
}

Letter letterA()
{
    // Two legs leaning together with a crossbar; the counter is the gap between the legs'
    // inner edges above the bar.
    constexpr qreal width = 20;
    constexpr qreal topFlat = 6;
    constexpr qreal barTop = 23;
    constexpr qreal barBottom = 28;
    constexpr qreal lean = (width - topFlat) / 2; // how far each leg leans over the cap height
    const auto innerLeft = [&](qreal y) { return stroke + (capHeight - y) * lean / capHeight; };
    const auto innerRight = [&](qreal y) { return width - innerLeft(y); };
    // Where the inner edges meet: the top of the counter.
    const qreal apexY = capHeight - (width / 2 - stroke) * capHeight / lean;

    const QPainterPath outline = polygon({{0, capHeight},
                                          {lean, 0},
                                          {lean + topFlat, 0},
                                          {width, capHeight},
                                          {width - stroke, capHeight},
                                          {innerRight(barBottom), barBottom},
                                          {innerLeft(barBottom), barBottom},
                                          {stroke, capHeight}});
    const QPainterPath counter = polygon(
        {{width / 2, apexY}, {innerRight(barTop), barTop}, {innerLeft(barTop), barTop}});
    return {width, outline.subtracted(counter)};
}

Letter letterR()
{
    const QPainterPath bowl = polygon({{0, 0}, {11, 0}, {15, 4}, {15, 14}, {11, 18}, {0, 18}});
    const QPainterPath counter = polygon({{6, 5}, {8, 5}, {9, 6}, {9, 12}, {8, 13}, {6, 13}});
    const QPainterPath leg = polygon({{5, 16}, {11, 16}, {15, capHeight}, {9, capHeight}});
    return {15, bowl.subtracted(counter).united(stem()).united(leg)};
}

QImage drawLogo()
{
    QImage canvas(logoSize, QImage::Format_RGB32);
    canvas.fill(logoPaper);

    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(logoRed));

    qreal x = wordmarkOrigin.x();
    for (const Letter &letter : {letterV(), letterE(), letterL(), letterM(), letterA(), letterR()}) {
        painter.drawPath(letter.shape.translated(x, wordmarkOrigin.y()));
        x += letter.width + letterGap;
    }
    const qreal wordWidth = x - letterGap - wordmarkOrigin.x();
    painter.drawRect(QRectF(wordmarkOrigin.x(),
                            wordmarkOrigin.y() + capHeight + underlineGap,
                            wordWidth,
                            underlineThickness));
    painter.end();

    // Guard the two-colour promise: anything that is not paper becomes the logo red.
    for (int y = 0; y < canvas.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(canvas.scanLine(y));
        for (int px = 0; px < canvas.width(); ++px)
            if (line[px] != logoPaper)
                line[px] = logoRed;
    }
    return canvas.convertToFormat(QImage::Format_RGB888);
}

// ---------------------------------------------------------------------------------------------

bool save(const QImage &image, const QString &folder, const QString &name, int quality = -1)
{
    const QString path = folder + QLatin1Char('/') + name;
    if (image.save(path, nullptr, quality))
        return true;
    std::fprintf(stderr, "make_pictures: cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    // Qt's painting and image writers expect an application object to exist.
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_pictures <output folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const bool written = save(drawTerminal(), folder, QStringLiteral("terminal.png"))
                         && save(drawBackground(),
                                 folder,
                                 QStringLiteral("background.jpg"),
                                 backgroundJpegQuality)
                         && save(drawLogo(), folder, QStringLiteral("logo.png"));
    return written ? 0 : 1;
}
