// The C header and JSON of a skin's table of contents, the skin as C data, and its depfile.
#include "view/common/skin_header.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "skin/skin.h"

namespace {

std::string literal(std::uint64_t value)
{
    return std::to_string(value) + "u";
}

// A 3-3-2 byte as C writes it: "0xE3u".
std::string byte_literal(std::uint8_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02Xu", value);
    return text;
}

std::string define(const std::string& name, const std::string& value)
{
    return "#define " + name + " " + value + "\n";
}

// A path in Makefile syntax.
std::string make_escaped(const std::filesystem::path& path)
{
    std::string text;
    for (const char c : path_text(std::filesystem::absolute(path))) {
        if (c == ' ' || c == '#' || c == '\\')
            text += '\\';
        if (c == '$')
            text += '$';
        text += c;
    }
    return text;
}

// One row of skin_table: a name, or an image of a plain folder.
struct table_row {
    std::string name;
    const image_place* image = nullptr; // the first
    unsigned frames = 1;
};

// The table's rows: the project's names, or for a plain folder each image by its stem ("bmp3").
std::vector<table_row> table_rows(const skin_contents& contents)
{
    std::vector<table_row> rows;
    for (const header_name& name : contents.names)
        rows.push_back({name.name, &contents.images[name.first], name.frame_count});
    if (contents.names.empty())
        for (const image_place& image : contents.images)
            rows.push_back({image.file_name.substr(0, image.file_name.rfind('.')), &image, 1});
    return rows;
}

} // namespace

std::uint64_t number_images(std::vector<image_place>& images)
{
    unsigned pictures = 0;
    unsigned icons = 0;
    std::uint64_t size = 0;
    for (image_place& image : images) {
        image.index = image.icon ? icons++ : pictures++;
        image.file_name = numbered_name(image.icon, image.index);
        image.offset = size;
        size += std::uint64_t{image.side} * image.side;
    }
    return size;
}

std::string macro_stem(const std::string& file_name)
{
    std::string stem = file_name.substr(0, file_name.rfind('.'));
    std::transform(stem.begin(), stem.end(), stem.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return stem;
}

std::string skin_c_header(const skin_contents& contents, const std::string& guard, const std::string& made_by)
{
    const std::vector<image_place>& images = contents.images;
    const auto icons = static_cast<std::size_t>(
        std::count_if(images.begin(), images.end(), [](const image_place& image) { return image.icon; }));
    char crc[16];
    std::snprintf(crc, sizeof crc, "0x%08lXul", static_cast<unsigned long>(contents.crc32));
    std::string text =
        "/* Where each image lies in skin.skn, as skinpack packs the images of its folder.\n   " + made_by +
        " */\n#ifndef " + guard + "\n#define " + guard + "\n\n" +
        "/* The whole file in bytes, and its images: pictures first, then icons. */\n" +
        define("SKIN_SIZE", literal(contents.size)) + define("SKIN_IMAGE_COUNT", literal(images.size())) +
        define("SKIN_PICTURE_COUNT", literal(images.size() - icons)) +
        define("SKIN_ICON_COUNT", literal(icons)) +
        "\n/* The CRC-32 (zlib's) of the whole of skin.skn, to check the skin that was loaded. */\n" +
        define("SKIN_CRC32", crc) + "\n";
    if (contents.key)
        text += "/* The byte of transparent pixels, which no other pixel takes: draw over the background by\n"
                "   skipping it. An image with a key of its own has SKIN_<NAME>_KEY. */\n" +
                define("SKIN_KEY", byte_literal(*contents.key)) + "\n";
    text += "/* Each image's block: its first byte in the file, and its side. A block holds side * side\n"
            "   bytes, one 3-3-2 pixel (red in bits 7-5, green 4-2, blue 1-0) each, top row first. */\n";
    std::string offsets;
    std::string sides;
    for (const image_place& image : images) {
        const std::string stem = "SKIN_" + macro_stem(image.file_name);
        text += define(stem + "_OFFSET", literal(image.offset)) + define(stem + "_SIDE", literal(image.side));
        offsets += (offsets.empty() ? "" : ", ") + literal(image.offset);
        sides += (sides.empty() ? "" : ", ") + literal(image.side);
    }
    std::string named;
    for (const header_name& name : contents.names) {
        const image_place& first = images[name.first];
        const std::string stem = "SKIN_" + name.c_name;
        if (name.c_name != macro_stem(first.file_name)) // else the image's own macros say it
            named +=
                define(stem + "_OFFSET", literal(first.offset)) + define(stem + "_SIDE", literal(first.side));
        named += define(stem + "_INDEX", literal(first.index));
        if (name.frames)
            named += define(stem + "_FRAME_COUNT", literal(name.frame_count));
        if (name.key && name.key != contents.key)
            named += define(stem + "_KEY", byte_literal(*name.key));
    }
    if (!named.empty())
        text += "\n/* The project's names. _INDEX is the number of the first image in its series (bmpN.bmp,\n"
                "   iconNN.bmp). The frames of an animation are consecutive blocks of one side. */\n" +
                named;
    const std::vector<table_row> rows = table_rows(contents);
    text += "\n/* The same in skin order, to initialise arrays, for example\n"
            "   static const unsigned long skin_offsets[SKIN_IMAGE_COUNT] = SKIN_OFFSETS; */\n" +
            define("SKIN_OFFSETS", "{ " + offsets + " }") + define("SKIN_SIDES", "{ " + sides + " }") +
            "\n/* How many rows skin_table has: one per name, else one per image. */\n" +
            define("SKIN_ENTRY_COUNT", literal(rows.size())) + "\n#endif\n\n" +
            "/* Each name (else each image) with its first block, side and number of frames, for firmware\n"
            "   that looks images up by name at run time. Define SKIN_TABLE before including this header\n"
            "   in each file that uses skin_table; each such file has its own copy. */\n"
            "#if defined(SKIN_TABLE) && !defined(" +
            guard + "_TABLE)\n#define " + guard +
            "_TABLE\n"
            "static const struct skin_entry {\n"
            "    const char *name;\n"
            "    unsigned long offset;\n"
            "    unsigned side;\n"
            "    unsigned frames;\n"
            "} skin_table[SKIN_ENTRY_COUNT] = {\n";
    for (const table_row& row : rows)
        text += "    { \"" + row.name + "\", " + literal(row.image->offset) + ", " +
                literal(row.image->side) + ", " + literal(row.frames) + " },\n";
    return text + "};\n#endif\n";
}

std::string skin_json(const skin_contents& contents)
{
    // Which name each image belongs to, and which of its frames it is.
    std::vector<const header_name*> owner(contents.images.size(), nullptr);
    for (const header_name& name : contents.names)
        for (unsigned frame = 0; frame < name.frame_count; ++frame)
            owner[name.first + frame] = &name;
    std::string text = "{\n  \"size\": " + std::to_string(contents.size) +
                       ",\n  \"crc32\": " + std::to_string(contents.crc32) + ",\n  \"images\": [";
    for (std::size_t i = 0; i < contents.images.size(); ++i) {
        const image_place& image = contents.images[i];
        text += std::string(i == 0 ? "\n" : ",\n") + "    {\"name\": \"" + image.file_name +
                "\", \"series\": \"" + (image.icon ? "icon" : "picture") +
                "\", \"index\": " + std::to_string(image.index) +
                ", \"side\": " + std::to_string(image.side) +
                ", \"offset\": " + std::to_string(image.offset) +
                ", \"size\": " + std::to_string(std::uint64_t{image.side} * image.side);
        if (const header_name* name = owner[i]; name != nullptr) {
            text += ", \"entry\": \"" + name->name + "\""; // names hold no quotes or backslashes
            if (name->frames)
                text += ", \"frame\": " + std::to_string(i - name->first);
        }
        text += "}";
    }
    return text + "\n  ]\n}\n";
}

std::string skin_data_text(std::span<const std::uint8_t> skin)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text =
        "/* skin.skn as a C array. Generated by skinview build with the skin. */\n#include \"skin.h\"\n\n"
        "/* Declared first so that the array has external linkage in C++ too. */\n"
        "extern const unsigned char skin_data[SKIN_SIZE];\n"
        "const unsigned char skin_data[SKIN_SIZE] = {\n";
    text.reserve(text.size() + skin.size() * 5 + skin.size() / 16 + 8);
    for (std::size_t i = 0; i < skin.size(); ++i) {
        const char byte[] = {'0', 'x', digits[skin[i] >> 4], digits[skin[i] & 15], ','};
        text.append(byte, sizeof byte);
        text += i % 16 == 15 || i + 1 == skin.size() ? '\n' : ' ';
    }
    return text + "};\n";
}

std::string path_text(const std::filesystem::path& path)
{
    const std::u8string text = path.lexically_normal().generic_u8string();
    return {text.begin(), text.end()};
}

std::string depfile_text(const std::filesystem::path& stamp,
                         const std::vector<std::filesystem::path>& targets,
                         const std::vector<std::filesystem::path>& inputs)
{
    std::string rule = stamp.empty() ? std::string() : make_escaped(stamp);
    for (const std::filesystem::path& target : targets) {
        if (!rule.empty())
            rule += ' ';
        rule += make_escaped(target);
    }
    rule += ':';
    for (const std::filesystem::path& input : inputs) {
        rule += ' ';
        rule += make_escaped(input);
    }
    rule += '\n';
    return rule;
}
