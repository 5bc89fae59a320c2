// The check that a PDF shows what the preview shows: the PDF rendered by
// pdftoppm and the report drawn on the raster surface, laid out as the PDF
// job lays it out (the whole sheet, 300-dpi layout), at the same resolution,
// compared pixel by pixel with a tolerance for rasterising and font
// differences.
#pragma once

#include "engine/printer.h"
#include "surfaces/pdfcanvas.h"
#include "tests/pdftestutil.h"
#include "tests/testutil.h"

#include <QColor>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <algorithm>
#include <climits>
#include <cmath>
#include <fstream>
#include <sstream>

namespace quillard::test {

// Draws page N of the renderer's open report on a raster page of Dpi dots per
// inch, laid out as MakePDF lays it out; the page measures the sheet the
// PDF's MediaBox gives.
inline QImage PreviewLikeThePdf(tRenderer& R, int N, int Dpi = 72)
{
    int32_t w = 612, h = 792;
    PaperSizeInPoints(Printer().PaperSize(), w, h);
    if (R.Setup.Orientation == 1)
        std::swap(w, h);
    auto page = std::make_unique<TImageCanvas>(w * Dpi / 72, h * Dpi / 72, Dpi, Dpi);
    TImageCanvas* canvas = page.get();
    R.SetCanvas(std::move(page));
    R.Metrics.DpiX = R.Metrics.DpiY = 300;
    R.Metrics.OffsetXPx = R.Metrics.OffsetYPx = 0;
    R.Metrics.LeftOffset = R.Metrics.TopOffset = 0;
    R.Metrics.PrintableWidth = (w * 300 / 72) / 300.0;
    R.Metrics.PrintableHeight = (h * 300 / 72) / 300.0;
    R.SetScale(1);
    R.ResetSpans();
    R.RenderPages(nullptr, N, nullptr, N);
    return canvas->Image().convertToFormat(QImage::Format_RGB32);
}

// Page N of a PDF file rendered by pdftoppm (antialiased, as a viewer shows
// it). The standard fonts are rendered in the faces the preview draws them
// in (Liberation Sans, Mono and Serif, metric-compatible with them), so that
// the comparison is of what the PDF draws, not of how a viewer substitutes
// the standard fonts.
inline QImage RenderedPdfPage(const std::string& Pdf, int N, int Dpi = 72)
{
    const QString pdf = QString::fromStdString(Pdf);
    const QString folder = QFileInfo(pdf).absolutePath();
    const QString conf = folder + "/preview-faces.conf";
    if (!QFile::exists(conf)) {
        std::ofstream out(conf.toStdString());
        out << "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n"
            << "<dir>/usr/share/fonts/truetype/liberation2</dir>\n<cachedir>" << (folder + "/fontcache").toStdString()
            << "</cachedir>\n";
        for (auto [standard, face] : {std::pair{"Courier", "Liberation Mono"}, std::pair{"Helvetica", "Liberation Sans"},
                                      std::pair{"Times", "Liberation Serif"}})
            out << "<alias binding=\"same\"><family>" << standard << "</family><prefer><family>" << face
                << "</family></prefer></alias>\n";
        out << "</fontconfig>\n";
    }
    const QString prefix = pdf + ".page" + QString::number(N);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("FONTCONFIG_FILE", conf);
    p.setProcessEnvironment(env);
    p.start("pdftoppm", {"-r", QString::number(Dpi), "-f", QString::number(N), "-l", QString::number(N), "-png",
                         "-singlefile", pdf, prefix});
    EXPECT_TRUE(p.waitForFinished(120000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return QImage(prefix + ".png").convertToFormat(QImage::Format_RGB32);
}

struct TFidelity {
    double Radius = 1.5;  // how far (pixels) a pixel may find its counterpart
    int Tolerance = 60;   // colour distance (RGB, Euclidean) still taken as the same
    int Tile = 36;        // side of the squares the misses are counted in
    // How far (pixels) the squares may be moved down or up to meet the other
    // page: the layout of text drifts by whole pixels where the screen
    // rounds line heights at a low resolution. 0 compares in place.
    int Shift = 0;
    // Ink matches ink of the same colour in any strength (for pages with
    // text, whose faces differ in weight between the two renderings).
    bool AnyStrength = false;
    int TileMisses = 12;      // misses a square may have ...
    double TileShare = 0.05;  // ... or this share of its marked pixels, whichever is more
};

struct TPageDiff {
    bool SameSize = false;
    int Marked = 0;       // pixels marked (not paper) on either page
    int Missing = 0;      // marked pixels the other page has nothing like near by
    int WorstTile = 0;    // misses in the worst square
    int WorstTileX = -1, WorstTileY = -1;
    bool Fits = false;
    QImage Map;           // misses in red (from the first page) and blue (from the second)
};

inline double RgbDistance(QRgb A, QRgb B)
{
    const double r = qRed(A) - qRed(B), g = qGreen(A) - qGreen(B), b = qBlue(A) - qBlue(B);
    return std::sqrt(r * r + g * g + b * b);
}

// Distance of C to the nearest blend of P and Q: an antialiased edge pixel is
// a blend of the colours on either side of the edge.
inline double BlendDistance(QRgb C, QRgb P, QRgb Q)
{
    const double d[3] = {double(qRed(Q) - qRed(P)), double(qGreen(Q) - qGreen(P)), double(qBlue(Q) - qBlue(P))};
    const double c[3] = {double(qRed(C) - qRed(P)), double(qGreen(C) - qGreen(P)), double(qBlue(C) - qBlue(P))};
    const double len = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    double t = len > 0 ? (c[0] * d[0] + c[1] * d[1] + c[2] * d[2]) / len : 0;
    t = std::clamp(t, 0.0, 1.0);
    double s = 0;
    for (int i = 0; i < 3; ++i) {
        const double e = c[i] - t * d[i];
        s += e * e;
    }
    return std::sqrt(s);
}

// Whether Q is C blended with P, with at least a third of C in it: a thin
// line of colour C that the other rasteriser spread over two pixels.
inline bool Diluted(QRgb Q, QRgb C, QRgb P, int Tolerance)
{
    const double d[3] = {double(qRed(C) - qRed(P)), double(qGreen(C) - qGreen(P)), double(qBlue(C) - qBlue(P))};
    const double q[3] = {double(qRed(Q) - qRed(P)), double(qGreen(Q) - qGreen(P)), double(qBlue(Q) - qBlue(P))};
    const double len = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    if (len <= 0)
        return false;
    const double t = (q[0] * d[0] + q[1] * d[1] + q[2] * d[2]) / len;
    return t >= 0.33 && t <= 1 && BlendDistance(Q, P, C) <= Tolerance;
}

inline bool Paper(QRgb C) { return RgbDistance(C, qRgb(255, 255, 255)) <= 30; }

// Whether C and Q are the same ink on paper in different strengths: text
// drawn by two rasterisers in two faces of the same design covers its pixels
// differently (a thin face leaves grey where a heavier one leaves black).
inline bool SameInk(QRgb C, QRgb Q)
{
    const double c[3] = {qRed(C) - 255.0, qGreen(C) - 255.0, qBlue(C) - 255.0};
    const double q[3] = {qRed(Q) - 255.0, qGreen(Q) - 255.0, qBlue(Q) - 255.0};
    const double qq = q[0] * q[0] + q[1] * q[1] + q[2] * q[2];
    const double cc = c[0] * c[0] + c[1] * c[1] + c[2] * c[2];
    if (qq < 60.0 * 60.0 || cc < 60.0 * 60.0)
        return false;
    const double t = (c[0] * q[0] + c[1] * q[1] + c[2] * q[2]) / qq;
    if (t <= 0)
        return false;
    double e = 0;
    for (int i = 0; i < 3; ++i)
        e += (c[i] - t * q[i]) * (c[i] - t * q[i]);
    return e <= 30.0 * 30.0;
}

// Compares two renderings of a page. A marked pixel (one that is not paper
// white) of either page is matched when the other page has, within Radius
// (after moving the square it lies in by up to Shift pixels), a pixel of
// about its colour or two pixels it is a blend of. The pages fit when no
// square has more misses than it may.
inline TPageDiff ComparePages(const QImage& A, const QImage& B, const TFidelity& F = {})
{
    TPageDiff d;
    d.SameSize = A.size() == B.size() && !A.isNull();
    if (!d.SameSize)
        return d;
    const int w = A.width(), h = A.height(), r = int(std::ceil(F.Radius));
    const int tilesX = (w + F.Tile - 1) / F.Tile, tilesY = (h + F.Tile - 1) / F.Tile;
    std::vector<int> tileMarked(size_t(tilesX) * tilesY), tileMissing(size_t(tilesX) * tilesY);
    d.Map = QImage(w, h, QImage::Format_RGB32);
    d.Map.fill(Qt::white);
    const QRgb white = qRgb(255, 255, 255);
    auto px = [&](const QImage& I, int x, int y) -> QRgb {
        if (x < 0 || y < 0 || x >= w || y >= h)
            return white;
        return reinterpret_cast<const QRgb*>(I.constScanLine(y))[x];
    };

    // Sum of grey differences of a rectangle of X against Y moved by (DX, DY),
    // given up once it exceeds Limit.
    auto sad = [&](const QImage& X, const QImage& Y, int X0, int Y0, int X1, int Y1, int DX, int DY, int64_t Limit) {
        int64_t s = 0;
        for (int y = Y0; y < Y1 && s < Limit; ++y)
            for (int x = X0; x < X1; ++x)
                s += std::abs(qGray(px(X, x, y)) - qGray(px(Y, x + DX, y + DY)));
        return s;
    };

    auto pass = [&](const QImage& X, const QImage& Y, QRgb Mark) {
        std::vector<QRgb> near;
        // Text drifts down the page by the difference in line heights: each
        // band of squares is moved as a whole first, by little more than the
        // band before it (so that a line of text is not taken for the next),
        // then each square is fitted within two pixels of that.
        int bandDy = 0;
        for (int ty = 0; ty < tilesY; ++ty) {
            const int y0 = ty * F.Tile, y1 = std::min(h, y0 + F.Tile);
            if (F.Shift > 0) {
                int64_t best = INT64_MAX;
                int bestDy = bandDy;
                const int lo = std::max(-F.Shift, ty == 0 ? -F.Shift : bandDy - 3);
                const int hi = std::min(F.Shift, ty == 0 ? F.Shift : bandDy + 3);
                for (int dy = lo; dy <= hi; ++dy) {
                    const int64_t v = sad(X, Y, 0, y0, w, y1, 0, dy, best);
                    if (v < best || (v == best && std::abs(dy - bandDy) < std::abs(bestDy - bandDy))) {
                        best = v;
                        bestDy = dy;
                    }
                }
                bandDy = bestDy;
            }
            for (int tx = 0; tx < tilesX; ++tx) {
                const int x0 = tx * F.Tile;
                const int x1 = std::min(w, x0 + F.Tile);
                bool any = false;
                for (int y = y0; y < y1 && !any; ++y)
                    for (int x = x0; x < x1 && !any; ++x)
                        any = !Paper(px(X, x, y));
                if (!any)
                    continue;
                int bestDx = 0, bestDy = bandDy;
                if (F.Shift > 0) {
                    int64_t best = INT64_MAX;
                    const int reach = std::min(2, F.Shift);
                    for (int dy = bandDy - reach; dy <= bandDy + reach; ++dy)
                        for (int dx = -reach; dx <= reach; ++dx) {
                            const int64_t v = sad(X, Y, x0, y0, x1, y1, dx, dy, best);
                            const bool nearer = std::abs(dx) + std::abs(dy - bandDy) < std::abs(bestDx) + std::abs(bestDy - bandDy);
                            if (v < best || (v == best && nearer)) {
                                best = v;
                                bestDx = dx;
                                bestDy = dy;
                            }
                        }
                }
                const size_t tile = size_t(ty) * tilesX + tx;
                for (int y = y0; y < y1; ++y)
                    for (int x = x0; x < x1; ++x) {
                        const QRgb c = px(X, x, y);
                        if (Paper(c))
                            continue;
                        ++d.Marked;
                        ++tileMarked[tile];
                        near.clear();
                        bool found = false;
                        for (int dy = -r; dy <= r && !found; ++dy)
                            for (int dx = -r; dx <= r && !found; ++dx) {
                                if (dx * dx + dy * dy > F.Radius * F.Radius + 0.01)
                                    continue;
                                const QRgb q = px(Y, x + bestDx + dx, y + bestDy + dy);
                                if (RgbDistance(c, q) <= F.Tolerance || (F.AnyStrength && SameInk(c, q)))
                                    found = true;
                                else if (std::find(near.begin(), near.end(), q) == near.end())
                                    near.push_back(q);
                            }
                        // An edge of the other page's rendering blends two colours (c is
                        // one of them, shown diluted, or lies between them).
                        for (size_t i = 0; i < near.size() && !found; ++i)
                            for (size_t j = 0; j < near.size() && !found; ++j)
                                if (i != j && ((j > i && BlendDistance(c, near[i], near[j]) <= F.Tolerance) ||
                                               Diluted(near[i], c, near[j], F.Tolerance)))
                                    found = true;
                        if (!found) {
                            ++d.Missing;
                            ++tileMissing[tile];
                            d.Map.setPixel(x, y, Mark);
                        } else if (d.Map.pixel(x, y) == white) {
                            d.Map.setPixel(x, y, qRgb(200, 200, 200));
                        }
                    }
            }
        }
    };
    pass(A, B, qRgb(255, 0, 0));
    pass(B, A, qRgb(0, 0, 255));
    d.Fits = true;
    for (int ty = 0; ty < tilesY; ++ty)
        for (int tx = 0; tx < tilesX; ++tx) {
            const size_t t = size_t(ty) * tilesX + tx;
            if (tileMissing[t] > d.WorstTile) {
                d.WorstTile = tileMissing[t];
                d.WorstTileX = tx * F.Tile;
                d.WorstTileY = ty * F.Tile;
            }
            if (tileMissing[t] > std::max<double>(F.TileMisses, F.TileShare * tileMarked[t]))
                d.Fits = false;
        }
    return d;
}

inline std::string Describe(const TPageDiff& D)
{
    std::ostringstream s;
    if (!D.SameSize)
        return "the pages differ in size";
    s << D.Missing << " of " << D.Marked << " marked pixels unmatched; worst square " << D.WorstTile << " at ("
      << D.WorstTileX << ", " << D.WorstTileY << ")";
    return s.str();
}

}  // namespace quillard::test
