// Writes the seed corpus of the fuzz targets from the virtual notebook's
// machines: for the firmware answer the 'RSMB' answers, for the table walk
// the structure count and table, for the BIOS-area scan the 64 KB area and
// the table its entry points name. Usage: hwtk3_fuzz_seeds DIRECTORY
// (creates DIRECTORY/firmware_answer, DIRECTORY/dmi_table and
// DIRECTORY/bios_scan).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/notebook.h"
#include "sim/physical_memory.h"
#include "sim/scenario.h"
#include "sim/smbios_builder.h"

namespace {

void Save(const std::filesystem::path& file, const hwtk3::sim::Bytes& bytes) {
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    namespace fs = std::filesystem;
    const fs::path answers = fs::path(argv[1]) / "firmware_answer";
    const fs::path tables = fs::path(argv[1]) / "dmi_table";
    const fs::path scans = fs::path(argv[1]) / "bios_scan";
    fs::create_directories(answers);
    fs::create_directories(tables);
    fs::create_directories(scans);
    const char* machines[] = {"default", "machine-type-1", "foreign", "legacy-bios"};
    int written = 0;
    for (const char* machine : machines) {
        hwtk3::sim::Notebook notebook;
        hwtk3::sim::ApplyScenarios(notebook, machine);
        const hwtk3::sim::Bytes& answer = notebook.firmware.rsmb;
        hwtk3::sim::Bytes walk = {static_cast<std::uint8_t>(answer.size() / 16), 0};  // count well above
        walk.insert(walk.end(), answer.begin() + 8, answer.end());
        Save(answers / machine, answer);
        Save(tables / machine, walk);
        // Cut in the middle of a structure, too.
        Save(answers / (std::string(machine) + "-cut"), hwtk3::sim::Bytes(answer.begin(), answer.begin() + answer.size() / 3));
        Save(tables / (std::string(machine) + "-cut"), hwtk3::sim::Bytes(walk.begin(), walk.begin() + walk.size() / 3));
        written += 4;
    }
    // The BIOS area as the scan reads it, then the table at the address its
    // entry points name (cut short once, as an unreachable table).
    const char* areas[] = {"default", "legacy-bios", "two-entry-points", "bad-checksum", "no-smbios"};
    for (const char* machine : areas) {
        hwtk3::sim::Notebook notebook;
        hwtk3::sim::ApplyScenarios(notebook, machine);
        hwtk3::sim::Bytes image(hwtk3::sim::kBiosAreaSize);
        notebook.memory.Read(hwtk3::sim::kBiosAreaBase, image.data(), hwtk3::sim::kBiosAreaSize);
        const hwtk3::sim::Bytes& answer = notebook.firmware.rsmb;
        const std::size_t tableLength = answer.size() > 8 ? answer.size() - 8 : 0;
        hwtk3::sim::Bytes table(tableLength);
        notebook.memory.Read(hwtk3::sim::kTableAddress, table.data(), static_cast<std::uint32_t>(tableLength));
        hwtk3::sim::Bytes scan = image;
        scan.insert(scan.end(), table.begin(), table.end());
        Save(scans / machine, scan);
        Save(scans / (std::string(machine) + "-cut"),
             hwtk3::sim::Bytes(scan.begin(), scan.begin() + static_cast<std::ptrdiff_t>(image.size() + tableLength / 3)));
        written += 2;
    }
    std::printf("%d seeds in %s\n", written, argv[1]);
    return 0;
}
