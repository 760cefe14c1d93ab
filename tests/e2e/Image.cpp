#include "e2e/Image.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <set>

namespace penwick::e2e {

std::optional<Image> Image::loadPng(const std::string& path)
{
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
    if (!pixbuf)
        return std::nullopt;
    Image image;
    image.m_width = gdk_pixbuf_get_width(pixbuf);
    image.m_height = gdk_pixbuf_get_height(pixbuf);
    int stride = gdk_pixbuf_get_rowstride(pixbuf);
    int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const guchar* data = gdk_pixbuf_read_pixels(pixbuf);
    image.m_pixels.reserve(static_cast<size_t>(image.m_width) * image.m_height);
    for (int y = 0; y < image.m_height; ++y) {
        for (int x = 0; x < image.m_width; ++x) {
            const guchar* p = data + y * stride + x * channels;
            image.m_pixels.push_back({ p[0], p[1], p[2] });
        }
    }
    g_object_unref(pixbuf);
    return image;
}

Image::Rgb Image::at(int x, int y) const { return m_pixels.at(static_cast<size_t>(y) * m_width + x); }

size_t Image::distinctColours() const
{
    std::set<int> colours;
    for (const auto& p : m_pixels)
        colours.insert((p.r << 16) | (p.g << 8) | p.b);
    return colours.size();
}

} // namespace penwick::e2e
