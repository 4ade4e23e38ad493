// tidewell-make-company: makes a company folder for tests and the demo.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "CompanyMaker.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: tidewell-make-company --name NAME [--rows N] [--size MIB] "
                 "[--with-key [KEY]] [--seed N] FOLDER\n"
                 "Makes FOLDER/default.mdb with the company NAME and N inventory rows\n"
                 "(or at least MIB mebibytes of them). --with-key stores KEY, or a new key.\n");
    return 2;
}

bool ReadNumber(const char* text, long long& value) {
    char* end = nullptr;
    value = std::strtoll(text, &end, 10);
    return end != text && *end == '\0' && value >= 0;
}

bool IsKey(const std::string& text) {
    return text.size() == 32 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
    tidewell::CompanyRecipe recipe;
    std::string folder;
    bool haveName = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        long long number = 0;
        if (arg == "--name" && i + 1 < argc) {
            recipe.name = argv[++i];
            haveName = true;
        } else if (arg == "--rows" && i + 1 < argc && ReadNumber(argv[i + 1], number)) {
            recipe.rows = number;
            ++i;
        } else if (arg == "--size" && i + 1 < argc && ReadNumber(argv[i + 1], number)) {
            recipe.minimumBytes = number * 1024 * 1024;
            ++i;
        } else if (arg == "--seed" && i + 1 < argc && ReadNumber(argv[i + 1], number)) {
            recipe.seed = static_cast<std::uint32_t>(number);
            ++i;
        } else if (arg == "--with-key") {
            recipe.withKey = true;
            if (i + 1 < argc && IsKey(argv[i + 1])) recipe.key = argv[++i];
        } else if (!arg.empty() && arg[0] != '-' && folder.empty()) {
            folder = arg;
        } else {
            return Usage();
        }
    }
    if (!haveName || folder.empty()) return Usage();
    try {
        const std::string key = tidewell::MakeCompanyFolder(folder, recipe);
        std::printf("%s/default.mdb%s%s\n", folder.c_str(), key.empty() ? "" : " key ",
                    key.c_str());
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tidewell-make-company: %s\n", error.what());
        return 1;
    }
}
