// Decoding speed of a large structure table (64 KB, 500 and more structures) through
// the physical-memory path's walk, and the firmware path's lookups on the
// same table.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "include/hwtk3.h"
#include "platform/testing.h"
#include "sim/notebook.h"
#include "sim/smbios_builder.h"
#include "smbios/dmi_decode.h"
#include "smbios/smbios_acquire.h"

namespace {

using hwtk3::sim::Bytes;

constexpr int kLeastStructures = 500;
constexpr std::size_t kTableLimit = 0xFFFF;  // an entry point's u16 length
constexpr std::size_t kRoomForLast = 0x200;  // system, baseboard, end of table

// Processors, caches, memory devices, OEM strings and others; the system
// and baseboard structures come last, the firmware path's worst case.
const Bytes& LargeTable(std::uint16_t& count) {
    static std::uint16_t s_count = 0;
    static const Bytes table = [] {
        namespace sim = hwtk3::sim;
        sim::TableBuilder b;
        const std::array<std::uint8_t, 8> id = {1, 2, 3, 4, 5, 6, 7, 8};
        std::size_t size = 0;
        for (int i = 0; size + kRoomForLast < kTableLimit; ++i) {
            const std::string n = std::to_string(i);
            switch (i % 6) {
                case 0:
                    b.Add(sim::ProcessorInformation("U3E1 socket " + n, "QuantaSil", id,
                                                    "QuantaSil Core q7-1260P @ 2.10GHz #" + n, 100, 4700, 2100));
                    break;
                case 1: b.Add(sim::CacheInformation("L2 Cache of core " + n, 0x8100, 0x8100, 1)); break;
                case 2: b.Add(sim::MemoryDevice("Controller0-ChannelA-DIMM" + n, 0x2000, 4800)); break;
                case 3: b.Add(sim::OemStrings({"Quorvex OEM " + n, "QV-PLATFORM K5402", "90QV0A71-M" + n})); break;
                case 4: b.Add(sim::SystemEnclosure("Quorvex Computer Inc.", "1." + n, "QV5402K0217A" + n)); break;
                default: b.Add(sim::Structure(9).Text("M.2 SSD slot " + n).Raw(Bytes(13, 0))); break;
            }
            size = b.Table().size();
        }
        b.Add(sim::SystemInformation("Quorvex Computer Inc.", "Aero", "1", "SN", {}, "SKU", "Aero"));
        b.Add(sim::BaseboardInformation("Quorvex", "K5402", "1", "ZelkaK5402", ""));
        b.Add(sim::EndOfTable());
        Bytes t = b.Table();
        s_count = b.Count();
        if (s_count < kLeastStructures || t.size() > kTableLimit) std::abort();
        return t;
    }();
    count = s_count;
    return table;
}

void BM_DecodeTable(benchmark::State& state) {
    std::uint16_t count = 0;
    const Bytes& table = LargeTable(count);
    Bytes copy(table.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), table.data(), table.size());  // dmi_table decodes its own copy
        hwtk3::smbios::reset_dmi_slots();
        hwtk3::smbios::decode_table(copy.data(), copy.size(), count);
        benchmark::DoNotOptimize(hwtk3::smbios::Dmi().SystemManufacturer.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * table.size()));
    state.counters["structures"] = count;
    state.counters["table_bytes"] = static_cast<double>(table.size());
}
BENCHMARK(BM_DecodeTable);

// The whole of dmi_table, copying the table out of the virtual notebook's
// memory through the stand-in port-I/O library.
void BM_DmiTableFromPhysicalMemory(benchmark::State& state) {
    std::uint16_t count = 0;
    const Bytes& table = LargeTable(count);
    hwtk3::sim::Notebook& notebook = hwtk3::sim::ResetCurrent();
    constexpr std::uint32_t kAt = 0x7A0000;
    notebook.memory.Write(kAt, table.data(), static_cast<std::uint32_t>(table.size()));
    hwtk3::platform::testing::OverrideModulePath("WinRing0.dll", HWTK3_SIM_DIR "/libWinRing0.so");
    if (Diag_InitHWIO() != 1) {
        state.SkipWithError("no port-I/O binding");
        return;
    }
    for (auto _ : state) {
        notebook.trace.Clear();
        hwtk3::smbios::reset_dmi_slots();
        hwtk3::smbios::dmi_table(kAt, static_cast<std::uint16_t>(table.size()), count);
    }
    Diag_FreeHWIO();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * table.size()));
}
BENCHMARK(BM_DmiTableFromPhysicalMemory)->Unit(benchmark::kMicrosecond);

hwtk3::smbios::SmbiosFirmwareTable& FirmwareTable() {
    static hwtk3::smbios::SmbiosFirmwareTable t;
    if (t.Buffer == nullptr) {
        std::uint16_t count = 0;
        const Bytes answer = hwtk3::sim::RsmbAnswer(3, 4, LargeTable(count));
        t.Adopt(answer.data(), answer.size());
    }
    return t;
}

void BM_FindStructureLast(benchmark::State& state) {
    auto& t = FirmwareTable();
    for (auto _ : state) benchmark::DoNotOptimize(t.FindStructure(2));
}
BENCHMARK(BM_FindStructureLast);

void BM_FindStructureMissing(benchmark::State& state) {
    auto& t = FirmwareTable();
    for (auto _ : state) benchmark::DoNotOptimize(t.FindStructure(200));
}
BENCHMARK(BM_FindStructureMissing);

void BM_ReadSystemAndBaseboard(benchmark::State& state) {
    auto& t = FirmwareTable();
    for (auto _ : state) {
        hwtk3::smbios::SystemInfoView system;
        hwtk3::smbios::BaseboardInfoView board;
        benchmark::DoNotOptimize(t.ReadSystemInfo(system));
        benchmark::DoNotOptimize(t.ReadBaseboardInfo(board));
    }
}
BENCHMARK(BM_ReadSystemAndBaseboard);

// The whole firmware path: fetch from the service, look up, copy.
void BM_FirmwarePath(benchmark::State& state) {
    std::uint16_t count = 0;
    hwtk3::sim::Notebook& notebook = hwtk3::sim::ResetCurrent();
    notebook.firmware.rsmb = hwtk3::sim::RsmbAnswer(3, 4, LargeTable(count));
    hwtk3::platform::testing::SetFirmwareTableHost(&hwtk3::sim::FirmwareHost());
    for (auto _ : state) benchmark::DoNotOptimize(hwtk3::smbios::fill_from_firmware());
    hwtk3::platform::testing::SetFirmwareTableHost(nullptr);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * notebook.firmware.rsmb.size()));
}
BENCHMARK(BM_FirmwarePath);

}  // namespace

int main(int argc, char** argv) {
    // The library's progress lines go to standard output; the figures go to
    // standard error.
    std::FILE* quiet = std::freopen("/dev/null", "w", stdout);
    (void)quiet;
    benchmark::Initialize(&argc, argv);
    benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
