// Writes the whole X desktop, every monitor, to a PNG file:
//   orvane_desktop_shot OUTPUT.png
// Read straight from the root window, so windows the window manager does not manage (the gaze
// dot) are in the picture too.

#include <QImage>
#include <cstdint>
#include <cstdio>
// Last: its macros would clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

// The channel of a pixel that `mask` selects, scaled to 8 bits.
int channel(unsigned long pixel, unsigned long mask) {
    if (mask == 0) {
        return 0;
    }
    int shift = 0;
    while (((mask >> shift) & 1) == 0) {
        ++shift;
    }
    const unsigned long maximum = mask >> shift;
    return static_cast<int>(((pixel & mask) >> shift) * 255 / maximum);
}

QImage toImage(XImage* image) {
    // The usual 24-bit visual is already laid out as Qt's RGB32: rows are copied whole.
    if (image->bits_per_pixel == 32 && image->byte_order == LSBFirst &&
        image->red_mask == 0xff0000 && image->green_mask == 0xff00 && image->blue_mask == 0xff) {
        const QImage view(reinterpret_cast<const uchar*>(image->data), image->width, image->height,
                          image->bytes_per_line, QImage::Format_RGB32);
        QImage result = view.copy();
        // Qt reads the unused top byte as alpha in places: make it opaque.
        for (int y = 0; y < result.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
            for (int x = 0; x < result.width(); ++x) {
                line[x] |= 0xff000000u;
            }
        }
        return result;
    }
    QImage result(image->width, image->height, QImage::Format_RGB32);
    for (int y = 0; y < image->height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < image->width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            line[x] = qRgb(channel(pixel, image->red_mask), channel(pixel, image->green_mask),
                           channel(pixel, image->blue_mask));
        }
    }
    return result;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "cannot open the X display\n");
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, root, &attributes);
    XImage* image = XGetImage(display, root, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (image == nullptr) {
        std::fprintf(stderr, "cannot read the desktop's pixels\n");
        XCloseDisplay(display);
        return 1;
    }
    const QImage picture = toImage(image);
    XDestroyImage(image);
    XCloseDisplay(display);
    if (!picture.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
