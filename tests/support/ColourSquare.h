// Finding a movie's coloured square in a grabbed image, for the preview tests of every folder.
#pragma once

#include <QColor>
#include <QImage>

#include <algorithm>
#include <cstdlib>
#include <optional>

namespace zephyrine::mediatest {

struct TBox {
    int left = 0, right = 0, top = 0, bottom = 0, pixels = 0;
};

// The bounding box of the pixels close to the colour; none when fewer than minPixels are.
inline std::optional<TBox> FindSquare(const QImage& image, const QColor& colour,
                                      int minPixels = 500) {
    TBox b{image.width(), -1, image.height(), -1, 0};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - colour.red()) < 40 &&
                std::abs(c.green() - colour.green()) < 40 &&
                std::abs(c.blue() - colour.blue()) < 40) {
                b.left = std::min(b.left, x), b.right = std::max(b.right, x);
                b.top = std::min(b.top, y), b.bottom = std::max(b.bottom, y);
                ++b.pixels;
            }
        }
    if (b.pixels < minPixels) return std::nullopt;
    return b;
}

}  // namespace zephyrine::mediatest
