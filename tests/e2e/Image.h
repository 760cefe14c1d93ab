#pragma once

#include <optional>
#include <string>
#include <vector>

namespace penwick::e2e {

// Decoded PNG pixels, for tests that look at what the page painted.
class Image {
public:
    struct Rgb {
        int r, g, b;
    };
    static std::optional<Image> loadPng(const std::string& path);

    int width() const { return m_width; }
    int height() const { return m_height; }
    Rgb at(int x, int y) const;
    // Distinct colours, to tell a real page from a blank one.
    size_t distinctColours() const;

private:
    int m_width = 0;
    int m_height = 0;
    std::vector<Rgb> m_pixels;
};

} // namespace penwick::e2e
