// Writes the Jet check fuzzer's seeds into a folder: the test fixtures' company database, the
// same without a key, and the reference Jet 4 file (script/fuzz-jet).
#include <cstdio>
#include <filesystem>

#include "JetFixture.h"
#include "TestSupport.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: jet_fuzz_seeds FOLDER\n");
        return 2;
    }
    namespace test = tidewell::test;
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    test::WriteFile(folder / "company.mdb",
                    test::MakeJetCompany("0123456789abcdef0123456789abcdef", "물결 상사"));
    test::WriteFile(folder / "company-without-key.mdb",
                    test::MakeJetCompany(std::nullopt, "Tidewell"));
    std::filesystem::copy_file(test::JetReferenceFile(), folder / "reference.mdb",
                               std::filesystem::copy_options::overwrite_existing);
    return 0;
}
