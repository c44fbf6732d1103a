// korvan-image: makes sample download images and inspects them.
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "tools/image_tool/image_builder.h"
#include "tools/usage_error.h"

namespace {

int make_command(const std::string& out_path, const ImageRecipe& recipe) {
    if (!write_image_file(out_path, build_image(recipe))) {
        std::fprintf(stderr, "korvan-image: cannot write %s\n", out_path.c_str());
        return 1;
    }
    return 0;
}

int checksum_command(const std::string& path) {
    auto image = read_image_file(path);
    if (!image) {
        std::fprintf(stderr, "korvan-image: cannot read %s\n", path.c_str());
        return 1;
    }
    std::printf("%04x\n", image_checksum_total(*image));
    return 0;
}

int info_command(const std::string& path) {
    auto image = read_image_file(path);
    if (!image) {
        std::fprintf(stderr, "korvan-image: cannot read %s\n", path.c_str());
        return 1;
    }
    std::size_t good = count_leading_good_records(*image);
    const bool valid = good == IMAGE_GOOD_RECORDS;
    std::printf("bytes %zu, complete records %zu, leading good records %zu, %s\n", image->size(),
                image->size() / IMAGE_RECORD_BYTES, good, valid ? "valid" : "invalid");
    // Scripts check an image by the status alone, as the download programs would judge it.
    return valid ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Makes sample download images and inspects them.", "korvan-image"};
    app.set_version_flag("--version", std::string("korvan-image ") + KORVAN_VERSION);
    app.require_subcommand(1);

    std::string make_out;
    ImageRecipe recipe;
    auto* make = app.add_subcommand("make", "Write a sample image of pseudo-random records.");
    make->add_option("out", make_out, "Image file to write")->required();
    make->add_option("--records", recipe.records, "Records to write (default 224)");
    make->add_option("--seed", recipe.seed, "Seed of the payload and tags (default 1)");
    make->add_flag("--random-tags", recipe.random_tags, "Tags from the seed instead of 0, 1, 2...");
    make->add_option("--corrupt", recipe.corrupt_record,
                     "1-based record written with a wrong check field");
    make->add_option("--tail", recipe.tail_bytes, "Bytes of an incomplete record at the end")
        ->check(CLI::Range(std::size_t{0}, IMAGE_RECORD_BYTES - 1));

    std::string checksum_path;
    auto* checksum = app.add_subcommand(
        "checksum", "Print the checksum total of the first 224 records as four hex digits.");
    checksum->add_option("file", checksum_path, "Image file")->required();

    std::string info_path;
    auto* info = app.add_subcommand("info", "Print the size and record counts of an image.");
    info->add_option("file", info_path, "Image file")->required();

    if (auto status = parse_tool_command_line(app, argc, argv)) {
        return *status;
    }
    if (*make) {
        return make_command(make_out, recipe);
    }
    if (*checksum) {
        return checksum_command(checksum_path);
    }
    return info_command(info_path);
}
