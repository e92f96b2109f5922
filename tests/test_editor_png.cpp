// The editor snapshot command: the picture shows the settings it was given.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace
{
struct Pixel
{
    int r, g, b;
};

Pixel pixelAt(cairo_surface_t* image, int x, int y)
{
    const unsigned char* row =
        cairo_image_surface_get_data(image) + y * cairo_image_surface_get_stride(image);
    const unsigned char* p = row + 4 * x; // native-endian ARGB32: blue, green, red, alpha
    return {p[2], p[1], p[0]};
}

bool isGreen(const Pixel& p)
{
    return p.g > 200 && p.r < 60 && p.b < 60;
}
bool isDark(const Pixel& p)
{
    return p.r < 40 && p.g < 40 && p.b < 40;
}

std::string outputPath(const char* name)
{
    return std::string(HALVERN_TEST_OUTPUT_DIR) + "/" + name;
}

int run(const std::string& arguments)
{
    return std::system(
        (std::string(HALVERN_EDITOR_PNG_TOOL) + " " + arguments + " >/dev/null 2>&1").c_str());
}
} // namespace

TEST(EditorPng, ShowsTheGivenSettings)
{
    const std::string path = outputPath("editor_a_minor.png");
    ::unlink(path.c_str());
    ASSERT_EQ(run("--pitch 3.5 --scale 'A minor' -o " + path), 0);
    cairo_surface_t* image = cairo_image_surface_create_from_png(path.c_str());
    ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(image), 512);
    EXPECT_EQ(cairo_image_surface_get_height(image), 128);
    // A minor: C D E F G A B lit, the five sharps dark; the Scale lamp lit.
    const bool lit[12] = {true,  false, true,  false, true,  true,
                          false, true,  false, true,  false, true};
    for (int i = 0; i < 12; ++i)
    {
        const Pixel p = pixelAt(image, 192 + 16 * i + 8, 103);
        EXPECT_EQ(isGreen(p), lit[i]) << "note " << i;
        EXPECT_EQ(isDark(p), !lit[i]) << "note " << i;
    }
    EXPECT_TRUE(isGreen(pixelAt(image, 200, 36)));
    cairo_surface_destroy(image);

    // An existing picture is kept without --force and replaced with it.
    EXPECT_NE(run("-o " + path), 0);
    ASSERT_EQ(run("--force -o " + path), 0);
    image = cairo_image_surface_create_from_png(path.c_str());
    ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);
    EXPECT_TRUE(isDark(pixelAt(image, 200, 36))); // default settings: Scale off
    cairo_surface_destroy(image);
}

TEST(EditorPng, DrawsHalvernLivesTallerEditor)
{
    const std::string path = outputPath("editor_live.png");
    ASSERT_EQ(run("--live --retune 120 --scale 'A minor' --force -o " + path), 0);
    cairo_surface_t* image = cairo_image_surface_create_from_png(path.c_str());
    EXPECT_EQ(cairo_image_surface_get_height(image), 168);
    EXPECT_TRUE(isGreen(pixelAt(image, 200, 36))); // Scale on, where Halvern has it
    cairo_surface_destroy(image);
    EXPECT_EQ(run("--live --retune 401 -o " + path + ".2"), 2 << 8);
    EXPECT_EQ(run("--retune 100 -o " + path + ".2"), 2 << 8);
}

TEST(EditorPng, BadSettingsAreRefused)
{
    const std::string path = outputPath("editor_refused.png");
    ::unlink(path.c_str());
    EXPECT_EQ(run("--pitch 13 -o " + path), 2 << 8);
    EXPECT_EQ(run("--scale 'H major' -o " + path), 2 << 8);
    EXPECT_EQ(run("--pitch 1"), 2 << 8);
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
}

// The README's pictures are what the tools draw today: redrawn by the script the README names and
// compared with the committed ones pixel for pixel.
TEST(ReadmePictures, MatchWhatTheToolsDraw)
{
    const std::string folder = outputPath("readme-pictures");
    const std::string command = "HALVERN_BUILD_DIR='" + std::string(HALVERN_BUILD_DIR) + "' '" +
                                HALVERN_SOURCE_DIR + "/scripts/make-pictures.sh' '" + folder +
                                "' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    for (const char* name : {"editor.png", "demo-pitch.png", "live-editor.png", "live-notes.png"})
    {
        SCOPED_TRACE(name);
        cairo_surface_t* drawn = cairo_image_surface_create_from_png((folder + "/" + name).c_str());
        cairo_surface_t* committed = cairo_image_surface_create_from_png(
            (std::string(HALVERN_SOURCE_DIR) + "/docs/" + name).c_str());
        ASSERT_EQ(cairo_surface_status(drawn), CAIRO_STATUS_SUCCESS);
        ASSERT_EQ(cairo_surface_status(committed), CAIRO_STATUS_SUCCESS);
        const int width = cairo_image_surface_get_width(drawn);
        const int height = cairo_image_surface_get_height(drawn);
        ASSERT_EQ(width, cairo_image_surface_get_width(committed));
        ASSERT_EQ(height, cairo_image_surface_get_height(committed));
        int differing = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
            {
                const Pixel a = pixelAt(drawn, x, y), b = pixelAt(committed, x, y);
                differing += a.r != b.r || a.g != b.g || a.b != b.b;
            }
        EXPECT_EQ(differing, 0) << "run scripts/make-pictures.sh and commit docs/";
        cairo_surface_destroy(drawn);
        cairo_surface_destroy(committed);
    }
}
